// An in-memory registry for tests and benchmarks.
#include "doubles/memory_registry.h"

#include "platform/registry_buffers.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace ssr {

namespace {

// The registry compares names one UTF-16 unit at a time, so a letter written
// as a surrogate pair keeps its case here, unlike in LowerCase.
Text FoldName(TextView name) {
    Text folded(name);
    for (char16_t& c : folded) c = LowerCaseUnit(c);
    return folded;
}

bool SameName(TextView a, TextView b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
               return LowerCaseUnit(x) == LowerCaseUnit(y);
           });
}

}  // namespace

struct MemoryRegistry::Node {
    Text name;
    Text class_text;
    bool unreadable = false;
    long delete_refusal = kErrorSuccess;  // what deleting it answers instead of deleting
    bool deleted = false;
    std::vector<NodePtr> children;                 // creation order
    std::unordered_map<Text, NodePtr> by_lower;    // lower-cased name -> child
    struct Value {
        Text name;
        std::uint32_t type = kRegNone;
        std::vector<std::uint8_t> data;
    };
    std::vector<Value> values;

    Value& ValueNamed(TextView value_name) {
        for (auto& v : values)
            if (SameName(v.name, value_name)) return v;
        values.push_back(Value{Text(value_name), kRegNone, {}});
        return values.back();
    }
};

namespace {

std::vector<std::uint8_t> TextBytes(TextView text, bool terminated) {
    std::vector<std::uint8_t> bytes((text.size() + (terminated ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), text.data(), text.size() * 2);
    return bytes;
}

}  // namespace

constexpr TextView kUserPrefix = u"HKEY_CURRENT_USER\\";

MemoryRegistry::MemoryRegistry(Views views)
    : m_views(views), m_root(std::make_shared<Node>()), m_user_root(std::make_shared<Node>()) {}

const MemoryRegistry::NodePtr& MemoryRegistry::RootOf(TextView& path) const {
    if (path.substr(0, kUserPrefix.size()) != kUserPrefix) return m_root;
    path.remove_prefix(kUserPrefix.size());
    return m_user_root;
}
MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::NodePtr MemoryRegistry::Find(TextView path) const {
    NodePtr node = RootOf(path);
    for (const TextView part : SplitPath(path)) {
        const auto it = node->by_lower.find(FoldName(part));
        if (it == node->by_lower.end()) return nullptr;
        node = it->second;
    }
    return node;
}

MemoryRegistry::NodePtr MemoryRegistry::FindOrCreate(TextView path) {
    NodePtr node = RootOf(path);
    for (const TextView part : SplitPath(path)) {
        Text lower = FoldName(part);
        auto it = node->by_lower.find(lower);
        if (it == node->by_lower.end()) {
            auto child = std::make_shared<Node>();
            child->name = part;
            node->children.push_back(child);
            it = node->by_lower.emplace(std::move(lower), child).first;
        }
        node = it->second;
    }
    return node;
}

void MemoryRegistry::CreateKey(TextView path, TextView class_text) {
    FindOrCreate(path)->class_text = Text(class_text);
}

void MemoryRegistry::SetText(TextView path, TextView name, TextView text, std::uint32_t type,
                             bool terminated) {
    SetRaw(path, name, type, TextBytes(text, terminated));
}

void MemoryRegistry::SetDword(TextView path, TextView name, std::uint32_t value) {
    std::vector<std::uint8_t> bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    SetRaw(path, name, kRegDword, std::move(bytes));
}

void MemoryRegistry::SetMultiText(TextView path, TextView name, const std::vector<Text>& texts) {
    std::vector<std::uint8_t> bytes;
    for (const Text& t : texts) {
        auto piece = TextBytes(t, true);
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    bytes.push_back(0);
    bytes.push_back(0);
    SetRaw(path, name, kRegMultiSz, std::move(bytes));
}

void MemoryRegistry::SetRaw(TextView path, TextView name, std::uint32_t type,
                            std::vector<std::uint8_t> bytes) {
    auto& value = FindOrCreate(path)->ValueNamed(name);
    value.type = type;
    value.data = std::move(bytes);
}

void MemoryRegistry::MarkUnreadable(TextView path, bool unreadable) {
    FindOrCreate(path)->unreadable = unreadable;
}

void MemoryRegistry::MarkUndeletable(TextView path, long refusal) {
    FindOrCreate(path)->delete_refusal = refusal;
}

bool MemoryRegistry::KeyExists(TextView path) const { return Find(path) != nullptr; }

std::vector<Text> MemoryRegistry::SubkeyNames(TextView path) const {
    std::vector<Text> names;
    if (const NodePtr node = Find(path))
        for (const auto& child : node->children) names.push_back(child->name);
    return names;
}

MemoryRegistry::NodePtr MemoryRegistry::Resolve(RegHandle key) const {
    if (key == kHkeyLocalMachine) return m_root;
    if (key == kHkeyCurrentUser) return m_user_root;
    const auto it = m_handles.find(key);
    return it == m_handles.end() ? nullptr : it->second;
}

long MemoryRegistry::OpenBelow(RegHandle root, TextView subkey, RegHandle* result) {
    *result = 0;
    const NodePtr base = Resolve(root);
    if (!base) return kErrorInvalidHandle;
    if (base->deleted) return kErrorKeyDeleted;
    Node* node = base.get();
    NodePtr found = base;
    Text lower;  // one buffer for every component's lower-cased name
    std::size_t start = 0;
    while (start <= subkey.size()) {
        const std::size_t end = std::min(subkey.find(u'\\', start), subkey.size());
        if (end > start) {
            lower.assign(subkey.substr(start, end - start));
            for (char16_t& c : lower) c = LowerCaseUnit(c);
            const auto it = node->by_lower.find(lower);
            if (it == node->by_lower.end()) return kErrorFileNotFound;
            found = it->second;
            node = found.get();
        }
        start = end + 1;
    }
    if (node->unreadable) return kErrorAccessDenied;
    const RegHandle handle = m_next_handle;
    m_next_handle += 4;
    m_handles.emplace(handle, std::move(found));
    *result = handle;
    return kErrorSuccess;
}

long MemoryRegistry::open_key_ex(RegHandle root, TextView subkey, std::uint32_t /*options*/,
                                 std::uint32_t access, RegHandle* result) {
    return OpenBelow(root, ViewPath(root, subkey, access, has_32bit_view()), result);
}

long MemoryRegistry::open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) {
    return OpenBelow(root, ViewPath(root, subkey, view, has_32bit_view()), result);
}

long MemoryRegistry::enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name,
                                 std::uint32_t* name_length, char16_t* class_text,
                                 std::uint32_t* class_length) {
    const NodePtr node = Resolve(key);
    if (!node) return kErrorInvalidHandle;
    if (node->deleted) return kErrorKeyDeleted;
    if (index >= node->children.size()) return kErrorNoMoreItems;
    const Node& child = *node->children[index];
    return CopyEnumeratedKey(child.name, child.class_text, name, name_length, class_text, class_length);
}

