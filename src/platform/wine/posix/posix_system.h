#pragma once
// The POSIX edge for what is not a file's contents: what a path is, the
// names in a folder, links, folders made, files removed, the user and the
// processes. errno stops here: callers see our own result types.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ssr::wine {

enum class EntryKind { File, Folder, Link, Other };
enum class FollowLinks { Yes, No };

// What stat (or, not following links, lstat) tells of a path.
struct PathStatus {
    int error = 0;  // 0 when the path is there, else the errno
    EntryKind kind = EntryKind::Other;
    dev_t device = 0;
    ino_t inode = 0;
    uid_t owner = 0;
    mode_t mode = 0;
    std::int64_t modified_ns = 0;
    std::uintmax_t size = 0;

    [[nodiscard]] bool Found() const { return error == 0; }
    [[nodiscard]] bool Is(EntryKind what) const { return error == 0 && kind == what; }
    // A folder or file that no user but its owner, the current one, may touch.
    [[nodiscard]] bool OwnedByUs() const;
};
[[nodiscard]] PathStatus StatusOf(const std::filesystem::path& path, FollowLinks follow = FollowLinks::Yes) noexcept;

// What a failed question about a path (its errno) means: not there, a file
// where a folder should be, not ours to see, a disk that is not ready, or
// anything else.
enum class PathFailure { None, Missing, NotAFolder, Denied, NotReady, Other };
[[nodiscard]] PathFailure FailureOf(int error) noexcept;

// The names in a folder, "." and ".." left out, in the order the system
// gives them; `error` is the errno when it cannot be listed.
struct FolderListing {
    int error = 0;
    std::vector<std::string> names;
};
[[nodiscard]] FolderListing ListFolder(const std::filesystem::path& folder);

[[nodiscard]] std::optional<std::filesystem::path> LinkTarget(const std::filesystem::path& link);
// Whether the user may write to the path (it need not say the write will work).
[[nodiscard]] bool MayWriteTo(const std::filesystem::path& path) noexcept;
// Removes a file or a link (never what it points at); what fails stays.
void RemoveFile(const std::filesystem::path& path) noexcept;
// Makes a folder with `mode` (before the umask): 0, also when it is there
// already, or the errno.
[[nodiscard]] int MakeFolder(const std::filesystem::path& folder, mode_t mode) noexcept;

[[nodiscard]] uid_t ThisUser() noexcept;
[[nodiscard]] pid_t ThisProcess() noexcept;
// Whether no process has that number any more.
[[nodiscard]] bool ProcessGone(pid_t process) noexcept;
// The user's account name: $USER when it names one, else the system's.
[[nodiscard]] std::string AccountName();

}  // namespace ssr::wine
