#pragma once
// The desktop of the Linux build: Qt's message and input boxes, programs
// started through Wine in the prefix whose registry is shown, and Windows
// paths mapped into that prefix.

#include <QCursor>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "platform/desktop.h"
#include "platform/qt/process_launcher.h"
#include "platform/registry.h"
#include "platform/wine/prefix/prefix.h"

namespace ssr {

// Where the promotion's numbers come from; tests put in their own.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void Seed(std::uint64_t seed) = 0;
    // Uniform in [0, 1).
    virtual double Next() = 0;
};

class MersenneRandom final : public RandomSource {
public:
    void Seed(std::uint64_t seed) override { m_engine.seed(seed); }
    double Next() override;

private:
    std::mt19937_64 m_engine{0};
};

// A pointer picture that Qt can show.
class QtPointer final : public PointerPicture {
public:
    explicit QtPointer(QCursor cursor) : m_cursor(std::move(cursor)) {}
    [[nodiscard]] const QCursor& cursor() const { return m_cursor; }

private:
    QCursor m_cursor;
};

class QtDesktop final : public Desktop {
public:
    explicit QtDesktop(std::shared_ptr<const wine::Prefix> prefix,
                       std::unique_ptr<RandomSource> random = std::make_unique<MersenneRandom>(),
                       std::shared_ptr<ProcessLauncher> launcher = std::make_shared<QProcessLauncher>(),
                       std::filesystem::path program = {});

    [[nodiscard]] const wine::Prefix& prefix() const { return *m_prefix; }

    // Where the environment Wine gives the prefix's programs is read from:
    // the store of the prefix's registry, whose hives are parsed once for
    // both. `hives` must outlive the desktop; until it is given, no
    // variable is known.
    void UseEnvironmentOf(Registry& hives) { m_hives = &hives; }

    int MsgBox(TextView prompt, int style, std::optional<TextView> caption) override;
    Text InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) override;
    // Runs the program under Wine in the prefix. A Wine that ends soon,
    // having said it could not open the program, counts as not started.
    // The program has ended for the prefix's registry only once its
    // wineserver has written the registry and gone, so `ended` waits for that.
    ShellStart ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                         ShowCommand show, ProgramEnded ended) override;
    // Watches nothing: the prefix's registry is files that its wineserver
    // writes when it sees fit, at the latest as it ends, which `ended` waits for.
    [[nodiscard]] std::unique_ptr<KeyWatch> WatchRegistryKey(RegHandle, TextView, std::uint32_t,
                                                             KeyChanged) noexcept override {
        return nullptr;
    }
    void StartCommand(TextView command_line, ShowCommand show) override;
    [[nodiscard]] Text HomePageCommandLine(TextView address) const override;
    [[nodiscard]] FileAnswer QueryFileState(TextView path) noexcept override;
    void BeginFileTests() noexcept override;
    void EndFileTests() noexcept override;
    [[nodiscard]] std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) override;
    [[nodiscard]] bool IsPlainFile(TextView path) override;
    [[nodiscard]] std::shared_ptr<PointerPicture> LoadPointer(TextView path) override;
    // As text, which may not spell its bytes; the paths built on it are
    // mapped back to those bytes.
    [[nodiscard]] Text ApplicationFolder() override;
    [[nodiscard]] Text ApplicationTitle() const override { return m_title; }
    void SetApplicationTitle(TextView title) override { m_title = Text(title); }
    void Randomize() override;
    double Rnd() override { return m_random->Next(); }
    [[nodiscard]] Text RegistryWriteAdvice(const WriteFailure& failure, RegHandle root) const override;
    // Into the prefix user's own local application data, where the Windows
    // build running in that prefix would put it.
    [[nodiscard]] SavedBackup SaveBackup(std::span<const std::uint8_t> bytes) override;
    void DiscardBackup(TextView path) noexcept override;
    [[noreturn]] void EndProcess() override;

private:
    // The file a path the core built names: one below the application
    // folder keeps that folder's bytes; any other goes through LinuxPath.
    [[nodiscard]] std::optional<std::filesystem::path> LocalPath(TextView path) const;

    std::shared_ptr<const wine::Prefix> m_prefix;
    // The folder of the program's own files, as it is on disk.
    std::filesystem::path m_application_folder;
    // The last backup written, with its name's bytes as they are on disk:
    // its path as text may not spell them.
    std::filesystem::path m_last_backup;
    std::unique_ptr<RandomSource> m_random;
    std::shared_ptr<ProcessLauncher> m_launcher;  // shared with what waits for programs
    Registry* m_hives = nullptr;
    // Read at the first question: a prefix's environment changes with its
    // configuration, not while a window looks at it.
    std::optional<wine::PrefixEnvironment> m_environment;
    Text m_title = u"sweep-stale-records";
};

// Conversions at the toolkit's edge.
[[nodiscard]] QString ToQString(TextView text);
[[nodiscard]] Text ToText(const QString& text);

// A message as Qt shows it: CR LF and lone CRs each end a line.
[[nodiscard]] QString MessageBoxText(TextView prompt);

// The Linux path for a path the core built: one with a drive letter goes
// through the prefix's drives, any other has its backslashes turned into
// slashes. Empty when it cannot name a file at all.
[[nodiscard]] std::optional<std::filesystem::path> LinuxPath(const wine::Prefix& prefix, TextView path);

// The folder of the program's own files (the hand pointer): beside the
// program as built, <prefix>/share/sweep-stale-records when it is installed as
// <prefix>/bin/sweep-stale-records.
[[nodiscard]] std::filesystem::path ProgramFilesFolder(const std::filesystem::path& program);

// The Wine that starts a prefix's programs: $WINE when set (`wine_variable`),
// else wine from PATH.
[[nodiscard]] std::string WineProgram(const char* wine_variable);
// Its server: $WINESERVER when set (`wineserver_variable`), else the
// wineserver beside `wine` when that names a folder, else from PATH.
[[nodiscard]] std::string WineServerProgram(const char* wineserver_variable, const std::string& wine);

// How long a Wine that could not open its program takes at most to say so
// and end; a program that runs longer has started.
inline constexpr std::chrono::milliseconds kWineOpenWait{15000};

// Why Wine did not run the program, from how it ended: its own complaint
// ("wine: failed to open ...") when it ended soon and badly; empty when the
// program ran.
[[nodiscard]] QString WineOpenFailure(const ProcessOutcome& outcome);

// Splits the parameters of a Windows command line into arguments the way
// Windows programs do, so that Wine can hand them on unchanged: blanks
// separate, double quotes group, a backslash escapes a quote.
[[nodiscard]] QStringList SplitWindowsArguments(TextView parameters);

}  // namespace ssr
