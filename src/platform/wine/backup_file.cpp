// Saving backups where the prefix's own programs and user find them.
#include "platform/wine/backup_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/backup_name.h"
#include "platform/text.h"
#include "platform/wine/posix_file.h"
#include "platform/wine/reg_file.h"

namespace ssr::wine {

namespace fs = std::filesystem;

namespace {

std::optional<Text> TextValue(RegFile& file, TextView key, TextView name) {
    RegFile::Node* node = file.Find(file.root(), key);
    if (!node) return std::nullopt;
    const RegValue* value = file.FindValue(node, name);
    if (!value || (value->type != 1 && value->type != 2) || value->data.size() < 2) return std::nullopt;
    Text text(value->data.size() / 2, u'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * 2);
    text.resize(std::char_traits<char16_t>::length(text.c_str()));
    if (text.empty()) return std::nullopt;
    return text;
}

std::string UserName() {
    if (const char* user = std::getenv("USER"); user && *user && !std::strchr(user, '/')) return user;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name) return entry->pw_name;
    return "user";
}

int SyncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    const int result = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return result;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

constexpr char kTemporaryPrefix[] = ".backup-";
constexpr char kTemporarySuffix[] = ".tmp";

// The writer a temporary file ".backup-<pid>-XXXXXX.tmp" (or, as older
// versions named it, ".backup-<pid>.tmp") belongs to; none for any other name.
std::optional<pid_t> TemporaryWriter(const std::string& name) {
    if (!name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix)) return std::nullopt;
    std::string middle = name.substr(sizeof kTemporaryPrefix - 1,
                                     name.size() - (sizeof kTemporaryPrefix - 1) - (sizeof kTemporarySuffix - 1));
    if (const std::size_t dash = middle.find('-'); dash != std::string::npos) {
        if (middle.size() - dash - 1 != 6) return std::nullopt;
        middle.resize(dash);
    }
    if (middle.empty() || middle.size() > 9 || middle.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<pid_t>(std::stol(middle));
}

// A writer killed between making its temporary file and linking it leaves
// the file for good. Each is named by its writer's process; one whose
// process is gone has no writer any more. A process that lives under the
// same number keeps the file until a later look finds it gone. Only plain
// files go: a link planted there is left, and never followed.
std::vector<fs::path> LeftoverBackupTemporaries(const fs::path& folder) {
    std::vector<fs::path> left;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::optional<pid_t> pid = TemporaryWriter(entry.path().filename().string());
        if (!pid || *pid == ::getpid() || ::kill(*pid, 0) == 0 || errno != ESRCH) continue;
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) left.push_back(entry.path());
    }
    return left;
}

void RemoveLeftoverBackupTemporaries(const fs::path& folder) {
    for (const fs::path& file : LeftoverBackupTemporaries(folder)) ::unlink(file.c_str());
}

fs::path BackupFolderOf(const Prefix& prefix) {
    fs::path folder = LocalAppDataFolder(prefix);
    for (const TextView part : SplitPath(kBackupFolder)) folder /= ToUtf8(part);
    return folder;
}

}  // namespace

fs::path LocalAppDataFolder(const Prefix& prefix) {
    ReadResult read = ReadWholeFile(prefix.path() / "user.reg");
    if (read.error == IoError::None) {
        if (auto file = RegFile::Parse(std::move(read.bytes))) {
            std::optional<Text> recorded =
                TextValue(*file, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", u"Local AppData");
            if (!recorded) recorded = TextValue(*file, u"Volatile Environment", u"LOCALAPPDATA");
            if (recorded)
                if (auto mapped = prefix.MapWindowsPath(*recorded)) return *mapped;
        }
    }
    return prefix.path() / "drive_c" / "users" / UserName() / "AppData" / "Local";
}

NewFile WriteNewFile(const fs::path& folder, const std::function<std::string(int)>& name_for, std::string_view bytes) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return {folder, ec.value()};

    RemoveLeftoverBackupTemporaries(folder);
    // A name of its own, made with O_EXCL: whatever is there already, a link
    // planted at the name among them, is never opened, let alone followed.
    std::string name = (folder / (kTemporaryPrefix + std::to_string(::getpid()) + "-XXXXXX" + kTemporarySuffix)).string();
    const int fd = ::mkostemps(name.data(), static_cast<int>(sizeof kTemporarySuffix - 1), O_CLOEXEC);
    if (fd < 0) return {folder, errno};
    const fs::path temporary = name;
    // A backup is the user's own file, readable as any file they write.
    if (::fchmod(fd, 0644) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return {folder, error};
    }
    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return {folder, error};
    }
    // link() takes a free name only: an earlier backup is never replaced.
    for (int attempt = 1; attempt < 10000; ++attempt) {
        const fs::path target = folder / name_for(attempt);
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.c_str());
            error = SyncFolder(folder);
            if (error != 0) return {folder, error};
            return {target, 0};
        }
        if (errno != EEXIST) {
            error = errno;
            ::unlink(temporary.c_str());
            return {folder, error};
        }
    }
    ::unlink(temporary.c_str());
    return {folder, EEXIST};
}

void RemoveLeftovers(const Prefix& prefix) noexcept {
    try {
        const fs::path backups = BackupFolderOf(prefix);
        const bool hives = HasLeftoverTemporaries(prefix.path() / "system.reg") ||
                           HasLeftoverTemporaries(prefix.path() / "user.reg");
        if (!hives && LeftoverBackupTemporaries(backups).empty()) return;
        // Only while no writer works in the prefix: then none of them is in use.
        WriterLock lock;
        if (lock.Acquire(prefix.path() / kWritersLockName, std::chrono::milliseconds(0)) != IoError::None) return;
        RemoveLeftoverTemporaries(prefix.path() / "system.reg");
        RemoveLeftoverTemporaries(prefix.path() / "user.reg");
        RemoveLeftoverBackupTemporaries(backups);
    } catch (...) {
        // They stay until the next look, which loses nothing.
    }
}

}  // namespace ssr::wine
