#pragma once
// The POSIX edge for files' contents: reading a file whole or a piece at a
// time with the identity it had, and the one atomic writer, which replaces
// a file or makes a new one so that a crash at any moment leaves the old
// file or the new one, whole. errno stops here: callers see our own result
// types.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wine/posix/posix_handles.h"

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

// Changing: the file was written each time it was read.
enum class IoError { None, NotFound, AccessDenied, NoSpace, TooLarge, Busy, Changing, Other };

struct ReadResult {
    IoError error = IoError::None;
    std::string bytes;
    FileIdentity identity;
    int code = 0;  // the errno behind `error`, when the system gave one
};

// Reads the whole file; retries when it changed while being read. Opened
// without waiting: anything but a plain file (a FIFO, a device) is refused
// at once, with EINVAL as `code`.
[[nodiscard]] ReadResult ReadWholeFile(const std::filesystem::path& path);
// The same for another program's small file (a configuration file, a
// launcher): one larger than `limit` bytes is refused with EFBIG.
[[nodiscard]] ReadResult ReadSmallFile(const std::filesystem::path& path, std::size_t limit);
// What a refused read (its errno) means, as part of a sentence: "is not a
// plain file", "is too large", or the system's words.
[[nodiscard]] std::string ReadFailureText(int code);

[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// Reads a plain file a piece at a time (a megabyte at most), for a file that
// need not be in memory whole: `piece` gets each in order and may answer
// false to stop. What ReadWholeFile refuses is refused here too, without
// waiting on a FIFO. `changed` says the file was written while it was read:
// what the pieces said is then not the file.
struct PieceRead {
    IoError error = IoError::None;
    int code = 0;
    bool changed = false;
};
[[nodiscard]] PieceRead ReadFilePieces(const std::filesystem::path& path,
                                       const std::function<bool(std::string_view)>& piece);

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
    int code = 0;  // the errno behind `error`
};
[[nodiscard]] ReplaceOutcome ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                                         const FileIdentity& original, bool (*still_current)(void*),
                                         void* context, const WriteFaultHook& fault = {});
// The same with the new contents made while they are written: `produce`
// hands them to its `write` a piece at a time and stops when `write` answers
// false (a write failed). `size` is what it will write, for the fault hook's
// halves.
using ContentWriter = std::function<bool(std::string_view)>;
[[nodiscard]] ReplaceOutcome ReplaceFile(const std::filesystem::path& target,
                                         const std::function<void(const ContentWriter&)>& produce, std::size_t size,
                                         const FileIdentity& original, bool (*still_current)(void*),
                                         void* context, const WriteFaultHook& fault = {});

struct NewFile {
    std::filesystem::path path;  // the file written, or the folder when nothing was
    int error = 0;               // errno of the step that failed; 0 when written
};

// Writes `bytes` as a new file in `folder` (made when missing) under the first
// name `name_for(1)`, `name_for(2)`, ... that is free. The data is flushed to
// disk under a temporary name made afresh (never through a link), linked to
// its name (which never replaces a file) and the folder flushed, so after a
// crash the file is either whole or not there. Temporary files that writers
// killed midway left in `folder` go.
[[nodiscard]] NewFile WriteNewFile(const std::filesystem::path& folder,
                                   const std::function<std::string(int attempt)>& name_for, std::string_view bytes);
// The temporary files of WriteNewFile in `folder` whose writers are dead
// (a living process keeps its own), plain files only; and their removal.
[[nodiscard]] std::vector<std::filesystem::path> LeftoverNewFileTemporaries(const std::filesystem::path& folder);
void RemoveLeftoverNewFileTemporaries(const std::filesystem::path& folder);

// The system's own description of `code` (an errno), as one sentence part.
[[nodiscard]] std::string SystemErrorText(int code);

// Removes the temporary files ReplaceFile leaves beside `target` when its
// writer dies between making one and renaming it. Only for a caller that
// holds the writers' lock: then no living writer is at work on any of them.
void RemoveLeftoverTemporaries(const std::filesystem::path& target);
// Whether there are any.
[[nodiscard]] bool HasLeftoverTemporaries(const std::filesystem::path& target);

}  // namespace ssr::wine
