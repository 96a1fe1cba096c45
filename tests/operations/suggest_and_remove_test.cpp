// Suggesting stale entries and removing checked ones.
#include <ostream>

#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "operations/operations.h"
#include "operations_fixture.h"

namespace ssr::testing {
namespace {

// ---- Suggest Old Entries To Remove ----

struct SuggestCase {
    const char* behaviour;
    Text target;
    bool exists;
    bool checked_before;
    bool checked_after;
    bool queried;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SuggestCase& c, std::ostream* os) { *os << c.behaviour; }

class Suggest : public OperationsTest, public ::testing::WithParamInterface<SuggestCase> {};

TEST_P(Suggest, ChecksExactlyTheEntriesWhoseTargetIsGone) {
    const SuggestCase& c = GetParam();
    if (c.exists) desktop.existing_paths = {c.target};
    desktop.undecidable_paths = {{u"q:\\unplugged.exe", FileDoubt::NoSuchDrive}};
    Fill({{u"Entry", c.target, u"Key", u"cmd", c.checked_before}});
    form->PushButton3_Click();
    EXPECT_EQ(CheckStates(), std::vector<bool>{c.checked_after});
    EXPECT_EQ(desktop.queried_paths.size(), c.queried ? 1U : 0U);
    EXPECT_TRUE(desktop.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, Suggest,
    ::testing::Values(SuggestCase{"GoneIsChecked", u"c:\\gone.exe", false, false, true, true},
                      SuggestCase{"PresentStaysUnchecked", u"c:\\here.exe", true, false, false, true},
                      SuggestCase{"PresentButCheckedByHandStaysChecked", u"c:\\here.exe", true, true, true, true},
                      SuggestCase{"EmptyTargetIsNeverChecked", u"", false, false, false, false},
                      SuggestCase{"BareNameIsNeverChecked", u"notepad.exe", false, false, false, false},
                      SuggestCase{"UndecidableTargetIsNeverChecked", u"q:\\unplugged.exe", false, false, false, true},
                      SuggestCase{"UnknownReferenceIsNeverChecked", u"%Nowhere%\\x.exe", false, false, false, false},
                      SuggestCase{"IgnoreMarkerIsNeverTested", u"IGNORE ME", false, false, false, false},
                      SuggestCase{"IgnoreMarkerInsideATextCounts", u"xIGNORE MEx", false, false, false, false},
                      SuggestCase{"LowerCaseMarkerIsJustAPath", u"c:\\ignore me", false, false, true, true},
                      SuggestCase{"LowerCaseMarkerThatExists", u"c:\\ignore me", true, false, false, true}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST_F(OperationsTest, SuggestAsksTheFileSystemOncePerEntryAndRepeatsItself) {
    desktop.existing_paths = {u"c:\\a.exe", u"c:\\c.exe"};
    Fill({{u"A", u"c:\\a.exe", u"A"}, {u"B", u"c:\\b.exe", u"B"}, {u"C", u"c:\\c.exe", u"C"}, {u"D", u"", u"D"}});
    form->PushButton3_Click();
    EXPECT_EQ(desktop.queried_paths.size(), 3U);
    EXPECT_EQ(CheckStates(), (std::vector<bool>{false, true, false, false}));
    form->PushButton3_Click();
    EXPECT_EQ(CheckStates(), (std::vector<bool>{false, true, false, false}));
    // Each click's tests are one run, ended with the click: nothing learnt carries over.
    EXPECT_EQ(desktop.file_test_runs_begun, 2);
    EXPECT_EQ(desktop.file_test_runs_ended, 2);
    EXPECT_EQ(desktop.queries_in_runs, 6U);
    EXPECT_EQ(registry.delete_calls(), 0U);
}

TEST_F(OperationsTest, SuggestOnAnEmptyListDoesNothing) {
    form->PushButton3_Click();
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_TRUE(desktop.queried_paths.empty());
}

// A failed read must not leave the previous entry's target to decide for this one.
TEST_F(OperationsTest, SuggestPassesOverAnEntryWhoseTargetCannotBeRead) {
    Fill({{u"A", u"c:\\gone.exe", u"A"}, {u"B", u"c:\\gone.exe", u"B"}, {u"C", u"c:\\gone.exe", u"C"}});
    Refuse("SubItem", 2);
    form->PushButton3_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{102});
    EXPECT_EQ(CheckStates(), (std::vector<bool>{true, false, true}));
}

// The place decides what %ProgramFiles% means: the 32-bit place's records
// belong to 32-bit programs.
TEST_F(OperationsTest, SuggestReadsEachTargetAsTheProgramOfItsPlaceWould) {
    desktop.environment = {{u"ProgramFiles", u"C:\\Program Files"}};
    desktop.environment_32bit = {{u"ProgramFiles", u"C:\\Program Files (x86)"}};
    desktop.existing_paths = {u"C:\\Program Files (x86)\\Old\\uninst.exe"};
    Fill({{u"A", u"%ProgramFiles%\\Old\\uninst.exe", u"A"}, {u"B", u"%ProgramFiles%\\Old\\uninst.exe", u"B"},
          {u"C", u"%ProgramFiles%\\Old\\uninst.exe", u"C"}});
    list->SetRecord(1, {u"A", kPlace32Bit});
    list->SetRecord(2, {u"B", kPlace64Bit});
    list->SetRecord(3, {u"C", kPlaceCurrentUser});
    form->PushButton3_Click();
    EXPECT_EQ(CheckStates(), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(desktop.queried_paths, (std::vector<Text>{u"C:\\Program Files (x86)\\Old\\uninst.exe",
                                                        u"C:\\Program Files\\Old\\uninst.exe",
                                                        u"C:\\Program Files\\Old\\uninst.exe"}));
}

TEST_F(OperationsTest, SuggestGoesOnAfterAFailedCheckMark) {
    Fill({{u"A", u"c:\\gone.exe", u"A"}, {u"B", u"c:\\gone.exe", u"B"}});
    Refuse("SetChecked", 1);
    form->PushButton3_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{108});
    EXPECT_EQ(CheckStates(), (std::vector<bool>{false, true}));
}

TEST_F(OperationsTest, SuggestWithAFailedCountWalksIntoTheBodyOnceAndEnds) {
    Fill({{u"A", u"c:\\gone.exe", u"A"}});
    Refuse("Count");
    form->PushButton3_Click();
    EXPECT_EQ(ReportLabels(), (std::vector<int>{100, 102}));
    EXPECT_EQ(desktop.file_test_runs_ended, desktop.file_test_runs_begun);
    EXPECT_EQ(CheckStates(), std::vector<bool>{false});
}

// ---- Start Removing Checked Entries ----

TEST_F(OperationsTest, RemoveWalksFromLastToFirstAndTakesNeighboursTogether) {
    Fill({{u"1", u"", u"K1"}, {u"2", u"", u"K2"}, {u"3", u"", u"K3", u"", true},
          {u"4", u"", u"K4", u"", true}, {u"5", u"", u"K5", u"", true}, {u"6", u"", u"K6"}});
    registry.CreateKey(Text(kUninstallKeyPath) + u"\\K4\\Sub\\Deeper");
    Record();
    form->PushButton2_Click();
    EXPECT_EQ(Names(), (std::vector<Text>{u"1", u"2", u"6"}));
    EXPECT_FALSE(KeyExists(u"K3"));
    EXPECT_FALSE(KeyExists(u"K4"));
    EXPECT_FALSE(KeyExists(u"K5"));
    EXPECT_TRUE(KeyExists(u"K6"));
    std::vector<std::string> removes;
    for (const auto& a : accesses)
        if (a.rfind("Remove", 0) == 0) removes.push_back(a);
    EXPECT_EQ(removes, (std::vector<std::string>{"Remove 5", "Remove 4", "Remove 3"}));
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(OperationsTest, RemoveWithNothingCheckedChangesNothing) {
    Fill({{u"1", u"", u"K1"}, {u"2", u"", u"K2"}});
    form->PushButton2_Click();
    EXPECT_EQ(Names().size(), 2U);
    EXPECT_EQ(registry.delete_calls(), 0U);
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(OperationsTest, RemoveAllEmptiesTheListAndTheKey) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}});
    form->PushButton2_Click();
    EXPECT_TRUE(Names().empty());
    EXPECT_TRUE(registry.SubkeyNames(kUninstallKeyPath).empty());
}

TEST_F(OperationsTest, AKeyAlreadyGoneCountsAsRemoved) {
    Fill({{u"1", u"", u"K1", u"", true}});
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, Text(kUninstallKeyPath) + u"\\K1"), kErrorSuccess);
    form->PushButton2_Click();
    EXPECT_TRUE(Names().empty());
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(OperationsTest, AnEntryWhoseKeyCannotBeDeletedStaysCheckedAndOneWarningSaysWhy) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}, {u"3", u"", u"K3", u"", true},
          {u"4", u"", u"K4"}});
    registry.MarkUndeletable(Text(kUninstallKeyPath) + u"\\K1");
    registry.MarkUndeletable(Text(kUninstallKeyPath) + u"\\K3\\Inner", kErrorSharingViolation);
    desktop.registry_write_advice = u"Ask the administrator.";
    form->PushButton2_Click();
    EXPECT_EQ(Names(), (std::vector<Text>{u"1", u"3", u"4"}));
    EXPECT_EQ(CheckStates(), (std::vector<bool>{true, true, false}));
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].style, 48);
    EXPECT_FALSE(desktop.boxes[0].caption.has_value());  // the application title
    EXPECT_EQ(desktop.boxes[0].shown_caption, u"Sweep Stale Records Out Of The Installed");
    // One paragraph per reason, in the order the walk (last to first) met them.
    EXPECT_EQ(desktop.boxes[0].prompt,
              RemovalFailureMessage(2, {u"Ask the administrator. (32)", u"Ask the administrator. (5)"}));
    EXPECT_EQ(desktop.boxes[0].prompt.substr(0, 2), u"2 ");
}

TEST_F(OperationsTest, RemoveDeletesInTheRowsOwnPlaceOnly) {
    const Text places[] = {Text(kUninstallKeyPath),
                           u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                           Text(u"HKEY_CURRENT_USER\\") + kUninstallKeyPath};
    for (const Text& uninstall : places) {
        registry.SetText(uninstall + u"\\Shared", u"DisplayName", u"Shared");
        registry.SetText(uninstall + u"\\Shared", u"UninstallString", u"c:\\x.exe");
        registry.SetText(uninstall + u"\\Shared\\Sub", u"Data", u"below");
    }
    ListUninstallEntries(registry, *list, desktop);
    ASSERT_EQ(list->Count(), 3);
    // Each row alone: its own key goes with its subtree, the two others stay.
    for (int row = 3; row >= 1; --row) {
        list->SetChecked(row, true);
        form->PushButton2_Click();
        for (int other = 0; other < 3; ++other)
            EXPECT_EQ(registry.KeyExists(places[other] + u"\\Shared"), other < row - 1) << row << " " << other;
        EXPECT_EQ(list->Count(), row - 1);
    }
    EXPECT_TRUE(desktop.boxes.empty());
}

// The columns only show a record: a row that names a key in them but was
// given no record deletes nothing.
TEST_F(OperationsTest, RemoveDeletesNothingForARowWithoutARecord) {
    Fill({{u"1", u"", u"K1", u"", true}});
    list->SetRecord(1, {});
    list->SetSubItem(1, 4, u"Elsewhere");
    form->PushButton2_Click();
    EXPECT_EQ(registry.delete_calls(), 0U);
    EXPECT_EQ(Names(), std::vector<Text>{u"1"});
}

