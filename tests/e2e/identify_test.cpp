// Identifying a reader from PortSelectPage: start-up, the four device
// types, replies that are lost, damaged or awkwardly delivered, and the
// user's ways of opening and closing the port.
#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e_fixture.h"
#include "sim/rig_control.h"

using namespace std::chrono;

namespace {

// Often right after a message box, whose hiding keeps the program's window
// thread busy for about 2 s on the bare X server: the text is read again
// until then.
void ExpectClosed(HWND page) {
    EXPECT_TRUE(WaitFor([&] { return ItemText(page, IDC_PORT_BUTTON) == OPEN_PORT_TEXT; }, 5000))
        << "the port button does not offer to open";
    EXPECT_TRUE(IsWindowEnabled(Item(page, IDC_PORT_LIST)));
}

// Left, top, width, height.
using Box = std::vector<long>;
Box Geometry(HWND window) {
    const RECT r = WindowRect(window);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}
int Height(HWND window) { return Geometry(window)[3]; }

class Identify : public ReaderTest {};

// Texts must be right whatever the system's locale, so start-up runs under a non-Chinese one.
TEST_F(Identify, StartUpFailedAndTypedPortNamesUnderANonChineseLocale) {
    StartReader(DEVICE_TYPE_BASIC);
    Launch({{L"LC_ALL", L"en_US.UTF-8"}, {L"LANG", L"en_US.UTF-8"}});
    ASSERT_TRUE(ButtonReads(page, OPEN_PORT_TEXT));
    EXPECT_EQ(Geometry(app.main), (Box{(GetSystemMetrics(SM_CXSCREEN) - 582) / 2,
                                      (GetSystemMetrics(SM_CYSCREEN) - 190) / 2, 582, 190}));
    EXPECT_EQ(Text(app.main), L"Tavrolin V3.0");

    // The ports sorted as text (COM12 before COM5), the first one chosen.
    HWND list = Item(page, IDC_PORT_LIST);
    std::vector<std::wstring> ports;
    for (int i = 0; i < ComboCount(list); ++i) ports.push_back(ComboItem(list, i));
    ASSERT_FALSE(ports.empty());
    EXPECT_TRUE(std::is_sorted(ports.begin(), ports.end()));
    EXPECT_EQ(Text(list), ports[0]);
    const auto at = [&](const std::string& name) { return std::find(ports.begin(), ports.end(), Widen(name)); };
    const std::string high = EnvOr("TAV_APP_PORT_HIGH", "");
    if (!high.empty()) { EXPECT_LT(at(high), at(appPort)); }

    for (const wchar_t* name : {L"COM31", L""}) {
        OpenTypedPort(name);
        EXPECT_EQ(AnswerMessageBox(app, 3000), OPEN_FAILED_TEXT) << Narrow(name);
        EXPECT_TRUE(ButtonReads(page, OPEN_PORT_TEXT, 5000));  // the thread is busy a while after a box
        EXPECT_TRUE(IsWindowEnabled(Item(page, IDC_PORT_LIST)));
    }
    EXPECT_EQ(FramesReceived(), 0);
    OpenTypedPort(Widen(appPort));
    HWND device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr) << "typed name not opened";
    EXPECT_TRUE(ButtonReads(device, CLOSE_PORT_TEXT));
}

TEST_F(Identify, EachTypeGetsItsPageAndTheWindowGrowsAboutTheCentre) {
    const struct { int type, heightAdded; } cases[] = {
        {DEVICE_TYPE_DUAL_ANTENNA, 541}, {DEVICE_TYPE_SINGLE_ANTENNA, 402}, {DEVICE_TYPE_WIFI, 521}, {DEVICE_TYPE_BASIC, 298}};
    const std::vector<uint8_t> query = {'K', 'W', 'T', 'B', 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00};
    for (const auto& c : cases) {
        SCOPED_TRACE(PageKindName(PageOfType(c.type)));
        StopAll();
        StartReader(c.type);
        Launch();
        const Box before = Geometry(app.main);
        OpenAppPort();
        ASSERT_NE(WaitPageOfKind(app.main, PageOfType(c.type), PAGE_TIMEOUT_MS), nullptr);
        EXPECT_FALSE(IsWindow(page)) << "PortSelectPage still exists";
        EXPECT_EQ(Pages(app.main).size(), 1u);
        ASSERT_GE(FramesReceived(), 1);
        EXPECT_EQ(SimRunnerFrames(runner)[0].raw, query);
        EXPECT_EQ(Geometry(app.main), (Box{before[0], before[1] - c.heightAdded / 2, 582, 190 + c.heightAdded}));
    }
}

