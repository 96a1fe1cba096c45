// The entry list's rows, flags and observer.
#include "platform/entry_list.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/failure.h"

namespace ssr {
namespace {

struct RecordingObserver : EntryListObserver {
    std::vector<std::string> events;
    void ColumnsChanged() override { events.emplace_back("columns"); }
    void RowsCleared() override { events.emplace_back("cleared"); }
    void RowInserted(int p) override { events.push_back("inserted " + std::to_string(p)); }
    void RowRemoved(int p) override { events.push_back("removed " + std::to_string(p)); }
    void RowChanged(int p) override { events.push_back("changed " + std::to_string(p)); }
};

EntryList Numbered(int count) {
    EntryList list;
    for (int i = 1; i <= count; ++i) list.Add(u"row " + DecimalText(i));
    return list;
}

TEST(EntryListTest, RemovingMovesTheLaterRowsUp) {
    EntryList list = Numbered(6);
    list.Remove(5);
    list.Remove(4);
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list.ItemText(4), u"row 6");
}

TEST(EntryListTest, PositionsOutsideTheListFail) {
    EntryList list = Numbered(2);
    const std::function<void()> accesses[] = {
        [&] { (void)list.ItemText(0); },      [&] { (void)list.ItemText(3); },
        [&] { (void)list.SubItem(1, 0); },    [&] { (void)list.SubItem(1, 5); },
        [&] { list.SetChecked(3, true); },    [&] { list.Remove(-1); },
        [&] { list.SetColumnWidth(1, 0.0F); },
    };
    for (const auto& access : accesses) EXPECT_THROW(access(), Failure);
    EXPECT_EQ(Numbered(0).Count(), 0);
}

TEST(EntryListTest, TellsTheViewAboutEveryChange) {
    EntryList list;
    RecordingObserver observer;
    list.SetObserver(&observer);
    list.AddColumnHeader(u"A");
    list.Add(u"one");
    list.SetSubItem(1, 2, u"path");
    list.SetChecked(1, true);
    list.SetChecked(1, true);  // no change, no event
    list.SetSelected(1, true);
    list.Remove(1);
    list.Clear();
    EXPECT_EQ(observer.events, (std::vector<std::string>{"columns", "inserted 1", "changed 1", "changed 1", "changed 1",
                                                         "removed 1", "cleared"}));
}

// A view that reads each row as it hears of it, as a widget drawing it would.
struct ReadingObserver : EntryListObserver {
    explicit ReadingObserver(EntryList& l) : list(l) {}
    EntryList& list;
    std::vector<Text> seen;
    void RowInserted(int p) override { seen.push_back(list.Row(p).ItemText()); }
    void RowChanged(int p) override { seen.push_back(list.Row(p).SubItem(1)); }
};

TEST(EntryListTest, AViewReadingEachChangeSeesItAndTheRowsStayWhole) {
    EntryList list;
    ReadingObserver observer(list);
    list.SetObserver(&observer);
    for (const char16_t* name : {u"one", u"two \u0416"}) {
        const int p = list.Add(name);
        list.SetSubItem(p, 1, Text(name) + u".exe");
        list.SetCommand(p, Text(name) + u".exe");
    }
    list.Remove(2);
    EXPECT_EQ(observer.seen, (std::vector<Text>{u"one", u"one.exe", u"two \u0416", u"two \u0416.exe"}));
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Command(1), u"one.exe");
    list.SetSubItem(list.Add(u"three"), 2, u"x");
    EXPECT_EQ(list.Row(2).SubItem(2), u"x");
}

// A row as the listing fills it, then one later change: the command, the
// record and the columns must each read back what was last set for them,
// whichever of them hold one text between them.
struct HeldOnceCase {
    const char* name;
    std::function<void(EntryList&)> change;
    const char16_t* uninstall_column;
    const char16_t* command;
    const char16_t* key_name_column;
    const char16_t* record_name;
    const char16_t* location_column;
};

void PrintTo(const HeldOnceCase& c, std::ostream* os) { *os << c.name; }

class EntryListHeldOnceTest : public testing::TestWithParam<HeldOnceCase> {};

