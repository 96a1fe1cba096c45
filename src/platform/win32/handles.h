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

// A wait registered with the system's pool (RegisterWaitForSingleObject).
// Closing it waits for a call of the pool that may be under way, so nothing
// that call uses goes before it has returned.
struct PoolWaitTraits {
    using Handle = HANDLE;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle wait) noexcept { ::UnregisterWaitEx(wait, INVALID_HANDLE_VALUE); }
};
using UniquePoolWait = UniqueHandle<PoolWaitTraits>;

// Work of the system's pool. Closing it waits for a call under way; one that
// never returns by itself must have been told to stop first.
struct PoolWorkTraits {
    using Handle = PTP_WORK;
    static constexpr Handle None() noexcept { return nullptr; }
    static void Close(Handle work) noexcept {
        ::WaitForThreadpoolWorkCallbacks(work, TRUE);
        ::CloseThreadpoolWork(work);
    }
};
using UniquePoolWork = UniqueHandle<PoolWorkTraits>;

}  // namespace ssr::win32
