// bench_identify: identification latency, from the simulated reader's
// reply (timed when the runner hands the frame to the line) to the device
// page's last control existing; and the receive path's share of it, from
// the same moment to the reply's "接收" line in the communication log (both
// on the local wall clock, to the millisecond). Starts tavrolin.exe afresh
// for each round; every other round opens the communication log window
// first, so the two figures (log window closed, open) come from the same
// run. In the same run it measures the floor the platform sets for that
// work, without the program: the same reply through the same cable to a
// bare reader of the port, and the same page template created and shown by
// this bare program. It prints the latency as a ratio to that floor.
//
//   bench_identify [ROUNDS]      (default 20 of each; needs the rig's environment)
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "resources/resource.h"
#include "serial/line.h"
#include "tools/uidriver/driver.h"
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

static int64_t WallMsOfDay() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return ((t.wHour * 60 + t.wMinute) * 60 + t.wSecond) * 1000LL + t.wMilliseconds;
}

// The time of the log's line of the information reply, from the log window
// as "复制" copies it (-1 when there is none).
static int64_t ReplyLoggedAt(const AppProcess& app) {
    SystemCommand(app, IDM_COMM_LOG);
    HWND log = WaitTopWindow(app, L"TavrolinCommLog", 10000);
    if (log == nullptr || SendTo(GetDlgItem(log, IDC_LOG_COPY), BM_CLICK) == -2) return -1;
    const std::wstring text = ClipboardText();
    const size_t at = text.rfind(L" 接收 CMD_INFO_REPLY");
    const size_t line = at == std::wstring::npos ? std::wstring::npos : text.rfind(L'\n', at);
    int h = 0, m = 0, sec = 0, ms = 0;
    if (at == std::wstring::npos ||
        swscanf(text.c_str() + (line == std::wstring::npos ? 0 : line + 1), L"%d:%d:%d.%d", &h, &m, &sec, &ms) != 4)
        return -1;
    return ((h * 60 + m) * 60 + sec) * 1000LL + ms;
}

static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2.0;
}

static void PrintFigure(const char* what, const char* condition, std::vector<double>& l) {
    if (l.empty()) return;
    std::sort(l.begin(), l.end());
    const double median = Median(l);
    std::printf("%s, log window %s, %zu rounds: median %.1f ms, min %.1f ms, max %.1f ms\n", what, condition,
                l.size(), median, l.front(), l.back());
}

// A type 52 reader on simPort that notes when it hands a reply to the line.
static SimRunner* StartTimedReader(const std::string& simPort, std::atomic<double>* replySentAt,
                                   SimReader* reader, std::string* error) {
    SimInit(reader, DEVICE_TYPE_BASIC);
    SimRunnerOptions options;
    options.port = simPort;
    options.log = [replySentAt](const std::string& line) {
        if (line.rfind("sent ", 0) == 0) *replySentAt = NowMs();
    };
    return SimRunnerStart(options, *reader, error);
}

// The reply of a type 52 reader through the cable to a bare reader of the
// program's port: from the runner handing it to the line to its last byte read.
static std::vector<double> LineFloor(int rounds, const std::string& appPort, const std::string& simPort) {
    std::vector<double> times;
    std::atomic<double> replySentAt{0.0};
    SimReader reader;
    std::string error;
    SimRunner* runner = StartTimedReader(simPort, &replySentAt, &reader, &error);
    SerialLine* line = runner != nullptr ? LineOpen(appPort, &error) : nullptr;
    const size_t replySize = SimInfoReplyFrame(&reader).size();
    const std::vector<uint8_t> query = BuildQueryInfoFrame();
    for (int round = 0; line != nullptr && round < rounds; ++round) {
        replySentAt = 0;
        LineWrite(line, query.data(), query.size());
        uint8_t buffer[1024];
        size_t got = 0;
        while (got < replySize) {
            const int n = LineRead(line, buffer, sizeof buffer, 2000);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == replySize && replySentAt > 0) times.push_back(NowMs() - replySentAt);
    }
    if (line != nullptr) LineClose(line);
    if (runner != nullptr) SimRunnerStop(runner);
    if (times.empty()) std::fprintf(stderr, "bench_identify: line floor: %s\n", error.c_str());
    return times;
}

