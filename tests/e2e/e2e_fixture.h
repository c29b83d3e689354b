// A test with the program and a simulated reader on the rig's cable: the
// reader runs in this process on TAV_SIM_PORT, the program is started on
// the paired TAV_APP_PORT. Without the rig's environment the tests skip.
#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
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

// Generous bounds: the reply wait is three one-second ticks.
constexpr int PAGE_TIMEOUT_MS = 8000;
constexpr int REPLY_WAIT_MS = 6000;

const wchar_t* const TIMEOUT_TEXT = L"不能和设备正常通信，请检查设备是否上电";
const wchar_t* const OPEN_FAILED_TEXT = L"打开串口失败";
const wchar_t* const CONFIG_DONE_TEXT = L"配置成功";
const wchar_t* const OPEN_PORT_TEXT = L"打开串口";
const wchar_t* const CLOSE_PORT_TEXT = L"关闭串口";

using Fields = std::vector<std::pair<std::string, std::string>>;

inline PageKind PageOfType(int deviceType) {
    switch (deviceType) {
    case DEVICE_TYPE_DUAL_ANTENNA: return PAGE_DUAL;
    case DEVICE_TYPE_SINGLE_ANTENNA: return PAGE_SINGLE;
    case DEVICE_TYPE_WIFI: return PAGE_WIFI;
    case DEVICE_TYPE_BASIC: return PAGE_BASIC;
    }
    return PAGE_UNKNOWN;
}

// Empties controls the way a user does: address controls cleared, edits
// and the rest set to "".
inline void EmptyControls(HWND page, std::initializer_list<int> ids) {
    for (int id : ids) {
        wchar_t className[32] = L"";
        GetClassNameW(Item(page, id), className, 32);
        if (wcscmp(className, L"SysIPAddress32") == 0) SendTo(Item(page, id), IPM_CLEARADDRESS);
        else SetText(Item(page, id), L"");
    }
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        appPort = EnvOr("TAV_APP_PORT", "");
        simPort = EnvOr("TAV_SIM_PORT", "");
        if (appPort.empty() || simPort.empty()) GTEST_SKIP() << "no rig: TAV_APP_PORT/TAV_SIM_PORT unset";
    }

    void TearDown() override { StopAll(); }

    // Ends the program and the reader, for a test that starts them again.
    void StopAll() {
        StopApp(&app);
        SimRunnerStop(runner);
        runner = nullptr;
    }

    // Starts the reader of deviceType with a fault ("none", "silent",
    // "late:500", ...; see SimParseFault) on the simulator's end.
    void StartReader(int deviceType, const std::string& fault = "none", const std::string& port = "") {
        SimReader reader;
        SimInit(&reader, deviceType);
        std::string error;
        ASSERT_TRUE(SimParseFault(fault, &reader.fault, &error)) << error;
        SimRunnerOptions options;
        options.port = port.empty() ? simPort : port;
        runner = SimRunnerStart(options, reader, &error);
        ASSERT_NE(runner, nullptr) << "simulated reader on " << options.port << ": " << error;
    }

    void SetFault(const std::string& fault) {
        SimFaultPlan plan;
        std::string error;
        ASSERT_TRUE(SimParseFault(fault, &plan, &error)) << error;
        SimRunnerUpdate(runner, [&](SimReader* r) { r->fault = plan; });
    }

    void SetField(const std::string& name, const std::string& value) {
        std::string error;
        bool ok = false;
        SimRunnerUpdate(runner, [&](SimReader* r) { ok = SimSetField(r, name, value, &error); });
        ASSERT_TRUE(ok) << name << ": " << error;
    }

    void Launch(const std::vector<std::pair<std::wstring, std::wstring>>& env = {}) {
        ASSERT_TRUE(StartApp(&app, env)) << "tavrolin.exe did not come up";
        page = WaitPageOfKind(app.main, PAGE_PORT_SELECT, PAGE_TIMEOUT_MS);
        ASSERT_NE(page, nullptr);
    }

    // Chooses the program's end of the cable and presses the port button.
    void OpenAppPort(const std::string& port = "") {
        const std::wstring name = Widen(port.empty() ? appPort : port);
        ASSERT_TRUE(WaitFor([&] { return SelectComboText(Item(page, IDC_PORT_LIST), name); }, 3000))
            << "port missing from the list";
        Click(Item(page, IDC_PORT_BUTTON));
    }

    // Types a port name into the list's edit (no entry selected) and
    // presses the port button.
    void OpenTypedPort(const std::wstring& name) {
        SelectCombo(Item(page, IDC_PORT_LIST), -1);
        SetText(Item(page, IDC_PORT_LIST), name);
        Click(Item(page, IDC_PORT_BUTTON));
    }

    // A reader of deviceType (with these fields) identified from a fresh
    // start: its device page, or nullptr after a failed assertion.
    HWND IdentifyReader(int deviceType, const Fields& fields = {}, const std::string& fault = "none") {
        StartReader(deviceType, fault);
        for (const auto& f : fields) SetField(f.first, f.second);
        if (!HasFatalFailure()) Launch();
        if (!HasFatalFailure()) OpenAppPort();
        if (HasFatalFailure()) return nullptr;
        HWND device = WaitPageOfKind(app.main, PageOfType(deviceType), PAGE_TIMEOUT_MS);
        EXPECT_NE(device, nullptr) << "no " << PageKindName(PageOfType(deviceType));
        return device;
    }

    // Presses the port button of p and waits for it to read `then`.
    bool PressPortButton(HWND p, const wchar_t* then) {
        Click(Item(p, IDC_PORT_BUTTON));
        return ButtonReads(p, then);
    }
    bool ButtonReads(HWND p, const wchar_t* text, int timeoutMs = 3000) {
        return WaitFor([&] { return ItemText(p, IDC_PORT_BUTTON) == text; }, timeoutMs);
    }

    // The frames the reader received, and the payload of the last one.
    int FramesReceived() { return static_cast<int>(SimRunnerFrames(runner).size()); }
    std::vector<uint8_t> LastPayload() {
        const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner);
        if (frames.empty() || frames.back().raw.size() < FRAME_HEADER_SIZE) return {};
        return std::vector<uint8_t>(frames.back().raw.begin() + FRAME_HEADER_SIZE, frames.back().raw.end());
    }

    std::string appPort, simPort;
    AppProcess app;
    SimRunner* runner = nullptr;
    HWND page = nullptr;  // the PortSelectPage of the program's start
};
