#pragma once
// A registry file as wineserver reads it (system.reg, user.reg), kept as the
// bytes it came from plus an index of keys into those bytes.
//
// The reader follows wineserver's own loader line by line, including its
// leniency: a line it would reject is skipped, and stays in the bytes as it
// was. Nothing is ever re-serialised; a deletion cuts the sections of a key
// and its descendants out of the original bytes and leaves every other byte
// alone. Values are decoded only when a key's values are first asked for, so
// opening a large hive costs little more than reading it.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace ssr::wine {

inline constexpr std::string_view kRegFileHeader = "WINE REGISTRY Version 2";

// Lines are only searched for NUL bytes, where wineserver's reader cuts
// them, in a file that has any.
enum class NulBytes { Absent, Possible };

struct RegValue {
    Text name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;  // as the wide API returns it: texts in UTF-16, with their terminator
};

// wineserver's string unescaping: \\ \" \[ \] \a \b \e \f \n \r \t \v, \x with
// one to four hex digits (one UTF-16 unit), octal with one to three digits,
// raw UTF-8 (invalid bytes dropped). Reads up to `end_char`; returns the
// number of bytes consumed including it, or nothing when it never comes.
// The result has no terminator appended.
[[nodiscard]] std::optional<std::size_t> Unescape(std::string_view text, char end_char, Text& out);

// The inverse, lossless for any text: what a section header or a value name
// needs so that Unescape gives back exactly `text`. `specials` are the
// characters that get a backslash besides the backslash itself.
[[nodiscard]] std::string Escape(TextView text, std::string_view specials);

// Orders names the way wineserver orders subkeys: case-insensitively, a
// shorter name before a longer one that starts with it.
[[nodiscard]] int CompareNames(TextView a, TextView b);

// The "#arch=" line of a registry file. wineserver keeps one architecture
// for the prefix: the first file that names one sets it, and a later file
// (user.reg after system.reg) that names another stops being read there.
enum class Architecture { Unknown, Win32, Win64 };

class RegFile {
public:
    struct Node {
        Text name;
        Node* parent = nullptr;
        std::vector<Node*> children;          // in wineserver's order (CompareNames)
        std::vector<std::uint32_t> sections;  // indices into the section table
        Text class_text;
        bool link = false;
        bool values_loaded = false;
        bool removed = false;  // taken out by ApplyDeletion or Stage
        bool children_removed = false;  // some children are staged and not yet erased
        std::vector<RegValue> values;
    };

    // Nothing when the first line is not wineserver's header: such a file
    // is not a registry and must never be written.
    // `known` is the prefix's architecture from the files read before.
    [[nodiscard]] static std::unique_ptr<RegFile> Parse(std::string bytes, Architecture known = Architecture::Unknown);

    // The architecture the file itself names first, or Unknown.
    [[nodiscard]] Architecture architecture() const { return m_architecture; }

    [[nodiscard]] const std::string& bytes() const { return m_bytes; }
    [[nodiscard]] Node* root() { return &m_nodes.front(); }
    [[nodiscard]] const Node* root() const { return &m_nodes.front(); }
    [[nodiscard]] std::size_t key_count() const { return m_nodes.size(); }

    // Follows `path` below `base`; separators may repeat, case does not matter.
    [[nodiscard]] Node* Find(Node* base, TextView path) const;
    [[nodiscard]] const std::vector<RegValue>& Values(Node* node) const;
    // One value, decoded on its own. The result stays valid until the next
    // call; asking twice for the same value (size, then data) decodes once.
    [[nodiscard]] const RegValue* FindValue(Node* node, TextView name) const;
    // Where the key's own sections lie in bytes(): header line to the next header.
    [[nodiscard]] std::vector<std::pair<std::uint32_t, std::uint32_t>> SectionRanges(const Node* node) const;
    // The path below the root with the case as stored, separated by '\'.
    [[nodiscard]] static Text PathOf(const Node* node);

