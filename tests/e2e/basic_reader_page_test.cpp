// BasicReaderPage driven from outside: what it shows for a type 52
// reader, what Apply writes, the checks that stop Apply, the eye button,
// the reply time-out and the port button's closing and opening.
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "e2e_fixture.h"

#include <commctrl.h>

#include <algorithm>
#include "protocol/device_info.h"
#include "protocol/frame.h"

using namespace std::chrono;

namespace {

const wchar_t* const kTimeOutText = L"不能和设备正常通信，请检查设备是否上电";
const wchar_t* const kConfigDone = L"配置成功";

// The controls the page hides when the port is opened again.
const int kHiddenOnOpening[] = {IDC_NAME_LABEL,        IDC_NAME_OR_ID,   IDC_PASSWORD_LABEL,
                                IDC_PASSWORD,          IDC_EYE,          IDC_PLATFORM_IP_LABEL,
                                IDC_PLATFORM_IP,       IDC_PLATFORM_PORT_LABEL, IDC_PLATFORM_PORT};
// The settings closing the port greys, Apply included.
const int kGreyedOnClosing[] = {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY,       IDC_NAME_OR_ID, IDC_PASSWORD,
                                IDC_EYE,        IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_APPLY};

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
}

LRESULT SendTo(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    return static_cast<LRESULT>(result);
}

// The four field edits of an IP address control, left to right.
std::vector<HWND> IpFields(HWND ipControl) {
    std::vector<HWND> fields;
    for (HWND child = GetWindow(ipControl, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        fields.push_back(child);
    std::sort(fields.begin(), fields.end(), [](HWND a, HWND b) { return WindowRect(a).left < WindowRect(b).left; });
    return fields;
}

// The fields as typed, "a.b.c.d", blank fields empty ("..." when all are).
std::wstring IpFieldsText(HWND ipControl) {
    std::wstring text;
    for (HWND field : IpFields(ipControl)) {
        if (!text.empty() || field != IpFields(ipControl).front()) text += L".";
        text += Text(field);
    }
    return text;
}

wchar_t PasswordChar(HWND page) { return static_cast<wchar_t>(SendTo(Item(page, IDC_PASSWORD), EM_GETPASSWORDCHAR)); }

class BasicReaderPageTest : public ReaderTest {
protected:
    // A type 52 reader identified: the page is up and Ready.
    void Identify(const std::vector<std::pair<std::string, std::string>>& fields = {}) {
        StartReader(DEVICE_TYPE_BASIC);
        if (HasFatalFailure()) return;
        for (const auto& f : fields) SetField(f.first, f.second);
        Launch();
        if (HasFatalFailure()) return;
        OpenAppPort();
        device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
        ASSERT_NE(device, nullptr) << "no BasicReaderPage";
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

    // Presses Apply and returns the text of the box that answers it.
    std::wstring Apply() {
        Click(Item(device, IDC_APPLY));
        return AnswerMessageBox(app, REPLY_WAIT_MS);
    }

    // The payload of the last frame the reader received, checked to be a
    // well-formed CMD_WRITE_CONFIG of 93 bytes.
    std::vector<uint8_t> LastWrittenRecord() {
        const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
        if (frames.empty()) return {};
        const SimReceivedFrame& f = frames.back();
        EXPECT_EQ(f.command, CMD_WRITE_CONFIG);
        EXPECT_TRUE(f.crcOk);
        EXPECT_EQ(f.raw.size(), 103u);
        if (f.raw.size() != 103u) return {};
        return std::vector<uint8_t>(f.raw.begin() + FRAME_HEADER_SIZE, f.raw.end());
    }

    void ExpectReadyWithDefaults() {
        EXPECT_EQ(ItemText(device, IDC_VERSION), L"V2.1.8");
        EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"192.168.1.100");
        EXPECT_EQ(ItemText(device, IDC_SUBNET_MASK), L"255.255.255.0");
        EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"192.168.1.1");
        EXPECT_EQ(ItemText(device, IDC_NAME_LABEL), L"设备名称：");
        EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"reader01");
        EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"pass1234");
        EXPECT_EQ(PasswordChar(device), L'*');
        EXPECT_EQ(ItemText(device, IDC_PLATFORM_IP), L"192.168.1.10");
        EXPECT_EQ(ItemText(device, IDC_PLATFORM_PORT), L"502");
        for (int id : kHiddenOnOpening) EXPECT_TRUE(IsWindowVisible(Item(device, id))) << id;
        for (int id : kGreyedOnClosing) EXPECT_TRUE(IsWindowEnabled(Item(device, id))) << id;
        EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_PORT_LIST)));
        EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), L"关闭串口");
    }

    HWND device = nullptr;
};

