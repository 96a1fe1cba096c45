#pragma once
// A registry file as wineserver reads it (system.reg, user.reg), kept as the
// bytes it came from plus an index of its keys into those bytes.
//
// The reader follows wineserver's own loader line by line, including its
// leniency: a line it would reject is skipped, and stays in the bytes as it
// was. Nothing is ever re-serialised: a rewrite cuts the sections of the
// keys staged for deletion out of the original bytes and leaves every other
// byte alone. Values are decoded only when a key's values are first asked
// for, so opening a large hive costs little more than reading it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/wine/posix/posix.h"
#include "platform/wine/hive/reg_syntax.h"
#include "platform/wine/hive/record_sections.h"
#include "platform/wine/hive/wine_names.h"

namespace ssr::wine {

// The "#arch=" line of a registry file. wineserver keeps one architecture
// for the prefix: the first file that names one sets it, and a later file
// (user.reg after system.reg) that names another stops being read there.
enum class Architecture { Unknown, Win32, Win64 };

// A key a rewrite adds with its values, its path below the file's root.
struct NewKey {
    Text path;
    std::vector<RegValue> values;
};

// The two clocks a section header is stamped with, read now: Unix seconds
// and Windows FILETIME ticks.
struct HeaderStamps {
    std::uint64_t unix_seconds;
    std::uint64_t filetime;
};
[[nodiscard]] HeaderStamps HeaderStampsNow();

// A key's name, held in its file's store of names (one allocation for many
// keys instead of one each). It reads as a TextView, and becomes a Text
// where one is asked for.
struct KeyName : TextView {
    KeyName() = default;
    explicit KeyName(TextView kept) : TextView(kept) {}
    operator Text() const { return Text(static_cast<TextView>(*this)); }  // NOLINT: reads like the Text it was
};
inline Text operator+(Text path, const KeyName& name) {
    path.append(name);
    return path;
}

// The texts of a file's key names, in large blocks that live as long as the file.
class NameStore {
public:
    [[nodiscard]] KeyName Keep(TextView name);

private:
    static constexpr std::size_t kBlock = 16384;  // units
    std::vector<std::unique_ptr<char16_t[]>> m_blocks;
    char16_t* m_next = nullptr;
    std::size_t m_left = 0;
};

// The sections of one key, as indices into the section table. Nearly every
// key has exactly one: it is kept in place, and only further ones get a
// list of their own, which spares a large hive an allocation per key.
class SectionList {
public:
    void push_back(std::uint32_t section) {
        if (m_count++ == 0) {
            m_first = section;
            return;
        }
        if (!m_more) m_more = std::make_unique<std::vector<std::uint32_t>>();
        m_more->push_back(section);
    }
    [[nodiscard]] bool empty() const { return m_count == 0; }
    [[nodiscard]] std::size_t size() const { return m_count; }
    [[nodiscard]] std::uint32_t operator[](std::size_t i) const { return i == 0 ? m_first : (*m_more)[i - 1]; }

    class Iterator {
    public:
        Iterator(const SectionList* list, std::size_t at) : m_list(list), m_at(at) {}
        std::uint32_t operator*() const { return (*m_list)[m_at]; }
        Iterator& operator++() {
            ++m_at;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return m_at != other.m_at; }

    private:
        const SectionList* m_list;
        std::size_t m_at;
    };
    [[nodiscard]] Iterator begin() const { return {this, 0}; }
    [[nodiscard]] Iterator end() const { return {this, m_count}; }

private:
    std::uint32_t m_first = 0;
    std::uint32_t m_count = 0;
    std::unique_ptr<std::vector<std::uint32_t>> m_more;
};

class RegFile {
public:
    struct Node {
        KeyName name;
        Node* parent = nullptr;
        std::vector<Node*> children;  // in wineserver's order (CompareNames), never a staged one
        SectionList sections;
        // Few keys have a class: the many that do not cost one pointer.
        std::unique_ptr<Text> class_text;
        bool link = false;
        bool removed = false;  // staged for deletion, itself or a key above it
        // Decoded the first time all of them are asked for (few keys ever
        // are), so a key that never is costs one pointer.
        std::unique_ptr<std::vector<RegValue>> values;

        [[nodiscard]] const Text& ClassText() const {
            static const Text none;
            return class_text ? *class_text : none;
        }
    };

