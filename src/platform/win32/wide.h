#pragma once
// Texts cross into Win32 as wide strings: wchar_t is UTF-16 on Windows, so
// this is a copy, never a conversion.

#include <string>

#include "platform/text.h"

namespace ssr::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t is UTF-16 on Windows");

[[nodiscard]] std::wstring Wide(TextView text);
[[nodiscard]] Text FromWide(std::wstring_view wide);

}  // namespace ssr::win32
