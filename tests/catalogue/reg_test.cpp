// Reading registry texts and the path helpers.
#include "catalogue/reg.h"
#include "catalogue/target_verdict.h"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/failure.h"
#include "doubles/memory_registry.h"
#include "doubles/scripted_desktop.h"

namespace ssr {
namespace {

const Text kKey = u"Software\\Test\\Entry";

struct StoredValue {
    const char* behaviour;
    std::function<void(MemoryRegistry&)> store;
    Text expected;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const StoredValue& c, std::ostream* os) { *os << c.behaviour; }

class ReadRegistryStringCase : public ::testing::TestWithParam<StoredValue> {};

TEST_P(ReadRegistryStringCase, ReadsOrFallsBack) {
    MemoryRegistry registry;
    GetParam().store(registry);
    EXPECT_EQ(ReadRegistryString(registry, kHkeyLocalMachine, kKey, u"Value", u"default"), GetParam().expected);
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ReadRegistryStringCase,
    ::testing::Values(
        StoredValue{"PlainText", [](MemoryRegistry& r) { r.SetText(kKey, u"Value", u"hello"); }, u"hello"},
        StoredValue{"ValueNameIgnoresCase", [](MemoryRegistry& r) { r.SetText(kKey, u"VALUE", u"x"); }, u"x"},
        StoredValue{"EmptyTextIsNotTheDefault", [](MemoryRegistry& r) { r.SetText(kKey, u"Value", u""); }, u""},
        StoredValue{"ExpandableTextIsNotExpanded",
                    [](MemoryRegistry& r) { r.SetText(kKey, u"Value", u"%SystemRoot%\\x", kRegExpandSz); },
                    u"%SystemRoot%\\x"},
        StoredValue{"CutAtAZeroInTheMiddle",
                    [](MemoryRegistry& r) { r.SetText(kKey, u"Value", Text(u"ab\0cd", 5)); }, u"ab"},
        StoredValue{"UnterminatedComesBackWhole",
                    [](MemoryRegistry& r) { r.SetText(kKey, u"Value", u"whole", kRegSz, false); }, u"whole"},
        StoredValue{"NonAsciiSurvives", [](MemoryRegistry& r) { r.SetText(kKey, u"Value", u"Ünï 😀"); }, u"Ünï 😀"},
        StoredValue{"LongestReadableText",
                    [](MemoryRegistry& r) { r.SetText(kKey, u"Value", Text(32766, u'x')); }, Text(32766, u'x')},
        // Read into the room the long text above left behind: its units must not show through.
        StoredValue{"OddLastByteIsACharacterOfItsOwn",
                    [](MemoryRegistry& r) { r.SetRaw(kKey, u"Value", kRegSz, {'a', 0, 'b'}); }, u"ab"},
        StoredValue{"DwordGivesDefault", [](MemoryRegistry& r) { r.SetDword(kKey, u"Value", 1); }, u"default"},
        StoredValue{"MultiTextGivesDefault", [](MemoryRegistry& r) { r.SetMultiText(kKey, u"Value", {u"a"}); }, u"default"},
        StoredValue{"BinaryGivesDefault", [](MemoryRegistry& r) { r.SetRaw(kKey, u"Value", kRegBinary, {1, 2}); }, u"default"},
        StoredValue{"MissingValueGivesDefault", [](MemoryRegistry& r) { r.SetText(kKey, u"Other", u"x"); }, u"default"},
        StoredValue{"MissingKeyGivesDefault", [](MemoryRegistry&) {}, u"default"},
        StoredValue{"UnreadableKeyGivesDefault",
                    [](MemoryRegistry& r) {
                        r.SetText(kKey, u"Value", u"x");
                        r.MarkUnreadable(kKey);
                    },
                    u"default"}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(ReadRegistryString, OverflowsFromATerminatedTextOf32767Characters) {
    MemoryRegistry registry;
    registry.SetText(kKey, u"Value", Text(32767, u'x'));
    try {
        (void)ReadRegistryString(registry, kHkeyLocalMachine, kKey, u"Value", u"");
        FAIL() << "no overflow";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), u"Overflow");
    }
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

struct DrivePathCase {
    Text input;
    Text expected;
};

void PrintTo(const DrivePathCase& c, std::ostream* os) { *os << ssr::ToUtf8(c.input); }

class DrivePath : public ::testing::TestWithParam<DrivePathCase> {};

TEST_P(DrivePath, StartsBeforeTheLastColon) { EXPECT_EQ(DrivePathFrom(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Texts, DrivePath,
    ::testing::Values(DrivePathCase{u"rundll32 c:\\windows\\system32\\foo.dll", u"c:\\windows\\system32\\foo.dll"},
                      DrivePathCase{u"rundll32 c:\\a\\b.dll,x d:\\c\\e.dll", u"d:\\c\\e.dll"},
                      DrivePathCase{u"rundll32 foo.dll", u""}, DrivePathCase{u"", u""},
                      DrivePathCase{u"x:", u"x:"}, DrivePathCase{u"rundll32 1:2", u"1:2"},
                      DrivePathCase{u"a::", u"::"}));

TEST(DrivePathFromText, AColonAtTheFirstPositionIsAnInvalidArgument) {
    try {
        (void)DrivePathFrom(u":\\x");
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), u"Invalid procedure call or argument");
    }
}

// ---- What a record's target tells about its program ----

// A desktop with a Windows folder, a 64-bit and a 32-bit program folder and
// a user profile; paths are looked up case-insensitively.
ScriptedDesktop TargetDesktop() {
    ScriptedDesktop desktop;
    desktop.environment = {{u"SystemRoot", u"C:\\windows"},
                           {u"ProgramFiles", u"C:\\Program Files"},
                           {u"ProgramFiles(x86)", u"C:\\Program Files (x86)"},
                           {u"CommonProgramFiles", u"C:\\Program Files\\Common Files"},
                           {u"AppData", u"C:\\users\\me\\AppData\\Roaming"},
                           {u"Empty", u""}};
    desktop.environment_32bit = {{u"ProgramFiles", u"C:\\Program Files (x86)"},
                                 {u"CommonProgramFiles", u"C:\\Program Files (x86)\\Common Files"}};
    desktop.existing_paths = {u"C:\\Program Files\\Omega\\uninst.exe",
                              u"C:\\Program Files (x86)\\Old\\uninst.exe",
                              u"C:\\Program Files (x86)\\Common Files\\Setup\\setup.exe",
                              u"C:\\users\\me\\AppData\\Roaming\\Tool\\remove.exe",
                              u"C:\\windows\\SysWOW64\\ie4uinit.exe",
                              u"C:\\windows\\system32\\drivers\\etc\\hosts",
                              u"C:\\windows\\system32\\native.exe",
                              u"/usr/share/sweep/HAND-M.CUR"};
    desktop.undecidable_paths = {{u"Q:\\Program\\uninst.exe", FileDoubt::NoSuchDrive},
                                 {u"c:\\progra~1\\longap~1\\uninst~1.exe", FileDoubt::ShortName}};
    return desktop;
}

struct TargetCase {
    const char* behaviour;
    Text target;
    ProgramView view;
    TargetState state;
    Text reason;
    std::vector<Text> asked;  // what the file system was asked, in order; the verdict names the last
};

void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.behaviour; }

class JudgeTargetTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(JudgeTargetTest, OnlyADefiniteNotFoundIsNotFound) {
    const TargetCase& c = GetParam();
    ScriptedDesktop desktop = TargetDesktop();
    const TargetVerdict verdict = JudgeTarget(desktop, c.target, c.view);
    EXPECT_EQ(verdict.state, c.state);
    EXPECT_EQ(verdict.reason, c.reason);
    EXPECT_EQ(desktop.queried_paths, c.asked);
    if (!c.asked.empty()) {
        EXPECT_EQ(verdict.path, c.asked.back());
    }
    EXPECT_EQ(FileExists(desktop, c.target, c.view), c.state != TargetState::NotFound);
    // As the row's hint words it.
    const Text said = c.state == TargetState::Found      ? Text(u"found")
                      : c.state == TargetState::NotFound ? u"not found: " + c.asked.back()
                                         : u"cannot tell: " + c.reason;
    EXPECT_EQ(VerdictText(verdict), said);
}

constexpr auto k64 = ProgramView::Native;
constexpr auto k32 = ProgramView::ThirtyTwoBit;
constexpr auto kHere = TargetState::Found;
constexpr auto kGone = TargetState::NotFound;
constexpr auto kUnsure = TargetState::CannotTell;

INSTANTIATE_TEST_SUITE_P(
    Targets, JudgeTargetTest,
    ::testing::Values(
        TargetCase{"PresentFile", u"c:\\program files\\omega\\uninst.exe", k64, kHere, u"", {u"c:\\program files\\omega\\uninst.exe"}},
        TargetCase{"GoneFile", u"C:\\Gone\\uninst.exe", k64, kGone, u"", {u"C:\\Gone\\uninst.exe"}},
        TargetCase{"ForwardSlashesAreRootedToo", u"C:/Gone/uninst.exe", k64, kGone, u"", {u"C:/Gone/uninst.exe"}},
        TargetCase{"DriveNotPresent", u"Q:\\Program\\uninst.exe", k64, kUnsure, kReasonNoSuchDrive, {u"Q:\\Program\\uninst.exe"}},
        TargetCase{"ShortNameNothingResolves", u"c:\\progra~1\\longap~1\\uninst~1.exe", k64, kUnsure, kReasonShortName,
                   {u"c:\\progra~1\\longap~1\\uninst~1.exe"}},
        TargetCase{"EmptyIsNeverAsked", u"", k64, kUnsure, kReasonNoPath, {}},
        TargetCase{"InstallerRecordIsNeverAsked", u"IGNORE ME", k64, kUnsure, kReasonInstallerRecord, {}},
        TargetCase{"BareNameIsNeverAsked", u"notepad.exe", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"BareCommandIsNeverAsked", u"msi", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"RelativeFolderIsNeverAsked", u"bin\\uninst.exe", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"DriveRelativeIsNeverAsked", u"c:uninst.exe", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"RootRelativeIsNeverAsked", u"\\games\\foo\\uninst.exe", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"UnixPathIsNeverAsked", u"/usr/share/sweep/HAND-M.CUR", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"CutUnixCommandIsNeverAsked", u"/us", k64, kUnsure, kReasonNotFullPath, {}},
        TargetCase{"NetworkPathIsNeverAsked", u"\\\\server\\share\\uninst.exe", k64, kUnsure, kReasonNetworkPath, {}},
        TargetCase{"DeviceNamespaceIsNeverAsked", u"\\\\?\\C:\\gone.exe", k64, kUnsure, kReasonDevicePath, {}},
        TargetCase{"ExpandedReferenceThatExists", u"%ProgramFiles%\\Omega\\uninst.exe", k64, kHere, u"",
                   {u"C:\\Program Files\\Omega\\uninst.exe"}},
        TargetCase{"ReferenceNamesAreCaseBlind", u"%PROGRAMFILES%\\Omega\\uninst.exe", k64, kHere, u"",
                   {u"C:\\Program Files\\Omega\\uninst.exe"}},
        TargetCase{"ThirtyTwoBitProgramFilesIsTheX86Folder", u"%ProgramFiles%\\Old\\uninst.exe", k32, kHere, u"",
                   {u"C:\\Program Files (x86)\\Old\\uninst.exe"}},
        TargetCase{"ThirtyTwoBitCommonFiles", u"%CommonProgramFiles%\\Setup\\setup.exe", k32, kHere, u"",
                   {u"C:\\Program Files (x86)\\Common Files\\Setup\\setup.exe"}},
        TargetCase{"SixtyFourBitProgramFilesIsNotTheX86Folder", u"%ProgramFiles%\\Old\\uninst.exe", k64, kGone, u"",
                   {u"C:\\Program Files\\Old\\uninst.exe"}},
        TargetCase{"ExpandedReferenceThatIsGone", u"%AppData%\\Gone\\remove.exe", k64, kGone, u"",
                   {u"C:\\users\\me\\AppData\\Roaming\\Gone\\remove.exe"}},
        TargetCase{"TwoReferencesOneEmpty", u"%SystemRoot%\\%Empty%Tool\\x.exe", k64, kGone, u"", {u"C:\\windows\\Tool\\x.exe"}},
        TargetCase{"UnknownReferenceIsNamed", u"%NoSuchFolder%\\uninst.exe", k64, kUnsure, u"unknown reference %NoSuchFolder%", {}},
        TargetCase{"FirstUnknownAmongKnownIsNamed", u"%ProgramFiles%\\%Nope%\\%Other%\\x.exe", k64, kUnsure,
                   u"unknown reference %Nope%", {}},
        TargetCase{"LonePercentIsACharacter", u"C:\\100%\\uninst.exe", k64, kGone, u"", {u"C:\\100%\\uninst.exe"}},
        TargetCase{"EmptyReferenceIsNotAName", u"C:\\a%%b\\uninst.exe", k64, kUnsure, u"unknown reference %%", {}},
        TargetCase{"ThirtyTwoBitSystemFolderIsSysWow64", u"C:\\Windows\\System32\\ie4uinit.exe", k32, kHere, u"",
                   {u"C:\\windows\\SysWOW64\\ie4uinit.exe"}},
        TargetCase{"ThirtyTwoBitSharedSystemSubfolderIsAskedAsWritten", u"%SystemRoot%\\system32\\drivers\\etc\\hosts",
                   k32, kHere, u"", {u"C:\\windows\\SysWOW64\\drivers\\etc\\hosts", u"C:\\windows\\system32\\drivers\\etc\\hosts"}},
        TargetCase{"ThirtyTwoBitSysnativeIsTheRealSystemFolder", u"C:\\windows\\Sysnative\\native.exe", k32, kHere, u"",
                   {u"C:\\windows\\system32\\native.exe"}},
        TargetCase{"SixtyFourBitSystemFolderIsNotRedirected", u"C:\\windows\\system32\\ie4uinit.exe", k64, kGone, u"",
                   {u"C:\\windows\\system32\\ie4uinit.exe"}}),
    [](const auto& info) { return std::string(info.param.behaviour); });

}  // namespace
}  // namespace ssr
