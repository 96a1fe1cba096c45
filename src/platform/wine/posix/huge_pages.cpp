// Mappings advised for transparent huge pages.
#include "platform/wine/posix/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace ssr::wine {

namespace {

std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

}  // namespace

std::size_t WholePages(std::size_t bytes) noexcept {
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return RoundUp(bytes == 0 ? 1 : bytes, page);
}

char* MapPages(std::size_t size) noexcept {
    // The start-up benchmark's switch, to weigh the hint against none.
    static const bool hint = std::getenv("SSR_NO_HUGE_PAGES") == nullptr;
    if (size < kHugePage || !hint) {
        void* at = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return at == MAP_FAILED ? nullptr : static_cast<char*>(at);
    }
    void* at = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(at);
    const std::uintptr_t aligned = RoundUp(start, kHugePage);
    if (aligned > start) ::munmap(at, aligned - start);
    if (const std::size_t tail = start + kHugePage - aligned) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
    // Advice only: where it is refused, the pages are ordinary ones.
    static_cast<void>(::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE));
    return reinterpret_cast<char*>(aligned);
}

void UnmapPages(char* pages, std::size_t size) noexcept {
    if (pages) ::munmap(pages, size);
}

}  // namespace ssr::wine
