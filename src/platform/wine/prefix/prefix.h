#pragma once
// A Wine prefix as the rest of the program sees it: where it is and how
// Windows paths map into it (wine_prefix.h), the environment its programs
// get (prefix_environment.h), and its wineserver with the locks that keep
// one from loading a file being replaced (server_lock.h).

#include "platform/wine/prefix/prefix_environment.h"
#include "platform/wine/prefix/server_lock.h"
#include "platform/wine/prefix/wine_prefix.h"
