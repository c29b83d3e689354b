// Steps shared by the tests of the two antenna pages (types 1 and 2): the
// connection-mode list worked the way a user does, re-querying, and the
// records an unchanged factory reader writes.
#pragma once
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "e2e_fixture.h"

namespace antenna_steps {

const wchar_t* const kModeWait = L"等待平台连接（默认）";
const wchar_t* const kModeConnect = L"主动连接平台";

inline uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return (uint32_t(a) << 24) | (uint32_t(b) << 16) | (uint32_t(c) << 8) | d;
}

inline wchar_t PasswordCharOf(HWND page) {
    return static_cast<wchar_t>(SendTo(Item(page, IDC_PASSWORD), EM_GETPASSWORDCHAR));
}

inline std::vector<uint8_t> Bytes(const std::vector<uint8_t>& record, size_t offset, size_t count) {
    if (record.size() < offset + count) return {};
    return std::vector<uint8_t>(record.begin() + offset, record.begin() + offset + count);
}

// A reader of one antenna type identified and its page Ready.
class AntennaPageTest : public ReaderTest {
protected:
    void Identify(int deviceType, const Fields& fields = {}) {
        device = IdentifyReader(deviceType, fields);
        ASSERT_NE(device, nullptr);
    }

    // Opens and closes the mode list; the combo tells the page while it
    // handles each message, so the page's handler has run on return.
    void DropModeList() {
        SendTo(Item(device, IDC_CONNECT_MODE), CB_SHOWDROPDOWN, TRUE);
        SendTo(Item(device, IDC_CONNECT_MODE), CB_SHOWDROPDOWN, FALSE);
    }
    void ChooseMode(int index) {
        SelectCombo(Item(device, IDC_CONNECT_MODE), index);
        DropModeList();
    }

    // Closes the port and opens it again; the reply re-initialises the page.
    void Requery() {
        ASSERT_TRUE(PressPortButton(device, OPEN_PORT_TEXT));
        Click(Item(device, IDC_PORT_BUTTON));
        ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, REPLY_WAIT_MS))
            << "the reply did not re-initialise the page";
    }

    std::vector<uint8_t> ApplyRecord() {
        std::vector<uint8_t> record = ReaderTest::ApplyRecord(device);
        EXPECT_EQ(record.size(), 93u);
        return record;
    }
    std::wstring ApplyRefused() { return ReaderTest::ApplyRefused(device); }

    HWND device = nullptr;
};

// The record of the factory reader's unchanged page in mode 1 (mode 0: the
// fixed credentials, no platform), then the bytes from 84 on.
inline std::vector<uint8_t> FactoryRecord(int mode, std::vector<uint8_t> tail) {
    std::vector<uint8_t> r(84, 0);
    r[0] = static_cast<uint8_t>(mode);
    std::memcpy(&r[1], mode ? "reader01" : "admin", mode ? 8 : 5);
    std::memcpy(&r[33], mode ? "pass1234" : "602417", mode ? 8 : 6);
    const uint8_t rest[] = {192, 168, 1, 10, 0x01, 0xF6, 0, 192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1};
    std::memcpy(&r[65], rest, sizeof rest);
    if (mode == 0) std::memset(&r[65], 0, 7);
    r.insert(r.end(), tail.begin(), tail.end());
    return r;
}

}  // namespace antenna_steps
