// Suggest Old Entries To Remove: checks every entry whose target path the
// file system says for certain is not there. A suggestion is a claim that the
// program is gone, so a test that cannot decide never checks. Only ever adds
// check marks.

#include "application/form1.h"
#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/target_verdict.h"
#include "steps/error_report.h"
#include "steps/step_runner.h"

namespace ssr {

void Form1::PushButton3_Click() noexcept {
    int count = 0;
    int i = 0;
    Text target;
    ProgramView view = ProgramView::Native;
    // Records of one program maker often share a folder.
    const FileTestRun file_tests(m_desktop);
    RunSteps(m_desktop, location::kPushButton3Click,
             {
                 {100, [&] {
                      count = m_list->Count();
                      i = 1;
                      return i > count ? Next::End() : Next::Advance();
                  }},
                 // An entry whose target or place could not be read is passed
                 // over: a check mark never comes from a failed read.
                 {102, [&] {
                      target = m_list->SubItem(i, 2);
                      view = ViewOfPlace(m_list->Record(i).place);
                      return Next::Advance();
                  }, Next::Jump(110)},
                 // An empty target names nothing that could be found missing.
                 {104, [&] { return target.empty() || Contains(target, kIgnoreMe) ? Next::Jump(110) : Next::Advance(); }},
                 {106, [&] {
                      return JudgeTarget(m_desktop, target, view).state == TargetState::NotFound ? Next::Advance()
                                                                                                  : Next::Jump(110);
                  }},
                 {108, [&] { m_list->SetChecked(i, true); return Next::Advance(); }},
                 {110, [&] { return ++i <= count ? Next::Jump(102) : Next::End(); }, Next::End()},
             });
}

}  // namespace ssr
