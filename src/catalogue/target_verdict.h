#pragma once
// The one judgement of a record's target: found, not found, or cannot tell
// and why. Suggest checks a row only on "not found"; the row's hint and the
// command line's listing show the same verdict in words.

#include "platform/desktop.h"
#include "platform/text.h"

namespace ssr {

enum class TargetState { Found, NotFound, CannotTell };

struct TargetVerdict {
    TargetState state = TargetState::CannotTell;
    // The path the file system was asked, references expanded and, for a
    // 32-bit program's system folder, redirected; empty when none was asked.
    Text path;
    // Why it cannot tell, in a few words for the user; empty otherwise.
    Text reason;
};

// Reasons, as the user reads them after "cannot tell: ".
inline constexpr char16_t kReasonNoPath[] = u"no path";
inline constexpr char16_t kReasonInstallerRecord[] = u"left to Windows Installer";
inline constexpr char16_t kReasonNotFullPath[] = u"not a full path";
inline constexpr char16_t kReasonNetworkPath[] = u"network path";
inline constexpr char16_t kReasonDevicePath[] = u"device path";
inline constexpr char16_t kReasonUnknownReference[] = u"unknown reference ";  // followed by %NAME%
inline constexpr char16_t kReasonNoSuchDrive[] = u"drive not present";
inline constexpr char16_t kReasonNotReady[] = u"drive not ready";
inline constexpr char16_t kReasonAccessDenied[] = u"access denied";
inline constexpr char16_t kReasonShortName[] = u"short name not resolved";
inline constexpr char16_t kReasonUnreadable[] = u"file system error";

// The verdict on `target`, a row's "FileExists" text, as a program of
// `view` would see it. Only a path rooted at a drive letter is asked of the
// file system, once; for a path under the system folder of a 32-bit program
// a second time when the first answer is "not found". Cannot tell without
// asking: an empty target, an installer's record, a network or device path,
// a bare, relative, root-relative or drive-relative name (Windows looks for
// those in more folders than anyone can list, so a miss proves nothing), and
// a reference the system does not know. Never fails.
[[nodiscard]] TargetVerdict JudgeTarget(Desktop& desktop, TextView target, ProgramView view) noexcept;

// The verdict as the user reads it: "found", "not found: <path asked>" or
// "cannot tell: <reason>".
[[nodiscard]] Text VerdictText(const TargetVerdict& verdict);

}  // namespace ssr
