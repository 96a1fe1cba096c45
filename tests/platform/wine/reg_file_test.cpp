// The reader against wineserver's loader: every data tag and escape, the
// lines wineserver rejects, and byte-exact deletion.

#include "platform/wine/hive/reg_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "prefix_files.h"
#include "rewrite_check.h"

namespace ssr::wine {
namespace {

using test::kHeader;
using test::WideBytes;
using Bytes = std::vector<std::uint8_t>;

struct ValueRow {
    const char* label;
    std::string line;  // one value line (plus continuation lines) in section [K]
    Text name;
    std::uint32_t type;
    Bytes data;
    friend void PrintTo(const ValueRow& row, std::ostream* out) { *out << row.label; }
};

class ValueLines : public ::testing::TestWithParam<ValueRow> {};

TEST_P(ValueLines, DecodeAsWineserverDoes) {
    const ValueRow& row = GetParam();
    for (const bool crlf : {false, true}) {
        std::string text = kHeader + "\n[K] 0\n#time=1\n" + row.line + "\n\n[L] 0\n";
        if (crlf) {
            std::string converted;
            for (const char c : text) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
            text = converted;
        }
        const auto file = RegFile::Parse(text);
        ASSERT_TRUE(file);
        auto* key = file->Find(file->root(), u"K");
        ASSERT_TRUE(key);
        const RegValue* value = file->FindValue(key, row.name);
        ASSERT_TRUE(value) << row.label << (crlf ? " (CR LF)" : "");
        EXPECT_EQ(value->type, row.type) << row.label;
        EXPECT_EQ(value->data, row.data) << row.label << (crlf ? " (CR LF)" : "");
        EXPECT_EQ(file->Values(key).size(), 1U) << row.label;
        EXPECT_TRUE(file->Find(file->root(), u"L")) << row.label << ": the next section must still be a key";
    }
}

Bytes Dword(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

INSTANTIATE_TEST_SUITE_P(
    Tags, ValueLines,
    ::testing::Values(
        ValueRow{"plain text", R"("DisplayName"="Foo 1.0")", u"DisplayName", 1, WideBytes(u"Foo 1.0")},
        ValueRow{"str tag", R"("A"=str:"x")", u"a", 1, WideBytes(u"x")},
        ValueRow{"expandable", R"("P"=str(2):"%SystemRoot%\\x")", u"P", 2, WideBytes(u"%SystemRoot%\\x")},
        ValueRow{"multi text keeps inner zeros", R"("M"=str(7):"a\0b\0")", u"M", 7, WideBytes(std::u16string(u"a\0b\0", 4))},
        ValueRow{"empty text is one terminator", R"("E"="")", u"E", 1, Bytes{0, 0}},
        ValueRow{"default value", R"(@="d")", u"", 1, WideBytes(u"d")},
        ValueRow{"empty quoted name is the default", R"(""="d")", u"", 1, WideBytes(u"d")},
        ValueRow{"blanks around the equals sign", "\"A\" \t= \t\"x\"", u"A", 1, WideBytes(u"x")},
        ValueRow{"dword", R"("D"=dword:0000abcd)", u"D", 4, Dword(0xabcd)},
        ValueRow{"dword as strtoul reads it", R"("D"=dword:0x1F)", u"D", 4, Dword(0x1f)},
        ValueRow{"dword without digits", R"("D"=dword:zz)", u"D", 4, Dword(0)},
        ValueRow{"dword overflow saturates", R"("D"=dword:123456789abcdef01)", u"D", 4, Dword(0xffffffff)},
        ValueRow{"binary", R"("B"=hex:00,11,ff)", u"B", 3, Bytes{0x00, 0x11, 0xff}},
        ValueRow{"empty binary", R"("B"=hex:)", u"B", 3, Bytes{}},
        ValueRow{"typed hex", R"("Q"=hex(b):05,00,00,00,00,00,00,00)", u"Q", 11, Bytes{5, 0, 0, 0, 0, 0, 0, 0}},
        ValueRow{"hex() is type 0", R"("N"=hex():ab)", u"N", 0, Bytes{0xab}},
        ValueRow{"hex continuation", "\"B\"=hex:01,02,\\\n  03,04,\\\n  05", u"B", 3, Bytes{1, 2, 3, 4, 5}},
        ValueRow{"escapes", R"("S"="\\\"\[\]\a\b\e\f\n\r\t\v")", u"S", 1,
                 WideBytes(u"\\\"[]\a\b\x1b\f\n\r\t\v")},
        ValueRow{"hex escapes of one to four digits", R"("S"="\x41\x3a9\x00c9a\x12345")", u"S", 1,
                 WideBytes(u"A\u03a9\u00c9a\u12345")},
        ValueRow{"\\x without a digit is x", R"("S"="\xg")", u"S", 1, WideBytes(u"xg")},
        ValueRow{"octal escapes", R"("S"="\101\0\1018")", u"S", 1, WideBytes(std::u16string(u"A\0A8", 4))},
        ValueRow{"raw UTF-8 including a surrogate pair", "\"S\"=\"\xc3\x91\xe6\x97\xa5\xf0\x9f\x8e\x89\"", u"S", 1,
                 WideBytes(u"\u00d1\u65e5\U0001F389")},
        ValueRow{"invalid UTF-8 is dropped", "\"S\"=\"a\xff\x80" "b\xc3\"", u"S", 1, WideBytes(u"ab")},
        ValueRow{"escaped UTF-8 is itself", "\"S\"=\"\\\xc3\x91\\q\"", u"S", 1, WideBytes(u"\u00d1q")},
        ValueRow{"overlong and too large forms dropped, encoded surrogates kept",
                 "\"S\"=\"\xc0\xaf" "A\xed\xa0\x80\xf4\x90\x80\x80" "B\"", u"S", 1, WideBytes(Text{u'A', 0xd800, u'B'})},
        ValueRow{"escaped name", R"("\x3a9\"q"="v")", u"\u03a9\"Q", 1, WideBytes(u"v")},
        ValueRow{"text after the closing quote is ignored", R"("A"="x" junk)", u"A", 1, WideBytes(u"x")},
        ValueRow{"rejected data leaves an empty REG_NONE", R"("A"=bogus:1)", u"A", 0, Bytes{}},
        ValueRow{"rejected data replaces an earlier line", "\"A\"=\"1\"\n\"a\"=hex:zz", u"A", 0, Bytes{}},
        ValueRow{"any white space around the equals sign", "\"A\"\v=\f\"x\"", u"A", 1, WideBytes(u"x")},
        ValueRow{"later line wins, first spelling stays", "\"Name\"=\"1\"\n\"NAME\"=dword:2", u"name", 4, Dword(2)},
        ValueRow{"long text ending in escapes", R"("S"="0123456789\\a\"")", u"S", 1, WideBytes(u"0123456789\\a\"")},
        ValueRow{"long text ending in UTF-8", "\"S\"=\"0123456789\xc3\x91\"", u"S", 1, WideBytes(u"0123456789\u00d1")},
        ValueRow{"text of eight bytes", R"("S"="01234567")", u"S", 1, WideBytes(u"01234567")},
        ValueRow{"long runs between escapes and UTF-8",
                 "\"S\"=\"C:\\\\Program Files (x86)\\\\Vendor\\\"0123456789abcdef\xc3\x91ghijklmnopqrstuv\\tw\"", u"S", 1,
                 WideBytes(u"C:\\Program Files (x86)\\Vendor\"0123456789abcdef\u00d1ghijklmnopqrstuv\tw")}),
    [](const auto& info) {
        std::string name;
        for (const char c : std::string(info.param.label)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

struct AskedRow {
    const char* label;
    std::string sections;     // after the header; key K is asked
    std::vector<Text> names;  // asked one after another, then again from the last
    friend void PrintTo(const AskedRow& row, std::ostream* out) { *out << row.label; }
};

class ValuesAskedInTurn : public ::testing::TestWithParam<AskedRow> {};

// The names asked of a key one after another are answered from one pass
// over its lines: each answer is what decoding all its values gives.
TEST_P(ValuesAskedInTurn, AnswerAsTheWholeKeyDecoded) {
    const AskedRow& row = GetParam();
    for (const bool crlf : {false, true}) {
        std::string text = kHeader + row.sections;
        if (crlf) {
            std::string converted;
            for (const char c : text) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
            text = converted;
        }
        const auto whole = RegFile::Parse(text);
        const auto asked = RegFile::Parse(text);
        ASSERT_TRUE(whole && asked);
        auto* all_of_k = whole->Find(whole->root(), u"K");
        auto* k = asked->Find(asked->root(), u"K");
        ASSERT_TRUE(all_of_k && k) << row.label;
        const auto& values = whole->Values(all_of_k);
        std::vector<Text> order = row.names;
        order.insert(order.end(), row.names.rbegin(), row.names.rend());
        for (const Text& name : order) {
            const RegValue* expected = nullptr;
            for (const RegValue& v : values)
                if (CompareNames(v.name, name) == 0) expected = &v;
            const RegValue* found = asked->FindValue(k, name);
            const std::string where = std::string(row.label) + (crlf ? " (CR LF)" : "");
            ASSERT_EQ(found != nullptr, expected != nullptr) << where;
            if (!found) continue;
            EXPECT_EQ(found->type, expected->type) << where;
            EXPECT_EQ(found->data, expected->data) << where;
            EXPECT_EQ(CompareNames(found->name, name), 0) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ValuesAskedInTurn,
    ::testing::Values(
        AskedRow{"NamesInAnotherCase", "\n[K] 0\n\"DisplayName\"=\"a\"\n\"UninstallString\"=\"b\"\n",
                 {u"displayname", u"UNINSTALLSTRING", u"Missing"}},
        AskedRow{"EscapeInAName", "\n[K] 0\n\"Display\\x4eame\"=\"a\"\n\"\\x55ninstallString\"=\"b\"\n",
                 {u"DisplayName", u"UninstallString"}},
        AskedRow{"DuplicateValueLastWins", "\n[K] 0\n\"A\"=\"1\"\n\"B\"=\"2\"\n\"a\"=dword:3\n\"A\"=bogus\n\"A\" no value\n\"C\"=\"4\"\n",
                 {u"B", u"A", u"C"}},
        AskedRow{"ValueLineAfterHexContinuation",
                 "\n[K] 0\n\"H\"=hex:01,\\\n  02,\\\n  03\n\"A\"=\"after\"\n\"G\"=hex:04,\\\n\"A\"=\"swallowed\"\n",
                 {u"A", u"H", u"G"}},
        AskedRow{"NamesAskedAgainAndNew", "\n[K] 0\n\"A\"=\"1\"\n\"B\"=\"2\"\n\"C\"=\"3\"\n", {u"A", u"B", u"A", u"C"}},
        AskedRow{"KeyWithNoValues", "\n[K] 0\n#time=1\n\n[K\\\\Sub] 0\n\"A\"=\"1\"\n", {u"A", u""}},
        AskedRow{"LastLineWithoutNewline", "\n[K] 0\n\"A\"=\"1\"\n\"B\"=\"a text longer than sixteen bytes\"", {u"B", u"A"}},
        AskedRow{"ShortLastSection", "\n[K] 0\n@=\"1\"", {u"", u"A"}},
        AskedRow{"KeyInTwoSections", "\n[K] 0\n\"A\"=\"1\"\n\n[L] 0\n\"A\"=\"x\"\n\n[K] 0\n\"B\"=\"2\"\n\"a\"=\"3\"\n",
                 {u"A", u"B"}},
        AskedRow{"IndentedLinesAndLongSection",
                 "\n[K] 0\n  \"A\"=\"" + std::string(40, 'x') + "\"\n\t\"B\"=\"" + std::string(70, 'y') + "\"\n",
                 {u"A", u"B"}}),
    [](const auto& info) { return std::string(info.param.label); });


struct MalformedRow {
    const char* label;
    std::string lines;
    std::vector<Text> present;  // keys that must exist
    std::vector<Text> absent;
    std::size_t values_in_k;    // values that key K ends up with
    friend void PrintTo(const MalformedRow& row, std::ostream* out) { *out << row.label; }
};

class MalformedLines : public ::testing::TestWithParam<MalformedRow> {};

TEST_P(MalformedLines, AreSkippedAndKeptByteForByte) {
    const MalformedRow& row = GetParam();
    const std::string text = kHeader + "\n[K] 0\n" + row.lines + "\n\n[Gone\\\\Child] 0\n\"v\"=\"1\"\n";
    const auto file = RegFile::Parse(text);
    ASSERT_TRUE(file);
    for (const Text& key : row.present) EXPECT_TRUE(file->Find(file->root(), key)) << row.label;
    for (const Text& key : row.absent) EXPECT_FALSE(file->Find(file->root(), key)) << row.label;
    if (auto* k = file->Find(file->root(), u"K")) {
        EXPECT_EQ(file->Values(k).size(), row.values_in_k) << row.label;
    }
    // Deleting another key keeps every byte of the odd lines.
    ASSERT_TRUE(file->Find(file->root(), u"Gone"));
    const std::string after = test::StageAndRewrite(*file, {u"Gone"}).bytes;
    EXPECT_EQ(after, kHeader + "\n[K] 0\n" + row.lines + "\n\n") << row.label;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, MalformedLines,
    ::testing::Values(
        MalformedRow{"unknown tag", "\"a\"=bogus:1\n\"b\"=\"ok\"", {u"K"}, {}, 2},
        MalformedRow{"no equals sign", "\"a\" \"x\"\n\"b\"=\"ok\"", {u"K"}, {}, 1},
        MalformedRow{"unterminated text", "\"a\"=\"x\n\"b\"=\"ok\"", {u"K"}, {}, 2},
        MalformedRow{"unterminated name", "\"a=\"x\"", {u"K"}, {}, 0},
        MalformedRow{"hex byte too large", "\"a\"=hex:100,01\n\"b\"=\"ok\"", {u"K"}, {}, 2},
        MalformedRow{"junk after hex", "\"a\"=hex:01 zz", {u"K"}, {}, 1},
        MalformedRow{"hex(x without closing", "\"a\"=hex(2:00", {u"K"}, {}, 1},
        MalformedRow{"bad continuation swallows a header", "\"a\"=hex:01,\\\n[NotAKey]\n\"b\"=\"ok\"", {u"K"}, {u"NotAKey"}, 2},
        MalformedRow{"stray text", "garbage line\n\"b\"=\"ok\"", {u"K"}, {}, 1},
        MalformedRow{"bracket inside a text is no header", "\"a\"=\"x [NotAKey]\"\n\"b\"=\"[Nor\\\\This]\"", {u"K"}, {u"NotAKey", u"Nor"}, 2},
        MalformedRow{"indented header is a header", "\"b\"=\"ok\"\n \t[Indented] 0\n\"c\"=\"1\"", {u"K", u"Indented"}, {}, 1},
        MalformedRow{"comment and blank lines", "; a comment\n\n   \n\"b\"=\"ok\"", {u"K"}, {}, 1},
        MalformedRow{"unknown option", "#frobnicate=1\n\"b\"=\"ok\"", {u"K"}, {}, 1},
        MalformedRow{"header starting with a separator drops its values", "[\\\\Lead]\n\"b\"=\"ok\"", {u"K"}, {u"Lead"}, 0},
        MalformedRow{"key name too long", "[P\\\\" + std::string(257, 'n') + "]\n\"b\"=\"ok\"", {u"K"}, {u"P"}, 0},
        MalformedRow{"unterminated header drops its values", "[Broken\n\"b\"=\"ok\"", {u"K"}, {u"Broken"}, 0},
        MalformedRow{"continuation onto a blank line", "\"a\"=hex:01,\\", {u"K"}, {}, 1},
        MalformedRow{"header starting with an escaped NUL is the root", "[\\0abc]\n\"b\"=\"ok\"", {u"K"},
                     {Text(u"\0abc", 4)}, 0},
        MalformedRow{"NUL byte cuts a line", std::string("\"a\"=\"x\"\0junk", 12), {u"K"}, {}, 1}),
    [](const auto& info) {
        std::string name;
        for (const char c : std::string(info.param.label)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

// A key's '#' lines count where they start a line, after its values too;
// the same signs inside a value's text are text.
TEST(RegFile, ClassAndLinkLinesAreFoundAmongValues) {
    const auto file = RegFile::Parse(kHeader + "\n[K] 1\n#time=1\n\"a\"=\"#link\"\n  #class=\"Cls\"\n"
                                                "\"b\"=\"x #class=\\\"No\\\"\"\n\n[L] 1\n\"c\"=\"1\"\n\"h\"=hex:01,\\\n  02\n\t#link\n"
                                                "\n[M] 1\n\"c\"=\"1\"\n\"h\"=hex:01,\\\n#link\n#class=\"Mc\"\n");
    ASSERT_TRUE(file);
    auto* k = file->Find(file->root(), u"K");
    auto* l = file->Find(file->root(), u"L");
    auto* m = file->Find(file->root(), u"M");
    ASSERT_TRUE(k && l && m);
    EXPECT_EQ(k->ClassText(), u"Cls");
    EXPECT_FALSE(k->link);
    EXPECT_TRUE(l->link) << "after hex data that ran over one line";
    EXPECT_EQ(l->ClassText(), u"");
    EXPECT_FALSE(m->link) << "a line that hex data runs over into is data";
    EXPECT_EQ(m->ClassText(), u"Mc");
}

TEST(RegFile, OnlyWineserversHeaderMakesARegistry) {
    for (const std::string& bad : {std::string(""), std::string("WINE REGISTRY Version 1\n"),
                                  std::string("\xef\xbb\xbfWINE REGISTRY Version 2\n"),
                                  std::string(" WINE REGISTRY Version 2\n"), std::string("REGEDIT4\n")})
        EXPECT_FALSE(RegFile::Parse(bad)) << bad;
    EXPECT_TRUE(RegFile::Parse("WINE REGISTRY Version 2"));
    EXPECT_TRUE(RegFile::Parse("WINE REGISTRY Version 2\r\n"));
}

TEST(RegFile, KeysAreImpliedMergedCaseInsensitiveAndInWineserversOrder) {
    const auto file = RegFile::Parse(kHeader +
                                     "\n[A\\\\zz] 0\n\n[a\\\\_x] 0\n\n[A\\\\Ax\\\\Deep] 0\n\n[A\\\\\\[x] 0\n"
                                     "\n[A\\\\\\x00c9a] 0\n\n[A\\\\ax2] 0\n\n[A\\\\\\\\AX\\\\] 0\n#class=\"Cls\"\n\"v\"=\"1\"\n"
                                     "\n[] 0\n\"root\"=\"r\"\n");
    ASSERT_TRUE(file);
    auto* a = file->Find(file->root(), u"a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->name, u"A") << "the first spelling is kept";
    std::vector<Text> names;
    for (const auto* child : a->children) names.push_back(child->name);
    // What `wine reg query` lists for the same keys: lower-cased comparison, shorter first.
    EXPECT_EQ(names, (std::vector<Text>{u"[x", u"_x", u"Ax", u"ax2", u"zz", u"\u00c9a"}));
    auto* ax = file->Find(file->root(), u"A\\\\aX\\");
    ASSERT_TRUE(ax);
    EXPECT_EQ(ax->ClassText(), u"Cls");
    EXPECT_TRUE(file->FindValue(ax, u"V"));
    EXPECT_TRUE(file->Find(ax, u"deep"));
    EXPECT_TRUE(file->FindValue(file->root(), u"root"));
}

// Entries are opened one after another below the key that holds them, as
// they were listed: each path still finds exactly the key it names.
TEST(RegFile, PathsAskedInTurnFindTheKeysTheyName) {
    const auto file = RegFile::Parse(kHeader + "\n[K\\\\a] 0\n\n[K\\\\b] 0\n\n[K\\\\b\\\\x] 0\n\n[K\\\\c] 0\n");
    ASSERT_TRUE(file);
    RegFile::Node* k = file->Find(file->root(), u"K");
    ASSERT_TRUE(k);
    const struct {
        const char16_t* path;
        const char16_t* found;  // its path below the root, or null
    } rows[] = {
        {u"a", u"K\\a"},   {u"d", nullptr},         {u"b", u"K\\b"},   {u"c", u"K\\c"},   {u"a", u"K\\a"},  {u"B", u"K\\b"},
        {u"c\\", u"K\\c"}, {u"", u"K"},           {u"a", u"K\\a"},   {u"b\\x", u"K\\b\\x"}, {u"bx", nullptr},
        {u"a", u"K\\a"},   {u"b\\\\x", u"K\\b\\x"}, {u"d", nullptr},    {u"c", u"K\\c"},  {u"a\\b", nullptr},
    };
    for (const auto& row : rows) {
        const RegFile::Node* found = file->Find(k, row.path);
        if (!row.found) {
            EXPECT_FALSE(found) << ToUtf8(row.path);
            continue;
        }
        ASSERT_TRUE(found) << ToUtf8(row.path);
        EXPECT_EQ(RegFile::PathOf(found), Text(row.found)) << ToUtf8(row.path);
    }
}

TEST(RegFile, KeyNamesUpToWineserversLimitAreKeys) {
    const std::string name(256, 'n');
    const auto file = RegFile::Parse(kHeader + "\n[P\\\\" + name + "] 0\n");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Find(file->root(), u"P\\" + Text(name.begin(), name.end())));
}

TEST(RegFile, UnknownArchitectureEndsWhatIsReadButNotWhatIsKept) {
    const std::string tail = "#arch=win16\n\n[After] 0\n\"v\"=\"1\"\n";
    const auto file = RegFile::Parse("WINE REGISTRY Version 2\n#arch=win64\n\n[Before] 0\n\n[Gone] 0\n[bad\n" + tail);
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->Find(file->root(), u"Before"));
    EXPECT_FALSE(file->Find(file->root(), u"After")) << "wineserver stops at the unknown architecture";
    EXPECT_EQ(test::StageAndRewrite(*file, {u"Gone"}).bytes,
              "WINE REGISTRY Version 2\n#arch=win64\n\n[Before] 0\n\n[bad\n" + tail);
    const auto mismatch = RegFile::Parse("WINE REGISTRY Version 2\n#arch=win64\n#arch=win32\n[After] 0\n");
    ASSERT_TRUE(mismatch);
    EXPECT_FALSE(mismatch->Find(mismatch->root(), u"After"));
}

// Added keys are written as wineserver saves them, and a large value goes
// out in pieces with the same bytes as in one: read back, every value is
// what was staged, across every piece's edge (an escape looks at the unit
// after it).
TEST(RegFile, AddedKeysReadBackAsStagedWhetherWrittenWholeOrInPieces) {
    Bytes binary(300'000);
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i * 7);
    Text text;
    for (std::size_t i = 0; i < 200'000; ++i) text += i % 65536 == 65535 ? u'\u00e9' : i % 3 ? u'7' : u'"';
    const std::vector<RegValue> values = {{u"", 1, WideBytes(u"default")},
                                          {u"Big", 3, binary},
                                          {u"Text", 1, WideBytes(text)},
                                          {u"Multi", 7, WideBytes(std::u16string(u"a\0b\0", 4))},
                                          {u"Dword", 4, {1, 2, 3, 4}},
                                          {u"Odd", 0x1234, {7}},
                                          {u"Unterminated", 1, WideBytes(u"ab", false)}};
    const std::string base = kHeader + "\n[Software\\\\Other] 1\n\"v\"=\"x\"\n";
    auto whole = RegFile::Parse(base);
    whole->StageNew({{u"Software\\Added [1]", values}, {u"Software\\Added [1]\\Sub", {}}});
    const std::string in_one = whole->WithoutStaged(1, 2).bytes;
    RegFile::Rewrite apart = whole->WithoutStaged(1, 2, RegFile::Additions::Apart);
    std::size_t pieces = 0;
    whole->WriteStagedNew([&](std::string_view piece) {
        apart.bytes += piece;
        ++pieces;
        return true;
    }, 1, 2);
    EXPECT_EQ(apart.bytes, in_one);
    EXPECT_GT(pieces, 1U);

    const auto again = RegFile::Parse(in_one);
    ASSERT_NE(again, nullptr);
    RegFile::Node* added = again->Find(again->root(), u"Software\\Added [1]");
    ASSERT_NE(added, nullptr);
    EXPECT_NE(again->Find(added, u"Sub"), nullptr);
    const auto& back = again->Values(added);
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(back[i].name, values[i].name);
        EXPECT_EQ(back[i].type, values[i].type) << ToUtf8(values[i].name);
        EXPECT_EQ(back[i].data, values[i].data) << ToUtf8(values[i].name);
    }
    EXPECT_EQ(again->Values(again->Find(again->root(), u"Software\\Other")).size(), 1U);
}

TEST(RegFile, EscapeRoundTripsEveryUnit) {
    Text all;
    for (char32_t c = 0; c < 0x10000; c += (c < 0x300 ? 1 : 97)) all += static_cast<char16_t>(c);
    all += u"0a7";
    for (const std::string_view specials : {std::string_view("[]"), std::string_view("\"")}) {
        const std::string escaped = Escape(all, specials);
        Text back;
        const auto used = Unescape(escaped + (specials == "[]" ? "]" : "\""), specials == "[]" ? ']' : '"', back);
        ASSERT_TRUE(used);
        EXPECT_EQ(*used, escaped.size() + 1);
        EXPECT_EQ(back, all);
    }
}

struct NameRow {
    const char* label;
    std::string line;  // a value line
    Text name;         // the name asked for
    friend void PrintTo(const NameRow& row, std::ostream* out) { *out << row.label; }
};

class ValueNames : public ::testing::TestWithParam<NameRow> {};

// A value line names a value exactly when the decoded names compare equal,
// under either table, and a key answers the same before and after its
// values are all decoded.
TEST_P(ValueNames, MatchLikeTheDecodedNames) {
    const NameRow& row = GetParam();
    ASSERT_EQ(FallbackNameTable()[0x212a], u'k');
    Text decoded;
    ASSERT_TRUE(Unescape(std::string_view(row.line).substr(1), '"', decoded));
    for (const LowerCaseTable* table : {&NameTable(), &FallbackNameTable()}) {
        Text scratch;
        EXPECT_EQ(ValueNameEnd(row.line, row.name, {}, *table, scratch) != 0, CompareNames(decoded, row.name, *table) == 0)
            << row.label << (table == &NameTable() ? "" : " (fallback table)");
    }
    const auto file = RegFile::Parse(kHeader + "\n[K] 0\n" + row.line + "\n");
    ASSERT_TRUE(file);
    auto* key = file->Find(file->root(), u"K");
    const bool before = file->FindValue(key, row.name) != nullptr;
    static_cast<void>(file->Values(key));
    EXPECT_EQ(file->FindValue(key, row.name) != nullptr, before) << row.label;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ValueNames,
    ::testing::Values(NameRow{"KelvinSignAskedForAnAsciiK", R"("k"="1")", u"\u212a"},
                      NameRow{"AsciiKAskedForAKelvinSign", "\"\xe2\x84\xaa\"=\"1\"", u"K"},
                      NameRow{"EscapedKelvinSign", R"("\x212a"="1")", u"k"},
                      NameRow{"CaseDiffers", R"("DisplayName"="1")", u"dISPLAYnAME"},
                      NameRow{"OtherLetter", R"("a"="1")", u"b"},
                      NameRow{"LongerName", R"("ab"="1")", u"a"},
                      NameRow{"ShorterName", R"("a"="1")", u"ab"},
                      NameRow{"SameSpellingOfALongName", R"("UninstallString"="1")", u"UninstallString"},
                      NameRow{"LongNameEndsEarlier", R"("Display"="1")", u"DisplayName"},
                      NameRow{"LongNameGoesOn", R"("DisplayNameX"="1")", u"DisplayName"},
                      NameRow{"CaseDiffersPastTheFirstWord", R"("DisplayNAME"="1")", u"DisplayName"},
                      NameRow{"EscapePastTheFirstWord", R"("Display\x4eame"="1")", u"DisplayName"},
                      NameRow{"QuoteInTheName", R"("a\"b"="1")", u"a\"b"}),
    [](const auto& info) { return std::string(info.param.label); });

struct DeletionRow {
    const char* label;
    std::string before;  // after the header
    Text key;
    std::string after;
    friend void PrintTo(const DeletionRow& row, std::ostream* out) { *out << row.label; }
};

class Deletion : public ::testing::TestWithParam<DeletionRow> {};

TEST_P(Deletion, CutsExactlyTheSubtree) {
    const DeletionRow& row = GetParam();
    const bool crlf = row.before.starts_with("\r\n");
    const std::string header = crlf ? "WINE REGISTRY Version 2\r\n" : kHeader;
    const auto file = RegFile::Parse(header + row.before);
    ASSERT_TRUE(file);
    auto* key = file->Find(file->root(), row.key);
    ASSERT_TRUE(key) << row.label;
    RegFile::Rewrite rewrite = test::StageAndRewrite(*file, {row.key});
    EXPECT_EQ(rewrite.bytes, header + row.after) << row.label;

    // The index moved onto the new bytes reads like the new file read afresh.
    file->ApplyRewrite(std::move(rewrite));
    EXPECT_TRUE(key->removed);
    const auto fresh = RegFile::Parse(header + row.after);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(test::IndexDifference(*file, *fresh), "") << row.label;
}

const std::string kU = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";

INSTANTIATE_TEST_SUITE_P(
    Subtrees, Deletion,
    ::testing::Values(
        DeletionRow{"key with subkeys and a sibling that shares its prefix",
                    "\n" + kU + "\\\\App] 1\n#time=1\n\"A\"=\"1\"\n\n" + kU + "\\\\App\\\\Sub] 1\n\"B\"=hex:01,\\\n  02\n\n" +
                        kU + "\\\\App2] 1\n\"C\"=\"3\"\n",
                    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App",
                    "\n" + kU + "\\\\App2] 1\n\"C\"=\"3\"\n"},
        DeletionRow{"last child of a parent without a section leaves the parent's empty section",
                    "\n[Other] 1\n\n" + kU + "\\\\App] 1\n\"A\"=\"1\"\n\n[Zed] 1\n",
                    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\app",
                    "\n[Other] 1\n\n" + kU + "] 1700000000\n#time=1da0a0b0c0d0e0f\n\n[Zed] 1\n"},
        DeletionRow{"parent with a section of its own stays as it is",
                    "\n[P] 1\n\"x\"=\"1\"\n\n[P\\\\C] 1\n", u"P\\C", "\n[P] 1\n\"x\"=\"1\"\n\n"},
        DeletionRow{"sections of one key spread over the file all go",
                    "\n[P\\\\C] 1\n\"a\"=\"1\"\n\n[Q] 1\n; kept\n\n[p\\\\c\\\\D] 1\n\n[P\\\\C] 2\n\"b\"=\"2\"\n\n[P\\\\E] 1\n",
                    u"P\\C", "\n[Q] 1\n; kept\n\n[P\\\\E] 1\n"},
        DeletionRow{"CR LF file gets a CR LF parent section",
                    "\r\n[P\\\\C] 1\r\n\r\n", u"P\\C", "\r\n[P] 1700000000\r\n#time=1da0a0b0c0d0e0f\r\n\r\n"},
        DeletionRow{"parent name that needs escapes", "\n[\\x3a9\\[\\]\\\\C] 1\n", u"\u03a9[]\\C",
                    "\n[\\x3a9\\[\\]] 1700000000\n#time=1da0a0b0c0d0e0f\n\n"},
        DeletionRow{"last section without a final line feed", "\n[A] 1\n\n[B] 1\n\"x\"=\"1\"", u"B", "\n[A] 1\n\n"},
        DeletionRow{"malformed header after the key stays",
                    "\n[A] 1\n\"x\"=\"1\"\n[broken\n\"y\"=\"2\"\n\n[C] 1\n", u"A", "\n[broken\n\"y\"=\"2\"\n\n[C] 1\n"}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

}  // namespace
}  // namespace ssr::wine
