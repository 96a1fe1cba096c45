#pragma once
// The environment Wine gives the programs of a prefix, as far as it comes
// from the prefix itself: its registry's environment keys, the profile
// folders and the program folders, per program view. The Linux program
// expands a record's %ProgramFiles% and the like with it, as a program in
// that prefix would.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "platform/text.h"

namespace ssr::wine {

class PrefixEnvironment {
public:
    // From the text of system.reg and user.reg; either may be empty or not a
    // registry file, and then gives nothing.
    [[nodiscard]] static PrefixEnvironment FromFiles(std::string system_reg, std::string user_reg);
    // Reads <prefix>/system.reg and <prefix>/user.reg.
    [[nodiscard]] static PrefixEnvironment Read(const std::filesystem::path& prefix);

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