    // The file's bytes without the sections of `node` and its descendants.
    // When the parent has no section and `node` is its last child, an empty
    // section for the parent takes their place, as wineserver writes a key
    // without values or subkeys, so the parent does not vanish with it.
    // `unix_seconds` and `filetime` stamp that section.
    [[nodiscard]] std::string WithoutSubtree(const Node* node, std::uint64_t unix_seconds,
                                             std::uint64_t filetime) const;

    // Once `bytes`, made by WithoutSubtree for `node`, are on disk: takes
    // them as the file's bytes and updates the index in place, which costs
    // far less than reading the new file again. The subtree's nodes stay
    // allocated, marked removed, so that open handles can tell.
    void ApplyDeletion(Node* node, std::string bytes);

    // Staged deletions: a key and its subtree leave the index at once (Find
    // no longer sees them, Children skips them) while the bytes stay as they
    // were, until one rewrite takes every staged key out of the file.
    void Stage(Node* node);
    [[nodiscard]] bool HasStaged() const { return !m_staged.empty(); }
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
    // The keys staged so far, as paths below the root, in the order staged.
    [[nodiscard]] std::vector<Text> StagedPaths() const;
    // A key's children without the staged ones.
    [[nodiscard]] const std::vector<Node*>& Children(Node* node) const;

    struct Rewrite {
        std::string bytes;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> cuts;  // sorted, disjoint
        struct Insertion {
            std::uint32_t at;  // an offset of the old bytes, the beginning of a cut
            std::uint32_t size;
            Node* key;
        };
        std::vector<Insertion> insertions;  // sorted by `at`
    };
    // The file's bytes without the sections of every staged key and its
    // descendants. A parent left with neither sections nor children gets an
    // empty section in their place, stamped with `unix_seconds` and
    // `filetime`, as in WithoutSubtree.
    [[nodiscard]] Rewrite WithoutStaged(std::uint64_t unix_seconds, std::uint64_t filetime) const;
    // Once the rewrite's bytes are on disk: takes them as the file's bytes
    // and moves the index onto them; nothing is staged any more.
    void ApplyRewrite(Rewrite rewrite);

private:
    struct Section {
        std::uint32_t begin = 0;  // the header line
        std::uint32_t body = 0;   // the line after the header
        std::uint32_t end = 0;    // the next section's header, or the end of the file
        Node* node = nullptr;
        bool continued = false;   // some hex data in it runs over several lines
    };

    RegFile() = default;
    [[nodiscard]] static bool NeedsParentSection(const Node* node);
    [[nodiscard]] std::vector<std::pair<std::uint32_t, std::uint32_t>> SubtreeRanges(const Node* node) const;
    Node* NewNode(Node* parent, Text name);
    Node* Child(Node* parent, TextView name);  // found or made
    void LoadValues(Node* node) const;

    [[nodiscard]] std::string EmptySection(const Node* key, std::uint64_t unix_seconds, std::uint64_t filetime) const;
    void ForgetLookups() const;

    std::string m_bytes;
    std::vector<Node*> m_staged;
    NulBytes m_nul = NulBytes::Possible;
    std::deque<Node> m_nodes;  // stable addresses; front() is the root
    std::vector<Section> m_sections;
    bool m_crlf = false;
    bool m_has_links = false;
    bool m_below_link = false;
    Architecture m_architecture = Architecture::Unknown;
    // The last lookup's parent key: entries are opened one after another
    // below the same key.
    mutable const Node* m_find_base = nullptr;
    mutable Text m_find_prefix;
    mutable Node* m_find_parent = nullptr;
    mutable std::size_t m_find_hint = 0;  // the index below m_find_parent found last
    mutable const Node* m_cached_node = nullptr;
    mutable Text m_cached_name;
    mutable bool m_cached_found = false;
    mutable RegValue m_cached_value;
    mutable RegValue m_scratch_value;  // decoded into, then swapped with the cached one: no allocation per lookup
};

}  // namespace ssr::wine
