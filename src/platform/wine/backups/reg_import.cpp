// Reading the registry editor's import format as Wine's regedit reads it.
#include "platform/wine/backups/reg_import.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "platform/wine/posix/posix.h"
#include "platform/wine/hive/reg_file.h"

namespace ssr::wine {

namespace {

constexpr std::uint32_t kTextTypes[] = {1, 2, 7};  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ

// Windows-1252 from 0x80 to 0x9F; the rest of the page is Latin-1. The five
// bytes it leaves undefined map to the control characters of the same value,
// as MultiByteToWideChar maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendCp1252(std::string_view bytes, Text& out) {
    const std::size_t at = out.size();
    out.resize(at + bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        out[at + i] = b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
    }
}

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF);
// false, with `out` as it was, when `bytes` are not valid UTF-8.
bool AppendUtf8(std::string_view bytes, Text& out) {
    const std::size_t start = out.size();
    out.reserve(start + bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        const int length = lead >= 0xC2 && lead < 0xE0 ? 1 : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
        if (length < 0 || i + static_cast<std::size_t>(length) >= n) {
            out.resize(start);
            return false;
        }
        char32_t code = lead & (0x3F >> length);
        for (int k = 1; k <= length; ++k) {
            const unsigned char next = s[i + static_cast<std::size_t>(k)];
            if ((next & 0xC0) != 0x80) {
                out.resize(start);
                return false;
            }
            code = (code << 6) | (next & 0x3F);
        }
        static constexpr char32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            out.resize(start);
            return false;
        }
        if (code < 0x10000) {
            out += static_cast<char16_t>(code);
        } else {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (code >> 10));
            out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
        }
        i += static_cast<std::size_t>(length) + 1;
    }
    return true;
}

constexpr bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }
constexpr bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
constexpr unsigned HexDigit(char16_t c) {
    return c <= u'9' ? static_cast<unsigned>(c - u'0') : static_cast<unsigned>((c | 0x20) - u'a' + 10);
}
// What the C runtime's iswspace counts as a blank, for its wcstoul.
constexpr bool IsSpace(char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); }

std::size_t SkipBlanks(TextView s, std::size_t i) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    return i;
}

// wcstoul(s + i, &end, 16) of a 32-bit unsigned long, as Wine's C runtime
// converts: blanks, a sign, an optional 0x, hex digits. `end` is `i` when
// nothing was converted; `overflow` as ERANGE.
struct Converted {
    std::uint32_t value = 0;
    std::size_t end = 0;
    bool overflow = false;
};
Converted WcsToULHex(TextView s, std::size_t i) {
    Converted result{0, i, false};
    std::size_t at = i;
    while (at < s.size() && IsSpace(s[at])) ++at;
    bool negative = false;
    if (at < s.size() && (s[at] == u'+' || s[at] == u'-')) negative = s[at++] == u'-';
    if (at + 1 < s.size() && s[at] == u'0' && (s[at + 1] | 0x20) == u'x') at += 2;
    const std::size_t digits = at;
    std::uint64_t value = 0;
    for (; at < s.size() && IsHexDigit(s[at]); ++at) {
        value = value * 16 + HexDigit(s[at]);
        if (value > 0xFFFFFFFFULL) {
            result.overflow = true;
            value = 0xFFFFFFFFULL;
        }
    }
    if (at == digits) return result;
    result.end = at;
    result.value = result.overflow ? 0xFFFFFFFFU : static_cast<std::uint32_t>(negative ? 0 - value : value);
    return result;
}

struct RootName {
    TextView name;
    ImportRoot root;
};
constexpr RootName kRoots[] = {
    {u"hkey_local_machine", ImportRoot::LocalMachine}, {u"hklm", ImportRoot::LocalMachine},
    {u"hkey_current_user", ImportRoot::CurrentUser},   {u"hkcu", ImportRoot::CurrentUser},
    {u"hkey_classes_root", ImportRoot::ClassesRoot},   {u"hkcr", ImportRoot::ClassesRoot},
    {u"hkey_users", ImportRoot::Users},                {u"hku", ImportRoot::Users},
    {u"hkey_current_config", ImportRoot::CurrentConfig}, {u"hkcc", ImportRoot::CurrentConfig},
    {u"hkey_dyn_data", ImportRoot::DynData},
};

