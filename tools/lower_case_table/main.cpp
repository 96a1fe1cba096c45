// Writes src/platform/lower_case_table.inc, the one lower-case mapping of the
// program, from the Unicode Character Database (Debian package unicode-data):
// the simple lower-case mapping of UnicodeData.txt, field 13.
//   ssr_lower_case_table <ucd folder> <table file>          write the table
//   ssr_lower_case_table --check <ucd folder> <table file>  fail when it differs
// Without the database the check exits with 77 (skipped): the committed table
// is what the build uses, the database is needed only to renew it.
//
// Layout: the Basic Multilingual Plane as a two-level table of deltas added
// modulo 2^16 (blocks of identical deltas are stored once, so most of the
// plane shares one block of zeros); the few cased letters beyond it as
// runs of one delta, sorted, since texts reach them only through surrogate
// pairs and they are rare.

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kSkipped = 77;
constexpr char32_t kLastCodePoint = 0x10FFFF;

struct Database {
    std::string version;                  // "15.0.0"
    std::map<char32_t, char32_t> lower;  // only the code points that change
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ';')) fields.push_back(field);
    if (!line.empty() && line.back() == ';') fields.emplace_back();
    return fields;
}

std::optional<char32_t> CodePoint(const std::string& hex) {
    if (hex.empty() || hex.size() > 6) return std::nullopt;
    std::size_t used = 0;
    const unsigned long value = std::stoul(hex, &used, 16);
    if (used != hex.size() || value > kLastCodePoint) return std::nullopt;
    return static_cast<char32_t>(value);
}

// The database's version stands in the first line of DerivedAge.txt:
// "# DerivedAge-15.0.0.txt". UnicodeData.txt itself does not name it.
std::optional<std::string> Version(const std::string& folder) {
    std::ifstream in(folder + "/DerivedAge.txt");
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    const std::string prefix = "# DerivedAge-";
    const std::string suffix = ".txt";
    if (!line.starts_with(prefix) || !line.ends_with(suffix)) return std::nullopt;
    return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
}

std::optional<Database> Read(const std::string& folder) {
    std::ifstream in(folder + "/UnicodeData.txt");
    const auto version = Version(folder);
    if (!in || !version) return std::nullopt;
    Database db{*version, {}};
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const auto fields = Fields(line);
        if (fields.size() != 15) throw std::runtime_error("UnicodeData.txt: odd line: " + line);
        if (fields[13].empty()) continue;
        const auto from = CodePoint(fields[0]);
        const auto to = CodePoint(fields[13]);
        if (!from || !to) throw std::runtime_error("UnicodeData.txt: odd code point: " + line);
        if (*from != *to) db.lower[*from] = *to;
    }
    return db;
}

// Lower-casing keeps the length of a UTF-16 text only if no mapping crosses
// between the plane and the pairs, and none touches a surrogate; the text
// functions count on both.
void CheckShape(const Database& db) {
    const auto surrogate = [](char32_t c) { return c >= 0xD800 && c <= 0xDFFF; };
    for (const auto& [from, to] : db.lower) {
        if ((from > 0xFFFF) != (to > 0xFFFF) || surrogate(from) || surrogate(to))
            throw std::runtime_error("a mapping changes the UTF-16 length; the text functions need another shape");
    }
}

std::string Hex(unsigned value, int digits) {
    std::ostringstream out;
    out << "0x" << std::uppercase << std::hex;
    out.width(digits);
    out.fill('0');
    out << value;
    return out.str();
}

template <typename T>
void WriteArray(std::ostringstream& out, const std::vector<T>& values, int digits, int per_line) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i % static_cast<std::size_t>(per_line) == 0) out << "    ";
        out << Hex(static_cast<unsigned>(values[i]), digits) << ',';
        out << ((i + 1) % static_cast<std::size_t>(per_line) == 0 || i + 1 == values.size() ? "\n" : " ");
    }
}

