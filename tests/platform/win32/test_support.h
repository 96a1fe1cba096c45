#pragma once
// Shared by the Windows platform tests: a per-run name, a scratch folder in
// the prefix's temporary folder, and waiting for something another process
// or thread does.

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/text.h"

namespace ssr::win32::testing {

// Unique per run, so two runs in one prefix never share a key or a folder.
inline Text RunTag() {
    static const Text tag = FromUtf8("ssr-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                     std::to_string(::GetTickCount64()));
    return tag;
}

inline std::wstring W(TextView text) { return std::wstring(text.begin(), text.end()); }

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace ssr::win32::testing