TEST_F(OperationsTest, RemoveNeverDeletesWithAnEmptyKeyName) {
    Fill({{u"1", u"", u"", u"", true}, {u"2", u"", u"K2", u"", true}});
    registry.CreateKey(kUninstallKeyPath);
    form->PushButton2_Click();
    EXPECT_EQ(registry.delete_calls(), 1U);
    EXPECT_EQ(Names(), std::vector<Text>{u"1"});
}

// ---- The backup before removal ----

Text BackupText(const ScriptedDesktop::SavedFile& file) {
    Text text;
    for (std::size_t i = 2; i + 1 < file.bytes.size(); i += 2)
        text += static_cast<char16_t>(file.bytes[i] | (file.bytes[i + 1] << 8));
    return text;
}

TEST_F(OperationsTest, RemoveSavesEveryCheckedRecordBeforeDeletingAny) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2"}, {u"3", u"", u"K3", u"", true}});
    registry.SetDword(Text(kUninstallKeyPath) + u"\\K3\\Sub", u"Flag", 1);
    std::size_t deletions_at_backup = 99;
    desktop.on_backup = [&] { deletions_at_backup = registry.delete_calls(); };
    form->PushButton2_Click();
    EXPECT_EQ(deletions_at_backup, 0U);
    ASSERT_EQ(desktop.saved_backups.size(), 1U);
    const Text machine = u"HKEY_LOCAL_MACHINE\\" + Text(kUninstallKeyPath);
    EXPECT_EQ(BackupText(desktop.saved_backups[0]),
              u"Windows Registry Editor Version 5.00\r\n"
              u"\r\n[" + machine + u"\\K3]\r\n\"DisplayName\"=\"3\"\r\n"
              u"\r\n[" + machine + u"\\K3\\Sub]\r\n\"Flag\"=dword:00000001\r\n"
              u"\r\n[" + machine + u"\\K1]\r\n\"DisplayName\"=\"1\"\r\n\r\n");
    EXPECT_EQ(Names(), std::vector<Text>{u"2"});
    EXPECT_TRUE(desktop.boxes.empty());
    // Each click its own file.
    list->SetChecked(1, true);
    form->PushButton2_Click();
    ASSERT_EQ(desktop.saved_backups.size(), 2U);
    EXPECT_NE(desktop.saved_backups[0].path, desktop.saved_backups[1].path);
}

