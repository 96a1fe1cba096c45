// Lower-casing, named cases from the scripts that trip simpler mappings. The
// full comparison with a reference library is the Linux-only text_reference
// test; these rows run in both builds, so the Windows build gives the same
// answers.

#include <gtest/gtest.h>

#include <ostream>

#include "platform/text.h"

namespace ssr {
namespace {

struct LowerCaseRow {
    const char* behaviour;
    Text text;
    Text lower;
};

void PrintTo(const LowerCaseRow& row, std::ostream* os) { *os << row.behaviour; }

class LowerCasing : public ::testing::TestWithParam<LowerCaseRow> {};

TEST_P(LowerCasing, MapsEachCodePointAndKeepsTheLength) {
    const Text lower = LowerCase(GetParam().text);
    EXPECT_EQ(lower, GetParam().lower);
    EXPECT_TRUE(EqualsIgnoringCase(GetParam().text, GetParam().lower));
    EXPECT_TRUE(EqualsIgnoringCase(GetParam().lower, GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, LowerCasing,
    ::testing::Values(
        LowerCaseRow{"AsciiLettersOnlyNotTheirNeighbours", u"@AZ[`az{ 09", u"@az[`az{ 09"},
        LowerCaseRow{"DottedCapitalIBecomesPlainI", u"\u0130NSTALL", u"install"},
        LowerCaseRow{"DotlessSmallIStays", u"\u0131", u"\u0131"},
        LowerCaseRow{"CapitalSigmaBecomesMedialAndFinalStays", u"\u03A3\u039F\u03A3 \u03C2", u"\u03C3\u03BF\u03C3 \u03C2"},
        LowerCaseRow{"KelvinSignBecomesK", u"\u212A", u"k"},
        LowerCaseRow{"AngstromSignBecomesARing", u"\u212B", u"\u00E5"},
        LowerCaseRow{"LatinExtendedBDigraphsAndHooks", u"\u01C4\u01C5\u0187\u0241\u024E", u"\u01C6\u01C6\u0188\u0242\u024F"},
        LowerCaseRow{"GreekExtendedWithProsgegrammeni", u"\u1F08\u1FBC\u1FEC", u"\u1F00\u1FB3\u1FE5"},
        LowerCaseRow{"GeorgianMtavruliBecomesMkhedruli", u"\u1C90\u1CBA\u1CBD", u"\u10D0\u10FA\u10FD"},
        LowerCaseRow{"CherokeeCapitalsBecomeTheSmallLetters", u"\u13A0\u13EF\u13F5", u"\uAB70\uABBF\u13FD"},
        LowerCaseRow{"CapitalSharpSBecomesSharpS", u"\u1E9E", u"\u00DF"},
        LowerCaseRow{"LatinExtendedDLettersFarFromTheirPartners", u"\uA7C5\uA78D", u"\u0282\u0265"},
        LowerCaseRow{"FullwidthLatin", u"\uFF21\uFF3A", u"\uFF41\uFF5A"},
        LowerCaseRow{"DeseretPairsStayPairs", u"\U00010400\U00010427x", u"\U00010428\U0001044Fx"},
        LowerCaseRow{"AdlamTheLastRunBeyondThePlane", u"\U0001E900\U0001E921", u"\U0001E922\U0001E943"},
        LowerCaseRow{"UncasedBeyondThePlaneStays", u"\U0001F600\U00010428", u"\U0001F600\U00010428"},
        LowerCaseRow{"LoneSurrogatesStayAndLeaveTheirNeighboursMapped",
                     Text(u"\xD801") + u"A" + Text(u"\xDC00") + u"B", Text(u"\xD801") + u"a" + Text(u"\xDC00") + u"b"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(LowerCasing, UnitsAndCodePointsAgreeWithTheText) {
    EXPECT_EQ(LowerCaseUnit(u'\u0130'), u'i');
    EXPECT_EQ(LowerCaseUnit(u'Q'), u'q');
    EXPECT_EQ(LowerCaseUnit(static_cast<char16_t>(0xD801)), 0xD801);  // half of a pair is not a letter
    EXPECT_EQ(LowerCaseCodePoint(0x10400), 0x10428U);
    EXPECT_EQ(LowerCaseCodePoint(0x10FFFF), 0x10FFFFU);
}

// The whole text is lowered as each unit would be, wherever in it the first
// unit beyond ASCII stands (the ASCII stretch is taken eight units at a time).
TEST(LowerCasing, ATextIsLoweredUnitByUnitWhereverItsFirstNonAsciiUnitStands) {
    for (std::size_t length = 0; length <= 27; ++length)
        for (std::size_t at = 0; at <= length; ++at) {
            Text text;
            for (std::size_t i = 0; i < length; ++i) text += static_cast<char16_t>(i == at ? u'\u0412' : u'A' + i % 30);
            Text expected = text;
            for (char16_t& unit : expected) unit = LowerCaseUnit(unit);
            EXPECT_EQ(LowerCase(text), expected) << "length " << length << ", non-ASCII at " << at;
        }
}

struct EqualityRow {
    const char* behaviour;
    Text a;
    Text b;
    bool equal;
};

void PrintTo(const EqualityRow& row, std::ostream* os) { *os << row.behaviour; }

class IgnoringCase : public ::testing::TestWithParam<EqualityRow> {};

TEST_P(IgnoringCase, ComparesLowerCasedCodePoints) {
    EXPECT_EQ(EqualsIgnoringCase(GetParam().a, GetParam().b), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, IgnoringCase,
    ::testing::Values(EqualityRow{"BothUpperCaseFormsOfAGreekLetter", u"\u03A3", u"\u03C3", true},
                      EqualityRow{"FinalSigmaIsAnotherLetter", u"\u03A3", u"\u03C2", false},
                      EqualityRow{"SmallIIsNotTheDotlessOne", u"i", u"\u0131", false},
                      EqualityRow{"DifferentLengths", u"ab", u"abc", false},
                      EqualityRow{"PairAgainstTwoLoneHalves", u"\U00010400", Text(u"\xD801") + Text(u"\xD801"), false},
                      EqualityRow{"DeseretAcrossCases", u"\U00010410", u"\U00010438", true}),
    [](const auto& info) { return std::string(info.param.behaviour); });

struct ExpansionCase {
    const char* behaviour;
    Text text;
    Text expanded;
    bool complete;
};

void PrintTo(const ExpansionCase& c, std::ostream* os) { *os << c.behaviour; }

class ExpandReferencesTest : public ::testing::TestWithParam<ExpansionCase> {};

TEST_P(ExpandReferencesTest, ExpandsAsTheSystemDoes) {
    const ExpansionCase& c = GetParam();
    const auto lookup = [](TextView name) -> std::optional<Text> {
        if (LowerCase(name) == u"a") return Text(u"<A>");
        return std::nullopt;
    };
    bool complete = false;
    EXPECT_EQ(ExpandReferences(c.text, lookup, complete), c.expanded);
    EXPECT_EQ(complete, c.complete);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ExpandReferencesTest,
    ::testing::Values(ExpansionCase{"NoReference", u"c:\\x", u"c:\\x", true},
                      ExpansionCase{"Known", u"%a%\\x", u"<A>\\x", true},
                      ExpansionCase{"KnownTwice", u"%A%%a%", u"<A><A>", true},
                      ExpansionCase{"UnknownStaysAsWritten", u"%b%\\x", u"%b%\\x", false},
                      ExpansionCase{"UnclosedPercent", u"50%a", u"50%a", true},
                      ExpansionCase{"TrailingPercent", u"%a%%", u"<A>%", true}),
    [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr
