// Windows paths mapped into a prefix the way Wine maps them, and the prefix
// the program works on.

#include "platform/wine/prefix/wine_prefix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "platform/short_names.h"
#include "prefix_files.h"
#include "support/fake_wineserver.h"

namespace ssr::wine {
namespace {

namespace fs = std::filesystem;

// Whether the path Wine would map `windows_path` to is there in any form.
bool Exists(const Prefix& prefix, TextView windows_path) {
    const auto mapped = prefix.MapWindowsPath(windows_path);
    std::error_code ec;
    return mapped && fs::exists(*mapped, ec);
}

class PathMapping : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path& p = m_folder.path();
        fs::create_directories(p / "drive_c" / "Program Files" / "Mixed Case App");
        fs::create_directories(p / "dosdevices");
        fs::create_directories(p / "other");
        test::WriteBytes(p / "drive_c" / "Program Files" / "Mixed Case App" / "UnInst.EXE", "MZ");
        test::WriteBytes(p / "drive_c" / "Program Files" / "\xc3\x91" "and" "\xc3\xba" ".exe", "MZ");
        test::WriteBytes(p / "other" / "rel.txt", "x");
        fs::create_directory_symlink("../drive_c", p / "dosdevices" / "c:");
        fs::create_directory_symlink("/nonexistent-ssr-drive", p / "dosdevices" / "q:");
    }
    test::TempFolder m_folder;
    Prefix m_prefix{m_folder.path()};
};

TEST_F(PathMapping, AnswersLikeWineForEveryKindOfPath) {
    struct Row {
        Text path;
        FileState state;
        FileDoubt doubt = FileDoubt::None;
    };
    constexpr auto kHere = FileState::Exists, kGone = FileState::Missing, kUnknown = FileState::Unknown;
    const Text program_files = u"c:\\" + WineShortName(u"Program Files");
    const Text app = program_files + u"\\" + WineShortName(u"Mixed Case App");
    const Row rows[] = {
        {u"c:\\program files\\mixed case app\\uninst.exe", kHere},   // the listing lower-cases paths
        {u"C:\\PROGRAM FILES\\MIXED CASE APP\\UNINST.EXE", kHere},
        {u"c:/program files/mixed case app/uninst.exe", kHere},
        {u"c:\\program files\\\u00f1and\u00fa.exe", kHere},           // non-ASCII, case folded
        {u"c:\\program files\\mixed case app\\", kHere},              // a folder, trailing backslash
        {u"c:\\program files\\mixed case app\\.\\..\\mixed case app\\uninst.exe", kHere},
        {u"c:\\", kHere},                                             // a drive root
        {u"c:\\program files\\mixed case app\\gone.exe", kGone},
        {u"c:\\missing folder\\uninst.exe", kGone},
        {u"c:\\program files\\mixed case app\\uninst.exe\\x", kGone},  // a file where a folder should be
        // Wine's own short names lead to the long ones, in any case.
        {app + u"\\uninst.exe", kHere},
        {LowerCase(app) + u"\\UNINST.EXE", kHere},
        {program_files + u"\\" + WineShortName(u"\u00f1and\u00fa.exe"), kHere},
        {app + u"\\gone.exe", kGone},
        // A short name nothing here makes may name a long one elsewhere.
        {u"c:\\progra~1\\mixedc~1\\uninst.exe", kUnknown, FileDoubt::ShortName},
        {u"c:\\program files\\mixed case app\\UNINST~1.EXE", kUnknown, FileDoubt::ShortName},
        {u"c:\\missing folder\\UNINST~1.EXE", kGone},
        // Only a drive the prefix has can say "not found".
        {u"d:\\anything.exe", kUnknown, FileDoubt::NoSuchDrive},      // no such drive
        {u"q:\\", kUnknown, FileDoubt::NoSuchDrive},                   // a drive whose target is gone
        {u"q:\\app\\uninst.exe", kUnknown, FileDoubt::NoSuchDrive},
        {u"c:\\program files\\*.exe", kUnknown, FileDoubt::Unreadable},  // wildcards name no one file
        // Only a path from a drive's root is looked up.
        {u"", kUnknown, FileDoubt::NotFullPath},
        {u"C:", kUnknown, FileDoubt::NotFullPath},
        {u"c:program files\\mixed case app\\uninst.exe", kUnknown, FileDoubt::NotFullPath},
        {u"\\program files\\mixed case app\\uninst.exe", kUnknown, FileDoubt::NotFullPath},
        {u"/usr", kUnknown, FileDoubt::NotFullPath},
        {u"\\\\server\\share\\x.exe", kUnknown, FileDoubt::NetworkPath},
        {u"notepad.exe", kUnknown, FileDoubt::NotFullPath},
        {u"1:\\x", kUnknown, FileDoubt::NotFullPath},
        {Text(u"c:\\program files\0x", 19), kUnknown, FileDoubt::NotFullPath},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(m_prefix.WindowsPathState(row.path), (FileAnswer{row.state, row.doubt})) << ToUtf8(row.path);
        // Mapping alone takes a drive-relative path from the drive's root.
        if (row.doubt != FileDoubt::NotFullPath) {
            EXPECT_EQ(Exists(m_prefix, row.path), row.state == kHere) << ToUtf8(row.path);
        }
    }
    EXPECT_EQ(m_prefix.MapWindowsPath(u"C:\\PROGRAM FILES\\MIXED CASE APP\\UNINST.EXE"),
              m_folder.path() / "dosdevices" / "c:" / "Program Files" / "Mixed Case App" / "UnInst.EXE");
    // The part after a missing component is kept as written.
    EXPECT_EQ(m_prefix.MapWindowsPath(u"c:\\nope\\A"), m_folder.path() / "dosdevices" / "c:" / "nope" / "A");
}

