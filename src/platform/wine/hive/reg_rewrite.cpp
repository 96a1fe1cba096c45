// Deleting keys from a registry file: staging them, the file's bytes
// without them, and the index moved onto those bytes once they are written.
#include "platform/wine/hive/reg_file.h"

#include <algorithm>
#include <chrono>

namespace ssr::wine {

HeaderStamps HeaderStampsNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now).count());
    const auto ticks = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100) +
                       116444736000000000ULL;
    return {seconds, ticks};
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> RegFile::SubtreeRanges(const Node* node) const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cut;
    std::vector<const Node*> pending{node};
    while (!pending.empty()) {
        const Node* n = pending.back();
        pending.pop_back();
        for (const std::uint32_t s : n->sections) cut.emplace_back(m_sections[s].begin, m_sections[s].end);
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    std::sort(cut.begin(), cut.end());
    return cut;
}

void RegFile::Stage(Node* node) {
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        n->removed = true;
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    // The children are in wineserver's order, so the key is found by its name.
    auto& siblings = node->parent->children;
    auto at = std::lower_bound(siblings.begin(), siblings.end(), node,
                               [](const Node* a, const Node* b) { return CompareNames(a->name, b->name) < 0; });
    if (at == siblings.end() || *at != node) at = std::find(siblings.begin(), siblings.end(), node);
    if (at != siblings.end()) siblings.erase(at);
    m_staged.push_back(node);
    m_lookups.Forget();
}

void RegFile::StageNew(std::vector<NewKey> keys) {
    m_new.insert(m_new.end(), std::make_move_iterator(keys.begin()), std::make_move_iterator(keys.end()));
}

std::vector<Text> RegFile::StagedPaths() const {
    std::vector<Text> paths;
    paths.reserve(m_staged.size());
    for (const Node* node : m_staged) paths.push_back(PathOf(node));
    return paths;
}

