#pragma once
// The registry of a Wine prefix, read from and written to its hives:
// HKEY_LOCAL_MACHINE is system.reg, HKEY_CURRENT_USER is user.reg, each read
// at its first use. Keys are opened as wineserver opens them, registry links
// followed, and subkeys enumerate in wineserver's order (names compared
// case-insensitively), which is also the order Wine writes.
//
// delete_tree only stages a deletion; commit writes every hive that has
// staged deletions once, atomically, under a lock that every writer of the
// prefix's files takes. Either answers:
//   0     done
//   2     no such key (or no such hive)
//   5     the hive is read-only or not ours to read, or the key is the
//         uninstall key itself, one of its parents or the root
//   32    (commit) a wineserver runs for the prefix and would write its own
//         copy over ours, or another writer holds the lock
//   112   the disk is full
//   29    the file could not be written for another reason
//   1009  the hive is not a registry file, or one we read but never write
//         (NUL bytes, sections below a link)
// failure_detail() gives the reason behind each, with the file it concerns.
// commit() holds wineserver's own lock while it writes, so that no server
// starts on the old files between the last check and the rename.

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "platform/registry.h"
#include "platform/wine/posix/posix.h"
#include "platform/wine/prefix/prefix.h"

namespace ssr {

namespace wine {
struct NewKey;
struct RegValue;
}

// How much of system.reg a store reads. Records: only what listing the
// records and testing their files needs (record_sections.h), for a quick
// look at many prefixes; such a store refuses every change with access denied.
enum class ReadScope { Whole, Records };

class WinePrefixRegistry final : public Registry {
public:
    // `fault` is the tests' way to fail or interrupt a replacement of
    // system.reg at a chosen step; the program passes none.
    explicit WinePrefixRegistry(std::shared_ptr<const wine::Prefix> prefix, wine::WriteFaultHook fault = {});
    WinePrefixRegistry(std::shared_ptr<const wine::Prefix> prefix, ReadScope scope);
    ~WinePrefixRegistry() override;
    WinePrefixRegistry(const WinePrefixRegistry&) = delete;
    WinePrefixRegistry& operator=(const WinePrefixRegistry&) = delete;

    [[nodiscard]] const wine::Prefix& prefix() const;

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
    CommitResult commit() override;

    // Whether every hive read so far is still the file it was read from: a
    // listing made from files another program rewrote meanwhile may be of a
    // file cut short, and must not be reported.
    [[nodiscard]] bool unchanged_since_read() const;
    // Why a hive could not be read, when the last failure was that.
    [[nodiscard]] std::optional<WriteFailure> read_failure() const;

    // A record put back from a backup. The key at `path` below `root`
    // (kHkeyLocalMachine or kHkeyCurrentUser; the path as the file has it,
    // no view applied) is staged to be written by the next commit with
    // `keys`: itself and every key below it, each path below the root,
    // parents first. A record that is there already as `keys` give it is
    // left as it is; one there with other contents (a registry link among
    // them) is staged for deletion first when `replace` says so, and left
    // alone otherwise. Nothing is ever written below a registry link. Fails
    // as delete_tree does when the hive cannot be written.
    enum class RecordStaging { Added, Replacing, AlreadyThere, OtherContents, BelowLink };
    enum class Replace { No, Yes };
    [[nodiscard]] long stage_record(RegHandle root, TextView path, std::vector<wine::NewKey> keys, Replace replace,
                                    RecordStaging& staging);
    // Values put back from a backup into the key at `path` below `root`
    // (made when it is not there), written by the next commit: a value not
    // there is Added; one there with the same type and data is AlreadyThere
    // and left; one with other data is Replacing when `replace` says so and
    // OtherContents (left) otherwise; BelowLink when the key is at or below
    // a registry link, where nothing is written. One outcome per value, in
    // order. Fails as delete_tree does when the hive cannot be written.
    [[nodiscard]] long stage_values(RegHandle root, TextView path, std::vector<wine::RegValue> values,
                                    Replace replace, std::vector<RecordStaging>& outcomes);
    [[nodiscard]] WriteFailure failure_detail(long status) const override;
    void refresh() override;
    [[nodiscard]] bool has_32bit_view() const override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

}  // namespace ssr
