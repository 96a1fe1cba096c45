#pragma once
// The eight registry operations the program uses, with the Windows registry's
// own arguments, buffer rules and result codes. Back ends: the Windows
// registry (platform/win32), a Wine prefix's system.reg (platform/wine) and
// an in-memory store for tests (doubles/memory_registry.h).
//
// Texts are UTF-16 end to end (the wide-character forms of the calls), so a
// name outside any ANSI code page is listed and deleted like any other.
//
// Roots are HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER. The 32-bit view of the
// local machine's "Software" is its "Software\Wow6432Node" branch, as on
// Windows and in Wine; the current user's keys have one view.

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace ssr {

using RegHandle = std::uintptr_t;  // 0 is "no handle"

inline constexpr RegHandle kHkeyCurrentUser = 0x80000001;
inline constexpr RegHandle kHkeyLocalMachine = 0x80000002;

// Result codes, as Windows numbers them.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorInvalidData = 13;
inline constexpr long kErrorWriteFault = 29;          // the store could not be written
inline constexpr long kErrorSharingViolation = 32;    // another program holds the store and would overwrite a change
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorDiskFull = 112;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNoMoreItems = 259;
inline constexpr long kErrorKeyDeleted = 1018;
inline constexpr long kErrorBadDbFormat = 1009;  // ERROR_BADDB: the store could not be read

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegLink = 6;  // a link's target: an NT path, \Registry\Machine\..., in UTF-16
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// The longest value name, in characters without the terminator.
inline constexpr std::uint32_t kMaxValueNameLength = 16383;

inline constexpr std::uint32_t kKeyEnumerateSubKeys = 8;
inline constexpr std::uint32_t kKeyRead = 0x20019;
// Registry views of a 64-bit system, given with the access rights. Without
// either, a 64-bit program sees the 64-bit view.
inline constexpr std::uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t kKeyWow64_32Key = 0x0200;
inline constexpr std::uint32_t kKeyWow64Views = kKeyWow64_64Key | kKeyWow64_32Key;

// open_key_ex's options.
inline constexpr std::uint32_t kRegOptionOpenLink = 0x8;

inline constexpr char16_t kUninstallKeyPath[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Why a store could not make a change, as the store itself found it out.
// The core decides on `status`; the words for the user come from the kind,
// so no one has to guess a reason back from a number.
enum class WriteFailureKind {
    Refused,        // the store's result code is all there is to say (the Windows registry's answers)
    OtherWriter,    // another copy of this program is writing the same files at this moment
    LockNotOurs,    // the writers' lock file, `file`, is not a plain file of the user's own
    ServerRunning,  // a server holds the store (`file` is its folder) and would write its own copy over the change
    ReadOnly,       // `file` is read-only or not the user's to change
    DiskFull,       // the disk that holds `file` is full
    Damaged,        // `file` is not one the store can rewrite safely
    Changing,       // `file` was changed by another program while it was being read, each time
    System,         // the system refused a step on `file`; `system_text` is its own description
};

struct WriteFailure {
    WriteFailure() = default;
    explicit WriteFailure(long status_code) : status(status_code) {}
    WriteFailure(long status_code, WriteFailureKind failure_kind, Text failed_file, Text system_words = {})
        : status(status_code), kind(failure_kind), file(std::move(failed_file)), system_text(std::move(system_words)) {}

    long status = kErrorSuccess;
    WriteFailureKind kind = WriteFailureKind::Refused;
    Text file;
    Text system_text;
    friend bool operator==(const WriteFailure&, const WriteFailure&) = default;
};

// What a commit made durable: each root whose deletions did not reach the
// disk, with why. Those keys are back; every other root's deletions are made.
struct CommitResult {
    std::vector<std::pair<RegHandle, WriteFailure>> failed;

    [[nodiscard]] bool ok() const { return failed.empty(); }
    [[nodiscard]] const WriteFailure* FailureOf(RegHandle root) const {
        for (const auto& [failed_root, failure] : failed)
            if (failed_root == root) return &failure;
        return nullptr;
    }
};

class Registry {
public:
    virtual ~Registry() = default;

    // RegOpenKeyEx: opens `subkey` below `root`. On failure `*result` is left 0.
    // A key that is a registry link is followed to its target, unless
    // `options` has kRegOptionOpenLink: then the link key itself is opened,
    // with its one value "SymbolicLinkValue" of type kRegLink.
    [[nodiscard]] virtual long open_key_ex(RegHandle root, TextView subkey, std::uint32_t options,
                                           std::uint32_t access, RegHandle* result) = 0;

    // RegEnumKeyEx: `*name_length` and `*class_length` hold the buffers'
    // sizes in characters on entry (terminator included) and the texts'
    // lengths without terminator on success. A name or class that does not
    // fit with its terminator gives kErrorMoreData.
    [[nodiscard]] virtual long enum_key_ex(RegHandle key, std::uint32_t index, char16_t* name,
                                           std::uint32_t* name_length, char16_t* class_text,
                                           std::uint32_t* class_length) = 0;

    // RegOpenKey: opens `subkey` below `root` for reading values, in the
    // registry view `view` names (kKeyWow64_32Key, kKeyWow64_64Key or 0).
    [[nodiscard]] virtual long open_key(RegHandle root, TextView subkey, std::uint32_t view, RegHandle* result) = 0;
    [[nodiscard]] long open_key(RegHandle root, TextView subkey, RegHandle* result) {
        return open_key(root, subkey, 0, result);
    }

    // RegQueryValueEx: with `data` null only the type and the size in bytes
    // come back; with a buffer too small, kErrorMoreData and the needed size.
    [[nodiscard]] virtual long query_value_ex(RegHandle key, TextView value_name, std::uint32_t* type,
                                              std::uint8_t* data, std::uint32_t* size) = 0;

    // RegEnumValue: the value at `index` of an open key, in the store's order.
    // `*name_length` holds the name buffer's size in characters on entry
    // (terminator included) and the name's length without it on success; a
    // name that does not fit gives kErrorMoreData. `type`, `data` and `size`
    // follow query_value_ex's rules. Past the last value, kErrorNoMoreItems.
    [[nodiscard]] virtual long enum_value(RegHandle key, std::uint32_t index, char16_t* name,
                                          std::uint32_t* name_length, std::uint32_t* type, std::uint8_t* data,
                                          std::uint32_t* size) = 0;

    // RegCloseKey: a handle of 0 is harmless.
    virtual long close_key(RegHandle key) = 0;

    // SHDeleteKey: the key with all its values and subkeys, in the registry
    // view `view` names. A store that writes files stages the deletion: the
    // key is gone for every later call at once, and on disk after commit().
    [[nodiscard]] virtual long delete_tree(RegHandle root, TextView subkey, std::uint32_t view) = 0;
    [[nodiscard]] long delete_tree(RegHandle root, TextView subkey) { return delete_tree(root, subkey, 0); }

    // RegDeleteKeyValue: the value `value_name` of the key `subkey` below
    // `root`, in the registry view `view` names. A store that writes files
    // stages it as delete_tree does.
    [[nodiscard]] virtual long delete_value(RegHandle root, TextView subkey, TextView value_name,
                                            std::uint32_t view) = 0;

    // Makes the deletions staged since the last commit durable, all or none
    // per file, each file on its own: one that cannot be written keeps its
    // keys, and says why, while the others are written. A store that deletes
    // key by key, like the Windows registry, has nothing to do.
    [[nodiscard]] virtual CommitResult commit() { return {}; }

    // Why the last delete_tree answered `status`, as far as the store knows;
    // a store that knows no more than the code gives the code alone.
    [[nodiscard]] virtual WriteFailure failure_detail(long status) const { return WriteFailure{status}; }

    // Makes the next calls see what others changed meanwhile (a program
    // that ran in the prefix). A store that reads a file at its first call
    // reads it again if it changed; the Windows registry is always current.
    virtual void refresh() {}

    // True when the local machine's keys have a 32-bit view of their own
    // (a 64-bit system); false where both views are the same keys.
    [[nodiscard]] virtual bool has_32bit_view() const = 0;
};

}  // namespace ssr
