#pragma once
// Key and value names compared as wineserver compares them: unit by unit
// through a lower-case table, a shorter name before a longer one that starts
// with it.

#include <array>

#include "platform/text.h"

namespace ssr::wine {

using LowerCaseTable = std::array<char16_t, 0x10000>;

// The table of Wine's own l_intl.nls when Wine is installed, so that names
// match and sort exactly as in Wine; the program's own mapping otherwise.
[[nodiscard]] const LowerCaseTable& NameTable();
// The program's own mapping, whatever is installed.
[[nodiscard]] const LowerCaseTable& FallbackNameTable();

// Orders names the way wineserver orders subkeys.
[[nodiscard]] int CompareNames(TextView a, TextView b, const LowerCaseTable& lower);
[[nodiscard]] inline int CompareNames(TextView a, TextView b) { return CompareNames(a, b, NameTable()); }

}  // namespace ssr::wine
