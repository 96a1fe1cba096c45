// The environment a prefix gives its programs, from its own registry files,
// and cross-checked against what a program in a real prefix is given.

#include "platform/wine/prefix/prefix_environment.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/wine/prefix/wine_prefix.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

namespace ssr::wine {
namespace {

// The relevant keys of a win64 prefix, written as Wine writes them.
const std::string kSystemReg = R"REG(WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win64

[Software\\Microsoft\\Windows\\CurrentVersion] 1796645587
"CommonFilesDir"="C:\\Program Files\\Common Files"
"CommonFilesDir (x86)"="C:\\Program Files (x86)\\Common Files"
"ProgramFilesDir"="C:\\Program Files"
"ProgramFilesDir (x86)"="C:\\Program Files (x86)"

[Software\\Microsoft\\Windows NT\\CurrentVersion] 1796645587
"SystemRoot"="C:\\windows"

[Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList] 1796645587
"ProgramData"=str(2):"%SystemDrive%\\ProgramData"
"Public"=str(2):"C:\\users\\Public"

[Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion] 1796645587
"ProgramFilesDir"="C:\\Program Files (x86)"

[System\\CurrentControlSet\\Control\\Session Manager\\Environment] 1796645583
"ComSpec"=str(2):"%SystemRoot%\\system32\\cmd.exe"
"PATH"=str(2):"%SystemRoot%\\system32;%SystemRoot%"
"TEMP"=str(2):"%SystemRoot%\\temp"
"windir"=str(2):"%SystemRoot%"
"SystemRoot"="D:\\not the windows folder"
"Number"=dword:00000002
)REG";

const std::string kUserReg = R"REG(WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Environment] 1796645582
"PATH"="C:\\users\\me\\bin"
"TEMP"="C:\\users\\me\\Temp"

[Volatile Environment] 1796645587
"APPDATA"="C:\\users\\me\\AppData\\Roaming"
"LOCALAPPDATA"="C:\\users\\me\\AppData\\Local"
"USERPROFILE"="C:\\users\\me"
)REG";

// The environment of a prefix whose hives hold `system_reg` and `user_reg`
// (no file for an empty text), as the window's store reads them.
PrefixEnvironment FromFiles(const std::string& system_reg, const std::string& user_reg) {
    const test::TempFolder folder("environment");
    if (!system_reg.empty()) test::WriteBytes(folder.path() / "system.reg", system_reg);
    if (!user_reg.empty()) test::WriteBytes(folder.path() / "user.reg", user_reg);
    WinePrefixRegistry store(std::make_shared<const Prefix>(folder.path()));
    return PrefixEnvironment::FromHives(store);
}

struct VariableCase {
    const char* behaviour;
    const char16_t* name;
    ProgramView view;
    std::optional<Text> value;
};

void PrintTo(const VariableCase& c, std::ostream* os) { *os << c.behaviour; }

class EnvironmentOfAPrefix : public ::testing::TestWithParam<VariableCase> {};

TEST_P(EnvironmentOfAPrefix, IsWhatWineGivesAProgramOfThatView) {
    const PrefixEnvironment environment = FromFiles(kSystemReg, kUserReg);
    EXPECT_EQ(environment.Value(GetParam().name, GetParam().view), GetParam().value);
}

constexpr auto k64 = ProgramView::Native;
constexpr auto k32 = ProgramView::ThirtyTwoBit;

