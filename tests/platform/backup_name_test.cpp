// The names backups are saved under.
#include "platform/backup_name.h"

#include <gtest/gtest.h>

namespace ssr {
namespace {

TEST(BackupFileNameTest, DateTimeThenCounter) {
    const CalendarTime time{2026, 1, 2, 3, 4, 5};
    EXPECT_EQ(BackupFileName(time, 1), u"Removed records 2026-01-02 03-04-05.reg");
    EXPECT_EQ(BackupFileName(time, 2), u"Removed records 2026-01-02 03-04-05 (2).reg");
}

}  // namespace
}  // namespace ssr
