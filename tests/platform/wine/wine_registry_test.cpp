// The prefix store through the registry interface: results as the Windows
// calls give them, deletions that never leave a damaged or stale file, and
// the refusal to write under a running wineserver.

#include "platform/wine/wine_registry.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>

#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/reg_export.h"
#include "platform/entry_list.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/posix/posix_file.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "prefix_files.h"
#include "rewrite_check.h"
#include "support/fake_wineserver.h"

namespace ssr {
namespace {

namespace fs = std::filesystem;
using test::kHeader;
using test::DeleteNow;
using test::ReadBytes;
using test::TempFolder;
using test::WideBytes;
using test::WriteBytes;
using testing::FakeServer;

const Text kU = kUninstallKeyPath;
const std::string kUSection = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";

std::string Entry(const std::string& key, const std::string& name, const std::string& command) {
    return "\n" + kUSection + "\\\\" + key + "] 1\n#time=1\n\"DisplayName\"=\"" + name + "\"\n\"UninstallString\"=\"" +
           command + "\"\n";
}

const std::string kHive = kHeader + "\n[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n" +
                          Entry("Alpha", "Alpha 1.0", "C:\\\\Program Files\\\\Alpha\\\\uninst.exe") +
                          "\n" + kUSection + "\\\\Alpha\\\\Sub] 1\n\"x\"=dword:00000001\n" +
                          Entry("Beta", "Beta", "MsiExec.exe /X{1}") + Entry("Gamma", "Gamma", "rundll32 c:\\\\g.dll");

class PrefixStore : public ::testing::Test {
protected:
    void SetUp() override { WriteBytes(SystemReg(), kHive); }
    [[nodiscard]] fs::path SystemReg() const { return m_folder.path() / "system.reg"; }
    [[nodiscard]] std::vector<Text> Subkeys(Registry& registry, TextView path) {
        RegHandle key = 0;
        std::vector<Text> names;
        if (registry.open_key_ex(kHkeyLocalMachine, path, 0, kKeyEnumerateSubKeys, &key) != kErrorSuccess) return names;
        for (std::uint32_t i = 0;; ++i) {
            char16_t name[256];
            std::uint32_t length = 256;
            if (registry.enum_key_ex(key, i, name, &length, nullptr, nullptr) != kErrorSuccess) break;
            names.emplace_back(name, length);
        }
        static_cast<void>(registry.close_key(key));
        return names;
    }
    TempFolder m_folder;
    std::shared_ptr<const wine::Prefix> m_prefix = std::make_shared<const wine::Prefix>(m_folder.path());
};

TEST_F(PrefixStore, AnswersLikeTheWideRegistryCalls) {
    WinePrefixRegistry registry(m_prefix);
    EXPECT_EQ(Subkeys(registry, kU), (std::vector<Text>{u"Alpha", u"Beta", u"Gamma"}));
    RegHandle key = 0;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, kU + u"\\alpha", &key), kErrorSuccess);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(registry.query_value_ex(key, u"displayname", &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 20U) << "nine characters and the terminator, in UTF-16";
    std::vector<std::uint8_t> data(size - 1);
    std::uint32_t small = size - 1;
    EXPECT_EQ(registry.query_value_ex(key, u"DisplayName", &type, data.data(), &small), kErrorMoreData);
    EXPECT_EQ(small, size);
    data.resize(size);
    ASSERT_EQ(registry.query_value_ex(key, u"DisplayName", &type, data.data(), &size), kErrorSuccess);
    EXPECT_EQ(data, WideBytes(u"Alpha 1.0"));
    EXPECT_EQ(registry.query_value_ex(key, u"Missing", &type, nullptr, &size), kErrorFileNotFound);
    EXPECT_EQ(registry.query_value_ex(kHkeyLocalMachine, u"x", &type, nullptr, &size), kErrorInvalidHandle);
    EXPECT_EQ(registry.close_key(key), kErrorSuccess);
    EXPECT_EQ(registry.close_key(key), kErrorInvalidHandle);
    EXPECT_EQ(registry.close_key(0), kErrorInvalidHandle);
    EXPECT_EQ(registry.open_key(kHkeyLocalMachine, kU + u"\\Nope", &key), kErrorFileNotFound);
    EXPECT_EQ(key, 0U);
    // Implied keys exist without a section of their own.
    EXPECT_EQ(registry.open_key(kHkeyLocalMachine, u"Software\\Microsoft", &key), kErrorSuccess);

    char16_t name[6];
    std::uint32_t length = 5;  // "Alpha" does not fit with its terminator
    RegHandle uninstall = 0;
    ASSERT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &uninstall), kErrorSuccess);
    EXPECT_EQ(registry.enum_key_ex(uninstall, 0, name, &length, nullptr, nullptr), kErrorMoreData);
    length = 6;
    EXPECT_EQ(registry.enum_key_ex(uninstall, 0, name, &length, nullptr, nullptr), kErrorSuccess);
    EXPECT_EQ(length, 5U);
    EXPECT_EQ(registry.enum_key_ex(uninstall, 3, name, &length, nullptr, nullptr), kErrorNoMoreItems);
}

