// Identifying a reader from PortSelectPage: start-up, the four device
// types, replies that are lost, damaged or awkwardly delivered, and the
// user's ways of opening and closing the port.
#include <chrono>
#include <thread>

#include "e2e_fixture.h"
#include "protocol/device_info.h"
#include "sim/rig_control.h"

using namespace std::chrono;

static const wchar_t* const TIMEOUT_TEXT = L"不能和设备正常通信，请检查设备是否上电";
static const wchar_t* const OPEN_FAILED_TEXT = L"打开串口失败";

static void ExpectClosed(HWND page) {
    EXPECT_EQ(ItemText(page, IDC_PORT_BUTTON), L"打开串口");
    EXPECT_TRUE(IsWindowEnabled(Item(page, IDC_PORT_LIST)));
}

class Identify : public ReaderTest {};

TEST_F(Identify, StartUpShowsCentredWindowAndSortedPorts) {
    StartReader(DEVICE_TYPE_BASIC);
    Launch();
    const RECT rect = WindowRect(app.main);
    EXPECT_EQ(rect.right - rect.left, 582);
    EXPECT_EQ(rect.bottom - rect.top, 190);
    EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - 582) / 2);
    EXPECT_EQ(rect.top, (GetSystemMetrics(SM_CYSCREEN) - 190) / 2);
    EXPECT_EQ(Text(app.main), L"Tavrolin V3.0");

    HWND list = Item(page, IDC_PORT_LIST);
    const int count = ComboCount(list);
    ASSERT_GT(count, 0);
    EXPECT_EQ(ComboSelection(list), 0);
    EXPECT_EQ(Text(list), ComboItem(list, 0));
    for (int i = 1; i < count; ++i) EXPECT_LT(ComboItem(list, i - 1), ComboItem(list, i)) << "entry " << i;

    const std::string high = EnvOr("TAV_APP_PORT_HIGH", "");
    if (!high.empty()) {
        int highAt = -1, lowAt = -1;
        for (int i = 0; i < count; ++i) {
            if (ComboItem(list, i) == Widen(high)) highAt = i;
            if (ComboItem(list, i) == Widen(appPort)) lowAt = i;
        }
        // Sorted as text: COM12 before COM5.
        EXPECT_GE(highAt, 0);
        EXPECT_LT(highAt, lowAt);
    }
    EXPECT_EQ(ItemText(page, IDC_PORT_BUTTON), L"打开串口");
}

struct TypeCase {
    int deviceType;
    PageKind page;
    int heightAdded;
    int topMovedUp;
};

class IdentifyType : public ReaderTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(IdentifyType, ShowsThePageOfTheType) {
    const TypeCase c = GetParam();
    StartReader(c.deviceType);
    Launch();
    const RECT before = WindowRect(app.main);
    OpenAppPort();

    HWND device = WaitPageOfKind(app.main, c.page, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr) << "no " << PageKindName(c.page);
    EXPECT_FALSE(IsWindow(page)) << "PortSelectPage still exists";
    EXPECT_EQ(Pages(app.main).size(), 1u);

    const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
    ASSERT_FALSE(frames.empty());
    const std::vector<uint8_t> query = {'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00};
    EXPECT_EQ(frames[0].raw, query);

    const RECT after = WindowRect(app.main);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.right - after.left, 582);
    EXPECT_EQ(after.bottom - after.top, 190 + c.heightAdded);
    EXPECT_EQ(after.top, before.top - c.topMovedUp);
    EXPECT_TRUE(AppRunning(app));
}

INSTANTIATE_TEST_SUITE_P(Types, IdentifyType,
                         ::testing::Values(TypeCase{DEVICE_TYPE_DUAL_ANTENNA, PAGE_DUAL, 541, 270},
                                           TypeCase{DEVICE_TYPE_SINGLE_ANTENNA, PAGE_SINGLE, 402, 201},
                                           TypeCase{DEVICE_TYPE_WIFI, PAGE_WIFI, 521, 260},
                                           TypeCase{DEVICE_TYPE_BASIC, PAGE_BASIC, 298, 149}),
                         [](const ::testing::TestParamInfo<TypeCase>& info) {
                             return std::string(PageKindName(info.param.page));
                         });

