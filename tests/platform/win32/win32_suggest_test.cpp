// Suggest on the real registry and file system under Wine: the records of
// programs that are there, or that cannot be looked at, are never checked;
// a plainly stale one is.

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "catalogue/places.h"
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

// A record in the local machine's uninstall key of one registry view.
void WriteRecord(REGSAM view, TextView name, TextView display_name, TextView command, DWORD type) {
    const std::wstring path = W(Text(kUninstallKeyPath) + u'\\' + Text(name));
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    const std::wstring shown = W(display_name);
    const std::wstring uninstall = W(command);
    ::RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(shown.c_str()),
                     static_cast<DWORD>((shown.size() + 1) * sizeof(wchar_t)));
    ::RegSetValueExW(key, L"UninstallString", 0, type, reinterpret_cast<const BYTE*>(uninstall.c_str()),
                     static_cast<DWORD>((uninstall.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

void DeleteRecord(REGSAM view, TextView name) {
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, W(Text(kUninstallKeyPath) + u'\\' + Text(name)).c_str(), view, 0);
}

// A drive letter the system does not have.
Text AbsentDrive() {
    const DWORD drives = ::GetLogicalDrives();
    for (char16_t letter = u'Y'; letter > u'D'; --letter)
        if ((drives & (1UL << (letter - u'A'))) == 0) return Text(1, letter) + u":";
    return {};
}

fs::path Folder(const wchar_t* variable) {
    wchar_t buffer[MAX_PATH] = {};
    ::GetEnvironmentVariableW(variable, buffer, MAX_PATH);
    return buffer;
}

struct Record {
    const char16_t* suffix;
    REGSAM view;
    Text command;
    DWORD type;
    bool stale;
};

TEST(Win32Suggest, ChecksOnlyTheRecordWhoseProgramIsDefinitelyGone) {
    const Text tag = RunTag() + u"-suggest";
    const Text drive = AbsentDrive();
    ASSERT_FALSE(drive.empty());
    // The programs that are there.
    const fs::path program = Folder(L"ProgramW6432") / W(tag) / L"uninst.exe";
    const fs::path program32 = Folder(L"ProgramFiles(x86)") / W(tag + u"-32") / L"uninst.exe";
    for (const fs::path& file : {program, program32}) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "MZ";
    }
    // The live program and a gone one named by the short names this system gives.
    wchar_t short_program[MAX_PATH] = {};
    ASSERT_NE(::GetShortPathNameW(program.c_str(), short_program, MAX_PATH), 0U);
    const Text short_path = FromWide(short_program);
    ASSERT_NE(LowerCase(short_path), LowerCase(FromWide(program.wstring()))) << "no short name was made";
    const Text short_folder = short_path.substr(0, short_path.rfind(u'\\'));
    const std::vector<Record> records = {
        {u"short", KEY_WOW64_64KEY, u"\"" + short_path + u"\" /S", REG_SZ, false},
        {u"short_gone", KEY_WOW64_64KEY, short_folder + u"\\gone.exe", REG_SZ, true},
        {u"short_unresolved", KEY_WOW64_64KEY, u"C:\\PROGRA~1\\SSRSHO~1\\UNINST~1.EXE", REG_SZ, false},
        {u"root_relative", KEY_WOW64_64KEY, u"\\" + tag + u"-gone\\uninst.exe", REG_SZ, false},
        {u"expandable", KEY_WOW64_64KEY, u"\"%ProgramFiles%\\" + tag + u"\\uninst.exe\" /S", REG_EXPAND_SZ, false},
        {u"expandable32", KEY_WOW64_32KEY, u"\"%ProgramFiles%\\" + tag + u"-32\\uninst.exe\"", REG_EXPAND_SZ, false},
        {u"clickonce", KEY_WOW64_64KEY,
         u"rundll32.exe dfshim.dll,ShArpMaintain App.application, Culture=neutral, PublicKeyToken=0000000000000000, "
         u"processorArchitecture=msil",
         REG_SZ, false},
        {u"unplugged", KEY_WOW64_64KEY, drive + u"\\" + tag + u"\\uninst.exe", REG_SZ, false},
        {u"bare", KEY_WOW64_64KEY, u"notepad.exe /uninstall", REG_SZ, false},
        {u"stale", KEY_WOW64_64KEY, u"\"C:\\" + tag + u"-gone\\uninst.exe\" /S", REG_SZ, true},
    };
    std::map<Text, const Record*> by_key;
    for (const Record& record : records) {
        const Text key = tag + u"-" + record.suffix;
        WriteRecord(record.view, key, key, record.command, record.type);
        by_key[key] = &record;
    }

    Win32Registry registry;
    Win32Desktop desktop{u"suggest test"};
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    ListUninstallEntries(registry, form.ListView1(), desktop);
    form.PushButton3_Click();

    const EntryList& list = form.ListView1();
    std::size_t seen = 0;
    for (int p = 1; p <= list.Count(); ++p) {
        const auto it = by_key.find(list.SubItem(p, 3));
        if (it == by_key.end()) continue;
        ++seen;
        EXPECT_EQ(list.Checked(p), it->second->stale) << ToUtf8(it->first) << " target " << ToUtf8(list.SubItem(p, 2));
        // What Uninstall would start is the record's own command.
        EXPECT_EQ(list.Command(p), it->second->command) << ToUtf8(it->first);
    }
    EXPECT_EQ(seen, records.size());

    for (const Record& record : records) DeleteRecord(record.view, tag + u"-" + record.suffix);
    for (const fs::path& file : {program, program32}) fs::remove_all(file.parent_path());
}

// Key names of 254 and 255 characters, the registry's longest: listed with
// the record after them, and removed from the registry.
TEST(Win32Listing, ListsAndRemovesKeyNamesUpToTheLongest) {
    const Text tag = RunTag() + u"-long";
    const Text names[] = {tag + Text(254 - tag.size(), u'a'), tag + Text(255 - tag.size(), u'b'), tag + u"z-after"};
    for (const Text& name : names) WriteRecord(KEY_WOW64_64KEY, name, name.substr(0, 8), u"c:\\x\\u.exe", REG_SZ);

    Win32Registry registry;
    Win32Desktop desktop{u"listing test"};
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    std::vector<std::size_t> lengths;
    for (int p = 1; p <= list.Count(); ++p) {
        if (!list.SubItem(p, 3).starts_with(tag) || list.SubItem(p, 4) != kLocation64Bit) continue;
        lengths.push_back(list.SubItem(p, 3).size());
        list.SetChecked(p, list.SubItem(p, 3).size() > 250);
    }
    EXPECT_EQ(lengths, (std::vector<std::size_t>{254, 255, tag.size() + 7}));
    form.PushButton2_Click();

    const auto present = [](const Text& name) {
        HKEY key = nullptr;
        const LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(Text(kUninstallKeyPath) + u'\\' + name).c_str(), 0,
                                               KEY_READ | KEY_WOW64_64KEY, &key);
        if (status == ERROR_SUCCESS) ::RegCloseKey(key);
        return status == ERROR_SUCCESS;
    };
    EXPECT_FALSE(present(names[0]));
    EXPECT_FALSE(present(names[1]));
    EXPECT_TRUE(present(names[2]));
    for (const Text& name : names) DeleteRecord(KEY_WOW64_64KEY, name);
}

}  // namespace
}  // namespace ssr::win32
