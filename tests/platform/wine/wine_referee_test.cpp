// Real Wine as the referee: entries made by Wine's own reg tool read back
// exactly as Wine stored them, and a deletion by the store is what Wine sees
// afterwards, on a 64-bit and a 32-bit prefix with a large hive each.

#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <cstdio>
#include <map>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/target_verdict.h"
#include "platform/entry_list.h"
#include "platform/short_names.h"
#include "doubles/recording_skin_engine.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/prefix/prefix_environment.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

namespace ssr {
namespace {

namespace fs = std::filesystem;
using test::DeleteNow;
using test::ReadBytes;
using test::Shell;
using test::Utf16File;
using test::WideBytes;
using test::WriteBytes;

constexpr int kGeneratedEntries = 2000;
const std::string kUninstallWin = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const Text kU = kUninstallKeyPath;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string LowerCaseAscii(std::string s) {
    for (char& c : s) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    return s;
}

struct Prefix {
    const char* arch;
    fs::path path;
    [[nodiscard]] std::string Env() const {
        return "WINEDEBUG=-all WINEARCH=" + std::string(arch) + " WINEPREFIX=" + Quote(path.string()) + " ";
    }
    // reg.exe of the 64-bit prefix runs in the 32-bit view unless told.
    [[nodiscard]] std::string View() const { return std::string(arch) == "win64" ? " /reg:64" : ""; }
    [[nodiscard]] std::string WindowsPath(const fs::path& p) const {
        std::string s = "Z:" + p.string();
        for (char& c : s) c = c == '/' ? '\\' : c;
        return s;
    }
};

// A key as `reg export` writes it: its values in order of appearance.
struct ExportedKey {
    Text path;
    std::map<Text, wine::RegValue> values;  // by lower-cased name
};

std::vector<std::uint8_t> HexBytes(TextView text) {
    std::vector<std::uint8_t> bytes;
    unsigned value = 0;
    int digits = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char16_t c = i < text.size() ? text[i] : u',';
        if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) {
            value = value * 16 + static_cast<unsigned>(c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10);
            ++digits;
        } else if (digits) {
            bytes.push_back(static_cast<std::uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return bytes;
}

// Reads the quoted, escaped text that starts after `at`; moves `at` past its closing quote.
Text ExportString(TextView line, std::size_t& at) {
    Text out;
    for (++at; at < line.size() && line[at] != u'"'; ++at) {
        if (line[at] == u'\\' && at + 1 < line.size()) {
            const char16_t e = line[++at];
            out += e == u'n' ? u'\n' : e == u'r' ? u'\r' : e == u'0' ? u'\0' : e;
        } else {
            out += line[at];
        }
    }
    ++at;
    return out;
}

std::vector<ExportedKey> ParseExport(const fs::path& file) {
    const std::string raw = ReadBytes(file);
    Text text;
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8));
    std::vector<Text> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(u"\r\n", start);
        if (end == Text::npos) end = text.size();
        Text line = text.substr(start, end - start);
        start = end + 2;
        // Hex data continues on indented lines after a trailing backslash.
        if (!lines.empty() && !lines.back().empty() && lines.back().back() == u'\\') {
            lines.back().pop_back();
            lines.back() += line;
        } else {
            lines.push_back(std::move(line));
        }
    }
    const Text machine = u"[HKEY_LOCAL_MACHINE\\";
    std::vector<ExportedKey> keys;
    for (const Text& line : lines) {
        if (line.starts_with(machine)) {
            keys.push_back({line.substr(machine.size(), line.size() - machine.size() - 1), {}});
            continue;
        }
        if (keys.empty() || line.empty() || (line[0] != u'"' && line[0] != u'@')) continue;
        std::size_t at = 0;
        wine::RegValue value;
        if (line[0] == u'"') value.name = ExportString(line, at);
        else at = 1;
        const TextView data = TextView(line).substr(at + 1);
        if (data.starts_with(u"\"")) {
            std::size_t d = 0;
            value.type = kRegSz;
            value.data = WideBytes(ExportString(data, d));
        } else if (data.starts_with(u"dword:")) {
            value.type = kRegDword;
            const auto v = static_cast<std::uint32_t>(std::stoul(ToUtf8(data.substr(6)), nullptr, 16));
            value.data = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
        } else if (data.starts_with(u"hex:")) {
            value.type = kRegBinary;
            value.data = HexBytes(data.substr(4));
        } else if (data.starts_with(u"hex(")) {
            const std::size_t close = data.find(u"):");
            value.type = static_cast<std::uint32_t>(std::stoul(ToUtf8(data.substr(4, close - 4)), nullptr, 16));
            value.data = HexBytes(data.substr(close + 2));
        }
        keys.back().values[LowerCase(value.name)] = value;
    }
    return keys;
}

