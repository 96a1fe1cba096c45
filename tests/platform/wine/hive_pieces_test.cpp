// A hive read in pieces on several threads against the same file read in
// one: the index must be the same in everything it shows, wherever the
// pieces start, and a file that changes while read is read again.

#include "platform/wine/hive_pieces.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <set>

#include "prefix_files.h"

namespace ssr::wine {

// Everything an index holds, in one text: the file's flags, then every key
// in enumeration order with its sections' byte ranges, class, link mark
// and decoded values.
struct RegFileInspector {
    static std::string Dump(RegFile& file) {
        std::string out = std::to_string(static_cast<int>(file.architecture())) + (file.HasLinks() ? " links" : "") +
                          (file.HasSectionsBelowLinks() ? " below" : "") + (file.HasNulBytes() ? " nul" : "") +
                          (file.m_line_ends == LineEnds::CrLf ? " crlf" : "") + "\n";
        Key(file, file.root(), out);
        return out;
    }

private:
    static std::string Narrow(TextView text) {
        std::string out;
        for (const char16_t unit : text) out += unit < 0x80 ? std::string(1, static_cast<char>(unit)) : "<" + std::to_string(unit) + ">";
        return out;
    }
    static void Key(RegFile& file, RegFile::Node* node, std::string& out) {
        out += Narrow(RegFile::PathOf(node)) + " [";
        for (const std::uint32_t s : node->sections) {
            const auto& section = file.m_sections[s];
            if (section.node != node) out += "wrong node ";
            out += std::to_string(section.begin) + "," + std::to_string(section.body) + "," + std::to_string(section.end) +
                   (section.continued ? "+ " : " ");
        }
        out += "] class=" + Narrow(node->ClassText()) + (node->link ? " link" : "") + "\n";
        for (const RegValue& value : file.Values(node)) {
            out += "  " + Narrow(value.name) + "=" + std::to_string(value.type) + ":";
            for (const std::uint8_t byte : value.data) out += std::to_string(byte) + ",";
            out += "\n";
        }
        for (RegFile::Node* child : file.Children(node)) {
            if (child->parent != node) out += "wrong parent\n";
            Key(file, child, out);
        }
    }
};

namespace {

using test::kHeader;

std::vector<RegFile::Node*> Keys(RegFile& file, RegFile::Node* node, std::vector<RegFile::Node*> keys = {}) {
    for (RegFile::Node* child : file.Children(node)) {
        keys.push_back(child);
        keys = Keys(file, child, std::move(keys));
    }
    return keys;
}

// The rewrites with more and more keys staged, leaves first.
std::vector<std::string> Rewrites(RegFile& file) {
    std::vector<std::string> rewrites;
    std::vector<RegFile::Node*> keys = Keys(file, file.root());
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        file.Stage(*key);
        rewrites.push_back(file.WithoutStaged(1, 2).bytes);
    }
    return rewrites;
}

struct PieceRow {
    const char* label;
    std::string text;
    bool apart = true;  // false: the pieces must be left to one reading
    friend void PrintTo(const PieceRow& row, std::ostream* out) { *out << row.label; }
};

class HivePieces : public ::testing::TestWithParam<PieceRow> {
protected:
    void SetUp() override {
        text = GetParam().text;
        test::WriteBytes(path, text);
        auto whole = RegFile::Parse(text);
        ASSERT_TRUE(whole);
        expected = RegFileInspector::Dump(*whole);
        expected_rewrites = Rewrites(*whole);
        for (std::size_t at = 0; at < text.size(); ++at)
            if (const std::size_t split = RegFile::SafeSplit(text, at, text.size()); split && !splits.count(split))
                splits.insert(split);
    }

    // Read with pieces starting at `starts`; compared with the one reading.
    void Check(std::vector<std::size_t> starts, bool rewrites) {
        HivePieceHook hook{starts, {}};
        LoadedHive loaded = LoadHive(path, Architecture::Unknown, &hook);
        std::string where;
        for (const std::size_t at : starts) where += " " + std::to_string(at);
        ASSERT_EQ(loaded.error, IoError::None) << where;
        ASSERT_TRUE(loaded.file) << where;
        // Pieces past the last place one may start leave the first to read on.
        bool split = false;
        for (std::size_t k = 0; k < starts.size(); ++k)
            split |= RegFile::SafeSplit(text, starts[k], k + 1 < starts.size() ? starts[k + 1] : text.size()) != 0;
        EXPECT_EQ(loaded.reading, GetParam().apart || !split ? HiveReading::Pieces : HiveReading::PiecesParsedWhole)
            << where;
        EXPECT_EQ(loaded.identity, IdentityOf(path)) << where;
        EXPECT_EQ(loaded.file->bytes(), text);
        EXPECT_EQ(RegFileInspector::Dump(*loaded.file), expected) << "pieces from" << where;
        if (rewrites) {
            EXPECT_EQ(Rewrites(*loaded.file), expected_rewrites) << "pieces from" << where;
        }
    }

