// Finding a prefix's wineserver, and holding off a new one while the
// registry files are replaced.
#include "platform/wine/prefix/server_lock.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

// wineserver refuses to work in a server folder that is not the user's own
// (or is a link), so nothing anyone else put there can hold our prefix.
bool OwnFolder(const fs::path& folder) {
    const PathStatus status = StatusOf(folder, FollowLinks::No);
    return status.Is(EntryKind::Folder) && status.OwnedByUs();
}

// As wineserver makes its folders: the user's own, open to nobody else.
// False when the folder is there but wineserver would refuse to use it, or
// cannot be made.
bool MakeServerFolder(const fs::path& folder) {
    if (MakeFolder(folder, 0700) != 0) return false;
    const PathStatus status = StatusOf(folder, FollowLinks::No);
    return status.Is(EntryKind::Folder) && status.OwnedByUs() && (status.mode & 077) == 0;
}

// A process on its way out has let go of its files and locks but may still
// show its working folder for a moment; it will load nothing any more.
bool Exiting(const fs::path& process) {
    constexpr unsigned long kProcessExiting = 0x4;  // the kernel's PF_EXITING
    const ReadResult stat_file = ReadSmallFile(process / "stat", 4096);
    const std::string& line = stat_file.bytes;
    const std::size_t end_of_name = line.rfind(')');
    if (stat_file.error != IoError::None || end_of_name == std::string::npos) return false;
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
    const FolderListing processes = ListFolder("/proc");
    for (const std::string& pid : processes.names) {
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const fs::path process = fs::path("/proc") / pid;
        if (!StatusOf(process).OwnedByUs()) continue;
        const ReadResult comm = ReadSmallFile(process / "comm", 4096);
        if (comm.error != IoError::None || !comm.bytes.starts_with("wineserver")) continue;
        if (Exiting(process)) continue;
        std::optional<fs::path> cwd = LinkTarget(process / "cwd");
        if (cwd && cwd->filename() == folder_name) folders.push_back(std::move(*cwd));
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
    const auto uid = static_cast<unsigned>(ThisUser());
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
    const PathStatus status = StatusOf(prefix);
    if (!status.Found()) return {};
    char folder[64];
    std::snprintf(folder, sizeof folder, "server-%llx-%llx", static_cast<unsigned long long>(status.device),
                  static_cast<unsigned long long>(status.inode));
    return folder;
}

bool ServerRunningFor(const fs::path& prefix) noexcept {
    try {
        const std::string folder = ServerLock::FolderName(prefix);
        if (folder.empty()) return false;  // no prefix, nothing to serve
        for (const ServerRoot& root : ServerRoots(prefix)) {
            if (!OwnFolder(root.path) || !OwnFolder(root.path / folder)) continue;
            if (ProbeServerLock(root.path / folder / "lock") != ServerLockState::Free) return true;
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
        ServerLockFile lock;
        switch (lock.Take(folder / "lock")) {
        case ServerLockFile::Result::Held: break;
        case ServerLockFile::Result::Skipped: continue;  // no file wineserver could use either
        case ServerLockFile::Result::Taken: return Result::ServerRunning;
        case ServerLockFile::Result::Failed: m_code = lock.code(); return Result::Failed;
        }
        m_locks.push_back(std::move(lock));
        if (const PathStatus held = StatusOf(folder); held.Found()) m_folders.emplace_back(held.device, held.inode);
    }
    return Result::Held;
}

bool ServerLock::ServerOutside() const {
    try {
        const std::string name = FolderName(m_prefix);
        if (name.empty()) return false;
        for (const fs::path& cwd : ServerProcessFolders(name)) {
            const PathStatus status = StatusOf(cwd);
            if (!status.Found()) return true;  // cannot tell: say it runs
            bool held = false;
            for (const auto& [dev, ino] : m_folders) held = held || (dev == status.device && ino == status.inode);
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
            m_code = m_writers.code();
            return Refusal::System;
    }
    m_file = m_prefix;
    switch (m_server.Acquire()) {
        case ServerLock::Result::Held: return Refusal::None;
        case ServerLock::Result::ServerRunning: return Refusal::ServerRunning;
        case ServerLock::Result::Failed: break;
    }
    m_code = m_server.code();
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