// The store's view of a subtree, in the same shape and order as an export.
void Collect(wine::RegFile& file, wine::RegFile::Node* node, std::vector<ExportedKey>& out) {
    ExportedKey key{wine::RegFile::PathOf(node), {}};
    for (const auto& v : file.Values(node)) key.values[LowerCase(v.name)] = v;
    out.push_back(std::move(key));
    for (auto* child : node->children) Collect(file, child, out);
}

std::vector<ExportedKey> StoreView(const fs::path& prefix) {
    auto file = wine::RegFile::Parse(ReadBytes(prefix / "system.reg"));
    std::vector<ExportedKey> keys;
    if (!file) return keys;
    if (auto* node = file->Find(file->root(), kU)) Collect(*file, node, keys);
    return keys;
}

void ExpectSame(const std::vector<ExportedKey>& wine_view, const std::vector<ExportedKey>& store_view) {
    ASSERT_EQ(wine_view.size(), store_view.size());
    for (std::size_t i = 0; i < wine_view.size(); ++i) {
        ASSERT_EQ(ToUtf8(wine_view[i].path), ToUtf8(store_view[i].path)) << "key " << i << " (order or name)";
        ASSERT_EQ(wine_view[i].values.size(), store_view[i].values.size()) << ToUtf8(wine_view[i].path);
        for (const auto& [name, value] : wine_view[i].values) {
            const auto it = store_view[i].values.find(name);
            ASSERT_NE(it, store_view[i].values.end()) << ToUtf8(wine_view[i].path) << " " << ToUtf8(name);
            EXPECT_EQ(it->second.name, value.name);
            EXPECT_EQ(it->second.type, value.type) << ToUtf8(name);
            EXPECT_EQ(it->second.data, value.data) << ToUtf8(wine_view[i].path) << " " << ToUtf8(name);
        }
    }
}

std::string Hex8(int v) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(v));
    return text;
}

// The entries Wine is asked to make: every value type, non-ASCII names, a
// nested subtree, and a large number of ordinary entries.
std::string ImportFile() {
    const std::string u = "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    std::string reg = "Windows Registry Editor Version 5.00\n\n";
    reg += u + "Пример 日本語]\n\"DisplayName\"=\"Ñandú 🎉 \\\"quoted\\\" back\\\\slash\"\n"
                "\"UninstallString\"=\"C:\\\\Program Files\\\\Ñandú\\\\uninst.exe\"\n\"Ω\"=hex(2):25,00,50,00,41,00,54,00,"
                "48,00,25,00,00,00\n\"Empty\"=\"\"\n\"None\"=hex(0):01,02\n\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
                "@=\"default\"\n\n";
    reg += u + "Пример 日本語\\Sub\\Deep]\n\"x\"=dword:00000010\n\n";
    reg += "[HKEY_LOCAL_MACHINE\\Software\\SsrParent\\Only]\n\"v\"=\"1\"\n\n";
    for (int i = 0; i < kGeneratedEntries; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "App%05d", i);
        reg += u + name + "]\n\"DisplayName\"=\"Application " + name + "\"\n\"UninstallString\"=\"C:\\\\Program Files\\\\" +
               name + "\\\\unins000.exe\"\n\"EstimatedSize\"=dword:" + Hex8(1000 + i) + "\n\"Blob\"=hex:" +
               std::to_string(10 + i % 90) + ",00,ff\n\n";
        if (i % 500 == 7) reg += u + name + "\\Parts\\Core]\n\"Id\"=\"" + name + "\"\n\n";
    }
    return Utf16File(reg);
}

