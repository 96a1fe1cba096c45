// The entry list's rows, flags and observer.
#include "platform/entry_list.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace ssr
