// Selecting by text, uninstalling the selected entry, help and the pointer.
#include <optional>
#include <ostream>
#include <utility>
#include "operations/operations.h"
#include "operations_fixture.h"
#include "platform/failure.h"

namespace ssr::testing {
namespace {

// ---- Select All Containing / Not Containing This Text ----

const std::vector<Row> kNames = {{u"Acme Photo Studio", u"", u"A"},
                                 {u"Photo Viewer Pro", u"", u"B"},
                                 {u"Text Editor", u"", u"C", u"", true},
                                 {u"ÜBER Редактор \u0130nternet", u"", u"D"}};

constexpr FormHandler kContaining = &Form1::PushButton5_Click;
constexpr FormHandler kNotContaining = &Form1::PushButton6_Click;

struct SelectCase {
    const char* behaviour;
    Text typed;
    FormHandler button;
    std::vector<bool> checked;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SelectCase& c, std::ostream* os) { *os << c.behaviour; }

class SelectByText : public OperationsTest, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(SelectByText, OnlyAddsCheckMarks) {
    Fill(kNames);
    desktop.input_answers = {GetParam().typed};
    (form.get()->*GetParam().button)();
    EXPECT_EQ(CheckStates(), GetParam().checked);
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].kind, ScriptedDesktop::Box::Kind::Input);
    EXPECT_EQ(desktop.boxes[0].prompt, u"Enter text:");
    EXPECT_EQ(desktop.boxes[0].shown_caption, u"Sweep Stale Records Out Of The Installed");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SelectByText,
    ::testing::Values(SelectCase{"CapitalsMatchMixedCase", u"PHOTO", kContaining, {true, true, true, false}},
                      SelectCase{"AcrossABlankBetweenWords", u"me photo", kContaining, {true, false, true, false}},
                      SelectCase{"InsideAWord", u"dit", kContaining, {false, false, true, false}},
                      SelectCase{"TrailingBlankIsPartOfTheText", u"studio ", kContaining, {false, false, true, false}},
                      SelectCase{"NonAsciiIgnoresCase", u"über реДАКтор", kContaining, {false, false, true, true}},
                      SelectCase{"DottedCapitalIMatchesPlainI", u"internet", kContaining, {false, false, true, true}},
                      SelectCase{"CancelWithContainingChecksAll", u"", kContaining, {true, true, true, true}},
                      SelectCase{"NotContaining", u"photo", kNotContaining, {false, false, true, true}},
                      SelectCase{"CancelWithNotContainingChangesNothing", u"", kNotContaining, {false, false, true, false}},
                      SelectCase{"CheckedEntryThatDoesNotQualifyStaysChecked", u"zzz", kContaining, {false, false, true, false}}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST_F(OperationsTest, ContainingThenNotContainingChecksEverything) {
    Fill(kNames);
    desktop.input_answers = {u"photo", u"photo"};
    form->PushButton5_Click();
    form->PushButton6_Click();
    EXPECT_EQ(CheckStates(), (std::vector<bool>{true, true, true, true}));
}

TEST_F(OperationsTest, SelectOnAnEmptyListStillAsks) {
    form->PushButton5_Click();
    EXPECT_EQ(desktop.boxes.size(), 1U);
}

TEST_F(OperationsTest, SelectAfterAFailedInputBoxSearchesForNothing) {
    Fill(kNames);
    desktop.on_box = [](const ScriptedDesktop::Box& box) {
        if (box.kind == ScriptedDesktop::Box::Kind::Input) throw Failure(u"No input");
    };
    form->PushButton5_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{100});
    EXPECT_EQ(CheckStates(), (std::vector<bool>{true, true, true, true}));
}

struct SelectFailure {
    const char* behaviour;
    const char* operation;
    int position;
    std::vector<int> labels;
    std::vector<bool> checked;
};

void PrintTo(const SelectFailure& c, std::ostream* os) { *os << c.behaviour; }

class SelectFailures : public OperationsTest, public ::testing::WithParamInterface<SelectFailure> {};

TEST_P(SelectFailures, GoOnAsTheResumeRulesSay) {
    Fill(kNames);
    desktop.input_answers = {u"photo"};
    Refuse(GetParam().operation, GetParam().position);
    form->PushButton5_Click();
    EXPECT_EQ(ReportLabels(), GetParam().labels);
    EXPECT_EQ(CheckStates(), GetParam().checked);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SelectFailures,
    ::testing::Values(
        // An entry whose name cannot be read is never checked.
        SelectFailure{"NameUnreadable", "ItemText", 4, {104}, {true, true, true, false}},
        SelectFailure{"MatchingNameUnreadable", "ItemText", 2, {104}, {true, false, true, false}},
        SelectFailure{"CheckMarkRefused", "SetChecked", 1, {106}, {false, true, true, false}},
        // Without a walk there is no entry: the test, the mark and the move fail in turn.
        SelectFailure{"WalkCannotStart", "Count", 0, {102, 104, 106}, {false, false, true, false}}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// ---- Uninstall Selected Entry From Computer ----

struct SplitCase {
    const char* behaviour;
    Text command;
    std::vector<Text> existing;
    Text program;
    Text parameters;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.behaviour; }

class Split : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Split, SeparatesTheProgramFromItsParameters) {
    const auto& c = GetParam();
    const auto exists = [&](TextView path) {
        for (const Text& e : c.existing)
            if (EqualsIgnoringCase(e, path)) return true;
        return false;
    };
    const CommandLine split = SplitCommandLine(c.command, exists);
    EXPECT_EQ(split.program, c.program);
    EXPECT_EQ(split.parameters, c.parameters);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Split,
    ::testing::Values(
        SplitCase{"QuotedProgram", u"\"C:\\Program Files\\Foo\\unins000.exe\" /SILENT", {}, u"C:\\Program Files\\Foo\\unins000.exe", u"/SILENT"},
        SplitCase{"QuotedWithoutParameters", u"\"C:\\A B\\u.exe\"", {}, u"C:\\A B\\u.exe", u""},
        SplitCase{"UnclosedQuoteTakesTheRest", u"\"C:\\A B\\u.exe /x", {}, u"C:\\A B\\u.exe /x", u""},
        SplitCase{"UnquotedWithBlanksFindsTheShortestExistingRun", u"C:\\Program Files\\Cedar Notes\\uninstall.exe /quiet",
                  {u"C:\\Program Files\\Cedar Notes\\uninstall.exe"}, u"C:\\Program Files\\Cedar Notes\\uninstall.exe", u"/quiet"},
        SplitCase{"ShortestRunWins", u"C:\\App\\run me.exe now", {u"C:\\App\\run", u"C:\\App\\run me.exe"}, u"C:\\App\\run", u"me.exe now"},
        SplitCase{"WholeTextThatExists", u"C:\\A B\\u.exe", {u"C:\\A B\\u.exe"}, u"C:\\A B\\u.exe", u""},
        SplitCase{"NothingExistsTakesTheFirstWord", u"MsiExec.exe /X{12-34}", {}, u"MsiExec.exe", u"/X{12-34}"},
        SplitCase{"LeadingBlanksAreSkipped", u"  cmd.exe  /c echo", {}, u"cmd.exe", u"/c echo"},
        SplitCase{"EmptyCommand", u"", {}, u"", u""}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST_F(OperationsTest, UninstallStartsEverySelectedEntryInOrderFromTheApplicationFolder) {
    desktop.existing_paths = {u"C:\\Program Files\\Acme\\un.exe"};
    desktop.plain_files = desktop.existing_paths;
    Fill({{u"A", u"", u"A", u"C:\\Program Files\\Acme\\un.exe /S", false, true},
          {u"B", u"", u"B", u"b.exe", false, false},
          {u"C", u"", u"C", u"MsiExec.exe /X{1}", false, true},
          {u"D", u"", u"D", u"", false, true}});
    form->PushButton1_Click();
    ASSERT_EQ(desktop.shell_calls.size(), 3U);
    EXPECT_EQ(desktop.shell_calls[0].file, u"C:\\Program Files\\Acme\\un.exe");
    EXPECT_EQ(desktop.shell_calls[0].parameters, u"/S");
    EXPECT_EQ(desktop.shell_calls[0].directory, desktop.application_folder);
    EXPECT_EQ(desktop.shell_calls[0].show, ShowCommand::Normal);
    EXPECT_EQ(desktop.shell_calls[1].file, u"MsiExec.exe");
    EXPECT_EQ(desktop.shell_calls[1].parameters, u"/X{1}");
    EXPECT_EQ(desktop.shell_calls[2].file, u"");  // an empty text is still handed over
    EXPECT_TRUE(desktop.boxes.empty());
    EXPECT_EQ(Names().size(), 4U);
}

TEST_F(OperationsTest, UninstallNeverTakesAFolderForTheProgram) {
    desktop.existing_paths = {u"C:\\Program Files", u"C:\\Program Files (x86)\\Acme\\un.exe"};
    desktop.plain_files = {u"C:\\Program Files (x86)\\Acme\\un.exe"};
    Fill({{u"A", u"", u"A", u"C:\\Program Files (x86)\\Acme\\un.exe /S", false, true}});
    form->PushButton1_Click();
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    EXPECT_EQ(desktop.shell_calls[0].file, u"C:\\Program Files (x86)\\Acme\\un.exe");
    EXPECT_EQ(desktop.shell_calls[0].parameters, u"/S");
}

TEST_F(OperationsTest, UninstallWithoutSelectionDoesNothing) {
    Fill({{u"A", u"", u"A"}});
    form->PushButton1_Click();
    EXPECT_TRUE(desktop.shell_calls.empty());
    EXPECT_TRUE(desktop.boxes.empty());
}

TEST_F(OperationsTest, UninstallStartsNothingForAnEntryWhoseSelectionCannotBeRead) {
    Fill({{u"A", u"", u"A", u"a.exe", false, true}, {u"B", u"", u"B", u"b.exe", false, true}});
    Refuse("Selected", 1);
    form->PushButton1_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{102});
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    EXPECT_EQ(desktop.shell_calls[0].file, u"b.exe");
}

// The "Uninstall" column of a rundll32 record shows only its DLL; the
// record's own command is what runs.
TEST_F(OperationsTest, UninstallStartsTheCommandTheRecordGaveNotTheColumn) {
    Fill({{u"A", u"", u"A", u"c:\\windows\\system32\\dfshim.dll", false, true}});
    list->SetCommand(1, u"rundll32.exe dfshim.dll,ShArpMaintain App.application, Culture=neutral");
    form->PushButton1_Click();
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    EXPECT_EQ(desktop.shell_calls[0].file, u"rundll32.exe");
    EXPECT_EQ(desktop.shell_calls[0].parameters, u"dfshim.dll,ShArpMaintain App.application, Culture=neutral");
}

TEST_F(OperationsTest, UninstallReportsAnUnreadableKeptCommandAt104) {
    Fill({{u"A", u"", u"A", u"a.exe", false, true}, {u"B", u"", u"B", u"b.exe", false, true}});
    list->SetCommand(1, u"a.exe /x");
    Refuse("Command", 1);
    form->PushButton1_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{104});
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    EXPECT_EQ(desktop.shell_calls[0].file, u"b.exe");
}

TEST_F(OperationsTest, UninstallReportsAnUnreadableCommandAt104) {
    Fill({{u"A", u"", u"A", u"a.exe", false, true}, {u"B", u"", u"B", u"b.exe", false, true}});
    Refuse("SubItem", 1);
    form->PushButton1_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{104});
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    EXPECT_EQ(desktop.shell_calls[0].file, u"b.exe");
}

// What becomes of the row once its uninstaller has been asked to start.
// Rows: A (selected, the one started), B.
struct OutcomeCase {
    const char* behaviour;
    bool shell_refuses;         // the shell says at once that it cannot start it
    std::optional<bool> ended;  // what the desktop tells later: ran (true) or never opened it (false)
    bool record_removed;        // the uninstaller took the record away
    bool ends_during_a_handler; // the end is heard while the Help box is open
    std::vector<Text> rows_after;
    bool warned;
};

void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.behaviour; }

