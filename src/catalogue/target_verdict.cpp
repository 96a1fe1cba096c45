// Judging a record's target: found, not found, or cannot tell and why.
#include "catalogue/target_verdict.h"

#include "catalogue/listing.h"
#include "catalogue/places.h"
#include "catalogue/reg.h"

namespace ssr {

namespace {

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Why a path that is not rooted at a drive letter is not asked; empty for
// one that is.
TextView UnaskedReason(TextView path) {
    if (path.size() >= 3 && IsLetter(path[0]) && path[1] == u':' && IsSeparator(path[2])) return {};
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        // "\\?\" and "\\.\" name devices and namespaces, not servers.
        if (path.size() >= 4 && (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3]))
            return kReasonDevicePath;
        return kReasonNetworkPath;
    }
    return kReasonNotFullPath;
}

TextView DoubtReason(FileDoubt doubt) {
    switch (doubt) {
    case FileDoubt::NotFullPath: return kReasonNotFullPath;
    case FileDoubt::NetworkPath: return kReasonNetworkPath;
    case FileDoubt::NoSuchDrive: return kReasonNoSuchDrive;
    case FileDoubt::NotReady: return kReasonNotReady;
    case FileDoubt::AccessDenied: return kReasonAccessDenied;
    case FileDoubt::ShortName: return kReasonShortName;
    case FileDoubt::None:
    case FileDoubt::Unreadable: break;
    }
    return kReasonUnreadable;
}

bool StartsWithFolder(TextView path, TextView folder) {
    return path.size() > folder.size() && IsSeparator(path[folder.size()]) &&
           LowerCase(path.substr(0, folder.size())) == LowerCase(folder);
}

TargetVerdict CannotTell(Text path, TextView reason) {
    return TargetVerdict{TargetState::CannotTell, std::move(path), Text(reason)};
}

TargetVerdict Asked(Desktop& desktop, Text path) {
    const FileAnswer answer = desktop.QueryFileState(path);
    switch (answer.state) {
    case FileState::Exists: return TargetVerdict{TargetState::Found, std::move(path), {}};
    case FileState::Missing: return TargetVerdict{TargetState::NotFound, std::move(path), {}};
    case FileState::Unknown: break;
    }
    return CannotTell(std::move(path), DoubtReason(answer.doubt));
}

}  // namespace

TargetVerdict JudgeTarget(Desktop& desktop, TextView target, ProgramView view) noexcept {
    try {
        if (target.empty()) return CannotTell({}, kReasonNoPath);
        if (Contains(target, kIgnoreMe)) return CannotTell({}, kReasonInstallerRecord);
        bool complete = true;
        std::optional<Text> unknown;
        const Text expanded = ExpandReferences(
            target,
            [&](TextView name) {
                auto value = desktop.EnvironmentVariable(name, view);
                if (!value && !unknown) unknown = Text(name);
                return value;
            },
            complete);
        // "%%" is never looked up, and is as unknown as any name.
        if (!complete) return CannotTell({}, kReasonUnknownReference + (u'%' + unknown.value_or(Text()) + u'%'));
        if (const TextView reason = UnaskedReason(expanded); !reason.empty()) return CannotTell(expanded, reason);
        if (view == ProgramView::ThirtyTwoBit) {
            // A 32-bit program's system32 is SysWOW64, and its Sysnative the real system32.
            if (const auto root = desktop.EnvironmentVariable(u"SystemRoot", view)) {
                const Text system32 = *root + u"\\system32";
                const Text sysnative = *root + u"\\Sysnative";
                if (StartsWithFolder(expanded, sysnative))
                    return Asked(desktop, system32 + expanded.substr(sysnative.size()));
                if (StartsWithFolder(expanded, system32)) {
                    // A few folders below system32 are shared by both; the real
                    // one is asked only when the redirected one is not there.
                    TargetVerdict redirected =
                        Asked(desktop, *root + u"\\SysWOW64" + expanded.substr(system32.size()));
                    if (redirected.state != TargetState::NotFound) return redirected;
                }
            }
        }
        return Asked(desktop, expanded);
    } catch (...) {
        return CannotTell({}, kReasonUnreadable);
    }
}

Text VerdictText(const TargetVerdict& verdict) {
    switch (verdict.state) {
    case TargetState::Found: return u"found";
    case TargetState::NotFound: return u"not found: " + verdict.path;
    case TargetState::CannotTell: break;
    }
    return u"cannot tell: " + verdict.reason;
}

}  // namespace ssr
