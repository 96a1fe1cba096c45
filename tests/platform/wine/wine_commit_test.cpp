// One Remove click, one durable write per changed file: deletions are staged
// and committed together under the writers' lock, a crash at any step of the
// write leaves each file as it was or fully updated, a failed write keeps
// the rows of its own file only, each refusal keeps its own reason, no
// wineserver can load the old file while it is replaced, and two programs
// on one prefix lose no update.

#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <tuple>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "operations/operations.h"
#include "platform/entry_list.h"
#include "doubles/recording_skin_engine.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "platform/wine/backups/backups.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"
#include "support/fake_wineserver.h"

namespace ssr {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;
using test::k32;
using test::k64;

const Text kU = kUninstallKeyPath;
const std::string kMachineHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n";
const std::string kUserHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n";

std::string Entry(const std::string& section, const std::string& key) {
    return "\n" + section + "\\\\" + key + "] 1\n#time=1\n\"DisplayName\"=\"" + key + "\"\n\"UninstallString\"=\"c:\\\\" +
           key + "\\\\u.exe\"\n";
}

// A: a 64-bit record with a subtree, B and D: 32-bit, C: 64-bit, U and V: the user's.
const std::string kSub = "\n" + k64 + "\\\\A\\\\Sub] 1\n\"x\"=dword:00000001\n";
const std::string kSystem = kMachineHeader + Entry(k64, "A") + kSub + Entry(k32, "B") + Entry(k32, "D") + Entry(k64, "C");
const std::string kUser = kUserHeader + Entry(k64, "U") + Entry(k64, "V");
// After A and B of the machine and U of the user went. The sections run from
// their header to the next one, so the blank line before a cut stays.
const std::string kSystemAfter = kMachineHeader + Entry(k32, "D") + Entry(k64, "C");
const std::string kUserAfter = kUserHeader + Entry(k64, "V");

class Commit : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(SystemReg(), kSystem);
        WriteBytes(UserReg(), kUser);
    }
    [[nodiscard]] fs::path SystemReg() const { return m_folder.path() / "system.reg"; }
    [[nodiscard]] fs::path UserReg() const { return m_folder.path() / "user.reg"; }
    static void StageThree(Registry& registry) {
        ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\A", kKeyWow64_64Key), kErrorSuccess);
        ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\B", kKeyWow64_32Key), kErrorSuccess);
        ASSERT_EQ(registry.delete_tree(kHkeyCurrentUser, kU + u"\\U", 0), kErrorSuccess);
    }
    [[nodiscard]] std::vector<Text> Names(Registry& registry) const {
        EntryList list;
        ScriptedDesktop desktop;
        ListUninstallEntries(registry, list, desktop);
        std::vector<Text> names;
        for (int i = 1; i <= list.Count(); ++i) names.push_back(list.SubItem(i, 3));
        return names;
    }
    TempFolder m_folder;
    std::shared_ptr<const wine::Prefix> m_prefix = std::make_shared<const wine::Prefix>(m_folder.path());
};

TEST_F(Commit, StagedDeletionsAreGoneForReadingAndWrittenOnceEach) {
    std::vector<wine::WriteStep> steps;
    WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep step) { steps.push_back(step); return 0; });
    RegHandle a = 0;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, kU + u"\\A\\Sub", &a), kErrorSuccess);
    StageThree(registry);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystem) << "nothing is written before the commit";
    EXPECT_EQ(Names(registry), (std::vector<Text>{u"C", u"D", u"V"}));
    std::uint32_t size = 0;
    EXPECT_EQ(registry.query_value_ex(a, u"x", nullptr, nullptr, &size), kErrorKeyDeleted);
    EXPECT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\A\\Sub"), kErrorFileNotFound);
    ASSERT_EQ(test::Status(registry.commit()), kErrorSuccess);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystemAfter);
    EXPECT_EQ(ReadBytes(UserReg()), kUserAfter);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), wine::WriteStep::Rename), 2) << "one write per changed file";
    EXPECT_EQ(test::Status(registry.commit()), kErrorSuccess) << "nothing staged, nothing written";
    EXPECT_EQ(std::count(steps.begin(), steps.end(), wine::WriteStep::Rename), 2);
    // Staged after a commit, against the index moved onto the new bytes.
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\C"), kErrorSuccess);
    ASSERT_EQ(test::Status(registry.commit()), kErrorSuccess);
    EXPECT_TRUE(ReadBytes(SystemReg()).starts_with(kMachineHeader + Entry(k32, "D") + "\n" + k64 + "] "))
        << "an empty section keeps the uninstall key: " << ReadBytes(SystemReg());
}

