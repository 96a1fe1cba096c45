#include "catalogue/listing.h"

#include <gtest/gtest.h>

#include "application/error_report.h"
#include "platform/entry_list.h"
#include "platform/memory_registry.h"
#include "platform/testing/scripted_desktop.h"

namespace ssr {
namespace {

const Text kUninstall = kUninstallKeyPath;

Text KeyPath(TextView name) { return kUninstall + u"\\" + Text(name); }

struct ListingFixture : ::testing::Test {
    MemoryRegistry registry;
    EntryList list;
    ScriptedDesktop desktop;

    void AddEntry(TextView key, TextView name, TextView command) {
        registry.SetText(KeyPath(key), u"DisplayName", name);
        registry.SetText(KeyPath(key), u"UninstallString", command);
    }
    void List() { ListUninstallEntries(registry, list, desktop); }
};

TEST_F(ListingFixture, BuildsTheFourColumnsEvenWithoutTheUninstallKey) {
    List();
    ASSERT_EQ(list.ColumnCount(), 4);
    EXPECT_EQ(list.Column(1).text, u"Programs and Features Entries");
    EXPECT_EQ(list.Column(1).width, 7000.0F);
    EXPECT_EQ(list.Column(4).text, u"KeyName");
    EXPECT_EQ(list.Column(4).width, 0.0F);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(ListingFixture, ListsEntriesInEnumerationOrder) {
    AddEntry(u"B", u"Beta", u"\"C:\\Program Files\\Foo\\unins000.exe\" /SILENT");
    AddEntry(u"A", u"Alpha", u"MsiExec.exe /X{1234}");
    List();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.ItemText(1), u"Beta");
    EXPECT_EQ(list.SubItem(1, 2), u"c:\\program files\\foo\\unins000.exe");
    EXPECT_EQ(list.SubItem(1, 3), u"B");
    EXPECT_EQ(list.SubItem(2, 2), u"IGNORE ME");
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

}  // namespace
}  // namespace ssr
