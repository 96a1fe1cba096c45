// Wine's name comparison: the lower-case table wineserver uses and the order it gives.
#include "platform/wine/hive/wine_names.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/wine/posix/posix.h"

namespace ssr::wine {

namespace {

// The lower-case table inside Wine's l_intl.nls, a three-level lookup.
std::optional<LowerCaseTable> WineLowerTable() {
    for (const char* path : {"/usr/share/wine/nls/l_intl.nls", "/usr/local/share/wine/nls/l_intl.nls"}) {
        const ReadResult read = ReadSmallFile(path, 1 << 20);
        if (read.error != IoError::None) continue;
        std::vector<std::uint16_t> words(read.bytes.size() / 2);
        std::memcpy(words.data(), read.bytes.data(), words.size() * 2);
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
        LowerCaseTable table{};
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

}  // namespace

const LowerCaseTable& FallbackNameTable() {
    static const LowerCaseTable table = [] {
        LowerCaseTable t{};
        for (std::size_t i = 0; i < t.size(); ++i) t[i] = LowerCaseUnit(static_cast<char16_t>(i));
        return t;
    }();
    return table;
}

const LowerCaseTable& NameTable() {
    static const std::optional<LowerCaseTable> wine = WineLowerTable();
    return wine ? *wine : FallbackNameTable();
}

int CompareNames(TextView a, TextView b, const LowerCaseTable& lower) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    // Names compared are mostly spelt alike for a long stretch (siblings
    // share their start, a name is looked up as it was listed): the units
    // that are the same as they stand are passed over four at a time.
    for (; i + 4 <= n; i += 4) {
        std::uint64_t x;
        std::uint64_t y;
        std::memcpy(&x, a.data() + i, sizeof x);
        std::memcpy(&y, b.data() + i, sizeof y);
        if (x != y) break;
    }
    for (; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const char16_t x = lower[a[i]];
        const char16_t y = lower[b[i]];
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

}  // namespace ssr::wine
