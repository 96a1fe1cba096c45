// Joining the indexes of a large registry file's pieces, read apart on
// several threads, into the index that one reading of the whole file makes.
#include <algorithm>
#include <cstring>

#include "platform/wine/reg_file.h"

namespace ssr::wine {

void NameStore::Absorb(NameStore&& other) {
    m_blocks.reserve(m_blocks.size() + other.m_blocks.size());
    for (auto& block : other.m_blocks) m_blocks.push_back(std::move(block));
    other.m_blocks.clear();
    other.m_next = nullptr;
    other.m_left = 0;
}

std::size_t RegFile::SafeSplit(std::string_view bytes, std::size_t from, std::size_t to) {
    to = std::min(to, bytes.size());
    const char* const base = bytes.data();
    for (std::size_t at = from + 2; at < to;) {
        const auto* bracket = static_cast<const char*>(std::memchr(base + at, '[', to - at));
        if (!bracket) break;
        const auto p = static_cast<std::size_t>(bracket - base);
        // The empty line may end in CR LF: the reader drops the CR.
        if (base[p - 1] == '\n' && (base[p - 2] == '\n' || (p >= from + 3 && base[p - 2] == '\r' && base[p - 3] == '\n')))
            return p;
        at = p + 1;
    }
    return 0;
}

bool RegFile::Join(RegFile& next) {
    // Lines are cut around NUL bytes where only a reading of the whole file
    // can tell. An "#arch=" line outside a key is usual at the file's
    // start, where only one that ends the reading stops the join.
    if (m_nul != NulBytes::Absent || m_piece_stopped || next.m_nul != NulBytes::Absent || next.m_piece_read_arch)
        return false;
    Append(next);
    return true;
}

void RegFile::MergeKey(Node* mine, Node* theirs, std::vector<std::pair<const Node*, Node*>>& same) {
    same.emplace_back(theirs, mine);
    // A header of the later piece names this key or one below it, and it
    // was made a link earlier in the file.
    if (mine->parent && mine->link) m_below_link = true;
    mine->link |= theirs->link;
    // Its "#class" lines in the later piece come later, and the last one read wins.
    if (theirs->class_text) mine->class_text = std::move(theirs->class_text);
    if (theirs->children.empty()) return;
    // Wineserver writes keys in order, so a later piece's children mostly
    // all come after this one's.
    if (mine->children.empty() || CompareNames(mine->children.back()->name, theirs->children.front()->name) < 0) {
        for (Node* child : theirs->children) child->parent = mine;
        mine->children.insert(mine->children.end(), theirs->children.begin(), theirs->children.end());
        theirs->children.clear();
        return;
    }
    std::vector<Node*> merged;
    merged.reserve(mine->children.size() + theirs->children.size());
    auto a = mine->children.begin();
    auto b = theirs->children.begin();
    while (a != mine->children.end() || b != theirs->children.end()) {
        const int order = a == mine->children.end()     ? 1
                          : b == theirs->children.end() ? -1
                                                        : CompareNames((*a)->name, (*b)->name);
        if (order < 0) {
            merged.push_back(*a++);
        } else if (order > 0) {
            (*b)->parent = mine;
            merged.push_back(*b++);
        } else {
            MergeKey(*a, *b, same);
            merged.push_back(*a++);
            ++b;
        }
    }
    mine->children = std::move(merged);
    theirs->children.clear();
}

void RegFile::Append(RegFile& next) {
    // The keys both pieces name, by the later piece's node: few, the ones
    // above the headers that straddle the join.
    std::vector<std::pair<const Node*, Node*>> same;
    MergeKey(root(), next.root(), same);
    std::sort(same.begin(), same.end());
    const auto mapped = [&same](const Node* node) -> Node* {
        const auto at = std::lower_bound(same.begin(), same.end(), std::pair<const Node*, Node*>(node, nullptr));
        return at != same.end() && at->first == node ? at->second : nullptr;
    };
    // The later piece's sections are numbered anew after this one's: its
    // own keys list them again from scratch, the shared ones go on.
    for (const Section& section : next.m_sections)
        if (!mapped(section.node)) section.node->sections = SectionList{};
    for (Section section : next.m_sections) {
        if (Node* mine = mapped(section.node)) section.node = mine;
        section.node->sections.push_back(static_cast<std::uint32_t>(m_sections.size()));
        m_sections.push_back(section);
    }
    m_node_blocks.reserve(m_node_blocks.size() + next.m_node_blocks.size());
    for (auto& block : next.m_node_blocks) m_node_blocks.push_back(std::move(block));
    next.m_node_blocks.clear();
    m_node_used = next.m_node_used;
    m_names.Absorb(std::move(next.m_names));
    m_has_links |= next.m_has_links;
    m_below_link |= next.m_below_link;
    m_lookups.Forget();
}

}  // namespace ssr::wine