std::string Quoted(TextView text) {
    constexpr std::size_t kShown = 80;
    std::string shown = ToUtf8(text.substr(0, kShown));
    if (text.size() > kShown) shown += "...";
    return "\"" + shown + "\"";
}

}  // namespace

struct ImportReader::State {
    enum class Encoding { Unknown, Utf16, Utf8, Ansi };
    enum class Stage { Header, Lines, HexContinued, Failed };
    enum class KeyState { None, Open, Refused };

    explicit State(ImportSink& s) : sink(s) {}

    ImportSink& sink;
    Encoding encoding = Encoding::Unknown;
    Stage stage = Stage::Header;
    KeyState key = KeyState::None;
    std::string problem;
    std::size_t number = 0;  // of the line being read, from 1

    // Bytes not yet made into lines: the first few until the encoding is
    // known, an odd byte of UTF-16, a line of a byte file not yet ended.
    std::string pending;
    bool ended_on_cr = false;  // the last line ended at a CR: a LF next is part of that end
    Text line;

    // A value whose hex data goes on over the next lines.
    Text value_name;
    std::uint32_t value_type = 0;
    std::size_t value_line = 0;
    std::vector<std::uint8_t> data;

    void Feed(std::string_view bytes);
    void FeedUnits(const char16_t* units, std::size_t count);
    void FeedBytes(std::string_view bytes);
    void EndLine();
    void DecodeByteLine(std::string_view bytes);
    void Finish();

    void Line(TextView text);
    void Header(TextView text);
    void KeyLine(TextView text);
    void ValueLine(TextView text, std::size_t name_end, Text name);
    enum class Hex { Fail, Done, Continued };
    Hex HexCsv(TextView s, std::size_t i, std::size_t& after);
    void HexLine(TextView text, std::size_t at);
    enum class Data { Whole, Hex };
    void EndValue(Data given);
    void Emit(std::size_t at_line, TextView name, std::uint32_t type);
    void Reject(std::size_t at_line, std::string why) {
        sink.Rejected(at_line, std::move(why));
    }
    void FromAnsiCodePage(std::vector<std::uint8_t>& bytes) const;
};

void ImportReader::State::Feed(std::string_view bytes) {
    if (stage == Stage::Failed || bytes.empty()) return;
    if (encoding == Encoding::Unknown) {
        pending.append(bytes);
        if (pending.size() < 3) return;
        std::string first = std::move(pending);
        pending.clear();
        std::string_view rest(first);
        if (rest.starts_with("\xFF\xFE")) {
            encoding = Encoding::Utf16;
            rest.remove_prefix(2);
        } else if (rest.starts_with("\xEF\xBB\xBF")) {
            encoding = Encoding::Utf8;
            rest.remove_prefix(3);
        } else {
            encoding = Encoding::Utf8;  // until the header says REGEDIT4
        }
        Feed(rest);
        return;
    }
    if (encoding != Encoding::Utf16) {
        FeedBytes(bytes);
        return;
    }
    // UTF-16LE: an odd byte waits for its other half.
    if (!pending.empty()) {
        pending += bytes.front();
        char16_t unit = 0;
        std::memcpy(&unit, pending.data(), 2);
        pending.clear();
        FeedUnits(&unit, 1);
        bytes.remove_prefix(1);
    }
    const std::size_t whole = bytes.size() / 2;
    constexpr std::size_t kBatch = 4096;
    char16_t units[kBatch];
    for (std::size_t done = 0; done < whole && stage != Stage::Failed;) {
        const std::size_t n = std::min(kBatch, whole - done);
        std::memcpy(units, bytes.data() + done * 2, n * 2);
        FeedUnits(units, n);
        done += n;
    }
    if (bytes.size() % 2) pending.assign(1, bytes.back());
}

void ImportReader::State::FeedUnits(const char16_t* units, std::size_t count) {
    std::size_t begin = 0;
    if (ended_on_cr && count > 0) {
        ended_on_cr = false;
        if (units[0] == u'\n') begin = 1;
    }
    for (std::size_t i = begin; i < count; ++i) {
        const char16_t c = units[i];
        if (c != u'\r' && c != u'\n') continue;
        line.append(units + begin, i - begin);
        EndLine();
        if (stage == Stage::Failed) return;
        if (c == u'\r') {
            if (i + 1 == count) {
                ended_on_cr = true;
            } else if (units[i + 1] == u'\n') {
                ++i;
            }
        }
        begin = i + 1;
    }
    line.append(units + begin, count - begin);
}

