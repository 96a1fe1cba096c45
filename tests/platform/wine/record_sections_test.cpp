// What a look at the records reads of system.reg: the record and environment
// keys and every link, byte for byte; the whole file whenever a cut could
// change what those keys read as. A store reading the cut writes nothing.

#include "platform/wine/hive/record_sections.h"

#include <gtest/gtest.h>

#include "catalogue/listing.h"
#include "platform/wine/wine_registry.h"
#include "prefix_files.h"

namespace ssr::wine {
namespace {

const std::string kUninstall = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";

std::string Section(const std::string& header, const std::string& body = "") {
    return header + " 1796662283\n#time=1dd866b31587d96\n" + body + "\n";
}

struct Cut {
    const char* name;
    std::string sections;               // after the header lines
    std::optional<std::string> kept;    // the sections kept, or none: read whole
};

class RecordCut : public ::testing::TestWithParam<Cut> {};

TEST_P(RecordCut, KeepsWhatTheRecordsNeedOrNothing) {
    const std::string preamble = test::kHeader;
    const std::string whole = preamble + GetParam().sections;
    std::string bytes = whole;
    ASSERT_EQ(CutToRecordSections(bytes), GetParam().kept.has_value());
    EXPECT_EQ(bytes, GetParam().kept ? preamble + *GetParam().kept : whole) << "a file that cannot be cut stays whole";
}

const std::string kRecord = Section(kUninstall + "\\\\App]", "\"DisplayName\"=\"App\"\n");
const std::string kRecord32 = Section("[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Old]");
const std::string kClasses = Section("[Software\\\\Classes\\\\.txt]", "@=\"txtfile\"\n");
const std::string kVersion = Section("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion]", "\"ProgramFilesDir\"=\"C:\\\\Program Files\"\n");
const std::string kEnvironment = Section("[System\\\\ControlSet001\\\\Control\\\\Session Manager\\\\Environment]");
const std::string kLink = Section("[System\\\\CurrentControlSet]", "#link\n\"SymbolicLinkValue\"=hex(6):5c,00\n");

INSTANTIATE_TEST_SUITE_P(
    Files, RecordCut,
    ::testing::Values(
        Cut{"RecordsOfBothViewsEnvironmentAndLinksStayTheRestGoes",
            kClasses + kRecord + kVersion + kClasses + kRecord32 + kEnvironment + kLink + kClasses,
            kRecord + kVersion + kRecord32 + kEnvironment + kLink},
        Cut{"KeyNamesInAnyCaseAndCrLfLines", "[SOFTWARE\\\\microsoft\\\\WINDOWS\\\\currentversion\\\\uninstall\\\\X] 1\r\n\r\n",
            "[SOFTWARE\\\\microsoft\\\\WINDOWS\\\\currentversion\\\\uninstall\\\\X] 1\r\n\r\n"},
        Cut{"AnEscapedOrForeignNameIsKeptToBeSafe",
            Section("[Software\\\\\\x4dicrosoft]") + Section("[Software\\\\Micr\xc3\xb6soft]"),
            Section("[Software\\\\\\x4dicrosoft]") + Section("[Software\\\\Micr\xc3\xb6soft]")},
        Cut{"ALookAlikeKeyIsNotARecord", Section(kUninstall + "Old\\\\App]"), ""},
        Cut{"ALinkAmongTheRecordsReadsWhole", Section(kUninstall + "\\\\Linked]", "#link\n"), std::nullopt},
        Cut{"ALinkOnTheWayToTheRecordsReadsWhole", Section("[Software\\\\Microsoft\\\\Windows]", "#link\n"), std::nullopt},
        Cut{"ANulByteReadsWhole", kRecord + std::string(1, '\0'), std::nullopt},
        Cut{"AnArchitectureLineLaterOnReadsWhole", kClasses + "#arch=win32\n\n" + kRecord, std::nullopt}),
    [](const ::testing::TestParamInfo<Cut>& info) { return std::string(info.param.name); });

TEST(RecordScope, ListsAsTheWholeFileDoesAndRefusesEveryChange) {
    test::TempFolder folder("records");
    test::WriteBytes(folder.path() / "system.reg",
                     test::kHeader + kClasses + kRecord + Section(kUninstall + "\\\\App]", "\"UninstallString\"=\"u.exe\"\n") +
                         kRecord32 + kClasses);
    const auto prefix = std::make_shared<const Prefix>(folder.path());
    WinePrefixRegistry whole(prefix), records(prefix, ReadScope::Records);
    EXPECT_EQ(CountUninstallEntries(records), CountUninstallEntries(whole));
    EXPECT_EQ(CountUninstallEntries(records), 1);
    EXPECT_TRUE(records.has_32bit_view());
    EXPECT_EQ(records.delete_tree(kHkeyLocalMachine, Text(kUninstallKeyPath) + u"\\App", 0), kErrorAccessDenied);
    EXPECT_EQ(test::Status(records.commit()), kErrorAccessDenied);
}

}  // namespace
}  // namespace ssr::wine