TEST_F(PrefixStore, ListsEntriesThroughTheCoresListing) {
    WinePrefixRegistry registry(m_prefix);
    EntryList list;
    ScriptedDesktop desktop;
    ListUninstallEntries(registry, list, desktop);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.ItemText(1), u"Alpha 1.0");
    EXPECT_EQ(list.SubItem(1, 2), u"c:\\program files\\alpha\\uninst.exe");
    EXPECT_EQ(list.SubItem(3, 3), u"Gamma");
    EXPECT_TRUE(desktop.boxes.empty());
}

// Many records: every row as the records say, also after a deletion that
// reads the hive again, as someone else changed it meanwhile, and a listing
// after it.
TEST_F(PrefixStore, ListsManyRecordsAgainAfterADeletionMeanwhile) {
    std::string hive = kHeader;
    const std::string comments = "\"Comments\"=\"" + std::string(2200, 'c') + "\"\n";
    for (int i = 0; i < 2000; ++i) {
        const std::string n = std::to_string(10000 + i);
        hive += Entry("App" + n, "App " + n, "C:\\\\Apps\\\\" + n + "\\\\uninst.exe") + comments;
    }
    ASSERT_GT(hive.size(), std::size_t{4} << 20);
    WriteBytes(SystemReg(), hive);
    WinePrefixRegistry registry(m_prefix);
    ScriptedDesktop desktop;
    const auto check = [&](int removed) {
        EntryList list;
        ListUninstallEntries(registry, list, desktop);
        ASSERT_EQ(list.Count(), 2000 - removed);
        for (int row = 1; row <= list.Count(); ++row) {
            const int i = row - 1 + (removed && row > 1000 ? 1 : 0);
            const std::string n = std::to_string(10000 + i);
            EXPECT_EQ(list.ItemText(row), FromUtf8("App " + n));
            EXPECT_EQ(list.SubItem(row, 2), FromUtf8("c:\\apps\\" + n + "\\uninst.exe"));
        }
    };
    check(0);
    hive += "\n[Software\\\\Outside] 1\n";
    WriteBytes(SystemReg(), hive);
    RegHandle key = 0;
    ASSERT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyRead, &key), kErrorSuccess);
    ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\App11000"), kErrorSuccess);
    EXPECT_NE(ReadBytes(SystemReg()).find("[Software\\\\Outside]"), std::string::npos);
    static_cast<void>(registry.close_key(key));
    check(1);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(PrefixStore, DeletesTheSubtreeAndKeepsEveryOtherByte) {
    WinePrefixRegistry registry(m_prefix);
    ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\ALPHA"), kErrorSuccess);
    const std::string expected = kHeader + "\n[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n" +
                                 Entry("Beta", "Beta", "MsiExec.exe /X{1}") +
                                 Entry("Gamma", "Gamma", "rundll32 c:\\\\g.dll");
    EXPECT_EQ(ReadBytes(SystemReg()), expected);
    EXPECT_EQ(Subkeys(registry, kU), (std::vector<Text>{u"Beta", u"Gamma"}));
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorFileNotFound);
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha\\Sub"), kErrorFileNotFound);
    EXPECT_EQ(ReadBytes(SystemReg()), expected);
}

