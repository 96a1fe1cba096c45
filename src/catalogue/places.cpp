// The places that hold records of installed programs, and their texts.
#include "catalogue/places.h"

#include "platform/registry_buffers.h"

namespace ssr {

std::vector<RecordPlace> RecordPlaces(const Registry& registry) {
    if (registry.has_32bit_view()) return {kPlace64Bit, kPlace32Bit, kPlaceCurrentUser};
    return {kPlaceMachine, kPlaceCurrentUser};
}

ProgramView ViewOfPlace(const RecordPlace& place) {
    return place.root == kHkeyLocalMachine && place.view == kKeyWow64_32Key ? ProgramView::ThirtyTwoBit
                                                                            : ProgramView::Native;
}

const Text& RecordKeyPath(TextView key_name, Text& path) {
    constexpr std::size_t kParentLength = std::char_traits<char16_t>::length(kUninstallKeyPath) + 1;
    if (path.size() < kParentLength || path[kParentLength - 1] != u'\\') {
        path.assign(kUninstallKeyPath);
        path += u'\\';
    }
    path.resize(kParentLength);  // the parent's part stays from the last record
    path += key_name;
    return path;
}

Text RecordKeyPath(TextView key_name) {
    Text path;
    return RecordKeyPath(key_name, path);
}

Text FullKeyPath(const RecordKey& record, bool has_32bit_view) {
    Text path = record.place.root == kHkeyCurrentUser ? Text(u"HKEY_CURRENT_USER\\") : Text(u"HKEY_LOCAL_MACHINE\\");
    path += ViewPath(record.place.root, RecordKeyPath(record.name), record.place.view, has_32bit_view);
    return path;
}

}  // namespace ssr
