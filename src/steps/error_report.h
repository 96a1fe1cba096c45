#pragma once
// The standard error report that every working handler shows for a failed
// step, and the fixed texts it is made of.

#include "platform/text.h"

namespace ssr {

class Desktop;

inline constexpr char16_t kSupportAddress[] = u"support@sweep-stale-records.example";
inline constexpr char16_t kErrorReportCaption[] = u"Application Error";

// Error location texts, one per handler.
namespace location {
inline constexpr char16_t kFormLoad[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.Form_Load ";
inline constexpr char16_t kPushButton1Click[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton1_Click ";
inline constexpr char16_t kPushButton2Click[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton2_Click ";
inline constexpr char16_t kPushButton3Click[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton3_Click ";
inline constexpr char16_t kPushButton4Click[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton4_Click ";
inline constexpr char16_t kPushButton5Click[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton5_Click ";
inline constexpr char16_t kPushButton6Click[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.PushButton6_Click ";
inline constexpr char16_t kUninstallerEnded[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.Uninstaller_Ended ";
inline constexpr char16_t kUninstallKeyChanged[] = u"in Sweep_Stale_Installed_Record2021/08/31.Form1.UninstallKey_Changed ";
}  // namespace location

[[nodiscard]] Text ComposeApplicationError(TextView location, int label, TextView description);

// Shows the report (OK only, warning icon, caption "Application Error") and
// returns when the user has closed it.
void ShowApplicationError(Desktop& desktop, TextView location, int label, TextView description);

}  // namespace ssr