TEST_F(BasicReaderPageTest, ShowsTheReaderAndClosingTheWindowEndsTheProgram) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    ExpectReadyWithDefaults();
    const RECT rect = WindowRect(app.main);
    EXPECT_EQ(rect.bottom - rect.top, 488);
    EXPECT_EQ(FindMessageBox(app), nullptr);

    PostMessageW(app.main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !AppRunning(app); }, 5000)) << "the program kept running";
}

TEST_F(BasicReaderPageTest, ApplyWritesTheRecordAndTheNextQueryReadsItBack) {
    // A reader that waits for its platform and uses DHCP: this page shows
    // the platform controls all the same and writes mode 1 without DHCP.
    Identify({{"connectMode", "0"}, {"dhcpEnabled", "1"}});
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(IsWindowVisible(Item(device, IDC_PLATFORM_IP)));

    FillValid();
    SimRunnerClearFrames(runner);
    EXPECT_EQ(Apply(), kConfigDone);
    const std::vector<uint8_t> record = LastWrittenRecord();
    ASSERT_EQ(record.size(), 93u);

    std::vector<uint8_t> expected(93, 0);
    expected[0] = 1;
    std::memcpy(&expected[1], "admin", 5);
    std::memcpy(&expected[33], "s3cret", 6);
    const uint8_t tail[] = {0xC0, 0xA8, 0x01, 0x0A, 0x01, 0xF6, 0x00, 0x0A, 0x00, 0x00, 0x05,
                            0xFF, 0xFF, 0xFF, 0x00, 0x0A, 0x00, 0x00, 0x01};
    std::memcpy(&expected[65], tail, sizeof tail);
    EXPECT_EQ(record, expected);
    EXPECT_EQ(SimRunnerFrames(runner).back().raw, BuildWriteConfigFrame(expected.data(), expected.size()));

    // Close, open: the reader's reply carries what was written.
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_IP_ADDRESS) == L"10.0.0.5"; }, REPLY_WAIT_MS));
    EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"10.0.0.1");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"admin");
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), L"s3cret");
    EXPECT_EQ(FindMessageBox(app), nullptr);
}

TEST_F(BasicReaderPageTest, OnlyTheFirstFailedCheckSpeaksAndNothingIsSent) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        const char* what;
        std::function<void(HWND)> spoil;
        const wchar_t* message;
    } cases[] = {
        {"blank platform IP, empty port and name",
         [](HWND p) {
             SendTo(Item(p, IDC_PLATFORM_IP), IPM_CLEARADDRESS);
             SetText(Item(p, IDC_PLATFORM_PORT), L"");
             SetText(Item(p, IDC_NAME_OR_ID), L"");
         },
         L"平台IP格式不对"},
        {"empty port and name",
         [](HWND p) {
             SetText(Item(p, IDC_PLATFORM_PORT), L"");
             SetText(Item(p, IDC_NAME_OR_ID), L"");
         },
         L"平台端口不能为空"},
        {"empty name and password",
         [](HWND p) {
             SetText(Item(p, IDC_NAME_OR_ID), L"");
             SetText(Item(p, IDC_PASSWORD), L"");
         },
         L"设备名称不能为空"},
        {"empty password, blank gateway",
         [](HWND p) {
             SetText(Item(p, IDC_PASSWORD), L"");
             SendTo(Item(p, IDC_GATEWAY), IPM_CLEARADDRESS);
         },
         L"设备密码不能为空"},
        {"blank subnet mask", [](HWND p) { SendTo(Item(p, IDC_SUBNET_MASK), IPM_CLEARADDRESS); }, L"IP格式不对"},
    };
    SimRunnerClearFrames(runner);
    for (const auto& c : cases) {
        FillValid();
        c.spoil(device);
        Click(Item(device, IDC_APPLY));
        HWND box = WaitMessageBox(app, 3000);
        ASSERT_NE(box, nullptr) << c.what;
        EXPECT_EQ(MessageBoxText(box), c.message) << c.what;
        EXPECT_NE(MessageBoxCaption(box), L"提示") << c.what;  // the system's default caption
        PressOk(box);
        ASSERT_TRUE(WaitFor([&] { return FindMessageBox(app) == nullptr; }, 2000));
    }
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(FramesReceived(), 0);
    // A check that failed started no wait: no time-out follows.
    EXPECT_EQ(WaitMessageBox(app, 3500), nullptr);
}