TEST_F(PrefixStore, KeepsTheFilesModeAndLeavesNoTemporaryFiles) {
    ASSERT_EQ(::chmod(SystemReg().c_str(), 0640), 0);
    WinePrefixRegistry registry(m_prefix);
    ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"), kErrorSuccess);
    struct stat st {};
    ASSERT_EQ(::stat(SystemReg().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640U);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 1)
        << "system.reg alone: the writers' lock file goes with the lock";
}

// Every writer holds the writers' lock from reading to the rename, so a
// temporary file found while holding it has no living writer: it goes at
// once, however recent. Files of other names, and a temporary file of a
// writer that still holds the lock, stay.
TEST_F(PrefixStore, LeftoverTemporaryFilesGoAtTheNextWrite) {
    const fs::path old_one = m_folder.path() / ".system.reg.new-AbCdEf";
    const fs::path recent = m_folder.path() / ".system.reg.new-GhIjKl";
    const fs::path user_one = m_folder.path() / ".user.reg.new-MnOpQr";
    const fs::path other = m_folder.path() / ".system.reg.keep";
    for (const auto& p : {old_one, recent, user_one, other}) WriteBytes(p, "partial");
    const struct timespec hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, old_one.c_str(), hour_ago, 0), 0);
    {
        // A writer at work: the lock is held, so nothing is written and its file stays.
        wine::WriterLock busy;
        ASSERT_EQ(busy.Acquire(m_folder.path() / ".registry-writers.lock", std::chrono::milliseconds(0)),
                  wine::IoError::None);
        WinePrefixRegistry registry(m_prefix);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"), kErrorSharingViolation);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "waits a bounded time";
        EXPECT_TRUE(fs::exists(recent));
        EXPECT_EQ(Subkeys(registry, kU).size(), 3U) << "the refused deletion is undone";
    }
    EXPECT_EQ(ReadBytes(SystemReg()), kHive);
    WinePrefixRegistry registry(m_prefix);
    ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"), kErrorSuccess);
    EXPECT_FALSE(fs::exists(old_one));
    EXPECT_FALSE(fs::exists(recent));
    EXPECT_TRUE(fs::exists(user_one)) << "user.reg was not written";
    EXPECT_TRUE(fs::exists(other));
}

// The lock file is one of our own regular files, never followed elsewhere.
TEST_F(PrefixStore, RefusesALockFileThatIsNotOurs) {
    const fs::path lock = m_folder.path() / ".registry-writers.lock";
    struct Case {
        const char* label;
        std::function<void()> plant;
    };
    const std::vector<Case> cases = {
        {"link", [&] { fs::create_symlink(m_folder.path() / "elsewhere", lock); }},
        {"folder", [&] { fs::create_directory(lock); }},
        {"fifo", [&] { ::mkfifo(lock.c_str(), 0600); }},
    };
    for (const Case& c : cases) {
        c.plant();
        WinePrefixRegistry registry(m_prefix);
        EXPECT_NE(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"), kErrorSuccess) << c.label;
        EXPECT_EQ(ReadBytes(SystemReg()), kHive) << c.label;
        EXPECT_FALSE(fs::exists(m_folder.path() / "elsewhere")) << c.label;
        fs::remove(lock);
    }
}

TEST_F(PrefixStore, EmptyParentSectionKeepsTheUninstallKey) {
    const std::string one = kHeader + "\n[Software\\\\Other] 1\n" + Entry("Only", "Only", "x.exe");
    WriteBytes(SystemReg(), one);
    WinePrefixRegistry registry(m_prefix);
    ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Only"), kErrorSuccess);
    const std::string after = ReadBytes(SystemReg());
    EXPECT_TRUE(after.starts_with(kHeader + "\n[Software\\\\Other] 1\n\n" + kUSection + "] ")) << after;
    RegHandle key = 0;
    EXPECT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &key), kErrorSuccess);
    WinePrefixRegistry reread(m_prefix);
    EXPECT_EQ(reread.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &key), kErrorSuccess);
    EXPECT_TRUE(Subkeys(reread, kU).empty());
}

