#pragma once
// The bytes of one registry file while the store keeps it: a private
// anonymous mapping that the file is read into, or the string a rewrite
// built.
//
// A large hive is tens of megabytes read at start. In a mapping of its own,
// advised for transparent huge pages, it is faulted in a few 2 MiB pages at a
// time instead of thousands of 4 KiB ones, and nothing has to be zeroed
// first. The advice covers this mapping only: the process's allocator and
// every other allocation are left as they are, and the whole mapping goes
// back to the system when the bytes are dropped. Where the kernel has no
// huge pages, or they are off, it is an ordinary mapping.

#include <cstddef>
#include <string>
#include <string_view>

namespace ssr::wine {

class HiveBytes {
public:
    HiveBytes() = default;
    // Takes over what a rewrite built.
    explicit HiveBytes(std::string text) noexcept : m_text(std::move(text)) {}
    // A copy of `bytes` in a mapping of its own.
    [[nodiscard]] static HiveBytes CopyOf(std::string_view bytes);
    ~HiveBytes();
    HiveBytes(HiveBytes&& other) noexcept;
    HiveBytes& operator=(HiveBytes&& other) noexcept;
    HiveBytes(const HiveBytes&) = delete;
    HiveBytes& operator=(const HiveBytes&) = delete;

    [[nodiscard]] std::string_view view() const noexcept {
        return m_pages ? std::string_view(m_pages, m_size) : std::string_view(m_text);
    }
    [[nodiscard]] std::size_t size() const noexcept { return view().size(); }

    // For the reader: room for at least `capacity` bytes from data() on,
    // keeping the first size() of them; false when no memory is left.
    [[nodiscard]] bool Reserve(std::size_t capacity) noexcept;
    [[nodiscard]] char* data() noexcept { return m_pages; }
    void SetSize(std::size_t size) noexcept { m_size = size; }

private:
    void Release() noexcept;

    char* m_pages = nullptr;  // the mapping, when the bytes are in one
    std::size_t m_mapped = 0;
    std::size_t m_size = 0;
    std::string m_text;
};

}  // namespace ssr::wine
