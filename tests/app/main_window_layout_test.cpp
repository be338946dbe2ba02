#include "app/main_window_layout.h"

#include <gtest/gtest.h>

#include <string>

namespace viewer {
namespace {

struct LayoutCase {
    const char *name;
    int width;
    int height;
};

class LayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LayoutTest, ViewFillsAllButTheButtonStrip) {
    const auto [name, w, h] = GetParam();
    const MainWindowLayout layout = ComputeMainWindowLayout(w, h);
    EXPECT_EQ(layout.view, QRect(0, 0, w - 60, h));
    const int tops[] = {0, 25, 50, 75, 100};
    for (std::size_t i = 0; i < layout.buttons.size(); ++i)
        EXPECT_EQ(layout.buttons[i], QRect(w - 55, tops[i], 50, 24)) << "button " << i;
}

INSTANTIATE_TEST_SUITE_P(
    ClientSizes, LayoutTest,
    ::testing::Values(LayoutCase{"design", 948, 430}, LayoutCase{"maximised", 1920, 1050},
                      LayoutCase{"small", 100, 60}, LayoutCase{"narrower_than_strip", 30, 10},
                      LayoutCase{"minimised", 0, 0}),
    [](const ::testing::TestParamInfo<LayoutCase> &row) { return std::string(row.param.name); });

TEST(LayoutTest, MinimisedClientGivesNegativeWidthAndLeft) {
    const MainWindowLayout layout = ComputeMainWindowLayout(0, 0);
    EXPECT_EQ(layout.view.width(), -60);
    EXPECT_EQ(layout.buttons[0].left(), -55);
}

struct ScreenCase {
    const char *name;
    QSize screen;
    QPoint topLeft;
};

class CentredFrameTest : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(CentredFrameTest, CentresTheOuterSizeRoundingTowardZero) {
    const ScreenCase &c = GetParam();
    EXPECT_EQ(CentredFrame(c.screen), QRect(c.topLeft, QSize(948, 430)));
}

INSTANTIATE_TEST_SUITE_P(Screens, CentredFrameTest,
                         ::testing::Values(ScreenCase{"full_hd", {1920, 1080}, {486, 325}},
                                           ScreenCase{"odd", {1025, 769}, {38, 169}},
                                           ScreenCase{"exact", {948, 430}, {0, 0}},
                                           ScreenCase{"smaller_even", {800, 400}, {-74, -15}},
                                           ScreenCase{"smaller_odd", {947, 429}, {0, 0}}),
                         [](const ::testing::TestParamInfo<ScreenCase> &row) {
                             return std::string(row.param.name);
                         });

}  // namespace
}  // namespace viewer
