#pragma once
// Backups written into a Wine prefix where its own Windows programs, and the
// user of that prefix, find them: the prefix user's local application data.
// They are written with WriteNewFile (posix_file.h), which never replaces one.

#include <filesystem>

#include "platform/wine/prefix/prefix.h"

namespace ssr::wine {

// The prefix user's local application data folder, as Wine recorded it in
// user.reg ("Local AppData" of the Shell Folders key, else LOCALAPPDATA of
// the Volatile Environment) and mapped into the prefix. A prefix that has not
// recorded it yet gets drive_c/users/<user>/AppData/Local, <user> being the
// folder Wine uses: $USER, else the account's name.
[[nodiscard]] std::filesystem::path LocalAppDataFolder(const Prefix& prefix);

// The folder the prefix's backups go to: "Sweep Stale Records\Backups"
// below its local application data.
[[nodiscard]] std::filesystem::path BackupFolder(const Prefix& prefix);

// Removes what writers killed midway left in the prefix: temporary files
// beside system.reg and user.reg and in the backup folder, and the writers'
// lock file. Only when there
// is something to remove, and only under the writers' lock, which it does
// not wait for: a writer at work keeps its files. Never fails.
void RemoveLeftovers(const Prefix& prefix) noexcept;

}  // namespace ssr::wine
