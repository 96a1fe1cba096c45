// The entry list behind ListView1: its columns, rows and flags, and their observer.
#include "platform/entry_list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "platform/failure.h"

namespace ssr {

// A row's texts one after the other behind this header, all Latin-1 or all
// UTF-16. The "KeyName" column while it is the record's name, and the command
// while it is the "Uninstall" column, are held once, as a flag; the
// "Location" text and the record's place are numbers into the list's tables.
struct ListItem::Block {
    enum Field : int { kText, kUninstall, kFileExists, kKeyName, kCommand, kRecordName, kFieldCount };
    enum Flag : std::uint8_t {
        kChecked = 1,
        kSelected = 2,
        kWide = 4,
        kCommandIsColumn = 8,
        kKeyNameIsRecord = 16,
    };

    std::uint32_t length[kFieldCount] = {};
    std::uint32_t location = 0;  // 0 for none, else 1 + the index in the list's locations
    std::uint32_t place = 0;     // index in the list's places
    std::uint8_t flags = 0;

    [[nodiscard]] bool Has(Flag flag) const { return (flags & flag) != 0; }
    void Set(Flag flag, bool on) { flags = static_cast<std::uint8_t>(on ? flags | flag : flags & ~flag); }
    [[nodiscard]] std::size_t Unit() const { return Has(kWide) ? 2 : 1; }
    [[nodiscard]] std::size_t Offset(int field) const {
        std::size_t offset = 0;
        for (int f = 0; f < field; ++f) offset += length[f];
        return offset * Unit();
    }
    [[nodiscard]] std::size_t Used() const { return Offset(kFieldCount); }
    [[nodiscard]] char* Data() { return reinterpret_cast<char*>(this + 1); }
    [[nodiscard]] const char* Data() const { return reinterpret_cast<const char*>(this + 1); }

    [[nodiscard]] RowText Field(int field) const { return RowText{Data() + Offset(field), length[field], Has(kWide)}; }
};

namespace {

using Block = ListItem::Block;

inline void CheckSubItemIndex(int k) {
    if (k < 1 || k > kSubItemCount) [[unlikely]] throw Failure(kIndexOutOfBounds);
}

RowText Piece(TextView text) { return RowText{text.data(), text.size(), true}; }

// A stored text back into `out`, reusing its room.
void AssignTo(Text& out, const RowText& text) {
    out.resize(text.length);
    if (text.length == 0) return;
    if (text.wide) {
        std::memcpy(out.data(), text.data, text.length * 2);
        return;
    }
    WidenLatin1(static_cast<const unsigned char*>(text.data), text.length, out.data());
}

// Whether a text repeats another, so a block can hold it once. A memory
// compare: the texts' own comparison goes a unit at a time.
bool Repeats(const Text& text, const Text& other) {
    return !text.empty() && text.size() == other.size() &&
           std::memcmp(text.data(), other.data(), text.size() * sizeof(char16_t)) == 0;
}

}  // namespace

// The open row's texts as the columns and the command show them; the flags
// that let a block hold one text for two are worked out when it is packed.
struct EntryList::OpenRow {
    Block head;
    Text texts[Block::kFieldCount];
};

void EntryList::FreeOpenRow::operator()(OpenRow* row) const { delete row; }

Text RowText::ToText() const {
    if (wide) return Text(static_cast<const char16_t*>(data), length);
    const auto* bytes = static_cast<const unsigned char*>(data);
    return Text(bytes, bytes + length);
}

ListItem::ListItem(const EntryList& list, const Block& block)
    : checked(block.Has(Block::kChecked)), selected(block.Has(Block::kSelected)), m_list(&list), m_block(&block) {}

RowText ListItem::Piece(int column) const {
    switch (column) {
        case 0: return m_block->Field(Block::kText);
        case 1: return m_block->Field(Block::kUninstall);
        case 2: return m_block->Field(Block::kFileExists);
        case 3:
            return m_block->Field(m_block->Has(Block::kKeyNameIsRecord) ? Block::kRecordName : Block::kKeyName);
        default:
            if (m_block->location == 0) return {};
            return ssr::Piece(*m_list->m_locations[m_block->location - 1]);
    }
}

Text ListItem::Command() const {
    return m_block->Field(m_block->Has(Block::kCommandIsColumn) ? Block::kUninstall : Block::kCommand).ToText();
}

RecordKey ListItem::Record() const {
    return RecordKey{m_block->Field(Block::kRecordName).ToText(), m_list->m_places[m_block->place]};
}

void EntryList::FreeBlock::operator()(Block* block) const noexcept {
    block->~Block();
    std::free(block);
}

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
    m_open_position = 0;
    m_location_texts.clear();
    m_locations.clear();
    m_places.clear();
    m_last_location = 0;
    m_last_place = 0;
    m_no_place = 0;
    if (m_observer) m_observer->RowsCleared();
}

