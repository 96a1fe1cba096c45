#include "catalogue/reg.h"

#include <algorithm>

#include "platform/desktop.h"
#include "platform/failure.h"

namespace ssr {

namespace {
// Positions of the first zero are held in a signed 16-bit counter.
constexpr std::size_t kMaxPosition = 32767;
}  // namespace

Text ReadRegistryString(Registry& registry, RegHandle root, TextView subkey_path, TextView value_name,
                        TextView default_text, std::uint32_t view) {
    Text result(default_text);
    RegHandle key = 0;
    (void)registry.open_key(root, subkey_path, view, &key);  // on failure key stays 0 and the query fails

    struct Closer {
        Registry& registry;
        RegHandle key;
        ~Closer() { registry.close_key(key); }
    } closer{registry, key};

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry.query_value_ex(key, value_name, &type, nullptr, &size) == kErrorSuccess &&
        (type == kRegSz || type == kRegExpandSz)) {
        // The buffer is blank characters, as many bytes as the value holds.
        Text text((size + 1) / 2, u' ');
        type = 0;
        std::uint32_t received = size;
        (void)registry.query_value_ex(key, value_name, &type, reinterpret_cast<std::uint8_t*>(text.data()), &received);
        const std::size_t zero = text.find(u'\0');
        if (zero == Text::npos) {
            result = std::move(text);
        } else {
            if (zero + 1 > kMaxPosition) throw Failure(kOverflow);
            text.resize(zero);
            result = std::move(text);
        }
    }
    return result;
}

Text DrivePathFrom(TextView text) {
    const std::size_t colon = text.rfind(u':');
    if (colon == TextView::npos) return {};
    if (colon == 0) throw Failure(kInvalidProcedureCall);
    return Text(text.substr(colon - 1));
}

Text ExpandReferences(TextView text, const std::function<std::optional<Text>(TextView)>& lookup, bool& complete) {
    complete = true;
    Text result;
    result.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find(u'%', at);
        if (open == TextView::npos) break;
        const std::size_t close = text.find(u'%', open + 1);
        if (close == TextView::npos) break;
        result.append(text.substr(at, open - at));
        const TextView name = text.substr(open + 1, close - open - 1);
        const std::optional<Text> value = name.empty() ? std::nullopt : lookup(name);
        if (value) {
            result += *value;
            at = close + 1;
        } else {
            // As the system does: the % stays, and the closing one may open the next reference.
            complete = false;
            result += u'%';
            result.append(name);
            at = close;
        }
    }
    result.append(text.substr(std::min(at, text.size())));
    return result;
}

namespace {

bool IsLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

enum class PathKind { DriveRooted, DesktopRooted, Undecidable };

PathKind KindOf(TextView path) {
    if (path.size() >= 3 && IsLetter(path[0]) && path[1] == u':' && IsSeparator(path[2])) return PathKind::DriveRooted;
    // "\\server\share" and "\\?\..." reach other machines or need no drive;
    // a single leading separator is the desktop's own root (a Linux path).
    if (!path.empty() && IsSeparator(path[0]) && !(path.size() >= 2 && IsSeparator(path[1])))
        return PathKind::DesktopRooted;
    return PathKind::Undecidable;
}

bool StartsWithFolder(TextView path, TextView folder) {
    return path.size() > folder.size() && IsSeparator(path[folder.size()]) &&
           LowerCase(path.substr(0, folder.size())) == LowerCase(folder);
}

}  // namespace

FileState TargetState(Desktop& desktop, TextView path, ProgramView view) noexcept {
    try {
        if (path.empty()) return FileState::Unknown;
        bool complete = true;
        const Text expanded =
            ExpandReferences(path, [&](TextView name) { return desktop.EnvironmentVariable(name, view); }, complete);
        if (!complete) return FileState::Unknown;
        const PathKind kind = KindOf(expanded);
        if (kind == PathKind::Undecidable) return FileState::Unknown;
        if (kind == PathKind::DriveRooted && view == ProgramView::ThirtyTwoBit) {
            // A 32-bit program's system32 is SysWOW64, and its Sysnative the real system32.
            if (const auto root = desktop.EnvironmentVariable(u"SystemRoot", view)) {
                const Text system32 = *root + u"\\system32";
                const Text sysnative = *root + u"\\Sysnative";
                if (StartsWithFolder(expanded, sysnative))
                    return desktop.QueryFileState(system32 + expanded.substr(sysnative.size()));
                if (StartsWithFolder(expanded, system32)) {
                    // A few folders below system32 are shared by both; the real
                    // one is asked only when the redirected one is not there.
                    const FileState redirected =
                        desktop.QueryFileState(*root + u"\\SysWOW64" + expanded.substr(system32.size()));
                    if (redirected != FileState::Missing) return redirected;
                }
            }
        }
        return desktop.QueryFileState(expanded);
    } catch (...) {
        return FileState::Unknown;
    }
}

bool FileExists(Desktop& desktop, TextView path, ProgramView view) noexcept {
    return TargetState(desktop, path, view) != FileState::Missing;
}

}  // namespace ssr