std::string AddScript(const Prefix& p, const fs::path& import) {
    const std::string key = "\"" + kUninstallWin + "\\RegAdd Entry";
    const std::string v = p.View() + " /f >nul\r\n";
    std::string s = "@echo off\r\nreg import " + p.WindowsPath(import) + p.View() + " >nul\r\n";
    s += "reg add " + key + "\" /v DisplayName /d \"Added by reg add\"" + v;
    s += "reg add " + key + "\" /v UninstallString /d \"c:\\windows\\notepad.exe /x\"" + v;
    s += "reg add " + key + "\" /v Expand /t REG_EXPAND_SZ /d \"%%SystemRoot%%\\system32\"" + v;
    s += "reg add " + key + "\" /v Multi /t REG_MULTI_SZ /d \"one\\0two\"" + v;
    s += "reg add " + key + "\" /v Count /t REG_DWORD /d 42" + v;
    s += "reg add " + key + "\" /v Big /t REG_QWORD /d 0x1122334455667788" + v;
    s += "reg add " + key + "\" /v Raw /t REG_BINARY /d 00ff10" + v;
    s += "reg add " + key + "\\Child\" /v CaseName /d first" + v;
    s += "reg add \"" + kUninstallWin + "\\REGADD ENTRY\\child\" /v CASENAME /d second" + v;
    return s;
}

class RealWine : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        if (Shell("command -v wine").empty()) return;
        s_folder = std::make_unique<test::TempFolder>("referee");
        s_prefixes["win64"] = {"win64", s_folder->path() / "win64"};
        s_prefixes["win32"] = {"win32", s_folder->path() / "win32"};
        // The two first starts take the longest; let them overlap.
        std::string boot;
        for (const auto& [arch, p] : s_prefixes)
            boot += "(" + p.Env() + "wineboot -i >/dev/null 2>&1; " + p.Env() + "wineserver -w) & ";
        Shell(boot + "wait");
    }
    static void TearDownTestSuite() {
        for (const auto& [arch, p] : s_prefixes) Shell(p.Env() + "wineserver -k");
        s_prefixes.clear();
        s_folder.reset();
    }
    void SetUp() override {
        if (!s_folder) GTEST_SKIP() << "Wine is not installed";
        m_prefix = s_prefixes[GetParam()];
        if (!fs::exists(m_prefix.path / "system.reg")) GTEST_FAIL() << "wineboot made no prefix";
    }
    [[nodiscard]] std::vector<ExportedKey> WineView(const std::string& name) const {
        const fs::path out = s_folder->path() / (std::string(m_prefix.arch) + "-" + name + ".reg");
        Shell(m_prefix.Env() + "wine reg export '" + kUninstallWin + "' '" + m_prefix.WindowsPath(out) + "'" +
            m_prefix.View() + " /y; " + m_prefix.Env() + "wineserver -w");
        return ParseExport(out);
    }

    Prefix m_prefix;
    static inline std::unique_ptr<test::TempFolder> s_folder;
    static inline std::map<std::string, Prefix> s_prefixes;
};

