// BasicReaderPage driven from outside: what it shows for a type 52
// reader, what Apply writes, the checks that stop Apply, the eye button,
// the reply time-out and the port button's closing and opening.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "e2e_fixture.h"

#include <commctrl.h>

using namespace std::chrono;

namespace {

// The controls the page hides when the port is opened again.
const std::vector<int> kHiddenOnOpening = {IDC_NAME_LABEL,        IDC_NAME_OR_ID,  IDC_PASSWORD_LABEL,
                                           IDC_PASSWORD,          IDC_EYE,         IDC_PLATFORM_IP_LABEL,
                                           IDC_PLATFORM_IP,       IDC_PLATFORM_PORT_LABEL, IDC_PLATFORM_PORT};
// The settings closing the port greys, Apply included.
const std::vector<int> kGreyedOnClosing = {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY,
                                           IDC_NAME_OR_ID, IDC_PASSWORD,    IDC_EYE,
                                           IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_APPLY};

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
}

// The four field edits of an IP address control, left to right.
std::vector<HWND> IpFields(HWND ipControl) {
    std::vector<HWND> fields;
    for (HWND child = GetWindow(ipControl, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        fields.push_back(child);
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) { return WindowRect(a).left < WindowRect(b).left; });
    return fields;
}

wchar_t PasswordChar(HWND page) { return static_cast<wchar_t>(SendTo(Item(page, IDC_PASSWORD), EM_GETPASSWORDCHAR)); }

void ExpectEach(HWND page, const std::vector<int>& ids, BOOL (*state)(HWND), bool want) {
    for (int id : ids) EXPECT_EQ(state(Item(page, id)) != FALSE, want) << "control " << id;
}

class BasicPage : public ReaderTest {
protected:
    // A type 52 reader identified: the page is up and Ready.
    void ShowPage(const Fields& fields = {}) {
        device = IdentifyReader(DEVICE_TYPE_BASIC, fields);
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, 3000));
    }

    // Every setting filled with values Apply accepts.
    void FillValid() {
        SetIpAddress(Item(device, IDC_IP_ADDRESS), Ip(10, 0, 0, 5));
        SetIpAddress(Item(device, IDC_SUBNET_MASK), Ip(255, 255, 255, 0));
        SetIpAddress(Item(device, IDC_GATEWAY), Ip(10, 0, 0, 1));
        SetIpAddress(Item(device, IDC_PLATFORM_IP), Ip(192, 168, 1, 10));
        SetText(Item(device, IDC_PLATFORM_PORT), L"502");
        SetText(Item(device, IDC_NAME_OR_ID), L"admin");
        SetText(Item(device, IDC_PASSWORD), L"s3cret");
    }

    // Presses Apply: the text of the box that answers and the record the
    // reader received, checked to be one well-formed write of 93 bytes.
    std::wstring Apply(std::vector<uint8_t>* record = nullptr) {
        SimRunnerClearFrames(runner);
        Click(Item(device, IDC_APPLY));
        const std::wstring answer = AnswerMessageBox(app, REPLY_WAIT_MS);
        if (record != nullptr) {
            const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
            EXPECT_EQ(frames.size(), 1u);
            EXPECT_TRUE(!frames.empty() && frames[0].command == CMD_WRITE_CONFIG && frames[0].crcOk);
            *record = LastPayload();
            EXPECT_EQ(record->size(), 93u);
            record->resize(93);
        }
        return answer;
    }

    HWND device = nullptr;
};

