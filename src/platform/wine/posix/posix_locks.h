#pragma once
// The locks the prefix's writers and wineserver take, at the POSIX edge:
// the writers' own lock, and the byte-range lock a wineserver holds on the
// "lock" file of its server folder. Both go with their object.

#include <sys/types.h>

#include <chrono>
#include <filesystem>

#include "platform/wine/posix/posix_file.h"
#include "platform/wine/posix/posix_handles.h"

namespace ssr::wine {

// The exclusive lock every writer of a prefix's registry files holds around
// reading, checking and replacing them, so that two writers never base
// their files on the same old one. It is a flock on `path`, a regular file
// of our own (made when missing); a link or anybody else's file there is
// refused with AccessDenied, and a lock still held by another writer after
// `wait` with Busy. Released, the file goes too (no other writer holds it
// then: one that was waiting finds the file gone and makes it anew).
inline constexpr char kWritersLockName[] = ".registry-writers.lock";  // beside the registry files

class WriterLock {
public:
    WriterLock() = default;
    ~WriterLock() { Release(); }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    [[nodiscard]] IoError Acquire(const std::filesystem::path& path, std::chrono::milliseconds wait);
    void Release() noexcept;
    [[nodiscard]] bool held() const { return static_cast<bool>(m_fd); }
    // The errno behind the last failed Acquire, when the system gave one.
    [[nodiscard]] int code() const { return m_code; }

private:
    UniqueFd m_fd;
    std::filesystem::path m_path;
    int m_code = 0;
};

// The write lock on byte 0 of a server folder's "lock" file, which a
// running wineserver holds: the lock file must be a plain file of the
// user's own, opened without waiting and never through a link.
enum class ServerLockState { Free, Held, Unknown };
// Whether a process (never this one: its own locks do not show) holds it.
[[nodiscard]] ServerLockState ProbeServerLock(const std::filesystem::path& lock_file) noexcept;

class ServerLockFile {
public:
    enum class Result { Held, Taken, Skipped, Failed };
    // Takes the lock as an open file description lock, which conflicts with
    // the server's classic lock and is not dropped when this process closes
    // another descriptor of the file. Made 0600 when missing, as wineserver
    // makes it. Taken: another process holds it; Skipped: the file is not
    // one wineserver would use; Failed: `code()` says why.
    [[nodiscard]] Result Take(const std::filesystem::path& lock_file);
    [[nodiscard]] int code() const { return m_code; }

private:
    UniqueFd m_fd;
    int m_code = 0;
};

}  // namespace ssr::wine