// Replies the program must not accept: the wait runs out after three ticks.
class IdentifyTimeOut : public ReaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(IdentifyTimeOut, ReportsTheTimeOutAndCloses) {
    StartReader(DEVICE_TYPE_BASIC, GetParam());
    Launch();
    OpenAppPort();
    const auto pressed = steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"关闭串口"; }, 3000));
    EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_PORT_LIST)));

    HWND box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - pressed).count();
    EXPECT_GE(waited, 2500);
    EXPECT_LE(waited, 4500);
    EXPECT_EQ(MessageBoxText(box), TIMEOUT_TEXT);
    PressOk(box);
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    ExpectClosed(page);
    EXPECT_EQ(WaitPageOfKind(app.main, PAGE_BASIC, 200), nullptr);

    // Closed for real: the next press opens the port and queries again.
    SetFault("none");
    const int sent = FramesReceived();
    Click(Item(page, IDC_PORT_BUTTON));
    EXPECT_TRUE(SimRunnerWaitFrames(runner, static_cast<size_t>(sent) + 1, 3000));
    EXPECT_NE(WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Faults, IdentifyTimeOut, ::testing::Values("silent", "bad-crc", "crc-low-first"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& ch : name) if (ch == '-') ch = '_';
                             return name;
                         });

// Replies delivered awkwardly but whole: the page appears.
class IdentifyDelivery : public ReaderTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(IdentifyDelivery, StillIdentifies) {
    StartReader(DEVICE_TYPE_BASIC, GetParam());
    Launch();
    OpenAppPort();
    HWND device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr);
    // A second reply re-initialises the page: the window grows only once.
    std::this_thread::sleep_for(milliseconds(300));
    const RECT rect = WindowRect(app.main);
    EXPECT_EQ(rect.bottom - rect.top, 190 + 298);
    EXPECT_EQ(FindMessageBox(app), nullptr);
    EXPECT_TRUE(AppRunning(app));
}

// garbage: stray bytes, then the reply; split: the reply in four writes;
// double: two replies in one write; never-complete: a header whose frame
// never completes, then after 800 ms (past the stall discard) the reply.
INSTANTIATE_TEST_SUITE_P(Deliveries, IdentifyDelivery,
                         ::testing::Values("garbage:7,100", "split:4,20", "double", "never-complete:800"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             name = name.substr(0, name.find(':'));
                             for (char& ch : name) if (ch == '-') ch = '_';
                             return name;
                         });

TEST_F(Identify, TooOldReaderIsToldAndThePortCloses) {
    StartReader(DEVICE_TYPE_BASIC);
    SetField("protocolVersion", "0");
    Launch();
    OpenAppPort();
    HWND box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"网络读卡器版本低，请用旧版本的配置工具");
    EXPECT_EQ(MessageBoxCaption(box), L"提示");
    // The reply ended the wait: no time-out while the message is up.
    std::this_thread::sleep_for(milliseconds(3500));
    EXPECT_EQ(FindMessageBox(app), box);
    PressOk(box);
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    ExpectClosed(page);
    EXPECT_EQ(AnswerMessageBox(app, 1500), L"");
    EXPECT_EQ(Pages(app.main).size(), 1u);
}

TEST_F(Identify, OpenFailureForMissingAndEmptyNames) {
    StartReader(DEVICE_TYPE_BASIC, "silent");
    Launch();
    HWND list = Item(page, IDC_PORT_LIST);
    for (const wchar_t* name : {L"COM31", L""}) {
        SelectCombo(list, -1);
        SetText(list, name);
        Click(Item(page, IDC_PORT_BUTTON));
        EXPECT_EQ(AnswerMessageBox(app, 3000), OPEN_FAILED_TEXT) << Narrow(name);
        ExpectClosed(page);
    }
    EXPECT_EQ(FramesReceived(), 0);
}

TEST_F(Identify, TypedNameIsOpenedAsTyped) {
    StartReader(DEVICE_TYPE_BASIC);
    Launch();
    HWND list = Item(page, IDC_PORT_LIST);
    SelectCombo(list, -1);
    SetText(list, Widen(appPort));
    Click(Item(page, IDC_PORT_BUTTON));
    EXPECT_NE(WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS), nullptr);
}

