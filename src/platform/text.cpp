// UTF-16 text helpers: conversion, case, paths.
#include "platform/text.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "platform/lower_case_table.inc"

namespace ssr {

namespace {

constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Eight units side by side: searching and lower-casing a command looks at a
// stretch at once instead of unit by unit. One vector register where the
// machine has them (every x86-64 does), plain words elsewhere.
using Units8 = std::uint16_t __attribute__((vector_size(16)));
using Words2 = std::uint64_t __attribute__((vector_size(16)));
constexpr std::size_t kLanes = 8;

inline Units8 Load8(const char16_t* at) {
    Units8 units;
    std::memcpy(&units, at, sizeof units);
    return units;
}
inline void Store8(char16_t* at, Units8 units) { std::memcpy(at, &units, sizeof units); }
inline Units8 Spread(char16_t unit) { return Units8{} + static_cast<std::uint16_t>(unit); }

// A comparison of eight lanes (each all ones or all zeros) as two words.
template <class Lanes>
inline Words2 Bits(Lanes lanes) {
    return std::bit_cast<Words2>(lanes);
}
template <class Lanes>
inline bool Any(Lanes lanes) {
    const Words2 words = Bits(lanes);
    return (words[0] | words[1]) != 0;
}

// The first lane, in order, that a comparison holds in and `confirm`
// accepts, or kLanes.
template <class Confirm>
[[gnu::always_inline]] inline std::size_t FirstLane(Words2 words, Confirm confirm) {
    std::uint64_t low = words[0] & 0x0001000100010001ULL;
    std::uint64_t high = words[1] & 0x0001000100010001ULL;
    while ((low | high) != 0) {
        const std::size_t lane = low != 0 ? static_cast<std::size_t>(std::countr_zero(low)) / 16
                                          : 4 + static_cast<std::size_t>(std::countr_zero(high)) / 16;
        if (confirm(lane)) return lane;
        if (low != 0) low &= low - 1;
        else high &= high - 1;
    }
    return kLanes;
}

// The first position from `from` on where `candidates(at)` (eight lanes for
// the eight positions from `at`) holds and `confirm(position)` accepts, up
// to position `last`, or npos. A stretch shorter than eight positions goes
// unit by unit through `confirm` alone; the final eight positions overlap
// the eight before instead of leaving a tail (a position seen twice was
// refused the first time).
// Inlined into each search, so that its lambdas' values stay in registers.
template <class Candidates, class Confirm>
[[gnu::always_inline]] inline std::size_t Scan(std::size_t from, std::size_t last, Candidates candidates, Confirm confirm) {
    if (from > last) return TextView::npos;
    if (last - from + 1 < kLanes) {
        for (std::size_t at = from; at <= last; ++at)
            if (confirm(at)) return at;
        return TextView::npos;
    }
    const std::size_t final_start = last + 1 - kLanes;
    for (std::size_t at = from;; at += kLanes) {
        if (at > final_start) at = final_start;
        const Words2 words = Bits(candidates(at));
        if ((words[0] | words[1]) != 0) {
            const std::size_t lane = FirstLane(words, [&](std::size_t k) { return confirm(at + k); });
            if (lane != kLanes) return at + lane;
        }
        if (at == final_start) return TextView::npos;
    }
}

inline char16_t LowerInPlane(char16_t c) {
    using namespace lower_case_table;
    const unsigned block = kBlocks[c >> kShift];
    return static_cast<char16_t>(c + kDeltas[(block << kShift) + (c & kMask)]);
}

char32_t LowerBeyondPlane(char32_t c) {
    using namespace lower_case_table;
    if (c < std::begin(kRuns)->first || c > std::prev(std::end(kRuns))->last) return c;
    const auto run = std::upper_bound(std::begin(kRuns), std::end(kRuns), c,
                                      [](char32_t value, const Run& r) { return value < r.first; });
    if (run == std::begin(kRuns)) return c;
    const Run& r = *std::prev(run);
    return c <= r.last ? static_cast<char32_t>(static_cast<std::int32_t>(c) + r.delta) : c;
}

// Reads the code point at text[i] and how many units it takes: a surrogate
// pair is one, a lone surrogate stands for itself.
inline char32_t CodePointAt(TextView text, std::size_t i, std::size_t& units) {
    const char16_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
        units = 2;
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    }
    units = 1;
    return c;
}

}  // namespace

std::size_t Find(TextView text, char16_t unit, std::size_t from) {
    if (text.empty()) return TextView::npos;
    const char16_t* p = text.data();
    const Units8 wanted = Spread(unit);
    return Scan(
        from, text.size() - 1, [&](std::size_t at) { return Load8(p + at) == wanted; },
        [&](std::size_t at) { return p[at] == unit; });
}


char16_t LowerCaseUnitBeyondAscii(char16_t c) { return LowerInPlane(c); }

