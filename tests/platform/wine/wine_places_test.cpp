// The prefix store's three places of records: the local machine's keys in
// system.reg, with the 32-bit view as its Wow6432Node branch on a win64
// prefix, and the current user's keys in user.reg, with every guarantee
// system.reg has.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "platform/entry_list.h"
#include "doubles/scripted_desktop.h"
#include "platform/wine/hive/reg_file.h"
#include "platform/wine/prefix/wine_prefix.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"
#include "support/fake_wineserver.h"

namespace ssr {
namespace {

namespace fs = std::filesystem;
using test::DeleteNow;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;
using test::k32;
using test::k64;

const Text kU = kUninstallKeyPath;
const std::string kMachineHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";
const std::string kUserHeader = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n";

std::string Entry(const std::string& section, const std::string& key, const std::string& name) {
    return "\n" + section + "\\\\" + key + "] 1\n#time=1\n\"DisplayName\"=\"" + name +
           "\"\n\"UninstallString\"=\"c:\\\\" + key + "\\\\u.exe\"\n";
}

// The same name "Shared" in all three places, one record of each place's own,
// and a subtree below the 32-bit and the user's record.
const std::string kSystem = kMachineHeader + "\n#arch=win64\n" + Entry(k64, "Shared", "Shared 64") +
                            Entry(k64, "Only64", "Only 64") + Entry(k32, "Only32", "Only 32") +
                            "\n" + k32 + "\\\\Only32\\\\Parts\\\\Core] 1\n\"v\"=\"1\"\n" + Entry(k32, "Shared", "Shared 32");
const std::string kUser = kUserHeader + "\n#arch=win64\n\n[Control Panel\\\\Desktop] 1\n\"Wallpaper\"=\"\"\n" +
                          Entry(k64, "OnlyUser", "Only user") + "\n" + k64 +
                          "\\\\OnlyUser\\\\Sub] 1\n\"w\"=dword:00000002\n" + Entry(k64, "Shared", "Shared user");

struct Row {
    Text name;
    Text key;
    Text location;
    friend bool operator==(const Row&, const Row&) = default;
};

class Places : public ::testing::Test {
protected:
    void SetUp() override {
        WriteBytes(SystemReg(), kSystem);
        WriteBytes(UserReg(), kUser);
    }
    [[nodiscard]] fs::path SystemReg() const { return m_folder.path() / "system.reg"; }
    [[nodiscard]] fs::path UserReg() const { return m_folder.path() / "user.reg"; }
    [[nodiscard]] static std::vector<Row> List(Registry& registry) {
        EntryList list;
        ScriptedDesktop desktop;
        ListUninstallEntries(registry, list, desktop);
        EXPECT_TRUE(desktop.boxes.empty());
        std::vector<Row> rows;
        for (int i = 1; i <= list.Count(); ++i) rows.push_back({list.ItemText(i), list.SubItem(i, 3), list.SubItem(i, 4)});
        return rows;
    }
    TempFolder m_folder;
    std::shared_ptr<const wine::Prefix> m_prefix = std::make_shared<const wine::Prefix>(m_folder.path());
};

TEST_F(Places, ListsEveryPlaceInOrderWithItsLocation) {
    WinePrefixRegistry registry(m_prefix);
    EXPECT_TRUE(registry.has_32bit_view());
    EXPECT_EQ(List(registry), (std::vector<Row>{
                                  {u"Only 64", u"Only64", kLocation64Bit},
                                  {u"Shared 64", u"Shared", kLocation64Bit},
                                  {u"Only 32", u"Only32", kLocation32Bit},
                                  {u"Shared 32", u"Shared", kLocation32Bit},
                                  {u"Only user", u"OnlyUser", kLocationCurrentUser},
                                  {u"Shared user", u"Shared", kLocationCurrentUser},
                              }));
}

// Deleting the record of one place cuts exactly its sections out of its own
// file and leaves the same name in the other places. A section runs from its
// header to the next one, so the blank line before a last section stays.
TEST_F(Places, DeletesInOnePlaceOnlyAndKeepsEveryOtherByte) {
    struct Case {
        RegHandle root;
        std::uint32_t view;
        const char* key;
        std::string system_after;
        std::string user_after;
    };
    const std::vector<Case> cases = {
        {kHkeyLocalMachine, kKeyWow64_64Key, "Shared", kMachineHeader + "\n#arch=win64\n" + Entry(k64, "Only64", "Only 64") +
             Entry(k32, "Only32", "Only 32") + "\n" + k32 + "\\\\Only32\\\\Parts\\\\Core] 1\n\"v\"=\"1\"\n" +
             Entry(k32, "Shared", "Shared 32"), kUser},
        {kHkeyLocalMachine, kKeyWow64_32Key, "Shared", kMachineHeader + "\n#arch=win64\n" + Entry(k64, "Shared", "Shared 64") +
             Entry(k64, "Only64", "Only 64") + Entry(k32, "Only32", "Only 32") + "\n" + k32 +
             "\\\\Only32\\\\Parts\\\\Core] 1\n\"v\"=\"1\"\n\n", kUser},
        {kHkeyLocalMachine, kKeyWow64_32Key, "only32", kMachineHeader + "\n#arch=win64\n" + Entry(k64, "Shared", "Shared 64") +
             Entry(k64, "Only64", "Only 64") + Entry(k32, "Shared", "Shared 32"), kUser},
        {kHkeyCurrentUser, 0, "SHARED", kSystem, kUserHeader + "\n#arch=win64\n\n[Control Panel\\\\Desktop] 1\n\"Wallpaper\"=\"\"\n" +
             Entry(k64, "OnlyUser", "Only user") + "\n" + k64 + "\\\\OnlyUser\\\\Sub] 1\n\"w\"=dword:00000002\n\n"},
        {kHkeyCurrentUser, kKeyWow64_32Key, "OnlyUser", kSystem, kUserHeader + "\n#arch=win64\n\n[Control Panel\\\\Desktop] 1\n\"Wallpaper\"=\"\"\n" +
             Entry(k64, "Shared", "Shared user")},
    };
    for (const Case& c : cases) {
        SetUp();
        WinePrefixRegistry registry(m_prefix);
        ASSERT_EQ(DeleteNow(registry, c.root, kU + u"\\" + FromUtf8(c.key), c.view), kErrorSuccess) << c.key;
        EXPECT_EQ(ReadBytes(SystemReg()), c.system_after) << c.key << " view " << c.view;
        EXPECT_EQ(ReadBytes(UserReg()), c.user_after) << c.key << " view " << c.view;
        EXPECT_EQ(DeleteNow(registry, c.root, kU + u"\\" + FromUtf8(c.key), c.view), kErrorFileNotFound);
        EXPECT_EQ(List(registry).size(), 5U) << c.key;
    }
}

// wineserver's reading of "#arch=": system.reg settles the prefix's
// architecture (none named is a 32-bit prefix, no file the 64-bit server's
// own), and a user.reg that names another stops being read at that line.
TEST(PlacesArchitecture, FollowsWineserver) {
    struct Case {
        const char* label;
        std::optional<std::string> system;
        std::string user;
        bool has_32bit_view;
        std::vector<Text> locations;
    };
    const std::string entry64 = Entry(k64, "A", "A");
    const std::string entry32 = Entry(k32, "B", "B");
    const std::string user = Entry(k64, "U", "U");
    const std::vector<Case> cases = {
        {"win64", kMachineHeader + "\n#arch=win64\n" + entry64 + entry32, kUserHeader + "\n#arch=win64\n" + user, true,
         {kLocation64Bit, kLocation32Bit, kLocationCurrentUser}},
        {"win32: Wow6432Node is an ordinary key", kMachineHeader + "\n#arch=win32\n" + entry64 + entry32,
         kUserHeader + "\n#arch=win32\n" + user, false, {kLocationMachine, kLocationCurrentUser}},
        {"no #arch line: 32-bit", kMachineHeader + entry64 + entry32, kUserHeader + user, false,
         {kLocationMachine, kLocationCurrentUser}},
        {"user.reg names the other architecture", kMachineHeader + "\n#arch=win32\n" + entry64,
         kUserHeader + "\n#arch=win64\n" + user, false, {kLocationMachine}},
        // After a section, "#arch=" is one of the key's options, which wineserver ignores.
        {"user.reg names it after its keys", kMachineHeader + "\n#arch=win64\n" + entry64,
         kUserHeader + user + "\n#arch=win32\n" + Entry(k64, "V", "V"), true,
         {kLocation64Bit, kLocationCurrentUser, kLocationCurrentUser}},
        {"no system.reg", std::nullopt, kUserHeader + user, true, {kLocationCurrentUser}},
    };
    for (const Case& c : cases) {
            TempFolder folder;
            if (c.system) WriteBytes(folder.path() / "system.reg", *c.system);
            WriteBytes(folder.path() / "user.reg", c.user);
            WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(folder.path()));
            EXPECT_EQ(registry.has_32bit_view(), c.has_32bit_view) << c.label;
            EntryList list;
            ScriptedDesktop desktop;
            ListUninstallEntries(registry, list, desktop);
            std::vector<Text> locations;
            for (int i = 1; i <= list.Count(); ++i) locations.push_back(list.SubItem(i, 4));
            EXPECT_EQ(locations, c.locations) << c.label;
        }
}

// user.reg keeps system.reg's guarantees: never its uninstall key, nothing
// written while a server runs or when the file is read-only, nothing written
// over a file that is no longer a registry, handles that survive a re-read.
TEST_F(Places, UserHiveHasTheSameGuarantees) {
    {
        WinePrefixRegistry registry(m_prefix);
        for (const Text& path : {kU, Text(u"Software"), Text(u"")})
            EXPECT_EQ(DeleteNow(registry, kHkeyCurrentUser, path), kErrorAccessDenied) << ToUtf8(path);
        EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU, kKeyWow64_32Key), kErrorAccessDenied);
        EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, u"Software\\Wow6432Node"), kErrorAccessDenied);
    }
    {
        TempFolder tmp("tmpdir");
        testing::FakeServer server(m_folder.path(), tmp.path());
        server.Start();
        WinePrefixRegistry registry(m_prefix);
        EXPECT_EQ(DeleteNow(registry, kHkeyCurrentUser, kU + u"\\Shared"), kErrorSharingViolation);
        server.Stop();
    }
    ASSERT_EQ(::chmod(UserReg().c_str(), 0444), 0);
    {
        WinePrefixRegistry registry(m_prefix);
        EXPECT_EQ(DeleteNow(registry, kHkeyCurrentUser, kU + u"\\Shared"), kErrorAccessDenied);
    }
    ASSERT_EQ(::chmod(UserReg().c_str(), 0644), 0);
    EXPECT_EQ(ReadBytes(UserReg()), kUser);

    WinePrefixRegistry registry(m_prefix);
    RegHandle user = 0;
    ASSERT_EQ(registry.open_key(kHkeyCurrentUser, kU + u"\\OnlyUser", &user), kErrorSuccess);
    // Wine rewrote user.reg meanwhile: the next deletion reads it again and
    // the open handle follows its key into the fresh copy.
    WriteBytes(UserReg(), kUser + Entry(k64, "Added", "Added"));
    ASSERT_EQ(DeleteNow(registry, kHkeyCurrentUser, kU + u"\\Shared"), kErrorSuccess);
    EXPECT_NE(ReadBytes(UserReg()).find("Added"), std::string::npos);
    std::uint32_t size = 0;
    EXPECT_EQ(registry.query_value_ex(user, u"DisplayName", nullptr, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(ReadBytes(SystemReg()), kSystem) << "the other hive is not written";

    WriteBytes(UserReg(), "not a registry\n");
    EXPECT_EQ(DeleteNow(registry, kHkeyCurrentUser, kU + u"\\OnlyUser"), kErrorBadDbFormat);
    EXPECT_EQ(ReadBytes(UserReg()), "not a registry\n");
    EXPECT_EQ(DeleteNow(registry, kHkeyLocalMachine, kU + u"\\Only64"), kErrorSuccess) << "system.reg goes on working";
}

}  // namespace
}  // namespace ssr
