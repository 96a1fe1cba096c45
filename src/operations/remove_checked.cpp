// Start Removing Checked Entries: deletes the key of every checked entry and
// takes the entry out of the list, from the last entry to the first.
//
// An entry whose key could not be deleted stays in the list, still checked,
// and one warning after the walk says how many stayed and why; a key that is
// already gone counts as removed. Without this the user would believe the
// record gone while it comes back at the next start.

#include "application/error_report.h"
#include "application/form1.h"
#include "application/step_runner.h"
#include "operations/operations.h"
#include "platform/desktop.h"
#include "platform/registry.h"

namespace ssr {

Text RemovalFailureMessage(int failed, TextView advice) {
    Text message = DecimalText(failed);
    message += failed == 1 ? u" checked entry could not be removed from the list of installed programs; it stays checked."
                           : u" checked entries could not be removed from the list of installed programs; they stay checked.";
    message += u"\r\r";
    message += advice;
    return message;
}

void Form1::PushButton2_Click() noexcept {
    int count = 0;
    int i = 0;
    int failed = 0;
    Text key_name;
    RunSteps(m_desktop, location::kPushButton2Click,
             {
                 {106, [&] {
                      count = m_list->Count();
                      i = count;
                      return i < 1 ? Next::Jump(118) : Next::Advance();
                  }},
                 // No key is deleted for an entry whose check mark or key name could not be read.
                 {108, [&] {
                      key_name.clear();
                      return m_list->Checked(i) ? Next::Advance() : Next::Jump(116);
                  }, Next::Jump(116)},
                 {110, [&] {
                      key_name = m_list->SubItem(i, 3);
                      return key_name.empty() ? Next::Jump(116) : Next::Advance();
                  }, Next::Jump(116)},
                 {112, [&] {
                      const long result = m_registry.delete_tree(
                          kHkeyLocalMachine, Text(kUninstallKeyPath) + u'\\' + key_name);
                      if (result == kErrorSuccess || result == kErrorFileNotFound) return Next::Advance();
                      ++failed;
                      return Next::Jump(116);
                  }, Next::Jump(116)},
                 {114, [&] { m_list->Remove(i); return Next::Advance(); }},
                 {116, [&] { return --i >= 1 ? Next::Jump(108) : Next::Advance(); }, Next::Advance()},
                 {118, [&] {
                      if (failed > 0)
                          m_desktop.MsgBox(RemovalFailureMessage(failed, m_desktop.RegistryWriteAdvice()),
                                           kVbOkOnly + kVbExclamation, std::nullopt);
                      return Next::End();
                  }},
             });
}

}  // namespace ssr