TEST_F(PrefixStore, NeverDeletesTheUninstallKeyItsAncestorsOrTheRoot) {
    WinePrefixRegistry registry(m_prefix);
    for (const Text& path : {kU, kU + u"\\", Text(u"Software\\Microsoft"), Text(u"SOFTWARE"), Text(u""), Text(u"\\")})
        EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, path), kErrorAccessDenied) << ToUtf8(path);
    RegHandle software = 0;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, u"Software", &software), kErrorSuccess);
    EXPECT_EQ(DeleteNow(registry, software, u"Microsoft\\Windows"), kErrorAccessDenied);
    EXPECT_EQ(DeleteNow(registry, software, u"Classes"), kErrorSuccess) << "relative to an open key";
    EXPECT_EQ(DeleteNow(registry, 0x1234, u"x"), kErrorInvalidHandle);
}

TEST_F(PrefixStore, OpenHandlesFollowDeletionsAndFreshReads) {
    WinePrefixRegistry registry(m_prefix);
    RegHandle uninstall = 0;
    RegHandle beta = 0;
    RegHandle gamma = 0;
    ASSERT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &uninstall), kErrorSuccess);
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, kU + u"\\Beta", &beta), kErrorSuccess);
    ASSERT_EQ(registry.open_key(uninstall, u"Gamma", &gamma), kErrorSuccess);
    ASSERT_EQ(DeleteNow(registry, uninstall, u"Beta"), kErrorSuccess);
    std::uint32_t size = 0;
    EXPECT_EQ(registry.query_value_ex(beta, u"DisplayName", nullptr, nullptr, &size), kErrorKeyDeleted);
    EXPECT_EQ(registry.query_value_ex(gamma, u"DisplayName", nullptr, nullptr, &size), kErrorSuccess);
    char16_t name[256];
    std::uint32_t length = 256;
    ASSERT_EQ(registry.enum_key_ex(uninstall, 1, name, &length, nullptr, nullptr), kErrorSuccess);
    EXPECT_EQ(Text(name, length), u"Gamma");
    EXPECT_EQ(registry.close_key(beta), kErrorSuccess);

    // Someone else removes Gamma from the file; our next deletion reads the
    // file afresh, and the handle to Gamma learns that it is gone.
    std::string text = ReadBytes(SystemReg());
    text = text.substr(0, text.find("\n" + kUSection + "\\\\Gamma]") + 1);
    WriteBytes(SystemReg(), text + "\n[Added] 1\n");
    ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSuccess);
    EXPECT_EQ(registry.query_value_ex(gamma, u"DisplayName", nullptr, nullptr, &size), kErrorKeyDeleted);
    EXPECT_NE(ReadBytes(SystemReg()).find("[Added] 1"), std::string::npos) << "a stale copy was written";
    RegHandle added = 0;
    EXPECT_EQ(registry.open_key(kHkeyLocalMachine, u"added", &added), kErrorSuccess);
}

TEST_F(PrefixStore, StaleFileIsReadAgainBeforeDeleting) {
    {
        WriteBytes(SystemReg(), kHive);
        WinePrefixRegistry registry(m_prefix);
        EXPECT_EQ(Subkeys(registry, kU).size(), 3U);
        // Wine ran meanwhile and added an entry; the file is replaced as wineserver does it.
        const std::string fresh = kHive + Entry("Delta", "Delta", "d.exe");
        WriteBytes(m_folder.path() / "next.reg", fresh);
        fs::rename(m_folder.path() / "next.reg", SystemReg());
        ASSERT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Gamma"), kErrorSuccess);
        const std::string after = ReadBytes(SystemReg());
        EXPECT_NE(after.find("Delta"), std::string::npos);
        EXPECT_EQ(after.find("Gamma"), std::string::npos);
        EXPECT_EQ(Subkeys(registry, kU), (std::vector<Text>{u"Alpha", u"Beta", u"Delta"}));
    }
}

