#include "platform/wine/reg_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "platform/wine/posix_handles.h"

namespace ssr::wine {

namespace {

// The C locale's isspace, which wineserver's loader uses.
constexpr bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr unsigned HexValue(char c) {
    return c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
}

// wineserver compares names with the lower-case table of Wine's own
// l_intl.nls; with Wine installed we use the very same table, so that names
// match and sort exactly as in Wine. Without it, the program's own mapping.
std::optional<std::array<char16_t, 0x10000>> WineLowerTable() {
    for (const char* path : {"/usr/share/wine/nls/l_intl.nls", "/usr/local/share/wine/nls/l_intl.nls"}) {
        const UniqueFile file(std::fopen(path, "rb"));
        if (!file) continue;
        std::vector<std::uint16_t> words(65536);
        const std::size_t count = std::fread(words.data(), 2, words.size(), file.get());
        words.resize(count);
        const auto word = [&](std::size_t at) -> std::optional<std::size_t> {
            if (at >= words.size()) return std::nullopt;
            return words[at];
        };
        // Header offset, then the upper-case table's size, then the lower-case table.
        const auto start = word(0);
        if (!start || !*start) continue;
        const auto upper = word(*start);
        if (!upper || !*upper) continue;
        const std::size_t lower_at = *start + *upper;
        const auto lower_size = word(lower_at);
        if (!lower_size || !*lower_size) continue;
        const std::size_t base = lower_at + 1;
        const std::size_t size = *lower_size - 1u;
        if (base + size > words.size()) continue;
        const auto map = [&](std::size_t k) -> std::optional<std::size_t> {
            if (k >= size) return std::nullopt;
            return words[base + k];
        };
        std::array<char16_t, 0x10000> table{};
        bool ok = true;
        for (std::size_t ch = 0; ch < table.size() && ok; ++ch) {
            const auto a = map(ch >> 8);
            const auto b = a ? map(*a + ((ch >> 4) & 0x0f)) : std::nullopt;
            const auto c = b ? map(*b + (ch & 0x0f)) : std::nullopt;
            if (!c) ok = false;
            else table[ch] = static_cast<char16_t>(ch + *c);
        }
        if (ok) return table;
    }
    return std::nullopt;
}

const std::array<char16_t, 0x10000>& LowerTable() {
    static const auto table = [] {
        if (auto wine = WineLowerTable()) return *wine;
        std::array<char16_t, 0x10000> t{};
        for (std::size_t i = 0; i < t.size(); ++i) t[i] = LowerCaseUnit(static_cast<char16_t>(i));
        return t;
    }();
    return table;
}

// One line as wineserver's reader sees it: the bytes up to the line feed,
// without a carriage return before it, and cut at a NUL byte (the reader
// measures lines with strlen).
struct Line {
    std::string_view text;
    std::size_t begin = 0;
    std::size_t next = 0;  // where the following line begins
};

class LineCursor {
public:
    LineCursor(std::string_view bytes, std::size_t pos, std::size_t end, NulBytes nul)
        : m_bytes(bytes), m_pos(pos), m_end(end), m_has_nul(nul == NulBytes::Possible) {}

    bool Next(Line& line) {
        if (m_pos >= m_end) return false;
        const char* base = m_bytes.data();
        const auto* feed = static_cast<const char*>(std::memchr(base + m_pos, '\n', m_end - m_pos));
        const std::size_t stop = feed ? static_cast<std::size_t>(feed - base) : m_end;
        std::string_view text(base + m_pos, stop - m_pos);
        if (feed && !text.empty() && text.back() == '\r') text.remove_suffix(1);
        if (m_has_nul)
            if (const void* nul = std::memchr(text.data(), 0, text.size()))
                text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
        line.text = text;
        line.begin = m_pos;
        line.next = feed ? stop + 1 : m_end;
        m_pos = line.next;
        return true;
    }

    [[nodiscard]] std::size_t pos() const { return m_pos; }

private:
    std::string_view m_bytes;
    std::size_t m_pos;
    std::size_t m_end;
    bool m_has_nul;
};

// Exact equality, compared as memory: the character traits compare one unit at a time.
bool SameUnits(TextView a, TextView b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

std::string_view SkipSpace(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    return s.substr(i);
}

// glibc's strtoul(s, &end, 16) on a view whose end stands for the NUL.
struct Converted {
    std::uint64_t value = 0;
    std::size_t used = 0;  // 0: nothing converted
};
Converted StrToULHex(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i + 2 < s.size() && s[i] == '0' && (s[i + 1] | 0x20) == 'x' && IsHex(s[i + 2])) i += 2;
    const std::size_t digits = i;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < s.size() && IsHex(s[i]); ++i) {
        if (value > (UINT64_MAX >> 4)) overflow = true;
        else value = value * 16 + HexValue(s[i]);
    }
    if (i == digits) return {};
    if (overflow) value = UINT64_MAX;
    else if (negative) value = 0 - value;
    return {value, i};
}

// wineserver's UTF-8 decoding inside parse_strW: a sequence it does not
// accept (a bad lead or continuation byte, too short a form, beyond U+10FFFF)
// is dropped, and decoding goes on after the bytes it looked at.
void DecodeUtf8Unit(std::string_view s, std::size_t& i, Text& out) {
    static constexpr unsigned char kMask[4] = {0x7f, 0x1f, 0x0f, 0x07};
    static constexpr std::uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    const auto at = [&](std::size_t k) -> unsigned char {
        return k < s.size() ? static_cast<unsigned char>(s[k]) : 0;
    };
    const unsigned char lead = at(i++);
    const int length = lead < 0xc2 ? 0 : lead < 0xe0 ? 1 : lead < 0xf0 ? 2 : lead < 0xf5 ? 3 : 0;
    if (length == 0) return;
    std::uint32_t res = lead & kMask[length];
    for (int k = 0; k < length; ++k) {
        const unsigned ch = at(i) ^ 0x80u;
        if (ch >= 0x40) return;
        res = (res << 6) | ch;
        ++i;
    }
    if (res < kSmallest[length] || res > 0x10ffff) return;
    if (res <= 0xffff) {
        out += static_cast<char16_t>(res);
    } else {
        res -= 0x10000;
        out += static_cast<char16_t>(0xd800 | (res >> 10));
        out += static_cast<char16_t>(0xdc00 | (res & 0x3ff));
    }
}

void AppendUtf16(std::vector<std::uint8_t>& bytes, TextView text) {
    const std::size_t at = bytes.size();
    bytes.resize(at + text.size() * 2);
    std::uint8_t* out = bytes.data() + at;
    for (const char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit & 0xff);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    }
}

