// The registry back end against Wine's own registry. Test data is written and
// checked through advapi32 directly, never through the back end under test.

#include "platform/win32/win32_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/reg.h"
#include "catalogue/reg_export.h"
#include "platform/entry_list.h"
#include "doubles/scripted_desktop.h"
#include "test_support.h"

namespace ssr::win32 {
namespace {

using testing::RunTag;
using testing::W;

const Text kUninstall(kUninstallKeyPath);
constexpr std::uint32_t kBuffer = 255;  // the listing's buffer size

std::vector<std::uint8_t> Utf16Bytes(TextView text, bool terminated = true) {
    std::vector<std::uint8_t> bytes((text.size() + (terminated ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

void CreateKey(TextView path, TextView class_text = {}) {
    std::wstring wide_class = W(class_text);
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(path).c_str(), 0,
                                class_text.empty() ? nullptr : wide_class.data(), 0, KEY_ALL_ACCESS, nullptr, &key,
                                nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

void SetValue(TextView path, TextView name, DWORD type, const std::vector<std::uint8_t>& bytes) {
    CreateKey(path);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, W(path).c_str(), W(name).c_str(), type,
                                bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

void SetText(TextView path, TextView name, TextView text, DWORD type = REG_SZ) {
    SetValue(path, name, type, Utf16Bytes(text));
}

bool KeyExists(TextView path) {
    HKEY key = nullptr;
    const LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(path).c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void DeleteRaw(TextView path) {
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, W(path).c_str());
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, W(path).c_str());
}

Text Below(TextView parent, TextView name) { return Text(parent) + u'\\' + Text(name); }

// A private key for raw back-end checks, and entries straight under the
// uninstall key for the listing; all of them go before and after each test.
class Win32RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteRaw(m_root);
        CreateKey(m_root);
    }
    void TearDown() override {
        DeleteRaw(m_root);
        for (const Text& name : m_entries) DeleteRaw(Below(kUninstall, name));
        EXPECT_FALSE(KeyExists(m_root));
    }

    // An entry straight under the uninstall key, named after this run.
    Text Entry(TextView suffix) {
        Text name = RunTag() + u'-' + Text(suffix);
        m_entries.push_back(name);
        DeleteRaw(Below(kUninstall, name));
        return name;
    }

    Win32Registry m_registry;
    const Text m_root = Below(kUninstall, RunTag());
    std::vector<Text> m_entries;
};

// --- Enumeration ------------------------------------------------------------

struct NameCase {
    const char* label;
    Text name;
    Text class_text;
    long expected;
};

class EnumerationTest : public Win32RegistryTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(EnumerationTest, ComesBackExactlyOrEndsWithMoreData) {
    const NameCase& row = GetParam();
    const Text parent = Below(m_root, FromUtf8(row.label));
    CreateKey(Below(parent, row.name), row.class_text);

    RegHandle key = 0;
    ASSERT_EQ(m_registry.open_key_ex(kHkeyLocalMachine, parent, 0, kKeyEnumerateSubKeys, &key), kErrorSuccess);
    Text name(kBuffer, u' ');
    Text class_text(kBuffer, u' ');
    std::uint32_t name_length = kBuffer;
    std::uint32_t class_length = kBuffer;
    EXPECT_EQ(m_registry.enum_key_ex(key, 0, name.data(), &name_length, class_text.data(), &class_length),
              row.expected);
    if (row.expected == kErrorSuccess) {
        EXPECT_EQ(name.substr(0, name_length), row.name);
        EXPECT_EQ(class_text.substr(0, class_length), row.class_text);
        name_length = class_length = kBuffer;
        EXPECT_EQ(m_registry.enum_key_ex(key, 1, name.data(), &name_length, class_text.data(), &class_length),
                  kErrorNoMoreItems);
    }
    EXPECT_EQ(m_registry.close_key(key), kErrorSuccess);
    EXPECT_EQ(m_registry.OpenHandleCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Names, EnumerationTest,
    ::testing::Values(NameCase{"ascii", u"Plain App 1.0", {}, kErrorSuccess},
                      NameCase{"cyrillic", u"Удалённая программа", {}, kErrorSuccess},
                      NameCase{"cjk", u"旧的程序", {}, kErrorSuccess},
                      NameCase{"surrogate_pair", u"App \U0001F600 Ω", {}, kErrorSuccess},
                      NameCase{"case_kept", u"MiXeD CaSe", {}, kErrorSuccess},
                      NameCase{"name_of_254_fits", Text(254, u'n'), {}, kErrorSuccess},
                      NameCase{"name_of_255_does_not_fit", Text(255, u'n'), {}, kErrorMoreData},
                      NameCase{"non_ascii_name_of_255_does_not_fit", Text(255, u'ж'), {}, kErrorMoreData},
                      NameCase{"class_of_254_fits", u"classy", Text(254, u'c'), kErrorSuccess},
                      NameCase{"class_of_255_does_not_fit", u"classy", Text(255, u'c'), kErrorMoreData}),
    [](const auto& info) { return std::string(info.param.label); });

// --- Values -------------------------------------------------------------------

struct ValueCase {
    const char* label;
    DWORD type;
    std::vector<std::uint8_t> bytes;
    Text expected;  // what the core's reader makes of it
};

constexpr char16_t kDefault[] = u"<default>";

class ValueTest : public Win32RegistryTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(ValueTest, TypeAndSizeFirstThenTheReaderRules) {
    const ValueCase& row = GetParam();
    SetValue(m_root, u"Value", row.type, row.bytes);

    RegHandle key = 0;
    ASSERT_EQ(m_registry.open_key(kHkeyLocalMachine, m_root, &key), kErrorSuccess);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(m_registry.query_value_ex(key, u"value", &type, nullptr, &size), kErrorSuccess);  // any case
    EXPECT_EQ(type, row.type);
    EXPECT_EQ(size, row.bytes.size());
    m_registry.close_key(key);

    EXPECT_EQ(ReadRegistryString(m_registry, kHkeyLocalMachine, m_root, u"Value", kDefault), row.expected);
    EXPECT_EQ(m_registry.OpenHandleCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ValueTest,
    ::testing::Values(
        ValueCase{"sz", REG_SZ, Utf16Bytes(u"Программа 旧 \U0001F600"), u"Программа 旧 \U0001F600"},
        ValueCase{"sz_without_terminator_comes_back_whole", REG_SZ, Utf16Bytes(u"whole", false), u"whole"},
        ValueCase{"sz_empty_is_not_the_default", REG_SZ, Utf16Bytes(u""), u""},
        ValueCase{"sz_without_any_data", REG_SZ, {}, u""},
        ValueCase{"sz_cut_at_first_zero", REG_SZ, Utf16Bytes(TextView(u"before\0after", 12)), u"before"},
        ValueCase{"expand_sz_is_not_expanded", REG_EXPAND_SZ, Utf16Bytes(u"%SystemRoot%\\x.exe"),
                  u"%SystemRoot%\\x.exe"},
        ValueCase{"dword_gives_default", REG_DWORD, {1, 0, 0, 0}, kDefault},
        ValueCase{"multi_sz_gives_default", REG_MULTI_SZ, Utf16Bytes(TextView(u"a\0b\0", 4)), kDefault},
        ValueCase{"binary_gives_default", REG_BINARY, {0x41, 0, 0x42, 0}, kDefault}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Win32RegistryTest, FailuresComeBackAsWindowsResultCodes) {
    SetText(m_root, u"Small", u"four");
    RegHandle key = 0;
    EXPECT_EQ(m_registry.open_key(kHkeyLocalMachine, Below(m_root, u"missing"), &key), kErrorFileNotFound);
    EXPECT_EQ(key, 0U);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(m_registry.query_value_ex(0, u"Small", &type, nullptr, &size), kErrorInvalidHandle);
    m_registry.close_key(0);  // harmless
    EXPECT_EQ(ReadRegistryString(m_registry, kHkeyLocalMachine, Below(m_root, u"missing"), u"Small", kDefault),
              kDefault);

    ASSERT_EQ(m_registry.open_key(kHkeyLocalMachine, m_root, &key), kErrorSuccess);
    EXPECT_EQ(m_registry.query_value_ex(key, u"Absent", &type, nullptr, &size), kErrorFileNotFound);
    std::uint8_t small[4] = {};
    size = sizeof small;
    EXPECT_EQ(m_registry.query_value_ex(key, u"Small", &type, small, &size), kErrorMoreData);
    EXPECT_EQ(size, 10U);
    EXPECT_EQ(m_registry.close_key(key), kErrorSuccess);
    EXPECT_EQ(m_registry.close_key(key), kErrorInvalidHandle);  // closed once only
}

TEST_F(Win32RegistryTest, KeysLeftOpenAreClosedWithTheBackEnd) {
    RegHandle key = 0;
    {
        Win32Registry registry;
        ASSERT_EQ(registry.open_key(kHkeyLocalMachine, m_root, &key), kErrorSuccess);
        EXPECT_EQ(registry.OpenHandleCount(), 1U);
    }
    // The handle is gone: Windows no longer knows it.
    DWORD subkeys = 0;
    EXPECT_NE(::RegQueryInfoKeyW(Win32Registry::ToHkey(key), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

TEST(Win32RegistryHandles, RootsMapToTheSignExtendedPredefinedKeys) {
    EXPECT_EQ(Win32Registry::ToHkey(kHkeyLocalMachine), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(Win32Registry::FromHkey(HKEY_LOCAL_MACHINE), kHkeyLocalMachine);
    EXPECT_EQ(Win32Registry::ToHkey(0), nullptr);
}

// --- The listing through the back end ------------------------------------------

struct ListedRow {
    Text text;
    Text uninstall;
    Text target;
};

std::map<Text, ListedRow> RowsOfThisRun(const EntryList& list) {
    std::map<Text, ListedRow> rows;
    for (int i = 1; i <= list.Count(); ++i) {
        const ListItem item = list.Row(i);
        if (item.SubItem(3).starts_with(RunTag()))
            rows[item.SubItem(3)] = {item.ItemText(), item.SubItem(1), item.SubItem(2)};
    }
    return rows;
}

TEST_F(Win32RegistryTest, ListingReadsNonAsciiEntriesAndSkipsIncompleteOnes) {
    const Text cyrillic = Entry(u"Кириллица");
    SetText(Below(kUninstall, cyrillic), u"DisplayName", u"Программа \U0001F600");
    SetText(Below(kUninstall, cyrillic), u"UninstallString", u"\"C:\\Program Files\\Тест\\Uninst.exe\" /S");
    const Text msi = Entry(u"中文");
    SetText(Below(kUninstall, msi), u"DisplayName", u"旧程序");
    SetText(Below(kUninstall, msi), u"UninstallString", u"MsiExec.exe /X{12345678-1234-1234-1234-123456789012}");
    const Text rundll = Entry(u"rundll");
    SetText(Below(kUninstall, rundll), u"DisplayName", u"Driver");
    SetText(Below(kUninstall, rundll), u"UninstallString", u"RunDll32.exe C:\\Windows\\system32\\Foo.dll,Remove");
    const Text expand = Entry(u"expand");
    SetText(Below(kUninstall, expand), u"DisplayName", u"Expandable");
    SetText(Below(kUninstall, expand), u"UninstallString", u"%ProgramFiles%\\App\\u.exe", REG_EXPAND_SZ);
    CreateKey(Below(Below(kUninstall, expand), u"Sub\\Deeper"));
    const Text no_name = Entry(u"no name");
    SetText(Below(kUninstall, no_name), u"UninstallString", u"C:\\x.exe");
    const Text number_name = Entry(u"number name");
    SetValue(Below(kUninstall, number_name), u"DisplayName", REG_DWORD, {7, 0, 0, 0});
    SetText(Below(kUninstall, number_name), u"UninstallString", u"C:\\x.exe");
    const Text no_command = Entry(u"no command");
    SetText(Below(kUninstall, no_command), u"DisplayName", u"No command");

    EntryList list;
    ScriptedDesktop desktop;
    ListUninstallEntries(m_registry, list, desktop);

    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(m_registry.OpenHandleCount(), 0U);
    const std::map<Text, ListedRow> expected{
        {cyrillic,
         {u"Программа \U0001F600", u"\"C:\\Program Files\\Тест\\Uninst.exe\" /S",
          u"c:\\program files\\тест\\uninst.exe"}},
        {msi, {u"旧程序", u"MsiExec.exe /X{12345678-1234-1234-1234-123456789012}", kIgnoreMe}},
        {rundll, {u"Driver", u"c:\\windows\\system32\\foo.dll", u"c:\\windows\\system32\\foo.dll"}},
        {expand, {u"Expandable", u"%ProgramFiles%\\App\\u.exe", u"%programfiles%\\app\\u.exe"}},
    };
    const auto rows = RowsOfThisRun(list);
    ASSERT_EQ(rows.size(), expected.size());
    for (const auto& [key_name, row] : expected) {
        ASSERT_TRUE(rows.contains(key_name)) << ToUtf8(key_name);
        EXPECT_EQ(rows.at(key_name).text, row.text) << ToUtf8(key_name);
        EXPECT_EQ(rows.at(key_name).uninstall, row.uninstall) << ToUtf8(key_name);
        EXPECT_EQ(rows.at(key_name).target, row.target) << ToUtf8(key_name);
    }
}

TEST_F(Win32RegistryTest, ListingReadsA255CharacterNameAndGoesOn) {
    // Subkeys enumerate in name order: "-a" before the long name, "-c" after it.
    const Text before = Entry(u"a");
    const Text long_name = Entry(u"b");
    const Text after = Entry(u"c");
    const Text padded = long_name + Text(255 - long_name.size(), u'b');
    m_entries.push_back(padded);
    for (const Text& name : {before, padded, after}) {
        SetText(Below(kUninstall, name), u"DisplayName", name);
        SetText(Below(kUninstall, name), u"UninstallString", u"C:\\x.exe");
    }

    EntryList list;
    ScriptedDesktop desktop;
    ListUninstallEntries(m_registry, list, desktop);

    const auto rows = RowsOfThisRun(list);
    EXPECT_TRUE(rows.contains(before));
    EXPECT_TRUE(rows.contains(padded));
    EXPECT_TRUE(rows.contains(after));
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(m_registry.OpenHandleCount(), 0U);
}

// --- Deleting -------------------------------------------------------------------

TEST_F(Win32RegistryTest, DeletesANonAsciiEntryWithItsSubtreeAndNothingElse) {
    const Text doomed = Entry(u"Удалить \U0001F600");
    const Text neighbour = Entry(u"Удалить \U0001F600 2");
    SetText(Below(kUninstall, doomed), u"DisplayName", u"Doomed");
    SetText(Below(Below(kUninstall, doomed), u"Sub\\Deeper"), u"Value", u"x");
    SetText(Below(kUninstall, neighbour), u"DisplayName", u"Neighbour");

    EXPECT_EQ(m_registry.delete_tree(kHkeyLocalMachine, Below(kUninstall, doomed)), kErrorSuccess);
    EXPECT_FALSE(KeyExists(Below(kUninstall, doomed)));
    EXPECT_TRUE(KeyExists(Below(kUninstall, neighbour)));
    EXPECT_EQ(m_registry.delete_tree(kHkeyLocalMachine, Below(kUninstall, doomed)), kErrorFileNotFound);
}

TEST_F(Win32RegistryTest, NeverEmptiesTheRootForAPathWithoutAName) {
    for (const Text& nothing : {Text(), Text(u"\\"), Text(u"\\\\")})
        EXPECT_NE(m_registry.delete_tree(kHkeyLocalMachine, nothing), kErrorSuccess);
    EXPECT_TRUE(KeyExists(m_root));
}

// --- The three places, and registry links ------------------------------------------

// A key in one place, written and checked through advapi32 with the view named.
struct RawPlace {
    HKEY root;
    REGSAM view;
    const char16_t* location;

    [[nodiscard]] bool Exists(TextView path) const {
        HKEY key = nullptr;
        const LONG status = ::RegOpenKeyExW(root, W(path).c_str(), 0, KEY_READ | view, &key);
        if (status == ERROR_SUCCESS) ::RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }
    void SetText(TextView path, TextView name, TextView text) const {
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(root, W(path).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const auto bytes = Utf16Bytes(text);
        ASSERT_EQ(::RegSetValueExW(key, W(name).c_str(), 0, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        ::RegCloseKey(key);
    }
    void Delete(TextView path) const {
        ::RegDeleteTreeW(root, W(path).c_str());  // the view: through a handle opened in it
        HKEY parent = nullptr;
        if (::RegOpenKeyExW(root, W(kUninstall).c_str(), 0, KEY_ALL_ACCESS | view, &parent) == ERROR_SUCCESS) {
            const Text name(path.substr(path.rfind(u'\\') + 1));
            ::RegDeleteTreeW(parent, W(name).c_str());
            ::RegDeleteKeyW(parent, W(name).c_str());
            ::RegCloseKey(parent);
        }
    }
};

const RawPlace kPlaces[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, u"64-bit"},
                            {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, u"32-bit"},
                            {HKEY_CURRENT_USER, 0, u"Current user"}};

TEST_F(Win32RegistryTest, ListsTheSameNameInEveryPlaceAndRemovesEachInItsOwnPlaceOnly) {
    const Text name = Entry(u"everywhere");
    const Text path = Below(kUninstall, name);
    for (const RawPlace& place : kPlaces) {
        place.SetText(path, u"DisplayName", Text(u"In ") + place.location);
        place.SetText(path, u"UninstallString", u"C:\\x.exe");
        place.SetText(Below(path, u"Sub"), u"Below", u"x");
    }
    EntryList list;
    ScriptedDesktop desktop;
    ListUninstallEntries(m_registry, list, desktop);
    std::vector<std::pair<Text, Text>> rows;  // display name, location
    for (int i = 1; i <= list.Count(); ++i)
        if (list.Row(i).SubItem(3) == name) rows.emplace_back(list.Row(i).ItemText(), list.Row(i).SubItem(4));
    EXPECT_EQ(rows, (std::vector<std::pair<Text, Text>>{
                        {u"In 64-bit", u"64-bit"}, {u"In 32-bit", u"32-bit"}, {u"In Current user", u"Current user"}}));

    // Each place alone, last to first: the others stay.
    for (int removed = 2; removed >= 0; --removed) {
        const RecordPlace place = RecordPlaces(m_registry)[static_cast<std::size_t>(removed)];
        EXPECT_EQ(m_registry.delete_tree(place.root, path, place.view), kErrorSuccess) << removed;
        for (int other = 0; other < 3; ++other)
            EXPECT_EQ(kPlaces[other].Exists(path), other < removed) << removed << " " << other;
    }
    for (const RawPlace& place : kPlaces) place.Delete(path);
}

// A registry link made with advapi32: `link` points at HKLM\`target`.
void CreateLink(TextView link, TextView target) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(link).c_str(), 0, nullptr,
                                REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring destination = L"\\Registry\\Machine\\" + W(target);
    ASSERT_EQ(::RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK,
                               reinterpret_cast<const BYTE*>(destination.data()),
                               static_cast<DWORD>(destination.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    ::RegCloseKey(key);
}

TEST_F(Win32RegistryTest, ARemovalDeletesALinkNeverTheKeyItPointsAt) {
    const Text target = Below(m_root, u"Elsewhere");
    SetText(Below(target, u"Deep"), u"Keep", u"me");
    const Text record = Entry(u"link record");
    CreateLink(Below(kUninstall, record), target);
    ASSERT_TRUE(KeyExists(Below(Below(kUninstall, record), u"Deep"))) << "the link leads to the target";
    const Text holder = Entry(u"holds a link");
    SetText(Below(kUninstall, holder), u"DisplayName", u"Holder");
    CreateLink(Below(Below(kUninstall, holder), u"Inner"), target);
    SetText(target, u"DisplayName", u"Link target");
    SetText(target, u"UninstallString", u"C:\\t.exe");

    // Listed as an open follows it: with the target's values.
    EntryList list;
    ScriptedDesktop desktop;
    ListUninstallEntries(m_registry, list, desktop);
    Text shown;
    for (int row = 1; row <= list.Count(); ++row)
        if (list.SubItem(row, 3) == record) shown = list.ItemText(row);
    EXPECT_EQ(shown, u"Link target");
    // Backed up as what the removal takes: the links themselves.
    RegEditExport backup;
    ASSERT_EQ(backup.AppendRecord(m_registry, {record, kPlace64Bit}), kErrorSuccess);
    ASSERT_EQ(backup.AppendRecord(m_registry, {holder, kPlace64Bit}), kErrorSuccess);
    EXPECT_EQ(backup.key_count(), 3);
    EXPECT_NE(backup.text().find(record + u"]\r\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00"), Text::npos)
        << ToUtf8(backup.text());
    EXPECT_NE(backup.text().find(holder + u"\\Inner]\r\n\"SymbolicLinkValue\"=hex(6):"), Text::npos);
    EXPECT_EQ(backup.text().find(u"Link target"), Text::npos) << ToUtf8(backup.text());
    EXPECT_EQ(backup.text().find(u"Keep"), Text::npos);

    EXPECT_EQ(m_registry.delete_tree(kHkeyLocalMachine, Below(kUninstall, record), kKeyWow64_64Key), kErrorSuccess);
    EXPECT_EQ(m_registry.delete_tree(kHkeyLocalMachine, Below(kUninstall, holder), kKeyWow64_64Key), kErrorSuccess);
    EXPECT_FALSE(KeyExists(Below(kUninstall, record)));
    EXPECT_FALSE(KeyExists(Below(kUninstall, holder)));
    EXPECT_TRUE(KeyExists(Below(target, u"Deep"))) << "the key a link points at stays, with its subtree";
}

}  // namespace
}  // namespace ssr::win32
