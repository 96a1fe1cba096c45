#pragma once
// Form1 on the Qt desktop. The window builds its widgets from the design
// table, shows ListView1 through the entry-list model and forwards every
// click and mouse move to Form1's handlers; it decides nothing itself.
// Tests construct it around a Form1 of their own, without starting a process.

#include <QPointer>
#include <QWidget>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "application/form1.h"

class QPushButton;
class QTreeView;

namespace ssr {

class EntryListModel;

class MainWindow final : public QWidget, public FormView {
public:
    explicit MainWindow(Form1& form, QWidget* parent = nullptr);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Form_Load with the list filled in one batch; the window stays hidden, so
    // every report of the start-up comes before it.
    void Load();
    // Load, then show the window centred, with the focus on the list.
    void Start();
    // Names the open Wine prefix in the list's hint, after the design's text,
    // and by `title` (its game's name or its folder) in the window's title
    // after the caption, so that two windows can be told apart; the window's
    // layout stays as designed.
    void ShowPrefix(const QString& prefix, const QString& title = {});

    // PushButton1..6, by the number in the design name.
    [[nodiscard]] QPushButton* PushButton(int number) const;
    [[nodiscard]] QTreeView* ListView1() const { return m_list; }
    // The widget of a design name; nullptr for components without one.
    [[nodiscard]] QWidget* Control(std::string_view name) const;
    [[nodiscard]] EntryListModel& Model() const { return *m_model; }
    [[nodiscard]] int Dpi() const { return m_dpi; }

    // FormView
    void ShowCaption(TextView caption) override;
    void ShowIcon(const std::vector<IconImage>& images) override;
    void ShowMouseIcon(const std::shared_ptr<PointerPicture>& picture) override;
    void ShowMousePointer(int setting) override;
    void ShowBackColor(std::string_view control, std::uint32_t colour) override;
    [[nodiscard]] std::int32_t NativeHandle() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void BuildControls();
    void BuildList(const ControlDesign& design);
    QPushButton* BuildButton(const ControlDesign& design);
    void ApplyColumnWidths();
    // The list in the system's window colours; the buttons in the design's
    // colours where they read well, else in readable ones.
    void ApplyColours();
    void ApplyListHint(const QString& hint);
    // Mouse moves over `widget` run the MouseMove handler of its design row.
    void TrackMouse(QWidget* widget, const ControlDesign& design);
    [[nodiscard]] QRect PixelRect(const TwipsRect& rect) const;

    Form1& m_form;
    int m_dpi = 96;
    std::unique_ptr<EntryListModel> m_model;
    QTreeView* m_list = nullptr;
    std::vector<std::pair<const QObject*, FormHandler>> m_mouse_moves;
    std::shared_ptr<PointerPicture> m_mouse_icon;
    QString m_caption;
    QString m_prefix_title;
};

}  // namespace ssr
