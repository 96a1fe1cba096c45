#pragma once
// The handle kinds the Windows platform owns, each with its RAII type.

#include <windows.h>

#include "platform/unique_handle.h"

namespace ssr::win32 {

struct HkeyTraits {
    using Handle = HKEY;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle key) noexcept { ::RegCloseKey(key); }
};
using UniqueHkey = UniqueHandle<HkeyTraits>;

struct HcursorTraits {
    using Handle = HCURSOR;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle cursor) noexcept { ::DestroyCursor(cursor); }
};
using UniqueHcursor = UniqueHandle<HcursorTraits>;

// Process and thread handles; CreateProcess answers 0, never INVALID_HANDLE_VALUE.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;

struct HwndTraits {
    using Handle = HWND;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle window) noexcept { ::DestroyWindow(window); }
};
using UniqueHwnd = UniqueHandle<HwndTraits>;

}  // namespace ssr::win32