class UninstallOutcome : public OperationsTest, public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(UninstallOutcome, WarnsOrRefreshesTheRow) {
    const OutcomeCase& c = GetParam();
    Fill({{u"Alpha", u"", u"KA", u"\"C:\\Gone\\unins000.exe\" /S", false, true}, {u"Beta", u"", u"KB", u"b.exe"}});
    if (c.shell_refuses) desktop.shell_refusals[u"C:\\Gone\\unins000.exe"] = u"The program file was not found.";
    form->Dispatch(&Form1::PushButton1_Click);
    ASSERT_EQ(desktop.shell_calls.size(), 1U);
    const ProgramEnded ended = desktop.shell_calls[0].ended;
    if (c.record_removed) {
        ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, Text(kUninstallKeyPath) + u"\\KA"), kErrorSuccess);
    }
    if (c.ended) {
        ASSERT_TRUE(ended);
        const ShellStart outcome{*c.ended, *c.ended ? Text() : Text(u"Wine could not open the program.")};
        if (c.ends_during_a_handler) {
            bool heard = false;
            desktop.on_box = [&](const ScriptedDesktop::Box&) {
                if (std::exchange(heard, true)) return;
                ended(outcome);
                EXPECT_EQ(Names().size(), 2U) << "no row moves while a handler runs";
            };
            form->Dispatch(&Form1::PushButton4_Click);
        } else {
            ended(outcome);
        }
    }
    EXPECT_EQ(Names(), c.rows_after);
    std::vector<Text> warnings;
    for (const auto& box : desktop.boxes)
        if (box.style == kVbOkOnly + kVbExclamation && box.caption == std::nullopt) warnings.push_back(box.prompt);
    if (c.warned) {
        ASSERT_EQ(warnings.size(), 1U);
        EXPECT_TRUE(warnings[0].starts_with(u"The uninstaller of \"Alpha\" could not be started:\r\"C:\\Gone\\unins000.exe\" /S\r\r"))
            << ToUtf8(warnings[0]);
    } else {
        EXPECT_TRUE(warnings.empty());
    }
    EXPECT_TRUE(ReportLabels().empty());
    for (int i = 1; i <= list->EntryList::Count(); ++i)
        EXPECT_EQ(list->Row(i).selected, list->Row(i).ItemText() == u"Alpha") << "no other row becomes selected";
    ASSERT_EQ(desktop.key_watches.size(), 1U);
    EXPECT_EQ(*desktop.key_watches[0].watching, !c.shell_refuses && !c.ended) << "watched while it runs, and only then";
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, UninstallOutcome,
    ::testing::Values(
        OutcomeCase{"ShellCannotStartItWarnsAtOnce", true, std::nullopt, false, false, {u"Alpha", u"Beta"}, true},
        OutcomeCase{"WineCouldNotOpenItWarnsWhenHeard", false, false, false, false, {u"Alpha", u"Beta"}, true},
        OutcomeCase{"StillRunningChangesNothing", false, std::nullopt, true, false, {u"Alpha", u"Beta"}, false},
        OutcomeCase{"RecordGoneTakesTheRowAway", false, true, true, false, {u"Beta"}, false},
        OutcomeCase{"RecordStillThereKeepsTheRow", false, true, false, false, {u"Alpha", u"Beta"}, false},
        OutcomeCase{"EndHeardDuringAHandlerWaitsForIt", false, true, true, true, {u"Beta"}, false}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// While the uninstaller runs, a change of the key that holds its record has
// the record looked up again. Rows: A (selected, the one started), B.
struct KeyChangeCase {
    const char* behaviour;
    RecordPlace place;
    Text record_path;  // where the place keeps A's record
    enum class Record { Removed, Kept, Unreadable } record;
    std::vector<Text> rows_after;
};

void PrintTo(const KeyChangeCase& c, std::ostream* os) { *os << c.behaviour; }

class UninstallKeyChange : public OperationsTest, public ::testing::WithParamInterface<KeyChangeCase> {};

TEST_P(UninstallKeyChange, TakesTheRowAwayAsSoonAsTheRecordIsGone) {
    const KeyChangeCase& c = GetParam();
    Fill({{u"Alpha", u"", u"", u"a.exe", false, true}, {u"Beta", u"", u"KB", u"b.exe"}});
    list->SetRecord(1, {u"KA", c.place});
    registry.SetText(c.record_path, u"DisplayName", u"Alpha");
    form->Dispatch(&Form1::PushButton1_Click);
    ASSERT_EQ(desktop.key_watches.size(), 1U);
    const ScriptedDesktop::KeyWatchCall watch = desktop.key_watches[0];
    EXPECT_EQ(watch.root, c.place.root);
    EXPECT_EQ(watch.subkey, kUninstallKeyPath);
    EXPECT_EQ(watch.view, c.place.view);

    if (c.record == KeyChangeCase::Record::Removed) {
        ASSERT_EQ(registry.delete_tree(c.place.root, Text(kUninstallKeyPath) + u"\\KA", c.place.view), kErrorSuccess);
    }
    if (c.record == KeyChangeCase::Record::Unreadable) registry.MarkUnreadable(c.record_path);
    watch.changed();
    EXPECT_EQ(Names(), c.rows_after);
    EXPECT_EQ(*watch.watching, c.rows_after.size() == 2) << "the watch goes with the row";

    // The end, later, finds the same.
    desktop.shell_calls[0].ended({true, {}});
    EXPECT_EQ(Names(), c.rows_after);
    EXPECT_FALSE(*watch.watching);
    EXPECT_TRUE(ReportLabels().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Records, UninstallKeyChange,
    ::testing::Values(
        KeyChangeCase{"Removed64Bit", kPlace64Bit, Text(kUninstallKeyPath) + u"\\KA", KeyChangeCase::Record::Removed, {u"Beta"}},
        KeyChangeCase{"Removed32Bit", kPlace32Bit, u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KA",
                      KeyChangeCase::Record::Removed, {u"Beta"}},
        KeyChangeCase{"RemovedCurrentUser", kPlaceCurrentUser, u"HKEY_CURRENT_USER\\" + Text(kUninstallKeyPath) + u"\\KA",
                      KeyChangeCase::Record::Removed, {u"Beta"}},
        KeyChangeCase{"KeptKeepsTheRow", kPlace64Bit, Text(kUninstallKeyPath) + u"\\KA", KeyChangeCase::Record::Kept, {u"Alpha", u"Beta"}},
        // Access denied is no proof that the record is gone.
        KeyChangeCase{"UnreadableKeepsTheRow", kPlace64Bit, Text(kUninstallKeyPath) + u"\\KA", KeyChangeCase::Record::Unreadable,
                      {u"Alpha", u"Beta"}}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// The row's hint below the list's own, worked out when it shows.
struct HintCase {
    const char* behaviour;
    RecordPlace place;
    Text target;
    std::vector<Text> expected;
};

void PrintTo(const HintCase& c, std::ostream* os) { *os << c.behaviour; }

class RowHint : public OperationsTest, public ::testing::WithParamInterface<HintCase> {};

TEST_P(RowHint, SaysPlaceNameCommandAndSuggestsVerdict) {
    const HintCase& c = GetParam();
    desktop.existing_paths = {u"C:\\Here\\u.exe"};
    desktop.undecidable_paths = {{u"Q:\\Busy\\u.exe", FileDoubt::NoSuchDrive}};
    Fill({{u"A Program With A Name Longer Than The Column", c.target, u"Key", u"C:\\Here\\u.exe /S"}});
    list->SetRecord(1, {u"Key", c.place});
    EXPECT_EQ(form->RowHint(1), c.expected);
    EXPECT_TRUE(form->RowHint(2).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Targets, RowHint,
    ::testing::Values(
        HintCase{"MissingFile", kPlace64Bit, u"C:\\Gone\\u.exe",
                 {u"64-bit: Key", u"A Program With A Name Longer Than The Column", u"C:\\Here\\u.exe /S", u"not found: C:\\Gone\\u.exe"}},
        HintCase{"ExistingFile", kPlace32Bit, u"C:\\Here\\u.exe",
                 {u"32-bit: Key", u"A Program With A Name Longer Than The Column", u"C:\\Here\\u.exe /S", u"found"}},
        HintCase{"UndecidableFile", kPlaceCurrentUser, u"Q:\\Busy\\u.exe",
                 {u"Current user: Key", u"A Program With A Name Longer Than The Column", u"C:\\Here\\u.exe /S", u"cannot tell: drive not present"}},
        HintCase{"InstallerRecord", kPlace64Bit, u"IGNORE ME",
                 {u"64-bit: Key", u"A Program With A Name Longer Than The Column", u"C:\\Here\\u.exe /S", u"cannot tell: left to Windows Installer"}},
        HintCase{"RowWithoutPlace", RecordPlace{}, u"C:\\Here\\u.exe",
                 {u"A Program With A Name Longer Than The Column", u"C:\\Here\\u.exe /S", u"found"}}),
    [](const auto& info) { return std::string(info.param.behaviour); });

// ---- Help and pointer feedback ----

TEST_F(OperationsTest, HelpShowsTheExactTextUnderTheApplicationTitle) {
    form->PushButton4_Click();
    ASSERT_EQ(desktop.boxes.size(), 1U);
    EXPECT_EQ(desktop.boxes[0].style, 0);
    EXPECT_EQ(desktop.boxes[0].shown_caption, u"Sweep Stale Records Out Of The Installed");
    EXPECT_EQ(desktop.boxes[0].prompt,
              u"It is important to keep the Start > Control Panel > Programs and Features window clean.\r\r"
              u"This software will remove items from the Remove Programs and Features that you no longer want to see "
              u"probably because you have already uninstalled the applications/programs yourself. (To restate: This "
              u"software will not uninstall the applications/programs for you, it will simply remove the items from the "
              u"list)\r\r"
              u"The \"Suggest\" feature will show you which items should probably be removed from the list because the "
              u"files for the applications/programs no longer exist on your computer.\r\r"
              u"Email questions to support@sweep-stale-records.example");
}

TEST_F(OperationsTest, AFailingHelpBoxIsReportedAt100) {
    desktop.on_box = [](const ScriptedDesktop::Box& box) {
        if (box.style == 0) throw Failure(u"No box");
    };
    form->PushButton4_Click();
    EXPECT_EQ(ReportLabels(), std::vector<int>{100});
}

struct HoverCase {
    const char* behaviour;
    int start;
    std::vector<int> moves;  // 1..6 a button, 0 the window, -1 the list
    int expected;
};

void PrintTo(const HoverCase& c, std::ostream* os) { *os << c.behaviour; }

class Hover : public OperationsTest, public ::testing::WithParamInterface<HoverCase> {};

TEST_P(Hover, SetsThePointer) {
    form->SetMousePointer(GetParam().start);
    for (int target : GetParam().moves) {
        if (target > 0) form->PushButton_MouseMove();
        else if (target == 0) form->Form_MouseMove();
        else form->ListView1_MouseMove();
    }
    EXPECT_EQ(form->MousePointer(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Moves, Hover,
    ::testing::Values(HoverCase{"ButtonShowsTheHand", 0, {3}, 99},
                      HoverCase{"ButtonToButtonKeepsTheHand", 0, {3, 5}, 99},
                      HoverCase{"ButtonToListGivesTheArrow", 0, {3, -1}, 0},
                      HoverCase{"ButtonToWindowGivesTheArrow", 0, {2, 0}, 0},
                      HoverCase{"HourglassStaysOverButtons", 11, {1, 2}, 11},
                      HoverCase{"HourglassStaysOverTheList", 11, {-1, 0}, 11}),
    [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr::testing
