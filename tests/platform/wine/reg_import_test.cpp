// The import-format reader and the records a backup file gives: every rule
// Wine's regedit follows, every line it would skip refused with its number,
// and the same answer however the file is cut into pieces.

#include "platform/wine/backups/reg_import.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "import_cases.h"
#include "platform/wine/backups/backup_restore.h"

namespace ssr::wine {
namespace {

using test::ExpectedKey;
using test::ImportCase;
using test::ImportEncoding;
using test::RejectedCase;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", bytes[i]);
        text += byte;
    }
    return text;
}

// The record's keys as the rows write them: paths below the record.
std::vector<ExpectedKey> KeysOf(const BackupRecord& record) {
    std::vector<ExpectedKey> keys;
    for (const NewKey& key : record.keys) {
        ExpectedKey found{ToUtf8(TextView(key.path).substr(std::min(key.path.size(), record.path.size() + 1))), {}};
        for (const RegValue& value : key.values) found.values.push_back({ToUtf8(value.name), value.type, Hex(value.data)});
        keys.push_back(std::move(found));
    }
    return keys;
}

std::string BytesOf(const ImportCase& row) {
    return test::ImportFileBytes(row.encoding, test::ImportFileText(row.encoding, row.rule, row.body, row.cr_only));
}

class AcceptedLines : public ::testing::TestWithParam<ImportCase> {};

TEST_P(AcceptedLines, GiveTheRecordWineGives) {
    const ImportCase& row = GetParam();
    const BackupContents contents = ReadBackupBytes(BytesOf(row), true);
    ASSERT_TRUE(contents.refusals.empty()) << contents.refusals.front();
    ASSERT_EQ(contents.records.size(), 1U);
    const BackupRecord& record = contents.records.front();
    EXPECT_EQ(record.root, kHkeyCurrentUser);
    EXPECT_EQ(ToUtf8(record.shown), test::kUninstallUser + "\\" + row.record);
    EXPECT_EQ(KeysOf(record), row.keys);
}

INSTANTIATE_TEST_SUITE_P(Wine, AcceptedLines, ::testing::ValuesIn(test::kAcceptedCases),
                         [](const auto& info) { return std::string(info.param.rule); });

class RejectedLines : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedLines, RefuseTheWholeFileNamingTheLine) {
    const RejectedCase& row = GetParam();
    const std::string text = test::ImportFileText(ImportEncoding::Utf16, row.rule, row.body);
    const BackupContents contents = ReadBackupBytes(test::ImportFileBytes(ImportEncoding::Utf16, text), true);
    EXPECT_TRUE(contents.records.empty());
    ASSERT_FALSE(contents.refusals.empty());
    const std::string& said = contents.refusals.front();
    EXPECT_TRUE(said.starts_with("line " + std::to_string(row.line) + ": ")) << said;
    EXPECT_NE(said.find(row.why), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Wine, RejectedLines, ::testing::ValuesIn(test::kRejectedCases),
                         [](const auto& info) { return std::string(info.param.rule); });

// Everything the reader is told, as one text.
class Transcript final : public ImportSink {
public:
    void Key(std::size_t line, ImportRoot root, TextView path, TextView shown) override {
        text += std::to_string(line) + " key " + std::to_string(static_cast<int>(root)) + " " + ToUtf8(path) + " | " +
                ToUtf8(shown) + "\n";
    }
    void Value(std::size_t line, TextView name, std::uint32_t type, std::vector<std::uint8_t>& data) override {
        text += std::to_string(line) + " value " + ToUtf8(name) + " " + std::to_string(type) + " " + Hex(data) + "\n";
    }
    void Rejected(std::size_t line, std::string why) override { text += std::to_string(line) + " rejected " + why + "\n"; }
    std::string text;
};

TEST(ImportReader, GivesTheSameWhereverTheFileIsCut) {
    std::vector<std::string> files;
    for (const ImportCase& row : test::kAcceptedCases) files.push_back(BytesOf(row));
    for (const RejectedCase& row : test::kRejectedCases)
        files.push_back(test::ImportFileBytes(ImportEncoding::Utf16, test::ImportFileText(ImportEncoding::Utf16, row.rule, row.body)));
    for (const std::string& bytes : files) {
        Transcript whole;
        const std::string problem = ReadImportBytes(bytes, whole);
        for (const std::size_t piece : {1, 2, 3, 7, 64}) {
            Transcript cut;
            ImportReader reader(cut);
            for (std::size_t at = 0; at < bytes.size(); at += piece) reader.Feed(std::string_view(bytes).substr(at, piece));
            EXPECT_EQ(reader.Finish(), problem);
            EXPECT_EQ(cut.text, whole.text) << "in pieces of " << piece;
        }
    }
}

TEST(ImportReader, SaysWhyAFileIsNotOneOfTheFormat) {
    struct Row {
        const char* what;
        std::string bytes;
        const char* problem;
    };
    const Row rows[] = {
        {"empty", "", "empty"},
        {"plain text", "hello\n", "not a registry file"},
        {"Windows 3.1", "REGEDIT\nHKEY_CLASSES_ROOT\\x = y\n", "Windows 3.1"},
        {"trailing blank in the header", "REGEDIT4 \n", "not a registry file"},
        {"UTF-16 big-endian", std::string("\xfe\xff\0W", 4), "not a registry file"},
    };
    for (const Row& row : rows) {
        Transcript said;
        EXPECT_NE(ReadImportBytes(row.bytes, said).find(row.problem), std::string::npos) << row.what;
    }
    Transcript said;
    EXPECT_EQ(ReadImportBytes("\xEF\xBB\xBFREGEDIT4\r\n", said), "") << "a UTF-8 mark is passed over";
}

TEST(BackupRecords, RefuseTheOtherViewWhereThePrefixHasNone) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Old]\n\"v\"=\"1\"\n";
    const std::string bytes = test::ImportFileBytes(ImportEncoding::Utf16, text);
    EXPECT_EQ(ReadBackupBytes(bytes, true).records.size(), 1U);
    const BackupContents refused = ReadBackupBytes(bytes, false);
    ASSERT_EQ(refused.refusals.size(), 1U);
    EXPECT_NE(refused.refusals.front().find("32-bit view"), std::string::npos) << refused.refusals.front();
}

}  // namespace
}  // namespace ssr::wine
