#pragma once
// The Windows handle owners are instances of the one OS-free template;
// ssr::win32 code names it unqualified.

#include "platform/unique_handle.h"