TEST_F(PathMapping, SeesFilesThatAppearOrGoAfterAnEarlierLookup) {
    // Listings of folders are reused between lookups; a change to the folder
    // must show at once, or Suggest would check a program that is there.
    const fs::path folder = m_folder.path() / "drive_c" / "Program Files";
    const Text path = u"c:\\program files\\late arrival\\setup.exe";
    EXPECT_FALSE(Exists(m_prefix, path));
    fs::create_directories(folder / "Late Arrival");
    test::WriteBytes(folder / "Late Arrival" / "Setup.exe", "MZ");
    EXPECT_TRUE(Exists(m_prefix, path));
    fs::rename(folder / "Late Arrival", folder / "Renamed");
    EXPECT_FALSE(Exists(m_prefix, path));
    EXPECT_TRUE(Exists(m_prefix, u"c:\\program files\\renamed\\setup.exe"));
}

// Wine takes drive_c for C: when the prefix has no dosdevices folder; every
// other letter then has no drive at all.
TEST(Prefix, WithoutDosdevicesDriveCIsDriveC) {
    test::TempFolder folder;
    fs::create_directories(folder.path() / "drive_c" / "App");
    test::WriteBytes(folder.path() / "drive_c" / "App" / "un.exe", "MZ");
    const Prefix prefix(folder.path());
    EXPECT_EQ(prefix.WindowsPathState(u"C:\\app\\UN.EXE").state, FileState::Exists);
    EXPECT_EQ(prefix.WindowsPathState(u"c:\\app\\gone.exe").state, FileState::Missing);
    EXPECT_EQ(prefix.WindowsPathState(u"z:\\usr").state, FileState::Unknown);
    EXPECT_EQ(prefix.MapWindowsPath(u"c:\\app\\un.exe"), folder.path() / "drive_c" / "App" / "un.exe");
}

TEST_F(PathMapping, AFolderThatCannotBeReadDecidesNothing) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    const fs::path locked = m_folder.path() / "drive_c" / "Locked";
    fs::create_directories(locked / "App");
    fs::permissions(locked, fs::perms::owner_write, fs::perm_options::replace);  // no search, no listing
    EXPECT_EQ(m_prefix.WindowsPathState(u"c:\\locked\\app\\un.exe"), (FileAnswer{FileState::Unknown, FileDoubt::AccessDenied}));
    fs::permissions(locked, fs::perms::owner_exec, fs::perm_options::replace);  // search, no listing
    EXPECT_EQ(m_prefix.WindowsPathState(u"c:\\locked\\APP"), (FileAnswer{FileState::Unknown, FileDoubt::AccessDenied}));
    EXPECT_EQ(m_prefix.WindowsPathState(u"c:\\locked\\App").state, FileState::Exists);
    fs::permissions(locked, fs::perms::owner_all, fs::perm_options::replace);
}

TEST_F(PathMapping, RelativePathsStartAtTheCurrentFolder) {
    const fs::path before = fs::current_path();
    fs::current_path(m_folder.path());
    EXPECT_TRUE(Exists(m_prefix, u"OTHER\\Rel.TXT"));
    EXPECT_TRUE(Exists(m_prefix, u"other"));
    EXPECT_FALSE(Exists(m_prefix, u"other\\none.txt"));
    fs::current_path(before);
}

