// libFuzzer target for the system.reg reader and its rewrite. Besides never
// crashing, the reader must give back the input unchanged when nothing is
// deleted, a deletion must take exactly one subtree away and leave every
// other key with the same values, and the index moved onto the rewritten
// bytes must equal a fresh read of them. Against a small reader that splits lines and finds keys
// the way wineserver does, the keys of a file the store may write are the
// ones wineserver loads, and a rewrite takes away exactly the keys
// wineserver would see go; a file with a NUL byte is never written.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wine/hive/reg_file.h"
#include "../rewrite_check.h"

using ssr::Text;
using ssr::wine::RegFile;

namespace {

void Check(bool ok, unsigned line = __builtin_LINE()) {
    if (ok) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

void Walk(RegFile::Node* node, std::vector<RegFile::Node*>& out) {
    out.push_back(node);
    for (auto* child : node->children) Walk(child, out);
}

bool Within(const RegFile::Node* node, const RegFile::Node* top) {
    for (; node; node = node->parent)
        if (node == top) return true;
    return false;
}


// --- wineserver's loader, reduced to which keys a file holds ------------------------

namespace wineserver {

// read_next_line: fgets into a buffer that starts at 4 bytes and grows by
// half whenever a line fills it, for the whole file. The line is what strlen
// sees, so a NUL ends it and the rest of what that fgets call read is lost;
// what the call did not read yet (a line longer than the buffer) comes back
// as the next line.
class Lines {
public:
    explicit Lines(std::string_view bytes) : m_bytes(bytes), m_buffer(4, '\0') {}

    bool Next(std::string& line) {
        std::size_t pos = 0;
        for (;;) {
            const std::size_t room = m_buffer.size() - pos - 1;
            std::size_t n = 0;
            while (n < room && m_at < m_bytes.size()) {
                const char c = m_bytes[m_at++];
                m_buffer[pos + n++] = c;
                if (c == '\n') break;
            }
            if (n == 0) {  // fgets at the end of the file
                line.assign(m_buffer.data(), std::strlen(m_buffer.data()));
                return pos != 0;
            }
            m_buffer[pos + n] = '\0';
            pos = std::strlen(m_buffer.data());
            // At pos 0 wineserver looks one byte before its buffer; taken as no line feed.
            if (pos > 0 && m_buffer[pos - 1] == '\n') {
                m_buffer[--pos] = '\0';
                if (pos > 0 && m_buffer[pos - 1] == '\r') m_buffer[pos - 1] = '\0';
                line.assign(m_buffer.data(), std::strlen(m_buffer.data()));
                return true;
            }
            if (pos < m_buffer.size() - 1) {
                line.assign(m_buffer.data(), pos);
                return true;
            }
            m_buffer.resize(m_buffer.size() + m_buffer.size() / 2, '\0');
        }
    }

private:
    std::string_view m_bytes;
    std::size_t m_at = 0;
    std::string m_buffer;
};

const char* SkipSpace(const char* p) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    return p;
}

// parse_hex: the bytes it takes, or -1.
long ParseHex(const char* buffer) {
    const char* p = buffer;
    while (std::isxdigit(static_cast<unsigned char>(*p))) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(p, &end, 16);
        if (end == p || value > 0xff) return -1;
        p = SkipSpace(end);
        if (*p == ',') ++p;
        p = SkipSpace(p);
    }
    return p - buffer;
}

// load_value, for the lines it reads: hex data ending in a backslash takes
// the next line, whatever it holds.
void LoadValue(const char* buffer, Lines& lines, std::string& line) {
    std::size_t len = 1;
    if (buffer[0] != '@') {
        ssr::Text name;
        const auto used = ssr::wine::Unescape(buffer + 1, '"', name);
        if (!used) return;
        len = *used + 1;
    }
    buffer = SkipSpace(buffer + len);
    if (*buffer != '=') return;
    buffer = SkipSpace(buffer + 1);
    bool binary = false;
    if (std::strncmp(buffer, "hex:", 4) == 0) {
        binary = true;
        buffer += 4;
    } else if (std::strncmp(buffer, "hex(", 4) == 0) {
        char* end = nullptr;
        static_cast<void>(std::strtoul(buffer + 4, &end, 16));
        if (std::strncmp(end, "):", 2) != 0) return;
        binary = true;
        buffer = end + 2;
    }
    if (!binary) return;
    for (;;) {
        const long used = ParseHex(buffer);
        if (used < 0) return;
        buffer = SkipSpace(buffer + used);
        if (!*buffer || *buffer != '\\') return;
        if (!lines.Next(line)) return;
        buffer = SkipSpace(line.c_str());
    }
}

using Path = std::vector<ssr::Text>;
struct PathLess {
    bool operator()(const Path& a, const Path& b) const {
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
            if (const int c = ssr::wine::CompareNames(a[i], b[i]); c != 0) return c < 0;
        return a.size() < b.size();
    }
};
using Keys = std::set<Path, PathLess>;
// Key names match whatever their case.
bool Same(const Keys& a, const Keys& b) {
    const PathLess less;
    const auto same = [&](const Path& x, const Path& y) { return !less(x, y) && !less(y, x); };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same);
}

