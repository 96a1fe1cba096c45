#pragma once
// Where backups of removed records go and what one is called: a fixed folder
// below the user's local application data, one file per click named by its
// date and time. The desktops save the bytes the core gives them under these
// names; nothing here knows what is inside.

#include "platform/text.h"

namespace ssr {

// The folder below the user's local application data that receives the backups.
inline constexpr char16_t kBackupFolder[] = u"Sweep Stale Records\\Backups";

struct CalendarTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "Removed records 2026-12-07 12-30-05.reg"; the `attempt`th name for the
// same second (from 2 on) gets " (2)" and so on, so no earlier file is
// ever overwritten.
[[nodiscard]] Text BackupFileName(const CalendarTime& time, int attempt);

}  // namespace ssr
