#pragma once
// The entry list behind ListView1: columns with header texts and widths, and
// rows with a text, four subitems, the command and record they stand for and
// the checked and selected flags.
// Positions are 1-based. A position outside 1..Count() fails with
// "Index out of bounds", as the list control does.
//
// The model owns the entries; a front end's widget shows it through an
// EntryListObserver and writes the user's own clicks back with SetChecked and
// SetSelected. Operations are virtual so tests can make the list refuse an
// access at a chosen call.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <vector>

#include "platform/record_key.h"
#include "platform/text.h"

namespace ssr {

// SubItems(1) to SubItems(4): "Uninstall", "FileExists", "KeyName", "Location".
inline constexpr int kSubItemCount = 4;

// A text as a row keeps it: Latin-1 units when every unit of the row fits in
// one byte (nearly every row; half the bytes), else UTF-16. Views convert it
// once into their own string type without a Text in between.
struct RowText {
    const void* data = nullptr;
    std::size_t length = 0;
    bool wide = false;

    [[nodiscard]] Text ToText() const;
};

class EntryList;

// One row as views and handlers read it, without a bounds check. The flags
// are copied; the texts are read out of the row on demand, so the view stays
// valid only until the list next changes.
class ListItem {
public:
    bool checked = false;
    bool selected = false;

    [[nodiscard]] Text ItemText() const { return Piece(0).ToText(); }
    // SubItems(k), 1 to kSubItemCount.
    [[nodiscard]] Text SubItem(int k) const { return Piece(k).ToText(); }
    [[nodiscard]] Text Command() const;
    [[nodiscard]] RecordKey Record() const;
    // The item's text (column 0) or SubItems(column), as stored.
    [[nodiscard]] RowText Piece(int column) const;

    // How the list stores a row; known to the list alone.
    struct Block;

private:
    friend class EntryList;
    ListItem(const EntryList& list, const Block& block);

    const EntryList* m_list;
    const Block* m_block;
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
    // Texts come back by value: a row does not hold them as Text.
    [[nodiscard]] virtual Text ItemText(int position) const;
    [[nodiscard]] virtual Text SubItem(int position, int k) const;
    virtual void SetSubItem(int position, int k, TextView text);
    [[nodiscard]] virtual Text Command(int position) const;
    virtual void SetCommand(int position, TextView command);
    [[nodiscard]] virtual RecordKey Record(int position) const;
    virtual void SetRecord(int position, const RecordKey& record);
    [[nodiscard]] virtual bool Checked(int position) const;
    virtual void SetChecked(int position, bool checked);
    [[nodiscard]] virtual bool Selected(int position) const;
    virtual void SetSelected(int position, bool selected);
    virtual void Remove(int position);

    // Direct read access for views; no bounds failure, no notification.
    [[nodiscard]] ListItem Row(int position) const;

    void SetObserver(EntryListObserver* observer) { m_observer = observer; }

private:
    friend class ListItem;
    using Block = ListItem::Block;
    struct OpenRow;
    struct FreeOpenRow {
        void operator()(OpenRow* row) const;
    };

    // Reading a row packs it first if it is the open one.
    [[nodiscard]] Block& At(int position);
    [[nodiscard]] const Block& At(int position) const;
    // Makes `position` the open row, packing the one before. The row being
    // filled is open already: that answer costs no call.
    OpenRow& Open(int position) {
        if (position != 0 && position == m_open_position) return *m_open;
        return Reopen(position);
    }
    OpenRow& Reopen(int position);
    void Close() const;
    struct FreeBlock {
        void operator()(Block* block) const noexcept;
    };
    using BlockPointer = std::unique_ptr<Block, FreeBlock>;
    [[nodiscard]] std::uint32_t LocationIndex(TextView text);
    [[nodiscard]] std::uint32_t PlaceIndex(const RecordPlace& place);

    std::vector<ColumnHeader> m_columns;
    // Each row is one block holding all its texts: at 30,000 rows a heap
    // block per text, or a Text's own 32 bytes, would be most of the memory.
    // Rows by pointer: removing one of many moves pointers, not whole rows,
    // so a Remove click that takes thousands of rows stays quick.
    // Mutable because a read packs the open row into its place here.
    mutable std::vector<BlockPointer> m_rows;
    // The row whose texts are being set (0 for none) keeps them apart, in
    // buffers that serve row after row, and is packed into a block of its
    // exact size once: when another row is set or anything reads it. The
    // listing sets each row's columns one by one, and packing at each would
    // move the row's bytes five times.
    std::unique_ptr<OpenRow, FreeOpenRow> m_open;
    mutable int m_open_position = 0;
    // The "Location" texts and record places the rows name by number: a
    // handful for any number of rows. The map keeps each text where it is.
    std::map<Text, std::uint32_t, std::less<>> m_location_texts;
    std::vector<const Text*> m_locations;
    std::vector<RecordPlace> m_places;
    // The location found last: rows come place by place, so nearly every
    // row names the one before it.
    std::uint32_t m_last_location = 0;
    // The place found last, and 1 + the index of no place (0 until a row needs it).
    std::uint32_t m_last_place = 0;
    std::uint32_t m_no_place = 0;
    EntryListObserver* m_observer = nullptr;
};

}  // namespace ssr
