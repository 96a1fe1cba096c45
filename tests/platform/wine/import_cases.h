#pragma once
// Import files as Wine's regedit reads them: one row per rule, each a record
// below the current user's Uninstall key with the keys and values Wine gives
// it. The reader's own test checks every row; the referee test imports the
// rows into a real prefix with Wine and with the program, and compares.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/text.h"

namespace ssr::test {

inline const std::string kUninstallUser = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

enum class ImportEncoding { Utf16, Utf8, Ansi };

// What Wine itself can be asked about a row.
enum class Referee { Regedit, RegExe, None };

struct ExpectedValue {
    std::string name;
    std::uint32_t type;
    std::string bytes;  // hex, "41,00,00,00"
    friend bool operator==(const ExpectedValue&, const ExpectedValue&) = default;
};
struct ExpectedKey {
    std::string path;  // below the record, "" for the record itself
    std::vector<ExpectedValue> values;
    friend bool operator==(const ExpectedKey&, const ExpectedKey&) = default;
};
inline void PrintTo(const ExpectedKey& key, std::ostream* os) {
    *os << "[" << key.path << "]";
    for (const auto& v : key.values) *os << " " << v.name << "=" << v.type << ":" << v.bytes;
}

struct ImportCase {
    const char* rule;
    ImportEncoding encoding;
    // The lines after the file's header and a blank line, "{U}" for the
    // Uninstall key; without a key line of its own, the record's comes first.
    std::string body;
    std::string record;  // the record's name as Wine stores it
    std::vector<ExpectedKey> keys;
    Referee referee = Referee::Regedit;
    bool cr_only = false;  // lines end with CR alone
};

// Values are in wineserver's order (by name).
inline const std::vector<ImportCase> kAcceptedCases = {
    {"Escapes", ImportEncoding::Utf16,
     "\"n\"=\"line1\\nline2\"\n\"q\"=\"say \\\"hi\\\" C:\\\\x\"\n\"r\"=\"a\\rb\"\n\"t\"=\"a\\tb\"\n", "Escapes",
     {{"", {{"n", 1, "6c,00,69,00,6e,00,65,00,31,00,0a,00,6c,00,69,00,6e,00,65,00,32,00,00,00"},
            {"q", 1, "73,00,61,00,79,00,20,00,22,00,68,00,69,00,22,00,20,00,43,00,3a,00,5c,00,78,00,00,00"},
            {"r", 1, "61,00,0d,00,62,00,00,00"},
            {"t", 1, "61,00,74,00,62,00,00,00"}}}}},
    {"CommentsAndBlanks", ImportEncoding::Utf16,
     "; a comment\n# another\n\n\"s\" = \"blank\"\n  \"ind\"=\"ent\"\t\n\"c\"=\"x\" ;after\n\"d\"=dword:2a ;after\n"
     "\"h\"=hex:01,02 ;after\n",
     "CommentsAndBlanks",
     {{"", {{"c", 1, "78,00,00,00"},
            {"d", 4, "2a,00,00,00"},
            {"h", 3, "01,02"},
            {"ind", 1, "65,00,6e,00,74,00,00,00"},
            {"s", 1, "62,00,6c,00,61,00,6e,00,6b,00,00,00"}}}}},
    {"Dwords", ImportEncoding::Utf16, "\"a\"=dword:1\n\"b\"=dword:89ABCDEF\n\"c\"=dword: 7\n", "Dwords",
     {{"", {{"a", 4, "01,00,00,00"}, {"b", 4, "ef,cd,ab,89"}, {"c", 4, "07,00,00,00"}}}}},
    {"HexContinued", ImportEncoding::Utf16, "\"h\"=hex:01,02,\\\n  03,\\\n\n; inside\n  04\n\"i\"=hex(b):01,02,03,04,\\\n05,06,07,08\n",
     "HexContinued", {{"", {{"h", 3, "01,02,03,04"}, {"i", 11, "01,02,03,04,05,06,07,08"}}}}},
    {"HexForms", ImportEncoding::Utf16,
     "\"a\"=hex:0x1,+2, 3\n\"b\"=hex:\n\"c\"=hex(0):\n\"d\"=hex():00\n\"e\"=hex(-1):00\n\"f\"=hex( 2):41,00\n"
     "\"g\"=hex(1234):07,08\n",
     "HexForms",
     {{"", {{"a", 3, "01,02,03"},
            {"b", 3, ""},
            {"c", 0, ""},
            {"d", 0, "00"},
            {"e", 0xffffffff, "00"},
            {"f", 2, "41,00,00,00"},
            {"g", 0x1234, "07,08"}}}}},
    {"TextsInHex", ImportEncoding::Utf16, "\"e\"=hex(2):41,42\n\"m\"=hex(7):41,00,00,00\n\"s\"=hex(1):41,00\n",
     "TextsInHex", {{"", {{"e", 2, "41,42,00,00"}, {"m", 7, "41,00,00,00"}, {"s", 1, "41,00,00,00"}}}}},
    {"AnsiTexts", ImportEncoding::Ansi, "\"e\"=hex(2):41,42\n\"m\"=hex(7):41,00,00,00\n\"p\"=hex(2):80,e9\n\"v\"=\"\x80\xe9\"\n",
     "AnsiTexts",
     {{"", {{"e", 2, "41,00,42,00,00,00"},
            {"m", 7, "41,00,00,00,00,00,00,00"},
            {"p", 2, "ac,20,e9,00,00,00"},
            {"v", 1, "ac,20,e9,00,00,00"}}}}},
    {"DefaultAndRepeated", ImportEncoding::Utf16, "@ = \"d\"\n\"v\"=\"1\"\n\"V\"=\"2\"\n", "DefaultAndRepeated",
     {{"", {{"", 1, "64,00,00,00"}, {"v", 1, "32,00,00,00"}}}}},
    {"CrOnlyLines", ImportEncoding::Utf16, "\"v\"=\"cr\"\n\"w\"=hex:01,\\\n02\n", "CrOnlyLines",
     {{"", {{"v", 1, "63,00,72,00,00,00"}, {"w", 3, "01,02"}}}}, Referee::Regedit, true},
    {"Utf8WithoutMark", ImportEncoding::Utf8, "\"v\"=\"plain\"\n", "Utf8WithoutMark",
     {{"", {{"v", 1, "70,00,6c,00,61,00,69,00,6e,00,00,00"}}}}},
    // Wine reads a file without a byte-order mark in the ANSI code page.
    {"Utf8Text", ImportEncoding::Utf8, "\"v\"=\"\xc3\xa9\xe6\x97\xa5\"\n", "Utf8Text",
     {{"", {{"v", 1, "e9,00,e5,65,00,00"}}}}, Referee::None},
    {"RootsInAnyCase", ImportEncoding::Utf16,
     "[hkey_current_user\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\RootsInAnyCase]\n\"v\"=\"1\"\n",
     "RootsInAnyCase", {{"", {{"v", 1, "31,00,00,00"}}}}},
    {"RootAbbreviated", ImportEncoding::Utf16,
     "[HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\RootAbbreviated]\n\"v\"=\"1\"\n",
     "RootAbbreviated", {{"", {{"v", 1, "31,00,00,00"}}}}, Referee::RegExe},
    {"DoubledBackslashes", ImportEncoding::Utf16, "[{U}\\\\DoubledBackslashes\\\\Sub\\\\]\n\"v\"=\"1\"\n",
     "DoubledBackslashes", {{"", {}}, {"Sub", {{"v", 1, "31,00,00,00"}}}}},
    {"LastBracketEndsKey", ImportEncoding::Utf16, "[{U}\\LastBracketEndsKey] ;note ] x\n\"v\"=\"1\"\n",
     "LastBracketEndsKey] ;note ", {{"", {{"v", 1, "31,00,00,00"}}}}},
    {"SubkeysAndParents", ImportEncoding::Utf16,
     "[{U}\\SubkeysAndParents\\A\\B]\n\"b\"=\"1\"\n[{U}\\SubkeysAndParents]\n\"r\"=\"2\"\n[{U}\\subkeysandparents\\a]\n\"a\"=\"3\"\n",
     "SubkeysAndParents",
     {{"", {{"r", 1, "32,00,00,00"}}}, {"A", {{"a", 1, "33,00,00,00"}}}, {"A\\B", {{"b", 1, "31,00,00,00"}}}}},
    // At the end of the file, continued hex data is taken as far as it went.
    {"LastLineContinues", ImportEncoding::Utf16, "\"last\"=hex:01,\\\n", "LastLineContinues",
     {{"", {{"last", 3, "01"}}}}},
};

struct RejectedCase {
    const char* rule;
    std::string body;  // as above
    std::size_t line;  // the line refused, counted in the whole file (the body starts at 3)
    const char* why;   // part of the reason
};

inline const std::vector<RejectedCase> kRejectedCases = {
    {"NulEscapeInText", "\"v\"=\"a\\0b\"\n", 4, "\\0"},
    {"NulEscapeInName", "\"a\\0\"=\"x\"\n", 4, "\\0"},
    {"NulCharacter", std::string("\"v\"=\"a\0b\"\n", 10), 4, "NUL"},
    {"DwordWithBlank", "\"v\"=dword:1234 567\n", 4, "dword"},
    {"DwordTooLong", "\"v\"=dword:123456789\n", 4, "dword"},
    {"HexTypeWithPrefix", "\"v\"=hex(0x1):00\n", 4, "type"},
    {"OddTextInHex", "\"v\"=hex(1):41,00,42\n", 4, "odd"},
    {"UnknownType", "\"v\"=HEX:00\n", 4, "type"},
    {"NoEquals", "\"v\" \"x\"\n", 4, "'='"},
    {"UnclosedText", "\"v\"=\"x\n", 4, "closing quote"},
    {"TextAfterQuote", "\"v\"=\"x\" y\n", 4, "after its closing quote"},
    {"GarbageLine", "just words\n", 4, "neither a key, a value nor a comment"},
    {"BlankAfterBracket", "[ {U}\\X]\n", 3, "starts with a blank"},
    {"NoClosingBracket", "[{U}\\X\n", 3, "no closing ']'"},
    {"DoubledAfterRoot", "[HKEY_CURRENT_USER\\\\Software\\X]\n", 3, "doubled backslash"},
    {"UnknownRoot", "[HKEY_NOWHERE\\X]\n", 3, "name of a registry root"},
    {"DeletesKey", "[-{U}\\X]\n", 3, "deletes the key"},
    {"DeletesValue", "\"v\"=-\n", 4, "deletes the value"},
    {"ContinuedIntoAKey", "\"v\"=hex:01,\\\n[{U}\\Y]\n", 4, "not hex data"},
    {"RegistryLink", "\"SymbolicLinkValue\"=hex(6):5c,00\n", 4, "REG_LINK"},
    {"KeyOutsideRecords", "[HKEY_LOCAL_MACHINE\\Software]\n\"v\"=\"x\"\n", 3, "not a record"},
    {"UninstallKeyValue", "[{U}]\n\"v\"=\"x\"\n", 4, "gives the key"},
    {"OtherHive", "[HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X]\n", 3,
     "not a record"},
};

// The whole file of a row: header, a blank line, the record's key line
// unless the body has its own, the body.
inline std::string ImportFileText(ImportEncoding encoding, const std::string& rule, std::string body,
                                  bool cr_only = false) {
    std::string text = encoding == ImportEncoding::Ansi ? "REGEDIT4\n\n" : "Windows Registry Editor Version 5.00\n\n";
    if (!body.starts_with("[")) text += "[{U}\\" + rule + "]\n";
    text += body;
    for (std::size_t at; (at = text.find("{U}")) != std::string::npos;) text.replace(at, 3, kUninstallUser);
    if (cr_only)
        for (char& c : text)
            if (c == '\n') c = '\r';
    return text;
}

// The bytes of such a file in its encoding (UTF-16LE with its mark, or as written).
inline std::string ImportFileBytes(ImportEncoding encoding, const std::string& text) {
    if (encoding != ImportEncoding::Utf16) return text;
    std::string bytes = "\xff\xfe";
    for (const char16_t unit : FromUtf8(text)) {
        bytes += static_cast<char>(unit & 0xff);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

}  // namespace ssr::test
