// Restoring a backup gives back every value of every key with its type and
// bytes exactly, whatever Remove's backup had to write in hex, and refuses
// what it cannot put back safely.

#include "platform/wine/backups/backup_restore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "catalogue/places.h"
#include "catalogue/reg_export.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

namespace ssr::wine {
namespace {

namespace fs = std::filesystem;

const std::string kRecords =
    test::k64 + "\\\\Odd\\x00e9 Values] 1\n"
    "@=\"default\"\n"
    "\"S\"=\"a \\\"quoted\\\" C:\\\\path \\x4e2d\"\n"
    "\"E\"=str(2):\"%ProgramFiles%\\\\x\"\n"
    "\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
    "\"D\"=dword:0000002a\n"
    "\"B\"=hex:01,02,ff\n"
    "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
    "\"Unterminated\"=hex(1):41,00\n"
    "\"Empty\"=hex(0):\n\n" +
    test::k64 + "\\\\Odd\\x00e9 Values\\\\Sub\\\\Deeper] 1\n\"Channel\"=\"beta\"\n\n" +
    test::k32 + "\\\\Old] 1\n\"DisplayName\"=\"Old\"\n\n"
    "[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n\n";

const Text kKeys[] = {u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Odd\u00e9 Values",
                      u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Odd\u00e9 Values\\Sub\\Deeper",
                      u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Old"};

using Values = std::vector<std::tuple<Text, std::uint32_t, std::vector<std::uint8_t>>>;

// Every value of every key above, as the file holds them, by name.
std::vector<Values> ValuesIn(const fs::path& prefix) {
    const auto file = RegFile::Parse(test::ReadBytes(prefix / "system.reg"));
    std::vector<Values> values;
    for (const Text& key : kKeys) {
        values.emplace_back();
        if (RegFile::Node* node = file->Find(file->root(), key))
            for (const RegValue& value : file->Values(node)) values.back().emplace_back(value.name, value.type, value.data);
        std::sort(values.back().begin(), values.back().end());
    }
    return values;
}

struct Backup {
    test::TempFolder folder{"restore"};
    fs::path prefix = folder.path() / "prefix";
    fs::path file = folder.path() / "backup.reg";

    // Remove's own backup of both records, then both records removed.
    Backup() {
        fs::create_directories(prefix);
        test::WriteBytes(prefix / "system.reg", test::kHeader + "\n" + kRecords);
        WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix));
        const std::vector<RecordPlace> places = RecordPlaces(registry);
        RegEditExport backup;
        EXPECT_EQ(backup.AppendRecord(registry, {u"Odd\u00e9 Values", places[0]}), kErrorSuccess);
        EXPECT_EQ(backup.AppendRecord(registry, {u"Old", places[1]}), kErrorSuccess);
        const std::vector<std::uint8_t> bytes = backup.Bytes();
        test::WriteBytes(file, std::string(bytes.begin(), bytes.end()));
    }
    void RemoveRecords() {
        WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix));
        for (const Text& key : {kKeys[0], kKeys[2]}) EXPECT_EQ(registry.delete_tree(kHkeyLocalMachine, key, 0), kErrorSuccess);
        EXPECT_EQ(test::Status(registry.commit()), kErrorSuccess);
    }
};

// A restore as the command line makes it: a store of the prefix, read whole.
RestoreReport Restore(const fs::path& prefix, const fs::path& file, RestoreReplace replace = RestoreReplace::No,
                      RestoreMode mode = RestoreMode::Write, WriteFaultHook fault = {}) {
    WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix), std::move(fault));
    return RestoreBackup(registry, file, replace, mode);
}

std::vector<RestoredRecord::Outcome> Outcomes(const RestoreReport& report) {
    std::vector<RestoredRecord::Outcome> outcomes;
    for (const RestoredRecord& record : report.records) outcomes.push_back(record.outcome);
    return outcomes;
}

using Outcome = RestoredRecord::Outcome;