TEST_P(RealWine, ReadsWhatWineStoredAndDeletesWhatWineThenMisses) {
    const fs::path import = s_folder->path() / (std::string(m_prefix.arch) + "-import.reg");
    WriteBytes(import, ImportFile());
    WriteBytes(m_prefix.path / "drive_c" / "ssr-add.cmd", AddScript(m_prefix, import));
    Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-add.cmd'; " + m_prefix.Env() + "wineserver -w");

    // What reg add stored, value by value.
    {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
        RegHandle key = 0;
        ASSERT_EQ(registry.open_key(kHkeyLocalMachine, kU + u"\\regadd entry", &key), kErrorSuccess);
        const auto expect = [&](TextView name, std::uint32_t type, std::vector<std::uint8_t> bytes) {
            std::uint32_t t = 0;
            std::uint32_t size = 0;
            ASSERT_EQ(registry.query_value_ex(key, name, &t, nullptr, &size), kErrorSuccess) << ToUtf8(name);
            std::vector<std::uint8_t> data(size);
            ASSERT_EQ(registry.query_value_ex(key, name, &t, data.data(), &size), kErrorSuccess);
            EXPECT_EQ(t, type) << ToUtf8(name);
            EXPECT_EQ(data, bytes) << ToUtf8(name);
        };
        expect(u"Expand", kRegExpandSz, WideBytes(u"%SystemRoot%\\system32"));
        expect(u"Multi", kRegMultiSz, WideBytes(Text(u"one\0two\0", 8)));
        expect(u"Count", kRegDword, {42, 0, 0, 0});
        expect(u"Big", 11, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});
        expect(u"Raw", kRegBinary, {0x00, 0xff, 0x10});
        RegHandle child = 0;
        ASSERT_EQ(registry.open_key(key, u"CHILD", &child), kErrorSuccess);
        char16_t name[256];
        std::uint32_t length = 256;
        ASSERT_EQ(registry.enum_key_ex(key, 0, name, &length, nullptr, nullptr), kErrorSuccess);
        EXPECT_EQ(Text(name, length), u"Child") << "one key, spelt as first made";
        EXPECT_EQ(registry.enum_key_ex(key, 1, name, &length, nullptr, nullptr), kErrorNoMoreItems);
        EntryList list;
        ScriptedDesktop desktop;
        ListUninstallEntries(registry, list, desktop);
        EXPECT_EQ(list.Count(), kGeneratedEntries + 2);
        bool found = false;
        for (int i = 1; i <= list.Count(); ++i) found |= list.SubItem(i, 3) == u"Пример 日本語";
        EXPECT_TRUE(found);
    }

    // Everything Wine lists below the uninstall key, in Wine's order, with the same values.
    const auto before = WineView("before");
    ASSERT_GT(before.size(), static_cast<std::size_t>(kGeneratedEntries));
    ExpectSame(before, StoreView(m_prefix.path));

    // While a wineserver runs, nothing is written.
    Shell(m_prefix.Env() + "wineserver -p");
    ASSERT_TRUE(wine::Prefix(m_prefix.path).ServerRunning());
    const std::string unchanged = ReadBytes(m_prefix.path / "system.reg");
    {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
        EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\App00007"), kErrorSharingViolation);
    }
    EXPECT_EQ(ReadBytes(m_prefix.path / "system.reg"), unchanged);
    Shell(m_prefix.Env() + "wineserver -k; " + m_prefix.Env() + "wineserver -w");
    ASSERT_FALSE(wine::Prefix(m_prefix.path).ServerRunning());

    // A server started with another TMPDIR keeps its lock where we do not look; it is still seen.
    {
        const fs::path elsewhere = m_prefix.path.parent_path() / "other-tmpdir";
        fs::create_directories(elsewhere);
        Shell("TMPDIR=" + Quote(elsewhere.string()) + " " + m_prefix.Env() + "wineserver -p");
        // wineserver -p returns before the server has settled in its folder.
        bool seen = false;
        for (int tries = 0; tries < 100 && !seen; ++tries) {
            seen = wine::Prefix(m_prefix.path).ServerRunning();
            if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(seen);
        Shell("TMPDIR=" + Quote(elsewhere.string()) + " " + m_prefix.Env() + "wineserver -k; TMPDIR=" +
              Quote(elsewhere.string()) + " " + m_prefix.Env() + "wineserver -w");
        ASSERT_FALSE(wine::Prefix(m_prefix.path).ServerRunning());
    }

    {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
        ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Пример 日本語"), kErrorSuccess);
        ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\app00007"), kErrorSuccess);
    }
    {
        // A parent whose only child goes keeps existing for Wine too.
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
        ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, u"Software\\SsrParent\\Only"), kErrorSuccess);
    }
    std::string check = "@echo off\r\n";
    for (const char* key : {"Uninstall\\App00007", "Uninstall\\App00008"})
        check += "reg query \"" + kUninstallWin.substr(0, kUninstallWin.size() - 9) + key + "\"" + m_prefix.View() +
                 " >nul 2>&1\r\necho %errorlevel%\r\n";
    for (const char* key : {"HKLM\\Software\\SsrParent", "HKLM\\Software\\SsrParent\\Only"})
        check += std::string("reg query \"") + key + "\"" + m_prefix.View() + " >nul 2>&1\r\necho %errorlevel%\r\n";
    WriteBytes(m_prefix.path / "drive_c" / "ssr-check.cmd", check);
    const std::string answers = Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-check.cmd' | tr -d '\\r'");
    EXPECT_EQ(answers, "1\n0\n0\n1\n") << "deleted entry, kept entry, parent, deleted only child";
    const auto after = WineView("after");
    std::vector<ExportedKey> expected;
    for (const auto& key : before) {
        const Text p = LowerCase(key.path);
        const Text a = LowerCase(kU + u"\\App00007");
        const Text b = LowerCase(kU + u"\\Пример 日本語");
        if (p == a || p.starts_with(a + u"\\") || p == b || p.starts_with(b + u"\\")) continue;
        expected.push_back(key);
    }
    ExpectSame(after, expected);
}

