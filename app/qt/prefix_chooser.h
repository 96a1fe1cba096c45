#pragma once
// The window that comes before the main window when the prefix to open is not
// a Wine prefix: the prefixes found in the usual places, each with its path,
// record count and last change, and "Other folder…" for any other. Choosing
// a folder that is not a prefix is refused; nothing is ever created.

#include <QDialog>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/wine/prefix_discovery.h"

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ssr {

class PrefixChooser final : public QDialog {
public:
    // `reason` says why the chooser is shown; `home` shortens paths to "~/...".
    PrefixChooser(const QString& reason, std::vector<wine::FoundPrefix> found, std::filesystem::path home,
                  QWidget* parent = nullptr);

    // The chosen prefix once the dialog was accepted.
    [[nodiscard]] const std::optional<std::filesystem::path>& Chosen() const { return m_chosen; }

    // Takes `folder` when it is a prefix and closes; otherwise says why not and stays.
    void ChooseFolder(const std::filesystem::path& folder);

    [[nodiscard]] QTreeWidget* List() const { return m_list; }
    [[nodiscard]] QPushButton* OpenButton() const { return m_open; }
    [[nodiscard]] QPushButton* OtherFolderButton() const { return m_other; }
    // True once every row has its record count.
    [[nodiscard]] bool Counted() const { return m_next_count >= m_found.size(); }

private:
    void CountNext();
    void OpenSelected();
    void AskForFolder();

    std::vector<wine::FoundPrefix> m_found;
    std::filesystem::path m_home;
    std::size_t m_next_count = 0;
    std::optional<std::filesystem::path> m_chosen;
    QTreeWidget* m_list = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_other = nullptr;
};

// The sentence above the list, for a request that is not a prefix.
[[nodiscard]] QString ChooserReason(const wine::PrefixRequest& request, const std::filesystem::path& home);

}  // namespace ssr
