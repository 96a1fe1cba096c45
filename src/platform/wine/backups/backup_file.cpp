// Where backups go: the prefix user's own folder, and what killed runs left.
#include "platform/wine/backups/backup_file.h"

#include <cstring>
#include <optional>

#include "platform/backup_name.h"
#include "platform/text.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/posix/posix.h"

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
    return prefix.path() / "drive_c" / "users" / AccountName() / "AppData" / "Local";
}

fs::path BackupFolder(const Prefix& prefix) {
    fs::path folder = LocalAppDataFolder(prefix);
    for (const TextView part : SplitPath(kBackupFolder)) folder /= ToUtf8(part);
    return folder;
}

void RemoveLeftovers(const Prefix& prefix) noexcept {
    try {
        const fs::path backups = BackupFolder(prefix);
        // A writers' lock file no writer holds is one a killed writer left:
        // taking and letting go of the lock takes it away too.
        const bool hives = HasLeftoverTemporaries(prefix.path() / "system.reg") ||
                           HasLeftoverTemporaries(prefix.path() / "user.reg") ||
                           StatusOf(prefix.path() / kWritersLockName, FollowLinks::No).Found();
        if (!hives && LeftoverNewFileTemporaries(backups).empty()) return;
        // Only while no writer works in the prefix: then none of them is in use.
        WriterLock lock;
        if (lock.Acquire(prefix.path() / kWritersLockName, std::chrono::milliseconds(0)) != IoError::None) return;
        RemoveLeftoverTemporaries(prefix.path() / "system.reg");
        RemoveLeftoverTemporaries(prefix.path() / "user.reg");
        RemoveLeftoverNewFileTemporaries(backups);
    } catch (...) {
        // They stay until the next look, which loses nothing.
    }
}

}  // namespace ssr::wine
