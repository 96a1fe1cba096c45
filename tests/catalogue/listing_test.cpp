// ListUninstallEntries against an in-memory registry.
#include "catalogue/listing.h"

#include <gtest/gtest.h>

#include <ostream>

#include "doubles/memory_registry.h"
#include "doubles/scripted_desktop.h"
#include "platform/entry_list.h"
#include "steps/error_report.h"
#include "support/faulty_entry_list.h"
#include "support/reports.h"

namespace ssr {
namespace {

Text KeyPath(TextView name) { return Text(kUninstallKeyPath) + u"\\" + Text(name); }

struct Listing : ::testing::Test {
    MemoryRegistry registry;
    testing::FaultyEntryList list;
    ScriptedDesktop desktop;

    void AddEntry(TextView key, TextView name, TextView command) {
        registry.SetText(KeyPath(key), u"DisplayName", name);
        registry.SetText(KeyPath(key), u"UninstallString", command);
    }
    void List() { ListUninstallEntries(registry, list, desktop); }
};

// ---- The target path derived from an uninstall command ----

struct Reduction {
    const char* behaviour;
    Text command;
    Text column2;  // "Uninstall"
    Text column3;  // "FileExists"
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Reduction& c, std::ostream* os) { *os << c.behaviour; }

class TargetPath : public Listing, public ::testing::WithParamInterface<Reduction> {};

TEST_P(TargetPath, IsDerivedFromTheCommand) {
    AddEntry(u"Entry", u"Some Program", GetParam().command);
    List();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.SubItem(1, 1), GetParam().column2);
    EXPECT_EQ(list.SubItem(1, 2), GetParam().column3);
    EXPECT_EQ(list.SubItem(1, 3), u"Entry");
    EXPECT_EQ(list.Command(1), GetParam().command);  // what Uninstall starts, whatever the columns show
    EXPECT_TRUE(desktop.boxes.empty());
}

const Text kQuoted = u"\"C:\\Program Files\\Foo\\unins000.exe\" /SILENT";
const Text kMsi = u"MsiExec.exe /X{1A2B3C4D-0000-1111-2222-333344445555}";
const Text kRundllPath = u"RunDll32.EXE C:\\Windows\\System32\\foo.dll,Remove";
const Text kDfshim = u"rundll32.exe dfshim.dll,ShArpMaintain app.application";

INSTANTIATE_TEST_SUITE_P(
    Commands, TargetPath,
    ::testing::Values(
        Reduction{"QuotedPathWithSwitchLosesQuotesCaseAndSwitch", kQuoted, kQuoted, u"c:\\program files\\foo\\unins000.exe"},
        Reduction{"MsiExecIsNeverSuggested", kMsi, kMsi, u"IGNORE ME"},
        Reduction{"MsiExecInAnyCase", u"\"C:\\WINDOWS\\MSIEXEC.EXE\" /x {X}", u"\"C:\\WINDOWS\\MSIEXEC.EXE\" /x {X}", u"IGNORE ME"},
        Reduction{"MsiExecWithALetterThatLowersToAsciiIsNeverSuggested", u"MS\u0130EXEC.EXE /x {X}", u"MS\u0130EXEC.EXE /x {X}", u"IGNORE ME"},
        Reduction{"MsiexecWithoutExeKeepsThreeCharacters", u"msiexec /x {ABC}", u"msiexec /x {ABC}", u"msi"},
        Reduction{"NoKnownExtensionKeepsDriveRoot", u"C:\\Tools\\remove.bat", u"C:\\Tools\\remove.bat", u"c:\\"},
        Reduction{"ExeWinsOverAnEarlierDll", u"C:\\App\\setup.exe /uninstall C:\\App\\old.dll", u"C:\\App\\setup.exe /uninstall C:\\App\\old.dll", u"c:\\app\\setup.exe"},
        Reduction{"InfWhenThereIsNoExe", u"C:\\Windows\\INF\\setup.INF,Remove", u"C:\\Windows\\INF\\setup.INF,Remove", u"c:\\windows\\inf\\setup.inf"},
        Reduction{"DllWhenThereIsNeitherExeNorInf", u"D:\\Lib\\Remover.DLL now", u"D:\\Lib\\Remover.DLL now", u"d:\\lib\\remover.dll"},
        Reduction{"RundllTakesTheDrivePathIntoBothColumns", kRundllPath, u"c:\\windows\\system32\\foo.dll", u"c:\\windows\\system32\\foo.dll"},
        Reduction{"RundllWithoutColonEmptiesBothColumns", kDfshim, u"", u""},
        Reduction{"RundllCutAtTheFirstExtensionBeforeTakingTheDrivePath", u"rundll32 c:\\a\\b.inf,x d:\\c\\e.dll", u"c:\\a\\b.inf", u"c:\\a\\b.inf"},
        Reduction{"ExpandableTextStaysUnexpanded", u"%SystemRoot%\\uninst.exe", u"%SystemRoot%\\uninst.exe", u"%systemroot%\\uninst.exe"},
        Reduction{"NonAsciiIsLowerCased", u"\"C:\\Programme\\ÜBER Редактор\\Удалить.EXE\" /q", u"\"C:\\Programme\\ÜBER Редактор\\Удалить.EXE\" /q", u"c:\\programme\\über редактор\\удалить.exe"},
        Reduction{"EveryScriptIsLowerCasedInPlace", u"\"C:\\\u0130\\\u1C90\\\U00010400.EXE\" /q", u"\"C:\\\u0130\\\u1C90\\\U00010400.EXE\" /q", u"c:\\i\\\u10D0\\\U00010428.exe"},
        Reduction{"ShortCommandIsKeptWhole", u"ab", u"ab", u"ab"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// ---- What is listed, and where the enumeration stops ----

TEST_F(Listing, BuildsTheColumnsEvenWithoutTheUninstallKey) {
    List();
    ASSERT_EQ(list.ColumnCount(), 5);
    const std::pair<Text, float> expected[] = {{u"Programs and Features Entries", 7000.0F},
                                               {u"Uninstall", 0.0F},
                                               {u"FileExists", 0.0F},
                                               {u"KeyName", 0.0F},
                                               {u"Location", 0.0F}};
    for (int c = 1; c <= 5; ++c) {
        EXPECT_EQ(list.Column(c).text, expected[c - 1].first);
        EXPECT_EQ(list.Column(c).width, expected[c - 1].second);
    }
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

TEST_F(Listing, SkipsSubkeysWithoutBothTextsButKeepsCounting) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    registry.SetText(KeyPath(u"NoCommand"), u"DisplayName", u"No Command");
    registry.SetText(KeyPath(u"NoName"), u"UninstallString", u"x.exe");
    AddEntry(u"EmptyName", u"", u"x.exe");
    AddEntry(u"EmptyCommand", u"Empty Command", u"");
    registry.SetDword(KeyPath(u"NumberName"), u"DisplayName", 7);
    registry.SetText(KeyPath(u"NumberName"), u"UninstallString", u"x.exe");
    registry.SetText(KeyPath(u"ListCommand"), u"DisplayName", u"List");
    registry.SetMultiText(KeyPath(u"ListCommand"), u"UninstallString", {u"x.exe"});
    registry.CreateKey(KeyPath(u"Bare"));
    AddEntry(u"Z", u"Zulu", u"z.exe");
    AddEntry(u"Twin", u"Alpha", u"t.exe");
    List();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.SubItem(1, 3), u"A");
    EXPECT_EQ(list.SubItem(2, 3), u"Z");
    EXPECT_EQ(list.ItemText(3), u"Alpha");  // same display name, listed twice
    EXPECT_TRUE(desktop.boxes.empty());
}

struct LongName {
    const char* behaviour;
    Text key;
    Text class_text;
    bool listed;
};

void PrintTo(const LongName& c, std::ostream* os) { *os << c.behaviour; }

class KeyNameLength : public Listing, public ::testing::WithParamInterface<LongName> {};

// Only a name no record may have is passed over, with one report; the
// records after it are listed all the same.
TEST_P(KeyNameLength, NeverEndsThePlace) {
    const LongName& c = GetParam();
    AddEntry(u"Before", u"Before", u"b.exe");
    registry.CreateKey(KeyPath(c.key), c.class_text);
    AddEntry(c.key, u"Long", u"l.exe");
    AddEntry(u"\uffffAfter", u"After", u"a.exe");  // enumerated last
    List();
    std::vector<Text> listed;
    for (int i = 1; i <= list.Count(); ++i) listed.push_back(list.ItemText(i));
    const std::vector<Text> expected =
        c.listed ? std::vector<Text>{u"Before", u"Long", u"After"} : std::vector<Text>{u"Before", u"After"};
    EXPECT_EQ(listed, expected);
    if (c.listed) {
        EXPECT_EQ(list.SubItem(2, 3), c.key);
        EXPECT_TRUE(desktop.boxes.empty());
    } else {
        EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{162});
    }
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Names, KeyNameLength,
    ::testing::Values(LongName{"Of254Characters", Text(254, u'n'), u"", true},
                      LongName{"Of255CharactersTheRegistrysLongest", Text(255, u'x'), u"", true},
                      LongName{"OfAHandEdited256", Text(256, u'y'), u"", false},
                      LongName{"OfAHandEdited1000", Text(1000, u'z'), u"", false},
                      LongName{"WithAClassLongerThanTheBuffer", u"Classy", Text(300, u'c'), true}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// The working copy of the command is the command already read, not a second read.
TEST_F(Listing, AsksTheStoreOnceForEachValueItUses) {
    AddEntry(u"A", u"Alpha", u"\"C:\\App\\u.exe\" /S");
    List();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.SubItem(1, 2), u"c:\\app\\u.exe");
    EXPECT_EQ(registry.query_calls(), 2U);  // DisplayName and UninstallString, each in one call
}

TEST_F(Listing, AnUnreadableUninstallKeyGivesAnEmptyListWithoutMessage) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    registry.MarkUnreadable(kUninstallKeyPath);
    List();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ColumnCount(), 5);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(Listing, AnUnreadableEntryIsSkipped) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    AddEntry(u"B", u"Beta", u"b.exe");
    registry.MarkUnreadable(KeyPath(u"A"));
    List();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.ItemText(1), u"Beta");
}

