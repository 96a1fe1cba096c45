#pragma once
// Puts the records of a backup file (the registry editor's import format
// that Remove writes, or any such file) back into a Wine prefix's system.reg
// and user.reg without Wine, through the prefix store's own commit: the same
// locks, server checks and one durable write of each file that changes.
//
// Only records are ever written: keys below one of the three Uninstall keys,
// each with everything the file holds below it. A file that names any other
// key, gives an Uninstall key itself a value, holds a registry link (a
// REG_LINK value) or a line that Wine's import would skip or get wrong is
// refused whole, with every such line named. A record that is already there
// as the file holds it is left alone; one that is there with other contents
// is refused, and then nothing at all is written, unless `replace` says to
// replace it. Nothing but the restored records ever changes.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/wine_registry.h"

namespace ssr::wine {

// One record of a backup file: its key with every key the file holds below
// it (parents first, values in wineserver's order, paths below the root).
struct BackupRecord {
    RegHandle root = kHkeyLocalMachine;
    Text path;   // below the root, as first spelled in the file
    Text shown;  // the full path, "HKEY_LOCAL_MACHINE\..."
    std::vector<NewKey> keys;
};

struct BackupContents {
    std::vector<BackupRecord> records;
    std::vector<std::string> refusals;  // as RestoreReport's; empty when the file may be restored
};

// The records of a backup file, or why it may not be restored. A record of
// the 32-bit view is refused where the prefix has none (`has_32bit_view`).
[[nodiscard]] BackupContents ReadBackupFile(const std::filesystem::path& backup, bool has_32bit_view);
[[nodiscard]] BackupContents ReadBackupBytes(std::string_view bytes, bool has_32bit_view);

struct RestoredRecord {
    enum class Outcome { Restored, Replaced, AlreadyThere, OtherContents, NotWritten };
    Text path;  // "HKEY_LOCAL_MACHINE\Software\...\Uninstall\Name"
    RegHandle root = kHkeyLocalMachine;
    Outcome outcome = Outcome::Restored;
};

struct RestoreReport {
    // Why nothing was written, in words for the user: the file's faults (each
    // line with its number) or the records there with other contents. Empty
    // when the file could be restored.
    std::vector<std::string> refusals;
    std::vector<RestoredRecord> records;
    // The files that were not written, and why, as a removal reports them.
    std::vector<std::pair<RegHandle, WriteFailure>> failed;
    bool written = false;  // everything that had to be written is on disk

    [[nodiscard]] bool ok() const { return refusals.empty() && failed.empty(); }
};

enum class RestoreMode { Write, DryRun };
enum class RestoreReplace { No, Yes };

// `registry` is the prefix's store, read whole; on a refusal it holds staged
// records and must not be committed afterwards.
[[nodiscard]] RestoreReport RestoreBackup(WinePrefixRegistry& registry, const std::filesystem::path& backup,
                                          RestoreReplace replace, RestoreMode mode);

}  // namespace ssr::wine
