// Help, the pointer feedback over the buttons, and closing the window.

#include "application/form1.h"
#include "operations/operations.h"
#include "platform/desktop.h"
#include "steps/error_report.h"
#include "steps/step_runner.h"

namespace ssr {

Text HelpText() {
    Text text = u"It is important to keep the Start > Control Panel > Programs and Features window clean.";
    text += u"\r\r";
    text += u"This software will remove items from the Remove Programs and Features that you no longer want to see "
            u"probably because you have already uninstalled the applications/programs yourself. (To restate: This "
            u"software will not uninstall the applications/programs for you, it will simply remove the items from "
            u"the list)";
    text += u"\r\r";
    text += u"The \"Suggest\" feature will show you which items should probably be removed from the list because "
            u"the files for the applications/programs no longer exist on your computer.";
    text += u"\r\r";
    text += u"Email questions to ";
    text += kSupportAddress;
    return text;
}

void Form1::PushButton4_Click() noexcept {
    RunSteps(m_desktop, location::kPushButton4Click,
             {
                 {100, [this] { m_desktop.MsgBox(HelpText(), kVbOkOnly, std::nullopt); return Next::End(); }},
             });
}

// The hover handlers have no error report: they cannot fail.
void Form1::PushButton_MouseMove() noexcept {
    if (MousePointer() != kPointerHourglass) SetMousePointer(kPointerCustom);
}

void Form1::Form_MouseMove() noexcept {
    if (MousePointer() != kPointerHourglass) SetMousePointer(kPointerDefault);
}

void Form1::ListView1_MouseMove() noexcept {
    if (MousePointer() != kPointerHourglass) SetMousePointer(kPointerDefault);
}

}  // namespace ssr