    // Nothing when the first line is not wineserver's header: such a file
    // is not a registry and must never be written.
    // `known` is the prefix's architecture from the files read before.
    [[nodiscard]] static std::unique_ptr<RegFile> Parse(std::string bytes, Architecture known = Architecture::Unknown);

    ~RegFile();
    RegFile(const RegFile&) = delete;
    RegFile& operator=(const RegFile&) = delete;

    // The architecture the file itself names first, or Unknown.
    [[nodiscard]] Architecture architecture() const { return m_architecture; }

    [[nodiscard]] std::string_view bytes() const { return std::string_view(m_bytes); }
    [[nodiscard]] Node* root() { return &m_node_blocks.front()[0]; }
    [[nodiscard]] const Node* root() const { return &m_node_blocks.front()[0]; }

    // Lookups remember what they found last, so that the next one (usually
    // the entry after it below the same key) costs little; that is why they
    // are not const.
    // Follows `path` below `base`; separators may repeat, case does not matter.
    [[nodiscard]] Node* Find(Node* base, TextView path);
    // A key's values, decoded the first time they are asked for.
    [[nodiscard]] const std::vector<RegValue>& Values(Node* node);
    // One value, decoded on its own. The result stays valid until the next
    // call; asking twice for the same value (size, then data) decodes once.
    [[nodiscard]] const RegValue* FindValue(Node* node, TextView name);
    // A key's children without the staged ones.
    [[nodiscard]] const std::vector<Node*>& Children(const Node* node) const { return node->children; }
    // The path below the root with the case as stored, separated by '\'.
    [[nodiscard]] static Text PathOf(const Node* node);

    // A NUL byte anywhere: wineserver's line reader then cuts lines where we
    // cannot be sure to cut them the same way, so the file is read but never
    // rewritten.
    [[nodiscard]] bool HasNulBytes() const { return m_nul == NulBytes::Possible; }
    // Some key is a registry link ("#link"): lookups that follow links must
    // then go key by key.
    [[nodiscard]] bool HasLinks() const { return m_has_links; }
    // A header names a key at or below a link read earlier. wineserver
    // follows the link while loading and files that section under the
    // link's target, where we keep it under the link, so the file is read
    // but never rewritten. wineserver never writes such a file itself.
    [[nodiscard]] bool HasSectionsBelowLinks() const { return m_below_link; }

    // Staged deletions: a key and its subtree leave the index at once (Find
    // and Children no longer see them) while the bytes stay as they were,
    // until one rewrite takes every staged key out of the file.
    void Stage(Node* node);
    [[nodiscard]] bool HasStaged() const { return !m_staged.empty(); }
    // The keys staged so far, as paths below the root, in the order staged.
    [[nodiscard]] std::vector<Text> StagedPaths() const;

    // Staged additions: keys the next rewrite writes as new sections at the
    // end of the file, in the order staged, beside whatever the file holds
    // (wineserver merges sections of the same key). Lookups do not see
    // them: once written, the file is read again.
    void StageNew(std::vector<NewKey> keys);
    [[nodiscard]] bool HasStagedNew() const { return !m_new.empty(); }
    // Takes the staged additions away, to stage them on a fresh reading.
    [[nodiscard]] std::vector<NewKey> TakeStagedNew() { return std::exchange(m_new, {}); }
    [[nodiscard]] bool HasChanges() const { return HasStaged() || HasStagedNew(); }

    struct Rewrite {
        std::string bytes;
        bool added = false;  // it holds staged additions, which ApplyRewrite cannot index
        std::vector<std::pair<std::uint32_t, std::uint32_t>> cuts;  // sorted, disjoint
        struct Insertion {
            std::uint32_t at;  // an offset of the old bytes, the beginning of a cut
            std::uint32_t size;
            Node* key;
        };
        std::vector<Insertion> insertions;  // sorted by `at`
    };
    // The file's bytes without the sections of every staged key and its
    // descendants, and with the staged additions after them. A parent left
    // with neither sections nor children gets an
    // empty section in their place, as wineserver writes a key without
    // values or subkeys, so that it does not vanish with them; `unix_seconds`
    // and `filetime` stamp it.
    // With Additions::Apart the staged additions are left out of `bytes`
    // (which then end with a blank line), for a writer that appends them
    // with WriteStagedNew instead of holding them all in memory.
    enum class Additions { Included, Apart };
    [[nodiscard]] Rewrite WithoutStaged(std::uint64_t unix_seconds, std::uint64_t filetime,
                                        Additions additions = Additions::Included) const;
    // The sections of the staged additions, handed to `write` a piece at a
    // time; stops when `write` answers false.
    void WriteStagedNew(const std::function<bool(std::string_view)>& write, std::uint64_t unix_seconds,
                        std::uint64_t filetime) const;
    // Once the rewrite's bytes are on disk, for a rewrite that added nothing:
    // takes them as the file's bytes and moves the index onto them, which costs far less than reading the
    // new file again; nothing is staged any more. The staged keys' nodes
    // stay allocated, marked removed, so that open handles can tell.
    void ApplyRewrite(Rewrite rewrite);

private:
    struct Section {
        std::uint32_t begin = 0;  // the header line
        std::uint32_t body = 0;   // the line after the header
        std::uint32_t end = 0;    // the next section's header, or the end of the file
        bool continued = false;   // some hex data in it runs over several lines
        Node* node = nullptr;
    };

