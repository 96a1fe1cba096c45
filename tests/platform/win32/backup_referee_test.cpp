// The Windows build's backups, put back with the system's own tools: records
// of every value type in the 64-bit view, the 32-bit view and the current
// user's place are made with advapi32, removed by the program's Remove click
// (the Windows registry and desktop), then the backup is imported with
// reg.exe and with regedit.exe, and `reg export` of every record must give
// the same bytes as before the removal.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "platform/backup_name.h"
#include "doubles/recording_skin_engine.h"
#include "platform/win32/win32_desktop.h"
#include "platform/win32/win32_registry.h"
#include "platform/win32/wide.h"
#include "test_support.h"

namespace ssr::win32 {
namespace {

namespace fs = std::filesystem;
using testing::RunTag;
using testing::W;

const Text kUninstall(kUninstallKeyPath);

struct Place {
    HKEY root;
    REGSAM view;
    const char16_t* location;
    const char16_t* export_root;  // how reg.exe names it, in the 64-bit view
};

const Place kPlaces[] = {
    {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"64-bit", u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"},
    {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, u"32-bit",
     u"HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"},
    {HKEY_CURRENT_USER, 0, u"Current user", u"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"},
};

std::vector<std::uint8_t> Utf16(TextView text, bool terminated = true) {
    std::vector<std::uint8_t> bytes((text.size() + (terminated ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

void Set(const Place& place, TextView path, TextView name, DWORD type, const std::vector<std::uint8_t>& bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(place.root, W(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | place.view, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key, W(name).c_str(), 0, type, bytes.empty() ? nullptr : bytes.data(),
                               static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void MakeKey(const Place& place, TextView path) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(place.root, W(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | place.view, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

// A record with every value type, a subtree and an empty subkey.
void MakeRecord(const Place& place, TextView name) {
    const Text path = kUninstall + u"\\" + Text(name);
    Set(place, path, u"DisplayName", REG_SZ, Utf16(u"Backup \"referee\" C:\\x in " + Text(place.location)));
    Set(place, path, u"UninstallString", REG_SZ, Utf16(u"C:\\Gone\\unins000.exe /S"));
    Set(place, path, u"", REG_SZ, Utf16(u"default"));
    Set(place, path, u"Empty", REG_SZ, Utf16(u""));
    Set(place, path, u"\u03a9 \u65e5\u672c", REG_SZ, Utf16(u"\U0001F389"));
    Set(place, path, u"Expand", REG_EXPAND_SZ, Utf16(u"%SystemRoot%\\x"));
    Set(place, path, u"Multi", REG_MULTI_SZ, Utf16(Text(u"one\0two\0", 8)));
    Set(place, path, u"Dword", REG_DWORD, {0xef, 0xcd, 0xab, 0x89});
    Set(place, path, u"Qword", REG_QWORD, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
    std::vector<std::uint8_t> binary(100);
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i * 7);
    Set(place, path, u"Binary", REG_BINARY, binary);
    Set(place, path, u"EmptyBinary", REG_BINARY, {});
    Set(place, path, u"None", REG_NONE, {1, 2});
    Set(place, path, u"Unterminated", REG_SZ, Utf16(u"ab", false));
    Set(place, path, u"LineBreak", REG_SZ, Utf16(u"a\nb"));
    Set(place, path, u"ShortDword", REG_DWORD, {1, 2});
    Set(place, path, u"Odd type", 0x1234, {7, 8});
    Set(place, path, u"Back\\slash \"name\"", REG_SZ, Utf16(u"v"));
    Set(place, path + u"\\Sub\\Deep", u"x", REG_DWORD, {0x10, 0, 0, 0});
    MakeKey(place, path + u"\\Empty key");
}

// Runs a program of the system and waits for it; its exit code.
DWORD RunAndWait(const std::wstring& command_line) {
    std::wstring line = command_line;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &process))
        return static_cast<DWORD>(-1);
    ::WaitForSingleObject(process.hProcess, 120000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

fs::path BackupFolder() {
    wchar_t buffer[MAX_PATH * 4];
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH * 4);
    return fs::path(std::wstring(buffer, length)) / W(kBackupFolder);
}

std::set<fs::path> Backups() {
    std::set<fs::path> files;
    std::error_code ec;
    for (const auto& file : fs::directory_iterator(BackupFolder(), ec)) files.insert(file.path());
    return files;
}

class BackupReferee : public ::testing::Test {
protected:
    void TearDown() override {
        for (const Text& name : m_names)
            for (const Place& place : kPlaces) {
                HKEY parent = nullptr;
                if (::RegOpenKeyExW(place.root, W(kUninstall).c_str(), 0, KEY_ALL_ACCESS | place.view, &parent) ==
                    ERROR_SUCCESS) {
                    ::RegDeleteTreeW(parent, W(name).c_str());
                    ::RegDeleteKeyW(parent, W(name).c_str());
                    ::RegCloseKey(parent);
                }
            }
    }

    // `reg export` of every record in every place; an absent key gives an empty text.
    std::vector<std::string> Exports(const std::string& tag) {
        std::vector<std::string> files;
        const fs::path folder = fs::temp_directory_path();
        int index = 0;
        for (const Text& name : m_names)
            for (const Place& place : kPlaces) {
                const fs::path file = folder / (ToUtf8(RunTag()) + "-" + tag + std::to_string(index++) + ".reg");
                fs::remove(file);
                RunAndWait(L"reg.exe export \"" + W(Text(place.export_root) + name) + L"\" \"" + file.wstring() +
                    L"\" /y /reg:64");
                files.push_back(fs::exists(file) ? ReadFile(file) : std::string());
                fs::remove(file);
            }
        return files;
    }

    // The program's Remove click on every row of this test's records.
    void RemoveWithTheProgram() {
        Win32Registry registry;
        Win32Desktop desktop{u"backup referee"};
        RecordingSkinEngine skin;
        Form1 form(registry, desktop, skin);
        EntryList& list = form.ListView1();
        ListUninstallEntries(registry, list, desktop);
        int checked = 0;
        for (int row = 1; row <= list.Count(); ++row)
            if (std::find(m_names.begin(), m_names.end(), list.SubItem(row, 3)) != m_names.end()) {
                list.SetChecked(row, true);
                ++checked;
            }
        ASSERT_EQ(checked, static_cast<int>(m_names.size() * std::size(kPlaces)));
        form.PushButton2_Click();
        for (int row = 1; row <= list.Count(); ++row)
            EXPECT_FALSE(list.Checked(row)) << ToUtf8(list.SubItem(row, 3)) << " stayed";
    }

    std::vector<Text> m_names;
};

TEST_F(BackupReferee, ImportingTheBackupWithRegAndRegeditPutsEveryRecordBackByteForByte) {
    m_names = {RunTag() + u" types", RunTag() + u" \u00d1and\u00fa \u65e5\u672c"};
    for (const Place& place : kPlaces)
        for (const Text& name : m_names) MakeRecord(place, name);
    const auto before = Exports("before");
    for (std::size_t i = 0; i < before.size(); ++i) ASSERT_FALSE(before[i].empty()) << i;

    const std::vector<std::wstring> importers = {L"reg.exe import \"FILE\" /reg:64", L"regedit.exe /S \"FILE\""};
    for (const std::wstring& importer : importers) {
        const auto earlier = Backups();
        RemoveWithTheProgram();
        const auto gone = Exports("gone");
        for (std::size_t i = 0; i < gone.size(); ++i) EXPECT_TRUE(gone[i].empty()) << i << " still there";

        std::vector<fs::path> added;
        for (const fs::path& file : Backups())
            if (!earlier.contains(file)) added.push_back(file);
        ASSERT_EQ(added.size(), 1U) << "one file per click, beside the earlier ones";
        std::wstring command = importer;
        command.replace(command.find(L"FILE"), 4, added[0].wstring());
        EXPECT_EQ(RunAndWait(command), 0U) << ToUtf8(FromWide(command));
        const auto after = Exports("after");
        for (std::size_t i = 0; i < before.size(); ++i)
            EXPECT_EQ(after[i], before[i]) << "record " << i << " after " << ToUtf8(FromWide(importer));
    }
}

}  // namespace
}  // namespace ssr::win32
