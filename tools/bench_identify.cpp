// bench_identify: identification latency, from the simulated reader's
// reply (timed when the runner hands the frame to the line) to the device
// page's last control existing; and the receive path's share of it, from
// the same moment to the reply's "接收" line in the communication log (both
// on the local wall clock, to the millisecond). Starts tavrolin.exe afresh
// for each round; every other round opens the communication log window
// first, so the two figures (log window closed, open) come from the same
// run. Interleaved with those rounds, the floor the platform sets for the
// same work: tools/floor_page.cpp, a bare program that reads the same reply
// through the same cable and creates the same page template, timed from
// the same moment to the same control by the same watcher; and the same
// bare program also doing the platform's part of the page switch the
// reply asks for (port closed, port selection page destroyed, window grown).
// It prints the latency as a ratio to both floors.
//
//   bench_identify [ROUNDS]      (default 20 of each; needs the rig's environment)
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/frame.h"
#include "resources/resource.h"
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

// A type 52 reader on simPort that notes when it hands a reply to the line
// (on the performance counter and on the wall clock).
struct TimedReader {
    SimReader reader;
    std::atomic<double> sentAt{0.0};
    std::atomic<int64_t> sentWallMs{0};
    SimRunner* runner = nullptr;
};

static bool StartTimedReader(const std::string& simPort, TimedReader* timed, std::string* error) {
    SimInit(&timed->reader, DEVICE_TYPE_BASIC);
    SimRunnerOptions options;
    options.port = simPort;
    options.log = [timed](const std::string& line) {
        if (line.rfind("sent ", 0) == 0) {
            timed->sentAt = NowMs();
            timed->sentWallMs = WallMsOfDay();
        }
    };
    timed->runner = SimRunnerStart(options, timed->reader, error);
    return timed->runner != nullptr;
}

// When main first holds a basic reader page whose last control exists (0
// when none came within 10 s). Both programs are watched by this loop.
static double PageShownAt(HWND main) {
    const double deadline = NowMs() + 10000;
    while (NowMs() < deadline) {
        HWND device = FindWindowExW(main, nullptr, L"#32770", nullptr);
        if (device != nullptr && KindOf(device) == PAGE_BASIC && GetDlgItem(device, IDC_APPLY) != nullptr)
            return NowMs();
        Sleep(0);
    }
    return 0;
}

// Both programs are left this long after start-up before the query.
static const DWORD SETTLE_MS = 500;

// A floor round: floor_page.exe on the program's port, with the page switch
// or without; the latency or -1.
static double FloorRound(const std::string& appPort, const TimedReader& timed, bool pageSwitch) {
    std::string exe = EnvOr("TAV_FLOOR_EXE", "");
    if (exe.empty()) {
        char self[MAX_PATH] = "";
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        exe = std::string(self, std::strrchr(self, '\\') + 1) + "floor_page.exe";
    }
    std::string templates = AppExe();
    if (templates[0] == '/') templates = "Z:" + templates;
    for (char& c : templates) c = c == '/' ? '\\' : c;
    std::wstring commandLine = Widen("\"" + exe + "\" " + appPort + " " +
                                     std::to_string(SimInfoReplyFrame(&timed.reader).size()) + " \"" + templates + "\" " +
                                     std::to_string(SETTLE_MS) +
                                     (pageSwitch ? " switch" : ""));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    HWND main = nullptr;
    WaitFor([&] { return (main = FindWindowW(L"TavrolinFloor", nullptr)) != nullptr; }, 10000);
    const double shownAt = main != nullptr ? PageShownAt(main) : 0;
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return shownAt > 0 && timed.sentAt > 0 ? shownAt - timed.sentAt : -1;
}

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string appPort = EnvOr("TAV_APP_PORT", "");
    const std::string simPort = EnvOr("TAV_SIM_PORT", "");
    if (appPort.empty() || simPort.empty()) {
        std::fprintf(stderr, "bench_identify: TAV_APP_PORT/TAV_SIM_PORT unset (source the rig's rig.env)\n");
        return 2;
    }

    // Four kinds of round in turn: the program with its log window closed,
    // with it open, and the floor program without and with the page switch.
    std::vector<double> latencies[4], receivePath[2];
    for (int round = 0; round < 4 * rounds; ++round) {
        const int kind = round % 4, logOpen = kind == 1;
        TimedReader timed;
        std::string error;
        if (!StartTimedReader(simPort, &timed, &error)) {
            std::fprintf(stderr, "bench_identify: %s\n", error.c_str());
            return 1;
        }
        if (kind >= 2) {
            const double latency = FloorRound(appPort, timed, kind == 3);
            if (latency >= 0) latencies[kind].push_back(latency);
            else std::fprintf(stderr, "round %d: no floor page\n", round + 1);
            SimRunnerStop(timed.runner);
            continue;
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
        }
        // Identified once the program has settled, as a technician would,
        // not while Wine is still finishing its start-up (the floor waits
        // as long before its query).
        Sleep(SETTLE_MS);
        if (page != nullptr && SelectComboText(Item(page, IDC_PORT_LIST), Widen(appPort))) {
            Click(Item(page, IDC_PORT_BUTTON));
            const double shownAt = PageShownAt(app.main);
            if (shownAt > 0 && timed.sentAt > 0) {
                latencies[logOpen].push_back(shownAt - timed.sentAt);
                const int64_t logged = ReplyLoggedAt(app);
                if (logged >= 0) receivePath[logOpen].push_back(static_cast<double>(logged - timed.sentWallMs));
            } else {
                std::fprintf(stderr, "round %d: no page\n", round + 1);
            }
        } else {
            std::fprintf(stderr, "round %d: the program did not come up\n", round + 1);
        }
        StopApp(&app);
        SimRunnerStop(timed.runner);
    }
    bool complete = true;
    for (int logOpen = 0; logOpen < 2; ++logOpen) {
        complete = complete && latencies[logOpen].size() == static_cast<size_t>(rounds);
        PrintFigure("identification latency, reply sent -> device page", logOpen ? "open  " : "closed", latencies[logOpen]);
    }
    for (int logOpen = 0; logOpen < 2; ++logOpen)
        PrintFigure("receive path, reply sent -> its log line        ", logOpen ? "open  " : "closed", receivePath[logOpen]);
    if (latencies[0].empty() || latencies[2].empty() || latencies[3].empty()) return 1;
    const char* floors[2] = {"the same reply read and the same page created by a bare program",
                             "the same, after closing the port, destroying a page and growing the window"};
    for (int kind = 2; kind < 4; ++kind) {
        std::vector<double>& floor = latencies[kind];
        std::sort(floor.begin(), floor.end());
        std::printf("floor: %s, %zu rounds: median %.1f ms, min %.1f ms, max %.1f ms\n", floors[kind - 2],
                    floor.size(), Median(floor), floor.front(), floor.back());
    }
    std::printf("identification latency (log window closed) / floor: %.2f; / floor with the page switch: %.2f\n",
                Median(latencies[0]) / Median(latencies[2]), Median(latencies[0]) / Median(latencies[3]));
    return complete ? 0 : 1;
}