int EntryList::Add(TextView text) {
    Close();
    if (!m_open) m_open.reset(new OpenRow);
    OpenRow& row = *m_open;
    row.head = Block{};
    // Every new row starts with no place of its own; the listing sets one next.
    if (m_no_place == 0) m_no_place = PlaceIndex(RecordPlace{}) + 1;
    row.head.place = m_no_place - 1;
    for (Text& field : row.texts) field.clear();
    row.texts[Block::kText].assign(text);
    m_rows.emplace_back(nullptr);
    const int position = static_cast<int>(m_rows.size());
    m_open_position = position;
    if (m_observer) m_observer->RowInserted(position);
    return position;
}

int EntryList::Count() const { return static_cast<int>(m_rows.size()); }

ListItem EntryList::Row(int position) const {
    if (position == m_open_position) Close();
    return ListItem(*this, *m_rows[static_cast<std::size_t>(position - 1)]);
}

Block& EntryList::At(int position) {
    if (position < 1 || static_cast<std::size_t>(position) > m_rows.size()) [[unlikely]] throw Failure(kIndexOutOfBounds);
    if (position == m_open_position) Close();
    return *m_rows[static_cast<std::size_t>(position - 1)];
}

const Block& EntryList::At(int position) const {
    if (position < 1 || static_cast<std::size_t>(position) > m_rows.size()) [[unlikely]] throw Failure(kIndexOutOfBounds);
    if (position == m_open_position) Close();
    return *m_rows[static_cast<std::size_t>(position - 1)];
}

EntryList::OpenRow& EntryList::Reopen(int position) {
    if (position < 1 || static_cast<std::size_t>(position) > m_rows.size()) [[unlikely]] throw Failure(kIndexOutOfBounds);
    Close();
    if (!m_open) m_open.reset(new OpenRow);
    OpenRow& row = *m_open;
    const Block& block = *m_rows[static_cast<std::size_t>(position - 1)];
    const ListItem item(*this, block);
    row.head = block;
    row.head.Set(Block::kCommandIsColumn, false);
    row.head.Set(Block::kKeyNameIsRecord, false);
    AssignTo(row.texts[Block::kText], item.Piece(0));
    AssignTo(row.texts[Block::kUninstall], item.Piece(1));
    AssignTo(row.texts[Block::kFileExists], item.Piece(2));
    AssignTo(row.texts[Block::kKeyName], item.Piece(3));
    AssignTo(row.texts[Block::kCommand],
             block.Field(block.Has(Block::kCommandIsColumn) ? Block::kUninstall : Block::kCommand));
    AssignTo(row.texts[Block::kRecordName], block.Field(Block::kRecordName));
    m_open_position = position;
    return row;
}

// One block of the row's exact size, Latin-1 unless a unit needs more; the
// "KeyName" column and the command are held once where they repeat the
// record's name or the "Uninstall" column.
void EntryList::Close() const {
    if (m_open_position == 0 || !m_open) {
        m_open_position = 0;
        return;
    }
    const OpenRow& row = *m_open;
    const Text& key_name = row.texts[Block::kKeyName];
    const Text& command = row.texts[Block::kCommand];
    const bool key_name_is_record = Repeats(key_name, row.texts[Block::kRecordName]);
    const bool command_is_column = Repeats(command, row.texts[Block::kUninstall]);
    TextView fields[Block::kFieldCount];
    std::size_t units = 0;
    for (int f = 0; f < Block::kFieldCount; ++f) {
        fields[f] = row.texts[f];
        units += fields[f].size();
    }
    if (key_name_is_record) units -= fields[Block::kKeyName].size(), fields[Block::kKeyName] = {};
    if (command_is_column) units -= fields[Block::kCommand].size(), fields[Block::kCommand] = {};

    const auto allocate = [](std::size_t bytes) {
        void* memory = std::malloc(sizeof(Block) + bytes);
        if (!memory) throw std::bad_alloc();
        return static_cast<Block*>(memory);
    };
    Block* block = allocate(units);
    const auto make = [&](Block* into, bool wide) {
        new (into) Block(row.head);
        into->Set(Block::kKeyNameIsRecord, key_name_is_record);
        into->Set(Block::kCommandIsColumn, command_is_column);
        into->Set(Block::kWide, wide);
        for (int f = 0; f < Block::kFieldCount; ++f) into->length[f] = static_cast<std::uint32_t>(fields[f].size());
    };
    make(block, false);
    char* out = block->Data();
    bool narrow = true;
    for (const TextView field : fields) {
        if (!field.empty() && !NarrowLatin1(field.data(), field.size(), reinterpret_cast<unsigned char*>(out))) {
            narrow = false;
            break;
        }
        out += field.size();
    }
    if (!narrow) {
        std::free(block);
        block = allocate(units * 2);
        make(block, true);
        out = block->Data();
        for (const TextView field : fields) {
            if (!field.empty()) std::memcpy(out, field.data(), field.size() * 2);
            out += field.size() * 2;
        }
    }
    m_rows[static_cast<std::size_t>(m_open_position - 1)].reset(block);
    m_open_position = 0;
}

