#pragma once
// The POSIX edge of the Wine prefix store: reading a whole file with the
// identity it had, and replacing a file so that a crash at any moment leaves
// the old file or the new one, whole. errno stops here: callers see our own
// result types.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/wine/posix_handles.h"

namespace ssr::wine {

// What tells two versions of a file apart without reading them.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

enum class IoError { None, NotFound, AccessDenied, NoSpace, TooLarge, Other };

struct ReadResult {
    IoError error = IoError::None;
    std::string bytes;
    FileIdentity identity;
};

// Reads the whole file; retries when it changed while being read.
[[nodiscard]] ReadResult ReadWholeFile(const std::filesystem::path& path);
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// The steps of a replacement, for the fault hook.
enum class WriteStep { CreateTemporary, WriteFirstHalf, WriteSecondHalf, SyncFile, CloseFile, Rename, SyncFolder };

// Test hook, called before each step. A non-zero result makes the step fail
// with that errno; the hook may also end the process to stand in for a crash.
// Empty in the program.
using WriteFaultHook = std::function<int(WriteStep)>;

// Writes `bytes` to a temporary file beside `target`, with `target`'s mode and
// owner, flushes it to disk, renames it over `target` and flushes the folder.
// `still_current` runs after the data is on disk and before the rename; when
// it says no, the temporary file goes and nothing is replaced. `fault` may
// be empty.
enum class ReplaceResult { Replaced, Stale, Failed };
struct ReplaceOutcome {
    ReplaceResult result = ReplaceResult::Failed;
    IoError error = IoError::None;
};
[[nodiscard]] ReplaceOutcome ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                                         const FileIdentity& original, bool (*still_current)(void*),
                                         void* context, const WriteFaultHook& fault = {});

}  // namespace ssr::wine
