// A scripted desktop for tests.
#include "doubles/scripted_desktop.h"

#include "platform/backup_name.h"

#include "platform/failure.h"

namespace ssr {

std::vector<Text> ScriptedDesktop::MessageTexts() const {
    std::vector<Text> texts;
    for (const Box& box : boxes)
        if (box.kind == Box::Kind::Message) texts.push_back(box.prompt);
    return texts;
}

int ScriptedDesktop::MsgBox(TextView prompt, int style, std::optional<TextView> caption) {
    Box box{Box::Kind::Message, Text(prompt), style, caption ? std::optional<Text>(Text(*caption)) : std::nullopt,
            caption ? Text(*caption) : application_title};
    boxes.push_back(box);
    if (on_box) on_box(box);
    return kVbOk;
}

Text ScriptedDesktop::InputBox(TextView prompt, std::optional<TextView> caption, TextView /*default_text*/) {
    Box box{Box::Kind::Input, Text(prompt), 0, caption ? std::optional<Text>(Text(*caption)) : std::nullopt,
            caption ? Text(*caption) : application_title};
    boxes.push_back(box);
    if (on_box) on_box(box);
    if (input_answers.empty()) return {};
    Text answer = input_answers.front();
    input_answers.pop_front();
    return answer;
}

ShellStart ScriptedDesktop::ShellOpen(std::intptr_t owner, TextView file, TextView parameters, TextView directory,
                                      ShowCommand show, ProgramEnded ended) {
    shell_calls.push_back(ShellCall{owner, Text(file), Text(parameters), Text(directory), show, std::move(ended)});
    if (const auto refusal = shell_refusals.find(file); refusal != shell_refusals.end()) {
        shell_calls.back().ended = nullptr;
        return {false, refusal->second};
    }
    return {true, {}};
}

namespace {

class ScriptedKeyWatch final : public KeyWatch {
public:
    explicit ScriptedKeyWatch(std::shared_ptr<bool> watching) : m_watching(std::move(watching)) {}
    ~ScriptedKeyWatch() override { *m_watching = false; }
    ScriptedKeyWatch(const ScriptedKeyWatch&) = delete;
    ScriptedKeyWatch& operator=(const ScriptedKeyWatch&) = delete;

private:
    std::shared_ptr<bool> m_watching;
};

}  // namespace

std::unique_ptr<KeyWatch> ScriptedDesktop::WatchRegistryKey(RegHandle root, TextView subkey, std::uint32_t view,
                                                            KeyChanged changed) noexcept {
    try {
        key_watches.push_back(KeyWatchCall{root, Text(subkey), view, std::move(changed)});
        return std::make_unique<ScriptedKeyWatch>(key_watches.back().watching);
    } catch (...) {
        return nullptr;
    }
}

void ScriptedDesktop::StartCommand(TextView command_line, ShowCommand show) {
    if (fail_start_command) throw Failure(kFileNotFound);
    commands.push_back(Command{Text(command_line), show});
}

Text ScriptedDesktop::HomePageCommandLine(TextView address) const {
    return u"explorer \"" + Text(address) + u"\"";
}

FileAnswer ScriptedDesktop::QueryFileState(TextView path) noexcept {
    queried_paths.emplace_back(path);
    if (file_test_runs_begun > file_test_runs_ended) ++queries_in_runs;
    if (const auto it = undecidable_paths.find(path); it != undecidable_paths.end())
        return FileAnswer{FileState::Unknown, it->second};
    return FileAnswer{InSet(existing_paths, path) ? FileState::Exists : FileState::Missing};
}

std::optional<Text> ScriptedDesktop::EnvironmentVariable(TextView name, ProgramView view) {
    if (view == ProgramView::ThirtyTwoBit)
        if (const auto it = environment_32bit.find(name); it != environment_32bit.end()) return it->second;
    if (const auto it = environment.find(name); it != environment.end()) return it->second;
    return std::nullopt;
}

bool ScriptedDesktop::IsPlainFile(TextView path) { return InSet(plain_files, path); }

std::shared_ptr<PointerPicture> ScriptedDesktop::LoadPointer(TextView path) {
    if (!InSet(pointer_files, path)) throw Failure(kInvalidPicture);
    return std::make_shared<ScriptedPointer>(Text(path));
}

double ScriptedDesktop::Rnd() {
    if (random_values.empty()) return 0.0;
    const double value = random_values.front();
    random_values.pop_front();
    return value;
}

void ScriptedDesktop::DiscardBackup(TextView path) noexcept {
    std::erase_if(saved_backups, [&](const SavedFile& file) { return file.path == path; });
    discarded_backups.emplace_back(path);
}

SavedBackup ScriptedDesktop::SaveBackup(std::span<const std::uint8_t> bytes) {
    if (on_backup) on_backup();
    if (backup_refusal) return SavedBackup{false, backup_folder, *backup_refusal};
    const CalendarTime time{2026, 12, 7, 12, 30, 5};
    const Text path = backup_folder + u"\\" + BackupFileName(time, static_cast<int>(saved_backups.size()) + 1);
    saved_backups.push_back(SavedFile{path, std::vector<std::uint8_t>(bytes.begin(), bytes.end())});
    return SavedBackup{true, path, {}};
}

}  // namespace ssr
