// The Windows registry through advapi32 and shlwapi.
#include "platform/win32/win32_registry.h"

#include <winternl.h>

#include <string>
#include <vector>

#include "platform/win32/wide.h"

namespace ssr::win32 {

namespace {

// Predefined root keys are 0x80000000 to 0x80000006 (HKEY_CLASSES_ROOT to
// HKEY_DYN_DATA); Windows defines them as negative 32-bit numbers.
constexpr RegHandle kFirstPredefined = 0x80000000;
constexpr RegHandle kLastPredefined = 0x80000006;

bool IsPredefined(RegHandle handle) { return handle >= kFirstPredefined && handle <= kLastPredefined; }

const wchar_t* Chars(const std::wstring& text) { return text.c_str(); }

// The path has a name in it, so a deletion cannot take the root's whole content.
bool NamesAKey(TextView subkey) { return subkey.find_first_not_of(u'\\') != TextView::npos; }

constexpr DWORD kRegLink = 6;  // REG_LINK
constexpr ULONG kNtOpenLink = REG_OPTION_OPEN_LINK;

// NtDeleteKey deletes the key a handle names: opened with REG_OPTION_OPEN_LINK,
// that is the link itself. RegDeleteKey and SHDeleteKey open by name and so
// follow a link to its target.
using NtDeleteKeyFunction = LONG(NTAPI*)(HANDLE);
using RtlNtStatusToDosErrorFunction = ULONG(NTAPI*)(LONG);

long DeleteOpenKey(HKEY key) {
    static const auto nt_delete_key = reinterpret_cast<NtDeleteKeyFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    static const auto to_dos_error = reinterpret_cast<RtlNtStatusToDosErrorFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    if (!nt_delete_key || !to_dos_error) return ERROR_CALL_NOT_IMPLEMENTED;
    const LONG status = nt_delete_key(key);
    return status == 0 ? ERROR_SUCCESS : static_cast<long>(to_dos_error(status));
}

bool IsLink(HKEY key) {
    DWORD type = 0;
    return ::RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == kRegLink;
}

// Children first, each opened as a link, then the key itself by its handle.
long DeleteKeyAndBelow(HKEY parent, const std::wstring& name, DWORD view, int depth) {
    if (depth > 512) return ERROR_CANTOPEN;  // deeper than any registry allows
    HKEY opened = nullptr;
    const long status = ::RegOpenKeyExW(parent, name.c_str(), kNtOpenLink,
                                        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | view, &opened);
    if (status != ERROR_SUCCESS) return status;
    const UniqueHkey key(opened);
    if (!IsLink(key.get())) {
        std::vector<std::wstring> children;
        for (DWORD index = 0;; ++index) {
            wchar_t child[256];
            DWORD length = 256;
            const long listed = ::RegEnumKeyExW(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr);
            if (listed == ERROR_NO_MORE_ITEMS) break;
            if (listed != ERROR_SUCCESS) return listed;
            children.emplace_back(child, length);
        }
        for (const std::wstring& child : children) {
            const long removed = DeleteKeyAndBelow(key.get(), child, view, depth + 1);
            if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) return removed;
        }
    }
    return DeleteOpenKey(key.get());
}

long DeleteTreeWithoutLinks(HKEY root, std::wstring path, DWORD view) {
    // "Uninstall\\" with a trailing separator must not name the uninstall key.
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    // The parent is opened normally (its path is ours, not the record's); the
    // record and everything below it as links.
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return DeleteKeyAndBelow(root, path, view, 0);
    HKEY parent = nullptr;
    const long status = ::RegOpenKeyExW(root, path.substr(0, cut).c_str(), 0, KEY_ENUMERATE_SUB_KEYS | view, &parent);
    if (status != ERROR_SUCCESS) return status;
    const UniqueHkey owner(parent);
    return DeleteKeyAndBelow(parent, path.substr(cut + 1), view, 0);
}

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

long Win32Registry::open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) {
    HKEY opened = nullptr;
    const HKEY parent = ToHkey(root);
    // RegOpenKey knows no views; with one named, the same open with the view.
    const long status = (view & kKeyWow64Views) == 0
                            ? ::RegOpenKeyW(parent, Chars(Wide(subkey)), &opened)
                            : ::RegOpenKeyExW(parent, Chars(Wide(subkey)), 0, MAXIMUM_ALLOWED | (view & kKeyWow64Views),
                                              &opened);
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

long Win32Registry::enum_value(RegHandle key, std::uint32_t index, char16_t* name, std::uint32_t* name_length,
                               std::uint32_t* type, std::uint8_t* data, std::uint32_t* size) {
    DWORD name_chars = name_length ? *name_length : 0;
    DWORD value_type = 0;
    DWORD bytes = size ? *size : 0;
    const long status = ::RegEnumValueW(ToHkey(key), index, reinterpret_cast<wchar_t*>(name),
                                        name_length ? &name_chars : nullptr, nullptr, type ? &value_type : nullptr,
                                        data, size ? &bytes : nullptr);
    if (name_length && status == ERROR_SUCCESS) *name_length = name_chars;
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

long Win32Registry::delete_tree(RegHandle root, TextView subkey, std::uint32_t view) {
    // An empty path would empty the root; the root itself is never deleted.
    if (!NamesAKey(subkey)) return kErrorAccessDenied;
    return DeleteTreeWithoutLinks(ToHkey(root), Wide(subkey), view & kKeyWow64Views);
}

long Win32Registry::delete_value(RegHandle root, TextView subkey, TextView value_name, std::uint32_t view) {
    if (!NamesAKey(subkey)) return kErrorAccessDenied;
    HKEY key = nullptr;
    long status = ::RegOpenKeyExW(ToHkey(root), Chars(Wide(subkey)), 0, KEY_SET_VALUE | (view & kKeyWow64Views), &key);
    if (status != kErrorSuccess) return status;
    status = ::RegDeleteValueW(key, Chars(Wide(value_name)));
    ::RegCloseKey(key);
    return status;
}

}  // namespace ssr::win32
