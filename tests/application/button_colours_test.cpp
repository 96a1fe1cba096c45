#include "application/button_colours.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/colour.h"

namespace ssr {
namespace {

struct ColourCase {
    std::string behaviour;
    std::uint32_t design_face, system_text, system_face;
    ButtonColours expected;
};

class Buttons : public ::testing::TestWithParam<ColourCase> {};

TEST_P(Buttons, CaptionsStayReadable) {
    const ColourCase& c = GetParam();
    const ButtonColours chosen = ReadableButtonColours(c.design_face, c.system_text, c.system_face);
    EXPECT_EQ(chosen.face, c.expected.face);
    EXPECT_EQ(chosen.text, c.expected.text);
    EXPECT_GE(ContrastRatio(chosen.face, chosen.text), kReadableContrast);
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, Buttons,
    ::testing::Values(
        ColourCase{"LightSchemeKeepsTheDesign", kColorWhite, 0x000000, 0xF0F0F0, {kColorWhite, 0x000000}},
        ColourCase{"GreyTextThatStillReadsKeepsTheDesign", kColorWhite, 0x555555, 0xF0F0F0, {kColorWhite, 0x555555}},
        ColourCase{"DarkSchemeTakesTheSystemFace", kColorWhite, 0xEEEEEE, 0x353535, {0x353535, 0xEEEEEE}},
        ColourCase{"HighContrastBlackTakesTheSystemFace", kColorWhite, 0xFFFFFF, 0x000000, {0x000000, 0xFFFFFF}},
        ColourCase{"HighContrastWhiteKeepsTheDesign", kColorWhite, 0x000000, 0xFFFFFF, {kColorWhite, 0x000000}},
        ColourCase{"NothingReadsSoBlackOnTheWhiteFace", kColorWhite, 0xDDDDDD, 0xCCCCCC, {kColorWhite, 0x000000}},
        ColourCase{"NothingReadsOnADarkFaceSoWhite", 0x202020, 0x303030, 0x282828, {0x202020, kColorWhite}}),
    [](const auto& info) { return info.param.behaviour; });

TEST(Contrast, RunsFromOneToTwentyOne) {
    EXPECT_DOUBLE_EQ(ContrastRatio(0x000000, 0x000000), 1.0);
    EXPECT_NEAR(ContrastRatio(0x000000, kColorWhite), 21.0, 1e-9);
    EXPECT_DOUBLE_EQ(ContrastRatio(0x123456, 0x654321), ContrastRatio(0x654321, 0x123456));
}

}  // namespace
}  // namespace ssr
