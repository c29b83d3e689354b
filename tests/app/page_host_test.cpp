// Which page MainWindow hosts after an information reply.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "app/display_scale.h"
#include "app/page_host.h"
#include "resources/resource.h"

namespace {

TEST(ChoosePageSwitch, EachReplyGetsItsPage) {
    const struct { const char* name; int restoredHeight; int32_t shownType, deviceType; bool destroyCurrent;
                   PageSwitchStep step; int templateId; int dpi; } cases[] = {
        // The boundary: 300 and more means a device page is shown.
        {"just below a device page", 299, 52, 52, true, SWITCH_NEW_DEVICE_PAGE, IDD_BASIC_READER, 96},
        {"same type on its page", 300, 52, 52, false, SWITCH_REINIT_CURRENT, 0, 96},
        {"type 0 on a device page", START_HEIGHT + 541, 1, 0, false, SWITCH_NEW_PORT_SELECT, 0, 96},
        // A type without a page never leaves the window empty.
        {"unknown on a device page", START_HEIGHT + 402, 2, 255, false, SWITCH_NOTHING, 0, 96},
        // Scaled, the boundary means the same page: 450 at 144 DPI.
        {"scaled PortSelect", 449, 0, 52, true, SWITCH_NEW_DEVICE_PAGE, IDD_BASIC_READER, 144},
        {"scaled device page", 450, 52, 52, false, SWITCH_REINIT_CURRENT, 0, 144},
        {"negative type", START_HEIGHT, 0, -1, true, SWITCH_NEW_PORT_SELECT, 0, 96}};
    for (const auto& c : cases) {
        const PageSwitch s = ChoosePageSwitch(c.restoredHeight, c.shownType, c.deviceType, c.dpi);
        EXPECT_EQ(s.destroyCurrent, c.destroyCurrent) << c.name;
        EXPECT_EQ(s.step, c.step) << c.name;
        EXPECT_EQ(s.entry ? s.entry->templateId : 0, c.templateId) << c.name;
    }
    EXPECT_EQ(FindPageForType(4), nullptr);
}

// MulDiv's rounding: half away from zero.
TEST(DisplayScale, FiguresFollowTheDpi) {
    const struct { int pixels, dpi, scaled; } cases[] = {
        {582, 96, 582}, {190, 96, 190}, {149, 144, 224}, {541, 144, 812}, {270, 120, 338},
        {11, 144, 17}, {17, 144, 26}, {300, 192, 600}, {-3, 144, -5}, {0, 144, 0}};
    for (const auto& c : cases) EXPECT_EQ(ScaleToDpi(c.pixels, c.dpi), c.scaled) << c.pixels << "@" << c.dpi;
    const PageGrowth growth = ScaledGrowth(*FindPageForType(1), 144);
    EXPECT_EQ(growth.heightAdded, 812);
    EXPECT_EQ(growth.topMovedUp, 405);
    for (int dpi : {96, 120, 144, 168, 192, 240})
        EXPECT_EQ(NearestImageScale(dpi), dpi <= 120 ? 100 : dpi <= 168 ? 150 : 200) << dpi;
    EXPECT_EQ(ScaleImageToDpi(39, 150, 144), 39);  // drawn for the scale: copied as it is
    EXPECT_EQ(ScaleImageToDpi(26, 100, 120), 33);
    EXPECT_EQ(ScaleImageToDpi(41, 150, 168), 48);
}

// A window that fits keeps its size and its place, moved only into the work
// area; a taller one takes the work area from its top and its page scrolls,
// the window never lower than a device page's least height.
TEST(DisplayScale, TallWindowsTakeTheWorkAreaAndScroll) {
    const struct { int top, height, workTop, workBottom, minHeight; FrameFit fit; } cases[] = {
        {147, 731, 0, 1024, 300, {147, 731, false}},
        {-80, 700, 0, 728, 300, {0, 700, false}},     // top above the screen: moved down
        {300, 600, 0, 728, 300, {128, 600, false}},   // bottom below the taskbar: moved up
        {-1, 731, 0, 731, 300, {0, 731, false}},      // exactly the work area
        {-2, 731, 0, 728, 300, {0, 728, true}},       // 1366 x 768 at 100 %
        {-44, 1107, 0, 1020, 450, {0, 1020, true}},   // 1920 x 1080 at 150 %
        {300, 955, 40, 710, 375, {40, 670, true}},    // a taskbar at the top
        {0, 900, 0, 250, 300, {0, 300, true}},        // lower than a device page: still told from PortSelect
        {0, 280, 0, 250, 300, {0, 280, false}},
    };
    for (const auto& c : cases) {
        const FrameFit fit = FitFrameToWorkArea(c.top, c.height, c.workTop, c.workBottom, c.minHeight);
        EXPECT_EQ(fit.top, c.fit.top) << c.height << " in " << c.workBottom;
        EXPECT_EQ(fit.height, c.fit.height) << c.height << " in " << c.workBottom;
        EXPECT_EQ(fit.scrolls, c.fit.scrolls) << c.height << " in " << c.workBottom;
    }
    // Sized by the page: the client area takes it, the top moves up half the height added.
    EXPECT_EQ(GrowthForPageHeight(925, 30, 238).heightAdded, 717);
    EXPECT_EQ(GrowthForPageHeight(925, 30, 238).topMovedUp, 358);
    EXPECT_EQ(GrowthForPageHeight(594, 30, 955).topMovedUp, -165);  // a lower page replaces a taller one
}

// Over random pages, views and controls: the position stays in range, a
// control already in view leaves it, one that fits the view is brought
// whole into it, and never by more than it takes.
TEST(PageScroll, FocusedControlsComeIntoViewWithTheLeastMove) {
    std::mt19937 random(23);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    for (int round = 0; round < 20000; ++round) {
        const int content = 1 + below(2000), view = 1 + below(1200);
        const int pos = ClampScroll(below(2400) - 200, view, content);
        const int top = below(content), bottom = top + 1 + below(content - top);
        const int next = ScrollToShow(pos, view, content, top, bottom);
        ASSERT_EQ(next, ClampScroll(next, view, content)) << round;
        const bool shown = top >= pos && bottom <= pos + view;
        if (shown) {
            ASSERT_EQ(next, pos) << round;
        }
        if (bottom - top <= view) {
            ASSERT_TRUE(top >= next && bottom <= next + view) << round;
        }
        const int needed = std::max(pos - top, bottom - (pos + view));
        ASSERT_LE(std::abs(next - pos), std::max(needed, 0) + std::max(0, bottom - top - view)) << round;
    }
    EXPECT_EQ(ClampScroll(50, 699, 703), 4);
    EXPECT_EQ(ClampScroll(50, 800, 703), 0);
}

// A notch is three lines (or a view less a line), up the page for a turn
// away from the user; parts of a notch add up without loss.
TEST(PageScroll, WheelTurnsScrollLines) {
    int carry = 0;
    EXPECT_EQ(WheelRows(-120, 3, 19, 699, &carry), 57);
    EXPECT_EQ(WheelRows(120, 3, 25, 640, &carry), -75);
    EXPECT_EQ(WheelRows(-120, -1, 19, 699, &carry), 680);  // WHEEL_PAGESCROLL
    int rows = 0;
    for (int i = 0; i < 4; ++i) rows += WheelRows(-30, 3, 19, 699, &carry);
    EXPECT_EQ(rows, 57);
    EXPECT_EQ(carry, 0);
}

TEST(DisplayScale, LabelsAreDrawnOnOneLineAndWidenedWhereCut) {
    const struct { int text, width, colonHalf, right, left; bool oneLine; int kept, shift; } cases[] = {
        {104, 112, 0, 50, 0, false, 112, 0},   // fits
        {172, 168, 10, 0, 40, true, 168, 0},   // only the colon's blank half is cut
        {172, 168, 10, 40, 0, true, 168, 0},
        {440, 432, 0, 100, 0, true, 440, 0},   // the warning widens into the group box
        {440, 432, 0, 5, 0, true, 437, 0},     // as far as there is room
        {150, 140, 6, 0, 0, true, 140, 0},     // cut, no room: one line all the same
        {198, 182, 11, 0, 42, true, 198, 16},  // its field right beside it: widened to the left
        {198, 182, 11, 4, 5, true, 191, 5},    // both sides, as far as there is room
    };
    for (const auto& c : cases) {
        const LabelFit fit = FitLabel(c.text, c.width, c.colonHalf, c.right, c.left);
        EXPECT_EQ(fit.oneLine, c.oneLine) << c.text;
        EXPECT_EQ(fit.width, c.kept) << c.text;
        EXPECT_EQ(fit.shiftLeft, c.shift) << c.text;
    }
}

}  // namespace
