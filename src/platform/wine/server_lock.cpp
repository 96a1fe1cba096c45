// Finding a prefix's wineserver, and holding off a new one while the
// registry files are replaced.
#include "platform/wine/server_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

// Is the byte-range lock that a running wineserver holds on `lock` taken?
// Our own process's locks never show up here, which is why tests take it
// from a child process.
enum class Lock { Free, Held, Unknown };

// wineserver refuses to work in a server folder that is not the user's own
// (or is a link), so nothing anyone else put there can hold our prefix.
bool OwnFolder(const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// As wineserver makes its folders: the user's own, open to nobody else.
// False when the folder is there but wineserver would refuse to use it, or
// cannot be made.
bool MakeServerFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

Lock ProbeLock(const fs::path& lock_file) {
    // Never blocks: a FIFO planted at the lock's place is not a lock.
    constexpr int kFlags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    UniqueFd fd(::open(lock_file.c_str(), O_RDWR | kFlags));
    if (!fd) fd.reset(::open(lock_file.c_str(), O_RDONLY | kFlags));
    if (!fd) return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? Lock::Free : Lock::Unknown;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Lock::Unknown;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid()) return Lock::Free;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 1;
    if (::fcntl(fd.get(), F_GETLK, &probe) != 0) return Lock::Unknown;
    return probe.l_type == F_UNLCK ? Lock::Free : Lock::Held;
}

// A process on its way out has let go of its files and locks but may still
// show its working folder for a moment; it will load nothing any more.
bool Exiting(const fs::path& process) {
    constexpr unsigned long kProcessExiting = 0x4;  // the kernel's PF_EXITING
    std::ifstream stat_file(process / "stat");
    std::string line;
    if (!std::getline(stat_file, line)) return false;
    const std::size_t end_of_name = line.rfind(')');
    if (end_of_name == std::string::npos) return false;
    std::istringstream fields(line.substr(end_of_name + 1));
    std::string skipped;
    for (int i = 0; i < 6; ++i) fields >> skipped;  // state, parent, group, session, terminal, its group
    unsigned long flags = 0;
    return fields >> flags && (flags & kProcessExiting) != 0;
}

// The working folders of the user's wineserver processes named
// `folder_name` (wineserver changes into its server folder at start and
// stays there), wherever they are.
std::vector<fs::path> ServerProcessFolders(const std::string& folder_name) {
    std::vector<fs::path> folders;
    UniqueDir proc(::opendir("/proc"));
    if (!proc) return folders;
    const uid_t uid = ::getuid();
    while (const dirent* entry = ::readdir(proc.get())) {
        const std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const fs::path process = fs::path("/proc") / pid;
        struct stat st {};
        if (::stat(process.c_str(), &st) != 0 || st.st_uid != uid) continue;
        std::ifstream comm(process / "comm");
        std::string name;
        if (!std::getline(comm, name) || !name.starts_with("wineserver")) continue;
        if (Exiting(process)) continue;
        std::error_code error;
        fs::path cwd = fs::read_symlink(process / "cwd", error);
        if (!error && cwd.filename() == folder_name) folders.push_back(std::move(cwd));
    }
    return folders;
}

// The roots a wineserver may keep its folder in: upstream Wine's
// /tmp/.wine-<uid>, the per-user runtime folder, and the private temporary
// folder that Debian's build names in <prefix>/wineserver, under $TMPDIR or
// /tmp. `made` tells which of them wineserver makes when they are missing.
struct ServerRoot {
    fs::path path;
    bool made = false;
    bool private_folder = false;  // Debian's: its parent is $TMPDIR or /tmp
};

std::vector<ServerRoot> ServerRoots(const fs::path& prefix) {
    const auto uid = static_cast<unsigned>(::getuid());
    std::vector<ServerRoot> roots{{fs::path("/tmp") / (".wine-" + std::to_string(uid)), true, false},
                                  {fs::path("/run/user") / std::to_string(uid) / "wine", false, false}};
    // A file of the prefix's: anything but a small plain file is no name (a
    // FIFO there must not hold the check).
    const ReadResult named = ReadSmallFile(prefix / "wineserver", 4096);
    const std::string name = named.bytes.substr(0, named.bytes.find('\n'));
    if (named.error == IoError::None && !name.empty() && name.find('/') == std::string::npos && name != "." &&
        name != "..") {
        const char* tmpdir = std::getenv("TMPDIR");
        if (tmpdir && *tmpdir == '/') roots.push_back({fs::path(tmpdir) / name, true, true});
        roots.push_back({fs::path("/tmp") / name, true, true});
    }
    return roots;
}

}  // namespace

