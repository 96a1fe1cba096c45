#pragma once
// The rules that every registry back end answers with, written once: how a
// subkey's name and class, and a value's data, reach the caller, and where a
// registry view puts a path.

#include <cstdint>
#include <span>

#include "platform/registry.h"
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

// RegEnumValue's output: the name must fit with its terminator, or nothing
// is written and the answer is "more data"; the data as CopyValueData.
[[nodiscard]] long CopyEnumeratedValue(TextView value_name, std::uint32_t stored_type,
                                       std::span<const std::uint8_t> stored, char16_t* name,
                                       std::uint32_t* name_length, std::uint32_t* type, std::uint8_t* data,
                                       std::uint32_t* size);

// The path below `root` that `subkey` names in the view `view` asks for, in
// a store that keeps the 32-bit view of the local machine's "Software" as
// its "Software\Wow6432Node" branch. Without a separate 32-bit view, and for
// every other root and path, `subkey` as it is.
[[nodiscard]] Text ViewPath(RegHandle root, TextView subkey, std::uint32_t view, bool has_32bit_view);
// The same without a copy when the path stays as it is: a view of `subkey`,
// or of `storage` holding the 32-bit view's path.
[[nodiscard]] TextView ViewPath(RegHandle root, TextView subkey, std::uint32_t view, bool has_32bit_view, Text& storage);

}  // namespace ssr
