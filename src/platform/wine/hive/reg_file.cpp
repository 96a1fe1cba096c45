// The index of a registry file: its keys as a tree over the file's
// sections, built in one pass, and the lookups of keys and values in it.
#include "platform/wine/hive/reg_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace ssr::wine {

KeyName NameStore::Keep(TextView name) {
    if (name.empty()) return KeyName{};
    if (name.size() > m_left) {
        // A name too long for a block's rest gets a block of its own when
        // it would waste much of a fresh one.
        if (name.size() > kBlock / 4) {
            m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(name.size()));
            std::memcpy(m_blocks.back().get(), name.data(), name.size() * sizeof(char16_t));
            return KeyName(TextView(m_blocks.back().get(), name.size()));
        }
        m_blocks.push_back(std::make_unique_for_overwrite<char16_t[]>(kBlock));
        m_next = m_blocks.back().get();
        m_left = kBlock;
    }
    std::memcpy(m_next, name.data(), name.size() * sizeof(char16_t));
    const KeyName kept(TextView(m_next, name.size()));
    m_next += name.size();
    m_left -= name.size();
    return kept;
}

RegFile::Node* RegFile::AddNode() {
    if (m_node_used == kNodeBlock) {
        m_node_blocks.push_back(std::make_unique<Node[]>(kNodeBlock));
        m_node_used = 0;
    }
    return &m_node_blocks.back()[m_node_used++];
}

RegFile::Node* RegFile::NewNode(Node* parent, TextView name) {
    Node& node = *AddNode();
    node.name = m_names.Keep(name);
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
            Node* node = NewNode(parent, name);
            children.insert(at, node);
            return node;
        }
    }
    Node* node = NewNode(parent, name);
    children.push_back(node);
    return node;
}

std::unique_ptr<RegFile> RegFile::Parse(std::string bytes, Architecture known) {
    std::unique_ptr<RegFile> file(new RegFile);
    if (!file->Index(bytes, known)) return nullptr;
    file->m_bytes = std::move(bytes);
    return file;
}

RegFile::RegFile() = default;
RegFile::~RegFile() = default;