// The three places of records as Wine's reg makes them: the same key name in
// the 64-bit view, the 32-bit view and under the current user, each with a
// subtree. The listing shows each where Wine put it; Remove deletes a row's
// key in its place only, and `reg query` in each view agrees afterwards.
TEST_P(RealWine, ListsAndRemovesInEachPlaceAsWineSeesThem) {
    const bool win64 = std::string(m_prefix.arch) == "win64";
    const std::string u = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const auto add = [&](const std::string& root, const std::string& key, const std::string& name,
                         const std::string& view) {
        return "reg add \"" + root + "\\" + u + key + "\" /v DisplayName /d \"" + name + "\" " + view +
               " /f >nul\r\nreg add \"" + root + "\\" + u + key + "\" /v UninstallString /d \"c:\\" + key +
               "\\u.exe\" " + view + " /f >nul\r\nreg add \"" + root + "\\" + u + key + "\\Sub\\Deep\" /v x /d y " +
               view + " /f >nul\r\n";
    };
    // A 32-bit prefix has one view: /reg:64 names the same keys there.
    std::string script = "@echo off\r\n";
    script += add("HKLM", "SsrPlace", "Place 64", "/reg:64") + add("HKLM", "SsrPlace", "Place 32", "/reg:32");
    script += add("HKLM", "SsrOnly32", "Only 32", "/reg:32") + add("HKCU", "SsrPlace", "Place user", "/reg:64");
    script += add("HKCU", "SsrOnlyUser", "Only user", "/reg:64");
    WriteBytes(m_prefix.path / "drive_c" / "ssr-places.cmd", script);
    Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-places.cmd'; " + m_prefix.Env() + "wineserver -w");

    WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
    EXPECT_EQ(registry.has_32bit_view(), win64);
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    std::vector<std::pair<Text, Text>> ours;  // display name, location
    for (int i = 1; i <= list.Count(); ++i)
        if (list.SubItem(i, 3).starts_with(u"Ssr")) ours.emplace_back(list.ItemText(i), list.SubItem(i, 4));
    const std::vector<std::pair<Text, Text>> expected =
        win64 ? std::vector<std::pair<Text, Text>>{{u"Place 64", kLocation64Bit},
                                                   {u"Only 32", kLocation32Bit},
                                                   {u"Place 32", kLocation32Bit},
                                                   {u"Only user", kLocationCurrentUser},
                                                   {u"Place user", kLocationCurrentUser}}
              : std::vector<std::pair<Text, Text>>{{u"Only 32", kLocationMachine},
                                                   {u"Place 32", kLocationMachine},
                                                   {u"Only user", kLocationCurrentUser},
                                                   {u"Place user", kLocationCurrentUser}};
    EXPECT_EQ(ours, expected);

    // Remove the 32-bit "SsrPlace" (the machine's on a 32-bit prefix) and the
    // user's "SsrOnlyUser"; every other row stays.
    const Text removed_machine = u"Place 32";
    for (int i = 1; i <= list.Count(); ++i)
        list.SetChecked(i, list.ItemText(i) == removed_machine || list.ItemText(i) == u"Only user");
    const int before = list.Count();
    form.PushButton2_Click();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(list.Count(), before - 2);

    std::string check = "@echo off\r\n";
    const std::vector<std::pair<std::string, std::string>> queries = {
        {"HKLM\\" + u + "SsrPlace", "/reg:64"},     {"HKLM\\" + u + "SsrPlace", "/reg:32"},
        {"HKLM\\" + u + "SsrOnly32", "/reg:32"},    {"HKLM\\" + u + "SsrOnly32\\Sub", "/reg:32"},
        {"HKCU\\" + u + "SsrPlace\\Sub", "/reg:64"}, {"HKCU\\" + u + "SsrOnlyUser", "/reg:64"},
        {"HKCU\\" + u + "SsrOnlyUser\\Sub\\Deep", "/reg:64"}};
    for (const auto& [key, view] : queries)
        check += "reg query \"" + key + "\" " + view + " >nul 2>&1\r\necho %errorlevel%\r\n";
    WriteBytes(m_prefix.path / "drive_c" / "ssr-places-check.cmd", check);
    const std::string answers = Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-places-check.cmd' | tr -d '\\r'; " +
                                      m_prefix.Env() + "wineserver -w");
    // 0: still there, 1: gone.
    EXPECT_EQ(answers, win64 ? "0\n1\n0\n0\n0\n1\n1\n" : "1\n1\n0\n0\n0\n1\n1\n")
        << "64-bit SsrPlace, 32-bit SsrPlace, SsrOnly32 and its subtree, the user's SsrPlace subtree, the removed "
           "user record and its subtree";
}