TEST_F(BasicPage, ShowsChecksAndWritesTheReaderAndClosingTheWindowEndsTheProgram) {
    // A reader that waits for its platform and uses DHCP: this page shows
    // the platform controls all the same and writes mode 1 without DHCP.
    ShowPage({{"connectMode", "0"}, {"dhcpEnabled", "1"}});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"192.168.1.100");
    EXPECT_EQ(ItemText(device, IDC_SUBNET_MASK), L"255.255.255.0");
    EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"192.168.1.1");
    EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备名称：");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"pass1234");
    EXPECT_EQ(PasswordChar(device), L'*');
    EXPECT_EQ(ItemText(device, IDC_PLATFORM_IP), L"192.168.1.10");
    EXPECT_EQ(ItemText(device, IDC_PLATFORM_PORT), L"502");
    ExpectEach(device, kHiddenOnOpening, IsWindowVisible, true);
    ExpectEach(device, kGreyedOnClosing, IsWindowEnabled, true);
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_PORT_LIST)));
    EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), CLOSE_PORT_TEXT);
    EXPECT_EQ(WindowRect(app.main).bottom - WindowRect(app.main).top, 488);
    EXPECT_EQ(FindMessageBox(app), nullptr);

    // The eye button: each press swaps mask and picture; the press cuts the
    // password to what the record holds.
    HWND eye = Item(device, IDC_EYE);
    const LRESULT maskedImage = SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP);
    EXPECT_NE(maskedImage, 0);
    SetText(Item(device, IDC_PASSWORD), std::wstring(35, L'p'));
    Click(eye);
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == 0; }, 2000)) << "still masked";
    EXPECT_NE(SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP), 0);
    EXPECT_NE(SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP), maskedImage);
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), std::wstring(29, L'p'));
    Click(eye);
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == L'*'; }, 2000)) << "still in clear";
    EXPECT_EQ(SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP), maskedImage);
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), std::wstring(29, L'p'));

    // Only the first failed check speaks, in the system's caption, and
    // nothing is sent.
    const struct {
        std::initializer_list<int> emptied;
        const wchar_t* message;
    } refusals[] = {
        {{IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_NAME_OR_ID}, L"平台IP格式不对"},
        {{IDC_PLATFORM_PORT, IDC_NAME_OR_ID}, L"平台端口不能为空"},
        {{IDC_NAME_OR_ID, IDC_PASSWORD}, L"设备名称不能为空"},
        {{IDC_PASSWORD, IDC_GATEWAY}, L"设备密码不能为空"},
        {{IDC_SUBNET_MASK}, L"IP格式不对"},
    };
    SimRunnerClearFrames(runner);
    for (const auto& r : refusals) {
        FillValid();
        EmptyControls(device, r.emptied);
        Click(Item(device, IDC_APPLY));
        HWND box = WaitMessageBox(app, 3000);
        ASSERT_NE(box, nullptr) << Narrow(r.message);
        EXPECT_EQ(MessageBoxText(box), r.message);
        EXPECT_NE(MessageBoxCaption(box), L"提示");
        PressOk(box);
        ASSERT_TRUE(WaitFor([&] { return FindMessageBox(app) == nullptr; }, 2000));
        EXPECT_EQ(FramesReceived(), 0) << Narrow(r.message);
    }
    // A check that failed started no wait: no time-out follows.
    EXPECT_EQ(WaitMessageBox(app, 3500), nullptr);

    // Texts are converted without messages: port 70000 wraps, the name is
    // cut, a partly typed address fills its blanks with 0, "abc" is 0.
    std::vector<uint8_t> record;
    FillValid();
    SetText(Item(device, IDC_PLATFORM_PORT), L"70000");
    SetText(Item(device, IDC_NAME_OR_ID), std::wstring(40, L'n'));
    HWND ip = Item(device, IDC_IP_ADDRESS);
    SendTo(ip, IPM_CLEARADDRESS);
    std::vector<HWND> fields = IpFields(ip);
    ASSERT_EQ(fields.size(), 4u);
    SetText(fields[0], L"10");
    SetText(fields[2], L"7");
    EXPECT_EQ(Apply(&record), CONFIG_DONE_TEXT);
    EXPECT_EQ(record[69], 0x11);  // 70000 mod 65536 = 0x1170
    EXPECT_EQ(record[70], 0x70);
    std::vector<uint8_t> name(32, 0);
    std::memset(name.data(), 'n', 29);
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 1, record.begin() + 33), name);
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 72, record.begin() + 76), (std::vector<uint8_t>{10, 0, 7, 0}));
    SetText(Item(device, IDC_PLATFORM_PORT), L"abc");
    EXPECT_EQ(Apply(&record), CONFIG_DONE_TEXT);
    EXPECT_EQ(record[69], 0);
    EXPECT_EQ(record[70], 0);

    // The record byte for byte, and read back by the next query.
    FillValid();
    EXPECT_EQ(Apply(&record), CONFIG_DONE_TEXT);
    std::vector<uint8_t> expected(93, 0);
    expected[0] = 1;
    std::memcpy(&expected[1], "admin", 5);
    std::memcpy(&expected[33], "s3cret", 6);
    const uint8_t tail[] = {0xC0, 0xA8, 0x01, 0x0A, 0x01, 0xF6, 0x00, 0x0A, 0x00, 0x00, 0x05,
                            0xFF, 0xFF, 0xFF, 0x00, 0x0A, 0x00, 0x00, 0x01};
    std::memcpy(&expected[65], tail, sizeof tail);
    EXPECT_EQ(record, expected);
    EXPECT_EQ(SimRunnerFrames(runner).back().raw, BuildWriteConfigFrame(expected.data(), expected.size()));
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_IP_ADDRESS) == L"10.0.0.5"; }, REPLY_WAIT_MS));
    EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"10.0.0.1");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"admin");
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"s3cret");
    EXPECT_EQ(FindMessageBox(app), nullptr);

    PostMessageW(app.main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !AppRunning(app); }, 5000)) << "the program kept running";
}