    test::TempFolder folder{"pieces"};
    std::filesystem::path path = folder.path() / "system.reg";
    std::string text;
    std::string expected;
    std::vector<std::string> expected_rewrites;
    std::set<std::size_t> splits;  // every place a piece may start
};

TEST_P(HivePieces, IndexAsOneReadingDoes) {
    ASSERT_FALSE(splits.empty());
    // Two pieces, the second read from every byte: each place a piece may
    // start is found from the bytes before it, and past the last none is.
    for (std::size_t at = 1; at < text.size(); ++at) Check({at}, false);
    // Three and four pieces starting at every choice of those places, with
    // the staged rewrites.
    for (const std::size_t a : splits) {
        Check({a - 2}, true);
        for (const std::size_t b : splits)
            if (b > a) {
                Check({a - 2, b - 2}, true);
                for (const std::size_t c : splits)
                    if (c > b) Check({a - 2, b - 2, c - 2}, false);
            }
    }
}

std::string CrLf(const std::string& text) {
    std::string converted;
    for (const char c : text) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return converted;
}

std::string WithNul(std::string text) {
    text[text.find('~')] = '\0';
    return text;
}

const std::string kUninstall = kHeader +
    "\n[A\\\\Uninstall] 1\n#time=1\n\"x\"=dword:1\n\n[A\\\\Uninstall\\\\b] 1\n\"n\"=\"b\"\n"
    "\n[A\\\\Uninstall\\\\d] 1\n@=hex:01,02,\\\n  03\n\n[A\\\\Uninstall\\\\C] 1\n\"n\"=\"c\"\n"
    "\n[A\\\\Uninstall] 2\n\"y\"=\"late\"\n\n[a\\\\uninstall\\\\A] 1\n\"n\"=\"a\"\n"
    "\n[A\\\\Uninstall\\\\c\\\\deeper] 1\n\n[B] 1\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, HivePieces,
    ::testing::Values(
        PieceRow{"uninstall key with sections and children in every piece", kUninstall},
        PieceRow{"line ends in CR LF", CrLf(kUninstall)},
        PieceRow{"class in every piece, the last read wins",
                 kHeader + "\n[K] 1\n#class=\"first\"\n\n[L] 1\n\n[K] 2\n#class=\"second\"\n\n[K\\\\s] 1\n\n[K] 3\n"},
        PieceRow{"link in one piece, a section below it in the next",
                 kHeader + "\n[K] 1\n#link\n\"SymbolicLinkValue\"=hex(6):41,00\n\n[M] 1\n\n[K\\\\below] 1\n\n[N] 1\n"},
        PieceRow{"link in a later piece than a section below it", kHeader + "\n[K\\\\below] 1\n\n[M] 1\n\n[K] 1\n#link\n"},
        PieceRow{"hex data running over lines beside the empty lines",
                 kHeader + "\n[K] 1\n@=hex:01,\\\n\n[L] 1\n\"v\"=hex:02,\\\n  03\n\n[M] 1\n\"w\"=hex:04,\\\n[N] 1\n"
                           "\n[O] 1\n\"z\"=hex:05,\\\n\r\n[P] 1\n"},
        PieceRow{"arch lines inside keys are values' neighbours",
                 kHeader + "\n[K] 1\n#arch=win32\n\n[L] 1\n#arch=bogus\n\"a\"=\"1\"\n"},
        PieceRow{"arch line outside a key after keys", kHeader + "\n[K] 1\n\n[L] 1\n\n[\\\\bad] 1\n#arch=win32\n\n[M] 1\n", false},
        PieceRow{"arch line that ends the reading", kHeader + "\n[\\\\bad] 1\n#arch=win32\n\n[L] 1\n\n[M] 1\n", false},
        PieceRow{"duplicate header", kHeader + "\n[K] 1\n\"a\"=\"1\"\n\n[K] 1\n\"a\"=\"2\"\n\n[K] 1\n\"b\"=\"3\"\n"},
        PieceRow{"malformed header and escaped names",
                 kHeader + "\n[K\\\\x\\x00e9] 1\n\n[\\\\bad] 1\n\"a\"=\"1\"\n\n[k\\\\X\\x00c9\\\\y] 1\n\"b\"=\"2\"\n"},
        PieceRow{"a NUL byte in the first piece", WithNul(kHeader + "\n[K] 1\n\"a\"=\"x~\"\n\n[L] 1\n\n[M] 1\n"), false},
        PieceRow{"a NUL byte in the last piece", WithNul(kHeader + "\n[K] 1\n\n[L] 1\n\n[M] 1\n\"a\"=\"x~\"\n"), false}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

// A file as large as a prefix with thousands of programs: read in as many
// pieces as the machine has threads for, with the one reading's index.
TEST(HivePiecesLarge, ReadAsTheMachineAllows) {
    std::string text = kHeader;
    for (int k = 0; text.size() < (std::size_t{5} << 20); ++k) {
        text += "\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App" + std::to_string(k * 7919 % 100003) +
                "] 1\n\"DisplayName\"=\"App " + std::to_string(k) + "\"\n\"Blob\"=hex:01,02,\\\n  03\n";
        if (k % 1000 == 0) text += "\n[Software\\\\Classes\\\\K" + std::to_string(k) + "] 1\n#class=\"c\"\n";
    }
    test::TempFolder folder{"pieces"};
    const auto path = folder.path() / "system.reg";
    test::WriteBytes(path, text);
    LoadedHive loaded = LoadHive(path, Architecture::Unknown);
    ASSERT_TRUE(loaded.file);
    cpu_set_t allowed;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    EXPECT_EQ(loaded.reading, CPU_COUNT(&allowed) > 1 ? HiveReading::Pieces : HiveReading::Whole);
    EXPECT_EQ(loaded.identity, IdentityOf(path));
    auto whole = RegFile::Parse(text);
    EXPECT_EQ(RegFileInspector::Dump(*loaded.file), RegFileInspector::Dump(*whole));
}

struct ChangeRow {
    const char* label;
    std::string after;  // what the file holds once its size was taken
    friend void PrintTo(const ChangeRow& row, std::ostream* out) { *out << row.label; }
};

class HiveChangedWhileRead : public ::testing::TestWithParam<ChangeRow> {};

TEST_P(HiveChangedWhileRead, IsReadAgainWhole) {
    const std::string before = kUninstall;
    test::TempFolder folder{"pieces"};
    const auto path = folder.path() / "system.reg";
    test::WriteBytes(path, before);
    // Written in place, as an editor might, while the pieces are read.
    HivePieceHook hook{{before.size() / 3, before.size() / 2}, [&] { test::WriteBytes(path, GetParam().after); }};
    LoadedHive loaded = LoadHive(path, Architecture::Unknown, &hook);
    ASSERT_TRUE(loaded.file);
    EXPECT_EQ(loaded.reading, HiveReading::ReadAgain);
    EXPECT_EQ(loaded.file->bytes(), GetParam().after);
    EXPECT_EQ(loaded.identity, IdentityOf(path));
    EXPECT_EQ(RegFileInspector::Dump(*loaded.file), RegFileInspector::Dump(*RegFile::Parse(GetParam().after)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HiveChangedWhileRead,
    ::testing::Values(ChangeRow{"grown", kUninstall + "\n[Z] 1\n\"z\"=\"1\"\n"},
                      ChangeRow{"shrunk below the last piece", kHeader + "\n[Z] 1\n"},
                      ChangeRow{"shrunk within the last piece", kUninstall.substr(0, kUninstall.size() - 5)}),
    [](const auto& info) { return "Row" + std::to_string(info.index); });

// What the ranged reading cannot open is refused as one reading refuses
// it, and a file in pieces whose first line is no registry's is none.
TEST(HivePiecesErrors, AsOneReading) {
    test::TempFolder folder{"pieces"};
    const auto other = folder.path() / "other.reg";
    test::WriteBytes(other, "REGEDIT4\n" + kUninstall.substr(kUninstall.find('\n')));
    const HivePieceHook hook{{kUninstall.size() / 2}, {}};
    for (const auto& path : {folder.path() / "none.reg", folder.path(), other}) {
        LoadedHive loaded = LoadHive(path, Architecture::Unknown, &hook);
        const HiveRead read = ReadHiveFile(path);
        EXPECT_EQ(loaded.error, read.error) << path;
        EXPECT_EQ(loaded.code, read.code) << path;
        EXPECT_FALSE(loaded.file) << path;
    }
}

}  // namespace
}  // namespace ssr::wine