TEST_F(Identify, ClosingDuringTheWaitIsSilent) {
    StartReader(DEVICE_TYPE_BASIC, "silent");
    Launch();
    OpenAppPort();
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"关闭串口"; }, 3000));
    Click(Item(page, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    ExpectClosed(page);
    EXPECT_EQ(WaitMessageBox(app, 4000), nullptr);
}

TEST_F(Identify, UnpluggedCableTimesOutAndRecoversAfterReplug) {
    const std::string ctl = EnvOr("TAV_RIG_CTL", "");
    if (ctl.empty()) GTEST_SKIP() << "no rig control file";
    const std::string cable = EnvOr("TAV_RIG_CABLE", "A");
    StartReader(DEVICE_TYPE_BASIC, "silent");
    Launch();
    OpenAppPort();
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"关闭串口"; }, 3000));
    std::string error;
    ASSERT_TRUE(RigSetCable(ctl, cable, false, 3000, &error)) << error;

    EXPECT_EQ(AnswerMessageBox(app, REPLY_WAIT_MS), TIMEOUT_TEXT);
    ASSERT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    EXPECT_TRUE(AppRunning(app));

    Click(Item(page, IDC_PORT_BUTTON));
    EXPECT_EQ(AnswerMessageBox(app, 3000), OPEN_FAILED_TEXT);
    ExpectClosed(page);

    ASSERT_TRUE(RigSetCable(ctl, cable, true, 3000, &error)) << error;
    SetFault("none");
    ASSERT_TRUE(WaitFor([&] { return SimRunnerLineOpen(runner); }, 3000));
    Click(Item(page, IDC_PORT_BUTTON));
    EXPECT_NE(WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS), nullptr);
    EXPECT_TRUE(AppRunning(app));
}

// Types without a page of their own leave a fresh, working PortSelectPage.
class IdentifyNoPage : public ReaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(IdentifyNoPage, LeavesAWorkingPortSelectPage) {
    StartReader(DEVICE_TYPE_BASIC, "unknown-type:" + std::to_string(GetParam()));
    Launch();
    OpenAppPort();
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(page); }, PAGE_TIMEOUT_MS)) << "the old page stayed";
    HWND fresh = WaitPageOfKind(app.main, PAGE_PORT_SELECT, PAGE_TIMEOUT_MS);
    ASSERT_NE(fresh, nullptr);
    const RECT rect = WindowRect(app.main);
    EXPECT_EQ(rect.bottom - rect.top, 190);
    ExpectClosed(fresh);
    EXPECT_EQ(WaitMessageBox(app, 4000), nullptr) << "no time-out after the reply";

    // One press opens the port again.
    SetFault("none");
    page = fresh;
    OpenAppPort();
    EXPECT_NE(WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Types, IdentifyNoPage, ::testing::Values(7, 0),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "type" + std::to_string(info.param);
                         });

TEST_F(Identify, ReplyWhileMinimisedKeepsTheProgram) {
    StartReader(DEVICE_TYPE_BASIC, "late:800");
    Launch();
    const RECT before = WindowRect(app.main);
    OpenAppPort();
    ShowWindowAsync(app.main, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(app.main) != FALSE; }, 2000));
    HWND device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_TRUE(AppRunning(app));
    EXPECT_TRUE(IsWindow(device));

    ShowWindowAsync(app.main, SW_RESTORE);
    ASSERT_TRUE(WaitFor([&] { return !IsIconic(app.main); }, 2000));
    ASSERT_TRUE(WaitFor([&] {
        const RECT r = WindowRect(app.main);
        return r.bottom - r.top == 190 + 298;
    }, 2000));
    EXPECT_EQ(WindowRect(app.main).top, before.top - 149);
}

TEST_F(Identify, WorksUnderANonChineseLocale) {
    StartReader(DEVICE_TYPE_BASIC);
    Launch({{L"LC_ALL", L"en_US.UTF-8"}, {L"LANG", L"en_US.UTF-8"}});
    EXPECT_EQ(Text(app.main), L"Tavrolin V3.0");
    EXPECT_EQ(ItemText(page, IDC_PORT_BUTTON), L"打开串口");

    HWND list = Item(page, IDC_PORT_LIST);
    SelectCombo(list, -1);
    SetText(list, L"COM31");
    Click(Item(page, IDC_PORT_BUTTON));
    EXPECT_EQ(AnswerMessageBox(app, 3000), OPEN_FAILED_TEXT);

    OpenAppPort();
    HWND device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), L"关闭串口");
}