char32_t LowerCaseCodePoint(char32_t c) {
    if (c <= 0xFFFF) return LowerInPlane(static_cast<char16_t>(c));
    return LowerBeyondPlane(c);
}

UnicodeVersion LowerCaseUnicodeVersion() {
    using lower_case_table::kUnicodeVersion;
    return {kUnicodeVersion[0], kUnicodeVersion[1], kUnicodeVersion[2]};
}

namespace {

// From the first unit beyond ASCII on; kept apart so the ASCII loop stays tight.
void LowerCaseFrom(char16_t* p, std::size_t i, std::size_t n) {
    for (; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0x80) {
            p[i] = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
        } else if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(p[i + 1])) {
            const char32_t lower =
                LowerBeyondPlane(0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (p[i + 1] - 0xDC00));
            // The table never maps between the plane and the pairs, so the pair stays a pair.
            p[i] = static_cast<char16_t>(0xD800 + ((lower - 0x10000) >> 10));
            p[i + 1] = static_cast<char16_t>(0xDC00 + ((lower - 0x10000) & 0x3FF));
            ++i;
        } else {
            p[i] = LowerInPlane(c);
        }
    }
}

}  // namespace

Text LowerCase(TextView text) {
    Text out(text);
    LowerCaseInPlace(out);
    return out;
}

void LowerCaseInPlace(Text& out) {
    char16_t* p = out.data();
    const std::size_t n = out.size();
    // Commands and names are mostly ASCII: that path needs neither the table
    // nor a branch on the letter, eight units at a time. The last eight may
    // overlap the eight before, as lowering ASCII twice changes nothing; the
    // first unit beyond ASCII hands the rest over to the table.
    std::size_t i = 0;
    if (n >= kLanes) {
        const Units8 beyond_ascii = Spread(0xFF80), upper_first = Spread(u'A'), upper_last = Spread(u'Z');
        for (;; i += kLanes) {
            if (i > n - kLanes) i = n - kLanes;
            Units8 units = Load8(p + i);
            if (Any((units & beyond_ascii) != 0)) break;
            units += Units8((units >= upper_first) & (units <= upper_last)) & Spread(0x20);
            Store8(p + i, units);
            if (i == n - kLanes) return;
        }
    }
    for (; i < n && p[i] < 0x80; ++i) {
        const char16_t c = p[i];
        p[i] = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    }
    if (i < n) LowerCaseFrom(p, i, n);
}

bool EqualsIgnoringCase(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    std::size_t i = 0;
    while (i < a.size()) {
        std::size_t units_a = 0;
        std::size_t units_b = 0;
        const char32_t x = CodePointAt(a, i, units_a);
        const char32_t y = CodePointAt(b, i, units_b);
        if (units_a != units_b || (x != y && LowerCaseCodePoint(x) != LowerCaseCodePoint(y))) return false;
        i += units_a;
    }
    return true;
}

bool NarrowLatin1(const char16_t* __restrict from, std::size_t count, unsigned char* __restrict to) {
    using Bytes16 = std::uint8_t __attribute__((vector_size(16)));
    // The low byte of each of sixteen units, in order (one pack instruction where there is one).
    const auto narrow16 = [&](std::size_t at, Units8& all) {
        const Units8 low = Load8(from + at);
        const Units8 high = Load8(from + at + kLanes);
        all |= low | high;
        const Bytes16 bytes = __builtin_shufflevector(Bytes16(low), Bytes16(high), 0, 2, 4, 6, 8, 10, 12, 14, 16, 18,
                                                      20, 22, 24, 26, 28, 30);
        std::memcpy(to + at, &bytes, sizeof bytes);
    };
    const auto narrow4 = [&](std::size_t at, std::uint64_t& all) {
        std::uint64_t four;
        std::memcpy(&four, from + at, sizeof four);
        all |= four;
        four = (four | (four >> 8)) & 0x0000FFFF0000FFFFULL;
        const auto bytes = static_cast<std::uint32_t>(four | (four >> 16));
        std::memcpy(to + at, &bytes, sizeof bytes);
    };
    // The last stretch overlaps the one before rather than leaving a tail:
    // it writes the same bytes again.
    if (count >= 2 * kLanes) {
        Units8 all{};
        for (std::size_t at = 0; at + 2 * kLanes < count; at += 2 * kLanes) narrow16(at, all);
        narrow16(count - 2 * kLanes, all);
        return !Any((all & Spread(0xFF00)) != 0);
    }
    std::uint64_t all = 0;
    if (count >= 4) {
        for (std::size_t at = 0; at + 4 < count; at += 4) narrow4(at, all);
        narrow4(count - 4, all);
    } else {
        for (std::size_t at = 0; at < count; ++at) {
            all |= from[at];
            to[at] = static_cast<unsigned char>(from[at]);
        }
    }
    return (all & 0xFF00FF00FF00FF00ULL) == 0;
}

