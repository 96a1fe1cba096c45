// The writers' lock and wineserver's lock, as the system takes them.
#include "platform/wine/posix/posix_locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace ssr::wine {

namespace {

IoError Refused(int code) {
    switch (code) {
    case EACCES:
    case EPERM:
    case EROFS: return IoError::AccessDenied;
    case ENOSPC:
    case EDQUOT: return IoError::NoSpace;
    default: return IoError::Other;
    }
}

}  // namespace

IoError WriterLock::Acquire(const std::filesystem::path& path, std::chrono::milliseconds wait) {
    Release();
    m_code = 0;
    const auto failed = [this](int code) {
        m_code = code;
        return Refused(code);
    };
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        // O_NONBLOCK: a FIFO planted there must not hang the open.
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) return errno == ELOOP ? IoError::AccessDenied : failed(errno);
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) return failed(errno);
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return IoError::AccessDenied;
        for (;;) {
            if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) break;
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return failed(errno);
            if (std::chrono::steady_clock::now() >= deadline) return IoError::Busy;
            const struct timespec pause {0, 5'000'000};
            ::nanosleep(&pause, nullptr);
        }
        // The writer before may have removed the file as it let go: a lock
        // on a file no longer at the path locks nobody out. Again, on the
        // file that is there now.
        struct stat now {};
        if (::stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) {
            m_fd = std::move(fd);
            m_path = path;
            return IoError::None;
        }
        if (std::chrono::steady_clock::now() >= deadline) return IoError::Busy;
    }
}

void WriterLock::Release() noexcept {
    if (!m_fd) return;
    // Removed while still held: a writer that opened it meanwhile finds it
    // gone once it has the lock, and tries again on a new one.
    static_cast<void>(::unlink(m_path.c_str()));
    m_fd.reset();
    m_path.clear();
}

ServerLockState ProbeServerLock(const std::filesystem::path& lock_file) noexcept {
    constexpr int kFlags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    UniqueFd fd(::open(lock_file.c_str(), O_RDWR | kFlags));
    if (!fd) fd.reset(::open(lock_file.c_str(), O_RDONLY | kFlags));
    if (!fd) return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? ServerLockState::Free : ServerLockState::Unknown;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return ServerLockState::Unknown;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid()) return ServerLockState::Free;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 1;
    if (::fcntl(fd.get(), F_GETLK, &probe) != 0) return ServerLockState::Unknown;
    return probe.l_type == F_UNLCK ? ServerLockState::Free : ServerLockState::Held;
}

ServerLockFile::Result ServerLockFile::Take(const std::filesystem::path& lock_file) {
    m_fd.reset();
    m_code = 0;
    // wineserver opens the lock file write-only and creates it 0600.
    UniqueFd fd(::open(lock_file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd) {
        if (errno == ELOOP) return Result::Skipped;  // wineserver could not use it either
        m_code = errno;
        return Result::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) return Result::Skipped;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES) return Result::Taken;
        m_code = errno;
        return Result::Failed;
    }
    m_fd = std::move(fd);
    return Result::Held;
}

}  // namespace ssr::wine
