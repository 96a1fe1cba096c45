#pragma once
// Backups written into a Wine prefix where its own Windows programs, and the
// user of that prefix, find them: the prefix user's local application data.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/wine/wine_prefix.h"

namespace ssr::wine {

// The prefix user's local application data folder, as Wine recorded it in
// user.reg ("Local AppData" of the Shell Folders key, else LOCALAPPDATA of
// the Volatile Environment) and mapped into the prefix. A prefix that has not
// recorded it yet gets drive_c/users/<user>/AppData/Local, <user> being the
// folder Wine uses: $USER, else the account's name.
[[nodiscard]] std::filesystem::path LocalAppDataFolder(const Prefix& prefix);

struct NewFile {
    std::filesystem::path path;  // the file written, or the folder when nothing was
    int error = 0;               // errno of the step that failed; 0 when written
};

// Writes `bytes` as a new file in `folder` (made when missing) under the first
// name `name_for(1)`, `name_for(2)`, ... that is free. The data is flushed to
// disk under a temporary name made afresh (never through a link), linked to
// its name (which never replaces a file) and the folder flushed, so after a
// crash the file is either whole or not there. Temporary files that writers
// killed midway left in `folder` go.
[[nodiscard]] NewFile WriteNewFile(const std::filesystem::path& folder,
                                   const std::function<std::string(int attempt)>& name_for, std::string_view bytes);

// Removes what writers killed midway left in the prefix: temporary files
// beside system.reg and user.reg, and in the backup folder. Only when there
// is something to remove, and only under the writers' lock, which it does
// not wait for: a writer at work keeps its files. Never fails.
void RemoveLeftovers(const Prefix& prefix) noexcept;

}  // namespace ssr::wine
