// Suggest Old Entries To Remove: checks every entry whose target path does
// not exist. Only ever adds check marks.

#include "application/error_report.h"
#include "application/form1.h"
#include "application/step_runner.h"
#include "catalogue/listing.h"
#include "catalogue/reg.h"

namespace ssr {

void Form1::PushButton3_Click() noexcept {
    int count = 0;
    int i = 0;
    Text target;
    RunSteps(m_desktop, location::kPushButton3Click,
             {
                 {100, [&] {
                      count = m_list->Count();
                      i = 1;
                      return i > count ? Next::End() : Next::Advance();
                  }},
                 {102, [&] { target = m_list->SubItem(i, 2); return Next::Advance(); }},
                 {104, [&] { return Contains(target, kIgnoreMe) ? Next::Jump(110) : Next::Advance(); }},
                 {106, [&] { return FileExists(m_desktop, target) ? Next::Jump(110) : Next::Advance(); }},
                 {108, [&] { m_list->SetChecked(i, true); return Next::Advance(); }},
                 {110, [&] { return ++i <= count ? Next::Jump(102) : Next::End(); }, Next::End()},
             });
}

}  // namespace ssr
