// The entry list behind ListView1: its columns, rows and flags, and their observer.
#include "platform/entry_list.h"

#include <algorithm>
#include <bit>
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

// Room a row being filled gets for the texts still to come, so that setting
// its columns one by one moves bytes inside one block instead of making a new
// block each time. Only the row being filled has it; see Tighten.
constexpr std::size_t kFillingRoom = 256;

void CheckSubItemIndex(int k) {
    if (k < 1 || k > kSubItemCount) throw Failure(kIndexOutOfBounds);
}

// Texts are converted four units at a time: filling 30,000 rows passes
// every character through these a few times.
static_assert(std::endian::native == std::endian::little, "four units are packed in memory order");

std::uint64_t Load64(const void* at) {
    std::uint64_t x;
    std::memcpy(&x, at, 8);
    return x;
}

std::uint32_t Load32(const void* at) {
    std::uint32_t x;
    std::memcpy(&x, at, 4);
    return x;
}

// Four UTF-16 units below 0x100 as four bytes, and back.
std::uint32_t Narrow4(std::uint64_t units) {
    units = (units | (units >> 8)) & 0x0000FFFF0000FFFFULL;
    return static_cast<std::uint32_t>(units | (units >> 16));
}

std::uint64_t Widen4(std::uint32_t bytes) {
    std::uint64_t units = bytes;
    units = (units | (units << 16)) & 0x0000FFFF0000FFFFULL;
    return (units | (units << 8)) & 0x00FF00FF00FF00FFULL;
}

bool FitsLatin1(const RowText& text) {
    if (!text.wide) return true;
    const auto* units = static_cast<const char16_t*>(text.data);
    std::uint64_t all = 0;
    std::size_t i = 0;
    for (; i + 4 <= text.length; i += 4) all |= Load64(units + i);
    for (; i < text.length; ++i) all |= units[i];
    return (all & 0xFF00FF00FF00FF00ULL) == 0;
}

RowText Piece(TextView text) { return RowText{text.data(), text.size(), true}; }

// `text` a byte a unit at `out`, telling on the way whether every unit fits
// in Latin-1; when one does not, what was written is of no use.
bool NarrowInto(char* out, TextView text) {
    std::uint64_t all = 0;
    std::size_t i = 0;
    for (; i + 4 <= text.size(); i += 4) {
        const std::uint64_t units = Load64(text.data() + i);
        all |= units;
        const std::uint32_t bytes = Narrow4(units);
        std::memcpy(out + i, &bytes, 4);
    }
    for (; i < text.size(); ++i) {
        all |= text[i];
        out[i] = static_cast<char>(static_cast<unsigned char>(text[i]));
    }
    return (all & 0xFF00FF00FF00FF00ULL) == 0;
}

bool Equal(const RowText& a, const RowText& b) {
    if (a.length != b.length) return false;
    if (a.wide == b.wide) return a.length == 0 || std::memcmp(a.data, b.data, a.length * (a.wide ? 2 : 1)) == 0;
    const auto* bytes = static_cast<const unsigned char*>(a.wide ? b.data : a.data);
    const auto* units = static_cast<const char16_t*>(a.wide ? a.data : b.data);
    std::size_t i = 0;
    for (; i + 4 <= a.length; i += 4)
        if (Widen4(Load32(bytes + i)) != Load64(units + i)) return false;
    for (; i < a.length; ++i)
        if (bytes[i] != units[i]) return false;
    return true;
}

// `text` at `out` in the row's width; a Latin-1 row gets only texts that fit.
void Write(char* out, const RowText& text, bool wide) {
    if (text.length == 0) return;
    if (wide == text.wide) {
        std::memcpy(out, text.data, text.length * (wide ? 2 : 1));
        return;
    }
    std::size_t i = 0;
    if (wide) {
        const auto* in = static_cast<const unsigned char*>(text.data);
        for (; i + 4 <= text.length; i += 4) {
            const std::uint64_t units = Widen4(Load32(in + i));
            std::memcpy(out + 2 * i, &units, 8);
        }
        for (; i < text.length; ++i) {
            const char16_t unit = in[i];
            std::memcpy(out + 2 * i, &unit, 2);
        }
    } else {
        const auto* in = static_cast<const char16_t*>(text.data);
        for (; i + 4 <= text.length; i += 4) {
            const std::uint32_t bytes = Narrow4(Load64(in + i));
            std::memcpy(out + i, &bytes, 4);
        }
        for (; i < text.length; ++i) out[i] = static_cast<char>(static_cast<unsigned char>(in[i]));
    }
}

// The bytes `fields` take in one row, and whether that row needs UTF-16.
std::size_t Bytes(const RowText (&fields)[Block::kFieldCount], bool& wide) {
    wide = false;
    std::size_t units = 0;
    for (const RowText& field : fields) {
        wide = wide || !FitsLatin1(field);
        units += field.length;
    }
    return units * (wide ? 2 : 1);
}