TEST_F(PrefixStore, StoreThatCannotBeReadListsNothingAndWritesNothing) {
    struct Case {
        const char* label;
        std::function<void(const fs::path&)> spoil;
        long open_result;
    };
    const std::vector<Case> cases = {
        {"wrong first line", [](const fs::path& p) { WriteBytes(p / "system.reg", "WINE REGISTRY Version 1\n" + kHive.substr(24)); }, kErrorBadDbFormat},
        {"empty file", [](const fs::path& p) { WriteBytes(p / "system.reg", ""); }, kErrorBadDbFormat},
        {"folder in its place", [](const fs::path& p) { fs::remove(p / "system.reg"); fs::create_directory(p / "system.reg"); }, kErrorBadDbFormat},
        {"no system.reg", [](const fs::path& p) { fs::remove(p / "system.reg"); }, kErrorFileNotFound},
        {"no prefix", [](const fs::path& p) { fs::remove_all(p); }, kErrorFileNotFound},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        const fs::path prefix = folder.path() / "prefix";
        fs::create_directory(prefix);
        WriteBytes(prefix / "system.reg", kHive);
        c.spoil(prefix);
        const bool had_file = fs::is_regular_file(prefix / "system.reg");
        const std::string before = had_file ? ReadBytes(prefix / "system.reg") : "";
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(prefix));
        EntryList list;
        ScriptedDesktop desktop;
        ListUninstallEntries(registry, list, desktop);
        EXPECT_EQ(list.Count(), 0) << c.label;
        RegHandle key = 0;
        EXPECT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &key), c.open_result) << c.label;
        EXPECT_NE(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSuccess) << c.label;
        EXPECT_EQ(fs::is_regular_file(prefix / "system.reg"), had_file) << c.label;
        if (had_file) {
            EXPECT_EQ(ReadBytes(prefix / "system.reg"), before) << c.label;
        }
    }
}

TEST_F(PrefixStore, UnreadableFileFailsWithAccessDenied) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
    ASSERT_EQ(::chmod(SystemReg().c_str(), 0), 0);
    WinePrefixRegistry registry(m_prefix);
    RegHandle key = 0;
    EXPECT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &key), kErrorAccessDenied);
}

// Nothing another user (or a mistake) puts in a hive's place holds the
// program: a FIFO, or a link to one, is refused at once and never opened
// for writing.
TEST_F(PrefixStore, AFifoInAHivesPlaceIsRefusedWithoutWaiting) {
    const fs::path fifo = m_folder.path() / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool through_link : {false, true}) {
        fs::remove(SystemReg());
        if (through_link) fs::create_symlink(fifo, SystemReg());
        else ASSERT_EQ(::mkfifo(SystemReg().c_str(), 0600), 0);
        WinePrefixRegistry registry(m_prefix);
        RegHandle key = 0;
        EXPECT_EQ(registry.open_key_ex(kHkeyLocalMachine, kU, 0, kKeyEnumerateSubKeys, &key), kErrorBadDbFormat)
            << (through_link ? "link to a FIFO" : "FIFO");
        EXPECT_NE(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSuccess);
    }
}

TEST_F(PrefixStore, ReadOnlyFileIsLeftAlone) {
    ASSERT_EQ(::chmod(SystemReg().c_str(), 0444), 0);
    WinePrefixRegistry registry(m_prefix);
    EXPECT_EQ(Subkeys(registry, kU).size(), 3U);
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorAccessDenied);
    EXPECT_EQ(ReadBytes(SystemReg()), kHive);
}

// Files wineserver may read otherwise than we do are listed, never written.
TEST_F(PrefixStore, AHiveWithANulByteIsListedButNeverWritten) {
    const std::string link = "\n[Software\\\\Link] 1\n#link\n\"SymbolicLinkValue\"=hex(6):5c,00\n";
    const std::pair<const char*, std::string> damaged[] = {
        // Zero-filled blocks after a crash: a NUL inside a long line.
        {"NUL byte", kHive + "[Software\\\\Zeroes] 1\n\"v\"=\"" + std::string(5000, 'a') + std::string(3, '\0') +
                         "\"\n[Software\\\\Other] 1\n"},
        // wineserver files these under the link's target (or drops them).
        {"section below a link", kHive + link + "\n[Software\\\\Link\\\\Child] 1\n\"v\"=\"1\"\n"},
        {"second section of a link", kHive + link + "\n[Software\\\\Link] 1\n\"v\"=\"1\"\n"},
    };
    for (const auto& [label, bytes] : damaged) {
        WriteBytes(SystemReg(), bytes);
        WinePrefixRegistry registry(m_prefix);
        EXPECT_EQ(Subkeys(registry, kU), (std::vector<Text>{u"Alpha", u"Beta", u"Gamma"})) << label;
        EXPECT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\Alpha"), kErrorBadDbFormat) << label;
        EXPECT_EQ(test::Status(registry.commit()), kErrorSuccess) << "nothing was staged";
        EXPECT_TRUE(ReadBytes(SystemReg()) == bytes) << label;
    }
    WriteBytes(SystemReg(), kHive + link);
    WinePrefixRegistry registry(m_prefix);
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSuccess) << "a link alone is no obstacle";
}

