#pragma once
// Short (8.3) names: which names have that form, and the short name Wine
// gives a long one, so that a prefix's files can be found by the names a
// program under Wine was told.

#include "platform/text.h"

namespace ssr {

// True for a name that fits 8.3 as Windows reads it: at most eight
// characters, then at most one dot and one to three more; ASCII only, no
// blank and none of the characters short names may not hold; "." and ".."
// too.
[[nodiscard]] bool IsLegalShortName(TextView name);

// True for a generated short name, such as "PROGRA~1" or "UNIN~RXF.EXE": a
// legal 8.3 name with a tilde in its base. Such a name may stand for a long
// one that only the volume that made it knows.
[[nodiscard]] bool IsShortNameForm(TextView name);

// The short name Wine makes up for `long_name` when that is not itself a
// legal 8.3 name: its first four characters up to the extension ('_' for
// any a short name may not hold), '~' to make five, three characters of a
// hash of the whole name taken without regard to case, then the first three
// characters of the extension; in upper case, as Wine shows it, and
// compared without regard to case.
[[nodiscard]] Text WineShortName(TextView long_name);

}  // namespace ssr