// ---- Failures: reported with Form_Load's location, and the listing goes on ----

TEST_F(Listing, AnOverlongValueIsReportedAndItsPassLeftOut) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    AddEntry(u"Huge", Text(32767, u'h'), u"h.exe");
    AddEntry(u"C", u"Gamma", u"c.exe");
    List();
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.ItemText(2), u"Gamma");
    EXPECT_EQ(list.SubItem(2, 3), u"C");
    ASSERT_EQ(testing::ReportLabels(desktop), std::vector<int>{168});
    EXPECT_EQ(desktop.boxes[0].prompt.substr(0, 10), u"Overflow\r\n");
    EXPECT_NE(desktop.boxes[0].prompt.find(location::kFormLoad), Text::npos);
}

TEST_F(Listing, AColonAtTheStartReportsBothRundllStepsAndKeepsTheCommand) {
    AddEntry(u"A", u"Odd", u":rundll32 x.dll");
    AddEntry(u"B", u"Next", u"n.exe");
    List();
    EXPECT_EQ(testing::ReportLabels(desktop), (std::vector<int>{210, 212}));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.SubItem(1, 1), u":rundll32 x.dll");
    EXPECT_EQ(list.SubItem(1, 2), u"");
    EXPECT_EQ(list.SubItem(2, 2), u"n.exe");
}

