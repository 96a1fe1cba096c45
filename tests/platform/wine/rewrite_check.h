#pragma once
// Deleting keys as the store does, and what an index moved onto a rewrite's
// bytes must agree on with the same bytes read afresh. Shared by the unit
// tests and the fuzz target, so it needs no test framework.

#include <string>
#include <utility>
#include <vector>

#include "platform/wine/hive/reg_file.h"

namespace ssr::test {

using wine::CompareNames;
using wine::RegFile;

inline constexpr std::uint64_t kStampSeconds = 1700000000;
inline constexpr std::uint64_t kStampFiletime = 0x1da0a0b0c0d0e0fULL;

// Stages `keys` (found by path; a missing one is skipped) and makes the rewrite.
inline RegFile::Rewrite StageAndRewrite(RegFile& file, const std::vector<Text>& keys) {
    for (const Text& key : keys)
        if (RegFile::Node* node = file.Find(file.root(), key)) file.Stage(node);
    return file.WithoutStaged(kStampSeconds, kStampFiletime);
}

// Empty when `updated` (an index moved by ApplyRewrite) and `fresh` (its
// bytes parsed again) hold the same keys, classes and values, and their
// sections lie at the same offsets: deleting every top-level key from each
// must then cut the same bytes. Stages those keys in both.
inline std::string IndexDifference(RegFile& updated, RegFile& fresh) {
    if (updated.bytes() != fresh.bytes()) return "bytes";
    std::vector<std::pair<RegFile::Node*, RegFile::Node*>> pending{{updated.root(), fresh.root()}};
    while (!pending.empty()) {
        const auto [mine, theirs] = pending.back();
        pending.pop_back();
        const std::string where = ToUtf8(RegFile::PathOf(theirs));
        if (CompareNames(mine->name, theirs->name) != 0) return "name of " + where;
        if (mine->ClassText() != theirs->ClassText()) return "class of " + where;
        const auto& a = updated.Values(mine);
        const auto& b = fresh.Values(theirs);
        if (a.size() != b.size()) return "value count of " + where;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (CompareNames(a[i].name, b[i].name) != 0 || a[i].type != b[i].type || a[i].data != b[i].data)
                return "values of " + where;
        const auto& mine_children = updated.Children(mine);
        const auto& their_children = fresh.Children(theirs);
        if (mine_children.size() != their_children.size()) return "subkeys of " + where;
        for (std::size_t i = 0; i < mine_children.size(); ++i) pending.emplace_back(mine_children[i], their_children[i]);
    }
    std::vector<Text> top;
    for (const RegFile::Node* child : fresh.Children(fresh.root())) top.push_back(child->name);
    if (StageAndRewrite(updated, top).bytes != StageAndRewrite(fresh, top).bytes) return "section offsets";
    return {};
}

}  // namespace ssr::test