RegFile::Rewrite RegFile::WithoutStaged(std::uint64_t unix_seconds, std::uint64_t filetime, Additions additions) const {
    Rewrite rewrite;
    // Each staged key's sections with its descendants', and the first of
    // them, where its parent's empty section would go.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> all;
    std::vector<std::pair<Node*, std::uint32_t>> parents;  // parent, first cut of a staged child
    for (Node* node : m_staged) {
        auto ranges = SubtreeRanges(node);
        if (ranges.empty()) continue;
        if (!node->parent->removed) parents.emplace_back(node->parent, ranges.front().first);
        all.insert(all.end(), ranges.begin(), ranges.end());
    }
    std::sort(all.begin(), all.end());
    for (const auto& range : all) {
        if (!rewrite.cuts.empty() && range.first < rewrite.cuts.back().second) {
            rewrite.cuts.back().second = std::max(rewrite.cuts.back().second, range.second);
            continue;
        }
        rewrite.cuts.push_back(range);
    }
    // A parent that keeps neither a section nor a child would vanish with
    // them; wineserver writes such a key as an empty section.
    std::sort(parents.begin(), parents.end());
    std::vector<std::pair<std::uint32_t, std::string>> sections;
    for (std::size_t i = 0; i < parents.size(); ++i) {
        if (i > 0 && parents[i].first == parents[i - 1].first) continue;  // sorted: the first is the smallest offset
        Node* parent = parents[i].first;
        if (!parent->parent || !parent->sections.empty() || !parent->children.empty()) continue;
        std::vector<TextView> path;
        for (const Node* n = parent; n->parent; n = n->parent) path.insert(path.begin(), n->name);
        std::string text = EmptySection(path, m_line_ends, unix_seconds, filetime);
        rewrite.insertions.push_back({parents[i].second, static_cast<std::uint32_t>(text.size()), parent});
        sections.emplace_back(parents[i].second, std::move(text));
    }
    std::sort(rewrite.insertions.begin(), rewrite.insertions.end(),
              [](const Rewrite::Insertion& a, const Rewrite::Insertion& b) { return a.at < b.at; });
    std::sort(sections.begin(), sections.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    std::size_t removed = 0;
    for (const auto& [begin, end] : rewrite.cuts) removed += end - begin;
    std::size_t added = 0;
    for (const auto& [at, text] : sections) added += text.size();
    if (additions == Additions::Included) {
        for (const NewKey& key : m_new) {
            added += key.path.size() * 2 + 64;
            for (const RegValue& value : key.values) added += value.name.size() * 2 + value.data.size() * 3 + 32;
        }
    }
    rewrite.bytes.reserve(m_bytes.size() - removed + added);
    std::size_t pos = 0;
    std::size_t next_section = 0;
    for (const auto& [begin, end] : rewrite.cuts) {
        rewrite.bytes.append(std::string_view(m_bytes).substr(pos, begin - pos));
        // Insertions sit at the beginning of a cut.
        while (next_section < sections.size() && sections[next_section].first <= begin) {
            if (sections[next_section].first == begin) rewrite.bytes += sections[next_section].second;
            ++next_section;
        }
        pos = end;
    }
    rewrite.bytes.append(std::string_view(m_bytes).substr(pos));
    if (!m_new.empty()) {
        // Past a blank line, which ends any hex data the last section left running over lines.
        const std::string_view eol = m_line_ends == LineEnds::CrLf ? "\r\n" : "\n";
        if (!rewrite.bytes.ends_with(eol)) rewrite.bytes += eol;
        if (!rewrite.bytes.ends_with(std::string(eol) + std::string(eol))) rewrite.bytes += eol;
        if (additions == Additions::Included)
            WriteStagedNew([&rewrite](std::string_view piece) {
                rewrite.bytes += piece;
                return true;
            }, unix_seconds, filetime);
        rewrite.added = true;
    }
    return rewrite;
}

void RegFile::WriteStagedNew(const std::function<bool(std::string_view)>& write, std::uint64_t unix_seconds,
                             std::uint64_t filetime) const {
    // A megabyte at a time: a value of any size is in memory as its data and
    // no more than a piece of its text.
    std::string pending;
    const SectionDrain drain = [&write](std::string& out) {
        const bool written = write(out);
        out.clear();
        return written;
    };
    std::vector<TextView> path;
    for (const NewKey& key : m_new) {
        SplitPathInto(key.path, path);
        if (!AppendKeySection(pending, path, key.values, m_line_ends, unix_seconds, filetime, drain)) return;
    }
    if (!pending.empty()) static_cast<void>(write(pending));
}

void RegFile::ApplyRewrite(Rewrite rewrite) {
    // Where an offset of the old bytes lands: the cuts before it move it
    // back, the sections inserted before it move it on.
    std::vector<std::pair<std::uint32_t, std::size_t>> cut_upto;  // cut end -> bytes cut up to it
    std::size_t running = 0;
    for (const auto& [begin, end] : rewrite.cuts) cut_upto.emplace_back(end, running += end - begin);
    std::vector<std::pair<std::uint32_t, std::size_t>> added_upto;  // insertion point -> bytes added up to it
    running = 0;
    for (const auto& insertion : rewrite.insertions) added_upto.emplace_back(insertion.at, running += insertion.size);
    // The sections come in the file's order, but for those a rewrite added
    // at the table's end: the offsets mostly rise, so the cuts and
    // insertions before each are found by walking on from the last one.
    std::size_t cuts_before = 0;   // cuts ending at or before the offset
    std::size_t added_before = 0;  // insertions strictly before it
    std::uint32_t last = 0;
    const auto move = [&](std::uint32_t offset) {
        if (offset < last) cuts_before = added_before = 0;
        last = offset;
        while (cuts_before < cut_upto.size() && cut_upto[cuts_before].first <= offset) ++cuts_before;
        while (added_before < added_upto.size() && added_upto[added_before].first < offset) ++added_before;
        const std::size_t gone = cuts_before == 0 ? 0 : cut_upto[cuts_before - 1].second;
        const std::size_t added = added_before == 0 ? 0 : added_upto[added_before - 1].second;
        return static_cast<std::uint32_t>(offset - gone + added);
    };
    for (Section& section : m_sections) {
        if (!section.node) continue;
        if (section.node->removed) {
            section.node = nullptr;
            continue;
        }
        section.begin = move(section.begin);
        section.body = move(section.body);
        section.end = move(section.end);
    }
    for (const auto& insertion : rewrite.insertions) {
        Section section;
        section.begin = move(insertion.at);
        section.end = section.begin + insertion.size;
        const std::size_t line_end = rewrite.bytes.find('\n', section.begin);
        section.body = static_cast<std::uint32_t>(line_end == std::string::npos ? section.end : line_end + 1);
        section.node = insertion.key;
        insertion.key->sections.push_back(static_cast<std::uint32_t>(m_sections.size()));
        m_sections.push_back(section);
    }
    m_staged.clear();
    m_bytes = std::move(rewrite.bytes);
    m_lookups.Forget();
}

}  // namespace ssr::wine
