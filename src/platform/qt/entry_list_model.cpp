// ListView1 as a Qt model over the entry list.
#include "platform/qt/entry_list_model.h"

#include <set>

#include "platform/qt/qt_desktop.h"

namespace ssr {

namespace {
// Straight from the row's own units: no Text in between.
QString ToQString(const RowText& text) {
    const auto length = static_cast<qsizetype>(text.length);
    return text.wide ? QString::fromUtf16(static_cast<const char16_t*>(text.data), length)
                     : QString::fromLatin1(static_cast<const char*>(text.data), length);
}
}  // namespace

EntryListModel::EntryListModel(EntryList& list, QObject* parent)
    : QAbstractTableModel(parent), m_list(list), m_rows(list.Count()), m_columns(list.ColumnCount()) {
    m_list.SetObserver(this);
}

EntryListModel::~EntryListModel() { m_list.SetObserver(nullptr); }

void EntryListModel::BeginBatch() { m_batching = true; }

void EntryListModel::EndBatch() {
    m_batching = false;
    Reset();
}

void EntryListModel::Reset() {
    beginResetModel();
    m_rows = m_list.Count();
    m_columns = m_list.ColumnCount();
    endResetModel();
    emit ColumnsLaidOut();
}

// The list's hint, then what the row's own lines say: the columns after the
// name start hidden, and this is how a user tells two rows of one name apart.
QVariant EntryListModel::RowHint(int position) const {
    QStringList lines;
    if (!m_hint.isEmpty()) lines.append(m_hint);
    if (m_row_hint) lines.append(m_row_hint(position));
    if (lines.isEmpty()) return {};
    return lines.join(u'\n');
}

int EntryListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_rows; }

int EntryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_columns; }

QVariant EntryListModel::data(const QModelIndex& index, int role) const {
    // Inside a batch the list may already be shorter than what views were told.
    if (!index.isValid() || index.row() >= m_list.Count() || index.column() > kSubItemCount) return {};
    const ListItem item = m_list.Row(index.row() + 1);
    switch (role) {
        case Qt::DisplayRole:
            return ToQString(item.Piece(index.column()));
        case Qt::CheckStateRole:
            if (index.column() == 0) return item.checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::ToolTipRole:
            return RowHint(index.row() + 1);
        default:
            return {};
    }
}

bool EntryListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
    try {
        m_list.SetChecked(index.row() + 1, value.value<Qt::CheckState>() == Qt::Checked);
        return true;
    } catch (...) {
        return false;  // the list refused; the box shows the list's state
    }
}

Qt::ItemFlags EntryListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0) flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant EntryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= m_list.ColumnCount()) return {};
    if (role == Qt::DisplayRole) return ssr::ToQString(m_list.Column(section + 1).text);
    return {};
}

float EntryListModel::ColumnWidthTwips(int section) const {
    if (section < 0 || section >= m_list.ColumnCount()) return 0.0F;
    return m_list.Column(section + 1).width;
}

void EntryListModel::WriteSelection(const QItemSelection& selected, const QItemSelection& deselected) {
    const auto rows = [](const QItemSelection& selection) {
        std::set<int> result;
        for (const QModelIndex& index : selection.indexes()) result.insert(index.row() + 1);
        return result;
    };
    try {
        for (int position : rows(deselected))
            if (position <= m_list.Count()) m_list.SetSelected(position, false);
        for (int position : rows(selected))
            if (position <= m_list.Count()) m_list.SetSelected(position, true);
    } catch (...) {
        // A list that refuses keeps its own state; the next click writes again.
    }
}

void EntryListModel::ColumnsChanged() {
    if (m_batching) return;
    if (m_list.ColumnCount() != m_columns) {
        Reset();
        return;
    }
    if (m_columns > 0) emit headerDataChanged(Qt::Horizontal, 0, m_columns - 1);
    emit ColumnsLaidOut();
}

void EntryListModel::RowsCleared() {
    if (m_batching) return;
    Reset();
}

void EntryListModel::RowInserted(int position) {
    if (m_batching) return;
    beginInsertRows(QModelIndex(), position - 1, position - 1);
    ++m_rows;
    endInsertRows();
}

void EntryListModel::RowRemoved(int position) {
    if (m_batching) return;
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    --m_rows;
    endRemoveRows();
}

void EntryListModel::RowChanged(int position) {
    if (m_batching || position > m_rows) return;
    emit dataChanged(index(position - 1, 0), index(position - 1, std::max(m_columns, 1) - 1));
}

}  // namespace ssr