    // A value line of a key: offsets into the bytes of where the line's
    // text starts after its spaces, its size, the next line and the end of
    // its section (where data running over lines must stop).
    struct ValueLine {
        std::uint32_t at;
        std::uint32_t size;
        std::uint32_t next;
        std::uint32_t end;
    };

    // What the last lookups found. Entries are opened one after another
    // below the same key, and a value is often asked for twice in a row.
    struct Lookups {
        const Node* find_base = nullptr;
        Text find_prefix;
        Node* find_parent = nullptr;
        const Node* hint_parent = nullptr;
        std::size_t hint = 0;  // the index below hint_parent found last
        const Node* value_node = nullptr;
        bool value_found = false;
        RegValue value;
        Text name_scratch;
        // The plain spellings of the last two names asked for: the listing
        // asks each entry for the same few.
        struct Spelling {
            Text name;
            std::string bytes;
            bool plain = false;
        };
        Spelling spellings[2];
        std::size_t spelling_next = 0;
        const Spelling* value_spelling = nullptr;  // of the name `value` was asked by
        // The value lines of the key asked last, so that the next name asked
        // of it (the listing asks each entry for a few) needs no new pass
        // over its sections.
        const Node* lines_node = nullptr;
        std::vector<ValueLine> lines;
        void Forget() {
            find_base = nullptr;
            find_parent = nullptr;
            hint_parent = nullptr;
            hint = 0;
            value_node = nullptr;
            lines_node = nullptr;
        }
    };

    RegFile();
    // Indexes `bytes`, the whole file: false when its first line is not wineserver's header.
    [[nodiscard]] bool Index(std::string_view bytes, Architecture known);
    [[nodiscard]] std::vector<std::pair<std::uint32_t, std::uint32_t>> SubtreeRanges(const Node* node) const;
    Node* NewNode(Node* parent, TextView name);
    Node* Child(Node* parent, TextView name);  // found or made
    void LoadValues(Node* node);
    void NoteValueLines(const Node* node);
    // The value lines of `node`'s sections, in file order.
    void ValueLinesOf(const Node* node, std::vector<ValueLine>& lines) const;
    // Of `lines`, the last that names `name` and makes a value, decoded into
    // `out`; `plain` is the name's plain spelling or empty, `scratch` a
    // buffer of the caller's.
    [[nodiscard]] bool ValueFromLines(const std::vector<ValueLine>& lines, TextView name, std::string_view plain,
                                      Text& scratch, RegValue& out) const;

    std::string m_bytes;
    std::vector<Node*> m_staged;
    std::vector<NewKey> m_new;
    NulBytes m_nul = NulBytes::Possible;
    // The keys, in blocks of many: their addresses stay, and a large hive
    // costs an allocation per block rather than per few keys. The first is the root.
    static constexpr std::size_t kNodeBlock = 512;
    std::vector<std::unique_ptr<Node[]>> m_node_blocks;
    std::size_t m_node_used = kNodeBlock;  // of the last block
    Node* AddNode();
    NameStore m_names;
    std::vector<Section> m_sections;
    LineEnds m_line_ends = LineEnds::Lf;
    bool m_has_links = false;
    bool m_below_link = false;
    Architecture m_architecture = Architecture::Unknown;
    Lookups m_lookups;
};

// The prefix's architecture as wineserver settles it from system.reg,
// `machine` (null when there is no such file): the file's "#arch=" line; a
// system.reg without one is a 32-bit prefix; without system.reg the
// server's own, 64-bit for Wine on x86-64.
[[nodiscard]] Architecture PrefixArchitectureOf(const RegFile* machine);

}  // namespace ssr::wine
