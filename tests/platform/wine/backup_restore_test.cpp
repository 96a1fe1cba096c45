// Restoring a backup gives back every value of every key with its type and
// bytes exactly, whatever Remove's backup had to write in hex, and refuses
// what it cannot put back safely.

#include "platform/wine/backup_restore.h"

#include <gtest/gtest.h>

#include <tuple>

#include "catalogue/places.h"
#include "catalogue/reg_export.h"
#include "platform/wine/reg_file.h"
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

// Every value of every key above, as the file holds them.
std::vector<Values> ValuesIn(const fs::path& prefix) {
    const auto file = RegFile::Parse(test::ReadBytes(prefix / "system.reg"));
    std::vector<Values> values;
    for (const Text& key : kKeys) {
        values.emplace_back();
        if (RegFile::Node* node = file->Find(file->root(), key))
            for (const RegValue& value : file->Values(node)) values.back().emplace_back(value.name, value.type, value.data);
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

TEST(RestoreBackup, GivesBackEveryValueExactlyAndLeavesWhatIsThereAlone) {
    Backup backup;
    const auto before = ValuesIn(backup.prefix);
    ASSERT_EQ(before[0].size(), 9U);
    backup.RemoveRecords();
    ASSERT_TRUE(ValuesIn(backup.prefix)[0].empty());
    // What a writer killed before its rename left behind.
    const fs::path leftover = backup.prefix / ".system.reg.new-AbCdEf";
    test::WriteBytes(leftover, "partial");

    const RestoreReport restored = RestoreBackup(Prefix(backup.prefix), backup.file, {});
    EXPECT_TRUE(restored.written) << restored.problem;
    EXPECT_EQ(restored.records.size(), 2U);  // the subkey goes with its record
    EXPECT_EQ(ValuesIn(backup.prefix), before);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_NE(test::ReadBytes(backup.prefix / "system.reg").find("[Software\\\\Classes\\\\.txt]"), std::string::npos);

    const std::string after = test::ReadBytes(backup.prefix / "system.reg");
    const RestoreReport again = RestoreBackup(Prefix(backup.prefix), backup.file, {});
    EXPECT_TRUE(again.written);
    for (const RestoredRecord& record : again.records) EXPECT_EQ(record.outcome, RestoredRecord::Outcome::AlreadyThere);
    EXPECT_EQ(test::ReadBytes(backup.prefix / "system.reg"), after);  // nothing to write, nothing written
}

TEST(RestoreBackup, RefusesWhatItCannotPutBackAndWritesNothing) {
    struct Row {
        const char* name;
        std::string backup;       // UTF-8, made UTF-16 as Remove writes it
        const char* problem;
    };
    const Row rows[] = {
        {"not a backup", "hello\n", "not a registry file"},
        {"deletes a key", "Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\Software\\X]\n", "deletes keys"},
        {"another hive", "Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\.DEFAULT\\X]\n", "HKEY_USERS"},
        {"a broken value", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n\"A\"=dword:12\n",
         "neither a key nor a value"},
    };
    Backup backup;
    const std::string before = test::ReadBytes(backup.prefix / "system.reg");
    for (const Row& row : rows) {
        test::WriteBytes(backup.file, test::Utf16File(row.backup));
        const RestoreReport report = RestoreBackup(Prefix(backup.prefix), backup.file, {});
        EXPECT_FALSE(report.written) << row.name;
        EXPECT_NE(report.problem.find(row.problem), std::string::npos) << row.name << ": " << report.problem;
    }
    EXPECT_EQ(test::ReadBytes(backup.prefix / "system.reg"), before);
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
    RestoreOptions options;
    options.fault = [&](WriteStep step) {
        if (step == WriteStep::Rename && started < 0) test::Shell(Env() + "wineserver -p30", &started);
        return 0;
    };
    const RestoreReport report = RestoreBackup(prefix, backup.file, options);
    if (GetParam().running_before) {
        EXPECT_FALSE(report.written);
        EXPECT_NE(report.problem.find("\"WINEPREFIX='" + backup.prefix.string() + "' wineserver -k\""), std::string::npos)
            << report.problem;
        EXPECT_TRUE(ValuesIn(backup.prefix)[0].empty()) << "restored while a server runs";
        return;
    }
    EXPECT_EQ(started, 2) << "wineserver gives up while another holds its lock";
    EXPECT_TRUE(report.written) << report.problem;
    EXPECT_FALSE(prefix.ServerRunning());
    EXPECT_EQ(ValuesIn(backup.prefix)[0].size(), 9U);
}

INSTANTIATE_TEST_SUITE_P(RealServer, RestoreBesideAServer,
                         ::testing::Values(ServerCase{"RunningBeforeIsNamedWithThisPrefix", true},
                                           ServerCase{"StartingAtTheRenameIsHeldOff", false}),
                         [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr::wine
