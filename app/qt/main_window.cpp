// Form1's window on the Qt desktop: widgets built from the design table, events forwarded to the core.
#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeView>
#include <algorithm>
#include <string>
#include <vector>

#include "application/button_colours.h"
#include "platform/colour.h"
#include "platform/qt/entry_list_model.h"
#include "platform/qt/qt_desktop.h"
#include "platform/qt/system_colours.h"

namespace ssr {

namespace {

QString DesignName(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

QFont DesignFont(const FontDesign& design) {
    QFont font(QString::fromUtf8(design.face.data(), static_cast<qsizetype>(design.face.size())));
    font.setPointSizeF(design.points);
    font.setBold(design.bold);
    return font;
}

QImage ToImage(const IconImage& icon) {
    const QImage::Format format = icon.bits_per_pixel == 32 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    QImage image(icon.size, icon.size, format);
    for (int y = 0; y < icon.size; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < icon.size; ++x) {
            const std::uint32_t argb = icon.argb[static_cast<std::size_t>(y * icon.size + x)];
            line[x] = icon.bits_per_pixel == 32 ? argb : (argb | 0xFF000000U);
        }
    }
    return image;
}

// The list's header. Qt finds no divider for columns of width 0 at the end of
// the header, so they could never be opened again; here the strip just right
// of the last divider grabs the last such column, as the Windows list does.
class ListHeader final : public QHeaderView {
public:
    explicit ListHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

protected:
    void mousePressEvent(QMouseEvent* event) override {
        const int x = event->position().toPoint().x();
        const int section = HiddenSectionAt(x);
        if (event->button() == Qt::LeftButton && section >= 0) {
            m_opening = section;
            m_press_x = x;
            event->accept();
            return;
        }
        QHeaderView::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        const int x = event->position().toPoint().x();
        if (m_opening >= 0) {
            resizeSection(m_opening, std::max(0, x - m_press_x));
            event->accept();
            return;
        }
        QHeaderView::mouseMoveEvent(event);
        if (event->buttons() == Qt::NoButton && HiddenSectionAt(x) >= 0) setCursor(Qt::SplitHCursor);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (m_opening >= 0) {
            m_opening = -1;
            event->accept();
            return;
        }
        QHeaderView::mouseReleaseEvent(event);
    }

private:
    // The last column of width 0 when `x` is in the strip after the last
    // divider and the header ends in such columns; else -1.
    [[nodiscard]] int HiddenSectionAt(int x) const {
        if (count() == 0) return -1;
        const int last = logicalIndex(count() - 1);
        if (sectionSize(last) != 0 || isSectionHidden(last)) return -1;
        const int end = sectionViewportPosition(last);
        const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
        return (x >= end && x <= end + 2 * grip + 2) ? last : -1;
    }

    int m_opening = -1;
    int m_press_x = 0;
};

// The list. On Windows a key that moves the focus row also selects it, even
// when the focus stays where it was (Home on the first row, Up at the top);
// Qt selects only when the current row changes, so the row that looks current
// could be unselected and Uninstall would start nothing. Ctrl moves the focus
// alone, on both.
class ListView final : public QTreeView {
public:
    using QTreeView::QTreeView;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        QTreeView::keyPressEvent(event);
        static constexpr int kMovingKeys[] = {Qt::Key_Home, Qt::Key_End,      Qt::Key_Up,
                                              Qt::Key_Down, Qt::Key_PageUp, Qt::Key_PageDown};
        if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return;
        if (std::find(std::begin(kMovingKeys), std::end(kMovingKeys), event->key()) == std::end(kMovingKeys)) return;
        const QModelIndex current = currentIndex();
        if (current.isValid() && !selectionModel()->isRowSelected(current.row(), current.parent()))
            selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    // When the current row leaves the list, Qt makes a neighbour current and,
    // with one selected row at most, selects it too: the next Uninstall click
    // would start a program the user never picked. The focus moves on alone.
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override {
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.parent() == parent && current.row() >= start && current.row() <= end) {
            const int rows = model()->rowCount(parent);
            const int next = end + 1 < rows ? end + 1 : start - 1;
            selectionModel()->setCurrentIndex(next >= 0 ? model()->index(next, 0, parent) : QModelIndex(),
                                              QItemSelectionModel::NoUpdate);
        }
        QTreeView::rowsAboutToBeRemoved(parent, start, end);
    }
};

}  // namespace

