#pragma once
// The Windows registry through advapi32 and shlwapi, in their wide-character
// forms: names and texts stay UTF-16 from the registry to the list and back,
// so an entry named outside the ANSI code page shows and deletes like any other.
//
// Arguments, buffer sizes and result codes pass through unchanged; nothing is
// expanded, converted or cached. The back end owns every key it opened until
// the caller closes it, and closes whatever is left when it goes away.

#include <windows.h>

#include <map>

#include "platform/registry.h"
#include "platform/win32/handles.h"

namespace ssr::win32 {

class Win32Registry final : public Registry {
public:
    Win32Registry() = default;
    Win32Registry(const Win32Registry&) = delete;
    Win32Registry& operator=(const Win32Registry&) = delete;
    ~Win32Registry() override = default;

    [[nodiscard]] long open_key_ex(RegHandle root, TextView subkey, std::uint32_t options, std::uint32_t access,
                                   RegHandle* result) override;
    [[nodiscard]] long enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name,
                                   std::uint32_t* name_length, char16_t* class_text,
                                   std::uint32_t* class_length) override;
    using Registry::delete_tree;
    using Registry::open_key;
    [[nodiscard]] long open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) override;
    [[nodiscard]] long query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type,
                                      std::uint8_t* data, std::uint32_t* size) override;
    [[nodiscard]] long enum_value(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                                  std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) override;
    long close_key(RegHandle key) override;
    // Deletes the key and everything below it in the view `view` names,
    // without ever following a registry link: a link found on the way is
    // deleted itself, never the key it points at.
    [[nodiscard]] long delete_tree(RegHandle root, TextView subkey, std::uint32_t view) override;
    [[nodiscard]] long delete_value(RegHandle root, TextView subkey, TextView value_name,
                                    std::uint32_t view) override;
    // A 64-bit program runs on 64-bit Windows only, where both views exist.
    [[nodiscard]] bool has_32bit_view() const override { return true; }

    // Keys opened through this back end and not closed yet.
    [[nodiscard]] std::size_t OpenHandleCount() const { return m_open.size(); }

    // The HKEY behind a handle value: predefined roots such as 0x80000002 are
    // sign-extended as Windows defines them, anything else is the key itself.
    [[nodiscard]] static HKEY ToHkey(RegHandle handle) noexcept;
    [[nodiscard]] static RegHandle FromHkey(HKEY key) noexcept;

private:
    long Adopt(long status, HKEY opened, HKEY root, RegHandle* result);

    std::map<RegHandle, UniqueHkey> m_open;
};

}  // namespace ssr::win32