TEST_F(Listing, AnExtensionBeyondPosition32767OverflowsAtItsSearch) {
    // Only a command stored without its terminating zero can be this long.
    const auto add_unterminated = [&](TextView key, TextView name, const Text& command) {
        registry.SetText(KeyPath(key), u"DisplayName", name);
        registry.SetText(KeyPath(key), u"UninstallString", command, kRegSz, false);
    };
    add_unterminated(u"A", u"Far", Text(32767, u'a') + u".exe");
    add_unterminated(u"B", u"Near", Text(32764, u'a') + u".exe");
    add_unterminated(u"C", u"Fine", Text(32763, u'a') + u".exe");
    List();
    // Far: the .exe search overflows (196), the jump then tests an unchanged 0
    // and the .inf and .dll searches find nothing, so the cut keeps three characters.
    // Near: found at 32,765; 32,765 + 3 no longer fits (206).
    EXPECT_EQ(testing::ReportLabels(desktop), (std::vector<int>{196, 206}));
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.SubItem(1, 2), u"aaa");
    EXPECT_EQ(list.SubItem(3, 2).size(), 32767U);
}

TEST_F(Listing, AFailedAddLeavesThePassOutSoNoValueLandsOnAnotherRow) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    AddEntry(u"B", u"Beta", u"b.exe");
    AddEntry(u"C", u"Gamma", u"c.exe");
    int adds = 0;
    list.refuse = [&](std::string_view op, int) { return op == "Add" && ++adds == 2; };
    List();
    EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{178});
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.SubItem(1, 3), u"A");
    EXPECT_EQ(list.SubItem(1, 1), u"a.exe");
    EXPECT_EQ(list.SubItem(2, 3), u"C");
    EXPECT_EQ(list.SubItem(2, 1), u"c.exe");
}

TEST_F(Listing, ColumnStepsReportTheirOwnLabelsAndTheListingGoesOn) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    list.refuse = [](std::string_view op, int column) { return op == "SetColumnWidth" && column == 3; };
    List();
    EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{142});
    EXPECT_EQ(list.Count(), 1);
}

