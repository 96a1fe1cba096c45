// Form1 as the core sees it: start-up and the handlers its controls run.
#include "application/form1.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "application/appearance.h"
#include "catalogue/listing.h"
#include "catalogue/reg.h"
#include "platform/desktop.h"
#include "platform/registry.h"
#include "steps/error_report.h"
#include "steps/step_runner.h"

namespace ssr {

Form1::Form1(Registry& registry, Desktop& desktop, SkinEngine& skin, std::unique_ptr<EntryList> list,
             std::vector<ControlDesign> controls)
    : m_registry(registry), m_desktop(desktop), m_skin(skin), m_list(std::move(list)), m_controls(std::move(controls)) {
    // The design gives the window the 32x32 image only; Form_Load sets all four.
    if (std::vector<IconImage> images = ProductIcon(1); !images.empty()) m_icon.push_back(std::move(images.front()));
}

Form1::~Form1() = default;

void Form1::AttachView(FormView* view) { m_view = view; }

std::int32_t Form1::hWnd() const { return m_view ? m_view->NativeHandle() : 0; }

void Form1::SetCaption(TextView caption) {
    m_caption = Text(caption);
    if (m_view) m_view->ShowCaption(m_caption);
}

void Form1::SetIcon(std::vector<IconImage> images) {
    m_icon = std::move(images);
    if (m_view) m_view->ShowIcon(m_icon);
}

void Form1::SetMouseIcon(std::shared_ptr<PointerPicture> picture) {
    m_mouse_icon = std::move(picture);
    if (m_view) m_view->ShowMouseIcon(m_mouse_icon);
}

void Form1::SetMousePointer(int setting) {
    m_mouse_pointer = setting;
    if (m_view) m_view->ShowMousePointer(setting);
}

void Form1::SetBackColor(std::uint32_t colour) {
    m_back_color = colour;
    if (m_view) m_view->ShowBackColor("Form1", colour);
}

std::optional<std::uint32_t> Form1::ControlBackColor(std::string_view control) const {
    for (const auto& [name, colour] : m_control_colors)
        if (name == control) return colour;
    return std::nullopt;
}

void Form1::SetControlBackColor(std::string_view control, std::uint32_t colour) {
    auto it = std::find_if(m_control_colors.begin(), m_control_colors.end(),
                           [&](const auto& entry) { return entry.first == control; });
    if (it == m_control_colors.end()) m_control_colors.emplace_back(std::string(control), colour);
    else it->second = colour;
    if (m_view) m_view->ShowBackColor(control, colour);
}

void Form1::Form_Load() noexcept {
    Text pointer_path;
    ListingRun listing{m_registry, *m_list};

    StepTable steps{
        {100, [this] { SkinApply(*this); return Next::Advance(); }},
        {104, [this, &pointer_path] {
             pointer_path = m_desktop.ApplicationFolder() + kPointerFile;
             // A plain existence test: a pointer file that cannot be seen is
             // no pointer file, and no pointer file is no message.
             return m_desktop.QueryFileState(pointer_path).state == FileState::Exists ? Next::Advance()
                                                                                       : Next::Jump(108);
         }},
        // A pointer file that cannot be read skips the promotion as well.
        {106, [this, &pointer_path] { SetMouseIcon(m_desktop.LoadPointer(pointer_path)); return Next::Advance(); },
         Next::Jump(128)},
        {108, [this] {
             m_desktop.Randomize();
             const int number = static_cast<int>(std::floor(m_desktop.Rnd() * 100)) + 1;
             if (number == kPromotionNumber)
                 m_desktop.StartCommand(m_desktop.HomePageCommandLine(kHomePageAddress), ShowCommand::MinimizedFocus);
             return Next::Advance();
         }},
        {128, [this] { SetCaption(design::kProductTitle); return Next::Advance(); }},
        {128, [this] { SetIcon(ProductIcon()); return Next::Advance(); }},
        {128, [this] { TitleApply(m_desktop, design::kProductTitle); return Next::Advance(); }},
    };
    for (Step& step : ListingSteps(listing)) steps.push_back(std::move(step));
    RunSteps(m_desktop, location::kFormLoad, steps);
}

void Form1::Dispatch(FormHandler handler) noexcept {
    ++m_handling;
    if (handler) (this->*handler)();
    --m_handling;
    RunWaiting();
}

void Form1::WhenIdle(std::function<void()> work) {
    m_waiting.push_back(std::move(work));
    RunWaiting();
}

void Form1::RunWaiting() noexcept {
    if (m_handling > 0) return;
    ++m_handling;
    // Work may bring more work (a box that lets another program end meanwhile).
    while (!m_waiting.empty()) {
        const std::function<void()> work = std::move(m_waiting.front());
        m_waiting.erase(m_waiting.begin());
        work();
    }
    --m_handling;
}

std::function<void(const ShellStart&)> Form1::WhenEnded(StartedUninstaller started) {
    return [alive = std::weak_ptr<Form1*>(m_alive), started = std::move(started)](const ShellStart& outcome) {
        const auto form = alive.lock();
        if (!form) return;
        Form1* self = *form;
        self->WhenIdle([self, started, outcome] { self->Uninstaller_Ended(started, outcome); });
    };
}

std::function<void()> Form1::WhenUninstallKeyChanged(StartedUninstaller started) {
    return [alive = std::weak_ptr<Form1*>(m_alive), started = std::move(started)] {
        const auto form = alive.lock();
        if (!form) return;
        Form1* self = *form;
        self->WhenIdle([self, started] { self->UninstallKey_Changed(started); });
    };
}

void Form1::StopUninstallKeyWatch(int start) noexcept {
    std::erase_if(m_uninstall_key_watches, [start](const auto& watch) { return watch.first == start; });
}

void Form1::Form_Unload() {
    m_desktop.EndProcess();
    std::abort();  // EndProcess does not come back
}

}  // namespace ssr
