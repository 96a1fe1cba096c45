// Answers file tests from one listing of a folder that many tests ask about.

#include "platform/win32/folder_listings.h"

#include <windows.h>

#include "platform/short_names.h"
#include "platform/win32/wide.h"

namespace ssr::win32 {

namespace {

// A name the file system takes as written, so a listing can find it.
bool ListableName(TextView name) {
    if (name.empty() || name == u"." || name == u"..") return false;
    // Windows drops trailing dots and blanks from a name it is asked for.
    if (name.back() == u'.' || name.back() == u' ') return false;
    for (const char16_t unit : name)
        if (unit < 0x20 || TextView(u"*?<>\"|:").find(unit) != TextView::npos) return false;
    return true;
}

// True when a name the listing lacks may still be found: a short name
// stands for a long one the listing holds under that, and beyond ASCII the
// file system's rule of case may differ from ours.
bool MayBeFoundOtherwise(TextView name) {
    for (const char16_t unit : name)
        if (unit >= 0x80) return true;
    return IsShortNameForm(name);
}

}  // namespace

std::optional<FileAnswer> FolderListings::Answer(TextView path, const FileTest& test) {
    const std::size_t cut = path.find_last_of(u"\\/");
    if (cut == TextView::npos || cut < 2) return std::nullopt;
    const TextView name = path.substr(cut + 1);
    if (!ListableName(name)) return std::nullopt;
    const TextView folder_path = path.substr(0, cut + 1);
    Folder& folder = m_folders[LowerCase(folder_path)];
    if (folder.kind == Folder::Kind::Unlisted) {
        if (++folder.asked <= kAskedBeforeListing) return std::nullopt;
        List(folder, folder_path, test);
    }
    switch (folder.kind) {
    case Folder::Kind::Listed:
        if (folder.names.contains(LowerCase(name))) return FileAnswer{FileState::Exists};
        if (MayBeFoundOtherwise(name)) return std::nullopt;
        return FileAnswer{FileState::Missing};
    case Folder::Kind::Gone: return FileAnswer{FileState::Missing};
    case Folder::Kind::Unlisted:
    case Folder::Kind::Unlistable: break;
    }
    return std::nullopt;
}

void FolderListings::List(Folder& folder, TextView folder_path, const FileTest& test) {
    folder.kind = Folder::Kind::Unlistable;
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(Wide(Text(folder_path) + u"*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        // A folder that is certainly not there holds none of its files. A
        // drive's root without a slash after it ("c:") would be its current
        // folder, so the root is asked with it.
        const TextView asked = folder_path.size() > 3 ? folder_path.substr(0, folder_path.size() - 1) : folder_path;
        if (test(asked).state == FileState::Missing) folder.kind = Folder::Kind::Gone;
        return;
    }
    std::unordered_set<Text> names;
    bool complete = true;
    do {
        names.insert(LowerCase(FromWide(found.cFileName)));
    } while (::FindNextFileW(search, &found));
    complete = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(search);
    if (!complete) return;
    folder.names = std::move(names);
    folder.kind = Folder::Kind::Listed;
}

}  // namespace ssr::win32