MainWindow::MainWindow(Form1& form, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_form(form) {
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        m_dpi = std::max(1, static_cast<int>(screen->logicalDotsPerInchY() + 0.5));

    setFixedSize(design::Pixels(design::kClientWidth, m_dpi), design::Pixels(design::kClientHeight, m_dpi));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ResolveColour(design::kFormBackColor, palette));
    setPalette(palette);
    setMouseTracking(true);

    m_model = std::make_unique<EntryListModel>(m_form.ListView1());
    m_model->SetHint(ToQString(design::kListHint));
    m_model->SetRowHint([this](int position) {
        QStringList lines;
        for (const Text& line : m_form.RowHint(position)) lines.append(ToQString(line));
        return lines;
    });
    BuildControls();
    ApplyColours();

    // The design's 32x32 image until Form_Load gives all four.
    ShowIcon(m_form.Icon());
    m_form.AttachView(this);
}

MainWindow::~MainWindow() {
    m_form.AttachView(nullptr);
    if (m_list) m_list->setModel(nullptr);
}

void MainWindow::BuildControls() {
    std::vector<std::pair<int, QWidget*>> tab_order;
    for (const ControlDesign& design : m_form.Controls()) {
        if (design.kind == ControlKind::ListView) {
            BuildList(design);
            tab_order.emplace_back(design.tab_index, m_list);
        } else if (design.kind == ControlKind::PushButton) {
            tab_order.emplace_back(design.tab_index, BuildButton(design));
        }
        // The skin and the common dialog take no place on the window.
    }
    std::stable_sort(tab_order.begin(), tab_order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 1; i < tab_order.size(); ++i) setTabOrder(tab_order[i - 1].second, tab_order[i].second);
}

// System colours come from the desktop's palette, looked up again when the
// user changes the theme.
void MainWindow::ApplyColours() {
    const QPalette system = QApplication::palette();
    if (m_list) {
        QPalette palette = m_list->palette();
        palette.setColor(QPalette::Text, ResolveColour(design::kListTextColor, system));
        palette.setColor(QPalette::Base, ResolveColour(design::kListBackColor, system));
        m_list->setPalette(palette);
    }
    const ButtonColours colours =
        ReadableButtonColours(ColourValue(ResolveColour(design::kButtonFaceColor, system)),
                              ColourValue(ResolveColour(design::kButtonTextColor, system)),
                              ColourValue(ResolveColour(kSystemButtonFace, system)));
    for (QPushButton* button : findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::ButtonText, ResolveColour(colours.text, system));
        palette.setColor(QPalette::Button, ResolveColour(colours.face, system));
        button->setPalette(palette);
    }
}

bool MainWindow::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::ApplicationPaletteChange) ApplyColours();
    return handled;
}

void MainWindow::BuildList(const ControlDesign& design) {
    m_list = new ListView(this);
    m_list->setObjectName(DesignName(design.name));
    m_list->setGeometry(PixelRect(design.rect));
    m_list->setFont(DesignFont(design::kListFont));
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setHeader(new ListHeader(m_list));
    m_list->setModel(m_model.get());

    // Columns of width 0 stay hidden until the user drags their divider open.
    QHeaderView* header = m_list->header();
    header->setMinimumSectionSize(0);
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setCascadingSectionResizes(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    ApplyListHint(ToQString(design::kListHint));

    connect(m_model.get(), &EntryListModel::ColumnsLaidOut, this, &MainWindow::ApplyColumnWidths);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, m_model.get(),
            &EntryListModel::WriteSelection);
    TrackMouse(m_list, design);
    TrackMouse(m_list->viewport(), design);
    TrackMouse(header, design);
    ApplyColumnWidths();
}

QPushButton* MainWindow::BuildButton(const ControlDesign& design) {
    auto* button = new QPushButton(ToQString(design.caption), this);
    button->setObjectName(DesignName(design.name));
    button->setGeometry(PixelRect(design.rect));
    button->setFont(DesignFont(design::kButtonFont));
    button->setAutoDefault(false);
    if (const FormHandler click = design.click)
        connect(button, &QPushButton::clicked, this, [this, click] { m_form.Dispatch(click); });
    TrackMouse(button, design);
    return button;
}

void MainWindow::ShowPrefix(const QString& prefix, const QString& title) {
    ApplyListHint(ToQString(design::kListHint) + QStringLiteral("\nWine prefix: ") + prefix);
    m_prefix_title = title;
    ShowCaption(m_caption.toStdU16String());
}

