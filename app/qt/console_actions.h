#pragma once
// What the command line does without a window: lists the records of a prefix
// (or of every prefix found) with what Suggest says of each, removes records,
// lists and restores backups. It runs the window's own handlers (the listing,
// Suggest, Remove) on a plain entry list with the console's desktop, so the
// answers, backups, locks and refusals are the window's.

#include <filesystem>
#include <iosfwd>

#include "command_line.h"

namespace ssr {

// Runs `options`' action and returns the exit status: 0 done, 1 refused or
// failed (said on `err`). `wineprefix` is $WINEPREFIX, nullptr when unset.
[[nodiscard]] int RunConsoleAction(const CommandLineOptions& options, const std::filesystem::path& home,
                                   const char* wineprefix, std::ostream& out, std::ostream& err) noexcept;

}  // namespace ssr
