#pragma once
// The desktop of the command line: files, environment and backups answered
// exactly as the window's desktop answers them, but no box is ever shown and
// nothing is started. What the handlers would show in a box is kept, to go to
// standard error.

#include <memory>
#include <vector>

#include "platform/desktop.h"
#include "platform/qt/qt_desktop.h"

namespace ssr {

class ConsoleDesktop final : public Desktop {
public:
    // `hives`, the store of the prefix's registry, gives the environment
    // and must outlive the desktop.
    ConsoleDesktop(std::shared_ptr<const wine::Prefix> prefix, Registry& hives);

    // The texts the handlers showed, one line per line of the box, oldest first.
    [[nodiscard]] const std::vector<std::string>& Messages() const { return m_messages; }
    // The backups written and kept, and the last attempt that failed.
    [[nodiscard]] const std::vector<SavedBackup>& Backups() const { return m_backups; }

    int MsgBox(TextView prompt, int style, std::optional<TextView> caption) override;
    Text InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) override;
    ShellStart ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                         ShowCommand show, ProgramEnded ended) override;
    // Nothing is started, so there is nothing to follow.
    [[nodiscard]] std::unique_ptr<KeyWatch> WatchRegistryKey(RegHandle, TextView, std::uint32_t,
                                                             KeyChanged) noexcept override {
        return nullptr;
    }
    void StartCommand(TextView command_line, ShowCommand show) override;
    [[nodiscard]] Text HomePageCommandLine(TextView address) const override;
    [[nodiscard]] FileAnswer QueryFileState(TextView path) noexcept override;
    [[nodiscard]] std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) override;
    [[nodiscard]] bool IsPlainFile(TextView path) override;
    [[nodiscard]] std::shared_ptr<PointerPicture> LoadPointer(TextView path) override;
    [[nodiscard]] Text ApplicationFolder() override;
    [[nodiscard]] Text ApplicationTitle() const override;
    void SetApplicationTitle(TextView title) override;
    void Randomize() override {}
    double Rnd() override { return 0.5; }
    [[nodiscard]] Text RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const override;
    [[nodiscard]] SavedBackup SaveBackup(std::span<const std::uint8_t> bytes) override;
    void DiscardBackup(TextView path) noexcept override;
    [[noreturn]] void EndProcess() override;

    void BeginFileTests() noexcept override { m_window_desktop.BeginFileTests(); }
    void EndFileTests() noexcept override { m_window_desktop.EndFileTests(); }

private:
    QtDesktop m_window_desktop;  // asked only what needs no window
    std::vector<std::string> m_messages;
    std::vector<SavedBackup> m_backups;
};

}  // namespace ssr