// Every refusal closes the port for real: the next press queries again.
TEST_F(Identify, RefusedRepliesThenAReplyWhileMinimised) {
    StartReader(DEVICE_TYPE_BASIC, "silent");
    Launch();
    OpenAppPort();
    ASSERT_TRUE(ButtonReads(page, CLOSE_PORT_TEXT));
    ASSERT_TRUE(PressPortButton(page, OPEN_PORT_TEXT));
    EXPECT_EQ(WaitMessageBox(app, 4000), nullptr) << "a wait closed by the user timed out";

    // Replies the program must not accept: the wait runs out after three ticks.
    for (const char* fault : {"silent", "bad-crc", "crc-low-first"}) {
        SCOPED_TRACE(fault);
        SetFault(fault);
        const int sent = FramesReceived();
        Click(Item(page, IDC_PORT_BUTTON));
        const auto pressed = steady_clock::now();
        ASSERT_TRUE(ButtonReads(page, CLOSE_PORT_TEXT));
        EXPECT_FALSE(IsWindowEnabled(Item(page, IDC_PORT_LIST)));
        ASSERT_NE(WaitMessageBox(app, REPLY_WAIT_MS), nullptr);
        const auto waited = duration_cast<milliseconds>(steady_clock::now() - pressed).count();
        EXPECT_TRUE(waited >= 2500 && waited <= 4500) << waited << " ms";
        EXPECT_EQ(AnswerMessageBox(app, 1000), TIMEOUT_TEXT);
        EXPECT_EQ(FramesReceived(), sent + 1);
        ASSERT_TRUE(ButtonReads(page, OPEN_PORT_TEXT));
        ExpectClosed(page);
    }

    // A reader too old: told once, no time-out behind the message.
    SetFault("none");
    SetFields({{"protocolVersion", "0"}});
    Click(Item(page, IDC_PORT_BUTTON));
    HWND box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"网络读卡器版本低，请用旧版本的配置工具");
    EXPECT_EQ(MessageBoxCaption(box), L"提示");
    std::this_thread::sleep_for(milliseconds(3500));
    EXPECT_EQ(FindMessageBox(app), box);
    PressOk(box);
    ASSERT_TRUE(ButtonReads(page, OPEN_PORT_TEXT));
    EXPECT_EQ(AnswerMessageBox(app, 1500), L"");
    SetFields({{"protocolVersion", "2"}});

    // Types without a page of their own leave a fresh, working PortSelectPage.
    for (int type : {7, 0}) {
        SCOPED_TRACE(type);
        SetFault("unknown-type:" + std::to_string(type));
        OpenAppPort();
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(page); }, PAGE_TIMEOUT_MS)) << "the old page stayed";
        page = WaitPageOfKind(app.main, PAGE_PORT_SELECT, PAGE_TIMEOUT_MS);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(Height(app.main), 190);
        ExpectClosed(page);
        EXPECT_EQ(WaitMessageBox(app, 4000), nullptr) << "time-out after the reply";
    }

    // A reply while minimised: the page is built all the same.
    SetFault("late:800");
    const RECT before = WindowRect(app.main);
    OpenAppPort();
    ShowWindowAsync(app.main, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return IsIconic(app.main) != FALSE; }, 2000));
    ASSERT_NE(WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS), nullptr);
    ShowWindowAsync(app.main, SW_RESTORE);
    ASSERT_TRUE(WaitFor([&] { return !IsIconic(app.main) && Height(app.main) == 190 + 298; }, 2000));
    EXPECT_EQ(WindowRect(app.main).top, before.top - 149);
}

// garbage: stray bytes, then the reply; split: the reply in four writes;
// double: two replies in one write; never-complete: a header whose frame
// never completes, then after 800 ms (past the stall discard) the reply.
TEST_F(Identify, AwkwardDeliveriesStillIdentifyOnce) {
    for (const char* fault : {"garbage:7,100", "split:4,20", "double", "never-complete:800"}) {
        SCOPED_TRACE(fault);
        StopAll();
        ASSERT_NE(IdentifyReader(DEVICE_TYPE_BASIC, {}, fault), nullptr);
        std::this_thread::sleep_for(milliseconds(300));  // a second reply re-initialises in place
        EXPECT_EQ(Height(app.main), 190 + 298);
        EXPECT_EQ(Pages(app.main).size(), 1u);
        EXPECT_EQ(FindMessageBox(app), nullptr);
        EXPECT_TRUE(AppRunning(app));
    }
}

TEST_F(Identify, UnpluggedCableTimesOutAndRecoversAfterReplug) {
    const std::string ctl = EnvOr("TAV_RIG_CTL", "");
    if (ctl.empty()) GTEST_SKIP() << "no rig control file";
    const std::string cable = EnvOr("TAV_RIG_CABLE", "A");
    StartReader(DEVICE_TYPE_BASIC, "silent");
    Launch();
    OpenAppPort();
    ASSERT_TRUE(ButtonReads(page, CLOSE_PORT_TEXT));
    std::string error;
    ASSERT_TRUE(RigSetCable(ctl, cable, false, 3000, &error)) << error;
    EXPECT_EQ(AnswerMessageBox(app, REPLY_WAIT_MS), TIMEOUT_TEXT);
    ASSERT_TRUE(ButtonReads(page, OPEN_PORT_TEXT));

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

}  // namespace