// --- Registry links, as wineserver keeps them ---------------------------------------

// A link key's section: "#link" and its target, an NT path, as hex(6).
std::string LinkSection(const std::string& path, const std::u16string& target) {
    std::string hex;
    for (const char16_t unit : target) {
        char bytes[8];
        std::snprintf(bytes, sizeof bytes, "%02x,%02x,", unit & 0xff, unit >> 8);
        hex += bytes;
    }
    if (!hex.empty()) hex.pop_back();
    return "\n[" + path + "] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n";
}
std::string Record(const std::string& name) { return kUSection.substr(1) + "\\\\" + name; }

const std::u16string kMachineNt = u"\\Registry\\Machine\\";
const std::string kTargets = "\n[Software\\\\Target] 1\n\"DisplayName\"=\"Target\"\n\"UninstallString\"=\"t.exe\"\n"
                             "\n[Software\\\\Target\\\\Deep] 1\n\"DisplayName\"=\"Deep\"\n";
const std::string kUserHive = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                              "#arch=win64\n\n[Software\\\\Mine] 1\n\"DisplayName\"=\"Mine\"\n";

// `links` links in a row from the record "Chain" to Software\Target.
std::string Chain(int links) {
    std::string sections = LinkSection(Record("Chain"), kMachineNt + u"Software\\Hop\\1");
    for (int i = 1; i < links; ++i)
        sections += LinkSection("Software\\\\Hop\\\\" + std::to_string(i),
                                i + 1 < links ? kMachineNt + u"Software\\Hop\\" + FromUtf8(std::to_string(i + 1))
                                              : kMachineNt + u"Software\\Target");
    return sections;
}

struct LinkRow {
    const char* label;
    std::string sections;  // added to the hive
    Text opened;           // below the uninstall key
    long result;
    Text display_name;     // when opened
    friend void PrintTo(const LinkRow& row, std::ostream* out) { *out << row.label; }
};

class Links : public PrefixStore, public ::testing::WithParamInterface<LinkRow> {};

