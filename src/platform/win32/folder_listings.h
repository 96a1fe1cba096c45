#pragma once
// Answers file tests from one listing of a folder that many tests ask about.
// Under Wine every file that is not there costs a read of its whole folder,
// so thousands of records in one folder cost the square of their number;
// a listing costs one read. A folder is listed only once it has been asked
// about several times, so a few tests cost what they always did.

#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/desktop.h"

namespace ssr::win32 {

class FolderListings {
public:
    // How many tests of one folder go to the file system before it is listed.
    static constexpr int kAskedBeforeListing = 4;

    // The file test one by one, for what a listing cannot settle.
    using FileTest = std::function<FileAnswer(TextView path)>;

    // The answer for `path`, a drive-rooted path without a zero, when the
    // folder's listing settles it; nothing when the file test must decide:
    // a folder not yet asked about often enough or that cannot be listed, a
    // name the file system may read otherwise than as written (trailing dots
    // or blanks, wildcards, a stream), or a name the listing lacks that may
    // still be found (a short name, letters whose case a listing may fold
    // otherwise than the file system).
    [[nodiscard]] std::optional<FileAnswer> Answer(TextView path, const FileTest& test);

    // Drops every listing, so later answers are fresh from the file system.
    void Forget() noexcept { m_folders.clear(); }

private:
    struct Folder {
        int asked = 0;
        enum class Kind { Unlisted, Listed, Gone, Unlistable } kind = Kind::Unlisted;
        std::unordered_set<Text> names;  // lower case
    };
    void List(Folder& folder, TextView folder_path, const FileTest& test);

    std::unordered_map<Text, Folder> m_folders;  // by the folder as written, lower case, with its last separator
};

}  // namespace ssr::win32
