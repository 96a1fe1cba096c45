#pragma once
// ListView1 as a Qt model: the rows and columns of an ssr::EntryList, kept in
// step through the list's observer. The list owns the entries; the user's
// check-box clicks and selection are written back into it, so the handlers
// read what the user sees.
//
// Filling the list at start-up is batched: between BeginBatch and EndBatch
// the model keeps showing what it showed before and announces the change with
// one reset at the end, which keeps 30,000 rows cheap.

#include <QAbstractTableModel>
#include <QItemSelection>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/entry_list.h"

namespace ssr {

class EntryListModel final : public QAbstractTableModel, private EntryListObserver {
    Q_OBJECT

public:
    explicit EntryListModel(EntryList& list, QObject* parent = nullptr);
    ~EntryListModel() override;
    EntryListModel(const EntryListModel&) = delete;
    EntryListModel& operator=(const EntryListModel&) = delete;

    [[nodiscard]] EntryList& list() { return m_list; }

    // The hint shown when the pointer rests on a row.
    void SetHint(QString hint) { m_hint = std::move(hint); }
    // The lines the hint of the row at a 1-based position shows below that;
    // asked for each time the hint shows.
    using RowHintSource = std::function<QStringList(int position)>;
    void SetRowHint(RowHintSource source) { m_row_hint = std::move(source); }

    void BeginBatch();
    void EndBatch();

    // Writes a view's selection change into the list's Selected flags.
    void WriteSelection(const QItemSelection& selected, const QItemSelection& deselected);

    [[nodiscard]] int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

    // The column's width in twips, as the list's ColumnHeaders hold it.
    [[nodiscard]] float ColumnWidthTwips(int section) const;

signals:
    // The column headers (texts or widths) changed; views re-apply the widths.
    void ColumnsLaidOut();

private:
    void ColumnsChanged() override;
    void RowsCleared() override;
    void RowInserted(int position) override;
    void RowRemoved(int position) override;
    void RowChanged(int position) override;
    void Reset();

    EntryList& m_list;
    [[nodiscard]] QVariant RowHint(int position) const;

    QString m_hint;
    RowHintSource m_row_hint;
    bool m_batching = false;
    // What the views have been told; differs from the list only inside a batch.
    int m_rows = 0;
    int m_columns = 0;
};

}  // namespace ssr
