#pragma once
// Where a prefix's wineserver works, whether one runs, and the lock that
// keeps one from starting while the registry files are being replaced.
//
// wineserver takes a write lock on byte 0 of the "lock" file in its server
// folder, <root>/server-<dev>-<ino>, before it loads the registry; when
// another process holds that lock it exits with status 2, and the Wine
// program that started it tries again for a few seconds. So a writer that
// holds the lock in every folder a server of the prefix would use knows
// that no server loads the old files between its last check and its rename.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/wine/posix_handles.h"

namespace ssr::wine {

// True while a wineserver holds the prefix (the lock on its server folder's
// "lock" file, or a wineserver process working in such a folder anywhere).
// When it cannot tell, it says yes: a write would be lost.
[[nodiscard]] bool ServerRunningFor(const std::filesystem::path& prefix) noexcept;

class ServerLock {
public:
    enum class Result { Held, ServerRunning, Failed };

    explicit ServerLock(std::filesystem::path prefix) : m_prefix(std::move(prefix)) {}

    // Takes the server lock in every folder a server of the prefix would
    // use, making the folders as wineserver makes them where they are
    // missing. ServerRunning when a server holds one of them; Failed, with
    // `code()`, when a lock could not be taken for another reason.
    [[nodiscard]] Result Acquire();
    [[nodiscard]] int code() const { return m_code; }

    // A wineserver of the prefix working in a folder this lock does not
    // hold (one started with another TMPDIR, or in a folder Wine has just
    // made): it may have loaded the registry files at any moment.
    [[nodiscard]] bool ServerOutside() const;

    // Folders a wineserver of the prefix may use: the server folder's name,
    // then each root it may sit in.
    [[nodiscard]] static std::string FolderName(const std::filesystem::path& prefix);

private:
    std::filesystem::path m_prefix;
    std::vector<UniqueFd> m_locks;
    std::vector<std::pair<dev_t, ino_t>> m_folders;  // the folders whose lock is held
    int m_code = 0;
};

}  // namespace ssr::wine
