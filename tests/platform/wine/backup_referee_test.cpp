// Real Wine as the referee of the backups: records of every value type, in
// both views and the current user's place, are made with Wine's own reg.exe,
// removed by the Linux program (the prefix store and the Qt desktop), and put
// back by importing the backup with Wine's own tools and with the program's
// restore; `reg export` of each record must then give the same bytes as
// before the removal. Import files of every rule Wine's regedit follows must
// give, restored by the program, what Wine's own import gives.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "platform/qt/qt_desktop.h"
#include "doubles/recording_skin_engine.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "import_cases.h"
#include "platform/wine/backups/backup_restore.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

namespace ssr {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::Shell;
using test::Utf16File;
using test::WriteBytes;

const std::string kMachine = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kMachine32 = "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kUser = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Each record's full path, as `reg export` is asked for it in the 64-bit view.
const std::vector<std::string> kRecordPaths = {kMachine + "SsrBackup.Types", kMachine + "SsrBackup.Ñandú 日本",
                                               kMachine32 + "SsrBackup.Old", kMachine32 + "SsrBackup.Types",
                                               kUser + "SsrBackup.Types"};

std::string Records() {
    std::string long_binary;
    for (int i = 0; i < 100; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", i * 7 % 256);
        long_binary += (i ? "," : "") + std::string(byte);
    }
    const std::string common = "\"DisplayName\"=\"Backup \\\"referee\\\" C:\\\\x\"\n"
                               "\"UninstallString\"=\"C:\\\\Gone\\\\unins000.exe /S\"\n";
    std::string reg = "Windows Registry Editor Version 5.00\n\n";
    for (const std::string& base : {kMachine, kMachine32, kUser}) {
        reg += "[" + base + "SsrBackup.Types]\n" + common +
               "@=\"default\"\n"
               "\"Empty\"=\"\"\n"
               "\"Expand\"=hex(2):25,00,50,00,41,00,54,00,48,00,25,00,00,00\n"
               "\"Multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,00,00\n"
               "\"Dword\"=dword:89abcdef\n"
               "\"Qword\"=hex(b):88,77,66,55,44,33,22,11\n"
               "\"Binary\"=hex:" + long_binary + "\n"
               "\"EmptyBinary\"=hex:\n"
               "\"None\"=hex(0):01,02\n"
               "\"EmptyNone\"=hex(0):\n"
               "\"Unterminated\"=hex(1):61,00,62,00\n"
               "\"LineBreak\"=hex(1):61,00,0a,00,62,00,00,00\n"
               "\"ShortDword\"=hex(4):01,02\n"
               "\"Odd type\"=hex(1234):07,08\n"
               "\"Back\\\\slash \\\"name\\\"\"=\"v\"\n"
               // Line breaks inside a name, in the escapes Wine's importers read.
               "\"Line\\nbreak\\r\\nname\"=\"v\"\n\n";
        reg += "[" + base + "SsrBackup.Types\\Sub\\Deep]\n\"x\"=dword:00000010\n\n";
        reg += "[" + base + "SsrBackup.Types\\Empty key]\n\n";
    }
    reg += "[" + kMachine + "SsrBackup.Ñandú 日本]\n" + common + "\"Ω\"=\"🎉\"\n\n";
    reg += "[" + kMachine32 + "SsrBackup.Old]\n" + common + "\n";
    // Same name in the other view, not checked: it must stay as it is.
    reg += "[" + kMachine32 + "SsrBackup.Ñandú 日本]\n" + common + "\"Other\"=\"view\"\n\n";
    return Utf16File(reg);
}

class BackupReferee : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Shell("command -v wine").empty()) return;
        s_folder = std::make_unique<test::TempFolder>("backup");
        s_prefix = s_folder->path() / "prefix";
        Shell(Env() + "wineboot -i >/dev/null 2>&1; " + Env() + "wineserver -w");
    }
    static void TearDownTestSuite() {
        if (!s_folder) return;
        Shell(Env() + "wineserver -k");
        s_folder.reset();
    }
    void SetUp() override {
        if (!s_folder) GTEST_SKIP() << "Wine is not installed";
        ASSERT_TRUE(fs::exists(s_prefix / "system.reg")) << "wineboot made no prefix";
    }

    static std::string Env() { return "WINEDEBUG=-all WINEARCH=win64 WINEPREFIX='" + s_prefix.string() + "' "; }
    static std::string WindowsPath(const fs::path& p) {
        std::string s = "Z:" + p.string();
        for (char& c : s) c = c == '/' ? '\\' : c;
        return s;
    }

    // Runs Wine's reg.exe with the prefix's 64-bit view and waits until its
    // wineserver is gone, so that the store may write. Arguments go on the
    // command line, where Wine takes them as UTF-8 (a batch file would not).
    static int Reg(const std::string& arguments) {
        int status = -1;
        Shell(Env() + "wine reg " + arguments + " /reg:64 >/dev/null", &status);
        return status;
    }
    static void WaitForServer() { Shell(Env() + "wineserver -w"); }
    // Stops the server at once; it writes the registry as it goes.
    static void StopServer() { Shell(Env() + "wineserver -k; " + Env() + "wineserver -w"); }

    // `reg export` of every record; an absent key gives an empty text.
    static std::vector<std::string> Exports(const std::string& tag) {
        std::vector<std::string> files;
        for (std::size_t i = 0; i < kRecordPaths.size(); ++i) {
            const fs::path file = s_folder->path() / (tag + std::to_string(i) + ".reg");
            fs::remove(file);
            Reg("export '" + kRecordPaths[i] + "' '" + WindowsPath(file) + "' /y");
            files.push_back(fs::exists(file) ? ReadBytes(file) : std::string());
        }
        WaitForServer();
        return files;
    }

    // Lists the prefix and checks every row of this test's records in one view.
    static fs::path RemoveWithTheProgram(std::vector<Text> names_and_places) {
        auto prefix = std::make_shared<const wine::Prefix>(s_prefix);
        WinePrefixRegistry registry(prefix);
        QtDesktop desktop(prefix);
        RecordingSkinEngine skin;
        Form1 form(registry, desktop, skin);
        ListUninstallEntries(registry, form.ListView1(), desktop);
        EntryList& list = form.ListView1();
        int checked = 0;
        for (int row = 1; row <= list.Count(); ++row) {
            const Text key = list.SubItem(row, 3) + u"|" + list.SubItem(row, 4);
            if (std::find(names_and_places.begin(), names_and_places.end(), key) != names_and_places.end()) {
                list.SetChecked(row, true);
                ++checked;
            }
        }
        EXPECT_EQ(checked, static_cast<int>(names_and_places.size()));
        form.PushButton2_Click();
        for (int row = 1; row <= list.Count(); ++row)
            EXPECT_FALSE(list.Checked(row)) << ToUtf8(list.SubItem(row, 3)) << " stayed";
        return s_folder->path();
    }

    static std::vector<fs::path> Backups() {
        std::vector<fs::path> files;
        const fs::path folder = s_prefix / "drive_c" / "users";
        for (const auto& user : fs::directory_iterator(folder)) {
            const fs::path backups = user.path() / "AppData" / "Local" / "Sweep Stale Records" / "Backups";
            if (!fs::is_directory(backups)) continue;
            for (const auto& file : fs::directory_iterator(backups)) files.push_back(file.path());
        }
        std::sort(files.begin(), files.end());
        return files;
    }

    // The 64-bit registry editor: Debian's plain `wine regedit` is the 32-bit one.
    static std::string Regedit64() {
        for (const char* wine64 : {"/usr/lib/wine/wine64", "/usr/lib64/wine/wine64"})
            if (fs::exists(wine64)) return wine64;
        return {};
    }

    // The program's --restore: the store of the prefix, read whole.
    static bool Restore(const fs::path& file) {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(s_prefix));
        const wine::RestoreReport report = wine::RestoreBackup(registry, file, wine::RestoreReplace::No, wine::RestoreMode::Write);
        for (const std::string& refusal : report.refusals) ADD_FAILURE() << refusal;
        return report.ok() && report.written;
    }

    // `reg export` of the current user's Uninstall key, as UTF-8; empty when there is none.
    static std::string UserUninstallExport(const std::string& tag) {
        const fs::path file = s_folder->path() / (tag + ".reg");
        fs::remove(file);
        Reg("export '" + test::kUninstallUser + "' '" + WindowsPath(file) + "' /y");
        StopServer();
        const std::string bytes = fs::exists(file) ? ReadBytes(file) : std::string();
        Text text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return ToUtf8(text);
    }

    static inline std::unique_ptr<test::TempFolder> s_folder;
    static inline fs::path s_prefix;
};