void ImportReader::State::FeedBytes(std::string_view bytes) {
    std::size_t begin = 0;
    if (ended_on_cr && !bytes.empty()) {
        ended_on_cr = false;
        if (bytes[0] == '\n') begin = 1;
    }
    for (std::size_t i = begin; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\r' && c != '\n') continue;
        if (pending.empty()) {
            DecodeByteLine(bytes.substr(begin, i - begin));
        } else {
            pending.append(bytes.substr(begin, i - begin));
            DecodeByteLine(pending);
            pending.clear();
        }
        EndLine();
        if (stage == Stage::Failed) return;
        if (c == '\r') {
            if (i + 1 == bytes.size()) ended_on_cr = true;
            else if (bytes[i + 1] == '\n') ++i;
        }
        begin = i + 1;
    }
    pending.append(bytes.substr(begin));
}

void ImportReader::State::DecodeByteLine(std::string_view bytes) {
    line.clear();
    if (encoding == Encoding::Ansi || !AppendUtf8(bytes, line)) AppendCp1252(bytes, line);
}

void ImportReader::State::EndLine() {
    ++number;
    Line(line);
    line.clear();
}

void ImportReader::State::Finish() {
    if (stage != Stage::Failed) {
        if (encoding == Encoding::Unknown) {
            // A file of fewer than three bytes.
            const bool utf16 = pending.size() >= 2 && pending[0] == '\xFF' && pending[1] == '\xFE';
            const std::string rest = pending.substr(utf16 ? 2 : 0);
            pending.clear();
            encoding = utf16 ? Encoding::Utf16 : Encoding::Utf8;
            Feed(rest);
        }
        // The last line, ended by the end of the file.
        if (encoding != Encoding::Utf16 && !pending.empty()) {
            DecodeByteLine(pending);
            pending.clear();
            EndLine();
        } else if (!line.empty()) {
            EndLine();
        }
    }
    if (stage == Stage::Header && problem.empty()) {
        problem = "it is empty";
        stage = Stage::Failed;
    }
    // Hex data continued past the last line: Wine stores what was read.
    if (stage == Stage::HexContinued) EndValue(Data::Hex);
}

void ImportReader::State::Line(TextView text) {
    if (stage == Stage::Header) {
        Header(text);
        return;
    }
    if (stage == Stage::Failed) return;
    if (text.find(u'\0') != TextView::npos) {
        if (stage == Stage::HexContinued) stage = Stage::Lines;
        Reject(number, "it holds a NUL character");
        return;
    }
    if (stage == Stage::HexContinued) {
        const std::size_t at = SkipBlanks(text, 0);
        if (at == text.size() || text[at] == u';') return;  // blank and comment lines inside the data
        if (IsHexDigit(text[at])) {
            HexLine(text, at);
            return;
        }
        stage = Stage::Lines;
        Reject(value_line, "the hex data of the value " + Quoted(value_name) + " goes on at line " +
                               std::to_string(number) + " with something that is not hex data");
        return;
    }
    const std::size_t at = SkipBlanks(text, 0);
    if (at == text.size() || text[at] == u';' || text[at] == u'#') return;
    const TextView rest = text.substr(at);
    switch (rest.front()) {
    case u'[': KeyLine(rest.substr(1)); return;
    case u'@': ValueLine(rest, 1, Text()); return;
    case u'"': {
        // The name, unescaped as Wine's import unescapes it.
        Text name;
        std::size_t i = 1;
        for (; i < rest.size(); ++i) {
            char16_t c = rest[i];
            if (c == u'"') break;
            if (c == u'\\') {
                if (++i == rest.size()) break;
                c = rest[i];
                if (c == u'0') {
                    Reject(number, "the value name holds \"\\0\", which Wine's import does not take");
                    return;
                }
                name += c == u'n' ? u'\n' : c == u'r' ? u'\r' : c;
                continue;
            }
            name += c;
        }
        if (i >= rest.size()) {
            Reject(number, "the value name has no closing quote");
            return;
        }
        ValueLine(rest, i + 1, std::move(name));
        return;
    }
    default:
        Reject(number, "it is neither a key, a value nor a comment");
    }
}

