// The prefix chooser window: the prefixes found, one to pick or a folder to browse for.
#include "prefix_chooser.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "catalogue/listing.h"
#include "linux_prefix.h"
#include "platform/wine/wine_registry.h"

namespace ssr {

namespace fs = std::filesystem;

namespace {

enum Column { kName, kKind, kRecords, kLastChange, kFolder, kColumns };

QString PlaceName(wine::PrefixPlace place) {
    switch (place) {
        case wine::PrefixPlace::Wine: return QStringLiteral("Wine");
        case wine::PrefixPlace::Winetricks: return QStringLiteral("winetricks");
        case wine::PrefixPlace::Bottles: return QStringLiteral("Bottles");
        case wine::PrefixPlace::Lutris: return QStringLiteral("Lutris");
        case wine::PrefixPlace::Steam: return QStringLiteral("Steam");
    }
    return {};
}

QString FromPath(const fs::path& path) { return QString::fromStdString(path.string()); }

// `path` as a person reads it, the home folder written "~".
QString Shortened(const fs::path& path, const fs::path& home) { return QString::fromStdString(ShortPath(path, home)); }

}  // namespace

QString ChooserReason(const wine::PrefixRequest& request, const fs::path& home) {
    const QString path = Shortened(request.path, home);
    switch (request.source) {
        case wine::PrefixSource::Argument:
            return QStringLiteral("%1 is not a Wine prefix: it holds no system.reg.").arg(path);
        case wine::PrefixSource::Environment:
            return QStringLiteral("WINEPREFIX names %1, which is not a Wine prefix: it holds no system.reg.").arg(path);
        case wine::PrefixSource::Home:
            break;
    }
    return QStringLiteral("There is no Wine prefix at %1.").arg(path);
}

std::optional<int> CountPrefixRecords(const fs::path& prefix) noexcept {
    try {
        if (!wine::IsPrefix(prefix)) return std::nullopt;
        WinePrefixRegistry registry(std::make_shared<const wine::Prefix>(prefix), ReadScope::Records);
        return CountUninstallEntries(registry);
    } catch (...) {
        return std::nullopt;
    }
}

PrefixChooser::PrefixChooser(const QString& reason, std::vector<wine::FoundPrefix> found, fs::path home,
                             QWidget* parent)
    : QDialog(parent), m_found(std::move(found)), m_home(std::move(home)) {
    setWindowTitle(QStringLiteral("Choose a Wine prefix - sweep-stale-records"));
    auto* layout = new QVBoxLayout(this);

    const QString ask = m_found.empty() ? QStringLiteral("No Wine prefix was found in the usual places. Choose its folder:")
                                        : QStringLiteral("Choose the prefix whose list of installed programs to clean:");
    auto* intro = new QLabel(reason.isEmpty() ? ask : reason + QStringLiteral("\n") + ask, this);
    intro->setWordWrap(true);
    intro->setTextFormat(Qt::PlainText);
    layout->addWidget(intro);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("prefixes"));
    m_list->setColumnCount(kColumns);
    m_list->setHeaderLabels({QStringLiteral("Prefix"), QStringLiteral("Kept by"), QStringLiteral("Records"),
                             QStringLiteral("Last change"), QStringLiteral("Folder")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(m_found.size()));
    for (const wine::FoundPrefix& prefix : m_found) {
        auto* item = new QTreeWidgetItem;
        item->setText(kName, QString::fromStdString(LinuxPrefix(prefix.path, m_home, prefix.name).Title()));
        item->setText(kKind, PlaceName(prefix.place));
        item->setText(kRecords, QStringLiteral("…"));
        item->setTextAlignment(kRecords, Qt::AlignRight | Qt::AlignVCenter);
        if (prefix.last_change) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(prefix.last_change->time_since_epoch());
            item->setText(kLastChange, QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms.count()), QLocale::ShortFormat));
        }
        item->setText(kFolder, Shortened(prefix.path, m_home));
        item->setToolTip(kName, FromPath(prefix.path));
        item->setToolTip(kFolder, FromPath(prefix.path));
        items.append(item);
    }
    m_list->addTopLevelItems(items);
    // Columns sized once from their texts: a column sized to its contents
    // would measure every row again at each count that comes in.
    QHeaderView* header = m_list->header();
    header->setStretchLastSection(true);
    for (int column : {kName, kKind, kLastChange}) m_list->resizeColumnToContents(column);
    header->resizeSection(kName, std::min(header->sectionSize(kName), 320));
    header->resizeSection(kRecords, fontMetrics().horizontalAdvance(QStringLiteral("Records 00000")));
    m_list->setHidden(m_found.empty());
    layout->addWidget(m_list);

    auto* row = new QHBoxLayout;
    m_other = new QPushButton(QStringLiteral("Other folder…"), this);
    m_other->setAutoDefault(false);
    row->addWidget(m_other);
    row->addStretch();
    auto* buttons = new QDialogButtonBox(this);
    m_open = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    m_open->setEnabled(false);
    m_open->setHidden(m_found.empty());
    m_open->setDefault(true);
    row->addWidget(buttons);
    layout->addLayout(row);

    connect(m_list, &QTreeWidget::itemSelectionChanged, this,
            [this] { m_open->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list, &QTreeWidget::itemActivated, this, [this] { OpenSelected(); });
    connect(m_open, &QPushButton::clicked, this, [this] { OpenSelected(); });
    connect(m_other, &QPushButton::clicked, this, [this] { AskForFolder(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    if (!m_found.empty()) {
        m_list->setCurrentItem(m_list->topLevelItem(0));
        m_list->setFocus();
    }
    resize(860, m_found.empty() ? 140 : 420);
    StartCounting();
}

PrefixChooser::~PrefixChooser() {
    m_stop = true;
    for (std::thread& worker : m_workers) worker.join();
}

void PrefixChooser::StartCounting() {
    if (m_found.empty()) return;
    const std::size_t workers = std::min<std::size_t>({m_found.size(), 4, std::max(1U, std::thread::hardware_concurrency())});
    for (std::size_t i = 0; i < workers; ++i) {
        m_workers.emplace_back([this] {
            for (std::size_t row = m_next++; row < m_found.size() && !m_stop; row = m_next++) {
                const std::optional<int> count = CountPrefixRecords(m_found[row].path);
                // Queued to this window's thread; dropped with the window if it is gone by then.
                QMetaObject::invokeMethod(this, [this, row, count] { ShowCount(row, count); }, Qt::QueuedConnection);
            }
        });
    }
}

void PrefixChooser::ShowCount(std::size_t row, std::optional<int> count) {
    QTreeWidgetItem* item = m_list->topLevelItem(static_cast<int>(row));
    ++m_counted;
    if (!item) return;
    item->setText(kRecords, count ? QString::number(*count) : QStringLiteral("?"));
    if (!count) item->setToolTip(kRecords, QStringLiteral("The registry of this prefix could not be read."));
}

void PrefixChooser::OpenSelected() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return;
    const int row = m_list->indexOfTopLevelItem(selected.front());
    if (row < 0 || static_cast<std::size_t>(row) >= m_found.size()) return;
    ChooseFolder(m_found[static_cast<std::size_t>(row)].path);
}

void PrefixChooser::AskForFolder() {
    // Qt's own dialog: prefixes live in hidden folders (~/.wine, ~/.steam,
    // ~/.local), which the desktop's dialogs hide until asked.
    QFileDialog dialog(this, QStringLiteral("Choose a Wine prefix folder"), FromPath(m_home));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    dialog.setFilter(QDir::AllDirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::Drives);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    ChooseFolder(dialog.selectedFiles().front().toStdString());
}

void PrefixChooser::ChooseFolder(const fs::path& picked) {
    const fs::path folder = wine::PrefixFolder(picked);
    if (!wine::IsPrefix(folder)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("%1 is not a Wine prefix: it holds no system.reg.").arg(FromPath(folder)));
        return;
    }
    m_chosen = folder;
    accept();
}

}  // namespace ssr
