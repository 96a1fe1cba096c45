// The desktop against Wine's file system, shell and process start. Files go
// into a scratch folder in the prefix's temporary folder.

#include "platform/win32/win32_desktop.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <vector>

#include "operations/operations.h"
#include "platform/failure.h"
#include "test_support.h"

namespace ssr::win32 {
namespace {

using testing::RunTag;
using testing::W;
using testing::WaitFor;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path TempFolder() {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    buffer.resize(::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data()));
    return fs::path(buffer);
}

Text PathText(const fs::path& path) {
    const std::wstring wide = path.wstring();
    return Text(wide.begin(), wide.end());
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Win32DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        (void)::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        fs::create_directories(m_scratch);
    }
    void TearDown() override {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(m_scratch, ignored))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(m_scratch, ignored);
        ::CoUninitialize();
    }

    Win32Desktop m_desktop{u"desktop test"};
    const fs::path m_scratch = TempFolder() / W(RunTag() + u"-desktop");
};

// --- File tests -------------------------------------------------------------------

enum class Made { File, Folder, HiddenFile, SystemFile, ReadOnlyFile, Nothing };
constexpr auto kHere = FileState::Exists, kGone = FileState::Missing, kUnknown = FileState::Unknown;

struct FileCase {
    const char* label;
    Made made;
    const wchar_t* name;  // below the scratch folder; an absolute path when `made` is Nothing
    FileState state;
    bool plain;
};

