#pragma once
// Backups of removed records as the rest of the program sees them: written
// and found in the prefix user's folder (backup_file.h), read as Wine's
// registry editor imports them (reg_import.h), and put back through the
// prefix store's own commit (backup_restore.h).

#include "platform/wine/backups/backup_file.h"
#include "platform/wine/backups/backup_restore.h"
#include "platform/wine/backups/reg_import.h"
