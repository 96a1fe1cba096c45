// Texts crossing into Win32 as wide strings.
#include "platform/win32/wide.h"

namespace ssr::win32 {

std::wstring Wide(TextView text) { return std::wstring(text.begin(), text.end()); }

Text FromWide(std::wstring_view wide) { return Text(wide.begin(), wide.end()); }

}  // namespace ssr::win32
