#pragma once
// The environment Wine gives the programs of a prefix, as far as it comes
// from the prefix itself: its registry's environment keys, the profile
// folders and the program folders, per program view. The Linux program
// expands a record's %ProgramFiles% and the like with it, as a program in
// that prefix would. It reads no file of its own: it asks the registry
// store, which has parsed the hives once for the records.

#include <map>
#include <optional>

#include "platform/desktop.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace ssr::wine {

class PrefixEnvironment {
public:
    // From the prefix's registry as the store reads it, with its links
    // followed and its architecture settled as wineserver does: the same
    // hives, parsed once, that the records are listed from. A hive that
    // cannot be read gives nothing.
    [[nodiscard]] static PrefixEnvironment FromHives(Registry& hives);

    // The value of `name` (any case) in a program of `view`; nothing when
    // Wine would not set it.
    [[nodiscard]] std::optional<Text> Value(TextView name, ProgramView view) const;

private:
    using Variables = std::map<Text, Text>;  // by lower-cased name
    Variables m_native;
    Variables m_32bit;  // only for a prefix that runs 32-bit programs beside 64-bit ones
    bool m_has_32bit_view = false;
};

}  // namespace ssr::wine