class FileTestTest : public Win32DesktopTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileTestTest, AnswersWithoutFailing) {
    const FileCase& row = GetParam();
    fs::path path = m_scratch / row.name;
    switch (row.made) {
    case Made::Folder: fs::create_directories(path); break;
    case Made::Nothing: path = row.name; break;
    case Made::File: WriteBytes(path, {'x'}); break;
    default: {
        WriteBytes(path, {'x'});
        const DWORD attribute = row.made == Made::HiddenFile   ? FILE_ATTRIBUTE_HIDDEN
                                : row.made == Made::SystemFile ? FILE_ATTRIBUTE_SYSTEM
                                                               : FILE_ATTRIBUTE_READONLY;
        ASSERT_TRUE(::SetFileAttributesW(path.c_str(), attribute));
        ASSERT_EQ(::GetFileAttributesW(path.c_str()) & attribute, attribute) << "the prefix keeps no attributes";
    }
    }
    EXPECT_EQ(m_desktop.QueryFileState(PathText(path)).state, row.state);
    EXPECT_EQ(m_desktop.IsPlainFile(PathText(path)), row.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FileTestTest,
    ::testing::Values(FileCase{"plain_file", Made::File, L"uninst.exe", kHere, true},
                      FileCase{"non_ascii_file", Made::File, L"Удалить 旧 \U0001F600.exe", kHere, true},
                      FileCase{"read_only_file_is_plain", Made::ReadOnlyFile, L"ro.exe", kHere, true},
                      FileCase{"hidden_file_is_not_plain", Made::HiddenFile, L"hidden.cjs", kHere, false},
                      FileCase{"system_file_is_not_plain", Made::SystemFile, L"system.cjs", kHere, false},
                      FileCase{"folder_exists_but_is_not_plain", Made::Folder, L"o.cjs", kHere, false},
                      FileCase{"folder_with_trailing_backslash", Made::Folder, L"App\\", kHere, false},
                      FileCase{"drive_root", Made::Nothing, L"C:\\", kHere, false},
                      FileCase{"missing_file", Made::Nothing, L"C:\\nowhere-at-all\\gone.exe", kGone, false},
                      // Only a definite "not found" on a drive the system has is missing.
                      FileCase{"drive_that_does_not_exist", Made::Nothing, L"Q:\\gone\\gone.exe", kUnknown, false},
                      FileCase{"network_path", Made::Nothing, L"\\\\nosuchserver\\share\\gone.exe", kUnknown, false},
                      FileCase{"bare_name", Made::Nothing, L"notepad.exe", kUnknown, false},
                      FileCase{"drive_relative", Made::Nothing, L"C:windows", kUnknown, false},
                      FileCase{"root_relative", Made::Nothing, L"\\windows\\notepad.exe", kUnknown, false},
                      FileCase{"short_name_nothing_resolves", Made::Nothing, L"C:\\PROGRA~1\\LONGAP~1\\UNINST~1.EXE", kUnknown, false},
                      FileCase{"short_name_below_a_missing_folder", Made::Nothing, L"C:\\nowhere-at-all\\UNINST~1.EXE", kGone, false},
                      FileCase{"empty_path", Made::Nothing, L"", kUnknown, false},
                      FileCase{"wildcard", Made::Nothing, L"C:\\windows\\*.exe", kUnknown, false},
                      FileCase{"malformed", Made::Nothing, L"C:\\a\"b<c>|d", kUnknown, false}),
    [](const auto& info) { return std::string(info.param.label); });

// In a run of file tests a folder asked about often is listed once; the
// listing gives the answers the file system gives one by one.
struct ListedCase {
    const char* label;
    const wchar_t* made;   // a file below the scratch folder, or nothing; a trailing backslash makes a folder
    const wchar_t* asked;  // below the scratch folder; nullptr asks for the made file's short name
    FileState state;
};

class ListedFolderTest : public Win32DesktopTest, public ::testing::WithParamInterface<ListedCase> {};

TEST_P(ListedFolderTest, AnswersAsTheFileSystemDoes) {
    const ListedCase& row = GetParam();
    if (row.made) {
        const fs::path made = m_scratch / row.made;
        if (made.filename().empty()) fs::create_directories(made);
        else WriteBytes(made, {'x'});
    }
    fs::path asked = m_scratch / (row.asked ? row.asked : L"");
    if (!row.asked) {
        std::wstring short_path(MAX_PATH + 1, L'\0');
        short_path.resize(::GetShortPathNameW((m_scratch / row.made).c_str(), short_path.data(), MAX_PATH + 1));
        asked = m_scratch / fs::path(short_path).filename();
    }
    const FileAnswer one_by_one = m_desktop.QueryFileState(PathText(asked));
    m_desktop.BeginFileTests();
    for (int i = 0; i <= FolderListings::kAskedBeforeListing; ++i)
        (void)m_desktop.QueryFileState(PathText(asked.parent_path() / (L"other" + std::to_wstring(i) + L".exe")));
    const FileAnswer listed = m_desktop.QueryFileState(PathText(asked));
    m_desktop.EndFileTests();
    EXPECT_EQ(listed.state, row.state);
    EXPECT_EQ(listed, one_by_one);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ListedFolderTest,
    ::testing::Values(ListedCase{"file_there", L"uninst.exe", L"uninst.exe", kHere},
                      ListedCase{"file_in_other_case", L"Uninst.EXE", L"UNINST.exe", kHere},
                      ListedCase{"non_ascii_file", L"Удалить 旧.exe", L"Удалить 旧.exe", kHere},
                      ListedCase{"folder_there", L"Sub\\", L"sub", kHere},
                      ListedCase{"file_not_there", nullptr, L"gone.exe", kGone},
                      ListedCase{"short_name_of_a_file_there", L"A Long Program Name.exe", nullptr, kHere},
                      ListedCase{"short_name_nothing_resolves", nullptr, L"UNINST~1.EXE", kUnknown},
                      ListedCase{"trailing_dot_is_dropped", L"uninst.exe", L"uninst.exe.", kHere},
                      ListedCase{"folder_not_there", nullptr, L"nowhere\\gone.exe", kGone}),
    [](const auto& info) { return std::string(info.param.label); });

// The listing is the click's view of the folder, and goes with the click.
TEST_F(Win32DesktopTest, NoListingOutlivesItsRun) {
    const Text file = PathText(m_scratch / L"uninst.exe");
    WriteBytes(m_scratch / L"uninst.exe", {'x'});
    m_desktop.BeginFileTests();
    for (int i = 0; i <= FolderListings::kAskedBeforeListing; ++i) (void)m_desktop.QueryFileState(file);
    fs::remove(m_scratch / L"uninst.exe");
    EXPECT_EQ(m_desktop.QueryFileState(file).state, kHere);
    m_desktop.EndFileTests();
    EXPECT_EQ(m_desktop.QueryFileState(file).state, kGone);
}

// A 64-bit program is given the 64-bit folders; a record of the 32-bit place
// is read with the folders a 32-bit program is given.
TEST_F(Win32DesktopTest, EnvironmentIsTheSystemsPerProgramView) {
    const auto native = m_desktop.EnvironmentVariable(u"ProgramFiles", ProgramView::Native);
    const auto x86 = m_desktop.EnvironmentVariable(u"programfiles(x86)", ProgramView::Native);
    ASSERT_TRUE(native && x86);
    EXPECT_EQ(LowerCase(*native), u"c:\\program files");
    EXPECT_EQ(LowerCase(*x86), u"c:\\program files (x86)");
    EXPECT_EQ(m_desktop.EnvironmentVariable(u"PROGRAMFILES", ProgramView::ThirtyTwoBit), x86);
    EXPECT_EQ(LowerCase(m_desktop.EnvironmentVariable(u"CommonProgramFiles", ProgramView::ThirtyTwoBit).value_or(u"")),
              u"c:\\program files (x86)\\common files");
    EXPECT_EQ(LowerCase(m_desktop.EnvironmentVariable(u"SystemRoot", ProgramView::ThirtyTwoBit).value_or(u"")), u"c:\\windows");
    EXPECT_EQ(m_desktop.EnvironmentVariable(u"SSR_NO_SUCH_VARIABLE", ProgramView::Native), std::nullopt);
    EXPECT_EQ(m_desktop.EnvironmentVariable(u"A=B", ProgramView::Native), std::nullopt);
}

TEST_F(Win32DesktopTest, AZeroInsideAPathNeverNamesTheFileBeforeIt) {
    WriteBytes(m_scratch / L"real.exe", {'x'});
    const Text path = PathText(m_scratch / L"real.exe") + Text(1, u'\0') + u"junk";
    EXPECT_EQ(m_desktop.QueryFileState(path).state, FileState::Unknown);
    EXPECT_FALSE(m_desktop.IsPlainFile(path));
}

// --- Pointer pictures -------------------------------------------------------------------

// A 32x32 monochrome cursor with its hotspot at (5, 9).
std::vector<std::uint8_t> CursorFile() {
    std::vector<std::uint8_t> bytes{0, 0, 2, 0, 1, 0,                    // cursor directory, one image
                                    32, 32, 0, 0, 5, 0, 9, 0,            // size, hotspot
                                    0x30, 0x01, 0, 0, 22, 0, 0, 0,       // 304 bytes at offset 22
                                    40, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0,  // header: 32 x (2 x 32)
                                    1, 0, 1, 0};                         // one plane, one bit
    bytes.resize(22 + 40, 0);
    for (const std::uint8_t b : {0, 0, 0, 0, 255, 255, 255, 0}) bytes.push_back(b);  // black, white
    for (int row = 0; row < 32; ++row)                                               // image: a diagonal
        for (int column = 0; column < 4; ++column) bytes.push_back(column == row / 8 ? 0x80 >> (row % 8) : 0);
    bytes.resize(bytes.size() + 128, 0);  // mask: all opaque
    return bytes;
}

std::vector<std::uint8_t> CutShort(std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

struct PointerCase {
    const char* label;
    std::vector<std::uint8_t> bytes;
    bool write;
    const char16_t* failure;  // nullptr: loads
};

class PointerTest : public Win32DesktopTest, public ::testing::WithParamInterface<PointerCase> {};

TEST_P(PointerTest, LoadsCursorsAndRefusesEverythingElse) {
    const PointerCase& row = GetParam();
    const fs::path path = m_scratch / L"HAND-M.CUR";
    if (row.write) WriteBytes(path, row.bytes);
    if (row.failure) {
        try {
            (void)m_desktop.LoadPointer(PathText(path));
            ADD_FAILURE() << "loaded";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.description(), row.failure);
        }
        return;
    }
    const std::shared_ptr<PointerPicture> picture = m_desktop.LoadPointer(PathText(path));
    const HCURSOR cursor = CursorOf(picture.get());
    ASSERT_NE(cursor, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, 5U);
    EXPECT_EQ(info.yHotspot, 9U);
    if (info.hbmMask) ::DeleteObject(info.hbmMask);
    if (info.hbmColor) ::DeleteObject(info.hbmColor);
}

INSTANTIATE_TEST_SUITE_P(
    Files, PointerTest,
    ::testing::Values(PointerCase{"cursor_with_its_hotspot", CursorFile(), true, nullptr},
                      PointerCase{"junk", {'n', 'o', 't', ' ', 'a', ' ', 'c', 'u', 'r'}, true, kInvalidPicture},
                      PointerCase{"empty_file", {}, true, kInvalidPicture},
                      PointerCase{"cut_short", CutShort(CursorFile(), 30), true, kInvalidPicture},
                      PointerCase{"missing_file", {}, false, kFileNotFound}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Win32PointerOwnership, OnlyOwnPicturesHaveACursor) {
    struct Foreign final : PointerPicture {};
    const Foreign foreign;
    EXPECT_EQ(CursorOf(&foreign), nullptr);
    EXPECT_EQ(CursorOf(nullptr), nullptr);
}

// --- Starting programs -------------------------------------------------------------------

TEST_F(Win32DesktopTest, StartCommandRunsWithoutWaitingAndFailsWhenItCannotStart) {
    const fs::path marker = m_scratch / L"started.txt";
    m_desktop.StartCommand(u"cmd.exe /c echo started> \"" + PathText(marker) + u"\"", ShowCommand::MinimizedFocus);
    ASSERT_TRUE(WaitFor([&] { return ReadAll(marker).ends_with("\r\n"); }));
    EXPECT_EQ(ReadAll(marker), "started\r\n");

    for (const Text& command : {Text(u"C:\\nowhere-at-all\\missing.exe /x"), Text(u"")}) {
        try {
            m_desktop.StartCommand(command, ShowCommand::Normal);
            ADD_FAILURE() << "started " << ToUtf8(command);
        } catch (const Failure& failure) {
            EXPECT_FALSE(failure.description().empty());
        }
    }
    try {
        m_desktop.StartCommand(u"C:\\nowhere-at-all\\missing.exe", ShowCommand::Normal);
        ADD_FAILURE() << "started";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), kFileNotFound);
    }
}

