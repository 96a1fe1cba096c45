// Uninstall Selected Entry From Computer: starts the own uninstaller of every
// selected entry, with the command its record gives. The entry stays listed;
// nothing waits for the uninstaller.

#include "application/error_report.h"
#include "application/form1.h"
#include "application/step_runner.h"
#include "catalogue/reg.h"
#include "operations/operations.h"
#include "platform/desktop.h"

namespace ssr {

CommandLine SplitCommandLine(TextView text, const std::function<bool(TextView)>& exists) {
    std::size_t start = text.find_first_not_of(u' ');
    if (start == TextView::npos) return {};
    const TextView rest = text.substr(start);
    const auto trimmed = [](TextView t) {
        const std::size_t first = t.find_first_not_of(u' ');
        return first == TextView::npos ? Text() : Text(t.substr(first));
    };
    if (rest.front() == u'"') {
        const std::size_t close = rest.find(u'"', 1);
        if (close == TextView::npos) return {Text(rest.substr(1)), {}};
        return {Text(rest.substr(1, close - 1)), trimmed(rest.substr(close + 1))};
    }
    // Like the desktop does for unquoted paths with blanks in them: try
    // "C:\Program", then "C:\Program Files\App\unins.exe", and so on.
    for (std::size_t blank = rest.find(u' '); blank != TextView::npos; blank = rest.find(u' ', blank + 1)) {
        const TextView candidate = rest.substr(0, blank);
        if (exists(candidate)) return {Text(candidate), trimmed(rest.substr(blank + 1))};
    }
    if (exists(rest)) return {Text(rest), {}};
    const std::size_t first_blank = rest.find(u' ');
    if (first_blank == TextView::npos) return {Text(rest), {}};
    return {Text(rest.substr(0, first_blank)), trimmed(rest.substr(first_blank + 1))};
}

void OpenWithShell(Desktop& desktop, std::intptr_t owner, TextView document) {
    const Text copy(document);
    const Text folder = desktop.ApplicationFolder();
    // The program is a file, never a folder: "C:\Program Files" exists, and
    // must not win over "C:\Program Files (x86)\App\unins000.exe".
    const CommandLine command =
        SplitCommandLine(copy, [&desktop](TextView path) { return desktop.IsPlainFile(path); });
    (void)desktop.ShellOpen(owner, command.program, command.parameters, folder, ShowCommand::Normal);
}

void Form1::PushButton1_Click() noexcept {
    int count = 0;
    int i = 0;
    RunSteps(m_desktop, location::kPushButton1Click,
             {
                 {100, [&] {
                      count = m_list->Count();
                      i = 1;
                      return i > count ? Next::End() : Next::Advance();
                  }},
                 // Nothing is started for an entry whose selection could not be read.
                 {102, [&] { return m_list->Selected(i) ? Next::Advance() : Next::Jump(108); }, Next::Jump(108)},
                 // The command the record gave, not the "Uninstall" column, which
                 // shows only the DLL of a rundll32 command. A row that was not
                 // listed from the registry has only its column.
                 {104, [&] {
                      const Text& command = m_list->Command(i);
                      OpenWithShell(m_desktop, hWnd(), command.empty() ? m_list->SubItem(i, 1) : command);
                      return Next::Advance();
                  }},
                 {108, [&] { return ++i <= count ? Next::Jump(102) : Next::End(); }, Next::End()},
             });
}

}  // namespace ssr
