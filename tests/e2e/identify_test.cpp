// Identifying a reader from PortSelectPage: start-up, replies that are
// lost or damaged, and the user's ways of opening and closing the port
// (each type's page and awkward deliveries: layout_test.cpp).
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

    // The ports sorted as text (COM40 before COM5), the first one chosen.
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
        ExpectClosed(page);
    }
    EXPECT_EQ(FramesReceived(), 0);
    // A typed name is reopened by the device page as typed, whatever entry
    // the list kept selected (under Wine the first one): Apply reaches this
    // reader, not the port selected before.
    OpenTypedPort(Widen(appPort));
    device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr) << "typed name not opened";
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, 3000));
    EXPECT_EQ(WaitMessageBox(app, 1500), nullptr) << "the reopening spoke";
    EXPECT_EQ(Text(Item(device, IDC_PORT_LIST)), Widen(appPort));
    EXPECT_TRUE(ButtonReads(device, CLOSE_PORT_TEXT));
    EXPECT_EQ(ApplyRecord(device).size(), 93u);
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

// Pulled during the wait: told at once instead of the time-out, the port
// closed; replugged, the same press identifies.
TEST_F(Identify, UnpluggedCableIsToldAndRecoversAfterReplug) {
    const std::string ctl = EnvOr("TAV_RIG_CTL", "");
    if (ctl.empty()) GTEST_SKIP() << "no rig control file";
    const std::string cable = EnvOr("TAV_RIG_CABLE", "A");
    StartReader(DEVICE_TYPE_BASIC, "silent");
    Launch();
    OpenAppPort();
    ASSERT_TRUE(ButtonReads(page, CLOSE_PORT_TEXT));
    std::string error;
    ASSERT_TRUE(RigSetCable(ctl, cable, false, 3000, &error)) << error;
    HWND box = WaitMessageBox(app, 2000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"串口已断开，请检查串口线后重新打开串口");
    EXPECT_EQ(MessageBoxCaption(box), L"提示");
    PressOk(box);
    ExpectClosed(page);
    EXPECT_EQ(WaitMessageBox(app, 3500), nullptr) << "a time-out followed";

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
