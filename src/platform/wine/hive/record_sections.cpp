// Reading only the sections of system.reg that listing records needs.
#include "platform/wine/hive/record_sections.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace ssr::wine {

namespace {

// Key paths as a section header writes them (each backslash doubled), in
// lower case. A section is kept when its path is one of the keys, or below
// one of the subtrees.
constexpr std::array<std::string_view, 4> kKeys = {
    R"(software\\wow6432node)",
    R"(software\\microsoft\\windows\\currentversion)",
    R"(software\\microsoft\\windows nt\\currentversion)",
    R"(software\\wow6432node\\microsoft\\windows\\currentversion)",
};
constexpr std::array<std::string_view, 2> kRecordTrees = {
    R"(software\\microsoft\\windows\\currentversion\\uninstall)",
    R"(software\\wow6432node\\microsoft\\windows\\currentversion\\uninstall)",
};
constexpr std::string_view kProfileTree = R"(software\\microsoft\\windows nt\\currentversion\\profilelist)";
// System\ControlSet001\Control\Session Manager\Environment and its siblings.
constexpr std::string_view kControlSets = R"(system\\controlset)";
constexpr std::string_view kEnvironment = R"(\\control\\session manager\\environment)";

// Where every kept path starts.
constexpr std::array<std::string_view, 3> kRoots = {
    R"(software\\microsoft\\windows)", R"(software\\wow6432node)", R"(system\\controlset)"};

// False only when the header's path, read as plain ASCII, already parts from
// every root: most sections are dropped without their path being spelt out.
bool MayBeKept(std::string_view header) {
    for (const std::string_view root : kRoots) {
        std::size_t i = 0;
        for (; i < root.size() && i + 1 < header.size(); ++i) {
            const char c = header[i + 1];
            if (static_cast<unsigned char>(c) >= 0x80 || (c == '\\' && root[i] != '\\')) return true;
            const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
            if (lower != root[i]) break;
        }
        if (i == root.size() || i + 1 >= header.size()) return true;
    }
    return false;
}

bool Below(std::string_view path, std::string_view tree) {
    return path.size() > tree.size() + 1 && path.starts_with(tree) && path.substr(tree.size(), 2) == R"(\\)";
}
bool AtOrBelow(std::string_view path, std::string_view tree) { return path == tree || Below(path, tree); }

// The header's path in lower case, when it is plain ASCII with no escape
// but the doubled backslash: only such a path can be compared as bytes.
// Anything else may name one of the keys in another spelling.
bool PlainPath(std::string_view header, std::string& path) {
    path.clear();
    for (std::size_t i = 1; i < header.size(); ++i) {
        const char c = header[i];
        if (c == ']') return true;
        if (c == '\\') {
            if (i + 1 >= header.size() || header[i + 1] != '\\') return false;
            path += R"(\\)";
            ++i;
            continue;
        }
        if (static_cast<unsigned char>(c) >= 0x80 || c < 0x20) return false;
        path += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return false;
}

// Where `word` starts a line of `file`, in order; memmem skips through the
// file far faster than a walk line by line.
std::vector<std::size_t> LinesStartingWith(std::string_view file, std::string_view word) {
    std::vector<std::size_t> found;
    const char* const base = file.data();
    std::size_t at = 0;
    while (at < file.size()) {
        const void* hit = ::memmem(base + at, file.size() - at, word.data(), word.size());
        if (!hit) break;
        const std::size_t position = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        if (position == 0 || base[position - 1] == '\n') found.push_back(position);
        at = position + 1;
    }
    return found;
}

// Where the next line that starts with '[' begins, from `from` on; the end
// of the file when there is none. wineserver reads no other line as a header.
std::size_t NextSection(std::string_view file, std::size_t from) {
    const char* const base = file.data();
    while (from < file.size()) {
        const void* hit = std::memchr(base + from, '[', file.size() - from);
        if (!hit) break;
        const std::size_t position = static_cast<std::size_t>(static_cast<const char*>(hit) - base);
        if (position == 0 || base[position - 1] == '\n') return position;
        from = position + 1;
    }
    return file.size();
}

}  // namespace

bool CutToRecordSections(std::string& bytes) {
    const std::string_view file(bytes);
    if (std::memchr(file.data(), '\0', file.size()) != nullptr) return false;
    std::size_t begin = NextSection(file, 0);
    for (const std::size_t arch : LinesStartingWith(file, "#arch="))
        if (arch > begin) return false;
    // A "#link" line makes its section's key a link.
    const std::vector<std::size_t> links = LinesStartingWith(file, "#link");
    std::size_t next_link = 0;
    // Kept sections move down over the ones left out, in place: the bytes
    // kept never lie after the next section read.
    std::size_t kept = begin;
    std::string path;
    while (begin < file.size()) {
        const std::size_t end = NextSection(file, begin + 1);
        const std::string_view section = file.substr(begin, end - begin);
        bool link = false;
        for (; next_link < links.size() && links[next_link] < end; ++next_link) link = link || links[next_link] > begin;
        bool keep = link;
        const std::string_view header = section.substr(0, std::min<std::size_t>(section.find('\n'), section.size()));
        if (!link && !MayBeKept(header)) {
            keep = false;
        } else if (!PlainPath(header, path)) {
            keep = true;
        } else {
            for (const std::string_view tree : kRecordTrees) {
                // A link on the way to the records, or among them, leads to
                // keys this cut may have left out.
                if (link && (AtOrBelow(path, tree) || Below(tree, path))) return false;
                keep = keep || AtOrBelow(path, tree);
            }
            for (const std::string_view key : kKeys) keep = keep || path == key;
            keep = keep || AtOrBelow(path, kProfileTree) ||
                   (path.starts_with(kControlSets) && path.ends_with(kEnvironment));
        }
        if (keep) {
            if (kept != begin) std::memmove(bytes.data() + kept, bytes.data() + begin, section.size());
            kept += section.size();
        }
        begin = end;
    }
    bytes.resize(kept);
    return true;
}

}  // namespace ssr::wine
