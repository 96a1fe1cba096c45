// SkinApply and TitleApply: the window's look and its title.
#include "application/appearance.h"

#include "application/form1.h"
#include "application/layout.h"
#include "platform/desktop.h"
#include "platform/failure.h"

namespace ssr {

namespace {
bool IsRecolouredKind(ControlKind kind) {
    return kind == ControlKind::OptionButton || kind == ControlKind::CheckBox || kind == ControlKind::Frame ||
           kind == ControlKind::Label;
}
}  // namespace

void SkinApply(Form1& form) {
    Desktop& desktop = form.desktop();
    const Text skin_path = desktop.ApplicationFolder() + kSkinFile;
    if (!desktop.IsPlainFile(skin_path)) return;

    form.SetBackColor(kSystemButtonFace);
    for (const ControlDesign& control : form.Controls())
        if (IsRecolouredKind(control.kind)) form.SetControlBackColor(control.name, kSystemButtonFace);

    SkinEngine& skin = form.SkinFramework1();
    skin.LoadSkin(skin_path, u"");
    skin.SetOptions(skin.Options() | 1);
    skin.SetMember5(true);
    skin.SetMember10(true);
    skin.ApplyWindow(form.hWnd());
}

void TitleApply(Desktop& desktop, TextView title) {
    Text t(title);
    do {
        const std::size_t blank = t.rfind(u' ');
        if (blank == Text::npos) throw Failure(kInvalidProcedureCall);
        t.resize(blank);
    } while (t.size() > kTitleLimit);
    desktop.SetApplicationTitle(t);
}

}  // namespace ssr