void MainWindow::ApplyListHint(const QString& hint) {
    m_model->SetHint(hint);
    if (!m_list) return;
    // The hint belongs to the whole list: rows (through the model), the empty
    // space below them and the header.
    QHeaderView* header = m_list->header();
    for (QWidget* part : {static_cast<QWidget*>(m_list), m_list->viewport(), static_cast<QWidget*>(header), header->viewport()})
        part->setToolTip(hint);
}

void MainWindow::TrackMouse(QWidget* widget, const ControlDesign& design) {
    widget->setMouseTracking(true);
    widget->installEventFilter(this);
    m_mouse_moves.emplace_back(widget, design.mouse_move);
}

QRect MainWindow::PixelRect(const TwipsRect& rect) const {
    return QRect(design::Pixels(rect.left, m_dpi), design::Pixels(rect.top, m_dpi), design::Pixels(rect.width, m_dpi),
                 design::Pixels(rect.height, m_dpi));
}

void MainWindow::ApplyColumnWidths() {
    if (!m_list) return;
    for (int section = 0; section < m_model->columnCount(); ++section)
        m_list->header()->resizeSection(
            section, design::Pixels(static_cast<int>(m_model->ColumnWidthTwips(section) + 0.5F), m_dpi));
}

void MainWindow::Load() {
    m_model->BeginBatch();
    m_form.Form_Load();
    m_model->EndBatch();
}

void MainWindow::Start() {
    Load();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = rect();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    if (m_list) m_list->setFocus(Qt::OtherFocusReason);
    show();
}

QPushButton* MainWindow::PushButton(int number) const {
    return qobject_cast<QPushButton*>(Control("PushButton" + std::to_string(number)));
}

QWidget* MainWindow::Control(std::string_view name) const {
    if (name == "Form1") return const_cast<MainWindow*>(this);
    return findChild<QWidget*>(DesignName(name), Qt::FindDirectChildrenOnly);
}

void MainWindow::ShowCaption(TextView caption) {
    m_caption = ToQString(caption);
    if (m_prefix_title.isEmpty() || m_caption.isEmpty()) setWindowTitle(m_caption + m_prefix_title);
    else setWindowTitle(m_caption + QStringLiteral(" - ") + m_prefix_title);
}

void MainWindow::ShowIcon(const std::vector<IconImage>& images) {
    QIcon icon;
    for (const IconImage& image : images) icon.addPixmap(QPixmap::fromImage(ToImage(image)));
    setWindowIcon(icon);
}

void MainWindow::ShowMouseIcon(const std::shared_ptr<PointerPicture>& picture) {
    m_mouse_icon = picture;
    if (m_form.MousePointer() == kPointerCustom) ShowMousePointer(kPointerCustom);
}

void MainWindow::ShowMousePointer(int setting) {
    // Children without a pointer of their own show the window's.
    switch (setting) {
        case kPointerHourglass: setCursor(Qt::WaitCursor); break;
        case kPointerCustom:
            if (const auto* pointer = dynamic_cast<const QtPointer*>(m_mouse_icon.get())) setCursor(pointer->cursor());
            else setCursor(Qt::PointingHandCursor);
            break;
        default: setCursor(Qt::ArrowCursor); break;
    }
}

void MainWindow::ShowBackColor(std::string_view control, std::uint32_t colour) {
    QWidget* widget = Control(control);
    if (!widget) return;
    QPalette palette = widget->palette();
    const QColor resolved = ResolveColour(colour, palette);
    palette.setColor(widget == this ? QPalette::Window : widget->backgroundRole(), resolved);
    widget->setPalette(palette);
}

std::int32_t MainWindow::NativeHandle() const {
    // Only the skin engine asks, and it keeps the number as a 32-bit handle.
    return static_cast<std::int32_t>(winId());
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        for (const auto& [widget, handler] : m_mouse_moves)
            if (widget == watched && handler) m_form.Dispatch(handler);
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    // Moves that a child let pass reach the window too; only its own surface counts.
    if (childAt(event->position().toPoint()) == nullptr) m_form.Dispatch(&Form1::Form_MouseMove);
    QWidget::mouseMoveEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    try {
        m_form.Form_Unload();
    } catch (...) {
        // Form_Unload ends the process; a desktop that cannot end it leaves the window closed.
    }
}

}  // namespace ssr
