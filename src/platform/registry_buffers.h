#pragma once
// The buffer rules that every registry back end answers with, written once:
// how a subkey's name and class, and a value's data, reach the caller.

#include <cstdint>
#include <span>

#include "platform/text.h"

namespace ssr {

// RegEnumKeyEx's output: both texts must fit with their terminators, or
// nothing is written and the answer is "more data".
[[nodiscard]] long CopyEnumeratedKey(TextView key_name, TextView class_text, char16_t* name,
                                     std::uint32_t* name_length, char16_t* class_buffer,
                                     std::uint32_t* class_length);

// RegQueryValueEx's output: without a buffer only the type and size; with a
// buffer too small, "more data" and the size needed.
[[nodiscard]] long CopyValueData(std::uint32_t stored_type, std::span<const std::uint8_t> stored, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* size);

}  // namespace ssr
