// Lower-casing, named cases from the scripts that trip simpler mappings. The
// full comparison with a reference library is the Linux-only text_reference
// test; these rows run in both builds, so the Windows build gives the same
// answers.

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

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

// ---- Searching: eight positions at a time, so the rows put pieces at the
// stretch's edges and in texts shorter than a stretch ----

struct SearchRow {
    const char* behaviour;
    Text text;
    Text piece;
    std::size_t from;
    std::size_t found;  // where TextView::find finds it too
};

void PrintTo(const SearchRow& row, std::ostream* os) { *os << row.behaviour; }

class Searching : public ::testing::TestWithParam<SearchRow> {};

TEST_P(Searching, FindsTheFirstPlaceAsTextViewDoes) {
    const SearchRow& row = GetParam();
    EXPECT_EQ(Find(row.text, row.piece, row.from), row.found);
    EXPECT_EQ(TextView(row.text).find(row.piece, row.from), row.found);
}

constexpr std::size_t kNone = TextView::npos;

INSTANTIATE_TEST_SUITE_P(
    Pieces, Searching,
    ::testing::Values(
        SearchRow{"PieceAtTheVeryEnd", u"c:\\program files\\vendor\\setup.exe", u".exe", 0, 29},
        SearchRow{"PieceAcrossTheEdgeOfEightUnits", u"abcdefg.exe and more", u".exe", 0, 7},
        SearchRow{"PieceInTheLastStretchThatOverlapsTheOneBefore", u"0123456789abcdef.dll", u".dll", 0, 16},
        SearchRow{"FirstAndLastUnitsAgreeButNotTheMiddle", u"rundll64.exe rundll32.exe", u"rundll32.exe", 0, 13},
        SearchRow{"TextShorterThanThePiece", u"exe", u".exe", 0, kNone},
        SearchRow{"EmptyText", u"", u".exe", 0, kNone},
        SearchRow{"EmptyPieceIsWhereTheSearchStarts", u"abc", u"", 2, 2},
        SearchRow{"StartPastTheEnd", u"abc", u"c", 4, kNone},
        SearchRow{"NonAsciiUnitsAroundThePiece", u"\u00DC\u0416\u0416\u0416\u0416\u0416\u0416.exe\u0416\u0416", u".exe", 0, 7},
        SearchRow{"OnlyFromTheStartOn", u"a.exe b.exe c.exe d.exe e.exe", u".exe", 2, 7},
        SearchRow{"OneUnitPiece", u"abcdefghijklmnopqrstuvwxyz", u"z", 0, 25},
        SearchRow{"HalfAPairIsAUnitLikeAnother", u"x\U00010400\U00010401yyyyyyyyyy", Text(u"\xDC01"), 0, 4}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// Every length and place, against TextView::find and lower-casing a copy.
TEST(Searching, AgreesWithTheUnitByUnitAnswerWhereverThePieceStands) {
    for (const TextView piece : {TextView(u"m"), TextView(u".exe"), TextView(u"msiexec.exe")})
        for (std::size_t length = 0; length <= 27; ++length)
            for (std::size_t at = 0; at <= length; ++at) {
                Text text;
                for (std::size_t i = 0; i < length; ++i) text += static_cast<char16_t>(u'a' + i % 11);
                text.replace(at, std::min(piece.size(), length - at), LowerCase(piece) == piece ? Text(piece) : Text());
                Text upper = text;
                for (char16_t& unit : upper)
                    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - 32);
                const std::size_t expected = TextView(text).find(piece);
                EXPECT_EQ(Find(text, piece), expected) << "length " << length << ", at " << at;
                EXPECT_EQ(ContainsLowered(upper, piece), expected != kNone) << "length " << length << ", at " << at;
            }
}

struct LoweredRow {
    const char* behaviour;
    Text text;
    Text piece;
    bool contained;
};

void PrintTo(const LoweredRow& row, std::ostream* os) { *os << row.behaviour; }

class ContainingLowered : public ::testing::TestWithParam<LoweredRow> {};

TEST_P(ContainingLowered, ComparesEachUnitLowered) {
    EXPECT_EQ(ContainsLowered(GetParam().text, GetParam().piece), GetParam().contained);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, ContainingLowered,
    ::testing::Values(
        LoweredRow{"AnyCaseAtTheVeryEnd", u"\"C:\\WINDOWS\\SYSTEM32\\MsiExec.EXE", u"msiexec.exe", true},
        LoweredRow{"KelvinSignLowersToK", u"c:\\\u212Aits\\x", u"\\kits", true},
        LoweredRow{"DottedCapitalILowersToI", u"MS\u0130EXEC.EXE /x", u"msiexec.exe", true},
        LoweredRow{"NonLetterIsNotTakenForItsCaseBitTwin", u"abc|mdefghijk", u"\\m", false},
        LoweredRow{"PairNeverLowersToAscii", u"\U00010400\U00010400\U00010400\U00010400\U00010400", u"msiexec.exe", false},
        LoweredRow{"NonAsciiNextToThePiece", u"\u0416\u0416\u0416\u0416\u0416\u0416\u0416MSIEXEC.EXE\u0416", u"msiexec.exe", true},
        LoweredRow{"LastUnitDiffers", u"msiexec.exx and msiexec.ex", u"msiexec.exe", false},
        LoweredRow{"TextShorterThanThePiece", u"MSIEXEC", u"msiexec.exe", false},
        LoweredRow{"EmptyText", u"", u"msiexec.exe", false}),
    [](const auto& info) { return std::string(info.param.behaviour); });

struct EraseRow {
    const char* behaviour;
    Text text;
    Text erased;
};

void PrintTo(const EraseRow& row, std::ostream* os) { *os << row.behaviour; }

class ErasingQuotes : public ::testing::TestWithParam<EraseRow> {};

TEST_P(ErasingQuotes, LeavesEveryOtherUnitInOrder) {
    Text text = GetParam().text;
    EraseUnit(text, u'"');
    EXPECT_EQ(text, GetParam().erased);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ErasingQuotes,
    ::testing::Values(EraseRow{"QuotedPathWithSwitch", u"\"C:\\Program Files\\A\\unins000.exe\" /S", u"C:\\Program Files\\A\\unins000.exe /S"},
                      EraseRow{"NoQuote", u"C:\\Program Files\\A\\unins000.exe", u"C:\\Program Files\\A\\unins000.exe"},
                      EraseRow{"OnlyQuotes", u"\"\"\"\"\"\"\"\"\"", u""},
                      EraseRow{"QuoteOnTheEdgeOfEightUnits", u"abcdefgh\"ijklmnop\"", u"abcdefghijklmnop"},
                      EraseRow{"NonAsciiAroundQuotes", u"\u0416\"\u0416\"\U00010400\"", u"\u0416\u0416\U00010400"},
                      EraseRow{"EmptyText", u"", u""}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// Sixteen units are narrowed at a time: a unit beyond Latin-1 anywhere, in a
// full stretch or in the tail, makes the whole text refuse.
TEST(NarrowingToLatin1, RefusesATextWithAUnitBeyondLatin1WhereverItStands) {
    for (std::size_t length = 0; length <= 40; ++length)
        for (std::size_t at = 0; at <= length; ++at) {
            Text text;
            for (std::size_t i = 0; i < length; ++i) text += static_cast<char16_t>(i == at ? u'\u0100' : 0xA0 + i);
            std::vector<unsigned char> bytes(length);
            const bool narrow = NarrowLatin1(text.data(), text.size(), bytes.data());
            EXPECT_EQ(narrow, at == length) << "length " << length << ", wide unit at " << at;
            if (!narrow) continue;
            for (std::size_t i = 0; i < length; ++i) EXPECT_EQ(bytes[i], text[i]) << "length " << length;
        }
}

}  // namespace
}  // namespace ssr
