#pragma once
// The one edge between the Wine prefix code and the system: files read and
// written (posix_file.h), what paths and folders are, the user and the
// processes (posix_system.h), the writers' and wineserver's locks
// (posix_locks.h). Everything else here includes this, and no system
// header of its own.

#include "platform/wine/posix/posix_file.h"
#include "platform/wine/posix/posix_locks.h"
#include "platform/wine/posix/posix_system.h"
