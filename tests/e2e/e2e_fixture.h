// A test with the program and a simulated reader on the rig's cable: the
// reader runs in this process on TAV_SIM_PORT, the program is started on
// the paired TAV_APP_PORT. Without the rig's environment the tests skip.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "driver.h"
#include "resources/resource.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"

// Generous bounds: the reply wait is three one-second ticks.
constexpr int PAGE_TIMEOUT_MS = 8000;
constexpr int REPLY_WAIT_MS = 6000;

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        appPort = EnvOr("TAV_APP_PORT", "");
        simPort = EnvOr("TAV_SIM_PORT", "");
        if (appPort.empty() || simPort.empty()) GTEST_SKIP() << "no rig: TAV_APP_PORT/TAV_SIM_PORT unset";
    }

    void TearDown() override {
        StopApp(&app);
        SimRunnerStop(runner);
        runner = nullptr;
    }

    // Starts the reader of deviceType with a fault ("none", "silent",
    // "late:500", ...; see SimParseFault) on the simulator's end of the cable.
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

    // Chooses the app's end of the cable in the port list and presses the
    // port button.
    void OpenAppPort(const std::string& port = "") {
        ASSERT_TRUE(SelectComboText(Item(page, IDC_PORT_LIST), Widen(port.empty() ? appPort : port)))
            << "port missing from the list";
        Click(Item(page, IDC_PORT_BUTTON));
    }

    int FramesReceived() { return static_cast<int>(SimRunnerFrames(runner).size()); }

    std::string appPort, simPort;
    AppProcess app;
    SimRunner* runner = nullptr;
    HWND page = nullptr;   // the PortSelectPage of the program's start
};
