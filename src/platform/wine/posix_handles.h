#pragma once
// The POSIX handle kinds the Wine prefix code owns, each with its RAII type.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

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

// Files read through stdio; a failed close loses nothing that was only read.
struct FileTraits {
    using Handle = std::FILE*;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle file) noexcept { std::fclose(file); }
};
using UniqueFile = UniqueHandle<FileTraits>;

}  // namespace ssr::wine
