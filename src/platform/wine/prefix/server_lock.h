#pragma once
// Where a prefix's wineserver works, whether one runs, the locks that keep
// one from starting while the registry files are being replaced, and what
// the user is told to stop one.
//
// wineserver takes a write lock on byte 0 of the "lock" file in its server
// folder, <root>/server-<dev>-<ino>, before it loads the registry; when
// another process holds that lock it exits with status 2, and the Wine
// program that started it tries again for a few seconds. So a writer that
// holds the lock in every folder a server of the prefix would use knows
// that no server loads the old files between its last check and its rename.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/wine/posix/posix.h"

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
    std::vector<ServerLockFile> m_locks;
    std::vector<std::pair<dev_t, ino_t>> m_folders;  // the folders whose lock is held
    int m_code = 0;
};

// What a writer of the prefix's registry files holds from reading them to
// the rename, taken the same way by every writer: the writers' lock (so no
// two base their files on the same old one), then the server lock (so no
// wineserver starts and loads the old files meanwhile, to write them back
// later). Both go with the object.
class RegistryWriteLocks {
public:
    enum class Refusal { None, OtherWriter, LockNotOurs, ServerRunning, System };

    explicit RegistryWriteLocks(const std::filesystem::path& prefix) : m_prefix(prefix), m_server(prefix) {}

    // Waits up to `wait` for another writer to finish.
    [[nodiscard]] Refusal Acquire(std::chrono::milliseconds wait);
    // The file a LockNotOurs or System refusal is about, and for System the
    // errno behind it.
    [[nodiscard]] const std::filesystem::path& file() const { return m_file; }
    [[nodiscard]] int code() const { return m_code; }
    // While held, the server check that means anything is its
    // ServerOutside(): its own folders would look taken to the usual one.
    [[nodiscard]] const ServerLock& server() const { return m_server; }

private:
    std::filesystem::path m_prefix;
    WriterLock m_writers;
    ServerLock m_server;
    std::filesystem::path m_file;
    int m_code = 0;
};

// What to tell the user when a wineserver of the prefix runs: close its
// program, or stop it with a command that names this prefix, since a bare
// "wineserver -k" stops the default prefix's server. UTF-8, as the path's
// bytes are.
[[nodiscard]] std::string ServerRunningAdvice(const std::filesystem::path& prefix);

}  // namespace ssr::wine