TEST_F(BasicPage, TimeOutsReopeningAndRepeatedReplies) {
    ShowPage();
    ASSERT_FALSE(HasFatalFailure());
    const int portsListed = ComboCount(Item(device, IDC_PORT_LIST));

    // No acknowledgement: the time-out closes the port, greying the values.
    SetFault("silent");
    FillValid();
    SimRunnerClearFrames(runner);
    Click(Item(device, IDC_APPLY));
    const auto applied = steady_clock::now();
    ASSERT_TRUE(SimRunnerWaitFrames(runner, 1, 3000)) << "the record was not sent";
    HWND box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - applied).count();
    EXPECT_GE(waited, 1800);  // two to three ticks of the running timer
    EXPECT_LE(waited, 3800);
    EXPECT_EQ(MessageBoxText(box), TIMEOUT_TEXT);
    PressOk(box);
    ASSERT_TRUE(ButtonReads(device, OPEN_PORT_TEXT));
    EXPECT_TRUE(IsWindowEnabled(Item(device, IDC_PORT_LIST)));
    ExpectEach(device, kGreyedOnClosing, IsWindowEnabled, false);
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.0.0.5");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"admin");
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"V2.1.8");

    // Opening empties version and addresses and hides name and platform
    // until the (late) reply brings back what the silent reader took.
    SetFault("late:1500");
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"");
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}) {
        for (HWND field : IpFields(Item(device, id))) EXPECT_EQ(Text(field), L"") << id;
    }
    ExpectEach(device, kHiddenOnOpening, IsWindowVisible, false);
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_APPLY)));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, REPLY_WAIT_MS));
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.0.0.5");
    EXPECT_EQ(ItemText(device, IDC_SUBNET_MASK), L"255.255.255.0");
    EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"10.0.0.1");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"admin");
    ExpectEach(device, kHiddenOnOpening, IsWindowVisible, true);
    ExpectEach(device, kGreyedOnClosing, IsWindowEnabled, true);
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_PORT_LIST)));
    EXPECT_EQ(ComboCount(Item(device, IDC_PORT_LIST)), portsListed) << "ports listed twice";
    EXPECT_EQ(FindMessageBox(app), nullptr);

    // Two replies to one query: the second re-initialises the shown page,
    // masking the password again, without listing the ports twice.
    Click(Item(device, IDC_EYE));
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == 0; }, 2000));
    SetText(Item(device, IDC_NAME_OR_ID), L"edited");
    SetField("deviceName", "second");
    SetField("ipAddress", "10.9.8.7");
    SetFault("double");
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_NAME_OR_ID) == L"second"; }, REPLY_WAIT_MS));
    std::this_thread::sleep_for(milliseconds(300));  // the second reply
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.9.8.7");
    EXPECT_EQ(PasswordChar(device), L'*');
    EXPECT_EQ(ComboCount(Item(device, IDC_PORT_LIST)), portsListed);
    EXPECT_EQ(Text(Item(device, IDC_PORT_LIST)), Widen(appPort));
    EXPECT_EQ(Pages(app.main).size(), 1u);

    // A reply after the wait ran out, while its message is up, leaves the
    // page Ready with the port open.
    SetFault("late:3600");
    ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
    ASSERT_TRUE(PressPortButton(device, CLOSE_PORT_TEXT));
    box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), TIMEOUT_TEXT);
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, 3000)) << "no late reply";
    PressOk(box);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), CLOSE_PORT_TEXT);
    EXPECT_TRUE(IsWindowEnabled(Item(device, IDC_APPLY)));

    SetFault("none");
    FillValid();
    EXPECT_EQ(Apply(), CONFIG_DONE_TEXT);
    EXPECT_EQ(FramesReceived(), 1);
}

TEST_F(BasicPage, FailedReopeningIsSilentAndApplyTimesOut) {
    // A port name typed by hand on the first page selects no entry: the
    // page's reopening has no name to open and fails.
    StartReader(DEVICE_TYPE_BASIC);
    Launch();
    OpenTypedPort(Widen(appPort));
    device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, 3000));
    EXPECT_EQ(WaitMessageBox(app, 1500), nullptr) << "the failed reopening spoke";
    EXPECT_EQ(ComboSelection(Item(device, IDC_PORT_LIST)), -1);
    EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), CLOSE_PORT_TEXT);
    EXPECT_TRUE(IsWindowEnabled(Item(device, IDC_APPLY)));

    FillValid();
    EXPECT_EQ(Apply(), TIMEOUT_TEXT);
    EXPECT_EQ(FramesReceived(), 0);
    ASSERT_TRUE(ButtonReads(device, OPEN_PORT_TEXT));
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_APPLY)));
}

}  // namespace
