#pragma once
// A desktop for tests: it records every message and input box, answers input
// boxes from a script, and keeps the file system, pointer files, random
// numbers and started commands in memory.

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <vector>

#include "platform/desktop.h"

namespace ssr {

// Thrown by ScriptedDesktop::EndProcess so a test can see the process end.
struct ProcessEnded : std::runtime_error {
    ProcessEnded() : std::runtime_error("process ended") {}
};

class ScriptedPointer final : public PointerPicture {
public:
    explicit ScriptedPointer(Text p) : path(std::move(p)) {}
    Text path;
};

// Orders texts by their lower-cased form, so path sets ignore letter case.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(TextView a, TextView b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char16_t x, char16_t y) {
            return LowerCaseUnit(x) < LowerCaseUnit(y);
        });
    }
};
using PathSet = std::set<Text, CaseInsensitiveLess>;

class ScriptedDesktop : public Desktop {
public:
    struct Box {
        enum class Kind { Message, Input } kind;
        Text prompt;
        int style = 0;
        std::optional<Text> caption;  // as passed; nullopt means "application title"
        Text shown_caption;           // what the title bar shows
    };
    struct ShellCall {
        std::intptr_t owner;
        Text file;
        Text parameters;
        Text directory;
        ShowCommand show;
        ProgramEnded ended;  // the test calls it to end the program
    };
    struct Command {
        Text command_line;
        ShowCommand show;
    };
    struct KeyWatchCall {
        RegHandle root;
        Text subkey;
        std::uint32_t view;
        KeyChanged changed;  // the test calls it to tell of a change
        std::shared_ptr<bool> watching = std::make_shared<bool>(true);  // false once the watch has gone
    };

    // Script.
    std::deque<Text> input_answers;        // empty answer when the queue runs dry (Cancel)
    std::deque<double> random_values;      // 0.0 when the queue runs dry
    PathSet existing_paths;                // compared case-insensitively
    PathSet plain_files;                   // plain files (not hidden, not system, not folders)
    PathSet pointer_files;                 // readable pointer files
    // QueryFileState answers Unknown for these, with the doubt given.
    std::map<Text, FileDoubt, CaseInsensitiveLess> undecidable_paths;
    // Environment variables by name, any case; the 32-bit ones win in a 32-bit program.
    std::map<Text, Text, CaseInsensitiveLess> environment;
    std::map<Text, Text, CaseInsensitiveLess> environment_32bit;
    bool fail_start_command = false;
    std::map<Text, Text, CaseInsensitiveLess> shell_refusals;  // program file -> why it cannot start
    Text application_folder = u"C:\\Program Files\\Sweep";
    Text application_title = u"sweep-stale-records";
    Text registry_write_advice = u"Scripted advice.";
    Text backup_folder = u"C:\\users\\tester\\AppData\\Local\\Sweep Stale Records\\Backups";
    std::optional<Text> backup_refusal;    // SaveBackup fails with this reason
    // Called for every box, after it is recorded; lets a test act while a box is open.
    std::function<void(const Box&)> on_box;

    // Record.
    std::vector<Box> boxes;
    std::vector<ShellCall> shell_calls;
    std::vector<Command> commands;
    std::vector<KeyWatchCall> key_watches;
    std::vector<Text> queried_paths;
    int file_test_runs_begun = 0;
    int file_test_runs_ended = 0;
    std::size_t queries_in_runs = 0;  // of queried_paths, those asked between a begin and its end
    int randomize_calls = 0;
    struct SavedFile {
        Text path;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<SavedFile> saved_backups;
    std::vector<Text> discarded_backups;
    // What the registry looked like when each backup was saved, if the test asks.
    std::function<void()> on_backup;

    [[nodiscard]] std::vector<Text> MessageTexts() const;

    int MsgBox(TextView prompt, int style, std::optional<TextView> caption) override;
    Text InputBox(TextView prompt, std::optional<TextView> caption, TextView default_text) override;
    // Starts every program except those in shell_refusals.
    ShellStart ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                         ShowCommand show, ProgramEnded ended) override;
    // Every key can be watched; the watch only notes when it has gone.
    [[nodiscard]] std::unique_ptr<KeyWatch> WatchRegistryKey(RegHandle root, TextView subkey, std::uint32_t view,
                                                             KeyChanged changed) noexcept override;
    void StartCommand(TextView command_line, ShowCommand show) override;
    [[nodiscard]] Text HomePageCommandLine(TextView address) const override;
    [[nodiscard]] FileAnswer QueryFileState(TextView path) noexcept override;
    void BeginFileTests() noexcept override { ++file_test_runs_begun; }
    void EndFileTests() noexcept override { ++file_test_runs_ended; }
    [[nodiscard]] std::optional<Text> EnvironmentVariable(TextView name, ProgramView view) override;
    [[nodiscard]] bool IsPlainFile(TextView path) override;
    [[nodiscard]] std::shared_ptr<PointerPicture> LoadPointer(TextView path) override;
    [[nodiscard]] Text ApplicationFolder() override { return application_folder; }
    [[nodiscard]] Text ApplicationTitle() const override { return application_title; }
    void SetApplicationTitle(TextView title) override { application_title = Text(title); }
    void Randomize() override { ++randomize_calls; }
    double Rnd() override;
    // The scripted advice, followed by the status it was asked for: "Scripted advice. (5)".
    [[nodiscard]] Text RegistryWriteAdvice(const WriteFailure& failure, RegHandle /*root*/) const override {
        return registry_write_advice + u" (" + DecimalText(failure.status) + u")";
    }
    // Saves in memory under "<backup_folder>\\Removed records 2026-12-07 12-30-05.reg", numbered from the second on.
    [[nodiscard]] SavedBackup SaveBackup(std::span<const std::uint8_t> bytes) override;
    // Takes the file out of saved_backups and notes its path in discarded_backups.
    void DiscardBackup(TextView path) noexcept override;
    [[noreturn]] void EndProcess() override { throw ProcessEnded(); }

private:
    [[nodiscard]] static bool InSet(const PathSet& set, TextView path) { return set.find(path) != set.end(); }
};

}  // namespace ssr