TEST_F(BackupReferee, ImportingTheBackupWithWinesToolsPutsEveryRecordBackByteForByte) {
    WriteBytes(s_folder->path() / "records.reg", Records());
    ASSERT_EQ(Reg("import '" + WindowsPath(s_folder->path() / "records.reg") + "'"), 0);
    const auto before = Exports("before");
    for (std::size_t i = 0; i < before.size(); ++i) ASSERT_FALSE(before[i].empty()) << kRecordPaths[i];
    Text first;
    for (std::size_t i = 2; i + 1 < before[0].size(); i += 2)
        first += static_cast<char16_t>(static_cast<unsigned char>(before[0][i]) |
                                       (static_cast<unsigned char>(before[0][i + 1]) << 8));
    ASSERT_NE(first.find(u"hex(1234):07,08"), Text::npos) << "Wine keeps an unusual type";
    {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(s_prefix));
        RegHandle key = 0;
        ASSERT_EQ(registry.open_key(kHkeyLocalMachine, Text(kUninstallKeyPath) + u"\\SsrBackup.Types", kKeyWow64_64Key, &key),
                  kErrorSuccess);
        std::uint32_t size = 0;
        EXPECT_EQ(registry.query_value_ex(key, u"Line\nbreak\r\nname", nullptr, nullptr, &size), kErrorSuccess)
            << "a value whose name holds line breaks is in the record";
        static_cast<void>(registry.close_key(key));
    }

    const std::vector<Text> checked = {u"SsrBackup.Types|64-bit", u"SsrBackup.Ñandú 日本|64-bit",
                                       u"SsrBackup.Old|32-bit", u"SsrBackup.Types|32-bit",
                                       u"SsrBackup.Types|Current user"};
    // Two rounds: the backup imported with reg.exe, then with the registry
    // editor. Both are asked for the 64-bit view: Debian's plain `wine` runs
    // their 32-bit builds, which would redirect the 64-bit keys.
    std::vector<std::string> importers = {"wine reg import 'FILE' /reg:64"};
    if (!Regedit64().empty()) importers.push_back(Regedit64() + " regedit /S 'FILE'");
    importers.push_back("the program's restore");
    std::size_t backups_before = Backups().size();
    for (const std::string& importer : importers) {
        RemoveWithTheProgram(checked);
        const auto gone = Exports("gone");
        for (std::size_t i = 0; i < gone.size(); ++i) EXPECT_TRUE(gone[i].empty()) << kRecordPaths[i] << " still there";
        EXPECT_EQ(Reg("query '" + kMachine32 + "SsrBackup.Ñandú 日本' /v Other"), 0)
            << "the same name in the 32-bit view was not checked and stays";
        WaitForServer();

        const auto backups = Backups();
        ASSERT_EQ(backups.size(), backups_before + 1) << "one file per click";
        backups_before = backups.size();
        const fs::path backup = backups.back();
        EXPECT_EQ(backup.extension(), ".reg");
        if (importer.find("FILE") == std::string::npos) {
            EXPECT_TRUE(Restore(backup)) << "restored by the program";
        } else {
            std::string command = importer;
            command.replace(command.find("FILE"), 4, WindowsPath(backup));
            Shell(Env() + command + "; " + Env() + "wineserver -w");
        }
        const auto after = Exports("after");
        for (std::size_t i = 0; i < before.size(); ++i)
            EXPECT_EQ(after[i], before[i]) << kRecordPaths[i] << " after " << importer;
    }
}

