#pragma once
// Reads and parses one hive file, a large one in pieces on several threads
// at once: each thread reads its own stretch of the file into the shared
// buffer (so that faulting in and copying the pages run side by side too)
// and indexes it from the first place a piece may start, and the pieces
// are joined in file order. A small file, and anything the pieces cannot
// stand for, goes the way one reading goes.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "platform/wine/posix_file.h"
#include "platform/wine/reg_file.h"

namespace ssr::wine {

// How the file came to be read.
enum class HiveReading {
    Whole,              // in one reading, as the store reads a file
    Pieces,             // in pieces, joined
    PiecesParsedWhole,  // read in pieces, but some piece could not be indexed apart
    ReadAgain,          // the file changed while read in pieces, or a piece failed
};

struct LoadedHive {
    IoError error = IoError::None;
    int code = 0;  // the errno behind `error`
    FileIdentity identity;
    std::unique_ptr<RegFile> file;  // nothing also when the file is no registry
    HiveReading reading = HiveReading::Whole;
};

// For tests: where each piece after the first starts to be read (rising,
// inside the file), in place of whole huge pages, a few for each processor
// the process may run on; and a call once the file's size is known and
// before any of it is read.
struct HivePieceHook {
    std::vector<std::size_t> starts;
    std::function<void()> before_read;
};

// `known` is the prefix's architecture from the files read before.
[[nodiscard]] LoadedHive LoadHive(const std::filesystem::path& path, Architecture known,
                                  const HivePieceHook* hook = nullptr);

}  // namespace ssr::wine