// A writer killed before each step of the commit's two writes, in turn.
class KilledCommit : public Commit, public ::testing::WithParamInterface<int> {};

TEST_P(KilledCommit, LeavesEachFileAsItWasOrFullyUpdated) {
    const int kill_at = GetParam();
    const pid_t child = ::fork();
    if (child == 0) {
        int calls = 0;
        WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep) {
            if (calls++ == kill_at) ::_exit(0);
            return 0;
        });
        StageThree(registry);
        static_cast<void>(registry.commit());
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer never reached that step";
    // Seven steps per file, system.reg first; the rename is the sixth.
    const bool system_done = kill_at >= 6;
    const bool user_done = kill_at >= 13;
    EXPECT_EQ(ReadBytes(SystemReg()), system_done ? kSystemAfter : kSystem);
    EXPECT_EQ(ReadBytes(UserReg()), user_done ? kUserAfter : kUser);
    // The next writer finds the prefix whole, and takes any leftover away.
    WinePrefixRegistry registry(m_prefix);
    for (const auto& [root, key, view] : {std::tuple{kHkeyLocalMachine, u"\\A", kKeyWow64_64Key},
                                          std::tuple{kHkeyLocalMachine, u"\\B", kKeyWow64_32Key},
                                          std::tuple{kHkeyCurrentUser, u"\\U", 0U}}) {
        const long staged = registry.delete_tree(root, kU + key, view);
        EXPECT_TRUE(staged == kErrorSuccess || staged == kErrorFileNotFound) << staged;
    }
    ASSERT_EQ(test::Status(registry.commit()), kErrorSuccess);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystemAfter);
    EXPECT_EQ(ReadBytes(UserReg()), kUserAfter);
    wine::RemoveLeftovers(*m_prefix);  // the next start, for a writer killed after its last write
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_folder.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"system.reg", "user.reg"})) << "no leftover, no lock file";
}

INSTANTIATE_TEST_SUITE_P(EveryStep, KilledCommit, ::testing::Range(0, 14));

// The Remove click over the prefix store: when the click's write fails, no
// row leaves, every one stays checked, and one warning counts them all; the
// next click writes them.
TEST_F(Commit, RemoveKeepsEveryRowOfAClickWhoseWriteFailed) {
    bool fail = true;
    WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep step) {
        return fail && step == wine::WriteStep::Rename ? EIO : 0;
    });
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    ASSERT_EQ(list.Count(), 6);  // A C | B D | U V
    for (const int row : {1, 3, 5}) list.SetChecked(row, true);
    form.PushButton2_Click();
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].prompt, RemovalFailureMessage(3, {desktop.RegistryWriteAdvice(WriteFailure(kErrorWriteFault), kHkeyLocalMachine)}));
    ASSERT_EQ(list.Count(), 6);
    std::vector<bool> checked;
    for (int i = 1; i <= 6; ++i) checked.push_back(list.Checked(i));
    EXPECT_EQ(checked, (std::vector<bool>{true, false, true, false, true, false}));
    EXPECT_EQ(ReadBytes(SystemReg()), kSystem);
    EXPECT_EQ(ReadBytes(UserReg()), kUser);
    EXPECT_EQ(Names(registry), (std::vector<Text>{u"A", u"C", u"B", u"D", u"U", u"V"})) << "the keys are back for reading";

    fail = false;
    form.PushButton2_Click();
    EXPECT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystemAfter);
    EXPECT_EQ(ReadBytes(UserReg()), kUserAfter);
}

// A click whose write of one file fails: the other file's rows leave the
// list, the failed file's rows stay checked, and the disk says the same.
struct HalfCommit {
    const char* behaviour;
    int failing_write;            // 1: system.reg, written first; 2: user.reg
    std::vector<Text> rows_left;  // the list after the click
    RegHandle failed_root;
};
void PrintTo(const HalfCommit& c, std::ostream* os) { *os << c.behaviour; }

