#pragma once
// Large pages for the program's heap, asked for once at start.

namespace ssr::wine {

// A prefix with tens of thousands of records fills tens of megabytes with
// small blocks at start (the hive and its index, the list's rows). Faulted
// in 4 KiB at a time, that was a quarter of the start-up's processor time.
// This reserves address space for the heap in one piece and advises the
// kernel to back it with transparent huge pages, as glibc's own
// glibc.malloc.hugetlb=1 setting does. Where the kernel has none, or they
// are switched off, the advice is ignored and nothing else changes.
// Call it first in main, before anything allocates much.
void UseLargeHeapPages() noexcept;

}  // namespace ssr::wine
