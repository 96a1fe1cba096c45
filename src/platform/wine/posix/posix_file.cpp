// Reading and atomically replacing the prefix's files, and the writers' lock.
#include "platform/wine/posix/posix_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <vector>

namespace ssr::wine {

namespace {

// Registry files beyond this are not something wineserver produces; refusing
// them keeps the index's 32-bit offsets valid.
constexpr off_t kLargestFile = std::numeric_limits<std::int32_t>::max();

IoError FromErrno(int error) {
    switch (error) {
    case 0: return IoError::None;
    case ENOENT:
    case ENOTDIR: return IoError::NotFound;
    case EACCES:
    case EPERM:
    case EROFS: return IoError::AccessDenied;
    case ENOSPC:
    case EDQUOT: return IoError::NoSpace;
    case EFBIG: return IoError::TooLarge;
    case EAGAIN: return IoError::Changing;
    default: return IoError::Other;
    }
}

ReadResult ReadFailure(int code) { return {FromErrno(code), {}, {}, code}; }

FileIdentity IdentityFrom(const struct stat& st) {
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.modified_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    id.changed_ns = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    id.mode = st.st_mode;
    id.owner = st.st_uid;
    id.group = st.st_gid;
    return id;
}

int WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return IdentityFrom(st);
}

namespace {

// The buffer a whole file is read into.
struct StringSink {
    std::string& bytes;
    bool Prepare(std::size_t size) {
        bytes.resize(size);
        return true;
    }
    char* Data() { return bytes.data(); }
    bool Append(const char* more, std::size_t n) {
        bytes.append(more, n);
        return true;
    }
    void Truncate(std::size_t size) { bytes.resize(size); }
};

// Opens a file to be read whole: the errno of the step that failed, or 0.
// Without blocking: a FIFO in a hive's place would hold the program before
// any window; it is refused like any other non-file.
int OpenToRead(const std::filesystem::path& path, UniqueFd& fd, struct stat& opened, off_t limit = kLargestFile) {
    fd = UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return errno;
    if (::fstat(fd.get(), &opened) != 0) return errno;
    if (!S_ISREG(opened.st_mode)) return EINVAL;
    if (opened.st_size > limit) return EFBIG;
    return 0;
}

// Reads the whole file into `sink`, retrying when it changed while being
// read; the errno of the step that failed, or 0.
template <class Sink>
int ReadInto(const std::filesystem::path& path, Sink sink, FileIdentity& identity, off_t limit = kLargestFile) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        UniqueFd fd;
        struct stat before {};
        if (const int error = OpenToRead(path, fd, before, limit)) return error;
        // A buffer of the size fstat gave; the read that finds the end goes
        // to a small spill, which also catches a file that grew meanwhile.
        std::size_t size = static_cast<std::size_t>(before.st_size);
        if (!sink.Prepare(size)) return ENOMEM;
        std::size_t got = 0;
        char spill[4096];
        for (;;) {
            const bool full = got == size;
            const ssize_t n = full ? ::read(fd.get(), spill, sizeof spill) : ::read(fd.get(), sink.Data() + got, size - got);
            if (n < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (n == 0) break;
            if (full) {
                if (!sink.Append(spill, static_cast<std::size_t>(n))) return ENOMEM;
                size += static_cast<std::size_t>(n);
            }
            got += static_cast<std::size_t>(n);
            if (got > static_cast<std::size_t>(limit)) return EFBIG;
        }
        sink.Truncate(got);
        struct stat after {};
        if (::fstat(fd.get(), &after) != 0) return errno;
        identity = IdentityFrom(after);
        // Someone wrote while we read (in place, as an editor might): read again.
        // A file of the kernel's (/proc) tells no size, and reads whole.
        if (IdentityFrom(before) == identity && (static_cast<off_t>(got) == after.st_size || after.st_size == 0)) return 0;
    }
    return EAGAIN;
}

}  // namespace

ReadResult ReadWholeFile(const std::filesystem::path& path) {
    ReadResult result;
    if (const int error = ReadInto(path, StringSink{result.bytes}, result.identity)) return ReadFailure(error);
    return result;
}

ReadResult ReadSmallFile(const std::filesystem::path& path, std::size_t limit) {
    ReadResult result;
    const off_t most = static_cast<off_t>(std::min<std::size_t>(limit, static_cast<std::size_t>(kLargestFile)));
    if (const int error = ReadInto(path, StringSink{result.bytes}, result.identity, most)) return ReadFailure(error);
    return result;
}

std::string ReadFailureText(int code) {
    switch (code) {
    case EINVAL: return "is not a plain file";
    case EFBIG: return "is too large";
    case EAGAIN: return "was being changed each time it was read";
    default: return code ? "cannot be read: " + SystemErrorText(code) : "cannot be read";
    }
}


PieceRead ReadFilePieces(const std::filesystem::path& path, const std::function<bool(std::string_view)>& piece) {
    PieceRead result;
    UniqueFd fd;
    struct stat before {};
    if (const int error = OpenToRead(path, fd, before)) {
        result.error = FromErrno(error);
        result.code = error;
        return result;
    }
    constexpr std::size_t kPiece = 1 << 20;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kPiece);
    std::size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer.get(), kPiece);
        if (n < 0) {
            if (errno == EINTR) continue;
            result.error = FromErrno(errno);
            result.code = errno;
            return result;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        if (!piece(std::string_view(buffer.get(), static_cast<std::size_t>(n)))) return result;
    }
    struct stat after {};
    result.changed = ::fstat(fd.get(), &after) != 0 || !(IdentityFrom(before) == IdentityFrom(after)) ||
                     static_cast<off_t>(got) != after.st_size;
    return result;
}

ReplaceOutcome ReplaceFile(const std::filesystem::path& target, std::string_view bytes, const FileIdentity& original,
                           bool (*still_current)(void*), void* context, const WriteFaultHook& fault) {
    const std::size_t half = bytes.size() / 2;
    return ReplaceFile(
        target,
        [bytes, half](const ContentWriter& write) {
            if (write(bytes.substr(0, half))) write(bytes.substr(half));
        },
        bytes.size(), original, still_current, context, fault);
}

namespace {

// A temporary file written whole and flushed to disk, the one way both
// writers below write: made afresh with O_EXCL (a link planted at its name
// is never opened, let alone followed), given its rights, filled by
// `produce`, synced and closed. On failure it is gone again.
struct Temporary {
    std::string path;
    int error = 0;  // the errno of the step that failed, 0 when written
};

Temporary WriteTemporary(std::string pattern, int suffix_length, mode_t mode, const FileIdentity* owner,
                         const std::function<void(const ContentWriter&)>& produce, std::size_t size,
                         const WriteFaultHook& fault) {
    const auto injected = [&fault](WriteStep step) { return fault ? fault(step) : 0; };
    Temporary made;
    made.error = injected(WriteStep::CreateTemporary);
    UniqueFd fd;
    if (!made.error) {
        fd.reset(::mkostemps(pattern.data(), suffix_length, O_CLOEXEC));
        if (!fd) made.error = errno;
    }
    if (made.error) return made;
    made.path = std::move(pattern);
    const auto fail = [&](int code) {
        fd.reset();
        ::unlink(made.path.c_str());
        made.error = code;
        return made;
    };
    if (::fchmod(fd.get(), mode & 07777) != 0) return fail(errno);
    // An owner we cannot give it (not running as root) is the one it has.
    if (owner && ::geteuid() == 0) static_cast<void>(::fchown(fd.get(), owner->owner, owner->group));

    // The fault hook's halves: before the first byte, and once half is written.
    std::size_t written = 0;
    bool first = true;
    bool second = true;
    int error = 0;
    produce([&](std::string_view piece) {
        if (first && (first = false, (error = injected(WriteStep::WriteFirstHalf)))) return false;
        if (second && written >= size / 2 && (second = false, (error = injected(WriteStep::WriteSecondHalf)))) return false;
        if ((error = WriteAll(fd.get(), piece.data(), piece.size()))) return false;
        written += piece.size();
        return true;
    });
    if (!error && first) error = injected(WriteStep::WriteFirstHalf);
    if (!error && second) error = injected(WriteStep::WriteSecondHalf);
    if (error) return fail(error);
    if ((error = injected(WriteStep::SyncFile)) || (::fsync(fd.get()) != 0 && (error = errno))) return fail(error);
    if ((error = injected(WriteStep::CloseFile))) return fail(error);
    if (::close(fd.release()) != 0) return fail(errno);
    return made;
}

// A rename or link is only durable once its folder is on disk too.
int SyncFolder(const std::filesystem::path& folder) {
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir) return errno;
    return ::fsync(dir.get()) == 0 ? 0 : errno;
}

constexpr char kNewFilePrefix[] = ".backup-";
constexpr char kNewFileSuffix[] = ".tmp";