TEST(RestoreBackup, GivesBackEveryValueExactlyAndLeavesWhatIsThereAlone) {
    Backup backup;
    const auto before = ValuesIn(backup.prefix);
    ASSERT_EQ(before[0].size(), 9U);
    backup.RemoveRecords();
    ASSERT_TRUE(ValuesIn(backup.prefix)[0].empty());
    // What a writer killed before its rename left behind.
    const fs::path leftover = backup.prefix / ".system.reg.new-AbCdEf";
    test::WriteBytes(leftover, "partial");

    const RestoreReport dry = Restore(backup.prefix, backup.file, RestoreReplace::No, RestoreMode::DryRun);
    EXPECT_TRUE(dry.ok());
    EXPECT_EQ(Outcomes(dry), (std::vector<Outcome>{Outcome::Restored, Outcome::Restored}));
    EXPECT_TRUE(ValuesIn(backup.prefix)[0].empty()) << "a dry run writes nothing";

    const RestoreReport restored = Restore(backup.prefix, backup.file);
    EXPECT_TRUE(restored.written);
    EXPECT_EQ(Outcomes(restored), (std::vector<Outcome>{Outcome::Restored, Outcome::Restored}))
        << "the subkey goes with its record";
    // A text without its terminator can only be written in hex, which every
    // import, Wine's as well, gives its terminator back.
    auto expected = before;
    for (auto& [name, type, data] : expected[0])
        if (name == u"Unterminated") data.insert(data.end(), {0, 0});
    EXPECT_EQ(ValuesIn(backup.prefix), expected);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_NE(test::ReadBytes(backup.prefix / "system.reg").find("[Software\\\\Classes\\\\.txt]"), std::string::npos);

    const std::string after = test::ReadBytes(backup.prefix / "system.reg");
    const RestoreReport again = Restore(backup.prefix, backup.file);
    EXPECT_TRUE(again.written);
    EXPECT_EQ(Outcomes(again), (std::vector<Outcome>{Outcome::AlreadyThere, Outcome::AlreadyThere}));
    EXPECT_EQ(test::ReadBytes(backup.prefix / "system.reg"), after);  // nothing to write, nothing written
}

TEST(RestoreBackup, RefusesWhatItCannotPutBackAndWritesNothing) {
    struct Row {
        const char* name;
        std::string backup;  // UTF-8, made UTF-16 as Remove writes it
        RestoreReplace replace;
        const char* problem;
    };
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string uninstall = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    const Row rows[] = {
        {"not a backup", "hello\n", RestoreReplace::No, "not a registry file"},
        {"a key that is no record, even forced", header + "[HKEY_LOCAL_MACHINE\\Software]\n\"v\"=\"x\"\n",
         RestoreReplace::Yes, "line 3: \"HKEY_LOCAL_MACHINE\\Software\" is not a record"},
        {"the Uninstall key's own value, even forced", header + "[" + uninstall + "]\n\"v\"=\"x\"\n",
         RestoreReplace::Yes, "line 4: it gives the key"},
        {"a key beside the records", header + "[HKEY_LOCAL_MACHINE\\Software\\Evil]\n", RestoreReplace::No,
         "is not a record"},
        {"a link", header + "[" + uninstall + "\\Odd\\x00e9 Link]\n\"SymbolicLinkValue\"=hex(6):5c,00\n",
         RestoreReplace::Yes, "REG_LINK"},
        {"a good record beside a broken line", header + "[" + uninstall + "\\New]\n\"A\"=dword:123456789\n",
         RestoreReplace::No, "line 4: the data of the value \"A\""},
        {"a record there with other contents", header + "[" + uninstall + "\\Odd\u00e9 Values]\n@=\"other\"\n",
         RestoreReplace::No, "1 record is there with other contents"},
    };
    Backup backup;
    const std::string before = test::ReadBytes(backup.prefix / "system.reg");
    for (const Row& row : rows) {
        test::WriteBytes(backup.file, test::Utf16File(row.backup));
        const RestoreReport report = Restore(backup.prefix, backup.file, row.replace);
        EXPECT_FALSE(report.written) << row.name;
        ASSERT_FALSE(report.refusals.empty()) << row.name;
        EXPECT_NE(report.refusals.front().find(row.problem), std::string::npos) << row.name << ": " << report.refusals.front();
    }
    EXPECT_EQ(test::ReadBytes(backup.prefix / "system.reg"), before);
}

TEST(RestoreBackup, ReplacesARecordThereWithOtherContentsOnlyWhenForced) {
    Backup backup;
    const auto before = ValuesIn(backup.prefix);
    const std::string uninstall = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    test::WriteBytes(backup.file, test::Utf16File("Windows Registry Editor Version 5.00\n\n[" + uninstall +
                                                  "\\Odd\u00e9 Values]\n@=\"replaced\"\n"));
    EXPECT_EQ(Outcomes(Restore(backup.prefix, backup.file)), std::vector<Outcome>{Outcome::OtherContents});
    EXPECT_EQ(ValuesIn(backup.prefix), before);

    const RestoreReport forced = Restore(backup.prefix, backup.file, RestoreReplace::Yes);
    EXPECT_TRUE(forced.written);
    EXPECT_EQ(Outcomes(forced), std::vector<Outcome>{Outcome::Replaced});
    const auto after = ValuesIn(backup.prefix);
    EXPECT_EQ(after[0], (Values{{u"", 1, test::WideBytes(u"replaced")}}));
    EXPECT_TRUE(after[1].empty()) << "the old record's subkeys went with it";
    EXPECT_EQ(after[2], before[2]) << "the other record stays";
}