TEST_F(BasicReaderPageTest, TextsAreConvertedWithoutMessages) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    FillValid();
    SetText(Item(device, IDC_PLATFORM_PORT), L"70000");
    SetText(Item(device, IDC_NAME_OR_ID), std::wstring(40, L'n'));
    // Only the first and third fields of the address typed.
    HWND ip = Item(device, IDC_IP_ADDRESS);
    SendTo(ip, IPM_CLEARADDRESS);
    std::vector<HWND> fields = IpFields(ip);
    ASSERT_EQ(fields.size(), 4u);
    SetText(fields[0], L"10");
    SetText(fields[2], L"7");

    SimRunnerClearFrames(runner);
    EXPECT_EQ(Apply(), kConfigDone);
    std::vector<uint8_t> record = LastWrittenRecord();
    ASSERT_EQ(record.size(), 93u);
    EXPECT_EQ(record[69], 0x11);  // 70000 mod 65536 = 0x1170
    EXPECT_EQ(record[70], 0x70);
    std::vector<uint8_t> name(32, 0);
    std::memset(name.data(), 'n', 29);
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 1, record.begin() + 33), name);
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 72, record.begin() + 76), (std::vector<uint8_t>{10, 0, 7, 0}));

    SetText(Item(device, IDC_PLATFORM_PORT), L"abc");
    EXPECT_EQ(Apply(), kConfigDone);
    record = LastWrittenRecord();
    ASSERT_EQ(record.size(), 93u);
    EXPECT_EQ(record[69], 0);
    EXPECT_EQ(record[70], 0);
}

TEST_F(BasicReaderPageTest, EyeButtonShowsAndMasksThePassword) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    HWND eye = Item(device, IDC_EYE);
    const LRESULT maskedImage = SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP);
    EXPECT_NE(maskedImage, 0);
    SetText(Item(device, IDC_PASSWORD), std::wstring(35, L'p'));

    Click(eye);
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == 0; }, 2000)) << "still masked";
    const LRESULT clearImage = SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP);
    EXPECT_NE(clearImage, 0);
    EXPECT_NE(clearImage, maskedImage);
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), std::wstring(29, L'p'));  // cut by the press

    Click(eye);
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == L'*'; }, 2000)) << "still in clear";
    EXPECT_EQ(SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP), maskedImage);
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), std::wstring(29, L'p'));
}

TEST_F(BasicReaderPageTest, NoAcknowledgementTimesOutThenOpeningRefillsThePage) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    const int portsListed = ComboCount(Item(device, IDC_PORT_LIST));
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
    EXPECT_EQ(MessageBoxText(box), kTimeOutText);
    PressOk(box);

    // Closed: settings greyed, values kept.
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    EXPECT_TRUE(IsWindowEnabled(Item(device, IDC_PORT_LIST)));
    for (int id : kGreyedOnClosing) EXPECT_FALSE(IsWindowEnabled(Item(device, id))) << id;
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.0.0.5");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"admin");
    EXPECT_EQ(ItemText(device, IDC_PLATFORM_PORT), L"502");
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"V2.1.8");

    // Opening: version and addresses emptied, name and platform hidden,
    // until the (late) reply brings everything back.
    SetFault("late:1500");
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_PORT_BUTTON) == L"关闭串口"; }, 3000));
    EXPECT_EQ(ItemText(device, IDC_VERSION), L"");
    for (int id : {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY})
        EXPECT_EQ(IpFieldsText(Item(device, id)), L"...") << id;
    for (int id : kHiddenOnOpening) EXPECT_FALSE(IsWindowVisible(Item(device, id))) << id;
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_APPLY)));

    // The silent reader took the record all the same: the reply shows it.
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, REPLY_WAIT_MS));
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.0.0.5");
    EXPECT_EQ(ItemText(device, IDC_SUBNET_MASK), L"255.255.255.0");
    EXPECT_EQ(ItemText(device, IDC_GATEWAY), L"10.0.0.1");
    EXPECT_EQ(ItemText(device, IDC_NAME_OR_ID), L"admin");
    EXPECT_EQ(PasswordChar(device), L'*');
    for (int id : kHiddenOnOpening) EXPECT_TRUE(IsWindowVisible(Item(device, id))) << id;
    for (int id : kGreyedOnClosing) EXPECT_TRUE(IsWindowEnabled(Item(device, id))) << id;
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_PORT_LIST)));
    EXPECT_EQ(ComboCount(Item(device, IDC_PORT_LIST)), portsListed) << "ports listed twice";
    EXPECT_EQ(FindMessageBox(app), nullptr);
}

