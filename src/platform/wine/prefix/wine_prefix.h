#pragma once
// A Wine prefix on Linux: where it is, how Windows paths map into it, and
// whether a wineserver currently runs for it.

#include <filesystem>
#include <memory>
#include <optional>

#include "platform/desktop.h"
#include "platform/text.h"

namespace ssr::wine {

class FolderIndex;

// One prefix folder and what is learnt about it. The registry store and the
// desktop of a window share one; each prefix keeps its own folder listings,
// so a second prefix never answers from the first one's files. Safe to use
// from several threads.
class Prefix {
public:
    // A relative path is taken from the current folder now, once: the
    // prefix must not move when the program later changes folder.
    explicit Prefix(const std::filesystem::path& path);
    ~Prefix();
    Prefix(const Prefix&) = delete;
    Prefix& operator=(const Prefix&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

    // Maps a Windows path ("c:\\program files\\foo\\unins000.exe") onto the
    // Linux file system the way Wine does: the drive letter through
    // <prefix>/dosdevices/<letter>:, backslashes to slashes, and components
    // that do not exist as written matched case-insensitively or by their
    // Wine short names. A path without
    // a drive letter is taken relative to the current folder. Empty when the
    // path cannot be mapped.
    [[nodiscard]] std::optional<std::filesystem::path> MapWindowsPath(TextView windows_path) const;

    // What the prefix's file system says about a Windows path. Missing only
    // for a definite "not found" below a drive the prefix has: a drive
    // letter without a dosdevices link (C: falls back to drive_c, as Wine
    // does without dosdevices), a link to something absent (an unmounted
    // disk), a folder that cannot be read, or any error but "no such file"
    // gives Unknown, and so does a path without a drive letter and root. A
    // component in short-name form is found as Wine finds it; one that no
    // entry's Wine short name matches is Unknown too. Never fails.
    [[nodiscard]] FileAnswer WindowsPathState(TextView windows_path) const noexcept;

    // Many path questions follow, until EndFileTests (a Suggest click): the
    // folders on the way to each program are looked at once for all of them,
    // not once per path. Runs nest; none may be under way on another thread.
    void BeginFileTests() const noexcept;
    void EndFileTests() const noexcept;

    // True while a wineserver holds the prefix (the lock on its server
    // folder's "lock" file), whether or not a socket is left over.
    [[nodiscard]] bool ServerRunning() const noexcept;

private:
    struct Mapping;
    [[nodiscard]] Mapping Map(TextView windows_path) const;

    std::filesystem::path m_path;
    // Listings are a cache: reading them changes nothing the caller sees.
    std::unique_ptr<FolderIndex> m_folders;
};

}  // namespace ssr::wine
