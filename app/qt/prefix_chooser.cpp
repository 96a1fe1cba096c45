#include "prefix_chooser.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QBoxLayout>

namespace ssr {

namespace fs = std::filesystem;

namespace {

enum Column { kPath, kKind, kRecords, kLastChange, kColumns };

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

QString ShortPath(const fs::path& path, const fs::path& home) {
    if (!home.empty()) {
        const fs::path relative = path.lexically_relative(home);
        if (!relative.empty() && *relative.begin() != "..")
            return relative == "." ? QStringLiteral("~") : QStringLiteral("~/") + FromPath(relative);
    }
    return FromPath(path);
}

}  // namespace

QString ChooserReason(const wine::PrefixRequest& request, const fs::path& home) {
    const QString path = ShortPath(request.path, home);
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

PrefixChooser::PrefixChooser(const QString& reason, std::vector<wine::FoundPrefix> found, fs::path home,
                             QWidget* parent)
    : QDialog(parent), m_found(std::move(found)), m_home(std::move(home)) {
    setWindowTitle(QStringLiteral("Choose a Wine prefix - sweep-stale-records"));
    auto* layout = new QVBoxLayout(this);

    auto* intro = new QLabel(reason + QStringLiteral("\n") +
                                 (m_found.empty()
                                      ? QStringLiteral("No Wine prefix was found in the usual places. Choose its folder:")
                                      : QStringLiteral("Choose the prefix whose list of installed programs to clean:")),
                             this);
    intro->setWordWrap(true);
    intro->setTextFormat(Qt::PlainText);
    layout->addWidget(intro);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("prefixes"));
    m_list->setColumnCount(kColumns);
    m_list->setHeaderLabels({QStringLiteral("Prefix"), QStringLiteral("Kept by"), QStringLiteral("Records"),
                             QStringLiteral("Last change")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const wine::FoundPrefix& prefix : m_found) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(kPath, ShortPath(prefix.path, m_home));
        item->setToolTip(kPath, FromPath(prefix.path));
        item->setText(kKind, PlaceName(prefix.place));
        item->setText(kRecords, QStringLiteral("…"));
        item->setTextAlignment(kRecords, Qt::AlignRight | Qt::AlignVCenter);
        if (prefix.last_change) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(prefix.last_change->time_since_epoch());
            item->setText(kLastChange, QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms.count()), QLocale::ShortFormat));
        }
    }
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(kPath, QHeaderView::Stretch);
    for (int column : {kKind, kRecords, kLastChange}) m_list->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
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
    resize(720, m_found.empty() ? 140 : 360);
    // One prefix per turn of the event loop: a large Steam library must not
    // hold the window up before it is drawn.
    QTimer::singleShot(0, this, [this] { CountNext(); });
}

void PrefixChooser::CountNext() {
    if (Counted()) return;
    const std::size_t row = m_next_count++;
    const std::optional<int> count = wine::CountRecords(m_found[row].path);
    QTreeWidgetItem* item = m_list->topLevelItem(static_cast<int>(row));
    item->setText(kRecords, count ? QString::number(*count) : QStringLiteral("?"));
    if (!count) item->setToolTip(kRecords, QStringLiteral("The registry of this prefix could not be read."));
    QTimer::singleShot(0, this, [this] { CountNext(); });
}

void PrefixChooser::OpenSelected() {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return;
    const int row = m_list->indexOfTopLevelItem(selected.front());
    if (row < 0 || static_cast<std::size_t>(row) >= m_found.size()) return;
    ChooseFolder(m_found[static_cast<std::size_t>(row)].path);
}

void PrefixChooser::AskForFolder() {
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Choose a Wine prefix folder"),
                                                             FromPath(m_home));
    if (!folder.isEmpty()) ChooseFolder(folder.toStdString());
}

void PrefixChooser::ChooseFolder(const fs::path& folder) {
    if (!wine::IsPrefix(folder)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("%1 is not a Wine prefix: it holds no system.reg.").arg(FromPath(folder)));
        return;
    }
    m_chosen = folder;
    accept();
}

}  // namespace ssr