// ---- Every place that holds records ----

const Text k32BitUninstall = u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const Text kUserUninstall = Text(u"HKEY_CURRENT_USER\\") + kUninstallKeyPath;

struct Row {
    Text name;
    Text key;
    Text location;
    friend bool operator==(const Row&, const Row&) = default;
};
void PrintTo(const Row& r, std::ostream* os) { *os << ToUtf8(r.name + u"/" + r.key + u"/" + r.location); }

std::vector<Row> Rows(const EntryList& list) {
    std::vector<Row> rows;
    for (int i = 1; i <= list.Count(); ++i) {
        // The row's record is data; the two columns show it.
        const RecordKey& record = list.Record(i);
        EXPECT_EQ(list.SubItem(i, 3), record.name);
        EXPECT_EQ(list.SubItem(i, 4), record.place.location);
        rows.push_back({list.ItemText(i), record.name, record.place.location});
    }
    return rows;
}

void AddAt(MemoryRegistry& registry, const Text& uninstall, TextView key, TextView name) {
    registry.SetText(uninstall + u"\\" + Text(key), u"DisplayName", name);
    registry.SetText(uninstall + u"\\" + Text(key), u"UninstallString", u"c:\\x.exe");
}

TEST_F(Listing, ReadsTheThreePlacesInOrderAndTheSameNameInTwoIsTwoRows) {
    AddAt(registry, kUserUninstall, u"Shared", u"User copy");
    AddAt(registry, k32BitUninstall, u"Shared", u"32-bit copy");
    AddAt(registry, k32BitUninstall, u"Old", u"Old tool");
    AddEntry(u"Shared", u"64-bit copy", u"c:\\x.exe");
    List();
    EXPECT_EQ(Rows(list), (std::vector<Row>{{u"64-bit copy", u"Shared", u"64-bit"},
                                           {u"32-bit copy", u"Shared", u"32-bit"},
                                           {u"Old tool", u"Old", u"32-bit"},
                                           {u"User copy", u"Shared", u"Current user"}}));
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

TEST_F(Listing, ASystemWithOneViewReadsTheLocalMachineOnce) {
    MemoryRegistry one_view(MemoryRegistry::Views::One);
    AddAt(one_view, kUninstallKeyPath, u"A", u"Alpha");
    AddAt(one_view, kUserUninstall, u"B", u"Beta");
    ListUninstallEntries(one_view, list, desktop);
    EXPECT_EQ(Rows(list), (std::vector<Row>{{u"Alpha", u"A", u"Local machine"}, {u"Beta", u"B", u"Current user"}}));
}

TEST_F(Listing, APlaceThatCannotBeOpenedIsPassedOverSilently) {
    AddEntry(u"A", u"Alpha", u"a.exe");
    AddAt(registry, k32BitUninstall, u"B", u"Beta");
    AddAt(registry, kUserUninstall, u"C", u"Gamma");
    registry.MarkUnreadable(k32BitUninstall);
    List();
    EXPECT_EQ(Rows(list), (std::vector<Row>{{u"Alpha", u"A", u"64-bit"}, {u"Gamma", u"C", u"Current user"}}));
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(Listing, AFailureInOnePlaceIsReportedAndTheNextPlaceIsRead) {
    AddAt(registry, k32BitUninstall, u"Huge", Text(32767, u'h'));
    AddAt(registry, k32BitUninstall, u"B", u"Beta");
    AddAt(registry, kUserUninstall, u"C", u"Gamma");
    List();
    EXPECT_EQ(testing::ReportLabels(desktop), std::vector<int>{168});
    EXPECT_EQ(Rows(list), (std::vector<Row>{{u"Beta", u"B", u"32-bit"}, {u"Gamma", u"C", u"Current user"}}));
}

TEST(RecordPlaces, FullPathsNameTheKeyWhereAnImportPutsItBack) {
    const struct {
        RecordPlace place;
        Text location;
        bool two_views;
        Text path;
    } rows[] = {
        {kPlace64Bit, u"64-bit", true, u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\K"},
        {kPlace32Bit, u"32-bit", true, u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\K"},
        {kPlaceMachine, u"Local machine", false, u"HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\K"},
        {kPlaceCurrentUser, u"Current user", true, u"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\K"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.place.location, row.location);
        EXPECT_EQ(FullKeyPath({u"K", row.place}, row.two_views), row.path);
    }
}

}  // namespace
}  // namespace ssr
