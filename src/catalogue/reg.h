#pragma once
// The registry text reader and the path helpers shared by the listing and
// the entry operations.

#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

class Desktop;

// Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded), cut before its first
// zero character, from the registry view `view` names. Every registry
// failure gives `default_text`. A text whose first zero lies beyond position
// 32,767 fails with "Overflow".
[[nodiscard]] Text ReadRegistryString(Registry& registry, RegHandle root, TextView subkey_path,
                                      TextView value_name, TextView default_text, std::uint32_t view = 0);

// The tail of `text` from the character before its last colon on, or empty
// when there is no colon. Fails with "Invalid procedure call or argument"
// when the last colon is the first character.
[[nodiscard]] Text DrivePathFrom(TextView text);

// True when the path names something that exists: a file, a folder or a
// drive root. Never fails.
[[nodiscard]] bool FileExists(Desktop& desktop, TextView path) noexcept;

}  // namespace ssr