bool Contains(TextView text, TextView piece) { return Find(text, piece) != TextView::npos; }

std::size_t Find(TextView text, TextView piece, std::size_t from) {
    const std::size_t n = piece.size();
    if (from > text.size()) return TextView::npos;
    if (n == 0) return from;
    if (text.size() - from < n) return TextView::npos;
    const char16_t* p = text.data();
    // Only where the first and the last unit both agree is the piece compared whole.
    const Units8 first = Spread(piece.front());
    const Units8 end = Spread(piece.back());
    return Scan(
        from, text.size() - n,
        [&](std::size_t at) { return (Load8(p + at) == first) & (Load8(p + at + n - 1) == end); },
        [&](std::size_t at) {
            // Unit by unit rather than a library call: the pieces are short,
            // and the search's values stay in registers across it.
            for (std::size_t k = 0; k < n; ++k)
                if (p[at + k] != piece[k]) return false;
            return true;
        });
}

bool ContainsLowered(TextView text, TextView piece) {
    const std::size_t n = piece.size();
    if (n == 0) return true;
    if (text.size() < n) return false;
    const char16_t* p = text.data();
    // A unit lowers to an ASCII letter only if it is that letter in either
    // case or lies beyond ASCII; setting the case bit on both sides covers
    // the ASCII units that are not letters too.
    const Units8 case_bit = Spread(0x20), beyond_ascii = Spread(0xFF80);
    const Units8 first = Spread(static_cast<char16_t>(piece.front() | 0x20));
    const Units8 end = Spread(static_cast<char16_t>(piece.back() | 0x20));
    const auto may_lower_to = [&](Units8 units, Units8 lower) {
        return ((units | case_bit) == lower) | ((units & beyond_ascii) != 0);
    };
    return Scan(
               0, text.size() - n,
               [&](std::size_t at) { return may_lower_to(Load8(p + at), first) & may_lower_to(Load8(p + at + n - 1), end); },
               [&](std::size_t at) {
                   for (std::size_t k = 0; k < n; ++k)
                       if (LowerCaseUnit(p[at + k]) != piece[k]) return false;
                   return true;
               }) != TextView::npos;
}

void EraseUnit(Text& text, char16_t unit) {
    std::size_t at = Find(text, unit, 0);
    if (at == TextView::npos) return;
    // One pass from the first on: a stretch of eight without one moves down
    // whole (it was read before anything is written over it), a stretch
    // with one goes unit by unit.
    char16_t* p = text.data();
    const std::size_t n = text.size();
    const Units8 wanted = Spread(unit);
    std::size_t kept = at++;
    for (; at + kLanes <= n; at += kLanes) {
        const Units8 units = Load8(p + at);
        if (!Any(units == wanted)) {
            Store8(p + kept, units);
            kept += kLanes;
            continue;
        }
        for (std::size_t k = at; k < at + kLanes; ++k)
            if (p[k] != unit) p[kept++] = p[k];
    }
    for (; at < n; ++at)
        if (p[at] != unit) p[kept++] = p[at];
    text.resize(kept);
}

Text DecimalText(long long value) {
    const std::string digits = std::to_string(value);
    return Text(digits.begin(), digits.end());
}

std::string ToUtf8(TextView text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

Text FromUtf8(std::string_view in) {
    Text out;
    out.reserve(in.size());
    std::size_t i = 0;
    while (i < in.size()) {
        const auto b = static_cast<unsigned char>(in[i]);
        char32_t cp = 0xFFFD;
        std::size_t extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = (i + extra) < in.size();
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(in[i + k]);
            if ((c & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (c & 0x3F);
        }
        const bool overlong = (extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
                              (extra == 3 && cp < 0x10000);
        if (!ok || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += extra + 1;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

void SplitPathInto(TextView path, std::vector<TextView>& parts) {
    parts.clear();
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == TextView::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
}

std::vector<TextView> SplitPath(TextView path) {
    std::vector<TextView> parts;
    SplitPathInto(path, parts);
    return parts;
}

Text ExpandReferences(TextView text, const std::function<std::optional<Text>(TextView)>& lookup, bool& complete) {
    complete = true;
    Text result;
    result.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find(u'%', at);
        if (open == TextView::npos) break;
        const std::size_t close = text.find(u'%', open + 1);
        if (close == TextView::npos) break;
        result.append(text.substr(at, open - at));
        const TextView name = text.substr(open + 1, close - open - 1);
        const std::optional<Text> value = name.empty() ? std::nullopt : lookup(name);
        if (value) {
            result += *value;
            at = close + 1;
        } else {
            // As the system does: the % stays, and the closing one may open the next reference.
            complete = false;
            result += u'%';
            result.append(name);
            at = close;
        }
    }
    result.append(text.substr(std::min(at, text.size())));
    return result;
}

}  // namespace ssr
