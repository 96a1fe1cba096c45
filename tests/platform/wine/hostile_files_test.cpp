// Files that are not what they seem: a hive another program rewrites in
// place while it is read or written, FIFOs where configuration files belong,
// links planted at the names of temporary files, and what killed runs left.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/wine/backups/backup_file.h"
#include "platform/wine/backups/backup_restore.h"
#include "platform/wine/posix/posix_file.h"
#include "platform/wine/discovery/prefix_discovery.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

namespace ssr::wine {
namespace {

namespace fs = std::filesystem;

// A system.reg with `count` records, A0 to A<count-1>.
std::string HiveWith(int count) {
    std::string text = test::kHeader;
    for (int i = 0; i < count; ++i)
        text += "\n" + test::k64 + "\\\\A" + std::to_string(i) + "] 1\n\"DisplayName\"=\"Program " + std::to_string(i) +
                "\"\n\"UninstallString\"=\"C:\\\\x\\\\u.exe\"\n";
    return text;
}

int RecordsIn(Registry& registry) {
    RegHandle key = 0;
    if (registry.open_key_ex(kHkeyLocalMachine, kUninstallKeyPath, 0, kKeyEnumerateSubKeys | kKeyWow64_64Key, &key) !=
        kErrorSuccess)
        return -1;
    int count = 0;
    char16_t name[300];
    for (std::uint32_t i = 0;; ++i) {
        std::uint32_t length = 300;
        if (registry.enum_key_ex(key, i, name, &length, nullptr, nullptr) != kErrorSuccess) break;
        ++count;
    }
    static_cast<void>(registry.close_key(key));
    return count;
}

// Another program rewriting the file in place, as fast as it can: truncated,
// then its bytes in two writes, never renamed.
class InPlaceWriter {
public:
    InPlaceWriter(fs::path file, std::string bytes) : m_file(std::move(file)), m_bytes(std::move(bytes)) {
        m_thread = std::thread([this] {
            while (!m_stop) {
                const int fd = ::open(m_file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
                if (fd < 0) continue;
                const std::size_t half = m_bytes.size() / 2;
                static_cast<void>(::write(fd, m_bytes.data(), half));
                static_cast<void>(::write(fd, m_bytes.data() + half, m_bytes.size() - half));
                ::close(fd);
            }
        });
    }
    ~InPlaceWriter() {
        m_stop = true;
        m_thread.join();
    }

private:
    fs::path m_file;
    std::string m_bytes;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// While the file is rewritten in place, whatever was read from it is told
// apart from the file: a listing believed (the files unchanged since read)
// holds every record, and a removal reported as done wrote the file.
TEST(ChangingFile, IsNeverReportedOn) {
    constexpr int kRecords = 20000;
    test::TempFolder folder("changing");
    const fs::path prefix = folder.path();
    const std::string hive = HiveWith(kRecords);
    test::WriteBytes(prefix / "system.reg", hive);
    InPlaceWriter writer(prefix / "system.reg", hive);
    int believed = 0;
    for (int round = 0; round < 10; ++round) {
        for (const ReadScope scope : {ReadScope::Whole, ReadScope::Records}) {
            WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix), scope);
            const int listed = RecordsIn(registry);
            if (listed < 0) {
                // Not read at all, and said why: a file being written is said to
                // change, unless the writer stalled long enough for a truncated
                // file to pass for a damaged one.
                const std::optional<WriteFailure> failure = registry.read_failure();
                ASSERT_TRUE(failure.has_value());
                EXPECT_TRUE(failure->kind == WriteFailureKind::Changing || failure->kind == WriteFailureKind::Damaged);
                continue;
            }
            if (!registry.unchanged_since_read()) continue;
            ++believed;
            EXPECT_EQ(listed, kRecords) << "a file cut short was believed";
        }
        int renames = 0;
        WinePrefixRegistry registry(std::make_shared<const Prefix>(prefix), [&renames](WriteStep step) {
            renames += step == WriteStep::Rename;
            return 0;
        });
        const Text record = Text(kUninstallKeyPath) + u"\\A" + FromUtf8(std::to_string(kRecords - 1));
        if (registry.delete_tree(kHkeyLocalMachine, record, kKeyWow64_64Key) != kErrorSuccess) continue;
        const CommitResult committed = registry.commit();
        if (committed.ok()) EXPECT_EQ(renames, 1) << "a removal reported without a write";
        else EXPECT_EQ(committed.failed.front().second.kind, WriteFailureKind::Changing);
    }
    RecordProperty("believed", believed);
}

// Runs `work` in a child process: false when it did not end within
// `seconds` (it would have hung the program).
bool EndsWithin(int seconds, const std::function<void()>& work) {
    const pid_t child = ::fork();
    if (child == 0) {
        work();
        ::_exit(0);
    }
    for (int waited = 0; waited < seconds * 100; ++waited) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) return true;
        ::usleep(10'000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return false;
}

// A FIFO where another program's file belongs is passed over at once, with a note.
TEST(FifoInPlaceOfAFile, IsPassedOverAtOnce) {
    struct Row {
        const char* file;  // below the home folder
        std::function<void(const fs::path& home, std::vector<std::string>& notes)> reader;
    };
    const auto discover = [](const fs::path& home, std::vector<std::string>& notes) {
        static_cast<void>(DiscoverPrefixes(home, &notes));
    };
    const Row rows[] = {
        {".local/share/Steam/steamapps/libraryfolders.vdf", discover},
        {".local/share/Steam/steamapps/appmanifest_70.acf", discover},
        {".config/lutris/games/game.yml", discover},
        {".local/share/bottles/bottles/b/bottle.yml", discover},
        {".wine/wineserver", [](const fs::path& home, std::vector<std::string>&) {
             static_cast<void>(Prefix(home / ".wine").ServerRunning());
         }},
        {"backup.reg", [](const fs::path& home, std::vector<std::string>& notes) {
             notes = ReadBackupFile(home / "backup.reg", true).refusals;
         }},
    };
    for (const Row& row : rows) {
        test::TempFolder home("fifo-home");
        // A prefix for each keeper, so that each file is asked for.
        for (const char* prefix : {".local/share/Steam/steamapps/compatdata/70/pfx", ".local/share/bottles/bottles/b", ".wine"}) {
            fs::create_directories(home.path() / prefix);
            test::WriteBytes(home.path() / prefix / "system.reg", test::kHeader);
        }
        fs::create_directories((home.path() / row.file).parent_path());
        ASSERT_EQ(::mkfifo((home.path() / row.file).c_str(), 0600), 0);
        std::vector<std::string> notes;
        EXPECT_TRUE(EndsWithin(10, [&] { row.reader(home.path(), notes); })) << row.file << " held the program";
        // The note, from the same reading in this process.
        row.reader(home.path(), notes);
        if (std::string(row.file) != ".wine/wineserver") {
            ASSERT_FALSE(notes.empty()) << row.file;
            EXPECT_NE(notes.front().find("not a plain file"), std::string::npos) << notes.front();
        }
    }
}

// Links planted at the names temporary files are given never lead a write
// elsewhere, and killed writers' temporary files go at the next start.
TEST(TemporaryFiles, AreMadeAfreshAndLeftoversGoAtTheNextStart) {
    test::TempFolder folder("temporaries");
    const fs::path prefix = folder.path() / "prefix";
    fs::create_directories(prefix);
    test::WriteBytes(prefix / "system.reg", HiveWith(3));
    const fs::path backups = LocalAppDataFolder(Prefix(prefix)) / "Sweep Stale Records" / "Backups";
    fs::create_directories(backups);
    const fs::path victim = folder.path() / "victim";
    test::WriteBytes(victim, "keep me");
    const pid_t dead = ::fork();
    if (dead == 0) ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    const std::string pid = std::to_string(::getpid());
    // The names the program used to write, and would find, pointing at another file.
    for (const fs::path& link : {backups / (".backup-" + pid + ".tmp"), backups / (".backup-" + pid + "-AbCdEf.tmp"),
                                 prefix / ".system.reg.new-AbCdEf"})
        fs::create_symlink(victim, link);
    const NewFile written = WriteNewFile(backups, [](int) { return std::string("b.reg"); }, "backup");
    ASSERT_EQ(written.error, 0);
    struct stat st {};
    ASSERT_EQ(::lstat(written.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "the backup is a file of its own";
    EXPECT_EQ(test::ReadBytes(victim), "keep me");

    // What killed writers left: a hive's temporary and a backup's.
    const fs::path hive_left = prefix / ".system.reg.new-XyZ123";
    const fs::path backup_left = backups / (".backup-" + std::to_string(dead) + "-XyZ123.tmp");
    const fs::path living = backups / (".backup-" + pid + "-Living.tmp");
    for (const fs::path& file : {hive_left, backup_left, living}) test::WriteBytes(file, "half");
    {
        // Another writer at work keeps everything.
        WriterLock other;
        ASSERT_EQ(other.Acquire(prefix / kWritersLockName, std::chrono::milliseconds(0)), IoError::None);
        RemoveLeftovers(Prefix(prefix));
        EXPECT_TRUE(fs::exists(hive_left));
    }
    RemoveLeftovers(Prefix(prefix));
    EXPECT_FALSE(fs::exists(hive_left));
    EXPECT_FALSE(fs::exists(backup_left));
    EXPECT_TRUE(fs::exists(living)) << "a living writer's file stays";
    EXPECT_TRUE(fs::is_symlink(prefix / ".system.reg.new-AbCdEf")) << "a link is left, never followed";
    EXPECT_EQ(test::ReadBytes(victim), "keep me");
}

}  // namespace
}  // namespace ssr::wine
