// A registry file's bytes in a mapping of their own, advised for huge pages.
#include "platform/wine/posix/hive_bytes.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "platform/wine/posix/huge_pages.h"

namespace ssr::wine {

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
    UnmapPages(m_pages, m_mapped);
    m_pages = nullptr;
    m_mapped = 0;
    m_size = 0;
}

bool HiveBytes::Reserve(std::size_t capacity) noexcept {
    if (m_pages && capacity <= m_mapped) return true;
    // An empty file still gets a page, so that data() is never null.
    const std::size_t size = WholePages(capacity);
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
