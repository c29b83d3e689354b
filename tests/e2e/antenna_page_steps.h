// Steps shared by the tests of the two antenna pages (types 1 and 2):
// identifying a reader, working the connection-mode list the way a user
// does, Apply and the record the reader received, and the enabled and
// visible state of a page's controls.
#pragma once
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "e2e_fixture.h"

#include <commctrl.h>

#include "protocol/frame.h"

namespace antenna_steps {

const wchar_t* const kConfigDone = L"配置成功";
const wchar_t* const kModeWait = L"等待平台连接（默认）";
const wchar_t* const kModeConnect = L"主动连接平台";

// Every control a device page addresses, labels included.
const int kAddressedControls[] = {
    IDC_PORT_LIST,    IDC_PORT_BUTTON,    IDC_APPLY,        IDC_VERSION,     IDC_GATEWAY,
    IDC_SUBNET_MASK,  IDC_IP_ADDRESS,     IDC_ANTENNA0_BAUD, IDC_ANTENNA1_BAUD, IDC_DUAL_ANTENNA,
    IDC_CONNECT_MODE, IDC_NAME_LABEL,     IDC_PASSWORD_LABEL, IDC_NAME_OR_ID, IDC_PASSWORD,
    IDC_EYE,          IDC_PLATFORM_IP,    IDC_PLATFORM_PORT, IDC_PLATFORM_IP_LABEL,
    IDC_PLATFORM_PORT_LABEL, IDC_DUAL_WARNING, IDC_RS485_BAUD};

// The password and platform controls: shown in mode 1 only.
const int kModeOneControls[] = {IDC_PASSWORD_LABEL, IDC_PASSWORD,          IDC_EYE,
                                IDC_PLATFORM_IP_LABEL, IDC_PLATFORM_IP, IDC_PLATFORM_PORT_LABEL,
                                IDC_PLATFORM_PORT};

inline uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
}

inline wchar_t PasswordCharOf(HWND page) {
    return static_cast<wchar_t>(SendTo(Item(page, IDC_PASSWORD), EM_GETPASSWORDCHAR));
}

inline bool Ticked(HWND page, int id) { return SendTo(Item(page, id), BM_GETCHECK) == BST_CHECKED; }

// The ids of the addressed controls the page has that are disabled (or,
// with visible true, hidden).
inline std::set<int> ControlsWhere(HWND page, bool hiddenInstead) {
    std::set<int> ids;
    for (int id : kAddressedControls) {
        HWND item = Item(page, id);
        if (item == nullptr) continue;
        const bool off = hiddenInstead ? !IsWindowVisible(item) : !IsWindowEnabled(item);
        if (off) ids.insert(id);
    }
    return ids;
}

inline std::vector<uint8_t> Bytes(const std::vector<uint8_t>& record, size_t offset, size_t count) {
    if (record.size() < offset + count) return {};
    return std::vector<uint8_t>(record.begin() + offset, record.begin() + offset + count);
}

// A 32-byte text field as a record holds it: the text, then NULs.
inline std::vector<uint8_t> TextField(const char* text) {
    std::vector<uint8_t> field(32, 0);
    std::memcpy(field.data(), text, std::strlen(text));
    return field;
}

// A reader of one antenna type identified and its page Ready.
class AntennaPageTest : public ReaderTest {
protected:
    void Identify(int deviceType, const Fields& fields = {}) {
        device = IdentifyReader(deviceType, fields);
        ASSERT_NE(device, nullptr);
        ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, 3000));
    }

    // Opens and closes the mode list without choosing anything. The combo
    // tells the page while it handles each message, so the page's handler
    // has run when this returns.
    void DropModeList() {
        HWND combo = Item(device, IDC_CONNECT_MODE);
        SendTo(combo, CB_SHOWDROPDOWN, TRUE);
        SendTo(combo, CB_SHOWDROPDOWN, FALSE);
    }

    // Picks an entry of the mode list the way the user does: the list is
    // opened, the entry selected and the list closed again.
    void ChooseMode(int index) {
        SelectCombo(Item(device, IDC_CONNECT_MODE), index);
        DropModeList();
    }

    // The port button, and the wait for the text it then shows.
    void PressPortButton(const wchar_t* then) {
        ASSERT_TRUE(ReaderTest::PressPortButton(device, then)) << "the port button does not read " << Narrow(then);
    }

    // Closes the port and opens it again; the reader's reply re-initialises
    // the page, which enables Apply again.
    void Requery() {
        PressPortButton(L"打开串口");
        if (HasFatalFailure()) return;
        Click(Item(device, IDC_PORT_BUTTON));
        ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, REPLY_WAIT_MS))
            << "the reply did not re-initialise the page";
    }

    // Presses Apply; the text of the box that answers (empty: none came).
    std::wstring Apply() {
        SimRunnerClearFrames(runner);
        Click(Item(device, IDC_APPLY));
        const std::wstring answer = AnswerMessageBox(app, REPLY_WAIT_MS);
        // Hiding a box a page showed keeps the program's window thread busy
        // for a while under the rig's bare X server; wait for it here rather
        // than let the next step's message time out.
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(device, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
        return answer;
    }

    // Apply that must succeed: the 93 bytes the reader received.
    std::vector<uint8_t> ApplyRecord() {
        const std::wstring answer = Apply();
        EXPECT_EQ(answer, kConfigDone);
        EXPECT_EQ(FramesReceived(), 1) << "frames for one Apply";
        const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
        if (frames.empty()) return {};
        EXPECT_EQ(frames.back().command, CMD_WRITE_CONFIG);
        EXPECT_TRUE(frames.back().crcOk);
        const std::vector<uint8_t> record = LastPayload();
        EXPECT_EQ(record.size(), 93u);
        return record;
    }

    // Apply that must fail: the one message shown; nothing is sent.
    std::wstring ApplyRefused() {
        const std::wstring answer = Apply();
        EXPECT_EQ(FramesReceived(), 0) << "a refused Apply sent a frame";
        return answer;
    }

    HWND device = nullptr;
};

// The record an unchanged page of the simulator's factory reader writes
// in mode 1, up to byte 83: name, password, platform and addresses.
inline std::vector<uint8_t> FactoryModeOneHead() {
    std::vector<uint8_t> head(84, 0);
    head[0] = 1;
    std::vector<uint8_t> name = TextField("reader01"), password = TextField("pass1234");
    std::memcpy(&head[1], name.data(), 32);
    std::memcpy(&head[33], password.data(), 32);
    const uint8_t rest[] = {192, 168, 1, 10, 0x01, 0xF6, 0, 192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1};
    std::memcpy(&head[65], rest, sizeof rest);
    return head;
}

// The same in mode 0: the fixed credentials, no platform.
inline std::vector<uint8_t> FactoryModeZeroHead() {
    std::vector<uint8_t> head = FactoryModeOneHead();
    head[0] = 0;
    std::vector<uint8_t> name = TextField("admin"), password = TextField("602417");
    std::memcpy(&head[1], name.data(), 32);
    std::memcpy(&head[33], password.data(), 32);
    std::memset(&head[65], 0, 7);
    return head;
}

}  // namespace antenna_steps
