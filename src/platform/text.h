#pragma once
// Texts inside the program are UTF-16, as on the Windows desktop: lengths and
// positions count UTF-16 code units. These helpers are the only place that
// converts to and from other encodings or maps letter case.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ssr {

using Text = std::u16string;
using TextView = std::u16string_view;

// Lower-cases the way the desktop's ordinary letter mapping does for the
// scripts that appear in program names (Latin, Greek, Cyrillic, Armenian).
// Characters without a lower-case form are left alone; the length never changes.
[[nodiscard]] Text LowerCase(TextView text);
[[nodiscard]] char16_t LowerCaseUnitBeyondAscii(char16_t unit);
[[nodiscard]] inline char16_t LowerCaseUnit(char16_t unit) {
    if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
    return LowerCaseUnitBeyondAscii(unit);
}

// Case-insensitive equality with the same mapping.
[[nodiscard]] bool EqualsIgnoringCase(TextView a, TextView b);

[[nodiscard]] bool Contains(TextView text, TextView piece);

// Decimal digits without sign padding: "106".
[[nodiscard]] Text DecimalText(long long value);

// Lossless for well-formed input; unpaired surrogates become U+FFFD in UTF-8
// and malformed UTF-8 sequences become U+FFFD in UTF-16.
[[nodiscard]] std::string ToUtf8(TextView text);
[[nodiscard]] Text FromUtf8(std::string_view utf8);

// The names in a registry key path: the pieces between backslashes, with
// empty pieces (doubled, leading or trailing backslashes) left out. The views
// point into `path`.
[[nodiscard]] std::vector<TextView> SplitPath(TextView path);

}  // namespace ssr
