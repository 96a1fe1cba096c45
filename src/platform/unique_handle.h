#pragma once
// Owns one OS handle and closes it exactly once. Each handle kind gets its own
// traits type naming how it is closed and which value means "none", so an HKEY
// can never be handed to DestroyCursor, nor a DIR* to fclose, by mistake. The
// template knows no OS: the traits live beside the platform that needs them.

#include <utility>

namespace ssr {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle handle) noexcept : m_handle(handle) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] Handle get() const noexcept { return m_handle; }
    [[nodiscard]] explicit operator bool() const noexcept { return m_handle != Traits::None(); }

    // For calls that return the handle through a pointer; drops the old one first.
    [[nodiscard]] Handle* put() noexcept {
        reset();
        return &m_handle;
    }

    void reset(Handle handle = Traits::None()) noexcept {
        const Handle old = std::exchange(m_handle, handle);
        if (old != Traits::None()) Traits::Close(old);
    }

    [[nodiscard]] Handle release() noexcept { return std::exchange(m_handle, Traits::None()); }

private:
    Handle m_handle = Traits::None();
};

}  // namespace ssr
