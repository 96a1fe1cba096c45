// The entry list behind ListView1: its columns, rows and flags, and their observer.
#include "platform/entry_list.h"

#include <algorithm>
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

    [[nodiscard]] RowText Field(int field) const {
        const std::size_t unit = Has(kWide) ? 2 : 1;
        std::size_t offset = 0;
        for (int f = 0; f < field; ++f) offset += length[f];
        return RowText{reinterpret_cast<const char*>(this + 1) + offset * unit, length[field], Has(kWide)};
    }
};

namespace {

using Block = ListItem::Block;

void CheckSubItemIndex(int k) {
    if (k < 1 || k > kSubItemCount) throw Failure(kIndexOutOfBounds);
}

bool FitsLatin1(const RowText& text) {
    if (!text.wide) return true;
    const auto* units = static_cast<const char16_t*>(text.data);
    return std::all_of(units, units + text.length, [](char16_t unit) { return unit < 0x100; });
}

RowText Piece(TextView text) { return RowText{text.data(), text.size(), true}; }

bool Equal(const RowText& a, const RowText& b) {
    if (a.length != b.length) return false;
    for (std::size_t i = 0; i < a.length; ++i) {
        const char16_t x = a.wide ? static_cast<const char16_t*>(a.data)[i] : static_cast<const unsigned char*>(a.data)[i];
        const char16_t y = b.wide ? static_cast<const char16_t*>(b.data)[i] : static_cast<const unsigned char*>(b.data)[i];
        if (x != y) return false;
    }
    return true;
}

// A new block with the header `head` (lengths and the wide flag are set here)
// and the texts `fields`, which may point into the block it replaces.
Block* Build(const Block& head, const RowText (&fields)[Block::kFieldCount]) {
    bool wide = false;
    std::size_t units = 0;
    for (const RowText& field : fields) {
        wide = wide || !FitsLatin1(field);
        units += field.length;
    }
    void* memory = ::operator new(sizeof(Block) + units * (wide ? 2 : 1));
    auto* block = new (memory) Block(head);
    block->Set(Block::kWide, wide);
    char* out = reinterpret_cast<char*>(block + 1);
    for (int f = 0; f < Block::kFieldCount; ++f) {
        const RowText& field = fields[f];
        block->length[f] = static_cast<std::uint32_t>(field.length);
        if (field.length == 0) continue;
        if (wide && field.wide) {
            std::memcpy(out, field.data, field.length * 2);
        } else if (wide) {
            const auto* in = static_cast<const unsigned char*>(field.data);
            for (std::size_t i = 0; i < field.length; ++i) {
                const char16_t unit = in[i];
                std::memcpy(out + i * 2, &unit, 2);
            }
        } else if (field.wide) {
            const auto* in = static_cast<const char16_t*>(field.data);
            for (std::size_t i = 0; i < field.length; ++i) out[i] = static_cast<char>(static_cast<unsigned char>(in[i]));
        } else {
            std::memcpy(out, field.data, field.length);
        }
        out += field.length * (wide ? 2 : 1);
    }
    return block;
}

}  // namespace

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

void EntryList::FreeBlock::operator()(Block* block) const {
    block->~Block();
    ::operator delete(block);
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
    m_location_texts.clear();
    m_locations.clear();
    m_places.clear();
    if (m_observer) m_observer->RowsCleared();
}

int EntryList::Add(TextView text) {
    Block head;
    head.place = PlaceIndex(RecordPlace{});
    const RowText fields[Block::kFieldCount] = {Piece(text)};
    m_rows.emplace_back(Build(head, fields));
    const int position = static_cast<int>(m_rows.size());
    if (m_observer) m_observer->RowInserted(position);
    return position;
}

int EntryList::Count() const { return static_cast<int>(m_rows.size()); }

Block& EntryList::At(int position) {
    if (position < 1 || position > Count()) throw Failure(kIndexOutOfBounds);
    return *m_rows[static_cast<std::size_t>(position - 1)];
}

const Block& EntryList::At(int position) const {
    if (position < 1 || position > Count()) throw Failure(kIndexOutOfBounds);
    return *m_rows[static_cast<std::size_t>(position - 1)];
}

