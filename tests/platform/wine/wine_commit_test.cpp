// One Remove click, one durable write per changed file: deletions are staged
// and committed together under the writers' lock, a crash at any step of the
// write leaves each file as it was or fully updated, a failed write keeps
// every row of the click, and two programs on one prefix lose no update.

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "operations/operations.h"
#include "platform/entry_list.h"
#include "doubles/recording_skin_engine.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/reg_file.h"
#include "platform/wine/wine_prefix.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

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
    ASSERT_EQ(registry.commit(), kErrorSuccess);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystemAfter);
    EXPECT_EQ(ReadBytes(UserReg()), kUserAfter);
    EXPECT_EQ(std::count(steps.begin(), steps.end(), wine::WriteStep::Rename), 2) << "one write per changed file";
    EXPECT_EQ(registry.commit(), kErrorSuccess) << "nothing staged, nothing written";
    EXPECT_EQ(std::count(steps.begin(), steps.end(), wine::WriteStep::Rename), 2);
    // Staged after a commit, against the index moved onto the new bytes.
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\C"), kErrorSuccess);
    ASSERT_EQ(registry.commit(), kErrorSuccess);
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
    ASSERT_EQ(registry.commit(), kErrorSuccess);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystemAfter);
    EXPECT_EQ(ReadBytes(UserReg()), kUserAfter);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_folder.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".registry-writers.lock", "system.reg", "user.reg"}));
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
    EXPECT_EQ(desktop.boxes[0].prompt, RemovalFailureMessage(3, {desktop.RegistryWriteAdvice(kErrorWriteFault, kHkeyLocalMachine)}));
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
                ::_exit(registry.commit() == kErrorSuccess ? 0 : 1);
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
