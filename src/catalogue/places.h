#pragma once
// The places that hold records of installed programs: the local machine's
// uninstall key in its 64-bit and its 32-bit view, and the current user's.
// Each row of the list carries its record's place (record_key.h), so that
// Remove deletes the key where the row was read and nowhere else.

#include <vector>

#include "platform/desktop.h"
#include "platform/record_key.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

// Location texts, as the "Location" column shows them.
inline constexpr char16_t kLocation64Bit[] = u"64-bit";
inline constexpr char16_t kLocation32Bit[] = u"32-bit";
inline constexpr char16_t kLocationMachine[] = u"Local machine";  // a system with one view
inline constexpr char16_t kLocationCurrentUser[] = u"Current user";

inline constexpr RecordPlace kPlace64Bit{kHkeyLocalMachine, kKeyWow64_64Key, kLocation64Bit};
inline constexpr RecordPlace kPlace32Bit{kHkeyLocalMachine, kKeyWow64_32Key, kLocation32Bit};
inline constexpr RecordPlace kPlaceMachine{kHkeyLocalMachine, 0, kLocationMachine};
inline constexpr RecordPlace kPlaceCurrentUser{kHkeyCurrentUser, 0, kLocationCurrentUser};

// The places to list, in listing order. The local machine is read once
// where both views are the same keys.
[[nodiscard]] std::vector<RecordPlace> RecordPlaces(const Registry& registry);

// The program view of a place's records: the 32-bit place holds 32-bit
// programs; every other place the system's own.
[[nodiscard]] ProgramView ViewOfPlace(const RecordPlace& place);

// "Software\Microsoft\Windows\CurrentVersion\Uninstall\<key>": the path of
// the record `key_name` below the root of its place, in the place's view.
[[nodiscard]] Text RecordKeyPath(TextView key_name);
// The same built in `path`, whose buffer and leading part stay from the
// last record: the listing builds one per record.
const Text& RecordKeyPath(TextView key_name, Text& path);

// "HKEY_LOCAL_MACHINE\Software\Wow6432Node\...\Uninstall\<key>" and the like:
// where a record lives, for the row's hint and the backup.
[[nodiscard]] Text FullKeyPath(const RecordKey& record, bool has_32bit_view);

}  // namespace ssr
