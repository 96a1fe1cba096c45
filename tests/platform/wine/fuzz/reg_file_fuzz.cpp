// libFuzzer target for the system.reg reader. Besides never crashing, the
// reader must give back the input unchanged when nothing is deleted, and a
// deletion must take exactly one subtree away and leave every other key with
// the same values.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/wine/reg_file.h"

using ssr::Text;
using ssr::wine::RegFile;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
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
    if (nodes.size() < 2) return 0;

    RegFile::Node* target = nodes[1 + size % (nodes.size() - 1)];
    const auto after = RegFile::Parse(file->WithoutSubtree(target, 1700000000, 0x1da0a0b0c0d0e0fULL));
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
        Check(same->class_text == node->class_text);
        const auto& a = file->Values(node);
        const auto& b = after->Values(same);
        Check(a.size() == b.size());
        for (std::size_t i = 0; i < a.size(); ++i)
            Check(ssr::wine::CompareNames(a[i].name, b[i].name) == 0 && a[i].type == b[i].type && a[i].data == b[i].data);
    }
    Check(kept == left.size());  // no key appeared from nowhere

    // The index updated in place after the deletion must be what reading the
    // new bytes gives: same keys, same sections, same values.
    auto updated = RegFile::Parse(input);
    RegFile::Node* same_target = updated->Find(updated->root(), RegFile::PathOf(target));
    Check(same_target != nullptr);
    const std::string bytes = updated->WithoutSubtree(same_target, 1700000000, 0x1da0a0b0c0d0e0fULL);
    Check(bytes == after->bytes());
    updated->ApplyDeletion(same_target, bytes);
    Check(updated->bytes() == after->bytes());
    std::vector<RegFile::Node*> in_place;
    Walk(updated->root(), in_place);
    Check(in_place.size() == left.size());
    for (std::size_t i = 0; i < left.size(); ++i) {
        Check(ssr::wine::CompareNames(in_place[i]->name, left[i]->name) == 0);
        Check(in_place[i]->class_text == left[i]->class_text);
        Check(updated->SectionRanges(in_place[i]) == after->SectionRanges(left[i]));
        const auto& a = updated->Values(in_place[i]);
        const auto& b = after->Values(left[i]);
        Check(a.size() == b.size());
        for (std::size_t k = 0; k < a.size(); ++k) Check(a[k].type == b[k].type && a[k].data == b[k].data);
    }
    return 0;
}