// A record that is a registry link, and a record with a link inside, as
// wineserver keeps them in system.reg (reg.exe cannot make links). Wine reads
// the link record as its target; so does the listing. Remove takes the links
// and leaves the target whole.
TEST_P(RealWine, ListsALinkRecordAsItsTargetAndRemovesOnlyTheLinks) {
    const std::string u = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::string view = m_prefix.View();
    std::string script = "@echo off\r\n";
    script += "reg add \"HKLM\\Software\\SsrLinkTarget\" /v DisplayName /d \"Linked target\"" + view + " /f >nul\r\n";
    script += "reg add \"HKLM\\Software\\SsrLinkTarget\" /v UninstallString /d c:\\t\\u.exe" + view + " /f >nul\r\n";
    script += "reg add \"HKLM\\Software\\SsrLinkTarget\\Deep\" /v x /d y" + view + " /f >nul\r\n";
    script += "reg add \"HKLM\\" + u + "SsrLinkHolder\" /v DisplayName /d Holder" + view + " /f >nul\r\n";
    script += "reg add \"HKLM\\" + u + "SsrLinkHolder\" /v UninstallString /d \"c:\\h\\u.exe\"" + view + " /f >nul\r\n";
    WriteBytes(m_prefix.path / "drive_c" / "ssr-link.cmd", script);
    Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-link.cmd'; " + m_prefix.Env() + "wineserver -w");

    std::string target_hex;
    for (const char c : std::string("\\Registry\\Machine\\Software\\SsrLinkTarget")) {
        char bytes[8];
        std::snprintf(bytes, sizeof bytes, "%02x,00,", static_cast<unsigned char>(c));
        target_hex += bytes;
    }
    target_hex.pop_back();
    const std::string section = "Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\";
    const auto link = [&](const std::string& path) {
        return "\n[" + section + path + "] 1700000000\n#time=1d9e0c0a0b0c0d0\n#link\n\"SymbolicLinkValue\"=hex(6):" +
               target_hex + "\n";
    };
    WriteBytes(m_prefix.path / "system.reg",
               ReadBytes(m_prefix.path / "system.reg") + link("SsrLinkRecord") + link("SsrLinkHolder\\\\Inner"));
    const std::string shown = Shell(m_prefix.Env() + "wine reg query \"HKLM\\" + u + "SsrLinkRecord\" /v DisplayName" +
                                    view + "; " + m_prefix.Env() + "wineserver -w");
    ASSERT_NE(shown.find("Linked target"), std::string::npos) << "Wine follows the link: " << shown;

    WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    Text listed;
    for (int i = 1; i <= list.Count(); ++i) {
        if (list.SubItem(i, 3) == u"SsrLinkRecord") listed = list.ItemText(i);
        list.SetChecked(i, list.SubItem(i, 3) == u"SsrLinkRecord" || list.SubItem(i, 3) == u"SsrLinkHolder");
    }
    EXPECT_EQ(listed, u"Linked target");
    form.PushButton2_Click();
    EXPECT_TRUE(desktop.boxes.empty()) << ToUtf8(desktop.boxes.front().prompt);

    std::string check = "@echo off\r\n";
    for (const std::string& key : {"HKLM\\" + u + "SsrLinkRecord", "HKLM\\" + u + "SsrLinkHolder",
                                  std::string("HKLM\\Software\\SsrLinkTarget\\Deep")})
        check += "reg query \"" + key + "\"" + view + " >nul 2>&1\r\necho %errorlevel%\r\n";
    WriteBytes(m_prefix.path / "drive_c" / "ssr-link-check.cmd", check);
    const std::string answers = Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-link-check.cmd' | tr -d '\\r'; " +
                                      m_prefix.Env() + "wineserver -w");
    EXPECT_EQ(answers, "1\n1\n0\n") << "the link record, the record holding a link, the target's subtree";
}