void EntryList::Replace(int position, int field, TextView text) {
    const Block& old = At(position);
    RowText fields[Block::kFieldCount];
    for (int f = 0; f < Block::kFieldCount; ++f) fields[f] = old.Field(f);
    fields[field] = Piece(text);
    m_rows[static_cast<std::size_t>(position - 1)].reset(Build(old, fields));
}

std::uint32_t EntryList::LocationIndex(TextView text) {
    if (text.empty()) return 0;
    auto found = m_location_texts.find(text);
    if (found == m_location_texts.end()) {
        found = m_location_texts.emplace(Text(text), static_cast<std::uint32_t>(m_locations.size() + 1)).first;
        m_locations.push_back(&found->first);
    }
    return found->second;
}

std::uint32_t EntryList::PlaceIndex(const RecordPlace& place) {
    const auto same = [&](const RecordPlace& p) { return p == place && p.location == place.location; };
    const auto found = std::find_if(m_places.begin(), m_places.end(), same);
    if (found != m_places.end()) return static_cast<std::uint32_t>(found - m_places.begin());
    m_places.push_back(place);
    return static_cast<std::uint32_t>(m_places.size() - 1);
}

Text EntryList::ItemText(int position) const { return At(position).Field(Block::kText).ToText(); }

Text EntryList::SubItem(int position, int k) const {
    CheckSubItemIndex(k);
    return ListItem(*this, At(position)).SubItem(k);
}

void EntryList::SetSubItem(int position, int k, TextView text) {
    CheckSubItemIndex(k);
    Block& item = At(position);
    switch (k) {
        case 1:
            // The command keeps what the column showed before.
            if (item.Has(Block::kCommandIsColumn)) {
                const Text command = item.Field(Block::kUninstall).ToText();
                item.Set(Block::kCommandIsColumn, false);
                Replace(position, Block::kCommand, command);
            }
            Replace(position, Block::kUninstall, text);
            break;
        case 2:
            Replace(position, Block::kFileExists, text);
            break;
        case 3: {
            // Held as the record's name when it is that.
            const bool is_record = !text.empty() && Equal(Piece(text), item.Field(Block::kRecordName));
            item.Set(Block::kKeyNameIsRecord, is_record);
            Replace(position, Block::kKeyName, is_record ? TextView() : text);
            break;
        }
        default:
            item.location = LocationIndex(text);
    }
    if (m_observer) m_observer->RowChanged(position);
}

Text EntryList::Command(int position) const { return ListItem(*this, At(position)).Command(); }

// Hidden, so no view needs to hear of it.
void EntryList::SetCommand(int position, TextView command) {
    Block& item = At(position);
    const bool is_column = !command.empty() && Equal(Piece(command), item.Field(Block::kUninstall));
    item.Set(Block::kCommandIsColumn, is_column);
    Replace(position, Block::kCommand, is_column ? TextView() : command);
}

RecordKey EntryList::Record(int position) const { return ListItem(*this, At(position)).Record(); }

// Hidden too: the columns that show it are set on their own.
void EntryList::SetRecord(int position, RecordKey record) {
    Block& item = At(position);
    item.place = PlaceIndex(record.place);
    // The "KeyName" column keeps its text; it is held apart from the record
    // unless the new name is that text.
    Text key_name = ListItem(*this, item).SubItem(3);
    const bool is_record = !key_name.empty() && key_name == record.name;
    item.Set(Block::kKeyNameIsRecord, is_record);
    const Block& old = At(position);
    RowText fields[Block::kFieldCount];
    for (int f = 0; f < Block::kFieldCount; ++f) fields[f] = old.Field(f);
    fields[Block::kKeyName] = is_record ? RowText{} : Piece(key_name);
    fields[Block::kRecordName] = Piece(record.name);
    m_rows[static_cast<std::size_t>(position - 1)].reset(Build(old, fields));
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
    (void)At(position);  // bounds
    m_rows.erase(m_rows.begin() + (position - 1));
    if (m_observer) m_observer->RowRemoved(position);
}

}  // namespace ssr