TEST_F(OperationsTest, WithoutABackupNothingIsDeletedAndOneWarningNamesFolderAndReason) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}});
    desktop.backup_refusal = u"The disk is full.";
    form->PushButton2_Click();
    EXPECT_EQ(registry.delete_calls(), 0U);
    EXPECT_EQ(Names(), (std::vector<Text>{u"1", u"2"}));
    EXPECT_EQ(CheckStates(), (std::vector<bool>{true, true}));
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].style, 48);
    EXPECT_EQ(desktop.boxes[0].prompt, BackupWriteFailureMessage(desktop.backup_folder, u"The disk is full."));
    EXPECT_NE(desktop.boxes[0].prompt.find(desktop.backup_folder), Text::npos);
}

TEST_F(OperationsTest, ARecordThatCannotBeReadForTheBackupStopsTheWholeClick) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}});
    registry.MarkUnreadable(Text(kUninstallKeyPath) + u"\\K1\\Locked");
    form->PushButton2_Click();
    EXPECT_EQ(registry.delete_calls(), 0U);
    EXPECT_TRUE(desktop.saved_backups.empty());
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].prompt,
              BackupReadFailureMessage(u"HKEY_LOCAL_MACHINE\\" + Text(kUninstallKeyPath) + u"\\K1\\Locked", kErrorAccessDenied));
}

TEST_F(OperationsTest, ARecordWhoseNamesABackupCannotHoldIsNotRemovedAndTheWarningSaysWhy) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}});
    registry.SetText(Text(kUninstallKeyPath) + u"\\K2\\Line\nBreak", u"x", u"y");
    form->PushButton2_Click();
    EXPECT_EQ(registry.delete_calls(), 0U);
    EXPECT_EQ(CheckStates(), (std::vector<bool>{true, true}));
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].prompt, BackupReadFailureMessage(u"HKEY_LOCAL_MACHINE\\" + Text(kUninstallKeyPath) +
                                                                    u"\\K2\\Line\nBreak",
                                                                kErrorInvalidData));
    EXPECT_NE(desktop.boxes[0].prompt.find(u"line break"), Text::npos);
}

