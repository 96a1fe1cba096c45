#pragma once
// Form1, the main window, as the core sees it: its properties (caption, icon,
// pointer, colours), its entry list ListView1 and its handlers. A front end
// creates the widgets from the design, attaches a FormView to mirror the
// properties, and routes every click and mouse move to a handler here.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "application/layout.h"
#include "application/product_icon.h"
#include "platform/entry_list.h"
#include "platform/text.h"
#include "steps/step_runner.h"

namespace ssr {

class Desktop;
class KeyWatch;
class PointerPicture;
struct ShellStart;
class Registry;
class SkinEngine;

inline constexpr char16_t kPointerFile[] = u"\\HAND-M.CUR";
inline constexpr char16_t kHomePageAddress[] = u"https://sweep-stale-records.example/";
inline constexpr int kPromotionNumber = 7;

// MousePointer values.
inline constexpr int kPointerDefault = 0;
inline constexpr int kPointerHourglass = 11;
inline constexpr int kPointerCustom = 99;

// What the window shows; implemented by the front ends, and by tests.
class FormView {
public:
    virtual ~FormView() = default;
    virtual void ShowCaption(TextView caption) = 0;
    virtual void ShowIcon(const std::vector<IconImage>& images) = 0;
    virtual void ShowMouseIcon(const std::shared_ptr<PointerPicture>& picture) = 0;
    virtual void ShowMousePointer(int setting) = 0;
    // `control` is "Form1" for the window itself, else a design name.
    virtual void ShowBackColor(std::string_view control, std::uint32_t colour) = 0;
    [[nodiscard]] virtual std::int32_t NativeHandle() const = 0;
};

class Form1 {
public:
    Form1(Registry& registry, Desktop& desktop, SkinEngine& skin,
          std::unique_ptr<EntryList> list = std::make_unique<EntryList>(),
          std::vector<ControlDesign> controls = {design::kControls.begin(), design::kControls.end()});
    ~Form1();
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    void AttachView(FormView* view);

    // Controls and services.
    [[nodiscard]] EntryList& ListView1() { return *m_list; }
    [[nodiscard]] const EntryList& ListView1() const { return *m_list; }
    [[nodiscard]] SkinEngine& SkinFramework1() { return m_skin; }
    [[nodiscard]] Registry& registry() { return m_registry; }
    [[nodiscard]] Desktop& desktop() { return m_desktop; }
    [[nodiscard]] const std::vector<ControlDesign>& Controls() const { return m_controls; }
    [[nodiscard]] std::int32_t hWnd() const;

    // Properties.
    [[nodiscard]] const Text& Caption() const { return m_caption; }
    void SetCaption(TextView caption);
    [[nodiscard]] const std::vector<IconImage>& Icon() const { return m_icon; }
    void SetIcon(std::vector<IconImage> images);
    [[nodiscard]] const std::shared_ptr<PointerPicture>& MouseIcon() const { return m_mouse_icon; }
    void SetMouseIcon(std::shared_ptr<PointerPicture> picture);
    [[nodiscard]] int MousePointer() const { return m_mouse_pointer; }
    void SetMousePointer(int setting);
    [[nodiscard]] std::uint32_t BackColor() const { return m_back_color; }
    void SetBackColor(std::uint32_t colour);
    [[nodiscard]] std::optional<std::uint32_t> ControlBackColor(std::string_view control) const;
    void SetControlBackColor(std::string_view control, std::uint32_t colour);

    // Runs the handler a control's event names. What arrives from outside
    // while a handler runs (an uninstaller that ended) waits until it has
    // returned, so no row moves under a handler that is walking the list.
    void Dispatch(FormHandler handler) noexcept;

    // The hint for the row at `position`, below the list's own: where its
    // record lives, its full name, its uninstall command and what Suggest's
    // test says of its target. Asked for when the hint shows, never before.
    // One text a line; empty for a position the list does not have.
    [[nodiscard]] std::vector<Text> RowHint(int position) noexcept;

    // Handlers.
    void Form_Load() noexcept;
    [[noreturn]] void Form_Unload();
    void PushButton1_Click() noexcept;  // Uninstall Selected Entry From Computer
    void PushButton2_Click() noexcept;  // Start Removing Checked Entries
    void PushButton3_Click() noexcept;  // Suggest Old Entries To Remove
    void PushButton4_Click() noexcept;  // Help
    void PushButton5_Click() noexcept;  // Select All Containing This Text
    void PushButton6_Click() noexcept;  // Select All Not Containing This Text
    // The same for every button: the design table names it for each.
    void PushButton_MouseMove() noexcept;
    void Form_MouseMove() noexcept;
    void ListView1_MouseMove() noexcept;

private:
    // An uninstaller the Uninstall button started, and the record it belongs to.
    struct StartedUninstaller {
        Text name;
        Text command;
        RecordKey record;  // no name: its row cannot be found again
        int start = 0;     // which start it was, for the watch of its record's place
    };
    // What the desktop tells when the uninstaller has ended, and when the
    // key that holds its record has changed; safe to call after the form has gone.
    [[nodiscard]] std::function<void(const ShellStart&)> WhenEnded(StartedUninstaller started);
    [[nodiscard]] std::function<void()> WhenUninstallKeyChanged(StartedUninstaller started);
    void Uninstaller_Ended(const StartedUninstaller& started, const ShellStart& outcome) noexcept;
    void UninstallKey_Changed(const StartedUninstaller& started) noexcept;
    // The steps both of them end with: the record is looked up again, and
    // one that is certainly gone takes its row away.
    [[nodiscard]] StepTable RecordGoneSteps(const StartedUninstaller& started);
    void StopUninstallKeyWatch(int start) noexcept;
    void WhenIdle(std::function<void()> work);
    void RunWaiting() noexcept;

    Registry& m_registry;
    Desktop& m_desktop;
    SkinEngine& m_skin;
    std::unique_ptr<EntryList> m_list;
    std::vector<ControlDesign> m_controls;
    FormView* m_view = nullptr;

    Text m_caption;
    std::vector<IconImage> m_icon;
    std::shared_ptr<PointerPicture> m_mouse_icon;
    int m_mouse_pointer = kPointerDefault;
    std::uint32_t m_back_color = design::kFormBackColor;
    std::vector<std::pair<std::string, std::uint32_t>> m_control_colors;

    // While an uninstaller runs, the key of its record's place is watched,
    // so its row goes as soon as the record does, before the uninstaller's
    // last program has ended. By start; a watch goes with its row or its end.
    std::vector<std::pair<int, std::unique_ptr<KeyWatch>>> m_uninstall_key_watches;
    int m_uninstaller_starts = 0;

    int m_handling = 0;
    std::vector<std::function<void()>> m_waiting;
    // Lives as long as the form; what outlives it holds only a weak reference.
    std::shared_ptr<Form1*> m_alive = std::make_shared<Form1*>(this);
};

}  // namespace ssr
