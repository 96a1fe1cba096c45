#pragma once
// The handle kinds the window front end owns, each with its RAII type.

#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace ssr::win32 {

struct HwndTraits {
    using Handle = HWND;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle window) noexcept { ::DestroyWindow(window); }
};
using UniqueHwnd = UniqueHandle<HwndTraits>;

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

}  // namespace ssr::win32
