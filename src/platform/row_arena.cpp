// RowArena: the entry list's rows carved out of a few large chunks.
#include "platform/row_arena.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace ssr {

namespace {
std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }
}  // namespace

RowArena::RowArena(RowArena&& other) noexcept
    : m_source(other.m_source),
      m_chunks(std::exchange(other.m_chunks, {})),
      m_current(std::exchange(other.m_current, kNone)),
      m_next_size(std::exchange(other.m_next_size, kFirstChunk)) {}

RowArena& RowArena::operator=(RowArena&& other) noexcept {
    if (this != &other) {
        Release();
        m_source = other.m_source;
        m_chunks = std::exchange(other.m_chunks, {});
        m_current = std::exchange(other.m_current, kNone);
        m_next_size = std::exchange(other.m_next_size, kFirstChunk);
    }
    return *this;
}

void* RowArena::Allocate(std::size_t bytes, std::uint16_t& chunk) {
    if (bytes > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
    bytes = RoundUp(std::max<std::size_t>(bytes, 1), kAlignment);
    if (m_current == kNone || m_chunks[m_current].size - m_chunks[m_current].used < bytes) {
        // A block larger than an ordinary chunk gets one of its own size.
        const bool own = bytes > m_next_size;
        const std::size_t size = own ? RoundUp(bytes, kFirstChunk) : m_next_size;
        auto free_number = std::find_if(m_chunks.begin(), m_chunks.end(), [](const Chunk& c) { return !c.base; });
        if (free_number == m_chunks.end()) {
            if (m_chunks.size() > std::numeric_limits<std::uint16_t>::max()) throw std::bad_alloc();
            m_chunks.emplace_back();
            free_number = m_chunks.end() - 1;
        }
        Chunk fresh;
        fresh.base = static_cast<char*>(m_source->allocate(size, alignof(std::max_align_t)));
        fresh.size = size;
        *free_number = fresh;
        const auto number = static_cast<std::size_t>(free_number - m_chunks.begin());
        if (own) {
            Chunk& mine = m_chunks[number];
            mine.used = bytes;
            mine.live = 1;
            chunk = static_cast<std::uint16_t>(number);
            return mine.base;
        }
        // The chunk left behind goes back once its last row does; an empty one at once.
        if (m_current != kNone && m_chunks[m_current].live == 0) GiveBack(m_chunks[m_current]);
        m_current = number;
        m_next_size = std::min(m_next_size * 8, kLargestChunk);
    }
    Chunk& current = m_chunks[m_current];
    void* block = current.base + current.used;
    current.used += bytes;
    ++current.live;
    chunk = static_cast<std::uint16_t>(m_current);
    return block;
}

void RowArena::Free(const void* block, std::size_t bytes, std::uint16_t number) noexcept {
    if (number >= m_chunks.size() || !m_chunks[number].base || m_chunks[number].live == 0) return;
    Chunk& chunk = m_chunks[number];
    --chunk.live;
    if (number == m_current) {
        // The block given out last, or the chunk's last one: its room serves the next.
        if (chunk.live == 0)
            chunk.used = 0;
        else if (static_cast<const char*>(block) + RoundUp(std::max<std::size_t>(bytes, 1), kAlignment) ==
                 chunk.base + chunk.used)
            chunk.used = static_cast<std::size_t>(static_cast<const char*>(block) - chunk.base);
        return;
    }
    if (chunk.live == 0) GiveBack(chunk);
}

void RowArena::GiveBack(Chunk& chunk) noexcept {
    m_source->deallocate(chunk.base, chunk.size, alignof(std::max_align_t));
    chunk = Chunk{};
}

void RowArena::Release() noexcept {
    for (Chunk& chunk : m_chunks)
        if (chunk.base) GiveBack(chunk);
    m_chunks.clear();
    m_current = kNone;
    m_next_size = kFirstChunk;
}

std::size_t RowArena::ChunkCount() const {
    return static_cast<std::size_t>(std::count_if(m_chunks.begin(), m_chunks.end(), [](const Chunk& c) { return c.base; }));
}

}  // namespace ssr
