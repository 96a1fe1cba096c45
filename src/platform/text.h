#pragma once
// Texts inside the program are UTF-16, as on the Windows desktop: lengths and
// positions count UTF-16 code units. These helpers are the only place that
// converts to and from other encodings or maps letter case.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ssr {

using Text = std::u16string;
using TextView = std::u16string_view;

// Latin-1 bytes (ASCII among them) to UTF-16 units, one for one. Eight at a
// time in a few instructions, then four, each byte spread into the low half
// of its unit: names, texts and row texts pass through here by the thousand.
inline void WidenLatin1(const unsigned char* __restrict from, std::size_t count, char16_t* __restrict to) {
    std::size_t k = 0;
    using Bytes8 = unsigned char __attribute__((vector_size(8)));
    using Units8 = unsigned short __attribute__((vector_size(16)));
    for (; k + 8 <= count; k += 8) {
        Bytes8 bytes;
        std::memcpy(&bytes, from + k, sizeof bytes);
        const Units8 units = __builtin_convertvector(bytes, Units8);
        std::memcpy(to + k, &units, sizeof units);
    }
    if constexpr (std::endian::native == std::endian::little) {
        for (; k + 4 <= count; k += 4) {
            std::uint32_t four;
            std::memcpy(&four, from + k, 4);
            std::uint64_t x = four;
            x = (x | (x << 16)) & 0x0000FFFF0000FFFFULL;
            x = (x | (x << 8)) & 0x00FF00FF00FF00FFULL;
            std::memcpy(to + k, &x, 8);
        }
    }
    for (; k < count; ++k) to[k] = from[k];
}

// The other way: UTF-16 units to one byte each, sixteen at a time, telling
// whether every unit fits in Latin-1. When one does not, what was written is
// of no use.
[[nodiscard]] bool NarrowLatin1(const char16_t* __restrict from, std::size_t count, unsigned char* __restrict to);

// Lower-cases by the simple lower-case mapping of Unicode (one code point to
// one code point, no context: "İ" becomes "i", final and medial sigma stay as
// they are), the same on every system. Letters beyond the Basic Multilingual
// Plane are mapped through their surrogate pairs; a lone surrogate is left
// alone. The UTF-16 length never changes.
[[nodiscard]] Text LowerCase(TextView text);
// The same without a copy: the mapping never changes a text's length.
void LowerCaseInPlace(Text& text);
[[nodiscard]] char32_t LowerCaseCodePoint(char32_t code_point);
// One code unit on its own: right for every letter of the plane, and a
// surrogate comes back unchanged. For identifiers compared unit by unit, as
// the registry compares key names.
[[nodiscard]] char16_t LowerCaseUnitBeyondAscii(char16_t unit);
[[nodiscard]] inline char16_t LowerCaseUnit(char16_t unit) {
    if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
    return LowerCaseUnitBeyondAscii(unit);
}

// The Unicode version the mapping was generated from.
struct UnicodeVersion {
    int major = 0;
    int minor = 0;
    int update = 0;
};
[[nodiscard]] UnicodeVersion LowerCaseUnicodeVersion();

// Case-insensitive equality with the same mapping.
[[nodiscard]] bool EqualsIgnoringCase(TextView a, TextView b);

[[nodiscard]] bool Contains(TextView text, TextView piece);
// The first position of `piece` in `text` at or after `from`, or npos, as
// TextView::find answers; eight positions are looked at together.
[[nodiscard]] std::size_t Find(TextView text, TextView piece, std::size_t from = 0);
[[nodiscard]] std::size_t Find(TextView text, char16_t unit, std::size_t from = 0);
// Whether `text`, each unit lower-cased on its own (LowerCaseUnit), contains
// `piece`, which is ASCII in lower case. A unit beyond ASCII can still lower
// to an ASCII letter (KELVIN SIGN to "k"); half a surrogate pair never does.
[[nodiscard]] bool ContainsLowered(TextView text, TextView piece);
// Removes every `unit` from `text`; a text without one is left untouched.
void EraseUnit(Text& text, char16_t unit);

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
// The same into `parts`, whose buffer is kept for the next path.
void SplitPathInto(TextView path, std::vector<TextView>& parts);

// `text` with each %NAME% reference that `lookup` knows replaced by its
// value, as the system expands a REG_EXPAND_SZ text. A reference it does not
// know stays as written, and `complete` becomes false; a lone % is a
// character like any other.
[[nodiscard]] Text ExpandReferences(TextView text, const std::function<std::optional<Text>(TextView)>& lookup,
                                    bool& complete);

}  // namespace ssr