void ImportReader::State::Header(TextView text) {
    const TextView header = text.substr(SkipBlanks(text, 0));
    if (header == u"Windows Registry Editor Version 5.00") {
        stage = Stage::Lines;
        return;
    }
    if (header == u"REGEDIT4") {
        if (encoding != Encoding::Utf16) encoding = Encoding::Ansi;
        stage = Stage::Lines;
        return;
    }
    problem = header == u"REGEDIT" ? "it is a Windows 3.1 registry file, which holds no records"
                                   : "it is not a registry file of the editor's import format "
                                     "(its first line is not \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\")";
    stage = Stage::Failed;
}

void ImportReader::State::KeyLine(TextView text) {
    key = KeyState::Refused;
    if (text.empty() || IsBlank(text.front())) {
        Reject(number, "the key name after '[' starts with a blank or is missing");
        return;
    }
    const std::size_t close = text.rfind(u']');
    if (close == TextView::npos) {
        Reject(number, "the key line has no closing ']'");
        return;
    }
    const TextView shown = text.substr(0, close);
    if (shown.starts_with(u'-')) {
        Reject(number, "it deletes the key " + Quoted(shown.substr(1)) + ", which a backup never does");
        return;
    }
    std::optional<ImportRoot> root;
    std::size_t root_end = 0;
    for (const RootName& candidate : kRoots) {
        const std::size_t n = candidate.name.size();
        if (shown.size() < n || (shown.size() > n && shown[n] != u'\\')) continue;
        if (LowerCase(shown.substr(0, n)) != candidate.name) continue;
        root = candidate.root;
        root_end = n;
        break;
    }
    if (!root) {
        Reject(number, Quoted(shown) + " does not start with the name of a registry root such as HKEY_LOCAL_MACHINE");
        return;
    }
    TextView below = shown.substr(std::min(root_end + 1, shown.size()));
    if (below.starts_with(u'\\')) {
        Reject(number, "the key " + Quoted(shown) + " has a doubled backslash after its root, which Wine cannot open");
        return;
    }
    Text path;
    for (const TextView part : SplitPath(below)) {
        if (part.size() > kLongestKeyName) {
            Reject(number, "the key " + Quoted(shown) + " has a name longer than wineserver allows");
            return;
        }
        if (!path.empty()) path += u'\\';
        path += part;
    }
    key = KeyState::Open;
    sink.Key(number, *root, path, shown);
}