TEST_P(Links, AreFollowedForReadingAsWineserverFollowsThem) {
    const LinkRow& row = GetParam();
    WriteBytes(SystemReg(), kHive + kTargets + row.sections);
    WriteBytes(m_folder.path() / "user.reg", kUserHive);
    WinePrefixRegistry registry(m_prefix);
    RegHandle key = 0;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, kU + u"\\" + row.opened, &key), row.result);
    if (row.result != kErrorSuccess) return;
    std::vector<std::uint8_t> data(64);
    std::uint32_t size = 64;
    ASSERT_EQ(registry.query_value_ex(key, u"DisplayName", nullptr, data.data(), &size), kErrorSuccess);
    data.resize(size);
    EXPECT_EQ(data, WideBytes(row.display_name));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Links,
    ::testing::Values(
        LinkRow{"to a key of the same hive", LinkSection(Record("L"), kMachineNt + u"Software\\Target"), u"L",
                kErrorSuccess, u"Target"},
        LinkRow{"to a record, spelt in another case with repeated separators",
                LinkSection(Record("L"), u"\\REGISTRY\\machine\\\\software\\microsoft\\Windows\\CurrentVersion\\"
                                         u"Uninstall\\beta"),
                u"L", kErrorSuccess, u"Beta"},
        LinkRow{"a path through a link", LinkSection(Record("L"), kMachineNt + u"Software\\Target"), u"L\\Deep",
                kErrorSuccess, u"Deep"},
        LinkRow{"into the prefix user's hive",
                LinkSection(Record("L"), u"\\Registry\\User\\S-1-5-21-0-0-0-1000\\Software\\Mine"), u"L",
                kErrorSuccess, u"Mine"},
        LinkRow{"into another user's hive",
                LinkSection(Record("L"), u"\\Registry\\User\\S-1-5-21-1-2-3-1001\\Software\\Mine"), u"L",
                kErrorFileNotFound, u""},
        LinkRow{"to a key that is not there", LinkSection(Record("L"), kMachineNt + u"Software\\Gone"), u"L",
                kErrorFileNotFound, u""},
        LinkRow{"with a terminator, which names no key",
                LinkSection(Record("L"), kMachineNt + u"Software\\Target" + u'\0'), u"L", kErrorFileNotFound, u""},
        LinkRow{"to a path not below \\Registry", LinkSection(Record("L"), u"\\Machine\\Software\\Target"), u"L",
                kErrorFileNotFound, u""},
        LinkRow{"without a target", "\n[" + Record("L") + "] 1\n#link\n", u"L", kErrorFileNotFound, u""},
        LinkRow{"in a loop",
                LinkSection(Record("L"), kMachineNt + u"Software\\Loop") +
                    LinkSection("Software\\\\Loop",
                                kMachineNt + u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\L"),
                u"L", kErrorFileNotFound, u""},
        LinkRow{"sixteen in a row", Chain(16), u"Chain", kErrorSuccess, u"Target"},
        LinkRow{"seventeen in a row", Chain(17), u"Chain", kErrorFileNotFound, u""}),
    [](const auto& info) {
        std::string name;
        for (const char c : std::string(info.param.label)) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST_F(PrefixStore, ALinkRecordIsListedAsItsTargetButBackedUpAndRemovedAsTheLinkItself) {
    const std::u16string target = kMachineNt + u"Software\\Target";
    WriteBytes(SystemReg(), kHive + kTargets + LinkSection(Record("Linked"), target) +
                                Entry("Holder", "Holder", "h.exe") + LinkSection(Record("Holder\\\\Inner"), target));
    WinePrefixRegistry registry(m_prefix);
    EntryList list;
    ScriptedDesktop desktop;
    ListUninstallEntries(registry, list, desktop);
    std::vector<Text> shown;
    for (int row = 1; row <= list.Count(); ++row) shown.push_back(list.ItemText(row) + u"|" + list.SubItem(row, 3));
    EXPECT_NE(std::find(shown.begin(), shown.end(), u"Target|Linked"), shown.end());

    // The backup holds what the removal takes: the links, not their target.
    RegEditExport backup;
    for (const TextView name : {u"Linked", u"Holder"})
        ASSERT_EQ(backup.AppendRecord(registry, {Text(name), kPlace64Bit}), kErrorSuccess);
    EXPECT_EQ(backup.key_count(), 3);
    const Text& text = backup.text();
    EXPECT_NE(text.find(u"\\Uninstall\\Linked]\r\n\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00"), Text::npos);
    EXPECT_NE(text.find(u"\\Uninstall\\Holder\\Inner]\r\n\"SymbolicLinkValue\"=hex(6):"), Text::npos);
    EXPECT_EQ(text.find(u"\"DisplayName\"=\"Target\""), Text::npos) << ToUtf8(text);
    EXPECT_EQ(text.find(u"Deep"), Text::npos) << ToUtf8(text);

    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\Linked"), kErrorSuccess);
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, kU + u"\\Holder"), kErrorSuccess);
    ASSERT_EQ(test::Status(registry.commit()), kErrorSuccess);
    WinePrefixRegistry reread(m_prefix);
    EXPECT_EQ(Subkeys(reread, kU), (std::vector<Text>{u"Alpha", u"Beta", u"Gamma"}));
    EXPECT_EQ(Subkeys(reread, u"Software\\Target"), (std::vector<Text>{u"Deep"})) << "the target stays whole";
    const std::string after = ReadBytes(SystemReg());
    EXPECT_EQ(after.find("#link"), std::string::npos);
}

TEST_F(PrefixStore, RefusesToWriteWhileAWineserverHoldsThePrefix) {
    TempFolder tmp("tmpdir");
    FakeServer server(m_folder.path(), tmp.path());
    WinePrefixRegistry registry(m_prefix);
    EXPECT_FALSE(m_prefix->ServerRunning()) << "a lock file nobody holds is a crashed server's leftover";
    server.Start();
    EXPECT_TRUE(m_prefix->ServerRunning());
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSharingViolation);
    EXPECT_EQ(ReadBytes(SystemReg()), kHive);
    EXPECT_EQ(Subkeys(registry, kU).size(), 3U) << "reading goes on while the server runs";
    server.Stop();
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSuccess);
}

