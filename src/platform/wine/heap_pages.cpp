// Large pages for the program's heap, asked for once at start.
#include "platform/wine/heap_pages.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace ssr::wine {

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Address space only: a page costs memory once it is touched.
constexpr std::size_t kHeapReserve = std::size_t{96} << 20;
// glibc's largest: blocks up to this size come from the (advised) heap too,
// the hive's bytes among them.
constexpr int kMmapThreshold = 32 << 20;

}  // namespace

void UseLargeHeapPages() noexcept {
    // The heap keeps what it reserves and grows in large steps: a trimmed
    // and regrown heap would be a new region without the advice.
    if (mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 0 || mallopt(M_TRIM_THRESHOLD, 2 * kHeapReserve) == 0 ||
        mallopt(M_TOP_PAD, kHeapReserve) == 0)
        return;
    // One block beyond what the heap holds makes it grow by the reserve;
    // freed again, the space stays at the heap's top, untouched.
    void* block = std::malloc(kMmapThreshold - 4096);
    if (!block) return;
    std::free(block);
    const auto end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    const struct mallinfo2 info = ::mallinfo2();
    if (end == static_cast<std::uintptr_t>(-1) || info.arena == 0 || info.arena > end) return;
    // Only whole huge pages can be backed by one.
    const std::uintptr_t from = (end - info.arena + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = end & ~(kHugePage - 1);
    if (to > from) static_cast<void>(::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE));
}

}  // namespace ssr::wine