struct Loaded {
    Keys keys;
    Keys links;               // keys with "#link"
    bool below_link = false;  // a header went through a link, which wineserver follows
};

// load_key and create_key_recursive: the keys a header makes. Returns
// whether the lines after it belong to a key, and which key that is.
bool LoadKey(const char* buffer, Loaded& loaded, Path& current) {
    Keys& keys = loaded.keys;
    current.clear();
    ssr::Text path;
    if (!ssr::wine::Unescape(buffer, ']', path)) return false;
    if (path.empty() || path[0] == 0) return true;  // the base key itself
    if (path[0] == u'\\') return false;
    Path parts;
    std::size_t start = 0;
    while (start < path.size()) {
        std::size_t end = path.find(u'\\', start);
        if (end == ssr::Text::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    // A name longer than wineserver allows makes no key (a later one in the
    // path trips an assertion in wineserver itself).
    for (const ssr::Text& part : parts)
        if (part.size() > 256) return false;
    for (std::size_t depth = 1; depth <= parts.size(); ++depth) {
        Path key(parts.begin(), parts.begin() + depth);
        loaded.below_link = loaded.below_link || loaded.links.count(key) != 0;
        keys.insert(std::move(key));
    }
    current = parts;
    return true;
}

// load_keys: nothing when the first line is not the header.
std::optional<Loaded> Load(std::string_view bytes) {
    Lines lines(bytes);
    std::string line;
    if (!lines.Next(line) || line != "WINE REGISTRY Version 2") return std::nullopt;
    Loaded loaded;
    bool in_key = false;
    Path current;
    std::string architecture;
    while (lines.Next(line)) {
        const char* p = SkipSpace(line.c_str());
        switch (*p) {
        case '[': in_key = LoadKey(p + 1, loaded, current); break;
        case '@':
        case '"':
            if (in_key) LoadValue(p, lines, line);
            break;
        case '#':
            if (in_key) {
                if (std::strncmp(p, "#link", 5) == 0 && !current.empty()) loaded.links.insert(current);
            } else if (std::strncmp(p, "#arch=", 6) == 0) {
                const std::string name = p + 6;
                if (name != "win32" && name != "win64") return loaded;
                if (!architecture.empty() && architecture != name) return loaded;
                architecture = name;
            }
            break;
        default: break;
        }
    }
    return loaded;
}

}  // namespace wineserver

using wineserver::Path;

Path PathOfNode(const RegFile::Node* node) {
    Path path;
    for (; node && node->parent; node = node->parent) path.insert(path.begin(), node->name);
    return path;
}

bool Below(const Path& path, const Path& top) {
    if (path.size() < top.size()) return false;
    for (std::size_t i = 0; i < top.size(); ++i)
        if (ssr::wine::CompareNames(path[i], top[i]) != 0) return false;
    return true;
}

// The store's deletion of `targets` against wineserver's reading of the old
// and the new bytes.
void CheckRewriteAgainstWineserver(const std::string& input, const std::vector<Path>& targets) {
    const auto loaded = wineserver::Load(input);
    Check(loaded.has_value());
    auto file = RegFile::Parse(input);
    // A section wineserver files under a link's target keeps the file from being written.
    Check(file->HasSectionsBelowLinks() == loaded->below_link);
    if (loaded->below_link) return;
    const wineserver::Keys* before = &loaded->keys;
    wineserver::Keys ours;
    std::vector<RegFile::Node*> nodes;
    Walk(file->root(), nodes);
    for (auto* node : nodes)
        if (node->parent) ours.insert(PathOfNode(node));
    Check(wineserver::Same(ours, *before));  // the same keys as wineserver

    for (const Path& target : targets) {
        ssr::Text joined;
        for (const auto& part : target) joined += (joined.empty() ? u"" : u"\\") + part;
        RegFile::Node* node = file->Find(file->root(), joined);
        if (node) file->Stage(node);
    }
    const auto rewrite = file->WithoutStaged(1700000000, 0x1da0a0b0c0d0e0fULL);
    const auto reloaded = wineserver::Load(rewrite.bytes);
    Check(reloaded.has_value() && !reloaded->below_link);
    const wineserver::Keys* after = &reloaded->keys;
    wineserver::Keys expected;
    for (const Path& key : *before) {
        bool gone = false;
        for (const Path& target : targets) gone = gone || Below(key, target);
        if (!gone) expected.insert(key);
    }
    Check(wineserver::Same(*after, expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    auto file = RegFile::Parse(input);
    if (!file) return 0;
    Check(file->bytes() == input);

    std::vector<RegFile::Node*> nodes;
    Walk(file->root(), nodes);
    for (auto* node : nodes) {
        Text back;
        const std::string escaped = ssr::wine::Escape(node->name, "[]") + "]";
        Check(ssr::wine::Unescape(escaped, ']', back).has_value() && back == node->name);
    }
    // One value asked for on its own is the value of the whole list, on a
    // fresh reading where nothing is decoded yet; a name the list lacks is none.
    {
        auto alone = RegFile::Parse(input);
        std::vector<RegFile::Node*> fresh;
        Walk(alone->root(), fresh);
        Check(fresh.size() == nodes.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            for (const auto& value : file->Values(nodes[i])) {
                const auto* found = alone->FindValue(fresh[i], value.name);
                Check(found && found->type == value.type && found->data == value.data &&
                      ssr::wine::CompareNames(found->name, value.name) == 0);
            }
            Check(alone->FindValue(fresh[i], u"\u2603 no such value \u2603") == nullptr ||
                  std::any_of(file->Values(nodes[i]).begin(), file->Values(nodes[i]).end(),
                              [](const auto& v) { return v.name == u"\u2603 no such value \u2603"; }));
        }
    }
    // The store refuses to write a hive with any NUL byte (wineserver may cut
    // its lines elsewhere than we do); every other file must agree with it.
    Check(file->HasNulBytes() == (std::memchr(input.data(), 0, input.size()) != nullptr));
    if (nodes.size() < 2) return 0;

    RegFile::Node* target = nodes[1 + size % (nodes.size() - 1)];
    if (!file->HasNulBytes()) {
        std::vector<Path> targets{PathOfNode(target)};
        RegFile::Node* second = nodes[1 + (size / 7) % (nodes.size() - 1)];
        if (!Within(second, target) && !Within(target, second)) targets.push_back(PathOfNode(second));
        CheckRewriteAgainstWineserver(input, targets);
    }
    // The live engine: stage one subtree, rewrite, and move the index onto
    // the new bytes.
    auto updated = RegFile::Parse(input);
    RegFile::Rewrite rewrite = ssr::test::StageAndRewrite(*updated, {RegFile::PathOf(target)});
    const auto after = RegFile::Parse(rewrite.bytes);
    Check(after != nullptr);
    std::vector<RegFile::Node*> left;
    Walk(after->root(), left);
    std::size_t kept = 0;
    for (auto* node : nodes) {
        auto* same = after->Find(after->root(), RegFile::PathOf(node));
        if (Within(node, target)) {
            Check(same == nullptr);
            continue;
        }
        ++kept;
        Check(same != nullptr);
        // An implied key takes its spelling from the first section below it,
        // which may be one that went.
        Check(ssr::wine::CompareNames(same->name, node->name) == 0);
        Check(same->ClassText() == node->ClassText());
        const auto& a = file->Values(node);
        const auto& b = after->Values(same);
        Check(a.size() == b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            Check(ssr::wine::CompareNames(a[i].name, b[i].name) == 0 && a[i].type == b[i].type && a[i].data == b[i].data);
    }
    Check(kept == left.size());  // no key appeared from nowhere

    // The index moved onto the written bytes must be what reading them
    // gives: same keys, values and section offsets.
    updated->ApplyRewrite(std::move(rewrite));
    Check(ssr::test::IndexDifference(*updated, *after).empty());
    return 0;
}
