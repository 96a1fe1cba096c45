// Every code point lower-cased by our table and by ICU's u_tolower, which
// implements the same simple mapping from its own copy of the database.

#include <unicode/uchar.h>
#include <unicode/uversion.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iostream>
#include <sstream>

#include "platform/text.h"

namespace ssr {
namespace {

using Version = std::array<int, 3>;

Version TableVersion() {
    const UnicodeVersion v = LowerCaseUnicodeVersion();
    return {v.major, v.minor, v.update};
}

Version Age(UChar32 c) {
    UVersionInfo age{};
    u_charAge(c, age);
    return {age[0], age[1], age[2]};
}

Version IcuVersion() {
    UVersionInfo version{};
    u_getUnicodeVersion(version);
    return {version[0], version[1], version[2]};
}

Text Utf16(char32_t c) {
    if (c < 0x10000) return Text(1, static_cast<char16_t>(c));
    c -= 0x10000;
    return Text{static_cast<char16_t>(0xD800 + (c >> 10)), static_cast<char16_t>(0xDC00 + (c & 0x3FF))};
}

std::string Hex(char32_t c) {
    std::ostringstream out;
    out << "U+" << std::hex << std::uppercase << static_cast<unsigned>(c);
    return out.str();
}

TEST(LowerCaseReference, EveryCodePointAsIcuMapsIt) {
    // When the two databases differ in version, only the characters both
    // know are compared: a newer one may add letters the other lacks.
    const Version table = TableVersion();
    const Version icu = IcuVersion();
    const Version common = std::min(table, icu);
    ASSERT_GT(table[0], 0);
    int compared = 0;
    int skipped = 0;
    int mismatches = 0;
    std::string first_mismatches;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;  // no characters; the text keeps lone halves as they are
        const Version age = Age(static_cast<UChar32>(c));
        if (table != icu && (age == Version{0, 0, 0} || age > common)) {
            ++skipped;
            continue;
        }
        ++compared;
        const auto expected = static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)));
        const char32_t ours = LowerCaseCodePoint(c);
        const Text ours_in_text = LowerCase(Utf16(c));
        if (ours != expected || ours_in_text != Utf16(expected)) {
            if (++mismatches <= 20)
                first_mismatches += Hex(c) + " -> ours " + Hex(ours) + ", ICU " + Hex(expected) + "\n";
        }
    }
    EXPECT_EQ(mismatches, 0) << first_mismatches;
    EXPECT_GT(compared, 0x10F000 - skipped);
    if (skipped > 0)
        std::cout << "table Unicode " << table[0] << '.' << table[1] << ", ICU " << icu[0] << '.' << icu[1] << ": "
                  << skipped << " code points new in one of them not compared\n";
}

TEST(LowerCaseReference, AWholeTextMatchesCodePointByCodePoint) {
    // Every cased letter of the plane and beyond, upper-case form first, in one
    // text: the pairs and the plane must not disturb each other's neighbours.
    const Version common = std::min(TableVersion(), IcuVersion());
    Text text;
    Text expected;
    for (char32_t c = 0x41; c <= 0x1E943; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || !u_isUUppercase(static_cast<UChar32>(c))) continue;
        if (Age(static_cast<UChar32>(c)) > common) continue;
        text += Utf16(c) + u"a";
        expected += Utf16(static_cast<char32_t>(u_tolower(static_cast<UChar32>(c)))) + u"a";
    }
    EXPECT_EQ(LowerCase(text), expected);
}

}  // namespace
}  // namespace ssr