void ImportReader::State::ValueLine(TextView text, std::size_t at, Text name) {
    const std::size_t line_number = number;
    at = SkipBlanks(text, at);
    if (at >= text.size() || text[at] != u'=') {
        Reject(line_number, "the value " + Quoted(name) + " has no '=' after its name");
        return;
    }
    at = SkipBlanks(text, at + 1);
    std::size_t end = text.size();
    while (end > at && IsBlank(text[end - 1])) --end;
    const TextView data_text = text.substr(at, end - at);
    if (name.size() > kLongestValueName) {
        Reject(line_number, "a value name is longer than 16383 characters");
        return;
    }
    if (data_text.starts_with(u'-')) {
        Reject(line_number, "it deletes the value " + Quoted(name) + ", which a backup never does");
        return;
    }
    const auto rejected_data = [&](const std::string& why) {
        Reject(line_number, "the data of the value " + Quoted(name) + " " + why);
    };
    if (data_text.starts_with(u'"')) {
        // Unescaped straight into the value's bytes, plain runs in one go.
        data.clear();
        data.reserve(data_text.size() * 2);
        const auto append = [this](const char16_t* units, std::size_t count) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(units);
            data.insert(data.end(), bytes, bytes + count * 2);
        };
        std::size_t i = 1;
        bool closed = false;
        while (i < data_text.size()) {
            std::size_t run = i;
            while (run < data_text.size() && data_text[run] != u'"' && data_text[run] != u'\\') ++run;
            append(data_text.data() + i, run - i);
            i = run;
            if (i == data_text.size()) break;
            if (data_text[i] == u'"') {
                closed = true;
                break;
            }
            if (++i == data_text.size()) break;
            const char16_t c = data_text[i++];
            if (c == u'0') {
                data.clear();
                rejected_data("holds \"\\0\", which Wine's import does not take");
                return;
            }
            const char16_t unit = c == u'n' ? u'\n' : c == u'r' ? u'\r' : c;
            append(&unit, 1);
        }
        if (!closed) {
            data.clear();
            rejected_data("has no closing quote");
            return;
        }
        const std::size_t after = SkipBlanks(data_text, i + 1);
        if (after < data_text.size() && data_text[after] != u';') {
            data.clear();
            rejected_data("goes on after its closing quote");
            return;
        }
        data.insert(data.end(), {0, 0});
        value_line = line_number;
        value_name = std::move(name);
        value_type = 1;
        EndValue(Data::Whole);
        return;
    }
    if (data_text.starts_with(u"dword:")) {
        std::size_t i = SkipBlanks(data_text, 6);
        const std::size_t digits = i;
        std::uint32_t value = 0;
        while (i < data_text.size() && IsHexDigit(data_text[i])) value = value * 16 + HexDigit(data_text[i++]);
        const std::size_t after = SkipBlanks(data_text, i);
        if (i == digits || i - digits > 8 || (after < data_text.size() && data_text[after] != u';')) {
            rejected_data("is not a dword of one to eight hex digits");
            return;
        }
        data.resize(4);
        std::memcpy(data.data(), &value, 4);
        value_line = line_number;
        value_name = std::move(name);
        value_type = 4;
        EndValue(Data::Whole);
        return;
    }
    std::size_t hex_at = 0;
    std::uint32_t type = 3;
    if (data_text.starts_with(u"hex:")) {
        hex_at = 4;
    } else if (data_text.starts_with(u"hex(")) {
        // wcstoul, but not of a 0x right after the parenthesis.
        if (data_text.size() <= 5 || (data_text[5] | 0x20) == u'x') {
            rejected_data("has a type Wine's import does not read");
            return;
        }
        const Converted number_read = WcsToULHex(data_text, 4);
        const std::size_t close = number_read.end;
        if (number_read.overflow || close + 1 >= data_text.size() || data_text[close] != u')' || data_text[close + 1] != u':') {
            rejected_data("has a type Wine's import does not read");
            return;
        }
        type = number_read.value;
        hex_at = close + 2;
    } else {
        rejected_data("is of no type Wine's import knows");
        return;
    }
    value_line = line_number;
    value_name = std::move(name);
    value_type = type;
    data.clear();
    if (hex_at == data_text.size()) {
        // No bytes at all: stored as it stands, not made a text.
        Emit(value_line, value_name, value_type);
        return;
    }
    stage = Stage::HexContinued;  // HexLine ends it unless the data goes on
    HexLine(data_text, hex_at);
}

// Wine's convert_hex_csv_to_hex: bytes of one or two hex digits (each read
// by wcstoul), separated by commas; a backslash after a comma continues
// the data on the next line, and a ';' starts a comment.
ImportReader::State::Hex ImportReader::State::HexCsv(TextView s, std::size_t i, std::size_t& after) {
    // Room for this line's bytes, growing as a vector grows: data continued
    // over a million lines must not be moved at each of them.
    if (const std::size_t wanted = data.size() + (s.size() - i + 1) / 3; wanted > data.capacity())
        data.reserve(std::max(wanted, data.capacity() * 2));
    while (i < s.size()) {
        // What an exported file holds: two digits and a comma.
        if (i + 2 < s.size() && IsHexDigit(s[i]) && IsHexDigit(s[i + 1]) && s[i + 2] == u',') {
            data.push_back(static_cast<std::uint8_t>(HexDigit(s[i]) * 16 + HexDigit(s[i + 1])));
            i += 3;
            continue;
        }
        const Converted byte = WcsToULHex(s, i);
        if (byte.value > 0xFF || byte.overflow) return Hex::Fail;
        if (byte.end == i) {
            const std::size_t at = SkipBlanks(s, i);
            if (at < s.size() && s[at] == u'\\') {
                after = at + 1;
                return Hex::Continued;
            }
            return at < s.size() && s[at] == u';' ? Hex::Done : Hex::Fail;
        }
        data.push_back(static_cast<std::uint8_t>(byte.value));
        i = byte.end;
        if (i < s.size() && s[i] != u',') {
            const std::size_t at = SkipBlanks(s, i);
            return at < s.size() && s[at] != u';' ? Hex::Fail : Hex::Done;
        }
        if (i < s.size()) ++i;
    }
    return Hex::Done;
}

