// Paths, folders, links, the user and the processes, as the system tells them.
#include "platform/wine/posix/posix_system.h"

#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/wine/posix/posix_handles.h"

namespace ssr::wine {

bool PathStatus::OwnedByUs() const { return Found() && owner == ThisUser(); }

PathStatus StatusOf(const std::filesystem::path& path, FollowLinks follow) noexcept {
    PathStatus status;
    struct stat st {};
    if ((follow == FollowLinks::Yes ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
        status.error = errno != 0 ? errno : EIO;
        return status;
    }
    status.kind = S_ISREG(st.st_mode)   ? EntryKind::File
                  : S_ISDIR(st.st_mode) ? EntryKind::Folder
                  : S_ISLNK(st.st_mode) ? EntryKind::Link
                                        : EntryKind::Other;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    status.owner = st.st_uid;
    status.mode = st.st_mode;
    status.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    status.size = st.st_size > 0 ? static_cast<std::uintmax_t>(st.st_size) : 0;
    return status;
}

PathFailure FailureOf(int error) noexcept {
    switch (error) {
    case 0: return PathFailure::None;
    case ENOENT: return PathFailure::Missing;
    case ENOTDIR: return PathFailure::NotAFolder;
    case EACCES:
    case EPERM: return PathFailure::Denied;
    case EIO:
    case ENXIO:
    case ENODEV:
#ifdef ENOMEDIUM
    case ENOMEDIUM:
#endif
        return PathFailure::NotReady;
    default: return PathFailure::Other;
    }
}

FolderListing ListFolder(const std::filesystem::path& folder) {
    FolderListing listing;
    const UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) {
        listing.error = errno != 0 ? errno : EIO;
        return listing;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") listing.names.emplace_back(name);
    }
    return listing;
}

std::optional<std::filesystem::path> LinkTarget(const std::filesystem::path& link) {
    std::error_code error;
    std::filesystem::path target = std::filesystem::read_symlink(link, error);
    if (error) return std::nullopt;
    return target;
}

bool MayWriteTo(const std::filesystem::path& path) noexcept { return ::access(path.c_str(), W_OK) == 0; }

void RemoveFile(const std::filesystem::path& path) noexcept { static_cast<void>(::unlink(path.c_str())); }

int MakeFolder(const std::filesystem::path& folder, mode_t mode) noexcept {
    return ::mkdir(folder.c_str(), mode) == 0 || errno == EEXIST ? 0 : errno;
}

uid_t ThisUser() noexcept { return ::getuid(); }

pid_t ThisProcess() noexcept { return ::getpid(); }

bool ProcessGone(pid_t process) noexcept { return ::kill(process, 0) != 0 && errno == ESRCH; }

std::string AccountName() {
    if (const char* user = std::getenv("USER"); user && *user && !std::strchr(user, '/')) return user;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name) return entry->pw_name;
    return "user";
}

}  // namespace ssr::wine
