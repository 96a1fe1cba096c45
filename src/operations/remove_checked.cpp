// Start Removing Checked Entries: deletes the key of every checked entry and
// takes the entry out of the list, from the last entry to the first.
//
// An entry whose key could not be deleted stays in the list, still checked,
// and one warning after the walk says how many stayed and, for each reason
// the registry gave, what the user can do; a key that is
// already gone counts as removed. Without this the user would believe the
// record gone while it comes back at the next start.

#include <algorithm>
#include <utility>
#include <vector>

#include "application/error_report.h"
#include "application/form1.h"
#include "application/step_runner.h"
#include "catalogue/places.h"
#include "operations/operations.h"
#include "platform/desktop.h"
#include "platform/registry.h"

namespace ssr {

Text RemovalFailureMessage(int failed, const std::vector<Text>& advice) {
    Text message = DecimalText(failed);
    message += failed == 1 ? u" checked entry could not be removed from the list of installed programs; it stays checked."
                           : u" checked entries could not be removed from the list of installed programs; they stay checked.";
    for (const Text& paragraph : advice) {
        message += u"\r\r";
        message += paragraph;
    }
    return message;
}

namespace {

// Each row that stayed, with the reason the store gave; the warning names
// each distinct reason once, in the order they were first met.
struct RemovalFailures {
    std::vector<std::pair<long, RegHandle>> reasons;
    int count = 0;

    void Add(long status, RegHandle root) {
        ++count;
        const std::pair<long, RegHandle> reason{status, root};
        if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) reasons.push_back(reason);
    }

    [[nodiscard]] Text Message(const Desktop& desktop) const {
        std::vector<Text> advice;
        for (const auto& [status, root] : reasons) {
            Text paragraph = desktop.RegistryWriteAdvice(status, root);
            if (std::find(advice.begin(), advice.end(), paragraph) == advice.end()) advice.push_back(std::move(paragraph));
        }
        return RemovalFailureMessage(count, advice);
    }
};

}  // namespace

void Form1::PushButton2_Click() noexcept {
    int count = 0;
    int i = 0;
    RemovalFailures failures;
    Text key_name;
    std::optional<RecordPlace> place;
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
                      place.reset();
                      return m_list->Checked(i) ? Next::Advance() : Next::Jump(116);
                  }, Next::Jump(116)},
                 {110, [&] {
                      key_name = m_list->SubItem(i, 3);
                      return key_name.empty() ? Next::Jump(116) : Next::Advance();
                  }, Next::Jump(116)},
                 // The key is deleted in the place the row was read from, and
                 // nowhere else: the same name may be a live record elsewhere.
                 {110, [&] {
                      place = PlaceOfLocation(m_list->SubItem(i, 4));
                      return place ? Next::Advance() : Next::Jump(116);
                  }, Next::Jump(116)},
                 {112, [&] {
                      const long result = m_registry.delete_tree(
                          place->root, Text(kUninstallKeyPath) + u'\\' + key_name, place->view);
                      if (result == kErrorSuccess || result == kErrorFileNotFound) return Next::Advance();
                      failures.Add(result, place->root);
                      return Next::Jump(116);
                  }, Next::Jump(116)},
                 {114, [&] { m_list->Remove(i); return Next::Advance(); }},
                 {116, [&] { return --i >= 1 ? Next::Jump(108) : Next::Advance(); }, Next::Advance()},
                 {118, [&] {
                      if (failures.count > 0)
                          m_desktop.MsgBox(failures.Message(m_desktop), kVbOkOnly + kVbExclamation, std::nullopt);
                      return Next::End();
                  }},
             });
}

}  // namespace ssr
