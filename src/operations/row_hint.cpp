// The hint of one row: where its record lives, its full name, the command
// its uninstaller runs and what Suggest's test says of its target. It is
// worked out when the hint shows, so a long list costs nothing at start and
// the answer is the file system's of that moment.

#include "application/form1.h"
#include "catalogue/places.h"
#include "catalogue/target_verdict.h"

namespace ssr {

std::vector<Text> Form1::RowHint(int position) noexcept {
    try {
        if (position < 1 || position > m_list->Count()) return {};
        std::vector<Text> lines;
        const RecordKey& record = m_list->Record(position);
        if (*record.place.location) lines.push_back(Text(record.place.location) + u": " + record.name);
        lines.push_back(m_list->ItemText(position));
        const Text& command = m_list->Command(position);
        lines.push_back(command.empty() ? m_list->SubItem(position, 1) : command);
        lines.push_back(VerdictText(JudgeTarget(m_desktop, m_list->SubItem(position, 2), ViewOfPlace(record.place))));
        return lines;
    } catch (...) {
        return {};  // a hint is no place for an error report
    }
}

}  // namespace ssr