bool RegFile::Index(std::string_view all, Architecture known) {
    // Room for a section every 64 bytes, more than any file wineserver
    // writes has: the table never moves while it grows, and the room it
    // does not use is never touched, so it costs address space alone.
    m_sections.reserve(all.size() / 64);
    static_cast<void>(AddNode());  // the root
    m_nul = std::memchr(all.data(), 0, all.size()) ? NulBytes::Possible : NulBytes::Absent;
    LineCursor cursor(all, 0, all.size(), m_nul);
    Line line;
    if (!cursor.Next(line) || line.text != kRegFileHeader) return false;
    if (line.next >= 2 && all[line.next - 2] == '\r') m_line_ends = LineEnds::CrLf;

    Text path;
    std::vector<TextView> parts;
    // The previous header's keys: consecutive sections share most of their
    // path. Entries past `chain_size` keep their buffers for the next header.
    std::vector<std::pair<Text, Node*>> chain;
    std::size_t chain_size = 0;
    // The same for headers read as plain bytes, by their bytes.
    std::vector<std::string_view> raw_parts;
    // Each key's end within the previous plain header, `raw_header`.
    std::string_view raw_header;
    std::vector<std::pair<std::size_t, Node*>> raw_chain;
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
        Node* node = root();
        std::size_t depth = 0;
        while (depth < parts.size() && depth < chain_size && SameUnits(chain[depth].first, parts[depth])) {
            node = chain[depth].second;
            m_below_link |= node->link;
            ++depth;
        }
        if (chain.size() < parts.size()) chain.resize(parts.size());
        for (; depth < parts.size(); ++depth) {
            node = Child(node, parts[depth]);
            m_below_link |= node->link;
            chain[depth].first.assign(parts[depth]);
            chain[depth].second = node;
        }
        chain_size = parts.size();
        return node;
    };
    // A line in a key's section that starts with '#': its class, or the mark of a link.
    const auto key_line = [&](std::string_view text, Node* node) {
        if (text.starts_with("#class=\"")) {
            Text class_text;
            if (Unescape(text.substr(8), '"', class_text)) node->class_text = std::make_unique<Text>(std::move(class_text));
        }
        if (text.starts_with("#link")) node->link = m_has_links = true;
    };
    const char* const base = all.data();
    // Where the next line that starts with '[' (after spaces) begins, from
    // `from` on, or the end: a '[' elsewhere in a line is no header.
    const auto next_header = [&](std::size_t from) {
        while (from < all.size()) {
            const auto* bracket = static_cast<const char*>(std::memchr(base + from, '[', all.size() - from));
            if (!bracket) break;
            std::size_t start = static_cast<std::size_t>(bracket - base);
            while (start > 0 && base[start - 1] != '\n' && IsSpace(base[start - 1])) --start;
            if (start > 0 && base[start - 1] == '\n') return start;
            from = static_cast<std::size_t>(bracket - base) + 1;
        }
        return all.size();
    };
    // A section's lines matter only for hex data that runs over into the
    // next lines (which can swallow a header) and for its '#' lines. No
    // line before the next "hex" runs over: of those, only the '#' lines are
    // looked at, and the rest is passed over at once. A file with NUL bytes
    // cuts its lines elsewhere, and is read line by line.
    std::size_t header_at = 0;  // the next line that starts with '[', once found
    const auto pass_over = [&](Node* node) {
        if (m_nul != NulBytes::Absent) return;
        const std::size_t from = cursor.pos();
        if (header_at < from) header_at = next_header(from);
        std::size_t upto = header_at;
        if (const std::size_t hex = all.substr(from, upto - from).find("hex"); hex != std::string_view::npos) {
            upto = from + hex;
            while (upto > from && base[upto - 1] != '\n') --upto;  // the start of its line, read line by line
        }
        for (std::size_t at = from; at < upto;) {
            const auto* hash = static_cast<const char*>(std::memchr(base + at, '#', upto - at));
            if (!hash) break;
            const auto found = static_cast<std::size_t>(hash - base);
            std::size_t start = found;
            while (start > from && base[start - 1] != '\n' && IsSpace(base[start - 1])) --start;
            at = found + 1;
            if (start != from && base[start - 1] != '\n') continue;  // not the line's first sign
            LineCursor one(all, start, upto, m_nul);
            Line hash_line;
            static_cast<void>(one.Next(hash_line));
            key_line(SkipSpace(hash_line.text), node);
            at = hash_line.next;
        }
        cursor.Seek(upto);
    };
    std::int64_t current = -1;
    Architecture architecture = known;
    while (cursor.Next(line)) {
        const std::string_view text = SkipSpace(line.text);
        const char first = text.empty() ? '\0' : text[0];
        if (first == '[') {
            if (current >= 0) m_sections[static_cast<std::size_t>(current)].end = static_cast<std::uint32_t>(line.begin);
            current = -1;
            Node* node = nullptr;
            // The keys this header shares with the previous one are the
            // whole keys, with what ends each, within their common bytes.
            const std::string_view header = text.substr(1);
            std::size_t reused = 0;
            std::size_t from = 0;
            if (!raw_chain.empty()) {
                const std::size_t same = CommonPrefix(header, raw_header);
                while (reused < raw_chain.size()) {
                    const std::size_t end = raw_chain[reused].first;
                    if (same < end + (reused + 1 == raw_chain.size() ? 1 : 2)) break;
                    ++reused;
                    from = end + 2;
                }
            }
            const bool same_key = reused > 0 && reused == raw_chain.size();
            if (same_key) raw_parts.clear();
            if (same_key || PlainHeaderParts(header, from, raw_parts)) {
                chain_size = 0;
                node = root();
                for (std::size_t depth = 0; depth < reused; ++depth) {
                    node = raw_chain[depth].second;
                    m_below_link |= node->link;
                }
                raw_chain.resize(reused);
                for (const std::string_view part : raw_parts) {
                    name.resize(part.size());
                    WidenAscii(part.data(), name.size(), name.data());
                    node = Child(node, name);
                    m_below_link |= node->link;
                    raw_chain.emplace_back(static_cast<std::size_t>(part.data() - header.data()) + part.size(), node);
                }
                raw_header = header;
            } else {
                raw_chain.clear();
                node = header_key(text);
                if (!node) continue;
            }
            current = static_cast<std::int64_t>(m_sections.size());
            m_sections.push_back(Section{static_cast<std::uint32_t>(line.begin),
                                               static_cast<std::uint32_t>(line.next),
                                               static_cast<std::uint32_t>(all.size()), false, node});
            node->sections.push_back(static_cast<std::uint32_t>(current));
        } else if (current < 0) {
            // Outside a key, only "#arch=" means something. wineserver stops
            // reading at an architecture it does not know or that contradicts
            // an earlier one; the rest of the file is kept but never read.
            if (first == '#' && text.starts_with("#arch=")) {
                const std::string_view name = text.substr(6);
                const Architecture arch = name == "win32"   ? Architecture::Win32
                                          : name == "win64" ? Architecture::Win64
                                                            : Architecture::Unknown;
                if (arch == Architecture::Unknown || (architecture != Architecture::Unknown && architecture != arch)) break;
                architecture = arch;
                if (m_architecture == Architecture::Unknown) m_architecture = arch;
            }
            continue;
        } else if (first == '"' || first == '@') {
            if (text.find('\\') != std::string_view::npos && IsHexValueLine(text)) {
                const std::size_t before = cursor.pos();
                static_cast<void>(ParseValue(text, cursor, nullptr));
                if (cursor.pos() != before) m_sections[static_cast<std::size_t>(current)].continued = true;
            }
        } else if (first == '#') {
            key_line(text, m_sections[static_cast<std::size_t>(current)].node);
        }
        if (current >= 0) pass_over(m_sections[static_cast<std::size_t>(current)].node);
    }
    return true;
}

