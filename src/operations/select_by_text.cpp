// Select All Containing / Not Containing This Text: checks entries by a
// case-insensitive search of their names. Only ever adds check marks.

#include "application/form1.h"
#include "platform/desktop.h"
#include "platform/failure.h"
#include "steps/error_report.h"
#include "steps/step_runner.h"

namespace ssr {

namespace {

enum class Sense { Containing, NotContaining };
constexpr int kMoveOn = 1106;  // jump target of the move-on row, which reports label 106

void SelectByText(Desktop& desktop, EntryList& list, TextView location, Sense sense) {
    Text search;
    int count = 0;
    int i = 0;
    bool walking = false;
    RunSteps(desktop, location,
             {
                 {100, [&] { search = desktop.InputBox(u"Enter text:", std::nullopt, u""); return Next::Advance(); }},
                 {102, [&] {
                      count = list.Count();
                      i = 1;
                      walking = true;
                      return i > count ? Next::End() : Next::Advance();
                  }},
                 {104, [&] {
                      const bool matches = Contains(LowerCase(list.ItemText(i)), LowerCase(search));
                      const bool wanted = sense == Sense::Containing ? matches : !matches;
                      return wanted ? Next::Advance() : Next::Jump(kMoveOn);
                  }, Next::Jump(kMoveOn)},  // an entry whose text could not be read is never checked
                 {106, [&] { list.SetChecked(i, true); return Next::Advance(); }},
                 {106, [&] {
                      // Without a started walk there is no entry to move on from.
                      if (!walking) throw Failure(u"Object variable or With block variable not set");
                      return ++i <= count ? Next::Jump(104) : Next::End();
                  }, Next::End(), kMoveOn},
             });
}

}  // namespace

void Form1::PushButton5_Click() noexcept {
    SelectByText(m_desktop, *m_list, location::kPushButton5Click, Sense::Containing);
}

void Form1::PushButton6_Click() noexcept {
    SelectByText(m_desktop, *m_list, location::kPushButton6Click, Sense::NotContaining);
}

}  // namespace ssr