std::string ServerLock::FolderName(const fs::path& prefix) {
    struct stat st {};
    if (::stat(prefix.c_str(), &st) != 0) return {};
    char folder[64];
    std::snprintf(folder, sizeof folder, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return folder;
}

bool ServerRunningFor(const fs::path& prefix) noexcept {
    try {
        const std::string folder = ServerLock::FolderName(prefix);
        if (folder.empty()) return false;  // no prefix, nothing to serve
        for (const ServerRoot& root : ServerRoots(prefix)) {
            if (!OwnFolder(root.path) || !OwnFolder(root.path / folder)) continue;
            if (ProbeLock(root.path / folder / "lock") != Lock::Free) return true;
        }
        // A server started with another TMPDIR keeps its folder where we do
        // not look; it still works in that folder, whatever its parent.
        return !ServerProcessFolders(folder).empty();
    } catch (...) {
        return true;
    }
}

ServerLock::Result ServerLock::Acquire() {
    m_locks.clear();
    m_folders.clear();
    m_code = 0;
    const std::string name = FolderName(m_prefix);
    if (name.empty()) return Result::Held;  // no prefix folder: no server can load anything from it
    for (const ServerRoot& root : ServerRoots(m_prefix)) {
        // Debian's private folder lives below $TMPDIR or /tmp, which are there.
        if (root.made ? !MakeServerFolder(root.path) : !OwnFolder(root.path)) continue;
        const fs::path folder = root.path / name;
        if (root.made ? !MakeServerFolder(folder) : !OwnFolder(folder)) continue;
        // wineserver opens the lock file write-only and creates it 0600.
        UniqueFd fd(::open((folder / "lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!fd) {
            if (errno == ELOOP) continue;  // wineserver could not use it either
            m_code = errno;
            return Result::Failed;
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
        // An open file description lock: it conflicts with the server's
        // classic lock, and unlike one of those it is not dropped when this
        // process closes any other descriptor of the same file.
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = 0;
        lock.l_len = 1;
        if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
            if (errno == EAGAIN || errno == EACCES) return Result::ServerRunning;
            m_code = errno;
            return Result::Failed;
        }
        m_locks.push_back(std::move(fd));
        struct stat folder_st {};
        if (::stat(folder.c_str(), &folder_st) == 0) m_folders.emplace_back(folder_st.st_dev, folder_st.st_ino);
    }
    return Result::Held;
}

bool ServerLock::ServerOutside() const {
    try {
        const std::string name = FolderName(m_prefix);
        if (name.empty()) return false;
        for (const fs::path& cwd : ServerProcessFolders(name)) {
            struct stat st {};
            if (::stat(cwd.c_str(), &st) != 0) return true;  // cannot tell: say it runs
            bool held = false;
            for (const auto& [dev, ino] : m_folders) held = held || (dev == st.st_dev && ino == st.st_ino);
            if (!held) return true;
        }
        return false;
    } catch (...) {
        return true;
    }
}

RegistryWriteLocks::Refusal RegistryWriteLocks::Acquire(std::chrono::milliseconds wait) {
    m_file = m_prefix / kWritersLockName;
    switch (m_writers.Acquire(m_file, wait)) {
        case IoError::None: break;
        case IoError::Busy: return Refusal::OtherWriter;
        case IoError::AccessDenied: return Refusal::LockNotOurs;
        default:
            m_code = m_writers.code() ? m_writers.code() : EIO;
            return Refusal::System;
    }
    m_file = m_prefix;
    switch (m_server.Acquire()) {
        case ServerLock::Result::Held: return Refusal::None;
        case ServerLock::Result::ServerRunning: return Refusal::ServerRunning;
        case ServerLock::Result::Failed: break;
    }
    m_code = m_server.code() ? m_server.code() : EIO;
    return Refusal::System;
}

std::string ServerRunningAdvice(const fs::path& prefix) {
    std::string quoted = "'";
    for (const char c : prefix.native()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    return "A Wine program is running in the Wine prefix " + prefix.native() +
           ", and Wine would write its own copy of the registry over the change. Close that program or run "
           "\"WINEPREFIX=" + quoted + " wineserver -k\", then try again.";
}

}  // namespace ssr::wine
