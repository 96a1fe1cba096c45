#pragma once
// Private anonymous mappings advised for transparent huge pages, for memory
// that is filled all at once: a large hive's bytes.
//
// A mapping of 2 MiB or more starts on a huge page's boundary, so that all of
// it can be backed by huge pages: it is then faulted in a few 2 MiB pages at a
// time instead of thousands of 4 KiB ones. The advice covers these mappings
// only; where the kernel has no huge pages, or they are off, they are
// ordinary ones. A smaller mapping is an ordinary one anyway, so a small
// file never pays for a whole huge page. With SSR_NO_HUGE_PAGES set (the
// start-up benchmark's switch) every mapping is an ordinary one.

#include <cstddef>

namespace ssr::wine {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The whole pages that hold `bytes`, at least one.
[[nodiscard]] std::size_t WholePages(std::size_t bytes) noexcept;
// A fresh mapping of `size` bytes (a multiple of the page size), or null.
[[nodiscard]] char* MapPages(std::size_t size) noexcept;
void UnmapPages(char* pages, std::size_t size) noexcept;

}  // namespace ssr::wine
