#pragma once
// The POSIX handle kinds the Wine prefix code owns, each with its RAII type.

#include <dirent.h>
#include <unistd.h>

#include "platform/unique_handle.h"

namespace ssr::wine {

struct FdTraits {
    using Handle = int;
    static constexpr Handle None() noexcept { return -1; }
    static void Close(Handle fd) noexcept { ::close(fd); }
};
using UniqueFd = UniqueHandle<FdTraits>;

struct DirTraits {
    using Handle = DIR*;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle dir) noexcept { ::closedir(dir); }
};
using UniqueDir = UniqueHandle<DirTraits>;

}  // namespace ssr::wine