// An uninstall command as the list holds it, opened the way the Uninstall
// button does; the program writes what it was given into a marker file.
struct ShellCase {
    const char* label;
    const char16_t* command;  // {cmd} is a program path, {marker} the marker file
    const char* written;      // {folder} is the application folder
};

class ShellOpenTest : public Win32DesktopTest, public ::testing::WithParamInterface<ShellCase> {};

Text Replaced(Text text, TextView from, TextView to) {
    for (std::size_t at = text.find(from); at != Text::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST_P(ShellOpenTest, StartsTheProgramWithItsParameters) {
    const ShellCase& row = GetParam();
    // A copy of the command interpreter in a folder with blanks and non-ASCII
    // letters, beside a folder named like its first word ("Program Files"
    // beside "Program Files (x86)").
    const fs::path folder = m_scratch / L"Тест App";
    fs::create_directories(folder);
    fs::create_directories(m_scratch / L"Тест");
    std::wstring system(MAX_PATH, L'\0');
    system.resize(::GetSystemDirectoryW(system.data(), MAX_PATH));
    fs::copy_file(fs::path(system) / L"cmd.exe", folder / L"cmd.exe");
    const fs::path marker = m_scratch / L"marker.txt";

    Text command = Replaced(row.command, u"{cmd}", PathText(folder / L"cmd.exe"));
    command = Replaced(command, u"{system}", Text(system.begin(), system.end()));
    command = Replaced(command, u"{marker}", PathText(marker));
    OpenWithShell(m_desktop, 0, command);

    const std::string expected =
        FromUtf8(row.written) == u"{folder}" ? ToUtf8(m_desktop.ApplicationFolder()) : std::string(row.written);
    ASSERT_TRUE(WaitFor([&] { return ReadAll(marker).ends_with("\r\n"); })) << ToUtf8(command);
    EXPECT_EQ(ReadAll(marker), expected + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ShellOpenTest,
    ::testing::Values(
        ShellCase{"unquoted_path_with_switches", u"{system}\\cmd.exe /c echo one two>\"{marker}\"", "one two"},
        ShellCase{"quoted_path_with_blanks", u"\"{cmd}\" /c echo quoted>\"{marker}\"", "quoted"},
        ShellCase{"unquoted_path_with_blanks", u"{cmd} /c echo unquoted>\"{marker}\"", "unquoted"},
        ShellCase{"works_in_the_application_folder", u"\"{cmd}\" /c cd>\"{marker}\"", "{folder}"},
        // Found by the shell, not started here.
        ShellCase{"bare_name", u"cmd.exe /c echo bare>\"{marker}\"", "bare"}),
    [](const auto& info) { return std::string(info.param.label); });

// --- Following a started program to its end ------------------------------------------

// The desktop tells of ends and changes through this thread's messages.
template <typename Predicate>
bool PumpUntil(Predicate done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

// The stand-in uninstaller the build makes beside the tests (SSR_STAND_IN), as a Windows path.
Text StandIn() {
    const wchar_t* given = ::_wgetenv(L"SSR_STAND_IN");
    std::wstring path = given ? given : L"";
    if (path.starts_with(L"/")) {
        std::replace(path.begin(), path.end(), L'/', L'\\');
        path = L"Z:" + path;
    }
    return Text(path.begin(), path.end());
}

struct FollowCase {
    const char* label;
    const char16_t* command;   // {stand-in}, {folder} and {system} are filled in
    bool ends_before_release;  // ended while the last program waits for {folder}\release
};

void PrintTo(const FollowCase& row, std::ostream* os) { *os << row.label; }

class FollowTest : public Win32DesktopTest, public ::testing::WithParamInterface<FollowCase> {};

TEST_P(FollowTest, EndedIsToldOnceTheLastProgramHasEnded) {
    const FollowCase& row = GetParam();
    const fs::path folder = m_scratch / row.label;  // a program of a failed case cannot upset the next
    fs::create_directories(folder);
    // A document the shell opens with the command interpreter.
    std::ofstream(folder / L"run.cmd") << "@echo x> \"%~dp0running\"\r\n";
    std::wstring system(MAX_PATH, L'\0');
    system.resize(::GetSystemDirectoryW(system.data(), MAX_PATH));
    Text command = Replaced(row.command, u"{stand-in}", StandIn());
    command = Replaced(command, u"{folder}", PathText(folder));
    command = Replaced(command, u"{system}", Text(system.begin(), system.end()));

    std::optional<ShellStart> ended;
    ASSERT_TRUE(OpenWithShell(m_desktop, 0, command, [&](const ShellStart& outcome) { ended = outcome; }).started)
        << ToUtf8(command);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(folder / L"running"); }, 30s)) << ToUtf8(command);
    if (row.ends_before_release) EXPECT_TRUE(PumpUntil([&] { return ended.has_value(); }, 30s));
    else EXPECT_FALSE(PumpUntil([&] { return ended.has_value(); }, 1500ms)) << "told while a program of it runs";
    WriteBytes(folder / L"release", {});
    ASSERT_TRUE(PumpUntil([&] { return ended.has_value(); }, 30s));
    EXPECT_TRUE(ended->started);
}

INSTANTIATE_TEST_SUITE_P(
    Programs, FollowTest,
    ::testing::Values(
        FollowCase{"program_that_ends", u"\"{stand-in}\" \"{folder}\" machine64 - m", true},
        FollowCase{"program_that_restarts_itself_and_ends", u"\"{stand-in}\" \"{folder}\" machine64 - rmw", false},
        // Its console is no program of the uninstaller's to wait for.
        FollowCase{"console_program", u"{system}\\cmd.exe /c echo x> \"{folder}\\running\"", true},
        FollowCase{"document_opened_by_the_shell", u"\"{folder}\\run.cmd\"", true}),
    [](const auto& info) { return std::string(info.param.label); });

// --- Watching a registry key ---------------------------------------------------------
// What a watch tells is tested through the window (tests/app/win32).

TEST_F(Win32DesktopTest, AKeyThatIsNotThereIsNotWatched) {
    EXPECT_EQ(m_desktop.WatchRegistryKey(kHkeyLocalMachine, u"Software\\" + RunTag() + u"-nowhere", 0, [] {}), nullptr);
}

// --- Folder and random numbers -------------------------------------------------------

TEST_F(Win32DesktopTest, ApplicationFolderHoldsTheProgramAndHasNoTrailingBackslash) {
    const Text folder = m_desktop.ApplicationFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), u'\\');
    EXPECT_TRUE(m_desktop.IsPlainFile(folder + u"\\ssr_win32_tests.exe"));
}

TEST(Win32DesktopRandom, SeededSequencesRepeatAndStayInTheUnitInterval) {
    Win32Desktop first(u"first", [] { return 4711U; });
    Win32Desktop second(u"second", [] { return 4711U; });
    first.Randomize();
    second.Randomize();
    std::set<int> numbers;
    for (int i = 0; i < 20000; ++i) {
        const double value = first.Rnd();
        ASSERT_EQ(value, second.Rnd());
        ASSERT_GE(value, 0.0);
        ASSERT_LT(value, 1.0);
        numbers.insert(static_cast<int>(std::floor(value * 100)) + 1);
    }
    EXPECT_EQ(numbers.size(), 100U);  // every promotion draw from 1 to 100 can come up
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), 100);
}

TEST(Win32DesktopRandom, TimeOfDaySeedIsMillisecondsSinceMidnight) {
    EXPECT_LT(Win32Desktop::TimeOfDaySeed(), 24U * 60 * 60 * 1000);
}

}  // namespace
}  // namespace ssr::win32