TEST_F(BasicReaderPageTest, SecondReplyWhileShownRefillsAndMasksAgain) {
    // Two replies to one query: the second re-initialises the shown page.
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    const int portsListed = ComboCount(Item(device, IDC_PORT_LIST));
    Click(Item(device, IDC_EYE));
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == 0; }, 2000));
    SetText(Item(device, IDC_NAME_OR_ID), L"edited");

    SetField("deviceName", "second");
    SetField("ipAddress", "10.9.8.7");
    SetFault("double");
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_NAME_OR_ID) == L"second"; }, REPLY_WAIT_MS));
    std::this_thread::sleep_for(milliseconds(300));  // the second reply
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.9.8.7");
    EXPECT_EQ(PasswordChar(device), L'*');
    EXPECT_EQ(ComboCount(Item(device, IDC_PORT_LIST)), portsListed);
    EXPECT_EQ(Text(Item(device, IDC_PORT_LIST)), Widen(appPort));
    EXPECT_EQ(Pages(app.main).size(), 1u);

    // The page holds the port: Apply reaches the reader.
    SetFault("none");
    SimRunnerClearFrames(runner);
    FillValid();
    EXPECT_EQ(Apply(), kConfigDone);
    EXPECT_EQ(FramesReceived(), 1);
}

TEST_F(BasicReaderPageTest, ReplyDuringTheTimeOutMessageKeepsThePortOpen) {
    Identify();
    ASSERT_FALSE(HasFatalFailure());
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));

    // The reply comes after the wait ran out, while its message is up: the
    // page is re-initialised under the message and must stay Ready.
    SetFault("late:3600");
    Click(Item(device, IDC_PORT_BUTTON));
    HWND box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kTimeOutText);
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, 3000)) << "no late reply";
    PressOk(box);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), L"关闭串口");
    EXPECT_TRUE(IsWindowEnabled(Item(device, IDC_APPLY)));

    SetFault("none");
    FillValid();
    SimRunnerClearFrames(runner);
    EXPECT_EQ(Apply(), kConfigDone);
    EXPECT_EQ(FramesReceived(), 1);
}

TEST_F(BasicReaderPageTest, FailedReopeningIsSilentAndApplyTimesOut) {
    // A port name typed by hand on the first page selects no entry: the
    // page's reopening has no name to open and fails.
    StartReader(DEVICE_TYPE_BASIC);
    Launch();
    ASSERT_FALSE(HasFatalFailure());
    HWND list = Item(page, IDC_PORT_LIST);
    SelectCombo(list, -1);
    SetText(list, Widen(appPort));
    Click(Item(page, IDC_PORT_BUTTON));
    device = WaitPageOfKind(app.main, PAGE_BASIC, PAGE_TIMEOUT_MS);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_VERSION) == L"V2.1.8"; }, 3000));

    EXPECT_EQ(WaitMessageBox(app, 1500), nullptr) << "the failed reopening spoke";
    EXPECT_EQ(ComboSelection(Item(device, IDC_PORT_LIST)), -1);
    EXPECT_EQ(ItemText(device, IDC_PORT_BUTTON), L"关闭串口");
    EXPECT_TRUE(IsWindowEnabled(Item(device, IDC_APPLY)));

    FillValid();
    SimRunnerClearFrames(runner);
    Click(Item(device, IDC_APPLY));
    EXPECT_EQ(AnswerMessageBox(app, REPLY_WAIT_MS), kTimeOutText);
    EXPECT_EQ(FramesReceived(), 0);
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_PORT_BUTTON) == L"打开串口"; }, 3000));
    EXPECT_FALSE(IsWindowEnabled(Item(device, IDC_APPLY)));
}

}  // namespace
