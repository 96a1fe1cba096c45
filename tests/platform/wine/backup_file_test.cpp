// Saving backups into a Wine prefix.
#include "platform/wine/backups/backup_file.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "prefix_files.h"

namespace ssr::wine {
namespace {

namespace fs = std::filesystem;

TEST(BackupFile, EachWriteTakesTheNextFreeNameAndLeavesNoTemporaryFile) {
    test::TempFolder folder("backup-file");
    const fs::path target = folder.path() / "deep" / "Backups";
    const auto name = [](int attempt) { return attempt == 1 ? std::string("b.reg") : "b (" + std::to_string(attempt) + ").reg"; };
    const NewFile first = WriteNewFile(target, name, "one");
    const NewFile second = WriteNewFile(target, name, "two");
    ASSERT_EQ(first.error, 0);
    ASSERT_EQ(second.error, 0);
    EXPECT_EQ(first.path, target / "b.reg");
    EXPECT_EQ(second.path, target / "b (2).reg");
    EXPECT_EQ(test::ReadBytes(first.path), "one") << "never overwritten";
    EXPECT_EQ(test::ReadBytes(second.path), "two");
    EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 2);
}

TEST(BackupFile, TemporariesOfWritersThatDiedGoWithTheNextWrite) {
    test::TempFolder folder("backup-file");
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string kept[] = {".backup-" + std::to_string(::getppid()) + ".tmp", ".backup-x.tmp", "b.reg"};
    for (const std::string& name : kept) test::WriteBytes(folder.path() / name, "x");
    test::WriteBytes(folder.path() / (".backup-" + std::to_string(dead) + ".tmp"), "half");
    ASSERT_EQ(WriteNewFile(folder.path(), [](int) { return std::string("c.reg"); }, "new").error, 0);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{kept[0], kept[1], kept[2], "c.reg"}))
        << "a living writer's temporary and other files stay";
}

TEST(BackupFile, AFolderThatCannotBeMadeNamesItselfAndTheReason) {
    test::TempFolder folder("backup-file");
    test::WriteBytes(folder.path() / "file", "x");
    const NewFile result = WriteNewFile(folder.path() / "file" / "Backups", [](int) { return std::string("b.reg"); }, "x");
    EXPECT_NE(result.error, 0);
    EXPECT_EQ(result.path, folder.path() / "file" / "Backups");
}

TEST(BackupFile, LocalAppDataIsWhereTheUsersHiveSaysElseTheUsersFolder) {
    test::TempFolder folder("backup-file");
    const fs::path prefix = folder.path();
    fs::create_directories(prefix / "drive_c" / "users");
    fs::create_directories(prefix / "dosdevices");
    fs::create_symlink("../drive_c", prefix / "dosdevices" / "c:");
    const char* user = std::getenv("USER");
    const std::string fallback_user = user && *user ? user : "";
    if (!fallback_user.empty()) {
        EXPECT_EQ(LocalAppDataFolder(Prefix(prefix)), prefix / "drive_c" / "users" / fallback_user / "AppData" / "Local");
    }
    test::WriteBytes(prefix / "user.reg",
                     "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n#arch=win64\n\n"
                     "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n"
                     "\"Local AppData\"=\"C:\\\\users\\\\someone\\\\AppData\\\\Local\"\n");
    // Through the drive's link, as Wine maps it.
    EXPECT_EQ(fs::weakly_canonical(LocalAppDataFolder(Prefix(prefix))),
              fs::weakly_canonical(prefix / "drive_c" / "users" / "someone" / "AppData" / "Local"));
}

}  // namespace
}  // namespace ssr::wine