void ImportReader::State::HexLine(TextView text, std::size_t at) {
    std::size_t after = 0;
    switch (HexCsv(text, at, after)) {
    case Hex::Fail:
        stage = Stage::Lines;
        Reject(value_line, "the hex data of the value " + Quoted(value_name) +
                               (number == value_line ? std::string(" is not read by Wine's import")
                                                     : " is not read by Wine's import at line " + std::to_string(number)));
        return;
    case Hex::Continued: {
        const std::size_t rest = SkipBlanks(text, after);
        if (rest < text.size() && text[rest] != u';') {
            stage = Stage::Lines;
            Reject(number, "the hex data of the value " + Quoted(value_name) + " goes on after its continuing backslash");
            return;
        }
        stage = Stage::HexContinued;
        return;
    }
    case Hex::Done:
        EndValue(Data::Hex);
        return;
    }
}

void ImportReader::State::FromAnsiCodePage(std::vector<std::uint8_t>& bytes) const {
    const std::string_view narrow(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    Text wide;
    if (encoding == Encoding::Ansi || !AppendUtf8(narrow, wide)) AppendCp1252(narrow, wide);
    bytes.resize(wide.size() * 2);
    std::memcpy(bytes.data(), wide.data(), bytes.size());
}

// A value read to its end. Texts given in hex get their terminator and, in
// a file without a byte-order mark, go from the ANSI code page to UTF-16,
// as Wine's prepare_hex_string_data does; where that reads outside the data
// (no bytes, or an odd number of them in UTF-16) Wine's result is chance,
// and the value is refused instead.
void ImportReader::State::EndValue(Data given) {
    stage = Stage::Lines;
    const bool text = std::find(std::begin(kTextTypes), std::end(kTextTypes), value_type) != std::end(kTextTypes);
    if (given == Data::Hex && text) {
        if (data.empty() || (encoding == Encoding::Utf16 && data.size() % 2 != 0)) {
            const char* what = data.empty() ? "no bytes" : "an odd number of bytes";
            data.clear();
            Reject(value_line, "the text of the value " + Quoted(value_name) + " is given in hex with " + what);
            return;
        }
        if (encoding == Encoding::Utf16) {
            if (data.end()[-1] != 0 || data.end()[-2] != 0) data.insert(data.end(), {0, 0});
        } else {
            if (data.back() != 0) data.push_back(0);
            FromAnsiCodePage(data);
        }
    }
    Emit(value_line, value_name, value_type);
}

void ImportReader::State::Emit(std::size_t at_line, TextView name, std::uint32_t type) {
    if (key == KeyState::Refused) return;  // said at the key's line
    if (key == KeyState::None) {
        Reject(at_line, "the value " + Quoted(name) + " comes before any key");
        return;
    }
    sink.Value(at_line, name, type, data);
    data.clear();
}

ImportReader::ImportReader(ImportSink& sink) : m_state(std::make_unique<State>(sink)) {}
ImportReader::~ImportReader() = default;

void ImportReader::Feed(std::string_view bytes) { m_state->Feed(bytes); }

std::string ImportReader::Finish() {
    m_state->Finish();
    return m_state->problem;
}

bool ImportReader::failed() const { return m_state->stage == State::Stage::Failed; }

std::string ReadImportBytes(std::string_view bytes, ImportSink& sink) {
    ImportReader reader(sink);
    reader.Feed(bytes);
    return reader.Finish();
}

std::string ReadImportFile(const std::filesystem::path& path, ImportSink& sink) {
    ImportReader reader(sink);
    const PieceRead read = ReadFilePieces(path, [&reader](std::string_view piece) {
        reader.Feed(piece);
        return !reader.failed();
    });
    std::string problem = reader.Finish();
    if (read.error != IoError::None) return "it " + ReadFailureText(read.code);
    if (read.changed) return "it changed while it was read; try again";
    return problem;
}

}  // namespace ssr::wine
