#pragma once
// RowArena: memory for the entry list's rows, carved one after the other out
// of a few large chunks instead of one heap block per row.
//
// At 30,000 rows the heap hands out 30,000 blocks and the system faults in
// their pages one by one as the listing fills them. Here the chunks grow
// from 64 KiB to 512 KiB to 2 MiB, so a short list costs little, and a
// source of chunks may back the large ones by huge pages (a handful of
// faults for the whole list). A chunk goes back to its source once no row
// lives in it. The room of a freed block is used again only when it was the
// block given out last (a row packed in one byte a character that turns out
// to need two is packed again in its place). The listing packs each row
// once; a row set again later takes new room, and its old room goes with
// its chunk.

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

namespace ssr {

class RowArena {
public:
    // Blocks are aligned to this.
    static constexpr std::size_t kAlignment = 8;

    explicit RowArena(std::pmr::memory_resource* source = std::pmr::new_delete_resource()) : m_source(source) {}
    ~RowArena() { Release(); }
    RowArena(RowArena&& other) noexcept;
    RowArena& operator=(RowArena&& other) noexcept;
    RowArena(const RowArena&) = delete;
    RowArena& operator=(const RowArena&) = delete;

    // A block of `bytes`, and the number of the chunk it lies in, to be
    // handed to Free with it. Throws std::bad_alloc when there is no room.
    [[nodiscard]] void* Allocate(std::size_t bytes, std::uint16_t& chunk);
    // The block of `bytes` (as allocated) is no longer used.
    void Free(const void* block, std::size_t bytes, std::uint16_t chunk) noexcept;
    // Every block at once: all chunks go back to the source.
    void Release() noexcept;

    // How many chunks are held, for tests.
    [[nodiscard]] std::size_t ChunkCount() const;

private:
    struct Chunk {
        char* base = nullptr;  // null for a number free to be used again
        std::size_t size = 0;
        std::size_t used = 0;
        std::size_t live = 0;  // blocks not yet freed
    };
    void GiveBack(Chunk& chunk) noexcept;

    std::pmr::memory_resource* m_source;
    std::vector<Chunk> m_chunks;
    // The chunk blocks are carved from, or none.
    std::size_t m_current = kNone;
    // The size the next ordinary chunk gets.
    std::size_t m_next_size = kFirstChunk;
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr std::size_t kFirstChunk = std::size_t{64} << 10;
    static constexpr std::size_t kLargestChunk = std::size_t{2} << 20;
};

}  // namespace ssr
