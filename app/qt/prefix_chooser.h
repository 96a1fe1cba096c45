#pragma once
// The window that comes before the main window when the user asks to choose
// (--choose, the menu entry) or the prefix to open is not a Wine prefix: the
// prefixes found in the usual places, each with its name, record count, last
// change and folder, and "Other folder…" for any other. Choosing a folder
// that is not a prefix is refused; nothing is ever created.
//
// Counting reads each prefix's registry, which takes a while for a large
// Steam library: worker threads count while the window is already up, and
// each count is shown as it comes.

#include <QDialog>
#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

#include "platform/wine/discovery/prefix_discovery.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ssr {

class PrefixChooser final : public QDialog {
public:
    // `reason` says why the chooser is shown, empty when the user asked for
    // it; `home` shortens paths to "~/...".
    PrefixChooser(const QString& reason, std::vector<wine::FoundPrefix> found, std::filesystem::path home,
                  QWidget* parent = nullptr);
    ~PrefixChooser() override;
    PrefixChooser(const PrefixChooser&) = delete;
    PrefixChooser& operator=(const PrefixChooser&) = delete;

    // The chosen prefix once the dialog was accepted.
    [[nodiscard]] const std::optional<std::filesystem::path>& Chosen() const { return m_chosen; }

    // Takes `folder` (or the prefix inside a Steam game's compatdata folder)
    // when it is a prefix and closes; otherwise says why not and stays.
    void ChooseFolder(const std::filesystem::path& folder);

    [[nodiscard]] QTreeWidget* List() const { return m_list; }
    [[nodiscard]] QPushButton* OpenButton() const { return m_open; }
    [[nodiscard]] QPushButton* OtherFolderButton() const { return m_other; }
    // True once every row shows its record count.
    [[nodiscard]] bool Counted() const { return m_counted >= m_found.size(); }

private:
    void StartCounting();
    void ShowCount(std::size_t row, std::optional<int> count);
    void OpenSelected();
    void AskForFolder();

    std::vector<wine::FoundPrefix> m_found;
    std::filesystem::path m_home;
    std::optional<std::filesystem::path> m_chosen;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_other = nullptr;

    std::size_t m_counted = 0;            // rows whose count is shown
    std::atomic<std::size_t> m_next{0};   // the next row a worker takes
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_workers;
};

// The sentence above the list, for a request that is not a prefix.
[[nodiscard]] QString ChooserReason(const wine::PrefixRequest& request, const std::filesystem::path& home);

// The number of records the window would list for `prefix`; empty when its
// registry cannot be read. Never fails.
[[nodiscard]] std::optional<int> CountPrefixRecords(const std::filesystem::path& prefix) noexcept;

}  // namespace ssr
