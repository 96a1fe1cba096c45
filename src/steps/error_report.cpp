// The error report a handler shows for a failed step.
#include "steps/error_report.h"

#include "platform/desktop.h"

namespace ssr {

Text ComposeApplicationError(TextView location, int label, TextView description) {
    Text message(description);
    message += u"\r\n";
    message += location;
    message += u"at line ";
    message += DecimalText(label);
    message += u"\r\r";
    message += u"Please email screenshot of this message to ";
    message += kSupportAddress;
    return message;
}

void ShowApplicationError(Desktop& desktop, TextView location, int label, TextView description) {
    desktop.MsgBox(ComposeApplicationError(location, label, description), kVbOkOnly + kVbExclamation,
                   TextView(kErrorReportCaption));
}

}  // namespace ssr