class HalfCommits : public Commit, public ::testing::WithParamInterface<HalfCommit> {};

TEST_P(HalfCommits, ShowWhatIsOnDisk) {
    const HalfCommit& c = GetParam();
    int writes = 0;
    WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep step) {
        if (step == wine::WriteStep::CreateTemporary) ++writes;
        return step == wine::WriteStep::WriteSecondHalf && writes == c.failing_write ? ENOSPC : 0;
    });
    ScriptedDesktop desktop;
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    EntryList& list = form.ListView1();
    ListUninstallEntries(registry, list, desktop);
    for (const int row : {1, 3, 5}) list.SetChecked(row, true);  // A, B and U
    form.PushButton2_Click();
    std::vector<Text> rows;
    for (int i = 1; i <= list.Count(); ++i) {
        rows.push_back(list.SubItem(i, 3));
        const bool stayed_checked = list.SubItem(i, 3) == u"A" || list.SubItem(i, 3) == u"B" || list.SubItem(i, 3) == u"U";
        EXPECT_EQ(list.Checked(i), stayed_checked) << ToUtf8(list.SubItem(i, 3));
    }
    EXPECT_EQ(rows, c.rows_left);
    ASSERT_EQ(desktop.boxes.size(), 1U);
    const int kept = c.failed_root == kHkeyCurrentUser ? 1 : 2;
    EXPECT_EQ(desktop.boxes[0].prompt,
              RemovalFailureMessage(kept, {desktop.RegistryWriteAdvice(WriteFailure(kErrorDiskFull), c.failed_root)}));
    const bool system_written = c.failed_root != kHkeyLocalMachine;
    EXPECT_EQ(ReadBytes(SystemReg()), system_written ? kSystemAfter : kSystem);
    EXPECT_EQ(ReadBytes(UserReg()), system_written ? kUser : kUserAfter);
    WinePrefixRegistry fresh(m_prefix);
    EXPECT_EQ(Names(fresh), c.rows_left) << "a fresh read lists the same rows";
}

INSTANTIATE_TEST_SUITE_P(
    OneFileFails, HalfCommits,
    ::testing::Values(HalfCommit{"UserFileFailsSystemFileWritten", 2, {u"C", u"D", u"U", u"V"}, kHkeyCurrentUser},
                      HalfCommit{"SystemFileFailsUserFileWritten", 1, {u"A", u"C", u"B", u"D", u"V"}, kHkeyLocalMachine}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// Another process holding a flock on `path` until the object goes.
class HeldFlock {
public:
    explicit HeldFlock(const fs::path& path) {
        int ready[2];
        if (::pipe(ready) != 0) return;
        m_child = ::fork();
        if (m_child == 0) {
            const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
            const char ok = ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
            static_cast<void>(::write(ready[1], &ok, 1));
            ::pause();
            ::_exit(0);
        }
        char ok = 0;
        static_cast<void>(::read(ready[0], &ok, 1));
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~HeldFlock() {
        ::kill(m_child, SIGKILL);
        ::waitpid(m_child, nullptr, 0);
    }
    HeldFlock(const HeldFlock&) = delete;
    HeldFlock& operator=(const HeldFlock&) = delete;

private:
    pid_t m_child = -1;
};

// One row per reason a removal is refused: the reason reaches the warning
// as the store found it, naming the file it concerns.
struct Refusal {
    const char* behaviour;
    // Sets the prefix up; what it returns stays in place during the removal.
    std::function<std::shared_ptr<void>(const fs::path& prefix)> arrange;
    int fault;  // errno of every write of a file, or 0
    WriteFailureKind kind;
    std::string file;  // the file named, relative to the prefix; empty: the prefix itself
    Text system_text;
};
void PrintTo(const Refusal& c, std::ostream* os) { *os << c.behaviour; }

class Refusals : public Commit, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refusals, KeepTheirOwnReason) {
    const Refusal& c = GetParam();
    const std::shared_ptr<void> arranged = c.arrange(m_folder.path());
    WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep step) {
        return step == wine::WriteStep::WriteFirstHalf ? c.fault : 0;
    });
    WriteFailure failure;
    const long staged = registry.delete_tree(kHkeyLocalMachine, kU + u"\\A", kKeyWow64_64Key);
    if (staged != kErrorSuccess) {
        failure = registry.failure_detail(staged);
    } else {
        const CommitResult committed = registry.commit();
        ASSERT_FALSE(committed.ok());
        ASSERT_NE(committed.FailureOf(kHkeyLocalMachine), nullptr);
        failure = *committed.FailureOf(kHkeyLocalMachine);
    }
    EXPECT_EQ(failure.kind, c.kind);
    const fs::path file = c.file.empty() ? m_folder.path() : m_folder.path() / c.file;
    EXPECT_EQ(failure.file, FromUtf8(file.string()));
    EXPECT_EQ(failure.system_text, c.system_text);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystem);
}

