#include "platform/win32/win32_registry.h"

#include <shlwapi.h>

#include "platform/win32/wide.h"

namespace ssr::win32 {

namespace {

// Predefined root keys are 0x80000000 to 0x80000006 (HKEY_CLASSES_ROOT to
// HKEY_DYN_DATA); Windows defines them as negative 32-bit numbers.
constexpr RegHandle kFirstPredefined = 0x80000000;
constexpr RegHandle kLastPredefined = 0x80000006;

bool IsPredefined(RegHandle handle) { return handle >= kFirstPredefined && handle <= kLastPredefined; }

const wchar_t* Chars(const std::wstring& text) { return text.c_str(); }

// The path has a name in it, so SHDeleteKey cannot take the root's whole content.
bool NamesAKey(TextView subkey) { return subkey.find_first_not_of(u'\\') != TextView::npos; }

}  // namespace

HKEY Win32Registry::ToHkey(RegHandle handle) noexcept {
    if (IsPredefined(handle))
        return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(static_cast<DWORD>(handle))));
    return reinterpret_cast<HKEY>(handle);
}

RegHandle Win32Registry::FromHkey(HKEY key) noexcept {
    const auto value = reinterpret_cast<ULONG_PTR>(key);
    // A predefined root comes back as the interface's 32-bit number.
    const auto low = static_cast<RegHandle>(static_cast<DWORD>(value));
    if (IsPredefined(low) && ToHkey(low) == key) return low;
    return static_cast<RegHandle>(value);
}

long Win32Registry::Adopt(long status, HKEY opened, HKEY root, RegHandle* result) {
    if (status != ERROR_SUCCESS || opened == nullptr) {
        *result = 0;
        return status;
    }
    const RegHandle handle = FromHkey(opened);
    // RegOpenKey with an empty path hands back the root itself, which is
    // not a new key to own.
    if (opened != root && !m_open.contains(handle)) m_open.emplace(handle, UniqueHkey(opened));
    *result = handle;
    return status;
}

long Win32Registry::open_key_ex(RegHandle root, TextView subkey, std::uint32_t options, std::uint32_t access,
                                RegHandle* result) {
    HKEY opened = nullptr;
    const HKEY parent = ToHkey(root);
    const long status = ::RegOpenKeyExW(parent, Chars(Wide(subkey)), options, access, &opened);
    return Adopt(status, opened, parent, result);
}

long Win32Registry::open_key(RegHandle root, TextView subkey, RegHandle* result) {
    HKEY opened = nullptr;
    const HKEY parent = ToHkey(root);
    const long status = ::RegOpenKeyW(parent, Chars(Wide(subkey)), &opened);
    return Adopt(status, opened, parent, result);
}

long Win32Registry::enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                                char16_t* class_text, std::uint32_t* class_length) {
    DWORD name_chars = name_length ? *name_length : 0;
    DWORD class_chars = class_length ? *class_length : 0;
    const bool with_class = class_text != nullptr && class_length != nullptr;
    const long status = ::RegEnumKeyExW(ToHkey(key), index, reinterpret_cast<wchar_t*>(name),
                                        name_length ? &name_chars : nullptr, nullptr,
                                        with_class ? reinterpret_cast<wchar_t*>(class_text) : nullptr,
                                        with_class ? &class_chars : nullptr, nullptr);
    if (name_length) *name_length = name_chars;
    if (with_class) *class_length = class_chars;
    return status;
}

long Win32Registry::query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type, std::uint8_t* data,
                                   std::uint32_t* size) {
    DWORD value_type = type ? *type : 0;
    DWORD bytes = size ? *size : 0;
    const long status = ::RegQueryValueExW(ToHkey(key), Chars(Wide(value_name)), nullptr,
                                           type ? &value_type : nullptr, data, size ? &bytes : nullptr);
    if (type) *type = value_type;
    if (size) *size = bytes;
    return status;
}

long Win32Registry::close_key(RegHandle key) {
    const auto it = m_open.find(key);
    if (it != m_open.end()) {
        const long status = ::RegCloseKey(it->second.release());
        m_open.erase(it);
        return status;
    }
    // A root gets Windows' own answer. Any other handle is not ours to close:
    // it may belong to someone else by now.
    if (key == 0 || IsPredefined(key)) return ::RegCloseKey(ToHkey(key));
    return kErrorInvalidHandle;
}

long Win32Registry::delete_tree(RegHandle root, TextView subkey) {
    // SHDeleteKey with an empty path would empty the root; the root itself is never deleted.
    if (!NamesAKey(subkey)) return kErrorAccessDenied;
    return static_cast<long>(::SHDeleteKeyW(ToHkey(root), Chars(Wide(subkey))));
}

}  // namespace ssr::win32