enum class Parse { Text, Dword, Hex };

// Skims a value line as far as its data tag: true when it is hex data, the
// only kind that can continue on the next lines.
bool IsHexValueLine(std::string_view s) {
    std::size_t i = 1;
    if (s[0] == '"') {
        // The closing quote is the first one after an even run of backslashes.
        for (;;) {
            const auto* quote = static_cast<const char*>(std::memchr(s.data() + i, '"', s.size() - i));
            if (!quote) return false;
            const auto at = static_cast<std::size_t>(quote - s.data());
            std::size_t run = 0;
            while (at - run > i && s[at - run - 1] == '\\') ++run;
            i = at + 1;
            if (run % 2 == 0) break;
        }
    }
    while (i < s.size() && IsSpace(s[i])) ++i;
    if (i >= s.size() || s[i] != '=') return false;
    ++i;
    while (i < s.size() && IsSpace(s[i])) ++i;
    return s.substr(i).starts_with("hex");
}

// wineserver refuses longer names.
constexpr std::size_t kLongestValueName = 16383;
constexpr std::size_t kLongestKeyName = 256;

// The data part of a value line, after its tag; false when wineserver's
// loader rejects it. Continuation lines of hex data come from `cursor`, and
// stay consumed even when they are bad.
enum class Decode { CheckOnly, Data };

bool ParseData(std::string_view rest, LineCursor& cursor, std::uint32_t& type, std::vector<std::uint8_t>& data,
               Decode decode) {
    struct Tag {
        std::string_view text;
        std::uint32_t type;
        Parse parse;
    };
    static constexpr Tag kTags[] = {
        {"\"", 1, Parse::Text},     {"str:\"", 1, Parse::Text}, {"str(2):\"", 2, Parse::Text},
        {"str(7):\"", 7, Parse::Text}, {"hex:", 3, Parse::Hex},  {"dword:", 4, Parse::Dword},
    };
    Parse parse = Parse::Hex;
    bool tagged = false;
    for (const Tag& tag : kTags) {
        if (rest.starts_with(tag.text)) {
            type = tag.type;
            parse = tag.parse;
            rest.remove_prefix(tag.text.size());
            tagged = true;
            break;
        }
    }
    if (!tagged) {
        if (!rest.starts_with("hex(")) return false;
        // strtoul without digits leaves the end at its start, which the
        // loader accepts: "hex():" is type 0.
        const Converted number = StrToULHex(rest.substr(4));
        const std::size_t end = 4 + number.used;
        if (rest.substr(end, 2) != "):") return false;
        type = static_cast<std::uint32_t>(number.value);
        rest.remove_prefix(end + 2);
    }

    switch (parse) {
    case Parse::Text: {
        // Decoded again and again while a listing reads its values: the
        // buffer stays, its allocation with it.
        thread_local Text text;
        text.clear();
        if (!Unescape(rest, '"', text)) return false;
        if (decode == Decode::CheckOnly) return true;
        data.reserve((text.size() + 1) * 2);
        AppendUtf16(data, text);
        data.push_back(0);
        data.push_back(0);
        break;
    }
    case Parse::Dword: {
        const auto value = static_cast<std::uint32_t>(StrToULHex(rest).value);
        if (decode == Decode::CheckOnly) return true;
        for (int shift = 0; shift < 32; shift += 8) data.push_back(static_cast<std::uint8_t>(value >> shift));
        break;
    }
    case Parse::Hex: {
        for (;;) {
            std::size_t i = 0;
            while (i < rest.size() && IsHex(rest[i])) {
                const Converted number = StrToULHex(rest.substr(i));
                const auto byte = static_cast<std::uint32_t>(number.value);
                if (number.used == 0 || byte > 0xff) return false;
                data.push_back(static_cast<std::uint8_t>(byte));
                i += number.used;
                while (i < rest.size() && IsSpace(rest[i])) ++i;
                if (i < rest.size() && rest[i] == ',') ++i;
                while (i < rest.size() && IsSpace(rest[i])) ++i;
            }
            while (i < rest.size() && IsSpace(rest[i])) ++i;
            if (i >= rest.size()) break;
            if (rest[i] != '\\') return false;
            Line next;
            if (!cursor.Next(next)) return false;
            rest = SkipSpace(next.text);
        }
        break;
    }
    }
    return true;
}

// wineserver's load_value: `s` starts at '@' or '"'. False when the line
// makes no value; a value whose data is rejected still exists, as an empty
// REG_NONE that replaces what an earlier line gave it.
// `out`'s buffers are reused; on false it holds nothing of use.
bool ParseValue(std::string_view s, LineCursor& cursor, RegValue* out) {
    Text unused_name;
    std::vector<std::uint8_t> unused_data;
    Text& name = out ? out->name : unused_name;
    std::vector<std::uint8_t>& data = out ? out->data : unused_data;
    name.clear();
    data.clear();
    std::size_t res = 1;
    if (s[0] == '"') {
        const auto used = Unescape(s.substr(1), '"', name);
        if (!used) return false;
        res += *used;
    }
    while (res < s.size() && IsSpace(s[res])) ++res;
    if (res >= s.size() || s[res] != '=') return false;
    ++res;
    while (res < s.size() && IsSpace(s[res])) ++res;
    if (name.size() > kLongestValueName) return false;
    std::uint32_t type = 0;
    if (!ParseData(s.substr(res), cursor, type, data, out ? Decode::Data : Decode::CheckOnly)) {
        type = 0;
        data.clear();
    }
    if (out) out->type = type;
    return true;
}

}  // namespace

namespace {

// Where a run of plain characters that starts before `i` ends: at a
// backslash, a byte beyond ASCII, `end_char` or the end.
std::size_t PlainRunEnd(std::string_view s, std::size_t i, char end_char) {
    // Bytes that may end a run, looked up at once; the quote and the bracket
    // are the end characters wineserver's strings and key names use.
    static constexpr auto kMayEnd = [] {
        std::array<bool, 256> table{};
        for (std::size_t c = 0x80; c < table.size(); ++c) table[c] = true;
        table['\\'] = table['"'] = table[']'] = true;
        return table;
    }();
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
    const auto stop = static_cast<unsigned char>(end_char);
    if (!kMayEnd[stop]) {
        while (i < s.size() && bytes[i] != stop && !(kMayEnd[bytes[i]] && bytes[i] != '"' && bytes[i] != ']')) ++i;
        return i;
    }
    for (; i < s.size(); ++i) {
        const unsigned char c = bytes[i];
        if (kMayEnd[c] && (c == stop || c == '\\' || c >= 0x80)) break;
    }
    return i;
}

// ASCII bytes to UTF-16 units.
void Widen(const unsigned char* __restrict from, std::size_t count, char16_t* __restrict to) {
    for (std::size_t k = 0; k < count; ++k) to[k] = from[k];
}

}  // namespace

std::optional<std::size_t> Unescape(std::string_view s, char end_char, Text& out) {
    // Never more units than bytes: room for a usual name or text at once,
    // however its escapes cut it into runs.
    out.reserve(out.size() + std::min<std::size_t>(s.size(), 512));
    std::size_t i = 0;
    while (i < s.size() && s[i] != end_char) {
        if (s[i] != '\\') {
            if (static_cast<unsigned char>(s[i]) >= 0x80) {
                DecodeUtf8Unit(s, i, out);
                continue;
            }
            // A run of plain characters goes in at once.
            const std::size_t end = PlainRunEnd(s, i + 1, end_char);
            const std::size_t at = out.size();
            out.resize(at + (end - i));
            Widen(reinterpret_cast<const unsigned char*>(s.data()) + i, end - i, out.data() + at);
            i = end;
            continue;
        }
        // A backslash at the end of the line would make wineserver read past
        // it; the string is unterminated either way.
        if (++i >= s.size()) return std::nullopt;
        const char c = s[i];
        switch (c) {
        case 'a': out += u'\a'; ++i; break;
        case 'b': out += u'\b'; ++i; break;
        case 'e': out += char16_t{0x1b}; ++i; break;
        case 'f': out += u'\f'; ++i; break;
        case 'n': out += u'\n'; ++i; break;
        case 'r': out += u'\r'; ++i; break;
        case 't': out += u'\t'; ++i; break;
        case 'v': out += u'\v'; ++i; break;
        case 'x': {
            ++i;
            if (i >= s.size() || !IsHex(s[i])) {
                out += u'x';
                break;
            }
            unsigned value = 0;
            for (int k = 0; k < 4 && i < s.size() && IsHex(s[i]); ++k) value = value * 16 + HexValue(s[i++]);
            out += static_cast<char16_t>(value);
            break;
        }
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            unsigned value = static_cast<unsigned>(s[i++] - '0');
            for (int k = 0; k < 2 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++k)
                value = value * 8 + static_cast<unsigned>(s[i++] - '0');
            out += static_cast<char16_t>(value);
            break;
        }
        default:
            // Any other escaped character stands for itself, UTF-8 included.
            if (static_cast<unsigned char>(c) < 0x80) out += static_cast<char16_t>(s[i++]);
            else DecodeUtf8Unit(s, i, out);
            break;
        }
    }
    if (i >= s.size()) return std::nullopt;
    return i + 1;
}

std::string Escape(TextView text, std::string_view specials) {
    static constexpr char kLetters[33] = ".......abtnvfr.............e....";
    std::string out;
    out.reserve(text.size());
    char buffer[16];
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const char16_t next = i + 1 < text.size() ? text[i + 1] : 0;
        if (c > 127) {
            const bool pad = next < 128 && IsHex(static_cast<char>(next));
            std::snprintf(buffer, sizeof buffer, pad ? "\\x%04x" : "\\x%x", static_cast<unsigned>(c));
            out += buffer;
        } else if (c < 32) {
            if (kLetters[c] != '.') {
                out += '\\';
                out += kLetters[c];
            } else {
                const bool pad = next >= u'0' && next <= u'7';
                std::snprintf(buffer, sizeof buffer, pad ? "\\%03o" : "\\%o", static_cast<unsigned>(c));
                out += buffer;
            }
        } else {
            const char ascii = static_cast<char>(c);
            if (ascii == '\\' || specials.find(ascii) != std::string_view::npos) out += '\\';
            out += ascii;
        }
    }
    return out;
}

int CompareNames(TextView a, TextView b) {
    const auto& lower = LowerTable();
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const char16_t x = lower[a[i]];
        const char16_t y = lower[b[i]];
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

RegFile::Node* RegFile::NewNode(Node* parent, Text name) {
    Node& node = m_nodes.emplace_back();
    node.name = std::move(name);
    node.parent = parent;
    return &node;
}

RegFile::Node* RegFile::Child(Node* parent, TextView name) {
    auto& children = parent->children;
    // wineserver writes keys in order, so the common case appends.
    if (!children.empty()) {
        const int last = CompareNames(children.back()->name, name);
        if (last == 0) return children.back();
        if (last > 0) {
            const auto at = std::lower_bound(children.begin(), children.end(), name,
                                             [](const Node* n, TextView v) { return CompareNames(n->name, v) < 0; });
            if (at != children.end() && CompareNames((*at)->name, name) == 0) return *at;
            Node* node = NewNode(parent, Text(name));
            children.insert(at, node);
            return node;
        }
    }
    Node* node = NewNode(parent, Text(name));
    children.push_back(node);
    return node;
}

namespace {

// The keys of a header line (`text` after its '[') that needs no decoding:
// ASCII only, no escape but the doubled backslash between two keys, no
// empty or overlong name. Such a header names the keys its bytes spell,
// which can be compared and copied as they stand. False for any other
// header, which is then decoded.
bool PlainHeaderParts(std::string_view text, std::vector<std::string_view>& parts) {
    parts.clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == ']' || c == '\\') {
            if (i == start || i - start > kLongestKeyName) return false;
            parts.push_back(text.substr(start, i - start));
            if (c == ']') return true;
            if (i + 1 >= text.size() || text[i + 1] != '\\') return false;
            start = ++i + 1;
        } else if (c >= 0x80) {
            return false;
        }
    }
    return false;  // unterminated
}

}  // namespace

std::unique_ptr<RegFile> RegFile::Parse(std::string bytes, Architecture known) {
    std::unique_ptr<RegFile> file(new RegFile);
    file->m_bytes = std::move(bytes);
    file->m_nodes.emplace_back();
    const std::string_view all = file->m_bytes;
    file->m_nul = std::memchr(all.data(), 0, all.size()) ? NulBytes::Possible : NulBytes::Absent;
    LineCursor cursor(all, 0, all.size(), file->m_nul);
    Line line;
    if (!cursor.Next(line) || line.text != kRegFileHeader) return nullptr;
    file->m_crlf = line.next >= 2 && all[line.next - 2] == '\r';

    Text path;
    std::vector<TextView> parts;
    // The previous header's keys: consecutive sections share most of their
    // path. Entries past `chain_size` keep their buffers for the next header.
    std::vector<std::pair<Text, Node*>> chain;
    std::size_t chain_size = 0;
    // The same for headers read as plain bytes, by their bytes.
    std::vector<std::string_view> raw_parts;
    std::vector<std::pair<std::string_view, Node*>> raw_chain;
    Text name;
    // Any other header, decoded as wineserver decodes it; null when
    // wineserver makes no key of it.
    const auto header_key = [&](std::string_view text) -> Node* {
        path.clear();
        // A malformed header leaves the lines after it without a key, as
        // in wineserver, where its values are rejected.
        if (!Unescape(text.substr(1), ']', path)) return nullptr;
        // wineserver measures the name as a C string there: one that
        // starts with a NUL is empty, and names the root.
        if (!path.empty() && path.front() == u'\0') path.clear();
        // wineserver rejects a path that starts with a separator, and key
        // names longer than it allows, and makes none of the path's keys.
        if (path.starts_with(u'\\')) return nullptr;
        SplitPathInto(path, parts);
        if (std::any_of(parts.begin(), parts.end(), [](TextView p) { return p.size() > kLongestKeyName; })) return nullptr;
        Node* node = file->root();
        std::size_t depth = 0;
        while (depth < parts.size() && depth < chain_size && SameUnits(chain[depth].first, parts[depth])) {
            node = chain[depth].second;
            file->m_below_link |= node->link;
            ++depth;
        }
        if (chain.size() < parts.size()) chain.resize(parts.size());
        for (; depth < parts.size(); ++depth) {
            node = file->Child(node, parts[depth]);
            file->m_below_link |= node->link;
            chain[depth].first.assign(parts[depth]);
            chain[depth].second = node;
        }
        chain_size = parts.size();
        return node;
    };
    std::int64_t current = -1;
    Architecture architecture = known;
    while (cursor.Next(line)) {
        const std::string_view text = SkipSpace(line.text);
        const char first = text.empty() ? '\0' : text[0];
        if (first == '[') {
            if (current >= 0) file->m_sections[static_cast<std::size_t>(current)].end = static_cast<std::uint32_t>(line.begin);
            current = -1;
            Node* node = nullptr;
            if (PlainHeaderParts(text.substr(1), raw_parts)) {
                chain_size = 0;
                node = file->root();
                std::size_t depth = 0;
                while (depth < raw_parts.size() && depth < raw_chain.size() && raw_chain[depth].first == raw_parts[depth]) {
                    node = raw_chain[depth].second;
                    file->m_below_link |= node->link;
                    ++depth;
                }
                raw_chain.resize(depth);
                for (; depth < raw_parts.size(); ++depth) {
                    name.resize(raw_parts[depth].size());
                    Widen(reinterpret_cast<const unsigned char*>(raw_parts[depth].data()), name.size(), name.data());
                    node = file->Child(node, name);
                    file->m_below_link |= node->link;
                    raw_chain.emplace_back(raw_parts[depth], node);
                }
            } else {
                raw_chain.clear();
                node = header_key(text);
                if (!node) continue;
            }
            current = static_cast<std::int64_t>(file->m_sections.size());
            file->m_sections.push_back(Section{static_cast<std::uint32_t>(line.begin),
                                               static_cast<std::uint32_t>(line.next),
                                               static_cast<std::uint32_t>(all.size()), node});
            node->sections.push_back(static_cast<std::uint32_t>(current));
        } else if (current < 0) {
            // Outside a key, only "#arch=" means something. wineserver stops
            // reading at an architecture it does not know or that contradicts
            // an earlier one; the rest of the file is kept but never read.
            if (first == '#' && text.starts_with("#arch=")) {
                const std::string_view name = text.substr(6);
                if (name != "win32" && name != "win64") break;
                const Architecture arch = name == "win32" ? Architecture::Win32 : Architecture::Win64;
                if (architecture != Architecture::Unknown && architecture != arch) break;
                architecture = arch;
                if (file->m_architecture == Architecture::Unknown) file->m_architecture = arch;
            }
            continue;
        } else if (first == '"' || first == '@') {
            if (text.find('\\') != std::string_view::npos && IsHexValueLine(text)) {
                const std::size_t before = cursor.pos();
                static_cast<void>(ParseValue(text, cursor, nullptr));
                if (cursor.pos() != before) file->m_sections[static_cast<std::size_t>(current)].continued = true;
            }
        } else if (first == '#') {
            Node* node = file->m_sections[static_cast<std::size_t>(current)].node;
            if (text.starts_with("#class=\"")) {
                Text class_text;
                if (Unescape(text.substr(8), '"', class_text)) node->class_text = std::move(class_text);
            }
            if (text.starts_with("#link")) node->link = file->m_has_links = true;
        }
    }
    return file;
}

namespace {

RegFile::Node* ChildNamed(RegFile::Node* node, TextView part) {
    const auto& children = node->children;
    const auto at = std::lower_bound(children.begin(), children.end(), part,
                                     [](const RegFile::Node* n, TextView v) { return CompareNames(n->name, v) < 0; });
    if (at == children.end() || CompareNames((*at)->name, part) != 0 || (*at)->removed) return nullptr;
    return *at;
}

RegFile::Node* Walk(RegFile::Node* node, TextView path) {
    std::size_t start = 0;
    while (node && start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == TextView::npos) end = path.size();
        if (end > start) node = ChildNamed(node, path.substr(start, end - start));
        start = end + 1;
    }
    return node;
}

}  // namespace

RegFile::Node* RegFile::Find(Node* base, TextView path) const {
    // Split off the last component and reuse the parent of the previous lookup.
    std::size_t last = path.size();
    while (last > 0 && path[last - 1] == u'\\') --last;
    const std::size_t cut = path.rfind(u'\\', last == 0 ? 0 : last - 1);
    if (cut == TextView::npos || last == 0) return Walk(base, path);
    const TextView prefix = path.substr(0, cut);
    if (m_find_base != base || !SameUnits(m_find_prefix, prefix)) {
        m_find_base = base;
        m_find_prefix.assign(prefix);
        m_find_parent = Walk(base, prefix);
        m_find_hint = 0;
    }
    if (!m_find_parent) return nullptr;
    // Entries are opened in the order they were enumerated, by the names
    // the enumeration gave: the child after the last one found, spelt
    // exactly so, spares the search.
    const TextView leaf = path.substr(cut + 1, last - cut - 1);
    const auto& children = m_find_parent->children;
    for (const std::size_t at : {m_find_hint + 1, m_find_hint})
        if (at < children.size() && SameUnits(children[at]->name, leaf) && !children[at]->removed) {
            m_find_hint = at;
            return children[at];
        }
    const auto at = std::lower_bound(children.begin(), children.end(), leaf,
                                     [](const Node* n, TextView v) { return CompareNames(n->name, v) < 0; });
    if (at == children.end() || CompareNames((*at)->name, leaf) != 0 || (*at)->removed) return nullptr;
    m_find_hint = static_cast<std::size_t>(at - children.begin());
    return *at;
}

void RegFile::LoadValues(Node* node) const {
    node->values_loaded = true;
    std::unordered_map<Text, std::size_t> index;  // only for keys with many values
    const auto& lower = LowerTable();
    for (const std::uint32_t s : node->sections) {
        const Section& section = m_sections[s];
        LineCursor cursor(m_bytes, section.body, section.end, m_nul);
        Line line;
        while (cursor.Next(line)) {
            const std::string_view text = SkipSpace(line.text);
            if (text.empty() || (text[0] != '"' && text[0] != '@')) continue;
            RegValue value;
            if (!ParseValue(text, cursor, &value)) continue;
            // A later line for the same name replaces the data and keeps the first spelling.
            RegValue* existing = nullptr;
            if (node->values.size() < 16) {
                for (auto& v : node->values)
                    if (CompareNames(v.name, value.name) == 0) existing = &v;
            } else {
                if (index.empty())
                    for (std::size_t k = 0; k < node->values.size(); ++k) {
                        Text key = node->values[k].name;
                        for (auto& c : key) c = lower[c];
                        index.emplace(std::move(key), k);
                    }
                Text key = value.name;
                for (auto& c : key) c = lower[c];
                const auto [it, added] = index.emplace(std::move(key), node->values.size());
                if (!added) existing = &node->values[it->second];
            }
            if (existing) {
                existing->type = value.type;
                existing->data = std::move(value.data);
            } else {
                node->values.push_back(std::move(value));
            }
        }
    }
}

const std::vector<RegValue>& RegFile::Values(Node* node) const {
    if (!node->values_loaded) LoadValues(node);
    return node->values;
}

namespace {

// Does the value line `s` name `name`? Plain names are compared where they
// stand; only names with escapes or non-ASCII bytes are decoded.
bool NamesValue(std::string_view s, TextView name, Text& scratch) {
    if (s[0] == '@') return name.empty();
    // A plain character stands for itself: the first one that differs
    // settles it, and most lines differ at their first letter.
    for (std::size_t i = 0;; ++i) {
        const std::size_t at = i + 1;
        // An unterminated name makes no value; whatever is answered here,
        // ParseValue rejects the line.
        const auto c = at < s.size() ? static_cast<unsigned char>(s[at]) : static_cast<unsigned char>('"');
        if (c == '\\' || c >= 0x80) break;
        if (c == '"') return i == name.size();
        if (i >= name.size()) return false;
        char16_t raw = c;
        char16_t wanted = name[i];
        if (raw == wanted) continue;
        if (raw >= u'A' && raw <= u'Z') raw = static_cast<char16_t>(raw + 32);
        if (wanted >= u'A' && wanted <= u'Z') wanted = static_cast<char16_t>(wanted + 32);
        if (raw != wanted) return false;
    }
    scratch.clear();
    return Unescape(s.substr(1), '"', scratch) && CompareNames(scratch, name) == 0;
}

}  // namespace

const RegValue* RegFile::FindValue(Node* node, TextView name) const {
    if (node->values_loaded) {
        for (const RegValue& v : node->values)
            if (CompareNames(v.name, name) == 0) return &v;
        return nullptr;
    }
    if (m_cached_node == node && SameUnits(m_cached_name, name)) return m_cached_found ? &m_cached_value : nullptr;
    m_cached_node = node;
    m_cached_name.assign(name);
    m_cached_found = false;
    Text scratch;
    for (const std::uint32_t s : node->sections) {
        const Section& section = m_sections[s];
        LineCursor cursor(m_bytes, section.body, section.end, m_nul);
        Line line;
        while (cursor.Next(line)) {
            const std::string_view text = SkipSpace(line.text);
            if (text.empty() || (text[0] != '"' && text[0] != '@')) continue;
            if (NamesValue(text, name, scratch)) {
                // A later line for the same name replaces an earlier one.
                if (ParseValue(text, cursor, &m_scratch_value)) {
                    std::swap(m_cached_value, m_scratch_value);
                    m_cached_found = true;
                }
            } else if (section.continued && IsHexValueLine(text) && text.find('\\') != std::string_view::npos) {
                static_cast<void>(ParseValue(text, cursor, nullptr));  // skip its continuation lines
            }
        }
    }
    return m_cached_found ? &m_cached_value : nullptr;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> RegFile::SectionRanges(const Node* node) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;
    for (const std::uint32_t s : node->sections) ranges.emplace_back(m_sections[s].begin, m_sections[s].end);
    return ranges;
}

Text RegFile::PathOf(const Node* node) {
    std::vector<const Node*> up;
    for (; node && node->parent; node = node->parent) up.push_back(node);
    Text path;
    for (auto it = up.rbegin(); it != up.rend(); ++it) {
        if (!path.empty()) path += u'\\';
        path += (*it)->name;
    }
    return path;
}

bool RegFile::NeedsParentSection(const Node* node) {
    const Node* parent = node->parent;
    return parent && parent->parent && parent->sections.empty() && parent->children.size() == 1;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> RegFile::SubtreeRanges(const Node* node) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cut;
    std::vector<const Node*> pending{node};
    while (!pending.empty()) {
        const Node* n = pending.back();
        pending.pop_back();
        for (const std::uint32_t s : n->sections) cut.emplace_back(m_sections[s].begin, m_sections[s].end);
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    std::sort(cut.begin(), cut.end());
    return cut;
}

std::string RegFile::WithoutSubtree(const Node* node, std::uint64_t unix_seconds, std::uint64_t filetime) const {
    const auto cut = SubtreeRanges(node);
    std::string parent_section;
    const Node* parent = node->parent;
    if (NeedsParentSection(node)) {
        const char* eol = m_crlf ? "\r\n" : "\n";
        std::vector<const Node*> up;
        for (const Node* n = parent; n->parent; n = n->parent) up.push_back(n);
        parent_section.push_back('[');
        for (auto it = up.rbegin(); it != up.rend(); ++it) {
            if (it != up.rbegin()) parent_section += "\\\\";
            parent_section += Escape((*it)->name, "[]");
        }
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "] %llu%s#time=%llx%s%s", static_cast<unsigned long long>(unix_seconds),
                      eol, static_cast<unsigned long long>(filetime), eol, eol);
        parent_section += stamp;
    }

    std::string out;
    out.reserve(m_bytes.size() + parent_section.size());
    std::size_t pos = 0;
    for (const auto& [begin, end] : cut) {
        if (begin >= pos) {
            out.append(m_bytes, pos, begin - pos);
            if (!parent_section.empty()) {
                out += parent_section;
                parent_section.clear();
            }
        }
        pos = std::max<std::size_t>(pos, end);
    }
    out.append(m_bytes, pos, std::string::npos);
    out += parent_section;  // only when nothing was cut, which a parsed key never has
    return out;
}

void RegFile::ApplyDeletion(Node* node, std::string bytes) {
    const auto cut = SubtreeRanges(node);
    const bool parent_section = NeedsParentSection(node);
    std::size_t removed_total = 0;
    for (const auto& [begin, end] : cut) removed_total += end - begin;
    const std::size_t inserted = bytes.size() + removed_total - m_bytes.size();
    const std::size_t insert_at = cut.empty() ? m_bytes.size() : cut.front().first;

    // Where an offset of the old bytes lands: earlier cuts move it back, the
    // parent's new section (at the first cut) moves what follows it on.
    std::vector<std::pair<std::uint32_t, std::size_t>> removed_before;  // cut end -> bytes cut up to it
    std::size_t running = 0;
    for (const auto& [begin, end] : cut) removed_before.emplace_back(end, running += end - begin);
    const auto move = [&](std::uint32_t offset) {
        const auto after = std::upper_bound(removed_before.begin(), removed_before.end(), offset,
                                            [](std::uint32_t o, const auto& r) { return o < r.first; });
        const std::size_t gone = after == removed_before.begin() ? 0 : std::prev(after)->second;
        return static_cast<std::uint32_t>(offset - gone + (offset > insert_at ? inserted : 0));
    };

    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        n->removed = true;
        for (const std::uint32_t s : n->sections) m_sections[s].node = nullptr;
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    for (Section& section : m_sections) {
        if (!section.node) continue;
        section.begin = move(section.begin);
        section.body = move(section.body);
        section.end = move(section.end);
    }
    Node* parent = node->parent;
    parent->children.erase(std::find(parent->children.begin(), parent->children.end(), node));
    if (parent_section && inserted > 0) {
        const std::size_t begin = insert_at;
        const std::size_t line_end = bytes.find('\n', begin);
        Section section;
        section.begin = static_cast<std::uint32_t>(begin);
        section.body = static_cast<std::uint32_t>(line_end == std::string::npos ? begin + inserted : line_end + 1);
        section.end = static_cast<std::uint32_t>(begin + inserted);
        section.node = parent;
        parent->sections.push_back(static_cast<std::uint32_t>(m_sections.size()));
        m_sections.push_back(section);
    }
    m_bytes = std::move(bytes);
    ForgetLookups();
}

void RegFile::ForgetLookups() const {
    m_find_base = nullptr;
    m_find_parent = nullptr;
    m_find_hint = 0;
    m_cached_node = nullptr;
}

void RegFile::Stage(Node* node) {
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        n->removed = true;
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    // Erasing from a parent with many children costs a move of the rest
    // each time; the children are compacted once, when next needed.
    node->parent->children_removed = true;
    m_staged.push_back(node);
    ForgetLookups();
}

std::vector<Text> RegFile::StagedPaths() const {
    std::vector<Text> paths;
    paths.reserve(m_staged.size());
    for (const Node* node : m_staged) paths.push_back(PathOf(node));
    return paths;
}

const std::vector<RegFile::Node*>& RegFile::Children(Node* node) const {
    if (node->children_removed) {
        std::erase_if(node->children, [](const Node* child) { return child->removed; });
        node->children_removed = false;
        ForgetLookups();
    }
    return node->children;
}

std::string RegFile::EmptySection(const Node* key, std::uint64_t unix_seconds, std::uint64_t filetime) const {
    const char* eol = m_crlf ? "\r\n" : "\n";
    std::vector<const Node*> up;
    for (const Node* n = key; n->parent; n = n->parent) up.push_back(n);
    std::string section = "[";
    for (auto it = up.rbegin(); it != up.rend(); ++it) {
        if (it != up.rbegin()) section += "\\\\";
        section += Escape((*it)->name, "[]");
    }
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "] %llu%s#time=%llx%s%s", static_cast<unsigned long long>(unix_seconds), eol,
                  static_cast<unsigned long long>(filetime), eol, eol);
    return section + stamp;
}

RegFile::Rewrite RegFile::WithoutStaged(std::uint64_t unix_seconds, std::uint64_t filetime) const {
    Rewrite rewrite;
    // Each staged key's sections with its descendants', and the first of
    // them, where its parent's empty section would go.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> all;
    std::vector<std::pair<Node*, std::uint32_t>> parents;  // parent, first cut of a staged child
    for (Node* node : m_staged) {
        auto ranges = SubtreeRanges(node);
        if (ranges.empty()) continue;
        if (!node->parent->removed) parents.emplace_back(node->parent, ranges.front().first);
        all.insert(all.end(), ranges.begin(), ranges.end());
    }
    std::sort(all.begin(), all.end());
    for (const auto& range : all) {
        if (!rewrite.cuts.empty() && range.first < rewrite.cuts.back().second) {
            rewrite.cuts.back().second = std::max(rewrite.cuts.back().second, range.second);
            continue;
        }
        rewrite.cuts.push_back(range);
    }
    // A parent that keeps neither a section nor a child would vanish with
    // them; wineserver writes such a key as an empty section.
    std::sort(parents.begin(), parents.end());
    std::vector<std::pair<std::uint32_t, std::string>> sections;
    for (std::size_t i = 0; i < parents.size(); ++i) {
        if (i > 0 && parents[i].first == parents[i - 1].first) continue;  // sorted: the first is the smallest offset
        Node* parent = parents[i].first;
        if (!parent->parent || !parent->sections.empty() || !Children(parent).empty()) continue;
        std::string text = EmptySection(parent, unix_seconds, filetime);
        rewrite.insertions.push_back({parents[i].second, static_cast<std::uint32_t>(text.size()), parent});
        sections.emplace_back(parents[i].second, std::move(text));
    }
    std::sort(rewrite.insertions.begin(), rewrite.insertions.end(),
              [](const Rewrite::Insertion& a, const Rewrite::Insertion& b) { return a.at < b.at; });
    std::sort(sections.begin(), sections.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    std::size_t removed = 0;
    for (const auto& [begin, end] : rewrite.cuts) removed += end - begin;
    std::size_t added = 0;
    for (const auto& [at, text] : sections) added += text.size();
    rewrite.bytes.reserve(m_bytes.size() - removed + added);
    std::size_t pos = 0;
    std::size_t next_section = 0;
    for (const auto& [begin, end] : rewrite.cuts) {
        rewrite.bytes.append(m_bytes, pos, begin - pos);
        // Insertions sit at the beginning of a cut.
        while (next_section < sections.size() && sections[next_section].first <= begin) {
            if (sections[next_section].first == begin) rewrite.bytes += sections[next_section].second;
            ++next_section;
        }
        pos = end;
    }
    rewrite.bytes.append(m_bytes, pos, std::string::npos);
    return rewrite;
}

void RegFile::ApplyRewrite(Rewrite rewrite) {
    // Where an offset of the old bytes lands: the cuts before it move it
    // back, the sections inserted before it move it on.
    std::vector<std::pair<std::uint32_t, std::size_t>> cut_upto;  // cut end -> bytes cut up to it
    std::size_t running = 0;
    for (const auto& [begin, end] : rewrite.cuts) cut_upto.emplace_back(end, running += end - begin);
    std::vector<std::pair<std::uint32_t, std::size_t>> added_upto;  // insertion point -> bytes added up to it
    running = 0;
    for (const auto& insertion : rewrite.insertions) added_upto.emplace_back(insertion.at, running += insertion.size);
    const auto move = [&](std::uint32_t offset) {
        const auto cut = std::upper_bound(cut_upto.begin(), cut_upto.end(), offset,
                                          [](std::uint32_t o, const auto& r) { return o < r.first; });
        const std::size_t gone = cut == cut_upto.begin() ? 0 : std::prev(cut)->second;
        const auto add = std::lower_bound(added_upto.begin(), added_upto.end(), offset,
                                          [](const auto& r, std::uint32_t o) { return r.first < o; });
        const std::size_t added = add == added_upto.begin() ? 0 : std::prev(add)->second;
        return static_cast<std::uint32_t>(offset - gone + added);
    };
    for (Section& section : m_sections) {
        if (!section.node) continue;
        if (section.node->removed) {
            section.node = nullptr;
            continue;
        }
        section.begin = move(section.begin);
        section.body = move(section.body);
        section.end = move(section.end);
    }
    for (const auto& insertion : rewrite.insertions) {
        Section section;
        section.begin = move(insertion.at);
        section.end = section.begin + insertion.size;
        const std::size_t line_end = rewrite.bytes.find('\n', section.begin);
        section.body = static_cast<std::uint32_t>(line_end == std::string::npos ? section.end : line_end + 1);
        section.node = insertion.key;
        insertion.key->sections.push_back(static_cast<std::uint32_t>(m_sections.size()));
        m_sections.push_back(section);
    }
    for (Node* node : m_staged) static_cast<void>(Children(node->parent));
    m_staged.clear();
    m_bytes = std::move(rewrite.bytes);
    ForgetLookups();
}

}  // namespace ssr::wine