TEST_F(PathMapping, ANewPrefixReadsFoldersAfreshWhateverAnotherOneRead) {
    // A folder that changes within one tick of the file system's clock keeps
    // its change time, so a listing read just before cannot tell. Such a
    // listing belongs to the prefix object that read it: a prefix made later
    // (another window, a test) starts from the disk. Setting the old change
    // time back stands in for the coarse clock.
    const fs::path folder = m_folder.path() / "drive_c" / "Program Files";
    const Text path = u"c:\\program files\\same tick\\setup.exe";
    struct stat before {};
    ASSERT_EQ(::stat(folder.c_str(), &before), 0);
    EXPECT_FALSE(Exists(m_prefix, path));
    fs::create_directories(folder / "Same Tick");
    test::WriteBytes(folder / "Same Tick" / "Setup.exe", "MZ");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), times, 0), 0);
    EXPECT_TRUE(Exists(Prefix(m_folder.path()), path));
}

TEST(Prefix, ARelativePathIsFixedWhenThePrefixIsMade) {
    test::TempFolder folder;
    fs::create_directories(folder.path() / "pfx" / "dosdevices");
    fs::create_directories(folder.path() / "pfx" / "drive_c" / "App");
    test::WriteBytes(folder.path() / "pfx" / "drive_c" / "App" / "a.exe", "MZ");
    fs::create_directory_symlink("../drive_c", folder.path() / "pfx" / "dosdevices" / "c:");
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    const Prefix prefix("pfx");
    fs::current_path("/");
    EXPECT_EQ(prefix.path(), folder.path() / "pfx");
    EXPECT_TRUE(Exists(prefix, u"C:\\app\\A.EXE")) << "the prefix moved with the current folder";
    fs::current_path(before);
}

TEST(Prefix, NoServerForAPrefixThatDoesNotExist) {
    EXPECT_FALSE(Prefix("/nonexistent-ssr-prefix").ServerRunning());
}

// What stands at a server's place, and whether the prefix counts as served.
// Each row is made in the folder where Debian's Wine keeps its server.
struct ServerPlace {
    const char* behaviour;
    std::function<void(const fs::path& lock)> make;  // the lock's folder exists
    bool running;
};
void PrintTo(const ServerPlace& c, std::ostream* os) { *os << c.behaviour; }

class ServerPlaces : public ::testing::TestWithParam<ServerPlace> {};

TEST_P(ServerPlaces, CountOnlyAServerOfOurOwn) {
    test::TempFolder prefix;
    test::TempFolder tmpdir;
    testing::FakeServer server(prefix.path(), tmpdir.path());
    fs::remove(server.lock());
    GetParam().make(server.lock());
    // A FIFO must not hang the probe: the answer comes at once, or the test times out.
    EXPECT_EQ(Prefix(prefix.path()).ServerRunning(), GetParam().running);
}

INSTANTIATE_TEST_SUITE_P(
    Locks, ServerPlaces,
    ::testing::Values(
        ServerPlace{"NoLockFile", [](const fs::path&) {}, false},
        ServerPlace{"UnheldLockOfOurs", [](const fs::path& lock) { test::WriteBytes(lock, ""); }, false},
        ServerPlace{"FifoAtTheLocksPlace", [](const fs::path& lock) { ::mkfifo(lock.c_str(), 0600); }, false},
        ServerPlace{"LinkToAFifo",
                    [](const fs::path& lock) {
                        ::mkfifo((lock.string() + ".fifo").c_str(), 0600);
                        fs::create_symlink(lock.string() + ".fifo", lock);
                    },
                    false},
        ServerPlace{"UnreadableLockOfSomeoneElse",
                    [](const fs::path& lock) {
                        test::WriteBytes(lock, "");
                        ::chmod(lock.c_str(), 0);
                        static_cast<void>(::chown(lock.c_str(), ::getuid() + 1, ::getgid()));
                    },
                    false},
        ServerPlace{"ServerFolderOfSomeoneElse",
                    [](const fs::path& lock) {
                        test::WriteBytes(lock, "");
                        static_cast<void>(::chown(lock.parent_path().c_str(), ::getuid() + 1, ::getgid()));
                    },
                    false}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(Prefix, AServerStartedWithAnotherTmpdirIsFoundByItsWorkingFolder) {
    test::TempFolder prefix;
    test::TempFolder tmpdir;
    testing::FakeServer server(prefix.path(), tmpdir.path());
    server.Start();
    const Prefix watched(prefix.path());
    EXPECT_TRUE(watched.ServerRunning());
    ::unsetenv("TMPDIR");  // our TMPDIR is not the server's
    EXPECT_TRUE(watched.ServerRunning());
    server.Stop();
    EXPECT_FALSE(watched.ServerRunning());
}

}  // namespace
}  // namespace ssr::wine
