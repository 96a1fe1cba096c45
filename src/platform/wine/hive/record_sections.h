#pragma once
// The part of a prefix's system.reg that listing its records and testing
// their files reads: the uninstall keys of both views with everything below
// them, the keys Wine takes a program's environment from, and every registry
// link. A fresh prefix's file is about 3 MB and 16,000 keys, of which this
// is a few hundred bytes: reading only these is what makes a look at
// hundreds of prefixes quick.
//
// A store that reads the cut file must never write it.

#include <optional>
#include <string>
#include <string_view>

namespace ssr::wine {

// Cuts `bytes`, a whole file, in place down to its opening lines and the
// sections above, in their order and byte for byte. False, with `bytes` as
// they were, when the file cannot be cut without changing what those keys
// read as: NUL bytes in it, an "#arch=" line after the opening lines, or a
// link on the way to a record or among the records.
[[nodiscard]] bool CutToRecordSections(std::string& bytes);

}  // namespace ssr::wine
