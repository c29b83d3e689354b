// A test with the program and a simulated reader on the rig's cable: the
// reader runs in this process on TAV_SIM_PORT, the program is started on
// the paired TAV_APP_PORT. Without the rig's environment the tests skip.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/uidriver/driver.h"

#include <commctrl.h>

#include "protocol/device_info.h"
#include "protocol/frame.h"
#include "resources/resource.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"
#include "tests/forms/form_helpers.h"

constexpr int PAGE_TIMEOUT_MS = 8000;
constexpr int REPLY_WAIT_MS = 6000;  // the reply wait is three one-second ticks

const wchar_t* const TIMEOUT_TEXT = L"不能和设备正常通信，请检查设备是否上电";
const wchar_t* const OPEN_FAILED_TEXT = L"打开串口失败";
const wchar_t* const CONFIG_DONE_TEXT = L"配置成功";
const wchar_t* const OPEN_PORT_TEXT = L"打开串口";
const wchar_t* const CLOSE_PORT_TEXT = L"关闭串口";
const wchar_t* const MODE_WAIT_TEXT = L"等待平台连接（默认）";
const wchar_t* const MODE_CONNECT_TEXT = L"主动连接平台";

using Fields = std::vector<std::pair<std::string, std::string>>;

const std::set<int> kAddresses = {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY};
// The password and platform controls: shown in mode 1 only.
const std::set<int> kModeOneControls = {IDC_PASSWORD_LABEL,    IDC_PASSWORD,      IDC_EYE,
                                        IDC_PLATFORM_IP_LABEL, IDC_PLATFORM_IP,   IDC_PLATFORM_PORT_LABEL,
                                        IDC_PLATFORM_PORT};

// A file in the temporary folder.
inline std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

