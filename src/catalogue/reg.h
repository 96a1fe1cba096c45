#pragma once
// The registry text reader and the path helpers shared by the listing and
// the entry operations.

#include <functional>
#include <optional>

#include "platform/desktop.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace ssr {

// Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded), cut before its first
// zero character, from the registry view `view` names. Every registry
// failure gives `default_text`. A text whose first zero lies beyond position
// 32,767 fails with "Overflow".
[[nodiscard]] Text ReadRegistryString(Registry& registry, RegHandle root, TextView subkey_path,
                                      TextView value_name, TextView default_text, std::uint32_t view = 0);

// The same from a key already open, into `result`, whose buffer serves
// again and again: one call to the store, into room that is never blanked,
// unless the text is larger than any read before.
void ReadRegistryString(Registry& registry, RegHandle key, TextView value_name, TextView default_text, Text& result);

// The tail of `text` from the character before its last colon on, or empty
// when there is no colon. Fails with "Invalid procedure call or argument"
// when the last colon is the first character.
[[nodiscard]] Text DrivePathFrom(TextView text);

// False only when the file system says for certain that nothing is at
// `path` (JudgeTarget's "not found"): when the test cannot decide, the file
// counts as there. Never fails.
[[nodiscard]] bool FileExists(Desktop& desktop, TextView path, ProgramView view = ProgramView::Native) noexcept;

}  // namespace ssr
