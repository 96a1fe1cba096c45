#pragma once
// The text of a registry file as wineserver reads and writes it: how lines
// are cut, how strings are escaped, what a value line and a section header
// say. Nothing here knows about keys as a tree.

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/text.h"
#include "platform/wine/hive/wine_names.h"

namespace ssr::wine {

inline constexpr std::string_view kRegFileHeader = "WINE REGISTRY Version 2";
// wineserver refuses longer key names and value names.
inline constexpr std::size_t kLongestKeyName = 256;
inline constexpr std::size_t kLongestValueName = 16383;

// Lines are only searched for NUL bytes, where wineserver's reader cuts
// them, in a file that has any.
enum class NulBytes { Absent, Possible };
enum class LineEnds { Lf, CrLf };

struct RegValue {
    Text name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // as the wide API returns it: texts in UTF-16, with their terminator
};

// The C locale's isspace, which wineserver's loader uses.
constexpr bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

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
    // Goes on from `pos`, the start of a line.
    void Seek(std::size_t pos) { m_pos = pos; }

private:
    std::string_view m_bytes;
    std::size_t m_pos;
    std::size_t m_end;
    bool m_has_nul;
};

// Calls `line(next, text)` for each line of `bytes` in [from, end) as
// LineCursor cuts them in a file without NUL bytes, with where the line
// after it begins. The line feeds are found sixteen bytes at a time in one
// pass, rather than with a call per line.
template <class Visit>
void ForEachLine(std::string_view bytes, std::size_t from, std::size_t end, Visit&& line) {
    const char* const base = bytes.data();
    std::size_t begin = from;
    std::size_t at = from;
#if defined(__SSE2__)
    const __m128i feeds = _mm_set1_epi8('\n');
    // Bytes past `end` are read while they are still in `bytes`, and not looked at.
    for (; at < end && at + 16 <= bytes.size(); at += 16) {
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at)), feeds)));
        if (end - at < 16) mask &= (1u << (end - at)) - 1;
        while (mask != 0) {
            const std::size_t feed = at + static_cast<std::size_t>(std::countr_zero(mask));
            mask &= mask - 1;
            std::size_t stop = feed;
            if (stop > begin && base[stop - 1] == '\r') --stop;
            line(feed + 1, std::string_view(base + begin, stop - begin));
            begin = feed + 1;
        }
    }
#endif
    for (; at < end; ++at) {
        if (base[at] != '\n') continue;
        std::size_t stop = at;
        if (stop > begin && base[stop - 1] == '\r') --stop;
        line(at + 1, std::string_view(base + begin, stop - begin));
        begin = at + 1;
    }
    if (begin < end) line(end, std::string_view(base + begin, end - begin));
}

inline std::string_view SkipSpace(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsSpace(s[i])) ++i;
    return s.substr(i);
}

// Exact equality, compared as memory: the character traits compare one unit at a time.
[[nodiscard]] bool SameUnits(TextView a, TextView b);

// ASCII bytes to UTF-16 units, one for one.
inline void WidenAscii(const char* from, std::size_t count, char16_t* to) {
    WidenLatin1(reinterpret_cast<const unsigned char*>(from), count, to);
}

// wineserver's string unescaping: \\ \" \[ \] \a \b \e \f \n \r \t \v, \x with
// one to four hex digits (one UTF-16 unit), octal with one to three digits,
// raw UTF-8 (invalid bytes dropped). Reads up to `end_char`; returns the
// number of bytes consumed including it, or nothing when it never comes.
// The result has no terminator appended.
[[nodiscard]] std::optional<std::size_t> Unescape(std::string_view text, char end_char, Text& out);
// The same into `out`, which has room for `text.size()` units (never more
// are made); `count` is how many were.
[[nodiscard]] std::optional<std::size_t> UnescapeInto(std::string_view text, char end_char, char16_t* out,
                                                      std::size_t& count);

// The inverse, lossless for any text: what a section header or a value name
// needs so that Unescape gives back exactly `text`. `specials` are the
// characters that get a backslash besides the backslash itself.
[[nodiscard]] std::string Escape(TextView text, std::string_view specials);
// The same, appended to `out`; `after` is the unit that follows `text`
// where it is part of a longer one (an escape may depend on it).
void AppendEscaped(std::string& out, TextView text, std::string_view specials, char16_t after = 0);

// Skims a value line as far as its data tag: true when it is hex data, the
// only kind that can continue on the next lines.
[[nodiscard]] bool IsHexValueLine(std::string_view line);

// wineserver's load_value: `line` starts at '@' or '"'. False when the line
// makes no value; a value whose data is rejected still exists, as an empty
// REG_NONE that replaces what an earlier line gave it. Continuation lines of
// hex data come from `cursor`, and stay consumed even when they are bad.
// `out`'s buffers are reused; on false it holds nothing of use. Without
// `out` the line is only checked and its continuation lines skipped.
[[nodiscard]] bool ParseValue(std::string_view line, LineCursor& cursor, RegValue* out);
// The same from `at` on, just past the line's name, for a caller that has
// already read the name (and fills `out->name` itself).
[[nodiscard]] bool ParseValueData(std::string_view line, std::size_t at, LineCursor& cursor, RegValue* out);

// Where the value line `line` (starting at '@' or '"') that names `name`,
// compared through `lower`, ends its name (just past its closing
// quote, or past the '@'), or 0 when the line does not name `name`. `plain`
// is the name's plain spelling (PlainSpelling) or empty: the bytes that
// spell it exactly are then passed over many at a time.
[[nodiscard]] std::size_t ValueNameEnd(std::string_view line, TextView name, std::string_view plain,
                                       const LowerCaseTable& lower, Text& scratch);
// Into `bytes`, the bytes a value line spells `name` with as they stand
// (ASCII without a quote or backslash); false when it has no such spelling.
[[nodiscard]] bool PlainSpelling(TextView name, std::string& bytes);

// The keys of a header line (`text` after its '[') that needs no decoding:
// ASCII only, no escape but the doubled backslash between two keys, no
// empty or overlong name. Such a header names the keys its bytes spell,
// which can be compared and copied as they stand. False for any other
// header, which is then decoded. `from` is where a key begins, just after
// keys already known to be plain: only the keys from there on are given.
[[nodiscard]] bool PlainHeaderParts(std::string_view text, std::size_t from, std::vector<std::string_view>& parts);

// How many bytes `a` and `b` have in common from their start.
[[nodiscard]] std::size_t CommonPrefix(std::string_view a, std::string_view b);

// A section for the key at `path` with neither values nor subkeys, as
// wineserver writes one, stamped with `unix_seconds` and `filetime`.
[[nodiscard]] std::string EmptySection(const std::vector<TextView>& path, LineEnds ends, std::uint64_t unix_seconds,
                                       std::uint64_t filetime);
// The same with `values`, each written as wineserver's save_key writes it
// (texts quoted when properly terminated, dwords as dword:, anything else in
// hex continued over lines), appended to `out`. The values are written in
// the order given; wineserver's own is by name (CompareNames). With a
// `drain`, `out` is handed to it whenever it has grown past a megabyte, to
// be written and emptied; false when the drain answered false.
using SectionDrain = std::function<bool(std::string&)>;
[[nodiscard]] bool AppendKeySection(std::string& out, const std::vector<TextView>& path,
                                    const std::vector<RegValue>& values, LineEnds ends, std::uint64_t unix_seconds,
                                    std::uint64_t filetime, const SectionDrain& drain = {});

}  // namespace ssr::wine
