// Which page MainWindow hosts after an information reply.
#include <gtest/gtest.h>

#include "app/page_host.h"
#include "resources/resource.h"

namespace {

constexpr int START_HEIGHT = 190;

struct SwitchCase {
    const char* name;
    int restoredHeight;
    int32_t shownType;  // the device page's type, 0 for none
    int32_t deviceType;
    bool destroyCurrent;
    PageSwitchStep step;
    int templateId;  // SWITCH_NEW_DEVICE_PAGE only
};

class ChoosePageSwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ChoosePageSwitchTest, Decides) {
    const SwitchCase c = GetParam();
    const PageSwitch s = ChoosePageSwitch(c.restoredHeight, c.shownType, c.deviceType);
    EXPECT_EQ(s.destroyCurrent, c.destroyCurrent);
    EXPECT_EQ(s.step, c.step);
    if (c.step == SWITCH_NEW_DEVICE_PAGE) {
        ASSERT_NE(s.entry, nullptr);
        EXPECT_EQ(s.entry->templateId, c.templateId);
    } else {
        EXPECT_EQ(s.entry, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ChoosePageSwitchTest,
    ::testing::Values(
        SwitchCase{"basicFromPortSelect", START_HEIGHT, 0, 52, true, SWITCH_NEW_DEVICE_PAGE, IDD_BASIC_READER},
        SwitchCase{"wifiFromPortSelect", START_HEIGHT, 0, 3, true, SWITCH_NEW_DEVICE_PAGE, IDD_WIFI_READER},
        // The boundary: 300 and more means a device page is shown.
        SwitchCase{"justBelowDevicePage", 299, 52, 52, true, SWITCH_NEW_DEVICE_PAGE, IDD_BASIC_READER},
        SwitchCase{"sameTypeOnDevicePage", 300, 52, 52, false, SWITCH_REINIT_CURRENT, 0},
        // Another reader on the same port: its own page replaces the shown one.
        SwitchCase{"otherTypeOnDevicePage", START_HEIGHT + 298, 52, 1, true, SWITCH_NEW_DEVICE_PAGE, IDD_DUAL_ANTENNA},
        SwitchCase{"type0FromPortSelect", START_HEIGHT, 0, 0, true, SWITCH_NEW_PORT_SELECT, 0},
        SwitchCase{"type0OnDevicePage", START_HEIGHT + 541, 1, 0, false, SWITCH_NEW_PORT_SELECT, 0},
        // A type without a page never leaves the window empty.
        SwitchCase{"unknownFromPortSelect", START_HEIGHT, 0, 7, true, SWITCH_NEW_PORT_SELECT, 0},
        SwitchCase{"unknownOnDevicePage", START_HEIGHT + 402, 2, 255, false, SWITCH_NOTHING, 0},
        SwitchCase{"negativeType", START_HEIGHT, 0, -1, true, SWITCH_NEW_PORT_SELECT, 0}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });

TEST(PageTable, GrowthKeepsTheWindowAboutCentred) {
    for (int32_t type : {1, 2, 3, 52}) {
        const PageTableEntry* entry = FindPageForType(type);
        ASSERT_NE(entry, nullptr) << type;
        EXPECT_GE(START_HEIGHT + entry->heightAdded, DEVICE_PAGE_MIN_HEIGHT) << type;
        EXPECT_EQ(entry->topMovedUp, entry->heightAdded / 2) << type;
    }
    EXPECT_EQ(FindPageForType(4), nullptr);
}

// Replacing pages one after another gives each type the table's height and
// top, as if it had been the first identification.
TEST(PageTable, ReplacementsFollowTheTable) {
    int top = 0, height = START_HEIGHT;
    const PageTableEntry* shown = nullptr;
    for (int32_t type : {52, 1, 3, 2, 52}) {
        const PageTableEntry* next = FindPageForType(type);
        const WindowChange change = ChangeForPage(shown, *next);
        top -= change.topMovedUp;
        height += change.heightAdded;
        EXPECT_EQ(height, START_HEIGHT + next->heightAdded) << type;
        EXPECT_EQ(top, -next->topMovedUp) << type;
        shown = next;
    }
}

}  // namespace
