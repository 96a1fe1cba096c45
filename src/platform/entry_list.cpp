// The entry list behind ListView1: its columns, rows and flags, and their observer.
#include "platform/entry_list.h"

#include <utility>

#include "platform/failure.h"

namespace ssr {

namespace {
void CheckSubItemIndex(int k) {
    if (k < 1 || k > kSubItemCount) throw Failure(kIndexOutOfBounds);
}

// The "KeyName" column held as the record's name, when it is that.
void ShareKeyName(ListItem& item) {
    if (!item.key_name || item.record.name.empty() || *item.key_name != item.record.name) return;
    item.key_name.reset();
    item.key_name_is_record = true;
}

void UnshareKeyName(ListItem& item) {
    if (!item.key_name_is_record) return;
    item.key_name = std::make_unique<Text>(item.record.name);
    item.key_name_is_record = false;
}
}  // namespace

void EntryList::AddColumnHeader(TextView text) {
    m_columns.push_back(ColumnHeader{Text(text), 1440.0F});
    if (m_observer) m_observer->ColumnsChanged();
}

void EntryList::SetColumnWidth(int column, float twips) {
    if (column < 1 || column > ColumnCount()) throw Failure(kIndexOutOfBounds);
    m_columns[static_cast<std::size_t>(column - 1)].width = twips < 0 ? 0 : twips;
    if (m_observer) m_observer->ColumnsChanged();
}

const ColumnHeader& EntryList::Column(int column) const {
    if (column < 1 || column > ColumnCount()) throw Failure(kIndexOutOfBounds);
    return m_columns[static_cast<std::size_t>(column - 1)];
}

void EntryList::Clear() {
    m_rows.clear();
    m_locations.clear();
    if (m_observer) m_observer->RowsCleared();
}

int EntryList::Add(TextView text) {
    auto item = std::make_unique<ListItem>();
    item->text = Text(text);
    m_rows.push_back(std::move(item));
    const int position = static_cast<int>(m_rows.size());
    if (m_observer) m_observer->RowInserted(position);
    return position;
}

int EntryList::Count() const { return static_cast<int>(m_rows.size()); }

ListItem& EntryList::At(int position) {
    if (position < 1 || position > Count()) throw Failure(kIndexOutOfBounds);
    return *m_rows[static_cast<std::size_t>(position - 1)];
}

const ListItem& EntryList::At(int position) const {
    if (position < 1 || position > Count()) throw Failure(kIndexOutOfBounds);
    return *m_rows[static_cast<std::size_t>(position - 1)];
}

const Text& EntryList::ItemText(int position) const { return At(position).text; }

const Text& EntryList::SubItem(int position, int k) const {
    CheckSubItemIndex(k);
    return At(position).SubItem(k);
}

void EntryList::SetSubItem(int position, int k, TextView text) {
    CheckSubItemIndex(k);
    ListItem& item = At(position);
    switch (k) {
        case 1:
            // The command keeps what the column showed before.
            if (item.command_is_column) {
                item.command = std::make_unique<Text>(std::move(item.own_sub_items[0]));
                item.command_is_column = false;
            }
            item.own_sub_items[0] = Text(text);
            break;
        case 2:
            item.own_sub_items[1] = Text(text);
            break;
        case 3:
            item.key_name_is_record = false;
            item.key_name = text.empty() ? nullptr : std::make_unique<Text>(text);
            ShareKeyName(item);
            break;
        default: {
            auto found = m_locations.find(text);
            if (found == m_locations.end()) found = m_locations.emplace(text).first;
            item.location = &*found;
        }
    }
    if (m_observer) m_observer->RowChanged(position);
}

const Text& EntryList::Command(int position) const { return At(position).Command(); }

// Hidden, so no view needs to hear of it.
void EntryList::SetCommand(int position, TextView command) {
    ListItem& item = At(position);
    item.command_is_column = !command.empty() && command == item.own_sub_items[0];
    item.command = item.command_is_column || command.empty() ? nullptr : std::make_unique<Text>(command);
}

const RecordKey& EntryList::Record(int position) const { return At(position).record; }

// Hidden too: the columns that show it are set on their own.
void EntryList::SetRecord(int position, RecordKey record) {
    ListItem& item = At(position);
    UnshareKeyName(item);
    item.record = std::move(record);
    ShareKeyName(item);
}

bool EntryList::Checked(int position) const { return At(position).checked; }

void EntryList::SetChecked(int position, bool checked) {
    ListItem& item = At(position);
    if (item.checked == checked) return;
    item.checked = checked;
    if (m_observer) m_observer->RowChanged(position);
}

bool EntryList::Selected(int position) const { return At(position).selected; }

void EntryList::SetSelected(int position, bool selected) {
    ListItem& item = At(position);
    if (item.selected == selected) return;
    item.selected = selected;
    if (m_observer) m_observer->RowChanged(position);
}

void EntryList::Remove(int position) {
    (void)At(position);  // bounds
    m_rows.erase(m_rows.begin() + (position - 1));
    if (m_observer) m_observer->RowRemoved(position);
}

}  // namespace ssr