TEST_F(PrefixStore, ServerThatStartsDuringTheWriteIsNotOverwritten) {
    TempFolder tmp("tmpdir");
    FakeServer server(m_folder.path(), tmp.path());
    bool started = false;
    WinePrefixRegistry registry(m_prefix, [&](wine::WriteStep step) {
        if (step == wine::WriteStep::CloseFile && !started) {
            server.Start();
            started = true;
        }
        return 0;
    });
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Alpha"), kErrorSharingViolation);
    EXPECT_EQ(ReadBytes(SystemReg()), kHive);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 2)
        << "system.reg and the wineserver name file, no temporary file and no lock file";
}

// Every step of a replacement, with the writer killed just before it.
class KilledWriter : public PrefixStore, public ::testing::WithParamInterface<wine::WriteStep> {};

TEST_P(KilledWriter, LeavesTheOldFileOrTheNewOneWhole) {
    const wine::WriteStep kill_at = GetParam();
    const pid_t child = ::fork();
    if (child == 0) {
        WinePrefixRegistry registry(m_prefix, [kill_at](wine::WriteStep step) {
            if (step == kill_at) ::_exit(0);
            return 0;
        });
        static_cast<void>(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"));
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer never reached that step";
    const std::string after = ReadBytes(SystemReg());
    const auto file = wine::RegFile::Parse(kHive);
    const std::string deleted = test::StageAndRewrite(*file, {kU + u"\\Beta"}).bytes;
    const bool renamed = GetParam() == wine::WriteStep::SyncFolder;
    EXPECT_EQ(after, renamed ? deleted : kHive);
    // The store reads whatever is there, and a later deletion works.
    WinePrefixRegistry registry(m_prefix);
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Gamma"), kErrorSuccess);
}

INSTANTIATE_TEST_SUITE_P(Steps, KilledWriter,
                         ::testing::Values(wine::WriteStep::CreateTemporary, wine::WriteStep::WriteFirstHalf,
                                           wine::WriteStep::WriteSecondHalf, wine::WriteStep::SyncFile,
                                           wine::WriteStep::CloseFile, wine::WriteStep::Rename,
                                           wine::WriteStep::SyncFolder));

class FailingStep : public PrefixStore, public ::testing::WithParamInterface<wine::WriteStep> {};

TEST_P(FailingStep, FullDiskFailsTheDeletionAndCleansUp) {
    const wine::WriteStep fail_at = GetParam();
    WinePrefixRegistry registry(m_prefix, [fail_at](wine::WriteStep step) { return step == fail_at ? ENOSPC : 0; });
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"), 112L);  // ERROR_DISK_FULL
    EXPECT_EQ(ReadBytes(SystemReg()), kHive);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 1) << "no leftover";
    EXPECT_EQ(Subkeys(registry, kU).size(), 3U) << "the failed deletion is undone";
}

INSTANTIATE_TEST_SUITE_P(Steps, FailingStep,
                         ::testing::Values(wine::WriteStep::CreateTemporary, wine::WriteStep::WriteFirstHalf,
                                           wine::WriteStep::WriteSecondHalf, wine::WriteStep::SyncFile,
                                           wine::WriteStep::CloseFile, wine::WriteStep::Rename));

TEST(PrefixStoreOnFullDisk, RealFullFileSystemLeavesTheFileWhole) {
    TempFolder folder;
    const fs::path mount = folder.path() / "small";
    fs::create_directory(mount);
    if (::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a small tmpfs here";
    std::string hive = kHive;
    while (hive.size() < 30000) hive += Entry("Filler" + std::to_string(hive.size()), "F", "f.exe");
    WriteBytes(mount / "system.reg", hive);
    // Leave less room than a second copy needs.
    WriteBytes(mount / "ballast", std::string(64 * 1024 - hive.size() - 8 * 1024, 'x'));
    {
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(mount));
        EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Beta"), 112L);
    }
    EXPECT_EQ(ReadBytes(mount / "system.reg"), hive);
    EXPECT_EQ(std::distance(fs::directory_iterator(mount), fs::directory_iterator()), 2) << "and the ballast";
    ::umount(mount.c_str());
}

}  // namespace
}  // namespace ssr