// BasicReaderPage's template from tavrolin.exe, created in a plain window
// of this program and shown, painted included.
static std::vector<double> PageFloor(int rounds) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    const std::wstring exe = Widen(AppExe());
    HMODULE templates = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HWND host = CreateWindowExW(0, L"STATIC", L"floor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                nullptr, nullptr, nullptr);
    std::vector<double> times;
    for (int round = 0; templates != nullptr && round < rounds; ++round) {
        const double start = NowMs();
        HWND page = CreateDialogParamW(templates, MAKEINTRESOURCEW(IDD_BASIC_READER), host,
                                       [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        if (page == nullptr) break;
        ShowWindow(page, SW_SHOW);
        UpdateWindow(page);
        times.push_back(NowMs() - start);
        DestroyWindow(page);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(host);
    if (times.empty()) std::fprintf(stderr, "bench_identify: no page template in %ls\n", exe.c_str());
    return times;
}

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string appPort = EnvOr("TAV_APP_PORT", "");
    const std::string simPort = EnvOr("TAV_SIM_PORT", "");
    if (appPort.empty() || simPort.empty()) {
        std::fprintf(stderr, "bench_identify: TAV_APP_PORT/TAV_SIM_PORT unset (source the rig's rig.env)\n");
        return 2;
    }

    std::vector<double> latencies[2], receivePath[2];  // log window closed, open
    for (int round = 0; round < 2 * rounds; ++round) {
        const int logOpen = round % 2;
        std::atomic<double> replySentAt{0.0};
        std::atomic<int64_t> replySentWallMs{0};
        SimReader reader;
        SimInit(&reader, DEVICE_TYPE_BASIC);
        SimRunnerOptions options;
        options.port = simPort;
        options.log = [&](const std::string& line) {
            if (line.rfind("sent ", 0) == 0) {
                replySentAt = NowMs();
                replySentWallMs = WallMsOfDay();
            }
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
        if (logOpen && page != nullptr) {
            // Opened and drawn before the port opens: the figure is the cost
            // of an open log, not of opening it.
            SystemCommand(app, IDM_COMM_LOG);
            HWND log = WaitTopWindow(app, L"TavrolinCommLog", 10000);
            DWORD_PTR ignored = 0;
            if (log == nullptr || !SendMessageTimeoutW(log, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored)) page = nullptr;
            Sleep(500);
        }
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
                latencies[logOpen].push_back(shownAt - replySentAt);
                const int64_t logged = ReplyLoggedAt(app);
                if (logged >= 0) receivePath[logOpen].push_back(static_cast<double>(logged - replySentWallMs));
            } else {
                std::fprintf(stderr, "round %d: no page\n", round + 1);
            }
        } else {
            std::fprintf(stderr, "round %d: the program did not come up\n", round + 1);
        }
        StopApp(&app);
        SimRunnerStop(runner);
    }
    bool complete = true;
    for (int logOpen = 0; logOpen < 2; ++logOpen) {
        complete = complete && latencies[logOpen].size() == static_cast<size_t>(rounds);
        PrintFigure("identification latency, reply sent -> device page", logOpen ? "open  " : "closed", latencies[logOpen]);
    }
    for (int logOpen = 0; logOpen < 2; ++logOpen)
        PrintFigure("receive path, reply sent -> its log line        ", logOpen ? "open  " : "closed", receivePath[logOpen]);
    if (latencies[0].empty()) return 1;
    const std::vector<double> line = LineFloor(rounds, appPort, simPort), page = PageFloor(rounds);
    if (line.empty() || page.empty()) return 1;
    const double floor = Median(line) + Median(page);
    std::printf("floor: the reply through the cable %.1f ms + the page template created and shown %.1f ms = %.1f ms\n",
                Median(line), Median(page), floor);
    std::printf("identification latency (log window closed) / floor: %.2f\n", Median(latencies[0]) / floor);
    return complete ? 0 : 1;
}
