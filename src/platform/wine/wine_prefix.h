#pragma once
// A Wine prefix on Linux: where it is, how Windows paths map into it, and
// whether a wineserver currently runs for it.

#include <filesystem>
#include <optional>

#include "platform/text.h"

namespace ssr::wine {

// $WINEPREFIX when set and not empty, else ~/.wine.
[[nodiscard]] std::filesystem::path DefaultPrefix();

// Maps a Windows path ("c:\\program files\\foo\\unins000.exe") onto the Linux
// file system the way Wine does: the drive letter through
// <prefix>/dosdevices/<letter>:, backslashes to slashes, and components that
// do not exist as written matched case-insensitively. A path without a drive
// letter is taken relative to the current folder. Empty when the path
// cannot be mapped.
[[nodiscard]] std::optional<std::filesystem::path> MapWindowsPath(const std::filesystem::path& prefix,
                                                                  TextView windows_path);

// True when the mapped path exists in any form (file, folder, drive root).
// Never fails.
[[nodiscard]] bool WindowsPathExists(const std::filesystem::path& prefix, TextView windows_path) noexcept;

// True while a wineserver holds the prefix (the lock on its server folder's
// "lock" file), whether or not a socket is left over.
[[nodiscard]] bool ServerRunning(const std::filesystem::path& prefix) noexcept;

}  // namespace ssr::wine
