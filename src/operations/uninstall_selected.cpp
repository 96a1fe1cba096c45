// Uninstall Selected Entry From Computer: starts the own uninstaller of every
// selected entry, with the command its record gives. A start that fails is
// said at once, naming the command. While the uninstaller runs, and when it
// has ended, its record is looked up again: a record it removed takes its
// row out of the list; any other row stays as it was.

#include "application/form1.h"
#include "catalogue/places.h"
#include "catalogue/reg.h"
#include "operations/operations.h"
#include "platform/desktop.h"
#include "steps/error_report.h"
#include "steps/step_runner.h"

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

ShellStart OpenWithShell(Desktop& desktop, std::intptr_t owner, TextView document, ProgramEnded ended) {
    const Text copy(document);
    const Text folder = desktop.ApplicationFolder();
    // The program is a file, never a folder: "C:\Program Files" exists, and
    // must not win over "C:\Program Files (x86)\App\unins000.exe".
    const CommandLine command =
        SplitCommandLine(copy, [&desktop](TextView path) { return desktop.IsPlainFile(path); });
    return desktop.ShellOpen(owner, command.program, command.parameters, folder, ShowCommand::Normal,
                             std::move(ended));
}

Text UninstallStartFailureMessage(TextView name, TextView command, TextView reason) {
    Text message = u"The uninstaller of \"" + Text(name) + u"\" could not be started:\r" + Text(command);
    if (!reason.empty()) message += u"\r\r" + Text(reason);
    return message;
}

StepTable Form1::RecordGoneSteps(const StartedUninstaller& started) {
    return {
        // Only a record that is certainly gone takes its row away; a key
        // that cannot be read for another reason may still be there.
        {104, [this, &started] {
             const RecordPlace& place = started.record.place;
             m_registry.refresh();
             RegHandle key = 0;
             const long status = m_registry.open_key(place.root, RecordKeyPath(started.record.name), place.view, &key);
             (void)m_registry.close_key(key);
             return status == kErrorFileNotFound ? Next::Advance() : Next::End();
         }, Next::End()},
        // Rows may have moved since the start: the row is found by its record.
        // With it goes the watch of its place: there is nothing left to look for.
        {106, [this, &started] {
             StopUninstallKeyWatch(started.start);
             for (int i = m_list->Count(); i >= 1; --i)
                 if (m_list->Record(i) == started.record)
                     m_list->Remove(i);
             return Next::End();
         }, Next::End()},
    };
}

void Form1::Uninstaller_Ended(const StartedUninstaller& started, const ShellStart& outcome) noexcept {
    StepTable steps{
        // A Wine that could not open the program ends at once: that is no uninstall.
        {100, [&] {
             StopUninstallKeyWatch(started.start);
             if (outcome.started) return Next::Advance();
             m_desktop.MsgBox(UninstallStartFailureMessage(started.name, started.command, outcome.reason),
                              kVbOkOnly + kVbExclamation, std::nullopt);
             return Next::End();
         }, Next::End()},
        {102, [&] { return started.record.name.empty() ? Next::End() : Next::Advance(); }, Next::End()},
    };
    for (Step& step : RecordGoneSteps(started)) steps.push_back(std::move(step));
    RunSteps(m_desktop, location::kUninstallerEnded, steps);
}

// The uninstaller runs on; the record may be gone already, and its row goes with it.
void Form1::UninstallKey_Changed(const StartedUninstaller& started) noexcept {
    StepTable steps{
        {102, [&] { return started.record.name.empty() ? Next::End() : Next::Advance(); }, Next::End()},
    };
    for (Step& step : RecordGoneSteps(started)) steps.push_back(std::move(step));
    RunSteps(m_desktop, location::kUninstallKeyChanged, steps);
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
                      const Text& kept = m_list->Command(i);
                      StartedUninstaller started;
                      started.command = kept.empty() ? m_list->SubItem(i, 1) : kept;
                      try {
                          started.name = m_list->ItemText(i);
                          started.record = m_list->Record(i);
                      } catch (...) {
                          started.record = {};  // not watched: its row could not be found again
                      }
                      started.start = ++m_uninstaller_starts;
                      // Watched before the start, so that no removal falls between the two.
                      std::unique_ptr<KeyWatch> watch;
                      if (!started.record.name.empty())
                          watch = m_desktop.WatchRegistryKey(started.record.place.root, kUninstallKeyPath,
                                                             started.record.place.view,
                                                             WhenUninstallKeyChanged(started));
                      const ShellStart result = OpenWithShell(m_desktop, hWnd(), started.command, WhenEnded(started));
                      if (!result.started)
                          m_desktop.MsgBox(UninstallStartFailureMessage(started.name, started.command, result.reason),
                                           kVbOkOnly + kVbExclamation, std::nullopt);
                      else if (watch)
                          m_uninstall_key_watches.emplace_back(started.start, std::move(watch));
                      return Next::Advance();
                  }},
                 {108, [&] { return ++i <= count ? Next::Jump(102) : Next::End(); }, Next::End()},
             });
}

}  // namespace ssr