std::shared_ptr<void> Nothing(const fs::path&) { return nullptr; }

INSTANTIATE_TEST_SUITE_P(
    Reasons, Refusals,
    ::testing::Values(
        Refusal{"AnotherCopyIsWriting",
                [](const fs::path& prefix) { return std::make_shared<HeldFlock>(prefix / ".registry-writers.lock"); }, 0,
                WriteFailureKind::OtherWriter, "", u""},
        Refusal{"LockFileIsAFifo",
                [](const fs::path& prefix) {
                    ::mkfifo((prefix / ".registry-writers.lock").c_str(), 0600);
                    return std::shared_ptr<void>();
                },
                0, WriteFailureKind::LockNotOurs, ".registry-writers.lock", u""},
        Refusal{"LockFileIsALink",
                [](const fs::path& prefix) {
                    fs::create_symlink(prefix / "elsewhere", prefix / ".registry-writers.lock");
                    return std::shared_ptr<void>();
                },
                0, WriteFailureKind::LockNotOurs, ".registry-writers.lock", u""},
        Refusal{"ServerRunning",
                [](const fs::path& prefix) {
                    auto tmpdir = std::make_shared<TempFolder>("tmpdir");
                    auto server = std::make_shared<testing::FakeServer>(prefix, tmpdir->path());
                    server->Start();
                    return std::shared_ptr<void>(std::make_shared<std::pair<std::shared_ptr<TempFolder>,
                                                                            std::shared_ptr<testing::FakeServer>>>(
                        tmpdir, server));
                },
                0, WriteFailureKind::ServerRunning, "", u""},
        Refusal{"ReadOnlyFile",
                [](const fs::path& prefix) {
                    ::chmod((prefix / "system.reg").c_str(), 0444);
                    return std::shared_ptr<void>();
                },
                0, WriteFailureKind::ReadOnly, "system.reg", u""},
        Refusal{"DiskFull", Nothing, ENOSPC, WriteFailureKind::DiskFull, "system.reg", u""},
        Refusal{"OtherWriteFailureInTheSystemsWords", Nothing, EIO, WriteFailureKind::System, "system.reg",
                u"Input/output error"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// A real wineserver started for the prefix while system.reg is about to be
// replaced (the rename held back): it must not load the old file and write
// it back later while the removal is reported done.
struct ServerRace {
    const char* behaviour;
    bool served_before;  // the prefix had a server once, so its server folder is known
};
void PrintTo(const ServerRace& c, std::ostream* os) { *os << c.behaviour; }

class ServerRaces : public Commit, public ::testing::WithParamInterface<ServerRace> {
protected:
    [[nodiscard]] std::string Env() const {
        return "WINEDEBUG=-all WINEPREFIX='" + m_folder.path().string() + "' ";
    }
    // Gone for good before the next case: its prefix folder may get this
    // one's inode, and with it the same server folder name.
    void TearDown() override { test::Shell(Env() + "wineserver -k; " + Env() + "wineserver -w"); }
};

TEST_P(ServerRaces, NoServerLoadsTheOldFileOfARemovalReportedDone) {
    if (test::Shell("command -v wineserver").empty()) GTEST_SKIP() << "Wine is not installed";
    if (GetParam().served_before) {
        test::Shell(Env() + "wineserver -p30 && " + Env() + "wineserver -k");
        ASSERT_FALSE(m_prefix->ServerRunning());
    }
    int started = -1;
    WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep step) {
        if (step == wine::WriteStep::Rename && started < 0) test::Shell(Env() + "wineserver -p30", &started);
        return 0;
    });
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\A", kKeyWow64_64Key), kErrorSuccess);
    const CommitResult committed = registry.commit();
    if (GetParam().served_before) {
        EXPECT_EQ(started, 2) << "wineserver gives up while another holds its lock";
    }
    if (started == 0 && !committed.ok()) {
        // A server that Wine put in a folder nobody knew of, seen at work
        // there, may have read the old file.
        EXPECT_EQ(committed.FailureOf(kHkeyLocalMachine)->kind, WriteFailureKind::ServerRunning);
    } else if (started != 0) {
        EXPECT_TRUE(committed.ok());
        EXPECT_FALSE(m_prefix->ServerRunning());
    }
    // A server caught before it went to work (still on its way to its
    // folder) loads the new file: the removal was rightly reported done,
    // and the server, stopped, writes the file without the record.
    test::Shell(Env() + "wineserver -k; " + Env() + "wineserver -w");
    const auto file = wine::RegFile::Parse(ReadBytes(SystemReg()));
    ASSERT_TRUE(file);
    if (committed.ok()) {
        EXPECT_EQ(file->Find(file->root(), kU + u"\\A"), nullptr) << "a removal reported done is on disk after the server has gone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealServer, ServerRaces,
    ::testing::Values(ServerRace{"PrefixServedBefore", true}, ServerRace{"PrefixNeverServed", false}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// Two programs remove disjoint records of one 3,000-record hive at the same
// moment, round after round: every removal reported is on disk, and no other
// record is lost. 30 rounds keep the suite short (about 3 s);
// SSR_STORE_ROUNDS=100 or more runs the longer check.
TEST(TwoWriters, LoseNoUpdate) {
    const char* env = std::getenv("SSR_STORE_ROUNDS");
    const int rounds = env && *env ? std::atoi(env) : 30;
    constexpr int kRecords = 3000;
    std::string hive = kMachineHeader;
    for (int i = 0; i < kRecords; ++i) hive += Entry(k64, "R" + std::to_string(i));
    TempFolder folder;
    const fs::path system = folder.path() / "system.reg";
    for (int round = 0; round < rounds; ++round) {
        WriteBytes(system, hive);
        int ready[2];
        int go[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(go), 0);
        pid_t children[2];
        for (int k = 0; k < 2; ++k) {
            children[k] = ::fork();
            if (children[k] == 0) {
                WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(folder.path()));
                // Each takes every third record, offset by its number; the third third stays.
                for (int i = k; i < kRecords; i += 3)
                    if (registry.delete_tree(kHkeyLocalMachine, kU + u"\\R" + FromUtf8(std::to_string(i))) != kErrorSuccess)
                        ::_exit(2);
                char c = 0;
                if (::write(ready[1], &c, 1) != 1 || ::read(go[0], &c, 1) != 1) ::_exit(3);
                ::_exit(test::Status(registry.commit()) == kErrorSuccess ? 0 : 1);
            }
        }
        char c = 0;
        for (int k = 0; k < 2; ++k) ASSERT_EQ(::read(ready[0], &c, 1), 1);
        ASSERT_EQ(::write(go[1], "gg", 2), 2);
        bool reported[2];
        for (int k = 0; k < 2; ++k) {
            int status = 0;
            ASSERT_EQ(::waitpid(children[k], &status, 0), children[k]);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << "round " << round;
            reported[k] = WEXITSTATUS(status) == 0;
        }
        for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
        const auto file = wine::RegFile::Parse(ReadBytes(system));
        ASSERT_TRUE(file) << "round " << round;
        int wrong = 0;
        for (int i = 0; i < kRecords; ++i) {
            const bool present = file->Find(file->root(), kU + u"\\R" + FromUtf8(std::to_string(i))) != nullptr;
            const bool removed = i % 3 < 2 && reported[i % 3];
            wrong += present == removed;
        }
        ASSERT_EQ(wrong, 0) << "round " << round << ": records in the wrong state";
        EXPECT_TRUE(reported[0] && reported[1]) << "round " << round << ": the second writer waits for the first";
    }
}

}  // namespace
}  // namespace ssr