TEST_F(OperationsTest, AClickThatDeletesNothingLeavesNoBackup) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}});
    registry.MarkUndeletable(Text(kUninstallKeyPath) + u"\\K1");
    registry.MarkUndeletable(Text(kUninstallKeyPath) + u"\\K2", kErrorSharingViolation);
    form->PushButton2_Click();
    EXPECT_EQ(desktop.boxes.size(), 1U);
    EXPECT_TRUE(desktop.saved_backups.empty());
    EXPECT_EQ(desktop.discarded_backups.size(), 1U);
    // One deletion made: the backup stays.
    registry.MarkUndeletable(Text(kUninstallKeyPath) + u"\\K2", kErrorSuccess);
    form->PushButton2_Click();
    EXPECT_EQ(desktop.saved_backups.size(), 1U);
    EXPECT_EQ(desktop.discarded_backups.size(), 1U);
}

TEST_F(OperationsTest, KeysAlreadyGoneAreLeftOutOfTheBackup) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}});
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, Text(kUninstallKeyPath) + u"\\K1"), kErrorSuccess);
    form->PushButton2_Click();
    ASSERT_EQ(desktop.saved_backups.size(), 1U);
    EXPECT_EQ(BackupText(desktop.saved_backups[0]).find(u"K1]"), Text::npos);
    EXPECT_NE(BackupText(desktop.saved_backups[0]).find(u"K2]"), Text::npos);
    EXPECT_TRUE(Names().empty());
    // With every key gone there is nothing to keep, and no file.
    Fill({{u"3", u"", u"K3", u"", true}});
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, Text(kUninstallKeyPath) + u"\\K3"), kErrorSuccess);
    form->PushButton2_Click();
    EXPECT_EQ(desktop.saved_backups.size(), 1U);
    EXPECT_TRUE(Names().empty());
}

TEST_F(OperationsTest, RemoveWithNothingCheckedWritesNoBackup) {
    Fill({{u"1", u"", u"K1"}});
    form->PushButton2_Click();
    EXPECT_TRUE(desktop.saved_backups.empty());
}

struct RemoveFailure {
    const char* behaviour;
    const char* operation;
    int position;
    std::vector<int> labels;
    std::vector<Text> names_left;
    std::size_t deletions;
};

void PrintTo(const RemoveFailure& c, std::ostream* os) { *os << c.behaviour; }

class RemoveFailures : public OperationsTest, public ::testing::WithParamInterface<RemoveFailure> {};

TEST_P(RemoveFailures, GoOnWithoutDeletingForTheFailedEntry) {
    Fill({{u"1", u"", u"K1", u"", true}, {u"2", u"", u"K2", u"", true}, {u"3", u"", u"K3", u"", true}});
    Refuse(GetParam().operation, GetParam().position);
    form->PushButton2_Click();
    EXPECT_EQ(ReportLabels(), GetParam().labels);
    EXPECT_EQ(Names(), GetParam().names_left);
    EXPECT_EQ(registry.delete_calls(), GetParam().deletions);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RemoveFailures,
    ::testing::Values(RemoveFailure{"CheckMarkUnreadable", "Checked", 2, {108}, {u"2"}, 2},
                      RemoveFailure{"RecordUnreadable", "Record", 2, {110}, {u"2"}, 2},
                      RemoveFailure{"RowNotRemoved", "Remove", 2, {114}, {u"2"}, 3},
                      // A failed count leaves no entry to work on: the first
                      // check fails at position 0, and the walk ends.
                      RemoveFailure{"CountUnreadable", "Count", 0, {106, 108}, {u"1", u"2", u"3"}, 0}),
    [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr::testing
