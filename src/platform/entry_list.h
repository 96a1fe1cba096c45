#pragma once
// The entry list behind ListView1: columns with header texts and widths, and
// rows with a text, four subitems, the record they stand for and the
// checked and selected flags.
// Positions are 1-based. A position outside 1..Count() fails with
// "Index out of bounds", as the list control does.
//
// The model owns the entries; a front end's widget shows it through an
// EntryListObserver and writes the user's own clicks back with SetChecked and
// SetSelected. Operations are virtual so tests can make the list refuse an
// access at a chosen call.

#include <cstddef>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "platform/record_key.h"
#include "platform/text.h"

namespace ssr {

// SubItems(1) to SubItems(4): "Uninstall", "FileExists", "KeyName", "Location".
inline constexpr int kSubItemCount = 4;

// What a row holds, kept small: at 30,000 rows every pointer counts. A
// text that one of the row's other texts already holds, or that many rows
// share, is held once; read the columns and the command through SubItem and
// Command.
struct ListItem {
    Text text;
    // "Uninstall" and "FileExists", the columns each row has its own text for.
    Text own_sub_items[2];
    // "KeyName" when it differs from the record's key name (it never does
    // for a listed row), and "Location", one text per place held by the list.
    std::unique_ptr<Text> key_name;
    const Text* location = nullptr;
    // The uninstall command as the registry gave it, when it differs from
    // the "Uninstall" column. Not a column: that column may show a rewritten
    // text (the DLL of a rundll32 command), and Uninstall must start what
    // the record itself names.
    std::unique_ptr<Text> command;
    // The record the row stands for. Not a column either: the "KeyName" and
    // "Location" columns only show it.
    RecordKey record;
    bool checked = false;
    bool selected = false;
    bool command_is_column = false;
    bool key_name_is_record = false;

    // SubItems(k), 1 to kSubItemCount, without a bounds check.
    [[nodiscard]] const Text& SubItem(int k) const {
        switch (k) {
            case 1:
            case 2:
                return own_sub_items[k - 1];
            case 3:
                return key_name_is_record ? record.name : key_name ? *key_name : NoText();
            default:
                return location ? *location : NoText();
        }
    }
    [[nodiscard]] const Text& Command() const {
        return command_is_column ? own_sub_items[0] : command ? *command : NoText();
    }

private:
    [[nodiscard]] static const Text& NoText() {
        static const Text none;
        return none;
    }
};

struct ColumnHeader {
    Text text;
    float width = 0.0F;  // twips
};

class EntryListObserver {
public:
    virtual ~EntryListObserver() = default;
    virtual void ColumnsChanged() {}
    virtual void RowsCleared() {}
    virtual void RowInserted(int /*position*/) {}
    virtual void RowRemoved(int /*position*/) {}
    virtual void RowChanged(int /*position*/) {}
};

class EntryList {
public:
    EntryList() = default;
    EntryList(EntryList&&) = default;
    EntryList& operator=(EntryList&&) = default;
    virtual ~EntryList() = default;

    // ColumnHeaders
    virtual void AddColumnHeader(TextView text);
    virtual void SetColumnWidth(int column, float twips);
    [[nodiscard]] int ColumnCount() const { return static_cast<int>(m_columns.size()); }
    [[nodiscard]] const ColumnHeader& Column(int column) const;

    // ListItems
    virtual void Clear();
    // Appends a row with its text only and returns its position.
    virtual int Add(TextView text);
    [[nodiscard]] virtual int Count() const;
    [[nodiscard]] virtual const Text& ItemText(int position) const;
    [[nodiscard]] virtual const Text& SubItem(int position, int k) const;
    virtual void SetSubItem(int position, int k, TextView text);
    [[nodiscard]] virtual const Text& Command(int position) const;
    virtual void SetCommand(int position, TextView command);
    [[nodiscard]] virtual const RecordKey& Record(int position) const;
    virtual void SetRecord(int position, RecordKey record);
    [[nodiscard]] virtual bool Checked(int position) const;
    virtual void SetChecked(int position, bool checked);
    [[nodiscard]] virtual bool Selected(int position) const;
    virtual void SetSelected(int position, bool selected);
    virtual void Remove(int position);

    // Direct read access for views; no bounds failure, no notification.
    [[nodiscard]] const ListItem& Row(int position) const { return *m_rows[static_cast<std::size_t>(position - 1)]; }

    void SetObserver(EntryListObserver* observer) { m_observer = observer; }

protected:
    [[nodiscard]] ListItem& At(int position);
    [[nodiscard]] const ListItem& At(int position) const;

private:
    std::vector<ColumnHeader> m_columns;
    // Rows by pointer: removing one of many moves pointers, not whole rows,
    // so a Remove click that takes thousands of rows stays quick.
    std::vector<std::unique_ptr<ListItem>> m_rows;
    // The "Location" texts the rows show: a handful of places for any number of rows.
    std::set<Text, std::less<>> m_locations;
    EntryListObserver* m_observer = nullptr;
};

}  // namespace ssr
