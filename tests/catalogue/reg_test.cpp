#include "catalogue/reg.h"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/failure.h"
#include "platform/testing/memory_registry.h"
#include "platform/testing/scripted_desktop.h"

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

TEST(FileExistsTest, AnswersWhatTheFileSystemSaysAndNeverFails) {
    ScriptedDesktop desktop;
    desktop.existing_paths = {u"C:\\Present.exe"};
    desktop.failing_queries = {u"Q:\\not ready"};
    EXPECT_TRUE(FileExists(desktop, u"c:\\present.exe"));
    EXPECT_FALSE(FileExists(desktop, u"C:\\Gone.exe"));
    EXPECT_FALSE(FileExists(desktop, u""));
    EXPECT_FALSE(FileExists(desktop, u"Q:\\not ready"));
}

}  // namespace
}  // namespace ssr