void* Allocate(std::size_t bytes) {
    void* memory = std::malloc(sizeof(Block) + bytes);
    if (!memory) throw std::bad_alloc();
    return memory;
}

// A block in `memory` with the header `head` and the texts `fields`, which
// may point into the block it replaces.
Block* Build(void* memory, const Block& head, const RowText (&fields)[Block::kFieldCount], bool wide) {
    auto* block = new (memory) Block(head);
    block->Set(Block::kWide, wide);
    char* out = block->Data();
    for (int f = 0; f < Block::kFieldCount; ++f) {
        block->length[f] = static_cast<std::uint32_t>(fields[f].length);
        Write(out, fields[f], wide);
        out += fields[f].length * (wide ? 2 : 1);
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
    m_spare.reset();
    m_filling = 0;
    m_location_texts.clear();
    m_locations.clear();
    m_places.clear();
    if (m_observer) m_observer->RowsCleared();
}

int EntryList::Add(TextView text) {
    Block head;
    head.place = PlaceIndex(RecordPlace{});
    const RowText fields[Block::kFieldCount] = {Piece(text)};
    Tighten();
    bool wide = false;
    const std::size_t bytes = Bytes(fields, wide);
    void* memory = nullptr;
    if (m_spare && m_spare_capacity >= bytes + kFillingRoom) {
        memory = m_spare.release();
        m_filling_capacity = m_spare_capacity;
    } else {
        memory = Allocate(bytes + kFillingRoom);
        m_filling_capacity = bytes + kFillingRoom;
    }
    m_rows.emplace_back(Build(memory, head, fields, wide));
    const int position = static_cast<int>(m_rows.size());
    m_filling = position;
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
    Block& row = At(position);
    const RowText piece = Piece(text);
    const bool wide = row.Has(Block::kWide);
    const std::size_t used = row.Used();
    const std::size_t unit = row.Unit();
    const std::size_t old_bytes = row.length[field] * unit;
    const std::size_t new_bytes = text.size() * unit;
    if (used - old_bytes + new_bytes <= (position == m_filling ? m_filling_capacity : used)) {
        const std::size_t offset = row.Offset(field);
        if (const std::size_t tail = used - offset - old_bytes; tail > 0 && new_bytes != old_bytes)
            std::memmove(row.Data() + offset + new_bytes, row.Data() + offset + old_bytes, tail);
        row.length[field] = static_cast<std::uint32_t>(text.size());
        if (wide) {
            Write(row.Data() + offset, piece, true);
            return;
        }
        if (NarrowInto(row.Data() + offset, text)) return;
        // A unit beyond Latin-1: the row is made again in UTF-16 below, from
        // its texts where they now stand.
    }
    RowText fields[Block::kFieldCount];
    for (int f = 0; f < Block::kFieldCount; ++f) fields[f] = row.Field(f);
    fields[field] = piece;
    if (position != m_filling) Tighten();
    bool made_wide = false;
    const std::size_t bytes = Bytes(fields, made_wide);
    m_rows[static_cast<std::size_t>(position - 1)].reset(Build(Allocate(bytes + kFillingRoom), row, fields, made_wide));
    m_filling = position;
    m_filling_capacity = bytes + kFillingRoom;
}

// The row being filled moves to a block of its own size once another row is
// filled. Its roomy block is kept for the next row rather than shrunk: a
// shrunk block leaves a small free piece behind per row, which the allocator
// keeps apart and seldom gives out again.
void EntryList::Tighten() {
    if (m_filling < 1 || m_filling > Count()) return;
    BlockPointer& row = m_rows[static_cast<std::size_t>(m_filling - 1)];
    m_filling = 0;
    // The same header and texts, without the room: one copy.
    const std::size_t used = row->Used();
    BlockPointer tight(new (Allocate(used)) Block(*row));
    std::memcpy(tight->Data(), row->Data(), used);
    m_spare = std::move(row);
    m_spare_capacity = m_filling_capacity;
    row = std::move(tight);
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
    Block& row = At(position);
    row.place = PlaceIndex(record.place);
    // The "KeyName" column keeps its text: it is held as the record's name
    // exactly while it is that.
    const RowText column = ListItem(*this, row).Piece(3);
    const bool is_record = column.length > 0 && Equal(column, Piece(record.name));
    if (row.Has(Block::kKeyNameIsRecord) && !is_record) {
        const Text shown = column.ToText();
        row.Set(Block::kKeyNameIsRecord, false);
        Replace(position, Block::kKeyName, shown);
    } else if (!row.Has(Block::kKeyNameIsRecord) && is_record) {
        row.Set(Block::kKeyNameIsRecord, true);
        Replace(position, Block::kKeyName, {});
    }
    Replace(position, Block::kRecordName, record.name);
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
    if (m_filling == position) m_filling = 0;
    else if (m_filling > position) --m_filling;
    if (m_observer) m_observer->RowRemoved(position);
}

}  // namespace ssr
