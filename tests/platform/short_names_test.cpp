// Short names as Wine 8.0 makes them (the expected names are what its
// FindFirstFile answered for the same long names) and which names have the
// short form.

#include "platform/short_names.h"

#include <gtest/gtest.h>

#include <ostream>

namespace ssr {
namespace {

struct ShortNameCase {
    const char* behaviour;
    Text long_name;
    Text short_name;  // empty: the name is its own short name
};

void PrintTo(const ShortNameCase& c, std::ostream* os) { *os << c.behaviour; }

class WineShortNameTest : public ::testing::TestWithParam<ShortNameCase> {};

TEST_P(WineShortNameTest, MatchesWhatWineAnswers) {
    const ShortNameCase& c = GetParam();
    EXPECT_EQ(IsLegalShortName(c.long_name), c.short_name.empty());
    if (!c.short_name.empty()) {
        EXPECT_EQ(WineShortName(c.long_name), c.short_name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, WineShortNameTest,
    ::testing::Values(ShortNameCase{"FolderWithBlank", u"Program Files", u"PROG~FBU"},
                      ShortNameCase{"FolderWithBrackets", u"Program Files (x86)", u"PROG~5P2"},
                      ShortNameCase{"LongFolder", u"ProgramData", u"PROG~BDQ"},
                      ShortNameCase{"ExtensionIsTheLastDots", u"Mixed Case App.tar.gz", u"MIXE~EJG.GZ"},
                      ShortNameCase{"LongExtensionIsCut", u"ab.cdef", u"AB~~~52F.CDE"},
                      ShortNameCase{"RefusedCharactersBecomeUnderscores", u"a+b=c.txt", u"A_B_~SIQ.TXT"},
                      ShortNameCase{"BlankBecomesUnderscore", u"a b", u"A_B~~GOE"},
                      ShortNameCase{"NineCharacters", u"abcdefghi", u"ABCD~GDH"},
                      ShortNameCase{"DoubleDotInside", u"ab..c", u"AB_~~2EZ.C"},
                      ShortNameCase{"TrailingDotIsNoExtension", u"trailing.", u"TRAI~22I"},
                      ShortNameCase{"LeadingDotsAreKept", u"..ab", u"_~~~~AEZ.AB"},
                      ShortNameCase{"LeadingDotName", u".hidden", u"_HID~45N"},
                      ShortNameCase{"LeadingDotWithExtension", u".leading.ext", u"_LEA~TOO.EXT"},
                      ShortNameCase{"BeyondAsciiBecomesUnderscore", u"\u00dcn\u00efcode N\u00e4me.exe", u"_N_C~AIW.EXE"},
                      ShortNameCase{"UninstallerName", u"Uninstall Program.exe", u"UNIN~RXF.EXE"},
                      ShortNameCase{"ShortEnoughIsItself", u"users", u""},
                      ShortNameCase{"TildeIsAllowedInAShortName", u"ab~cd.txt", u""},
                      ShortNameCase{"OneLetterExtension", u"x.y", u""}),
    [](const auto& info) { return std::string(info.param.behaviour); });

struct FormCase {
    const char* behaviour;
    Text name;
    bool short_form;
};

void PrintTo(const FormCase& c, std::ostream* os) { *os << c.behaviour; }

class ShortNameFormTest : public ::testing::TestWithParam<FormCase> {};

TEST_P(ShortNameFormTest, OnlyGeneratedLookingNames) { EXPECT_EQ(IsShortNameForm(GetParam().name), GetParam().short_form); }

INSTANTIATE_TEST_SUITE_P(
    Names, ShortNameFormTest,
    ::testing::Values(FormCase{"WindowsNumbered", u"PROGRA~1", true}, FormCase{"WineHashed", u"PROG~FBU", true},
                      FormCase{"WithExtension", u"UNIN~RXF.EXE", true}, FormCase{"LowerCase", u"uninst~1.exe", true},
                      FormCase{"PlainShortName", u"uninst.exe", false}, FormCase{"TildeOnlyInExtension", u"a.b~1", false},
                      FormCase{"TooLongForEightThree", u"PROGRAMFI~1", false}, FormCase{"WithBlank", u"PROG ~1", false},
                      FormCase{"DotDot", u"..", false}),
    [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr
