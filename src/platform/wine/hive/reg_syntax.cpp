// The text of a registry file as wineserver reads and writes it: lines,
// escapes, value lines and section headers.
#include "platform/wine/hive/reg_syntax.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ssr::wine {

namespace {

constexpr bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr unsigned HexValue(char c) {
    return c <= '9' ? static_cast<unsigned>(c - '0') : static_cast<unsigned>((c | 0x20) - 'a' + 10);
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
char16_t* DecodeUtf8Unit(std::string_view s, std::size_t& i, char16_t* out) {
    static constexpr unsigned char kMask[4] = {0x7f, 0x1f, 0x0f, 0x07};
    static constexpr std::uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};
    const auto at = [&](std::size_t k) -> unsigned char {
        return k < s.size() ? static_cast<unsigned char>(s[k]) : 0;
    };
    const unsigned char lead = at(i++);
    const int length = lead < 0xc2 ? 0 : lead < 0xe0 ? 1 : lead < 0xf0 ? 2 : lead < 0xf5 ? 3 : 0;
    if (length == 0) return out;
    std::uint32_t res = lead & kMask[length];
    for (int k = 0; k < length; ++k) {
        const unsigned ch = at(i) ^ 0x80u;
        if (ch >= 0x40) return out;
        res = (res << 6) | ch;
        ++i;
    }
    if (res < kSmallest[length] || res > 0x10ffff) return out;
    if (res <= 0xffff) {
        *out++ = static_cast<char16_t>(res);
    } else {
        res -= 0x10000;
        *out++ = static_cast<char16_t>(0xd800 | (res >> 10));
        *out++ = static_cast<char16_t>(0xdc00 | (res & 0x3ff));
    }
    return out;
}

void AppendUtf16(std::vector<std::uint8_t>& bytes, TextView text) {
    if constexpr (std::endian::native == std::endian::little) {
        // Copied as they lie, into room that is not blanked first.
        const auto* units = reinterpret_cast<const std::uint8_t*>(text.data());
        bytes.insert(bytes.end(), units, units + text.size() * 2);
        return;
    }
    const std::size_t at = bytes.size();
    bytes.resize(at + text.size() * 2);
    std::uint8_t* out = bytes.data() + at;
    for (const char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit & 0xff);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    }
}

enum class Parse { Text, Dword, Hex };


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
        // Never more units than bytes: a usual text is decoded on the stack.
        char16_t local[512];
        std::unique_ptr<char16_t[]> large;
        char16_t* units = local;
        if (rest.size() > std::size(local)) units = (large = std::make_unique_for_overwrite<char16_t[]>(rest.size())).get();
        std::size_t count = 0;
        if (!UnescapeInto(rest, '"', units, count)) return false;
        if (decode == Decode::CheckOnly) return true;
        // The closing quote made no unit: its room takes the terminator.
        units[count] = u'\0';
        AppendUtf16(data, TextView(units, count + 1));
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
                // Nearly every byte is two digits, which need no full conversion.
                if (i + 2 < rest.size() && IsHex(rest[i + 1]) && !IsHex(rest[i + 2])) {
                    if (decode == Decode::Data)
                        data.push_back(static_cast<std::uint8_t>(HexValue(rest[i]) * 16 + HexValue(rest[i + 1])));
                    i += 2;
                    while (i < rest.size() && IsSpace(rest[i])) ++i;
                    if (i < rest.size() && rest[i] == ',') ++i;
                    while (i < rest.size() && IsSpace(rest[i])) ++i;
                    continue;
                }
                const Converted number = StrToULHex(rest.substr(i));
                const auto byte = static_cast<std::uint32_t>(number.value);
                if (number.used == 0 || byte > 0xff) return false;
                if (decode == Decode::Data) data.push_back(static_cast<std::uint8_t>(byte));
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

// Where a run of plain characters from `i` on ends: at `stop`, a backslash,
// a byte beyond ASCII or the end. Eight bytes are tested at a time, since
// most texts are long runs with a few escapes between them.
std::size_t PlainRunEnd(const unsigned char* bytes, std::size_t i, std::size_t size, unsigned char stop) {
#if defined(__SSE2__)
    const __m128i stop16 = _mm_set1_epi8(static_cast<char>(stop));
    const __m128i slash16 = _mm_set1_epi8('\\');
    for (; i + 16 <= size; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        // A byte beyond ASCII has its high bit, which the mask takes as it is.
        const __m128i ends = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, stop16), _mm_cmpeq_epi8(chunk, slash16)), chunk);
        if (const int mask = _mm_movemask_epi8(ends); mask != 0)
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
#endif
    constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    const std::uint64_t stops = kOnes * stop;
    const std::uint64_t slashes = kOnes * static_cast<unsigned char>('\\');
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        const std::uint64_t x = word ^ stops;
        const std::uint64_t y = word ^ slashes;
        // A byte of x or y is zero, or a byte has its high bit: some byte ends the run.
        if ((((x - kOnes) & ~x) | ((y - kOnes) & ~y) | word) & kHigh) break;
    }
    while (i < size && bytes[i] != stop && bytes[i] != '\\' && bytes[i] < 0x80) ++i;
    return i;
}

}  // namespace

bool SameUnits(TextView a, TextView b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

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

bool ParseValue(std::string_view s, LineCursor& cursor, RegValue* out) {
    Text unused_name;
    Text& name = out ? out->name : unused_name;
    name.clear();
    std::size_t res = 1;
    if (s[0] == '"') {
        const auto used = Unescape(s.substr(1), '"', name);
        if (!used) return false;
        res += *used;
    }
    if (name.size() > kLongestValueName) return false;
    return ParseValueData(s, res, cursor, out);
}

bool ParseValueData(std::string_view s, std::size_t res, LineCursor& cursor, RegValue* out) {
    std::vector<std::uint8_t> unused_data;
    std::vector<std::uint8_t>& data = out ? out->data : unused_data;
    data.clear();
    while (res < s.size() && IsSpace(s[res])) ++res;
    if (res >= s.size() || s[res] != '=') return false;
    ++res;
    while (res < s.size() && IsSpace(s[res])) ++res;
    std::uint32_t type = 0;
    if (!ParseData(s.substr(res), cursor, type, data, out ? Decode::Data : Decode::CheckOnly)) {
        type = 0;
        data.clear();
    }
    if (out) out->type = type;
    return true;
}

std::optional<std::size_t> Unescape(std::string_view s, char end_char, Text& out) {
    // Never more units than bytes: the text is decoded straight into room
    // for all of them, and cut to what it gave at the end.
    const std::size_t start = out.size();
    out.resize(start + s.size());
    std::size_t count = 0;
    const auto used = UnescapeInto(s, end_char, out.data() + start, count);
    out.resize(start + count);
    return used;
}

std::optional<std::size_t> UnescapeInto(std::string_view s, char end_char, char16_t* out, std::size_t& count) {
    char16_t* w = out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
    const auto stop = static_cast<unsigned char>(end_char);
    const std::size_t size = s.size();
    std::size_t i = 0;
    for (;;) {
        // Plain bytes eight at a time: widened all at once, and the first
        // one that is not plain (the end, a backslash, UTF-8) found by its bit.
        if constexpr (std::endian::native == std::endian::little) {
            constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
            constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
            const std::uint64_t stops = kOnes * stop;
            const std::uint64_t slashes = kOnes * static_cast<unsigned char>('\\');
            bool ended = false;
#if defined(__SSE2__)
            // Sixteen at a time while sixteen are left: never more units than
            // bytes, so the room for the units written ahead is there.
            const __m128i stop16 = _mm_set1_epi8(static_cast<char>(stop));
            const __m128i slash16 = _mm_set1_epi8('\\');
            const __m128i zero = _mm_setzero_si128();
            while (i + 16 <= size) {
                const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w), _mm_unpacklo_epi8(chunk, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(w + 8), _mm_unpackhi_epi8(chunk, zero));
                const int mask = _mm_movemask_epi8(
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, stop16), _mm_cmpeq_epi8(chunk, slash16)), chunk));
                if (mask == 0) {
                    i += 16;
                    w += 16;
                    continue;
                }
                const auto plain = static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
                i += plain;
                w += plain;
                if (bytes[i] == '\\' && i + 1 < size && (bytes[i + 1] == '\\' || bytes[i + 1] == '"')) {
                    *w++ = bytes[i + 1];
                    i += 2;
                    continue;
                }
                ended = true;
                break;
            }
#endif
            while (!ended && i + 8 <= size) {
                std::uint64_t word;
                std::memcpy(&word, bytes + i, 8);
                const std::uint64_t x = word ^ stops;
                const std::uint64_t y = word ^ slashes;
                const std::uint64_t ends = (((x - kOnes) & ~x) | ((y - kOnes) & ~y) | word) & kHigh;
                WidenLatin1(bytes + i, 8, w);
                // Only bytes after one that ends the run can be marked by
                // mistake, so the lowest mark is exact.
                const std::size_t plain = ends == 0 ? 8 : static_cast<std::size_t>(std::countr_zero(ends)) / 8;
                i += plain;
                w += plain;
                if (plain == 8) continue;
                // The escapes paths and commands are full of stand for the
                // byte after them, and need not leave the run.
                if (bytes[i] == '\\' && i + 1 < size && (bytes[i + 1] == '\\' || bytes[i + 1] == '"')) {
                    *w++ = bytes[i + 1];
                    i += 2;
                    continue;
                }
                ended = true;
                break;
            }
            // The last few bytes of a text of eight or more are read as the
            // eight that end it, shifted down, rather than one at a time.
            if (!ended && i < size && size >= 8) {
                const std::size_t left = size - i;
                std::uint64_t word;
                std::memcpy(&word, bytes + size - 8, 8);
                word >>= (8 - left) * 8;
                const std::uint64_t x = word ^ stops;
                const std::uint64_t y = word ^ slashes;
                const std::uint64_t ends =
                    ((((x - kOnes) & ~x) | ((y - kOnes) & ~y) | word) & kHigh) | (0x80ULL << (left * 8));
                const auto plain = static_cast<std::size_t>(std::countr_zero(ends)) / 8;
                WidenLatin1(bytes + i, plain, w);
                i += plain;
                w += plain;
            }
        }
        while (i < size && bytes[i] != stop && bytes[i] != '\\' && bytes[i] < 0x80) *w++ = bytes[i++];
        if (i >= size) break;
        const unsigned char c = bytes[i];
        if (c == stop) {
            count = static_cast<std::size_t>(w - out);
            return i + 1;
        }
        if (c >= 0x80) {
            w = DecodeUtf8Unit(s, i, w);
            continue;
        }
        // A backslash at the end of the line would make wineserver read past
        // it; the string is unterminated either way.
        if (++i >= size) break;
        const char e = s[i];
        switch (e) {
        case 'a': *w++ = u'\a'; ++i; break;
        case 'b': *w++ = u'\b'; ++i; break;
        case 'e': *w++ = char16_t{0x1b}; ++i; break;
        case 'f': *w++ = u'\f'; ++i; break;
        case 'n': *w++ = u'\n'; ++i; break;
        case 'r': *w++ = u'\r'; ++i; break;
        case 't': *w++ = u'\t'; ++i; break;
        case 'v': *w++ = u'\v'; ++i; break;
        case 'x': {
            ++i;
            if (i >= size || !IsHex(s[i])) {
                *w++ = u'x';
                break;
            }
            unsigned value = 0;
            for (int k = 0; k < 4 && i < size && IsHex(s[i]); ++k) value = value * 16 + HexValue(s[i++]);
            *w++ = static_cast<char16_t>(value);
            break;
        }
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
            unsigned value = static_cast<unsigned>(s[i++] - '0');
            for (int k = 0; k < 2 && i < size && s[i] >= '0' && s[i] <= '7'; ++k)
                value = value * 8 + static_cast<unsigned>(s[i++] - '0');
            *w++ = static_cast<char16_t>(value);
            break;
        }
        default:
            // Any other escaped character stands for itself, UTF-8 included.
            if (static_cast<unsigned char>(e) < 0x80) *w++ = static_cast<char16_t>(bytes[i++]);
            else w = DecodeUtf8Unit(s, i, w);
            break;
        }
    }
    count = static_cast<std::size_t>(w - out);
    return std::nullopt;
}

std::string Escape(TextView text, std::string_view specials) {
    std::string out;
    AppendEscaped(out, text, specials);
    return out;
}

void AppendEscaped(std::string& out, TextView text, std::string_view specials, char16_t after) {
    static constexpr char kLetters[33] = ".......abtnvfr.............e....";
    bool special[128] = {};
    special[static_cast<unsigned char>('\\')] = true;
    for (const char c : specials) special[static_cast<unsigned char>(c) & 127] = true;
    out.reserve(out.size() + text.size());
    char buffer[16];
    for (std::size_t i = 0; i < text.size();) {
        // A run of characters that stand for themselves, copied in one go.
        std::size_t run = i;
        while (run < text.size() && text[run] >= 32 && text[run] <= 127 && !special[text[run]]) ++run;
        if (run > i) {
            const std::size_t at = out.size();
            out.resize(at + (run - i));
            char* to = out.data() + at;
            for (std::size_t k = i; k < run; ++k) *to++ = static_cast<char>(text[k]);
            i = run;
            continue;
        }
        const char16_t c = text[i];
        const char16_t next = i + 1 < text.size() ? text[i + 1] : after;
        ++i;
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
            out += '\\';
            out += static_cast<char>(c);
        }
    }
}

bool PlainHeaderParts(std::string_view text, std::size_t from, std::vector<std::string_view>& parts) {
    parts.clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t start = from;
    for (std::size_t i = from;;) {
        i = PlainRunEnd(bytes, i, text.size(), ']');
        if (i >= text.size() || bytes[i] >= 0x80) return false;  // unterminated, or beyond ASCII
        if (i == start || i - start > kLongestKeyName) return false;
        parts.push_back(text.substr(start, i - start));
        if (bytes[i] == ']') return true;
        if (i + 1 >= text.size() || bytes[i + 1] != '\\') return false;
        i += 2;
        start = i;
    }
}

std::size_t CommonPrefix(std::string_view a, std::string_view b) {
    const std::size_t size = std::min(a.size(), b.size());
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= size; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data() + i));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + i));
        if (const int same = _mm_movemask_epi8(_mm_cmpeq_epi8(x, y)); same != 0xffff)
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(~same)));
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= size; i += 8) {
            std::uint64_t x;
            std::uint64_t y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) return i + static_cast<std::size_t>(std::countr_zero(x ^ y) / 8);
        }
    }
    while (i < size && a[i] == b[i]) ++i;
    return i;
}

bool PlainSpelling(TextView name, std::string& bytes) {
    bytes.resize(name.size());
    bool plain = true;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char16_t c = name[i];
        plain &= c < 0x80 && c != u'"' && c != u'\\';
        bytes[i] = static_cast<char>(c);
    }
    return plain;
}

std::size_t ValueNameEnd(std::string_view s, TextView name, std::string_view plain, const LowerCaseTable& lower,
                         Text& scratch) {
    if (s[0] == '@') return name.empty() ? 1 : 0;
    // The bytes that spell the name exactly are plain characters equal to
    // it; past them, a quote right after the whole name ends it.
    std::size_t same = 0;
    if (!plain.empty()) {
        same = CommonPrefix(s.substr(1), plain);
        if (same == plain.size() && same + 1 < s.size() && s[same + 1] == '"') return same + 2;
    }
    // A plain character stands for itself: the first one that differs
    // settles it, and most lines differ at their first letter.
    for (std::size_t i = same;; ++i) {
        const std::size_t at = i + 1;
        if (at >= s.size()) return 0;  // an unterminated name makes no value
        const auto c = static_cast<unsigned char>(s[at]);
        if (c == '\\' || c >= 0x80) break;
        if (c == '"') return i == name.size() ? at + 1 : 0;
        if (i >= name.size()) return 0;
        // Through the same table as every other comparison: a name may hold
        // a letter beyond ASCII that lowers to an ASCII one (KELVIN SIGN).
        if (c != name[i] && lower[c] != lower[name[i]]) return 0;
    }
    scratch.clear();
    const auto used = Unescape(s.substr(1), '"', scratch);
    return used && CompareNames(scratch, name, lower) == 0 ? 1 + *used : 0;
}

std::string EmptySection(const std::vector<TextView>& path, LineEnds ends, std::uint64_t unix_seconds,
                         std::uint64_t filetime) {
    std::string section;
    static_cast<void>(AppendKeySection(section, path, {}, ends, unix_seconds, filetime));
    return section;
}

bool AppendKeySection(std::string& out, const std::vector<TextView>& path, const std::vector<RegValue>& values,
                      LineEnds ends, std::uint64_t unix_seconds, std::uint64_t filetime, const SectionDrain& drain) {
    // A large value goes out in pieces of about this many bytes.
    constexpr std::size_t kPiece = 1 << 20;
    const auto drained = [&out, &drain]() { return !drain || out.size() < kPiece || drain(out); };
    const char* eol = ends == LineEnds::CrLf ? "\r\n" : "\n";
    out += '[';
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i > 0) out += "\\\\";
        AppendEscaped(out, path[i], "[]");
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "] %llu%s#time=%llx%s", static_cast<unsigned long long>(unix_seconds), eol,
                  static_cast<unsigned long long>(filetime), eol);
    out += buffer;
    for (const RegValue& value : values) {
        // wineserver's dump_value, with its count of what the line holds
        // so far, which decides where hex data goes on to the next line.
        std::size_t count = 0;
        if (value.name.empty()) {
            out += "@=";
            count = 2;
        } else {
            const std::size_t start = out.size();
            out += '"';
            AppendEscaped(out, value.name, "\"");
            out += "\"=";
            count = out.size() - start;
        }
        const auto& d = value.data;
        const bool text_type = value.type == 1 || value.type == 2 || value.type == 7;
        if (text_type && d.size() >= 2 && d.size() % 2 == 0 && d[d.size() - 1] == 0 && d[d.size() - 2] == 0) {
            if (value.type != 1) {
                std::snprintf(buffer, sizeof buffer, "str(%x):", static_cast<unsigned>(value.type));
                out += buffer;
            }
            out += '"';
            // A block of units at a time; each escape looks at the unit after it.
            const std::size_t units = (d.size() - 2) / 2;
            constexpr std::size_t kBlock = 1 << 16;
            char16_t block[kBlock + 1];
            for (std::size_t at = 0; at < units; at += kBlock) {
                const std::size_t n = std::min(kBlock, units - at);
                std::memcpy(block, d.data() + at * 2, (n + 1) * 2);  // with the next unit, or the terminator
                AppendEscaped(out, TextView(block, n), "\"", block[n]);
                if (!drained()) return false;
            }
            out += '"';
            out += eol;
            continue;
        }
        if (value.type == 4 && d.size() == 4) {
            const std::uint32_t dword = d[0] | d[1] << 8 | d[2] << 16 | static_cast<std::uint32_t>(d[3]) << 24;
            std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(dword));
            out += buffer;
            out += eol;
            continue;
        }
        const std::size_t tag_start = out.size();
        if (value.type == 3) {
            out += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
            out += buffer;
        }
        count += out.size() - tag_start;
        static constexpr char kDigits[] = "0123456789abcdef";
        const std::string_view wrap = ends == LineEnds::CrLf ? "\\\r\n  " : "\\\n  ";
        constexpr std::size_t kBlock = 1 << 16;
        for (std::size_t begin = 0; begin < d.size(); begin += kBlock) {
            const std::size_t end = std::min(d.size(), begin + kBlock);
            // Room for the worst case, written through a pointer and cut to size.
            const std::size_t at = out.size();
            out.resize(at + (end - begin) * 3 + ((end - begin) / 24 + 2) * wrap.size());
            char* to = out.data() + at;
            for (std::size_t i = begin; i < end; ++i) {
                *to++ = kDigits[d[i] >> 4];
                *to++ = kDigits[d[i] & 15];
                count += 2;
                if (i + 1 < d.size()) {
                    *to++ = ',';
                    if (++count > 76) {
                        to = std::copy(wrap.begin(), wrap.end(), to);
                        count = 2;
                    }
                }
            }
            out.resize(static_cast<std::size_t>(to - out.data()));
            if (!drained()) return false;
        }
        out += eol;
    }
    out += eol;
    return true;
}

}  // namespace ssr::wine