// Each rule of Wine's import, in one file per encoding and per Wine tool
// that reads it: what Wine's own import leaves in the registry, the
// program's restore of the same file must leave too.
TEST_F(BackupReferee, RestoringAnImportFileGivesWhatWinesImportGives) {
    if (Regedit64().empty()) GTEST_SKIP() << "no 64-bit Wine";
    struct Group {
        test::ImportEncoding encoding;
        test::Referee referee;
    };
    const Group groups[] = {{test::ImportEncoding::Utf16, test::Referee::Regedit},
                            {test::ImportEncoding::Ansi, test::Referee::Regedit},
                            {test::ImportEncoding::Utf8, test::Referee::Regedit},
                            {test::ImportEncoding::Utf16, test::Referee::RegExe}};
    for (const Group& group : groups) {
        std::string text;
        std::string rules;
        for (const test::ImportCase& row : test::kAcceptedCases) {
            if (row.encoding != group.encoding || row.referee != group.referee) continue;
            const std::string file = test::ImportFileText(row.encoding, row.rule, row.body, row.cr_only);
            // The header once, then each row's lines.
            text += text.empty() ? file : file.substr(file.find_first_of("\r\n") + 2);
            rules += std::string(row.rule) + " ";
        }
        if (text.empty()) continue;
        const fs::path file = s_folder->path() / "cases.reg";
        WriteBytes(file, test::ImportFileBytes(group.encoding, text));
        Reg("delete '" + test::kUninstallUser + "' /f");
        StopServer();
        const std::string importer = group.referee == test::Referee::RegExe
                                         ? "wine reg import '" + WindowsPath(file) + "' /reg:64"
                                         : Regedit64() + " regedit /S '" + WindowsPath(file) + "'";
        Shell(Env() + importer);
        StopServer();
        const std::string wine = UserUninstallExport("by-wine");
        ASSERT_FALSE(wine.empty()) << "Wine imported none of " << rules;

        Reg("delete '" + test::kUninstallUser + "' /f");
        StopServer();
        EXPECT_TRUE(Restore(file)) << rules;
        EXPECT_EQ(UserUninstallExport("by-program"), wine) << rules;
    }
}

}  // namespace
}  // namespace ssr
