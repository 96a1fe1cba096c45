// A registry file's bytes in a mapping of their own, advised for huge pages.
#include "platform/wine/hive_bytes.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace ssr::wine {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// A fresh mapping of `size` bytes (a multiple of the page size); one large
// enough to hold a huge page starts on a huge page's boundary, so that all
// of it can be backed by them.
char* MapPages(std::size_t size) {
    if (size < kHugePage) {
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

}  // namespace

HiveBytes HiveBytes::CopyOf(std::string_view bytes) {
    HiveBytes copy;
    if (!copy.Reserve(bytes.size())) throw std::bad_alloc();
    if (!bytes.empty()) std::memcpy(copy.data(), bytes.data(), bytes.size());
    copy.SetSize(bytes.size());
    return copy;
}

HiveBytes::~HiveBytes() { Release(); }

HiveBytes::HiveBytes(HiveBytes&& other) noexcept
    : m_pages(std::exchange(other.m_pages, nullptr)),
      m_mapped(std::exchange(other.m_mapped, 0)),
      m_size(std::exchange(other.m_size, 0)),
      m_text(std::move(other.m_text)) {}

HiveBytes& HiveBytes::operator=(HiveBytes&& other) noexcept {
    if (this != &other) {
        Release();
        m_pages = std::exchange(other.m_pages, nullptr);
        m_mapped = std::exchange(other.m_mapped, 0);
        m_size = std::exchange(other.m_size, 0);
        m_text = std::move(other.m_text);
    }
    return *this;
}

void HiveBytes::Release() noexcept {
    if (m_pages) ::munmap(m_pages, m_mapped);
    m_pages = nullptr;
    m_mapped = 0;
    m_size = 0;
}

bool HiveBytes::Reserve(std::size_t capacity) noexcept {
    if (m_pages && capacity <= m_mapped) return true;
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    // An empty file still gets a page, so that data() is never null.
    const std::size_t size = RoundUp(capacity == 0 ? 1 : capacity, page);
    char* pages = MapPages(size);
    if (!pages) return false;
    if (m_pages) std::memcpy(pages, m_pages, m_size);
    const std::size_t keep = m_pages ? m_size : 0;
    Release();
    m_text.clear();
    m_pages = pages;
    m_mapped = size;
    m_size = keep;
    return true;
}

}  // namespace ssr::wine
