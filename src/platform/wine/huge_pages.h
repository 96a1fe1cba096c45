#pragma once
// Private anonymous mappings advised for transparent huge pages, and a source
// of such mappings for memory that is filled all at once: a large hive's
// bytes, and the rows of a long list.
//
// A mapping of 2 MiB or more starts on a huge page's boundary, so that all of
// it can be backed by huge pages: it is then faulted in a few 2 MiB pages at a
// time instead of thousands of 4 KiB ones. The advice covers these mappings
// only; where the kernel has no huge pages, or they are off, they are
// ordinary ones. A smaller mapping is an ordinary one anyway, so a short list
// never pays for a whole huge page.

#include <cstddef>
#include <memory_resource>

namespace ssr::wine {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The whole pages that hold `bytes`, at least one.
[[nodiscard]] std::size_t WholePages(std::size_t bytes) noexcept;
// A fresh mapping of `size` bytes (a multiple of the page size), or null.
[[nodiscard]] char* MapPages(std::size_t size) noexcept;
void UnmapPages(char* pages, std::size_t size) noexcept;

// Chunks in mappings of their own, each rounded up to whole pages.
class HugePageChunks final : public std::pmr::memory_resource {
private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* chunk, std::size_t bytes, std::size_t alignment) override;
    [[nodiscard]] bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }
};

}  // namespace ssr::wine
