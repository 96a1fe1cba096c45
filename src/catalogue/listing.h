#pragma once
// ListUninstallEntries: fills ListView1 with one row per uninstall entry that
// has both a display name and an uninstall command, and derives each entry's
// target path. It is the last stretch of Form_Load and carries its labels.
//
// The same steps read every place that holds records (places.h), one after
// the other; a place that cannot be opened is passed over like an empty one.
// The fifth column, "Location", starts hidden like the three before it and
// names each row's place. Each row also carries its record, key name and
// place, as data (SetRecord): the columns only show it.

#include <cstdint>
#include <optional>

#include <vector>

#include "catalogue/places.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "steps/step_runner.h"

namespace ssr {

class Desktop;
class EntryList;

// The working values of one listing run.
struct ListingRun {
    ListingRun(Registry& r, EntryList& l) : registry(r), list(l), places(RecordPlaces(r)) {
        for (const RecordPlace& place : places) locations.emplace_back(place.location);
        // Room for a usual name and command, so that each is read in one call.
        display_name.reserve(260);
        uninstall_command.reserve(260);
    }
    ~ListingRun() { CloseRecord(); }
    ListingRun(const ListingRun&) = delete;
    ListingRun& operator=(const ListingRun&) = delete;

    // The entry's own key stays open while its values are read: opened
    // once, below the open uninstall key, not once per value from the root.
    void CloseRecord() {
        if (record != 0) (void)registry.close_key(record);
        record = 0;
    }

    Registry& registry;
    EntryList& list;
    std::vector<RecordPlace> places;
    // Each place's "Location" text, measured once rather than once a row.
    std::vector<TextView> locations;
    std::size_t place_index = 0;

    std::int32_t index = 0;
    long result = 0;
    RegHandle key = 0;
    RegHandle record = 0;
    Text name_buffer;
    Text class_buffer;
    std::uint32_t name_length = 0;
    std::uint32_t class_length = 0;
    // The class the enumeration gave, in the buffer: cut to its length
    // without shortening the buffer, which serves every record at its size.
    TextView class_text;
    Text key_name;
    // Reused for every row, so that handing a row its record copies no text
    // into a new allocation.
    RecordKey record_key;
    Text display_name;
    Text uninstall_command;
    Text working_copy;
    std::int16_t extension_position = 0;
    int current_item = 0;
};

// Steps 130 to 224, to be run under Form_Load's location text.
[[nodiscard]] StepTable ListingSteps(ListingRun& run);

inline constexpr char16_t kLocationHeader[] = u"Location";

// The marker in column "FileExists" for entries that are never suggested.
inline constexpr char16_t kIgnoreMe[] = u"IGNORE ME";

// Runs the listing on its own, reporting under Form_Load's location text.
void ListUninstallEntries(Registry& registry, EntryList& list, Desktop& desktop);

// How many rows the listing would list, by the same rule, without a list or
// a desktop: a quick look at many prefixes. Empty when a place that holds
// records is there but cannot be read, so an unreadable registry never
// passes for an empty one. Never fails.
[[nodiscard]] std::optional<int> CountUninstallEntries(Registry& registry) noexcept;

// Whether every place that holds records can be opened (a place that is not
// there holds none): what tells a registry without records from one that
// cannot be read, without reading the records again. Never fails.
[[nodiscard]] bool UninstallPlacesReadable(Registry& registry) noexcept;

}  // namespace ssr