INSTANTIATE_TEST_SUITE_P(
    Names, EnvironmentOfAPrefix,
    ::testing::Values(
        VariableCase{"ProgramFilesOfA64BitProgram", u"ProgramFiles", k64, u"C:\\Program Files"},
        VariableCase{"ProgramFilesOfA32BitProgram", u"ProgramFiles", k32, u"C:\\Program Files (x86)"},
        VariableCase{"NamesAreCaseBlind", u"PROGRAMFILES", k32, u"C:\\Program Files (x86)"},
        VariableCase{"X86FolderForBoth", u"ProgramFiles(x86)", k64, u"C:\\Program Files (x86)"},
        VariableCase{"ProgramW6432ForBoth", u"ProgramW6432", k32, u"C:\\Program Files"},
        VariableCase{"CommonFilesOfA64BitProgram", u"CommonProgramFiles", k64, u"C:\\Program Files\\Common Files"},
        VariableCase{"CommonFilesOfA32BitProgram", u"CommonProgramFiles", k32, u"C:\\Program Files (x86)\\Common Files"},
        VariableCase{"CommonW6432", u"CommonProgramW6432", k32, u"C:\\Program Files\\Common Files"},
        VariableCase{"SystemRootFromWindowsNtNotFromTheEnvironmentKey", u"SystemRoot", k64, u"C:\\windows"},
        VariableCase{"SystemDrive", u"SystemDrive", k64, u"C:"},
        VariableCase{"ExpandableSystemValue", u"windir", k64, u"C:\\windows"},
        VariableCase{"ExpandableSystemValueWithAPath", u"ComSpec", k32, u"C:\\windows\\system32\\cmd.exe"},
        VariableCase{"UserValueWinsOverTheSystemOne", u"TEMP", k64, u"C:\\users\\me\\Temp"},
        VariableCase{"UserPathGoesAfterTheSystemOne", u"Path", k64, u"C:\\windows\\system32;C:\\windows;C:\\users\\me\\bin"},
        VariableCase{"VolatileAppData", u"AppData", k64, u"C:\\users\\me\\AppData\\Roaming"},
        VariableCase{"VolatileLocalAppData", u"LocalAppData", k32, u"C:\\users\\me\\AppData\\Local"},
        VariableCase{"UserProfile", u"UserProfile", k64, u"C:\\users\\me"},
        VariableCase{"ProgramDataFromTheProfileList", u"ProgramData", k64, u"C:\\ProgramData"},
        VariableCase{"AllUsersProfileIsProgramData", u"AllUsersProfile", k64, u"C:\\ProgramData"},
        VariableCase{"Public", u"Public", k64, u"C:\\users\\Public"},
        VariableCase{"NonTextValueIsNoVariable", u"Number", k64, std::nullopt},
        VariableCase{"UnknownName", u"NoSuchName", k64, std::nullopt}),
    [](const auto& info) { return std::string(info.param.behaviour); });

TEST(EnvironmentOfAPrefix, A32BitPrefixHasNoX86Names) {
    std::string system = kSystemReg;
    system.replace(system.find("#arch=win64"), 11, "#arch=win32");
    system.erase(system.find("[Software\\\\Wow6432Node"), system.find("[System\\\\") - system.find("[Software\\\\Wow6432Node"));
    const PrefixEnvironment environment = FromFiles(system, kUserReg);
    EXPECT_EQ(environment.Value(u"ProgramFiles", ProgramView::ThirtyTwoBit), Text(u"C:\\Program Files"));
    EXPECT_EQ(environment.Value(u"ProgramW6432", ProgramView::Native), std::nullopt);
}

TEST(EnvironmentOfAPrefix, MissingOrBrokenFilesGiveOnlyTheWindowsFolder) {
    const PrefixEnvironment environment = FromFiles("", "not a registry");
    EXPECT_EQ(environment.Value(u"SystemRoot", ProgramView::Native), Text(u"C:\\windows"));
    EXPECT_EQ(environment.Value(u"ProgramFiles", ProgramView::Native), std::nullopt);
}

// The test run's own prefix: what `cmd` (a 32-bit program under Debian's
// wine) is given must be what we derive for the 32-bit view.
TEST(EnvironmentOfAPrefix, MatchesWhatWineGivesAProgram) {
    const char* run = std::getenv("SSR_TEST_RUN_DIR");
    const char* prefix = std::getenv("WINEPREFIX");
    if (!run || !*run || !prefix || std::string(prefix).rfind(run, 0) != 0)
        GTEST_SKIP() << "only inside a test run, on its throwaway prefix";
    FILE* pipe = ::popen("WINEDEBUG=-all wine cmd /c set 2>/dev/null", "r");
    ASSERT_NE(pipe, nullptr);
    std::map<Text, Text> given;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) given[LowerCase(FromUtf8(text.substr(0, equals)))] = FromUtf8(text.substr(equals + 1));
    }
    if (::pclose(pipe) != 0 || given.empty()) GTEST_SKIP() << "Wine could not run cmd";
    WinePrefixRegistry store(std::make_shared<const Prefix>(prefix));
    const PrefixEnvironment derived = PrefixEnvironment::FromHives(store);
    for (const char16_t* name : {u"ProgramFiles", u"ProgramFiles(x86)", u"ProgramW6432", u"CommonProgramFiles",
                                 u"CommonProgramFiles(x86)", u"CommonProgramW6432", u"SystemRoot", u"SystemDrive",
                                 u"windir", u"ComSpec", u"AppData", u"LocalAppData", u"UserProfile", u"ProgramData",
                                 u"AllUsersProfile", u"Public", u"TEMP"}) {
        const auto it = given.find(LowerCase(name));
        ASSERT_NE(it, given.end()) << ToUtf8(name);
        EXPECT_EQ(derived.Value(name, ProgramView::ThirtyTwoBit), it->second) << ToUtf8(name);
    }
}

}  // namespace
}  // namespace ssr::wine