// Key names of 254 and 255 characters, the registry's longest, as Wine's reg
// makes them: listed with the record after them, and removed for Wine too.
TEST_P(RealWine, ListsAndRemovesKeyNamesUpToTheLongest) {
    const std::string u = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::string view = m_prefix.View();
    const std::string names[] = {"SsrLong" + std::string(247, 'a'), "SsrLong" + std::string(248, 'b'), "SsrLongZ After"};
    std::string script = "@echo off\r\n";
    for (const std::string& name : names) {
        script += "reg add \"HKLM\\" + u + name + "\" /v DisplayName /d \"" + name.substr(0, 8) + "\"" + view + " /f >nul\r\n";
        script += "reg add \"HKLM\\" + u + name + "\" /v UninstallString /d c:\\x\\u.exe" + view + " /f >nul\r\n";
    }
    WriteBytes(m_prefix.path / "drive_c" / "ssr-long.cmd", script);
    Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-long.cmd'; " + m_prefix.Env() + "wineserver -w");

    WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    std::vector<std::size_t> lengths;
    for (int i = 1; i <= list.Count(); ++i) {
        if (!list.SubItem(i, 3).starts_with(u"SsrLong")) continue;
        lengths.push_back(list.SubItem(i, 3).size());
        list.SetChecked(i, list.SubItem(i, 3).size() > 250);
    }
    EXPECT_EQ(lengths, (std::vector<std::size_t>{254, 255, 14}));
    EXPECT_TRUE(desktop.boxes.empty());
    form.PushButton2_Click();
    EXPECT_TRUE(desktop.boxes.empty());

    std::string check = "@echo off\r\n";
    for (const std::string& name : names)
        check += "reg query \"HKLM\\" + u + name + "\"" + view + " >nul 2>&1\r\necho %errorlevel%\r\n";
    WriteBytes(m_prefix.path / "drive_c" / "ssr-long-check.cmd", check);
    const std::string answers = Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-long-check.cmd' | tr -d '\\r'; " +
                                      m_prefix.Env() + "wineserver -w");
    EXPECT_EQ(answers, "1\n1\n0\n") << "254 and 255 characters removed, the record after them kept";
}

// The short name Wine gives `long_name` in the Windows folder `folder`, as
// its own `dir /x` shows it.
std::string WineShortNameOf(const Prefix& p, const std::string& folder, const std::string& long_name) {
    WriteBytes(p.path / "drive_c" / "ssr-dir.cmd", "@echo off\r\ndir /x \"" + folder + "\"\r\n");
    const std::string listing =
        Shell(p.Env() + "wine cmd /c 'c:\\ssr-dir.cmd' | tr -d '\\r'; " + p.Env() + "wineserver -w");
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!line.ends_with(" " + long_name)) continue;
        const std::string before = line.substr(0, line.size() - long_name.size() - 1);
        const std::size_t last = before.find_last_not_of(' ');
        return before.substr(before.find_last_of(' ', last) + 1, last - before.find_last_of(' ', last));
    }
    return {};
}

