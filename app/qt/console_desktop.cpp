// The command line's desktop: the window's answers, with no box shown and nothing started.
#include "console_desktop.h"

#include <stdexcept>

#include "platform/failure.h"

namespace ssr {

ConsoleDesktop::ConsoleDesktop(std::shared_ptr<const wine::Prefix> prefix, Registry& hives)
    : m_window_desktop(std::move(prefix)) {
    m_window_desktop.UseEnvironmentOf(hives);
}

int ConsoleDesktop::MsgBox(TextView prompt, int /*style*/, std::optional<TextView> /*caption*/) {
    m_messages.push_back(MessageBoxText(prompt).toStdString());
    return kVbOk;
}

Text ConsoleDesktop::InputBox(TextView, std::optional<TextView>, TextView) { return {}; }

ShellStart ConsoleDesktop::ShellOpen(std::intptr_t, TextView, TextView, TextView, ShowCommand, ProgramEnded) {
    return {false, u"The command line starts no uninstaller."};
}

void ConsoleDesktop::StartCommand(TextView, ShowCommand) {
    throw std::logic_error("the command line starts no program");
}

Text ConsoleDesktop::HomePageCommandLine(TextView) const { return {}; }

FileAnswer ConsoleDesktop::QueryFileState(TextView path) noexcept { return m_window_desktop.QueryFileState(path); }

std::optional<Text> ConsoleDesktop::EnvironmentVariable(TextView name, ProgramView view) {
    return m_window_desktop.EnvironmentVariable(name, view);
}

bool ConsoleDesktop::IsPlainFile(TextView path) { return m_window_desktop.IsPlainFile(path); }

std::shared_ptr<PointerPicture> ConsoleDesktop::LoadPointer(TextView) { throw Failure(kFileNotFound); }

Text ConsoleDesktop::ApplicationFolder() { return {}; }

Text ConsoleDesktop::ApplicationTitle() const { return m_window_desktop.ApplicationTitle(); }

void ConsoleDesktop::SetApplicationTitle(TextView title) { m_window_desktop.SetApplicationTitle(title); }

Text ConsoleDesktop::RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const {
    return m_window_desktop.RegistryWriteAdvice(failure, root);
}

SavedBackup ConsoleDesktop::SaveBackup(std::span<const std::uint8_t> bytes) {
    m_backups.push_back(m_window_desktop.SaveBackup(bytes));
    return m_backups.back();
}

void ConsoleDesktop::DiscardBackup(TextView path) noexcept {
    m_window_desktop.DiscardBackup(path);
    std::erase_if(m_backups, [&](const SavedBackup& backup) { return backup.saved && backup.path == path; });
}

void ConsoleDesktop::EndProcess() { throw std::logic_error("the command line ends on its own"); }

}  // namespace ssr