inline std::string ReadFileText(const std::wstring& path) {
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// tavrolin-cli's command line with args: its build path as Wine sees it ("Z:\...").
inline std::wstring CliLine(const std::wstring& args) {
    std::wstring exe = Widen(std::string("Z:") + TAV_CLI_EXE);
    std::replace(exe.begin(), exe.end(), L'/', L'\\');
    return L"\"" + exe + L"\" " + args;
}

inline PageKind PageOfType(int type) {
    return type == DEVICE_TYPE_DUAL_ANTENNA ? PAGE_DUAL : type == DEVICE_TYPE_SINGLE_ANTENNA ? PAGE_SINGLE
         : type == DEVICE_TYPE_WIFI ? PAGE_WIFI : type == DEVICE_TYPE_BASIC ? PAGE_BASIC : PAGE_UNKNOWN;
}

// A window's left, top, width and height.
using Box = std::vector<long>;
inline Box Geometry(HWND window) {
    const RECT r = WindowRect(window);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

inline bool Ticked(HWND page, int id) { return SendTo(Item(page, id), BM_GETCHECK) == BST_CHECKED; }
inline bool Blank(HWND page, int id) { return SendTo(Item(page, id), IPM_ISBLANK) != 0; }
inline wchar_t PasswordChar(HWND page) { return static_cast<wchar_t>(SendTo(Item(page, IDC_PASSWORD), EM_GETPASSWORDCHAR)); }

// The record of the factory reader's unchanged page in mode 1 (mode 0: the
// fixed credentials, no platform) up to byte 84, the rest zero.
inline Record FactoryRecord(int mode, size_t size = 93) {
    Record r(size);
    r.At(0, {static_cast<uint8_t>(mode)}).Text(1, mode ? "reader01" : "admin").Text(33, mode ? "pass1234" : "602417");
    if (mode) r.At(65, {192, 168, 1, 10, 0x01, 0xF6});
    return std::move(r.At(72, {192, 168, 1, 100, 255, 255, 255, 0, 192, 168, 1, 1}));
}

// Empties controls the way a user does: address controls cleared, the rest set to "".
inline void EmptyControls(HWND page, std::initializer_list<int> ids) {
    for (int id : ids) {
        wchar_t className[32] = L"";
        GetClassNameW(Item(page, id), className, 32);
        if (wcscmp(className, L"SysIPAddress32") == 0) SendTo(Item(page, id), IPM_CLEARADDRESS);
        else SetText(Item(page, id), L"");
    }
}

// The ids of the page's controls (1001-1027) that are disabled, or hidden.
inline std::set<int> ControlsWhere(HWND page, bool hiddenInstead) {
    std::set<int> ids;
    for (int id = IDC_PORT_LIST; id <= IDC_RS485_BAUD; ++id) {
        HWND item = Item(page, id);
        if (item != nullptr && !(hiddenInstead ? IsWindowVisible(item) : IsWindowEnabled(item))) ids.insert(id);
    }
    return ids;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        appPort = EnvOr("TAV_APP_PORT", "");
        simPort = EnvOr("TAV_SIM_PORT", "");
        if (appPort.empty() || simPort.empty()) GTEST_SKIP() << "no rig: TAV_APP_PORT/TAV_SIM_PORT unset";
    }
    void TearDown() override { StopAll(); }

    void StopAll() {
        StopApp(&app);
        SimRunnerStop(runner);
        runner = nullptr;
    }

    // A reader of deviceType with a fault ("silent", "late:500", ...; see SimParseFault).
    void StartReader(int deviceType, const std::string& fault = "none") {
        SimReader reader;
        SimInit(&reader, deviceType);
        std::string error;
        ASSERT_TRUE(SimParseFault(fault, &reader.fault, &error)) << error;
        SimRunnerOptions options;
        options.port = simPort;
        runner = SimRunnerStart(options, reader, &error);
        ASSERT_NE(runner, nullptr) << "simulated reader on " << simPort << ": " << error;
    }

    void SetFault(const std::string& fault) {
        SimFaultPlan plan;
        std::string error;
        ASSERT_TRUE(SimParseFault(fault, &plan, &error)) << error;
        SimRunnerUpdate(runner, [&](SimReader* r) { r->fault = plan; });
    }

    void SetFields(const Fields& fields) {
        for (const auto& f : fields) {
            std::string error;
            bool ok = false;
            SimRunnerUpdate(runner, [&](SimReader* r) { ok = SimSetField(r, f.first, f.second, &error); });
            ASSERT_TRUE(ok) << f.first << ": " << error;
        }
    }

    void Launch(const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
        ASSERT_TRUE(StartApp(&app, env)) << "tavrolin.exe did not come up";
        page = WaitPageOfKind(app.main, PAGE_PORT_SELECT, PAGE_TIMEOUT_MS);
        ASSERT_NE(page, nullptr);
    }

    void OpenAppPort() {
        ASSERT_TRUE(WaitFor([&] { return SelectComboText(Item(page, IDC_PORT_LIST), Widen(appPort)); }, 3000))
            << "port missing from the list";
        Click(Item(page, IDC_PORT_BUTTON));
    }

    // A name typed into the list's edit, no entry selected, then the port button.
    void OpenTypedPort(const std::wstring& name) {
        SelectCombo(Item(page, IDC_PORT_LIST), -1);
        SetText(Item(page, IDC_PORT_LIST), name);
        Click(Item(page, IDC_PORT_BUTTON));
    }

    // A reader identified from a fresh start, its device page Ready in device.
    void ShowReader(int deviceType, const Fields& fields = {}, const std::string& fault = "none") {
        ASSERT_NO_FATAL_FAILURE(StartReader(deviceType, fault));
        ASSERT_NO_FATAL_FAILURE(SetFields(fields));
        ASSERT_NO_FATAL_FAILURE(Launch());
        ASSERT_NO_FATAL_FAILURE(OpenAppPort());
        device = WaitPageOfKind(app.main, PageOfType(deviceType), PAGE_TIMEOUT_MS);
        ASSERT_NE(device, nullptr) << "no " << PageKindName(PageOfType(deviceType));
        EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(device, IDC_APPLY)) != FALSE; }, 3000)) << "not Ready";
    }

    // The device page's controls show these texts.
    void ExpectTexts(std::initializer_list<std::pair<int, const wchar_t*>> texts) {
        for (const auto& t : texts) EXPECT_EQ(ItemText(device, t.first), t.second) << "control " << t.first;
    }

    bool PressPortButton(HWND p, const wchar_t* then) {
        Click(Item(p, IDC_PORT_BUTTON));
        return ButtonReads(p, then);
    }
    bool ButtonReads(HWND p, const wchar_t* text, int timeoutMs = 3000) {
        return WaitFor([&] { return ItemText(p, IDC_PORT_BUTTON) == text; }, timeoutMs);
    }

    // A click on the device page's check box, once the box has flipped and the page handled it.
    void Toggle(int id) {
        const bool was = Ticked(device, id);
        Click(Item(device, id));
        ASSERT_TRUE(WaitFor([&] { return Ticked(device, id) != was; }, 2000)) << "box " << id;
        SendTo(app.main, WM_NULL);
    }
    // The mode list worked as a user does: opened and closed; the combo
    // tells the page while it handles each message, so the page's handler
    // has run on return.
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

    // Hiding a box keeps the program's window thread busy a while on the
    // bare X server: controls read meanwhile would read as empty.
    static void WaitForWindowThread(HWND window) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
    }
    // Presses Apply (or clicks it with the mouse, where it shows) and
    // answers the box: its text (empty: none came).
    std::wstring Apply(HWND p, bool byMouse = false) {
        SimRunnerClearFrames(runner);
        if (byMouse) {
            const RECT r = WindowRect(Item(p, IDC_APPLY));
            LeftClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
        } else {
            Click(Item(p, IDC_APPLY));
        }
        const std::wstring answer = AnswerMessageBox(app, REPLY_WAIT_MS);
        WaitForWindowThread(p);
        return answer;
    }
    // An Apply that must succeed with one well-formed write: its record.
    std::vector<uint8_t> ApplyRecord(HWND p, bool byMouse = false) {
        EXPECT_EQ(Apply(p, byMouse), CONFIG_DONE_TEXT);
        const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
        EXPECT_EQ(frames.size(), 1u) << "frames for one Apply";
        if (frames.empty() || frames.back().raw.size() < FRAME_HEADER_SIZE) return {};
        EXPECT_TRUE(frames.back().command == CMD_WRITE_CONFIG && frames.back().crcOk);
        return std::vector<uint8_t>(frames.back().raw.begin() + FRAME_HEADER_SIZE, frames.back().raw.end());
    }

    int FramesReceived() { return static_cast<int>(SimRunnerFrames(runner).size()); }

    std::string appPort, simPort;
    AppProcess app;
    SimRunner* runner = nullptr;
    HWND page = nullptr;    // the PortSelectPage of the program's start
    HWND device = nullptr;  // the device page ShowReader brought
};