long MemoryRegistry::query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* size) {
    ++m_query_calls;
    const NodePtr node = Resolve(key);
    if (!node || key == kHkeyLocalMachine || key == kHkeyCurrentUser) return kErrorInvalidHandle;
    if (node->deleted) return kErrorKeyDeleted;
    const auto it = std::find_if(node->values.begin(), node->values.end(),
                                 [&](const Node::Value& v) { return SameName(v.name, value_name); });
    if (it == node->values.end()) return kErrorFileNotFound;
    return CopyValueData(it->type, it->data, type, data, size);
}

long MemoryRegistry::enum_value(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                                std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    const NodePtr node = Resolve(key);
    if (!node || key == kHkeyLocalMachine || key == kHkeyCurrentUser) return kErrorInvalidHandle;
    if (node->deleted) return kErrorKeyDeleted;
    if (index >= node->values.size()) return kErrorNoMoreItems;
    const Node::Value& value = node->values[index];
    return CopyEnumeratedValue(value.name, value.type, value.data, name, name_length, type, data, size);
}

long MemoryRegistry::close_key(RegHandle key) {
    if (key == 0) return kErrorInvalidHandle;
    return m_handles.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

long MemoryRegistry::delete_tree(RegHandle root, TextView subkey, std::uint32_t view) {
    ++m_delete_calls;
    const NodePtr base = Resolve(root);
    if (!base) return kErrorInvalidHandle;
    const Text path = ViewPath(root, subkey, view, has_32bit_view());
    const auto parts = SplitPath(path);
    if (parts.empty()) return kErrorAccessDenied;  // never the root itself
    NodePtr parent = base;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto it = parent->by_lower.find(FoldName(parts[i]));
        if (it == parent->by_lower.end()) return kErrorFileNotFound;
        parent = it->second;
    }
    const Text lower = FoldName(parts.back());
    const auto it = parent->by_lower.find(lower);
    if (it == parent->by_lower.end()) return kErrorFileNotFound;
    const NodePtr target = it->second;
    // The whole subtree must be deletable, or nothing goes.
    std::vector<NodePtr> pending{target};
    std::vector<NodePtr> subtree;
    while (!pending.empty()) {
        NodePtr n = pending.back();
        pending.pop_back();
        if (n->delete_refusal != kErrorSuccess) return n->delete_refusal;
        subtree.push_back(n);
        pending.insert(pending.end(), n->children.begin(), n->children.end());
    }
    for (const auto& n : subtree) n->deleted = true;
    parent->by_lower.erase(it);
    parent->children.erase(std::find(parent->children.begin(), parent->children.end(), target));
    return kErrorSuccess;
}

long MemoryRegistry::delete_value(RegHandle root, TextView subkey, TextView value_name, std::uint32_t view) {
    ++m_delete_calls;
    const NodePtr base = Resolve(root);
    if (!base) return kErrorInvalidHandle;
    NodePtr node = base;
    const Text path = ViewPath(root, subkey, view, has_32bit_view());
    for (const TextView part : SplitPath(path)) {
        const auto it = node->by_lower.find(FoldName(part));
        if (it == node->by_lower.end()) return kErrorFileNotFound;
        node = it->second;
    }
    if (node->delete_refusal != kErrorSuccess) return node->delete_refusal;
    const auto it = std::find_if(node->values.begin(), node->values.end(),
                                 [&](const Node::Value& v) { return SameName(v.name, value_name); });
    if (it == node->values.end()) return kErrorFileNotFound;
    node->values.erase(it);
    return kErrorSuccess;
}

}  // namespace ssr
