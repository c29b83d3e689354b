// BasicReaderPage against a simulated type 52 reader: what it shows and
// writes, the checks that stop Apply, the eye button, the reply time-out,
// and a second reply.
#include <chrono>
#include <thread>

#include "e2e_fixture.h"

using namespace std::chrono;

namespace {

const std::set<int> kGreyedOnClosing = {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY,     IDC_NAME_OR_ID, IDC_PASSWORD,
                                        IDC_EYE,        IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_APPLY};

class BasicPage : public ReaderTest {
protected:
    // Every setting filled with values Apply accepts.
    void FillValid() {
        SetIpAddress(Item(device, IDC_IP_ADDRESS), MAKEIPADDRESS(10, 0, 0, 5));
        SetIpAddress(Item(device, IDC_SUBNET_MASK), MAKEIPADDRESS(255, 255, 255, 0));
        SetIpAddress(Item(device, IDC_GATEWAY), MAKEIPADDRESS(10, 0, 0, 1));
        SetIpAddress(Item(device, IDC_PLATFORM_IP), MAKEIPADDRESS(192, 168, 1, 10));
        SetText(Item(device, IDC_PLATFORM_PORT), L"502");
        SetText(Item(device, IDC_NAME_OR_ID), L"admin");
        SetText(Item(device, IDC_PASSWORD), L"s3cret");
    }
};

TEST_F(BasicPage, ShowsChecksAndWritesTheReaderAndClosingTheWindowEndsTheProgram) {
    // A reader that waits for its platform and uses DHCP: this page shows
    // the platform controls all the same and writes mode 1 without DHCP.
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_BASIC, {{"connectMode", "0"}, {"dhcpEnabled", "1"}}));
    ExpectTexts({{IDC_IP_ADDRESS, L"192.168.1.100"}, {IDC_SUBNET_MASK, L"255.255.255.0"}, {IDC_GATEWAY, L"192.168.1.1"},
                 {IDC_NAME_LABEL, L"设备名称："}, {IDC_NAME_OR_ID, L"reader01"}, {IDC_PASSWORD, L"pass1234"},
                 {IDC_PLATFORM_IP, L"192.168.1.10"}, {IDC_PLATFORM_PORT, L"502"}});
    EXPECT_TRUE(ControlsWhere(device, true).empty());
    EXPECT_EQ(PasswordChar(device), L'*');

    // Each press of the eye swaps mask and picture and cuts the password
    // to what the record holds.
    HWND eye = Item(device, IDC_EYE);
    const LRESULT maskedImage = SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP);
    EXPECT_NE(maskedImage, 0);
    SetText(Item(device, IDC_PASSWORD), std::wstring(35, L'p'));
    Click(eye);
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == 0; }, 2000)) << "still masked";
    EXPECT_NE(SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP), maskedImage);
    EXPECT_EQ(ItemText(device, IDC_PASSWORD), std::wstring(29, L'p'));
    Click(eye);
    ASSERT_TRUE(WaitFor([&] { return PasswordChar(device) == L'*'; }, 2000)) << "still in clear";
    EXPECT_EQ(SendTo(eye, BM_GETIMAGE, IMAGE_BITMAP), maskedImage);

    // Only the first failed check speaks, in the system's caption; nothing
    // is sent and no time-out follows.
    FillValid();
    EmptyControls(device, {IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_NAME_OR_ID});
    SimRunnerClearFrames(runner);
    Click(Item(device, IDC_APPLY));
    HWND box = WaitMessageBox(app, 3000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), L"平台IP格式不对");
    EXPECT_NE(MessageBoxCaption(box), L"提示");
    PressOk(box);
    ASSERT_TRUE(WaitFor([&] { return FindMessageBox(app) == nullptr; }, 2000));
    EXPECT_EQ(WaitMessageBox(app, 3500), nullptr);
    EXPECT_EQ(FramesReceived(), 0);

    // The record byte for byte, and read back by the next query.
    FillValid();
    EXPECT_EQ(ApplyRecord(device), Record(93).At(0, {1}).Text(1, "admin").Text(33, "s3cret")
                                       .At(65, {192, 168, 1, 10, 0x01, 0xF6, 0, 10, 0, 0, 5, 255, 255, 255, 0, 10, 0, 0, 1}).bytes);
    ASSERT_NO_FATAL_FAILURE(Requery());
    ExpectTexts({{IDC_IP_ADDRESS, L"10.0.0.5"}, {IDC_NAME_OR_ID, L"admin"}, {IDC_PASSWORD, L"s3cret"}});

    PostMessageW(app.main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !AppRunning(app); }, 5000)) << "the program kept running";
}

TEST_F(BasicPage, UnansweredApplyTimesOutAndASecondReplyReinitialises) {
    ASSERT_NO_FATAL_FAILURE(ShowReader(DEVICE_TYPE_BASIC));
    const int portsListed = ComboCount(Item(device, IDC_PORT_LIST));

    // No acknowledgement: after two to three ticks the time-out closes the
    // port, greying the values it leaves in place.
    SetFault("silent");
    FillValid();
    SimRunnerClearFrames(runner);
    Click(Item(device, IDC_APPLY));
    const auto applied = steady_clock::now();
    ASSERT_TRUE(SimRunnerWaitFrames(runner, 1, 3000)) << "the record was not sent";
    HWND box = WaitMessageBox(app, REPLY_WAIT_MS);
    ASSERT_NE(box, nullptr);
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - applied).count();
    EXPECT_GE(waited, 1800);
    EXPECT_LE(waited, 3800);
    EXPECT_EQ(MessageBoxText(box), TIMEOUT_TEXT);
    PressOk(box);
    ASSERT_TRUE(ButtonReads(device, OPEN_PORT_TEXT));
    EXPECT_EQ(ControlsWhere(device, false), kGreyedOnClosing);
    ExpectTexts({{IDC_IP_ADDRESS, L"10.0.0.5"}, {IDC_VERSION, L"V2.1.8"}});

    // Two replies to one query: the second re-initialises the shown page,
    // masking the password again, without listing the ports twice.
    Click(Item(device, IDC_EYE));
    SetFields({{"deviceName", "second"}, {"ipAddress", "10.9.8.7"}});
    SetFault("double");
    Click(Item(device, IDC_PORT_BUTTON));
    ASSERT_TRUE(WaitFor([&] { return ItemText(device, IDC_NAME_OR_ID) == L"second"; }, REPLY_WAIT_MS));
    std::this_thread::sleep_for(milliseconds(300));  // the second reply
    EXPECT_EQ(ItemText(device, IDC_IP_ADDRESS), L"10.9.8.7");
    EXPECT_EQ(PasswordChar(device), L'*');
    EXPECT_EQ(ComboCount(Item(device, IDC_PORT_LIST)), portsListed) << "ports listed twice";
    EXPECT_EQ(Text(Item(device, IDC_PORT_LIST)), Widen(appPort));
    EXPECT_EQ(FindMessageBox(app), nullptr);

    // A reply that arrives while the time-out message is up re-initialises
    // the page; dismissing the message then must not close the port again.
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
    SetFault("none");
    FillValid();
    EXPECT_EQ(Apply(device), CONFIG_DONE_TEXT);
}

}  // namespace
