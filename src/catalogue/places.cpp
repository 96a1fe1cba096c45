// The places that hold records of installed programs, and their texts.
#include "catalogue/places.h"

#include "platform/registry_buffers.h"

namespace ssr {

namespace {

constexpr RecordPlace kMachine64{kHkeyLocalMachine, kKeyWow64_64Key, kLocation64Bit};
constexpr RecordPlace kMachine32{kHkeyLocalMachine, kKeyWow64_32Key, kLocation32Bit};
constexpr RecordPlace kMachine{kHkeyLocalMachine, 0, kLocationMachine};
constexpr RecordPlace kCurrentUser{kHkeyCurrentUser, 0, kLocationCurrentUser};

}  // namespace

std::vector<RecordPlace> RecordPlaces(const Registry& registry) {
    if (registry.has_32bit_view()) return {kMachine64, kMachine32, kCurrentUser};
    return {kMachine, kCurrentUser};
}

std::optional<RecordPlace> PlaceOfLocation(TextView location) {
    if (location.empty()) return RecordPlace{kHkeyLocalMachine, 0, u""};
    for (const RecordPlace& place : {kMachine64, kMachine32, kMachine, kCurrentUser})
        if (location == place.location) return place;
    return std::nullopt;
}

ProgramView ViewOfLocation(TextView location) {
    return location == TextView(kLocation32Bit) ? ProgramView::ThirtyTwoBit : ProgramView::Native;
}

Text FullKeyPath(const RecordPlace& place, TextView key_name, bool has_32bit_view) {
    Text path = place.root == kHkeyCurrentUser ? Text(u"HKEY_CURRENT_USER\\") : Text(u"HKEY_LOCAL_MACHINE\\");
    path += ViewPath(place.root, kUninstallKeyPath, place.view, has_32bit_view);
    path += u'\\';
    path += key_name;
    return path;
}

}  // namespace ssr
