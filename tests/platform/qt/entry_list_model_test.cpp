// The Qt model over the entry list.
#include "platform/qt/entry_list_model.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/entry_list.h"
#include "platform/qt/qt_desktop.h"

namespace ssr {
namespace {

struct ModelFixture : ::testing::Test {
    EntryList list;
    EntryListModel model{list};

    void Fill(int rows) {
        for (const char16_t* header : {u"Programs and Features Entries", u"Uninstall", u"FileExists", u"KeyName"})
            list.AddColumnHeader(header);
        for (int i = 1; i <= rows; ++i) {
            const int at = list.Add(u"Entry " + DecimalText(i));
            list.SetSubItem(at, 1, u"C:\\App" + DecimalText(i) + u"\\unins.exe /S");
            list.SetSubItem(at, 2, u"c:\\app" + DecimalText(i) + u"\\unins.exe");
            list.SetSubItem(at, 3, u"{key-" + DecimalText(i) + u"}");
        }
    }
    QString Cell(int row, int column, int role = Qt::DisplayRole) const {
        return model.data(model.index(row, column), role).toString();
    }
    Qt::CheckState CheckOf(int row) const {
        return model.data(model.index(row, 0), Qt::CheckStateRole).value<Qt::CheckState>();
    }
};

TEST_F(ModelFixture, ShowsTheFourColumnsWithTheirHeadersAndTexts) {
    Fill(2);
    list.SetColumnWidth(1, 7000.0F);
    list.SetColumnWidth(2, 0.0F);
    ASSERT_EQ(model.columnCount(), 4);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Programs and Features Entries"));
    EXPECT_EQ(model.headerData(3, Qt::Horizontal).toString(), QStringLiteral("KeyName"));
    EXPECT_EQ(model.ColumnWidthTwips(0), 7000.0F);
    EXPECT_EQ(model.ColumnWidthTwips(1), 0.0F);
    EXPECT_EQ(Cell(1, 0), QStringLiteral("Entry 2"));
    EXPECT_EQ(Cell(1, 1), QStringLiteral("C:\\App2\\unins.exe /S"));
    EXPECT_EQ(Cell(1, 2), QStringLiteral("c:\\app2\\unins.exe"));
    EXPECT_EQ(Cell(1, 3), QStringLiteral("{key-2}"));
    // Only the first column carries the check box.
    EXPECT_TRUE(model.flags(model.index(0, 0)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model.flags(model.index(0, 1)).testFlag(Qt::ItemIsUserCheckable));
    EXPECT_FALSE(model.data(model.index(0, 1), Qt::CheckStateRole).isValid());
}

TEST_F(ModelFixture, CheckStatesGoBothWays) {
    Fill(3);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // The user's click reaches the list ...
    ASSERT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(list.Checked(2));
    EXPECT_FALSE(list.Checked(1));
    ASSERT_TRUE(model.setData(model.index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_FALSE(list.Checked(2));

    // ... and a handler's check mark reaches the view.
    changed.clear();
    list.SetChecked(3, true);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.front().at(0).toModelIndex().row(), 2);
    EXPECT_EQ(CheckOf(2), Qt::Checked);
    EXPECT_EQ(CheckOf(0), Qt::Unchecked);

    // Other roles and columns are not editable.
    EXPECT_FALSE(model.setData(model.index(0, 1), Qt::Checked, Qt::CheckStateRole));
    EXPECT_FALSE(model.setData(model.index(0, 0), QStringLiteral("renamed"), Qt::EditRole));
    EXPECT_EQ(Cell(0, 0), QStringLiteral("Entry 1"));
}

TEST_F(ModelFixture, RemovalTakesTheRowOutAndMovesTheRestUp) {
    Fill(6);
    list.SetChecked(6, true);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    list.Remove(5);
    list.Remove(4);
    ASSERT_EQ(removed.count(), 2);
    EXPECT_EQ(removed.at(0).at(1).toInt(), 4);
    EXPECT_EQ(removed.at(1).at(1).toInt(), 3);
    ASSERT_EQ(model.rowCount(), 4);
    EXPECT_EQ(Cell(3, 0), QStringLiteral("Entry 6"));
    EXPECT_EQ(CheckOf(3), Qt::Checked);
}

TEST_F(ModelFixture, ABatchIsAnnouncedOnceAtItsEnd) {
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.BeginBatch();
    Fill(50);
    list.SetChecked(7, true);
    EXPECT_EQ(model.rowCount(), 0);  // views still see what they saw before
    model.EndBatch();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(inserted.count(), 0);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(CheckOf(6), Qt::Checked);
}

TEST_F(ModelFixture, AClearedListInsideABatchIsNeverReadPastItsEnd) {
    Fill(10);
    model.BeginBatch();
    list.Clear();
    EXPECT_EQ(model.rowCount(), 10);
    EXPECT_FALSE(model.data(model.index(9, 0)).isValid());
    model.EndBatch();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(ModelFixture, SelectionFromTheViewIsWrittenIntoTheList) {
    Fill(4);
    QTreeView view;
    view.setModel(&model);
    view.setSelectionMode(QAbstractItemView::SingleSelection);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    QObject::connect(view.selectionModel(), &QItemSelectionModel::selectionChanged, &model,
                     &EntryListModel::WriteSelection);
    view.selectionModel()->select(model.index(2, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_TRUE(list.Selected(3));
    view.selectionModel()->select(model.index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_TRUE(list.Selected(1));
    EXPECT_FALSE(list.Selected(3));
}

TEST_F(ModelFixture, HintOnEveryRow) {
    Fill(2);
    model.SetHint(QStringLiteral("drag the divider"));
    EXPECT_EQ(Cell(1, 0, Qt::ToolTipRole), QStringLiteral("drag the divider"));
    // The row's own lines come below, asked for when the hint shows.
    model.SetRowHint([](int position) { return QStringList{QStringLiteral("row %1").arg(position), "found"}; });
    EXPECT_EQ(Cell(1, 0, Qt::ToolTipRole), QStringLiteral("drag the divider\nrow 2\nfound"));
}

// Thirty thousand rows, filled the way Form_Load fills them and then shown.
// The time is printed for the notes; a test never asserts one.
TEST_F(ModelFixture, ThirtyThousandRowsFillAndShow) {
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setRootIsDecorated(false);
    view.setModel(&model);
    view.resize(520, 263);

    QElapsedTimer timer;
    timer.start();
    model.BeginBatch();
    Fill(30000);
    model.EndBatch();
    const qint64 filled = timer.elapsed();
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.scrollToBottom();
    QApplication::processEvents();
    view.viewport()->repaint();
    const qint64 shown = timer.elapsed();
    std::printf("[ figures ] 30000 rows: filled in %lld ms, filled and shown in %lld ms\n",
                static_cast<long long>(filled), static_cast<long long>(shown));

    EXPECT_EQ(model.rowCount(), 30000);
    EXPECT_GT(view.indexAt(QPoint(5, 5)).row(), 29000);  // the top row after scrolling to the end
    list.SetChecked(30000, true);
    EXPECT_EQ(CheckOf(29999), Qt::Checked);
}

}  // namespace
}  // namespace ssr