namespace {

RegFile::Node* ChildNamed(RegFile::Node* node, TextView part) {
    const auto& children = node->children;
    const auto at = std::lower_bound(children.begin(), children.end(), part,
                                     [](const RegFile::Node* n, TextView v) { return CompareNames(n->name, v) < 0; });
    if (at == children.end() || CompareNames((*at)->name, part) != 0 || (*at)->removed) return nullptr;
    return *at;
}

// Where the last separator before `end` is, or npos. A path asked for is
// mostly one long name with no separator at all: four units are ruled out
// at a time.
std::size_t LastSeparator(TextView path, std::size_t end) {
    constexpr std::uint64_t kOnes = 0x0001000100010001ULL;
    constexpr std::uint64_t kHigh = 0x8000800080008000ULL;
    constexpr std::uint64_t kSeparators = kOnes * u'\\';
    std::size_t i = end;
    for (; i >= 4; i -= 4) {
        std::uint64_t word;
        std::memcpy(&word, path.data() + i - 4, sizeof word);
        const std::uint64_t x = word ^ kSeparators;
        if (((x - kOnes) & ~x & kHigh) != 0) break;  // one of the four is a separator
    }
    for (; i > 0; --i)
        if (path[i - 1] == u'\\') return i - 1;
    return TextView::npos;
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

RegFile::Node* RegFile::Find(Node* base, TextView path) {
    // The entry after the one found last below `base`, named exactly: a
    // name holds no separator, so the path is that one key.
    if (m_lookups.hint_parent == base && !path.empty() && m_lookups.hint + 1 < base->children.size())
        if (Node* next = base->children[m_lookups.hint + 1]; !next->removed && SameUnits(next->name, path)) {
            ++m_lookups.hint;
            return next;
        }
    // Split off the last component; its parent is `base` itself, or the
    // parent of the previous lookup when the path up to it is the same.
    std::size_t last = path.size();
    while (last > 0 && path[last - 1] == u'\\') --last;
    if (last == 0) return base;
    const std::size_t cut = LastSeparator(path, last);
    Node* parent = base;
    if (cut != TextView::npos) {
        const TextView prefix = path.substr(0, cut);
        if (m_lookups.find_base != base || !SameUnits(m_lookups.find_prefix, prefix)) {
            m_lookups.find_base = base;
            m_lookups.find_prefix.assign(prefix);
            m_lookups.find_parent = Walk(base, prefix);
        }
        parent = m_lookups.find_parent;
        if (!parent) return nullptr;
    }
    // Entries are opened in the order they were enumerated, by the names
    // the enumeration gave: the child after the last one found, spelt
    // exactly so, spares the search.
    const std::size_t first = cut == TextView::npos ? 0 : cut + 1;
    const TextView leaf = path.substr(first, last - first);
    const auto& children = parent->children;
    if (m_lookups.hint_parent == parent)
        for (const std::size_t at : {m_lookups.hint + 1, m_lookups.hint})
            if (at < children.size() && SameUnits(children[at]->name, leaf) && !children[at]->removed) {
                m_lookups.hint = at;
                return children[at];
            }
    const auto at = std::lower_bound(children.begin(), children.end(), leaf,
                                     [](const Node* n, TextView v) { return CompareNames(n->name, v) < 0; });
    if (at == children.end() || CompareNames((*at)->name, leaf) != 0 || (*at)->removed) return nullptr;
    m_lookups.hint_parent = parent;
    m_lookups.hint = static_cast<std::size_t>(at - children.begin());
    return *at;
}

void RegFile::LoadValues(Node* node) {
    node->values = std::make_unique<std::vector<RegValue>>();
    std::vector<RegValue>& values = *node->values;
    std::unordered_map<Text, std::size_t> index;  // only for keys with many values
    const auto& lower = NameTable();
    for (const std::uint32_t s : node->sections) {
        const Section& section = m_sections[s];
        LineCursor cursor(std::string_view(m_bytes), section.body, section.end, m_nul);
        Line line;
        while (cursor.Next(line)) {
            const std::string_view text = SkipSpace(line.text);
            if (text.empty() || (text[0] != '"' && text[0] != '@')) continue;
            RegValue value;
            if (!ParseValue(text, cursor, &value)) continue;
            // A later line for the same name replaces the data and keeps the first spelling.
            RegValue* existing = nullptr;
            if (values.size() < 16) {
                for (auto& v : values)
                    if (CompareNames(v.name, value.name) == 0) existing = &v;
            } else {
                if (index.empty())
                    for (std::size_t k = 0; k < values.size(); ++k) {
                        Text key = values[k].name;
                        for (auto& c : key) c = lower[c];
                        index.emplace(std::move(key), k);
                    }
                Text key = value.name;
                for (auto& c : key) c = lower[c];
                const auto [it, added] = index.emplace(std::move(key), values.size());
                if (!added) existing = &values[it->second];
            }
            if (existing) {
                existing->type = value.type;
                existing->data = std::move(value.data);
            } else {
                values.push_back(std::move(value));
            }
        }
    }
}

const std::vector<RegValue>& RegFile::Values(Node* node) {
    if (!node->values) LoadValues(node);
    return *node->values;
}

void RegFile::NoteValueLines(const Node* node) {
    m_lookups.lines_node = node;
    ValueLinesOf(node, m_lookups.lines);
}

void RegFile::ValueLinesOf(const Node* node, std::vector<ValueLine>& lines) const {
    lines.clear();
    const std::string_view all = std::string_view(m_bytes);
    for (const std::uint32_t s : node->sections) {
        const Section& section = m_sections[s];
        // Where no data runs over lines and no NUL cuts one, a line is what
        // lies between two line feeds: they are all found in one pass.
        if (!section.continued && m_nul == NulBytes::Absent) {
            ForEachLine(all, section.body, section.end, [&](std::size_t begin, std::string_view text) {
                text = SkipSpace(text);
                if (!text.empty() && (text[0] == '"' || text[0] == '@'))
                    lines.push_back({static_cast<std::uint32_t>(text.data() - all.data()),
                                     static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(begin),
                                     section.end});
            });
            continue;
        }
        LineCursor cursor(all, section.body, section.end, m_nul);
        Line line;
        while (cursor.Next(line)) {
            const std::string_view text = SkipSpace(line.text);
            if (text.empty() || (text[0] != '"' && text[0] != '@')) continue;
            lines.push_back({static_cast<std::uint32_t>(text.data() - all.data()), static_cast<std::uint32_t>(text.size()),
                             static_cast<std::uint32_t>(cursor.pos()), section.end});
            // Its continuation lines are its data, whatever they look like.
            if (section.continued && IsHexValueLine(text) && text.find('\\') != std::string_view::npos)
                static_cast<void>(ParseValue(text, cursor, nullptr));
        }
    }
}

bool RegFile::ValueFromLines(const std::vector<ValueLine>& lines, TextView name, std::string_view plain,
                             Text& scratch, RegValue& out) const {
    const auto& lower = NameTable();
    // A later line for the same name replaces an earlier one: the last line
    // that names the value and makes one is the value, so the lines are
    // read from the last, and only that one is decoded.
    const char* const bytes = std::string_view(m_bytes).data();
    for (std::size_t k = lines.size(); k-- > 0;) {
        const ValueLine& at = lines[k];
        const std::string_view text(bytes + at.at, at.size);
        // Most value lines name another value from their first letter on,
        // which settles it without a call.
        const auto first = static_cast<unsigned char>(text.size() > 1 ? text[1] : '"');
        if (text[0] == '"' && !name.empty() && first < 0x80 && first != '\\' && first != '"' &&
            lower[first] != lower[name[0]])
            continue;
        // Filled only when the name had to be decoded: a plain one is its own bytes.
        scratch.clear();
        const std::size_t name_end = ValueNameEnd(text, name, plain, lower, scratch);
        if (name_end == 0 || name.size() > kLongestValueName) continue;
        LineCursor cursor(std::string_view(m_bytes), at.next, at.end, m_nul);
        // The first line that makes a value is the answer, so it is decoded
        // where the answer is kept; what a line that makes none left there
        // is never read.
        if (!ParseValueData(text, name_end, cursor, &out)) continue;
        Text& spelt = out.name;
        if (!scratch.empty()) {
            spelt.swap(scratch);
        } else {
            spelt.resize(text[0] == '@' ? 0 : name.size());
            WidenAscii(text.data() + 1, spelt.size(), spelt.data());
        }
        return true;
    }
    return false;
}

const RegValue* RegFile::FindValue(Node* node, TextView name) {
    if (node->values) {
        for (const RegValue& v : *node->values)
            if (CompareNames(v.name, name) == 0) return &v;
        return nullptr;
    }
    Lookups::Spelling* spelling = nullptr;
    for (Lookups::Spelling& known : m_lookups.spellings)
        if (SameUnits(known.name, name)) spelling = &known;
    if (!spelling) {
        spelling = &m_lookups.spellings[m_lookups.spelling_next];
        m_lookups.spelling_next ^= 1;
        spelling->name.assign(name);
        spelling->plain = PlainSpelling(name, spelling->bytes);
        // The value found last may have been asked by the name this one replaces.
        if (m_lookups.value_spelling == spelling) m_lookups.value_node = nullptr;
    }
    // The same name asked again of the same key: the same answer.
    if (m_lookups.value_node == node && m_lookups.value_spelling == spelling)
        return m_lookups.value_found ? &m_lookups.value : nullptr;
    m_lookups.value_node = node;
    m_lookups.value_spelling = spelling;
    m_lookups.value_found = false;
    const std::string_view plain = spelling->plain ? std::string_view(spelling->bytes) : std::string_view();
    if (m_lookups.lines_node != node) NoteValueLines(node);
    m_lookups.value_found = ValueFromLines(m_lookups.lines, name, plain, m_lookups.name_scratch, m_lookups.value);
    return m_lookups.value_found ? &m_lookups.value : nullptr;
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

Architecture PrefixArchitectureOf(const RegFile* machine) {
    if (!machine) return Architecture::Win64;
    const Architecture arch = machine->architecture();
    return arch == Architecture::Unknown ? Architecture::Win32 : arch;
}

}  // namespace ssr::wine