// The writer a temporary file of WriteNewFile (".backup-<pid>-XXXXXX.tmp",
// or as older versions named it ".backup-<pid>.tmp") belongs to.
std::optional<pid_t> NewFileWriter(const std::string& name) {
    if (!name.starts_with(kNewFilePrefix) || !name.ends_with(kNewFileSuffix)) return std::nullopt;
    std::string middle =
        name.substr(sizeof kNewFilePrefix - 1, name.size() - (sizeof kNewFilePrefix - 1) - (sizeof kNewFileSuffix - 1));
    if (const std::size_t dash = middle.find('-'); dash != std::string::npos) {
        if (middle.size() - dash - 1 != 6) return std::nullopt;
        middle.resize(dash);
    }
    if (middle.empty() || middle.size() > 9 || middle.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<pid_t>(std::stol(middle));
}

}  // namespace

ReplaceOutcome ReplaceFile(const std::filesystem::path& target, const std::function<void(const ContentWriter&)>& produce,
                           std::size_t size, const FileIdentity& original, bool (*still_current)(void*), void* context,
                           const WriteFaultHook& fault) {
    const std::filesystem::path folder = target.parent_path();
    // Wine and the user keep their rights to the file.
    const Temporary temporary = WriteTemporary((folder / ("." + target.filename().string() + ".new-XXXXXX")).string(), 0,
                                               original.mode, &original, produce, size, fault);
    if (temporary.error) return {ReplaceResult::Failed, FromErrno(temporary.error), temporary.error};
    if (still_current && !still_current(context)) {
        ::unlink(temporary.path.c_str());
        return {ReplaceResult::Stale, IoError::None};
    }
    int error = fault ? fault(WriteStep::Rename) : 0;
    if (error || (::rename(temporary.path.c_str(), target.c_str()) != 0 && (error = errno))) {
        ::unlink(temporary.path.c_str());
        return {ReplaceResult::Failed, FromErrno(error), error};
    }
    // The file is already whole either way, so a failure here no longer undoes anything.
    if (!(fault && fault(WriteStep::SyncFolder))) static_cast<void>(SyncFolder(folder));
    return {ReplaceResult::Replaced, IoError::None};
}

NewFile WriteNewFile(const std::filesystem::path& folder, const std::function<std::string(int)>& name_for,
                     std::string_view bytes) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return {folder, ec.value()};
    RemoveLeftoverNewFileTemporaries(folder);
    // Named by this process, so that a later writer can tell a dead one's leftover.
    const std::string pattern =
        (folder / (kNewFilePrefix + std::to_string(::getpid()) + "-XXXXXX" + kNewFileSuffix)).string();
    // A new file is the user's own, readable as any file they write.
    const Temporary temporary = WriteTemporary(
        pattern, static_cast<int>(sizeof kNewFileSuffix - 1), 0644, nullptr,
        [bytes](const ContentWriter& write) { write(bytes); }, bytes.size(), {});
    if (temporary.error) return {folder, temporary.error};
    // link() takes a free name only: an earlier file is never replaced.
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const std::filesystem::path target = folder / name_for(attempt);
        if (::link(temporary.path.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.path.c_str());
            if (const int error = SyncFolder(folder)) return {folder, error};
            return {target, 0};
        }
        if (errno != EEXIST) {
            const int error = errno;
            ::unlink(temporary.path.c_str());
            return {folder, error};
        }
    }
    ::unlink(temporary.path.c_str());
    return {folder, EEXIST};
}

std::vector<std::filesystem::path> LeftoverNewFileTemporaries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> left;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::optional<pid_t> pid = NewFileWriter(entry.path().filename().string());
        if (!pid || *pid == ::getpid() || ::kill(*pid, 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) left.push_back(entry.path());
    }
    return left;
}

void RemoveLeftoverNewFileTemporaries(const std::filesystem::path& folder) {
    for (const std::filesystem::path& file : LeftoverNewFileTemporaries(folder)) ::unlink(file.c_str());
}

namespace {

// The temporary files ReplaceFile made beside `target`: plain files only.
std::vector<std::filesystem::path> LeftoverTemporaries(const std::filesystem::path& target) {
    std::vector<std::filesystem::path> left;
    const std::string prefix = "." + target.filename().string() + ".new-";
    const std::filesystem::path folder = target.parent_path();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || name.size() != prefix.size() + 6) continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) left.push_back(entry.path());
    }
    return left;
}

}  // namespace

void RemoveLeftoverTemporaries(const std::filesystem::path& target) {
    for (const std::filesystem::path& file : LeftoverTemporaries(target)) ::unlink(file.c_str());
}

bool HasLeftoverTemporaries(const std::filesystem::path& target) { return !LeftoverTemporaries(target).empty(); }

std::string SystemErrorText(int code) { return code ? std::strerror(code) : "the system gave no reason"; }

}  // namespace ssr::wine
