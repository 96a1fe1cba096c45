#pragma once
// The places that hold records of installed programs: the local machine's
// uninstall key in its 64-bit and its 32-bit view, and the current user's.
// Each row of the list carries the text of its place in its "Location"
// column, so that Remove deletes the key where the row was read and nowhere
// else.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/desktop.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

// Location texts, as the "Location" column shows them.
inline constexpr char16_t kLocation64Bit[] = u"64-bit";
inline constexpr char16_t kLocation32Bit[] = u"32-bit";
inline constexpr char16_t kLocationMachine[] = u"Local machine";  // a system with one view
inline constexpr char16_t kLocationCurrentUser[] = u"Current user";

struct RecordPlace {
    RegHandle root;
    std::uint32_t view;  // kKeyWow64_64Key, kKeyWow64_32Key or 0
    const char16_t* location;

    friend bool operator==(const RecordPlace& a, const RecordPlace& b) {
        return a.root == b.root && a.view == b.view;
    }
};

// The places to list, in listing order. The local machine is read once
// where both views are the same keys.
[[nodiscard]] std::vector<RecordPlace> RecordPlaces(const Registry& registry);

// The place a "Location" text names. An empty text is the local machine as
// the program sees it without a view (rows filled by other means); any other
// unknown text names no place.
[[nodiscard]] std::optional<RecordPlace> PlaceOfLocation(TextView location);

// The program view of the records of a "Location": the 32-bit place holds
// 32-bit programs; every other place, and an unknown text, the system's own.
[[nodiscard]] ProgramView ViewOfLocation(TextView location);

// "HKEY_LOCAL_MACHINE\Software\Wow6432Node\...\Uninstall\<key>" and the like:
// where a record lives, for the row's hint and the backup.
[[nodiscard]] Text FullKeyPath(const RecordPlace& place, TextView key_name, bool has_32bit_view);

}  // namespace ssr
