// UTF-16 text helpers: conversion, case, paths.
#include "platform/text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "platform/lower_case_table.inc"

namespace ssr {

namespace {

constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

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
    // nor a branch on the letter (written as a select, it compiles to a
    // conditional move; upper and lower case mix unpredictably).
    // Eight units at a time, in loops of a fixed length the compiler turns
    // into vector instructions; the first unit beyond ASCII hands the rest
    // over to the table.
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        char16_t beyond_ascii = 0;
        for (std::size_t k = 0; k < 8; ++k) beyond_ascii |= static_cast<char16_t>(p[i + k] & 0xFF80);
        if (beyond_ascii != 0) break;
        for (std::size_t k = 0; k < 8; ++k) {
            const char16_t c = p[i + k];
            p[i + k] = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
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

bool Contains(TextView text, TextView piece) { return text.find(piece) != TextView::npos; }

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
