// ListUninstallEntries: one row per uninstall entry with a name and a command.
#include "catalogue/listing.h"

#include <limits>

#include "catalogue/reg.h"
#include "platform/entry_list.h"
#include "platform/failure.h"
#include "steps/error_report.h"

namespace ssr {

using namespace std::string_view_literals;

namespace {

// The longest key name the registry allows, 255 characters, and its terminator.
constexpr int kBufferLength = 256;

// What step 154 puts in the buffers. Only their length matters (the
// enumeration writes what is read back), so a buffer already that long is
// left as it is rather than blanked again for every record.
void Blank(Text& buffer) {
    if (buffer.size() != kBufferLength) buffer.assign(kBufferLength, u' ');
}

// A 1-based position of `piece` in `text`, 0 when absent, held in 16 bits.
std::int16_t PositionOf(TextView text, TextView piece) {
    const std::size_t found = Find(text, piece);
    if (found == TextView::npos) return 0;
    if (found + 1 > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) throw Failure(kOverflow);
    return static_cast<std::int16_t>(found + 1);
}

void ReplaceAll(Text& text, TextView from, TextView to) {
    for (std::size_t at = Find(text, from); at != Text::npos; at = Find(text, from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

StepTable ListingSteps(ListingRun& r) {
    const auto place = [&r]() -> const RecordPlace& { return r.places[r.place_index]; };
    const Next to_222 = Next::Jump(222);
    return StepTable{
        {130, [&r] { r.list.AddColumnHeader(u"Programs and Features Entries"); return Next::Advance(); }},
        {132, [&r] { r.list.AddColumnHeader(u"Uninstall"); return Next::Advance(); }},
        {134, [&r] { r.list.AddColumnHeader(u"FileExists"); return Next::Advance(); }},
        {136, [&r] { r.list.AddColumnHeader(u"KeyName"); return Next::Advance(); }},
        {136, [&r] { r.list.AddColumnHeader(kLocationHeader); return Next::Advance(); }},
        {138, [&r] { r.list.SetColumnWidth(1, 7000.0F); return Next::Advance(); }},
        {140, [&r] { r.list.SetColumnWidth(2, 0.0F); return Next::Advance(); }},
        {142, [&r] { r.list.SetColumnWidth(3, 0.0F); return Next::Advance(); }},
        {144, [&r] { r.list.SetColumnWidth(4, 0.0F); return Next::Advance(); }},
        {144, [&r] { r.list.SetColumnWidth(5, 0.0F); return Next::Advance(); }},
        {146, [&r] { r.index = 0; return Next::Advance(); }},
        {148, [&r] { r.list.Clear(); return Next::Advance(); }},
        {150, [&r, place] {
             r.result = r.registry.open_key_ex(place().root, kUninstallKeyPath, 0, kKeyEnumerateSubKeys | place().view,
                                               &r.key);
             return Next::Advance();
         }},
        {152, [&r] { return r.result != kErrorSuccess ? Next::Jump(224) : Next::Advance(); }},
        {154, [&r] {
             Blank(r.name_buffer);
             Blank(r.class_buffer);
             return Next::Advance();
         }},
        {156, [&r] { r.name_length = kBufferLength; return Next::Advance(); }},
        {158, [&r] { r.class_length = kBufferLength; return Next::Advance(); }},
        {160, [&r] {
             const auto index = static_cast<std::uint32_t>(r.index);
             r.result = r.registry.enum_key_ex(r.key, index, r.name_buffer.data(), &r.name_length,
                                               r.class_buffer.data(), &r.class_length);
             // The class is never used: a long one must not hide the record.
             if (r.result == kErrorMoreData) {
                 r.name_length = kBufferLength;
                 r.class_length = 0;
                 r.result = r.registry.enum_key_ex(r.key, index, r.name_buffer.data(), &r.name_length, nullptr, nullptr);
             }
             return Next::Advance();
         }},
        // A name too long for any record (a hand-edited hive) is passed over
        // with one report; the place's later records are still listed.
        {162, [&r, place] {
             if (r.result == kErrorMoreData) {
                 r.result = kErrorSuccess;
                 throw Failure(u"A record in the place \"" + Text(place().location) +
                               u"\" has a key name longer than 255 characters and is not listed.");
             }
             return r.result != kErrorSuccess ? Next::Jump(222) : Next::Advance();
         }, to_222},
        {164, [&r] { r.key_name.assign(r.name_buffer, 0, r.name_length); return Next::Advance(); }},
        {166, [&r] { r.class_text = TextView(r.class_buffer).substr(0, r.class_length); return Next::Advance(); }},
        // A value that cannot be read leaves the rest of the pass out, so no
        // row ever receives a value read for another subkey.
        {168, [&r, place] {
             r.CloseRecord();
             // On failure the handle stays 0, and each value read gives its default.
             (void)r.registry.open_key(r.key, r.key_name, place().view, &r.record);
             ReadRegistryString(r.registry, r.record, u"DisplayName"sv, u""sv, r.display_name);
             return Next::Advance();
         }, to_222},
        {170, [&r] {
             ReadRegistryString(r.registry, r.record, u"UninstallString"sv, u""sv, r.uninstall_command);
             return Next::Advance();
         }, to_222},
        {172, [&r] { r.working_copy = r.uninstall_command; return Next::Advance(); }, to_222},
        {174, [&r] {
             return (r.display_name.empty() || r.uninstall_command.empty()) ? Next::Jump(222) : Next::Advance();
         }},
        {178, [&r] { r.current_item = r.list.Add(r.display_name); return Next::Advance(); }, to_222},
        {180, [&r] { r.list.SetSubItem(r.current_item, 1, r.uninstall_command); return Next::Advance(); }},
        {180, [&r] { r.list.SetCommand(r.current_item, r.uninstall_command); return Next::Advance(); }},
        {182, [&r] { r.list.SetSubItem(r.current_item, 3, r.key_name); return Next::Advance(); }},
        {182, [&r] { r.list.SetSubItem(r.current_item, 4, r.locations[r.place_index]); return Next::Advance(); }},
        {182, [&r, place] {
             r.record_key.name.assign(r.key_name);
             r.record_key.place = place();
             r.list.SetRecord(r.current_item, r.record_key);
             return Next::Advance();
         }},
        {184, [&r] {
             return ContainsLowered(r.working_copy, u"msiexec.exe"sv) ? Next::Jump(216) : Next::Advance();
         }},
        {186, [&r] { EraseUnit(r.working_copy, u'"'); return Next::Advance(); }},
        {190, [&r] { LowerCaseInPlace(r.working_copy); return Next::Advance(); }},
        {192, [&r] { ReplaceAll(r.working_copy, u"rundll32.exe"sv, u"rundll32"sv); return Next::Advance(); }},
        {196, [&r] { r.extension_position = PositionOf(r.working_copy, u".exe"sv); return Next::Advance(); }},
        {198, [&r] { return r.extension_position != 0 ? Next::Jump(206) : Next::Advance(); }},
        {200, [&r] { r.extension_position = PositionOf(r.working_copy, u".inf"sv); return Next::Advance(); }},
        {202, [&r] { return r.extension_position != 0 ? Next::Jump(206) : Next::Advance(); }},
        {204, [&r] { r.extension_position = PositionOf(r.working_copy, u".dll"sv); return Next::Advance(); }},
        {206, [&r] {
             const int keep = r.extension_position + 3;
             if (keep > std::numeric_limits<std::int16_t>::max()) throw Failure(kOverflow);
             r.working_copy.resize(std::min<std::size_t>(static_cast<std::size_t>(keep), r.working_copy.size()));
             return Next::Advance();
         }},
        {208, [&r] { return Contains(r.working_copy, u"rundll32"sv) ? Next::Advance() : Next::Jump(214); }},
        {210, [&r] { r.list.SetSubItem(r.current_item, 2, DrivePathFrom(r.working_copy)); return Next::Advance(); }},
        {212, [&r] {
             r.list.SetSubItem(r.current_item, 1, DrivePathFrom(r.working_copy));
             return Next::Jump(222);
         }, to_222},
        {214, [&r] { r.list.SetSubItem(r.current_item, 2, r.working_copy); return Next::Jump(222); }, to_222},
        {216, [&r] { r.list.SetSubItem(r.current_item, 2, kIgnoreMe); return Next::Advance(); }, to_222},
        {222, [&r] {
             r.CloseRecord();
             ++r.index;
             return Next::Jump(152);
         }},
        {224, [&r] {
             r.CloseRecord();
             r.registry.close_key(r.key);
             return Next::Advance();
         }},
        // The next place, if any, from its opening on; the list keeps what
        // the places before it gave.
        {224, [&r] {
             if (++r.place_index >= r.places.size()) return Next::End();
             r.index = 0;
             r.key = 0;
             return Next::Jump(150);
         }, Next::End()},
    };
}

void ListUninstallEntries(Registry& registry, EntryList& list, Desktop& desktop) {
    ListingRun run{registry, list};
    RunSteps(desktop, location::kFormLoad, ListingSteps(run));
}

}  // namespace ssr

namespace ssr {

std::optional<int> CountUninstallEntries(Registry& registry) noexcept {
    try {
        int count = 0;
        Text display_name;
        Text command;
        display_name.reserve(260);
        command.reserve(260);
        std::vector<char16_t> name(kBufferLength + 1), class_text(kBufferLength + 1);
        for (const RecordPlace& place : RecordPlaces(registry)) {
            RegHandle key = 0;
            const long opened = registry.open_key_ex(place.root, kUninstallKeyPath, 0, kKeyEnumerateSubKeys | place.view, &key);
            if (opened == kErrorFileNotFound) continue;
            if (opened != kErrorSuccess) return std::nullopt;
            for (std::uint32_t index = 0;; ++index) {
                std::uint32_t length = kBufferLength, class_length = kBufferLength;
                if (registry.enum_key_ex(key, index, name.data(), &length, class_text.data(), &class_length) !=
                    kErrorSuccess)
                    break;
                struct Record {
                    Registry& registry;
                    RegHandle key = 0;
                    ~Record() {
                        if (key != 0) (void)registry.close_key(key);
                    }
                } record{registry};
                (void)registry.open_key(key, TextView(name.data(), length), place.view, &record.key);
                ReadRegistryString(registry, record.key, u"DisplayName", u"", display_name);
                ReadRegistryString(registry, record.key, u"UninstallString", u"", command);
                if (!display_name.empty() && !command.empty()) ++count;
            }
            (void)registry.close_key(key);
        }
        return count;
    } catch (...) {
        return std::nullopt;
    }
}

bool UninstallPlacesReadable(Registry& registry) noexcept {
    try {
        for (const RecordPlace& place : RecordPlaces(registry)) {
            RegHandle key = 0;
            const long opened = registry.open_key_ex(place.root, kUninstallKeyPath, 0, kKeyEnumerateSubKeys | place.view, &key);
            if (opened == kErrorFileNotFound) continue;
            if (opened != kErrorSuccess) return false;
            (void)registry.close_key(key);
        }
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace ssr
