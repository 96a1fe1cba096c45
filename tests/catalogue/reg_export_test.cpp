// Backups in the registry editor's import format.
#include "catalogue/reg_export.h"

#include <gtest/gtest.h>

#include <cstring>

#include "doubles/memory_registry.h"

namespace ssr {
namespace {

std::vector<std::uint8_t> Utf16(TextView text, bool terminated = true) {
    std::vector<std::uint8_t> bytes((text.size() + (terminated ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

std::vector<std::uint8_t> Counting(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

struct ValueCase {
    const char* behaviour;
    Text name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    Text line;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.behaviour; }

class ValueLines : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueLines, KeepTypeAndBytes) {
    EXPECT_EQ(RegEditValueLine(GetParam().name, GetParam().type, GetParam().data), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Types, ValueLines,
    ::testing::Values(
        ValueCase{"Text", u"DisplayName", kRegSz, Utf16(u"App"), u"\"DisplayName\"=\"App\"\r\n"},
        ValueCase{"DefaultValue", u"", kRegSz, Utf16(u"x"), u"@=\"x\"\r\n"},
        ValueCase{"EmptyText", u"E", kRegSz, Utf16(u""), u"\"E\"=\"\"\r\n"},
        ValueCase{"BackslashAndQuoteEscaped", u"a\\\"b", kRegSz, Utf16(u"C:\\\"q\""),
                  u"\"a\\\\\\\"b\"=\"C:\\\\\\\"q\\\"\"\r\n"},
        ValueCase{"LineBreaksInANameAsWinesImportersReadThem", u"a\r\nb\\n", kRegSz, Utf16(u"x"),
                  u"\"a\\r\\nb\\\\n\"=\"x\"\r\n"},
        ValueCase{"NonAsciiTextAsIs", u"\u00e9", kRegSz, Utf16(u"\u4e2d\U0001F600"),
                  u"\"\u00e9\"=\"\u4e2d\U0001F600\"\r\n"},
        // Texts whose bytes a quoted form would not give back go in hex.
        ValueCase{"TextWithoutTerminator", u"T", kRegSz, Utf16(u"ab", false), u"\"T\"=hex(1):61,00,62,00\r\n"},
        ValueCase{"TextWithLineBreak", u"T", kRegSz, Utf16(u"a\n"), u"\"T\"=hex(1):61,00,0a,00,00,00\r\n"},
        ValueCase{"TextWithNulInside", u"T", kRegSz, {0x61, 0, 0, 0, 0x62, 0, 0, 0},
                  u"\"T\"=hex(1):61,00,00,00,62,00,00,00\r\n"},
        ValueCase{"TextOfOddLength", u"T", kRegSz, {0x61, 0, 0}, u"\"T\"=hex(1):61,00,00\r\n"},
        ValueCase{"NoBytesText", u"T", kRegSz, {}, u"\"T\"=hex(1):\r\n"},
        ValueCase{"ExpandText", u"P", kRegExpandSz, Utf16(u"%A%"), u"\"P\"=hex(2):25,00,41,00,25,00,00,00\r\n"},
        ValueCase{"MultiText", u"M", kRegMultiSz, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0},
                  u"\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"},
        ValueCase{"Dword", u"D", kRegDword, {0x78, 0x56, 0x34, 0x12}, u"\"D\"=dword:12345678\r\n"},
        ValueCase{"DwordOfWrongSize", u"D", kRegDword, {1, 2}, u"\"D\"=hex(4):01,02\r\n"},
        ValueCase{"Qword", u"Q", kRegQword, {1, 2, 3, 4, 5, 6, 7, 0xff}, u"\"Q\"=hex(b):01,02,03,04,05,06,07,ff\r\n"},
        ValueCase{"Binary", u"B", kRegBinary, {0xde, 0xad}, u"\"B\"=hex:de,ad\r\n"},
        ValueCase{"EmptyBinary", u"B", kRegBinary, {}, u"\"B\"=hex:\r\n"},
        ValueCase{"None", u"N", kRegNone, {0}, u"\"N\"=hex(0):00\r\n"},
        ValueCase{"UnknownType", u"U", 0x1234, {7}, u"\"U\"=hex(1234):07\r\n"},
        // The editor continues after the comma that reaches column 77,
        // counted from the start of the line, then every 25 bytes.
        ValueCase{"LongHexWrapped", u"Blob", kRegBinary, Counting(48),
                  u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
                  u"  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n"
                  u"  2f\r\n"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(RegEditExportTest, WholeSubtreeWithItsPathForEveryPlace) {
    MemoryRegistry registry;
    const Text uninstall = kUninstallKeyPath;
    const Text wow = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    registry.SetText(uninstall + u"\\App", u"", u"default");
    registry.SetDword(uninstall + u"\\App", u"Size", 7);
    registry.SetText(uninstall + u"\\App\\Sub\\Deeper", u"Path", u"%P%", kRegExpandSz);
    registry.CreateKey(uninstall + u"\\App\\Empty");
    registry.SetText(wow + u"\\Old", u"DisplayName", u"Old");
    registry.SetText(u"HKEY_CURRENT_USER\\" + uninstall + u"\\Mine", u"DisplayName", u"Mine");

    RegEditExport backup;
    EXPECT_EQ(backup.AppendRecord(registry, {u"App", kPlace64Bit}), kErrorSuccess);
    EXPECT_EQ(backup.AppendRecord(registry, {u"Old", kPlace32Bit}), kErrorSuccess);
    EXPECT_EQ(backup.AppendRecord(registry, {u"Mine", kPlaceCurrentUser}), kErrorSuccess);
    // A key that is not there adds nothing.
    EXPECT_EQ(backup.AppendRecord(registry, {u"App", kPlace32Bit}), kErrorFileNotFound);
    EXPECT_EQ(backup.key_count(), 6);
    const Text machine = u"HKEY_LOCAL_MACHINE\\" + uninstall;
    EXPECT_EQ(backup.text(), u"Windows Registry Editor Version 5.00\r\n"
                             u"\r\n[" + machine + u"\\App]\r\n"
                             u"@=\"default\"\r\n"
                             u"\"Size\"=dword:00000007\r\n"
                             u"\r\n[" + machine + u"\\App\\Sub]\r\n"
                             u"\r\n[" + machine + u"\\App\\Sub\\Deeper]\r\n"
                             u"\"Path\"=hex(2):25,00,50,00,25,00,00,00\r\n"
                             u"\r\n[" + machine + u"\\App\\Empty]\r\n"
                             u"\r\n[HKEY_LOCAL_MACHINE\\" + wow + u"\\Old]\r\n"
                             u"\"DisplayName\"=\"Old\"\r\n"
                             u"\r\n[HKEY_CURRENT_USER\\" + uninstall + u"\\Mine]\r\n"
                             u"\"DisplayName\"=\"Mine\"\r\n");
    const auto bytes = backup.Bytes();
    ASSERT_GE(bytes.size(), 8U);
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4)), (std::vector<std::uint8_t>{0xFF, 0xFE, 'W', 0}));
    EXPECT_EQ((std::vector<std::uint8_t>(bytes.end() - 4, bytes.end())), (std::vector<std::uint8_t>{'\r', 0, '\n', 0}));
    EXPECT_EQ(bytes.size(), 2 + (backup.text().size() + 2) * 2);
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

TEST(RegEditExportTest, AnUnreadableSubkeyFailsTheRecordAndAddsNothing) {
    MemoryRegistry registry;
    const Text app = Text(kUninstallKeyPath) + u"\\App";
    registry.SetText(app, u"DisplayName", u"App");
    registry.MarkUnreadable(app + u"\\Locked");
    RegEditExport backup;
    const Text before = backup.text();
    Text failed;
    EXPECT_EQ(backup.AppendRecord(registry, {u"App", kPlace64Bit}, &failed), kErrorAccessDenied);
    EXPECT_EQ(failed, u"HKEY_LOCAL_MACHINE\\" + Text(kUninstallKeyPath) + u"\\App\\Locked");
    EXPECT_EQ(backup.text(), before);
    EXPECT_EQ(backup.key_count(), 0);
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

// Names an import cannot give back: the record is refused, never saved
// without them.
struct UnwritableName {
    const char* behaviour;
    Text subkey;      // below the record "App"; empty: a value of App itself
    Text value_name;
};
void PrintTo(const UnwritableName& c, std::ostream* os) { *os << c.behaviour; }

class UnwritableNames : public ::testing::TestWithParam<UnwritableName> {};

TEST_P(UnwritableNames, RefuseTheRecord) {
    MemoryRegistry registry;
    const Text app = Text(kUninstallKeyPath) + u"\\App";
    registry.SetText(app, u"DisplayName", u"App");
    const Text key = GetParam().subkey.empty() ? app : app + u"\\" + GetParam().subkey;
    registry.SetText(key, GetParam().value_name, u"v");
    RegEditExport backup;
    const Text before = backup.text();
    Text failed;
    EXPECT_EQ(backup.AppendRecord(registry, {u"App", kPlace64Bit}, &failed), kErrorInvalidData);
    EXPECT_EQ(failed, u"HKEY_LOCAL_MACHINE\\" + key);
    EXPECT_EQ(backup.text(), before);
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnwritableNames,
    ::testing::Values(UnwritableName{"NulInAValueName", u"", Text(u"a\0b", 3)},
                      UnwritableName{"LineFeedInAKeyName", u"Sub\nKey", u"x"},
                      UnwritableName{"CarriageReturnInAKeyName", u"Sub\rKey", u"x"},
                      UnwritableName{"NulInAKeyName", Text(u"Sub\0Key", 7), u"x"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(RegEditExportTest, ValueDataOfAnySizeAndLongestNames) {
    MemoryRegistry registry;
    const Text app = Text(kUninstallKeyPath) + u"\\App";
    const Text long_value_name(kMaxValueNameLength, u'v');
    const Text long_key_name(255, u'k');
    registry.SetRaw(app, long_value_name, kRegBinary, std::vector<std::uint8_t>(100000, 0xab));
    registry.CreateKey(app + u"\\" + long_key_name);
    RegEditExport backup;
    ASSERT_EQ(backup.AppendRecord(registry, {u"App", kPlace64Bit}), kErrorSuccess);
    EXPECT_NE(backup.text().find(u"\"" + long_value_name + u"\"=hex:ab,\\\r\n  ab,"), Text::npos);
    EXPECT_NE(backup.text().find(u"\\" + long_key_name + u"]\r\n"), Text::npos);
    EXPECT_EQ(backup.key_count(), 2);
}

}  // namespace
}  // namespace ssr