std::string Table(const Database& db) {
    CheckShape(db);
    // Plane 0: deltas, then the block size that makes the table smallest.
    std::vector<std::uint16_t> deltas(0x10000, 0);
    for (const auto& [from, to] : db.lower)
        if (from <= 0xFFFF) deltas[from] = static_cast<std::uint16_t>((to - from) & 0xFFFF);
    unsigned best_shift = 0;
    std::size_t best_bytes = SIZE_MAX;
    std::vector<std::uint8_t> best_index;
    std::vector<std::uint16_t> best_blocks;
    for (unsigned shift = 4; shift <= 10; ++shift) {
        const std::size_t size = std::size_t{1} << shift;
        std::vector<std::vector<std::uint16_t>> blocks;
        std::vector<std::uint8_t> index;
        for (std::size_t start = 0; start < deltas.size(); start += size) {
            std::vector<std::uint16_t> block(deltas.begin() + static_cast<std::ptrdiff_t>(start),
                                             deltas.begin() + static_cast<std::ptrdiff_t>(start + size));
            const auto found = std::find(blocks.begin(), blocks.end(), block);
            index.push_back(static_cast<std::uint8_t>(found - blocks.begin()));
            if (found == blocks.end()) blocks.push_back(std::move(block));
        }
        if (blocks.size() > 256) continue;
        const std::size_t bytes = index.size() + blocks.size() * size * 2;
        if (bytes < best_bytes) {
            best_bytes = bytes;
            best_shift = shift;
            best_index = index;
            best_blocks.clear();
            for (const auto& block : blocks) best_blocks.insert(best_blocks.end(), block.begin(), block.end());
        }
    }
    if (best_index.empty()) throw std::runtime_error("no block size keeps the block numbers in a byte");

    // Beyond plane 0: runs of consecutive code points with one delta.
    struct Run {
        char32_t first, last;
        std::int32_t delta;
    };
    std::vector<Run> runs;
    for (const auto& [from, to] : db.lower) {
        if (from <= 0xFFFF) continue;
        const auto delta = static_cast<std::int32_t>(to) - static_cast<std::int32_t>(from);
        if (!runs.empty() && runs.back().last + 1 == from && runs.back().delta == delta)
            runs.back().last = from;
        else
            runs.push_back({from, from, delta});
    }

    std::ostringstream out;
    out << "// Generated by tools/lower_case_table from the Unicode Character Database " << db.version << "\n"
        << "// (UnicodeData.txt, simple lower-case mapping). Do not edit: renew it with\n"
        << "// `cmake --build build/linux --target lower_case_table` after installing unicode-data.\n"
        << "// Included by text.cpp only.\n\n"
        << "namespace ssr::lower_case_table {\n\n";
    int major = 0, minor = 0, update = 0;
    char dot = 0;
    std::istringstream(db.version) >> major >> dot >> minor >> dot >> update;
    out << "constexpr int kUnicodeVersion[3] = {" << major << ", " << minor << ", " << update << "};\n\n";
    out << "// Code unit c of the plane lower-cases to c + kDeltas[(kBlocks[c >> kShift] << kShift) + (c & kMask)],\n"
        << "// modulo 2^16.\n";
    out << "constexpr unsigned kShift = " << best_shift << ";\n";
    out << "constexpr unsigned kMask = " << ((1U << best_shift) - 1) << ";\n";
    out << "constexpr std::uint8_t kBlocks[" << best_index.size() << "] = {\n";
    WriteArray(out, best_index, 2, 16);
    out << "};\n";
    out << "constexpr std::uint16_t kDeltas[" << best_blocks.size() << "] = {\n";
    WriteArray(out, best_blocks, 4, 8);
    out << "};\n\n";
    out << "// Beyond the plane: each run [first, last] lower-cases by adding delta.\n"
        << "struct Run {\n    char32_t first;\n    char32_t last;\n    std::int32_t delta;\n};\n"
        << "constexpr Run kRuns[" << runs.size() << "] = {\n";
    for (const Run& run : runs)
        out << "    {" << Hex(run.first, 5) << ", " << Hex(run.last, 5) << ", " << run.delta << "},\n";
    out << "};\n\n}  // namespace ssr::lower_case_table\n";
    return out.str();
}

std::optional<std::string> Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const bool check = !args.empty() && args.front() == "--check";
    if (check) args.erase(args.begin());
    if (args.size() != 2) {
        std::cerr << "usage: ssr_lower_case_table [--check] <ucd folder> <table file>\n";
        return 2;
    }
    try {
        const auto db = Read(args[0]);
        if (!db) {
            std::cerr << "no Unicode Character Database in " << args[0] << " (install unicode-data)\n";
            return check ? kSkipped : 1;
        }
        const std::string table = Table(*db);
        if (check) {
            if (Slurp(args[1]) == table) return 0;
            std::cerr << args[1] << " differs from what " << args[0]
                      << " gives; renew it with the lower_case_table target\n";
            return 1;
        }
        std::ofstream out(args[1], std::ios::binary | std::ios::trunc);
        out << table;
        if (!out.flush()) {
            std::cerr << "cannot write " << args[1] << '\n';
            return 1;
        }
        return 0;
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}