std::uint32_t EntryList::LocationIndex(TextView text) {
    if (text.empty()) return 0;
    if (m_last_location != 0) {
        const Text& last = *m_locations[m_last_location - 1];
        if (last.size() == text.size() && std::memcmp(last.data(), text.data(), text.size() * sizeof(char16_t)) == 0)
            return m_last_location;
    }
    auto found = m_location_texts.find(text);
    if (found == m_location_texts.end()) {
        found = m_location_texts.emplace(Text(text), static_cast<std::uint32_t>(m_locations.size() + 1)).first;
        m_locations.push_back(&found->first);
    }
    m_last_location = found->second;
    return found->second;
}

std::uint32_t EntryList::PlaceIndex(const RecordPlace& place) {
    const auto same = [&](const RecordPlace& p) { return p == place && p.location == place.location; };
    // Rows come place by place: nearly every row names the place the one before named.
    if (m_last_place < m_places.size() && same(m_places[m_last_place])) return m_last_place;
    const auto found = std::find_if(m_places.begin(), m_places.end(), same);
    m_last_place = static_cast<std::uint32_t>(found - m_places.begin());
    if (found == m_places.end()) m_places.push_back(place);
    return m_last_place;
}

Text EntryList::ItemText(int position) const { return At(position).Field(Block::kText).ToText(); }

Text EntryList::SubItem(int position, int k) const {
    CheckSubItemIndex(k);
    return ListItem(*this, At(position)).SubItem(k);
}

void EntryList::SetSubItem(int position, int k, TextView text) {
    CheckSubItemIndex(k);
    OpenRow& row = Open(position);
    switch (k) {
        case 1: row.texts[Block::kUninstall].assign(text); break;
        case 2: row.texts[Block::kFileExists].assign(text); break;
        case 3: row.texts[Block::kKeyName].assign(text); break;
        default: row.head.location = LocationIndex(text);
    }
    if (m_observer) m_observer->RowChanged(position);
}

Text EntryList::Command(int position) const { return ListItem(*this, At(position)).Command(); }

// Hidden, so no view needs to hear of it.
void EntryList::SetCommand(int position, TextView command) {
    Open(position).texts[Block::kCommand].assign(command);
}

RecordKey EntryList::Record(int position) const { return ListItem(*this, At(position)).Record(); }

// Hidden too: the columns that show it are set on their own.
void EntryList::SetRecord(int position, const RecordKey& record) {
    OpenRow& row = Open(position);
    row.head.place = PlaceIndex(record.place);
    row.texts[Block::kRecordName].assign(record.name);
}

bool EntryList::Checked(int position) const { return At(position).Has(Block::kChecked); }

void EntryList::SetChecked(int position, bool checked) {
    Block& item = At(position);
    if (item.Has(Block::kChecked) == checked) return;
    item.Set(Block::kChecked, checked);
    if (m_observer) m_observer->RowChanged(position);
}

bool EntryList::Selected(int position) const { return At(position).Has(Block::kSelected); }

void EntryList::SetSelected(int position, bool selected) {
    Block& item = At(position);
    if (item.Has(Block::kSelected) == selected) return;
    item.Set(Block::kSelected, selected);
    if (m_observer) m_observer->RowChanged(position);
}

void EntryList::Remove(int position) {
    if (position < 1 || static_cast<std::size_t>(position) > m_rows.size()) [[unlikely]] throw Failure(kIndexOutOfBounds);
    if (m_open_position == position) m_open_position = 0;
    else if (m_open_position > position) --m_open_position;
    m_rows.erase(m_rows.begin() + (position - 1));
    if (m_observer) m_observer->RowRemoved(position);
}

}  // namespace ssr
