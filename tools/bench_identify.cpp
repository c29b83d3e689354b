// bench_identify: identification latency, from the simulated reader's
// reply (timed when the runner hands the frame to the line) to the device
// page's last control existing. Starts tavrolin.exe afresh for each round.
//
//   bench_identify [ROUNDS]      (default 20; needs the rig's environment)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/uidriver/driver.h"
#include "resources/resource.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"

static double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string appPort = EnvOr("TAV_APP_PORT", "");
    const std::string simPort = EnvOr("TAV_SIM_PORT", "");
    if (appPort.empty() || simPort.empty()) {
        std::fprintf(stderr, "bench_identify: TAV_APP_PORT/TAV_SIM_PORT unset (source the rig's rig.env)\n");
        return 2;
    }

    std::vector<double> latencies;
    for (int round = 0; round < rounds; ++round) {
        std::atomic<double> replySentAt{0.0};
        SimReader reader;
        SimInit(&reader, DEVICE_TYPE_BASIC);
        SimRunnerOptions options;
        options.port = simPort;
        options.log = [&](const std::string& line) {
            if (line.rfind("sent ", 0) == 0) replySentAt = NowMs();
        };
        std::string error;
        SimRunner* runner = SimRunnerStart(options, reader, &error);
        if (runner == nullptr) {
            std::fprintf(stderr, "bench_identify: %s\n", error.c_str());
            return 1;
        }
        AppProcess app;
        bool ok = StartApp(&app);
        HWND page = ok ? WaitPageOfKind(app.main, PAGE_PORT_SELECT, 10000) : nullptr;
        if (page != nullptr && SelectComboText(Item(page, IDC_PORT_LIST), Widen(appPort))) {
            Click(Item(page, IDC_PORT_BUTTON));
            const double deadline = NowMs() + 10000;
            double shownAt = 0;
            while (NowMs() < deadline) {
                HWND device = FindWindowExW(app.main, nullptr, L"#32770", nullptr);
                if (device != nullptr && KindOf(device) == PAGE_BASIC && GetDlgItem(device, IDC_APPLY) != nullptr) {
                    shownAt = NowMs();
                    break;
                }
                Sleep(0);
            }
            if (shownAt > 0 && replySentAt > 0) {
                latencies.push_back(shownAt - replySentAt);
            } else {
                std::fprintf(stderr, "round %d: no page\n", round + 1);
            }
        } else {
            std::fprintf(stderr, "round %d: the program did not come up\n", round + 1);
        }
        StopApp(&app);
        SimRunnerStop(runner);
    }
    if (latencies.empty()) return 1;
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies.size() % 2 == 1
        ? latencies[latencies.size() / 2]
        : (latencies[latencies.size() / 2 - 1] + latencies[latencies.size() / 2]) / 2.0;
    std::printf("identification latency, reply sent -> device page, %zu rounds: median %.1f ms, min %.1f ms, max %.1f ms\n",
                latencies.size(), median, latencies.front(), latencies.back());
    return latencies.size() == static_cast<size_t>(rounds) ? 0 : 1;
}