// A file test with the Linux build's rules: Windows paths looked up in the prefix.
class PrefixDesktop final : public ScriptedDesktop {
public:
    PrefixDesktop(const fs::path& prefix, Registry& hives)
        : m_prefix(prefix), m_environment(wine::PrefixEnvironment::FromHives(hives)) {}
    FileAnswer QueryFileState(TextView path) noexcept override { return m_prefix.WindowsPathState(path); }
    std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) override {
        return m_environment.Value(name, view);
    }

private:
    wine::Prefix m_prefix;
    wine::PrefixEnvironment m_environment;
};

// A program named by the short names Wine itself gives is there; one named
// by short names nothing here makes, or without a drive, cannot be told; a
// file gone from a folder named by its short name is gone.
TEST_P(RealWine, SuggestFindsProgramsByWineShortNames) {
    const std::string folder = "Ssr Short Names Program";
    const std::string program = "Uninstall Program.exe";
    fs::create_directories(m_prefix.path / "drive_c" / folder);
    WriteBytes(m_prefix.path / "drive_c" / folder / program, "MZ");
    const std::string short_folder = WineShortNameOf(m_prefix, "C:\\.", folder);
    const std::string short_program = WineShortNameOf(m_prefix, "C:\\" + folder, program);
    ASSERT_FALSE(short_folder.empty() || short_program.empty());
    EXPECT_EQ(ToUtf8(WineShortName(FromUtf8(folder))), short_folder) << "the same hash as this Wine";
    EXPECT_EQ(ToUtf8(WineShortName(FromUtf8(program))), short_program);

    struct Record {
        std::string key;
        std::string command;
        bool stale;
        Text reason;
    };
    const std::string live = "C:\\" + short_folder + "\\" + short_program;
    const std::vector<Record> records = {
        {"SsrShortLive", "\"" + live + "\" /S", false, u""},
        {"SsrShortLower", LowerCaseAscii(live), false, u""},
        {"SsrShortGone", "C:\\" + short_folder + "\\gone.exe", true, u""},
        {"SsrShortWindowsStyle", "C:\\SSRSHO~1\\UNINST~1.EXE", false, kReasonShortName},
        {"SsrShortRootRelative", "\\" + folder + "\\" + program, false, kReasonNotFullPath},
        {"SsrShortDriveRelative", "C:" + folder + "\\" + program, false, kReasonNotFullPath},
        {"SsrShortUnix", "/usr/bin/env true", false, kReasonNotFullPath},
    };
    std::string script = "@echo off\r\n";
    const std::string u = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    for (const Record& r : records) {
        script += "reg add \"" + u + r.key + "\" /v DisplayName /d " + r.key + m_prefix.View() + " /f >nul\r\n";
        std::string escaped;
        for (const char c : r.command) escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
        script += "reg add \"" + u + r.key + "\" /v UninstallString /d \"" + escaped + "\"" + m_prefix.View() +
                  " /f >nul\r\n";
    }
    WriteBytes(m_prefix.path / "drive_c" / "ssr-short.cmd", script);
    Shell(m_prefix.Env() + "wine cmd /c 'c:\\ssr-short.cmd'; " + m_prefix.Env() + "wineserver -w");

    WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(m_prefix.path));
    PrefixDesktop desktop(m_prefix.path, registry);
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    form.PushButton3_Click();
    std::size_t seen = 0;
    for (int i = 1; i <= list.Count(); ++i) {
        for (const Record& r : records) {
            if (list.SubItem(i, 3) != FromUtf8(r.key)) continue;
            ++seen;
            EXPECT_EQ(list.Checked(i), r.stale) << r.key << " target " << ToUtf8(list.SubItem(i, 2));
            if (!r.reason.empty()) {
                EXPECT_EQ(JudgeTarget(desktop, list.SubItem(i, 2), ViewOfPlace(list.Record(i).place)).reason, r.reason) << r.key;
            }
        }
    }
    EXPECT_EQ(seen, records.size());
    EXPECT_TRUE(desktop.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Prefixes, RealWine, ::testing::Values("win64", "win32"));

}  // namespace
}  // namespace ssr
