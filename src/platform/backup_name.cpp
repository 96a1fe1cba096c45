// The name of one backup file, from the date and time it was written.
#include "platform/backup_name.h"

namespace ssr {

namespace {

void AppendTwoDigits(Text& out, int value) {
    out += static_cast<char16_t>(u'0' + (value / 10) % 10);
    out += static_cast<char16_t>(u'0' + value % 10);
}

}  // namespace

Text BackupFileName(const CalendarTime& time, int attempt) {
    Text name = u"Removed records ";
    name += DecimalText(time.year);
    name += u'-';
    AppendTwoDigits(name, time.month);
    name += u'-';
    AppendTwoDigits(name, time.day);
    name += u' ';
    AppendTwoDigits(name, time.hour);
    name += u'-';
    AppendTwoDigits(name, time.minute);
    name += u'-';
    AppendTwoDigits(name, time.second);
    if (attempt > 1) name += u" (" + DecimalText(attempt) + u")";
    name += u".reg";
    return name;
}

}  // namespace ssr
