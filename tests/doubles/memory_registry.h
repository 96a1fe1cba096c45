#pragma once
// An in-memory registry for the core's tests and benchmarks. Key and value
// names are case-insensitive and keep their case; subkeys enumerate in the
// order they were created. Keys can be marked unreadable (opening fails with
// access denied) or undeletable (deleting fails with a chosen code).
//
// Two roots: the local machine, and the current user for paths given as
// "HKEY_CURRENT_USER\...". The local machine's 32-bit view is its
// "Software\Wow6432Node" branch unless the store is made with one view.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "platform/registry.h"

namespace ssr {

class MemoryRegistry final : public Registry {
public:
    enum class Views { Two, One };
    explicit MemoryRegistry(Views views = Views::Two);
    ~MemoryRegistry() override;

    // Building the store. Paths are relative to HKEY_LOCAL_MACHINE; missing
    // keys on the way are created.
    void CreateKey(TextView path, TextView class_text = {});
    // A text value; `terminated` false stores it without its terminating zero.
    void SetText(TextView path, TextView name, TextView text, std::uint32_t type = kRegSz,
                 bool terminated = true);
    void SetDword(TextView path, TextView name, std::uint32_t value);
    void SetMultiText(TextView path, TextView name, const std::vector<Text>& texts);
    void SetRaw(TextView path, TextView name, std::uint32_t type, std::vector<std::uint8_t> bytes);
    void MarkUnreadable(TextView path, bool unreadable = true);
    // Deleting the key, or a tree holding it, answers `refusal`; kErrorSuccess makes it deletable again.
    void MarkUndeletable(TextView path, long refusal = kErrorAccessDenied);

    [[nodiscard]] bool KeyExists(TextView path) const;
    [[nodiscard]] std::vector<Text> SubkeyNames(TextView path) const;
    [[nodiscard]] std::size_t OpenHandleCount() const { return m_handles.size(); }
    // Counts of calls, so tests can see how often the store was asked.
    [[nodiscard]] std::size_t delete_calls() const { return m_delete_calls; }
    [[nodiscard]] std::size_t query_calls() const { return m_query_calls; }

    long open_key_ex(RegHandle root, TextView subkey, std::uint32_t options, std::uint32_t access,
                     RegHandle* result) override;
    long enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                     char16_t* class_text, std::uint32_t* class_length) override;
    using Registry::delete_tree;
    using Registry::open_key;
    long open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) override;
    long query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type, std::uint8_t* data,
                        std::uint32_t* size) override;
    long enum_value(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                    std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override;
    long close_key(RegHandle key) override;
    long delete_tree(RegHandle root, TextView subkey, std::uint32_t view) override;
    long delete_value(RegHandle root, TextView subkey, TextView value_name, std::uint32_t view) override;
    [[nodiscard]] bool has_32bit_view() const override { return m_views == Views::Two; }

private:
    struct Node;
    using NodePtr = std::shared_ptr<Node>;

    [[nodiscard]] NodePtr Find(TextView path) const;
    NodePtr FindOrCreate(TextView path);
    [[nodiscard]] NodePtr Resolve(RegHandle key) const;
    long OpenBelow(RegHandle root, TextView subkey, RegHandle* result);

    [[nodiscard]] const NodePtr& RootOf(TextView& path) const;

    Views m_views;
    NodePtr m_root;
    NodePtr m_user_root;
    std::map<RegHandle, NodePtr> m_handles;
    RegHandle m_next_handle = 0x1000;
    std::size_t m_delete_calls = 0;
    std::size_t m_query_calls = 0;
};

}  // namespace ssr
