#pragma once
// The handle kinds the window front end owns, each with its RAII type.

#include <windows.h>

#include "platform/unique_handle.h"
#include "platform/win32/handles.h"  // UniqueHwnd

namespace ssr::win32 {

template <typename GdiObject>
struct GdiObjectTraits {
    using Handle = GdiObject;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle object) noexcept { ::DeleteObject(object); }
};
using UniqueHfont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueHbrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueHbitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;

struct HiconTraits {
    using Handle = HICON;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle icon) noexcept { ::DestroyIcon(icon); }
};
using UniqueHicon = UniqueHandle<HiconTraits>;

// A device context of one's own (CreateCompatibleDC), not one lent by a window.
struct HdcTraits {
    using Handle = HDC;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle dc) noexcept { ::DeleteDC(dc); }
};
using UniqueHdc = UniqueHandle<HdcTraits>;

// A device context from GetDC, given back to the window it came from (the
// screen for nullptr). ReleaseDC needs the window too, so it is kept beside
// the handle rather than in a traits type.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : m_window(window), m_dc(::GetDC(window)) {}
    ~WindowDc() {
        if (m_dc) ::ReleaseDC(m_window, m_dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    [[nodiscard]] HDC get() const noexcept { return m_dc; }
    [[nodiscard]] explicit operator bool() const noexcept { return m_dc != nullptr; }

private:
    HWND m_window;
    HDC m_dc;
};

}  // namespace ssr::win32