TEST_P(EntryListHeldOnceTest, EachTextReadsBackWhatWasLastSetForIt) {
    EntryList list;
    list.Add(u"Product");
    list.SetSubItem(1, 1, u"C:\\app\\unins000.exe");
    list.SetCommand(1, u"C:\\app\\unins000.exe");
    list.SetSubItem(1, 3, u"{KEY}");
    list.SetSubItem(1, 4, u"Place");
    list.SetRecord(1, RecordKey{u"{KEY}", RecordPlace{}});
    GetParam().change(list);
    EXPECT_EQ(list.SubItem(1, 1), GetParam().uninstall_column);
    EXPECT_EQ(list.Command(1), GetParam().command);
    EXPECT_EQ(list.SubItem(1, 3), GetParam().key_name_column);
    EXPECT_EQ(list.Record(1).name, GetParam().record_name);
    EXPECT_EQ(list.SubItem(1, 4), GetParam().location_column);
    EXPECT_EQ(list.Row(1).SubItem(3), GetParam().key_name_column);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EntryListHeldOnceTest,
    testing::Values(
        HeldOnceCase{"AsListed", [](EntryList&) {}, u"C:\\app\\unins000.exe", u"C:\\app\\unins000.exe", u"{KEY}",
                     u"{KEY}", u"Place"},
        HeldOnceCase{"RewrittenColumnKeepsTheCommand", [](EntryList& l) { l.SetSubItem(1, 1, u"C:\\app\\x.dll"); },
                     u"C:\\app\\x.dll", u"C:\\app\\unins000.exe", u"{KEY}", u"{KEY}", u"Place"},
        HeldOnceCase{"NewCommandKeepsTheColumn", [](EntryList& l) { l.SetCommand(1, u"other.exe"); },
                     u"C:\\app\\unins000.exe", u"other.exe", u"{KEY}", u"{KEY}", u"Place"},
        HeldOnceCase{"NewKeyNameColumnKeepsTheRecord", [](EntryList& l) { l.SetSubItem(1, 3, u"shown"); },
                     u"C:\\app\\unins000.exe", u"C:\\app\\unins000.exe", u"shown", u"{KEY}", u"Place"},
        HeldOnceCase{"NewRecordKeepsTheKeyNameColumn", [](EntryList& l) { l.SetRecord(1, RecordKey{u"{OTHER}", {}}); },
                     u"C:\\app\\unins000.exe", u"C:\\app\\unins000.exe", u"{KEY}", u"{OTHER}", u"Place"},
        HeldOnceCase{"ReadBetweenChangesOfOneRow",
                     [](EntryList& l) {
                         (void)l.Row(1).Piece(1);
                         l.SetSubItem(1, 1, u"C:\\app\\x.dll");
                         (void)l.Row(1).Piece(1);
                         l.SetSubItem(1, 3, u"shown");
                     },
                     u"C:\\app\\x.dll", u"C:\\app\\unins000.exe", u"shown", u"{KEY}", u"Place"},
        HeldOnceCase{"EarlierRowRemovedWhileFilling",
                     [](EntryList& l) {
                         const int second = l.Add(u"second");
                         l.SetSubItem(second, 1, u"second.exe");
                         l.Remove(1);
                         l.SetSubItem(1, 4, u"Place");
                         l.SetRecord(1, RecordKey{u"{KEY}", {}});
                         l.SetSubItem(1, 3, u"{KEY}");
                         l.SetCommand(1, u"second.exe");
                     },
                     u"second.exe", u"second.exe", u"{KEY}", u"{KEY}", u"Place"},
        HeldOnceCase{"LocationsOfOtherRowsStayApart",
                     [](EntryList& l) {
                         l.SetSubItem(l.Add(u"second"), 4, u"Elsewhere");
                         l.SetSubItem(l.Add(u"third"), 4, u"Place");
                     },
                     u"C:\\app\\unins000.exe", u"C:\\app\\unins000.exe", u"{KEY}", u"{KEY}", u"Place"}),
    [](const testing::TestParamInfo<HeldOnceCase>& info) { return std::string(info.param.name); });

// Rows keep their texts in one byte a unit while every unit fits: each
// column must still read back exactly what was set, whatever the others hold.
struct StoredTextCase {
    const char* name;
    const char16_t* first;   // "Uninstall", set first
    const char16_t* second;  // "FileExists", set after it
    const char16_t* replaced_first;
};

void PrintTo(const StoredTextCase& c, std::ostream* os) { *os << c.name; }

class EntryListStoredTextTest : public testing::TestWithParam<StoredTextCase> {};

TEST_P(EntryListStoredTextTest, EveryColumnReadsBackAsSet) {
    EntryList list;
    list.Add(u"Caf\u00e9 \u00ff");
    list.SetSubItem(1, 1, GetParam().first);
    list.SetSubItem(1, 2, GetParam().second);
    list.SetRecord(1, RecordKey{u"{K\u00c9Y}", RecordPlace{}});
    EXPECT_EQ(list.SubItem(1, 1), GetParam().first);
    EXPECT_EQ(list.SubItem(1, 2), GetParam().second);
    // Another row is filled first, so the change meets a row already packed.
    list.SetSubItem(list.Add(u"next \u00e9"), 1, GetParam().first);
    list.SetSubItem(1, 1, GetParam().replaced_first);
    EXPECT_EQ(list.ItemText(2), u"next \u00e9");
    EXPECT_EQ(list.SubItem(2, 1), GetParam().first);
    EXPECT_EQ(list.ItemText(1), u"Caf\u00e9 \u00ff");
    EXPECT_EQ(list.SubItem(1, 1), GetParam().replaced_first);
    EXPECT_EQ(list.Command(1), u"") << "no command was set";
    EXPECT_EQ(list.SubItem(1, 2), GetParam().second);
    EXPECT_EQ(list.Record(1).name, u"{K\u00c9Y}");
    EXPECT_EQ(list.Row(1).Piece(2).ToText(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EntryListStoredTextTest,
    testing::Values(StoredTextCase{"Latin1Only", u"C:\\\u00e9t\u00e9.exe", u"x", u"y"},
                    StoredTextCase{"BeyondLatin1InALaterColumn", u"a", u"\u0416\u65e5\U0001F600", u"b"},
                    StoredTextCase{"BeyondLatin1ReplacedByLatin1", u"\u0100", u"\u00e9", u"plain"},
                    StoredTextCase{"Latin1ReplacedByBeyond", u"plain", u"\u00e9", u"\u0100\u00ff"},
                    StoredTextCase{"EmptyTexts", u"", u"", u""},
                    StoredTextCase{"BeyondLatin1OfTheSameLength", u"abc", u"x", u"a\u0100c"}),
    [](const testing::TestParamInfo<StoredTextCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ssr