// A restore that reaches one file and not the other says so of each record:
// "Restored" only where the record is on disk.
TEST(RestoreBackup, ReportsEachFileAsItEndedUp) {
    Backup backup;
    const std::string uninstall = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    test::WriteBytes(backup.prefix / "user.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1\n\n#arch=win64\n");
    test::WriteBytes(backup.file, test::Utf16File("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\" +
                                                  uninstall + "\\Machine]\n@=\"m\"\n\n[HKEY_CURRENT_USER\\" + uninstall +
                                                  "\\User]\n@=\"u\"\n"));
    int creations = 0;
    const RestoreReport report = Restore(backup.prefix, backup.file, RestoreReplace::No, RestoreMode::Write,
                                         [&creations](WriteStep step) {
                                             return step == WriteStep::CreateTemporary && ++creations == 2 ? ENOSPC : 0;
                                         });
    EXPECT_FALSE(report.written);
    EXPECT_EQ(Outcomes(report), (std::vector<Outcome>{Outcome::Restored, Outcome::NotWritten}));
    ASSERT_EQ(report.failed.size(), 1U);
    EXPECT_EQ(report.failed.front().first, kHkeyCurrentUser);
    EXPECT_EQ(report.failed.front().second.kind, WriteFailureKind::DiskFull);
    EXPECT_NE(test::ReadBytes(backup.prefix / "system.reg").find("Uninstall\\\\Machine]"), std::string::npos);
    EXPECT_EQ(test::ReadBytes(backup.prefix / "user.reg").find("User]"), std::string::npos);
}

// A wineserver of the prefix and a restore: one already running is named
// with a stop command for this prefix; one that starts while the restored
// file is about to replace the old one must not load the old file, to write
// it back later over the restored records.
struct ServerCase {
    const char* behaviour;
    bool running_before;
};
void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.behaviour; }

class RestoreBesideAServer : public ::testing::TestWithParam<ServerCase> {
protected:
    void SetUp() override {
        if (test::Shell("command -v wineserver").empty()) GTEST_SKIP() << "Wine is not installed";
        backup.RemoveRecords();
        // A prefix that had a server once, so its server folder is known.
        test::Shell(Env() + "wineserver -p30 && " + Env() + "wineserver -k");
    }
    void TearDown() override { test::Shell(Env() + "wineserver -k"); }
    [[nodiscard]] std::string Env() const { return "WINEDEBUG=-all WINEPREFIX='" + backup.prefix.string() + "' "; }

    Backup backup;
};

TEST_P(RestoreBesideAServer, NeverLetsItLoadTheOldFile) {
    const Prefix prefix(backup.prefix);
    if (GetParam().running_before) test::Shell(Env() + "wineserver -p30");
    int started = -1;
    const RestoreReport report =
        Restore(backup.prefix, backup.file, RestoreReplace::No, RestoreMode::Write, [&](WriteStep step) {
            if (step == WriteStep::Rename && started < 0) test::Shell(Env() + "wineserver -p30", &started);
            return 0;
        });
    if (GetParam().running_before) {
        EXPECT_FALSE(report.written);
        ASSERT_EQ(report.failed.size(), 1U);
        EXPECT_EQ(report.failed.front().second.kind, WriteFailureKind::ServerRunning);
        EXPECT_TRUE(ValuesIn(backup.prefix)[0].empty()) << "restored while a server runs";
        return;
    }
    EXPECT_EQ(started, 2) << "wineserver gives up while another holds its lock";
    EXPECT_TRUE(report.written);
    EXPECT_FALSE(prefix.ServerRunning());
    EXPECT_EQ(ValuesIn(backup.prefix)[0].size(), 9U);
}

INSTANTIATE_TEST_SUITE_P(RealServer, RestoreBesideAServer,
                         ::testing::Values(ServerCase{"RunningBeforeIsNamedWithThisPrefix", true},
                                           ServerCase{"StartingAtTheRenameIsHeldOff", false}),
                         [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr::wine
