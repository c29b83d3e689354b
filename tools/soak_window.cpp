// soak_window: tavrolin.exe through a long day's use against a simulated
// reader, one program for every cycle. A cycle identifies a reader (types
// 52, 1, 2, 3 in turn, connection mode 1 or 0 every four cycles), types a
// new IP address and name or ID, presses "应用", takes "配置成功", checks
// that the reader holds exactly the record written, then closes and
// reopens the port and checks that the page shows what was written. On
// every fifth cycle the reopening meets a fault (silent, bad CRC, garbage,
// split, two replies, cable unplugged during the wait) and must end in
// its expected message and recover.
//
// Every 20 cycles (10 in a run shorter than 40) it takes the program's
// resource figures from outside: handles, GDI and USER objects
// (GetGuiResources), private bytes. Where
// the platform does not give them (Wine 8: GetGuiResources fails, the
// handle count and private bytes read 0) it counts GDI objects in the
// program's GDI handle table, USER objects as its windows, and takes the
// page-file bytes; with TAV_SOAK_SYNC (a folder) it also asks a watcher on
// the Linux side for the process's threads, descriptors and RssAnon (it
// writes SYNC/cycle-N and waits for SYNC/cycle-N.done holding the three).
// It passes when every cycle and fault went as expected and no figure
// grew from the first sample to the last by more than its tolerance.
//
//   soak_window [CYCLES] [PAGE_TYPE] [one-type]   (defaults 200 and 1; needs the rig)
//
// With "one-type" every cycle's reader is of PAGE_TYPE, so the page is
// never replaced (both connection modes and the faults still come round).
//
// A reply of another type than the page shown replaces the page with its
// own, so most cycles also replace the page; PAGE_TYPE picks the first.
// Wine's IP address control leaks one font per control destroyed (not so
// on Windows): under Wine the GDI figure is given without the fonts of the
// IP address controls the replaced pages took with them.
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "protocol/config_record.h"
#include "protocol/device_info.h"
#include "protocol/frame.h"
#include "resources/resource.h"
#include "sim/rig_control.h"
#include "sim/sim_reader.h"
#include "sim/sim_runner.h"
#include "tools/uidriver/driver.h"

namespace {

const wchar_t* const TIMEOUT_TEXT = L"不能和设备正常通信，请检查设备是否上电";
const wchar_t* const CONFIG_DONE_TEXT = L"配置成功";
const int TYPES[] = {DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA, DEVICE_TYPE_WIFI};
// The faults of the reopening, one every fifth cycle in turn; "unplug" is the rig's cable.
const char* const FAULTS[] = {"silent", "bad-crc", "garbage:9,150", "split:5,20", "double", "unplug"};
constexpr int WAIT_MS = 8000;

// The figures of one sample; -1 where none could be had.
enum Figure { HANDLES, GDI, USER, PRIVATE_KB, THREADS, DESCRIPTORS, RSS_ANON_KB, FIGURE_COUNT };
const char* const FIGURE_NAMES[FIGURE_COUNT] = {"handles", "GDI objects", "USER objects", "private KB",
                                                "threads", "descriptors", "RssAnon KB"};
// How much a figure may grow from cycle 20 to the last: a message box or
// a receive thread in flight at the sample, allocator slack.
const long TOLERANCE[FIGURE_COUNT] = {16, 8, 4, 2048, 2, 4, 2048};

struct Sample {
    int cycle;
    long figure[FIGURE_COUNT];
    std::string sources;
};

int failures = 0;
// IP address controls of the pages replaced so far (see the GDI figure).
long ipControlsDestroyed = 0;

bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

BOOL CALLBACK CountIpControl(HWND window, LPARAM param) {
    wchar_t name[32] = L"";
    GetClassNameW(window, name, 32);
    if (wcscmp(name, L"SysIPAddress32") == 0) ++*reinterpret_cast<long*>(param);
    return TRUE;
}

const PageKind KIND_OF_TYPE[] = {PAGE_BASIC, PAGE_DUAL, PAGE_SINGLE, PAGE_WIFI};  // as TYPES

void Fail(int cycle, const std::string& what) {
    std::printf("cycle %d: FAILED: %s\n", cycle, what.c_str());
    std::fflush(stdout);
    ++failures;
}

// The live entries of a process's GDI handle table (PEB offset 0xF8 on
// 64-bit Windows, 24-byte entries whose type byte is 0 when free).
long GdiTableCount(HANDLE process) {
    using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    static const QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info = {};
    uint64_t table = 0;
    if (query == nullptr || query(process, ProcessBasicInformation, &info, sizeof info, nullptr) != 0 ||
        !ReadProcessMemory(process, static_cast<char*>(static_cast<void*>(info.PebBaseAddress)) + 0xF8, &table,
                           sizeof table, nullptr) ||
        table == 0)
        return -1;
    constexpr size_t ENTRY = 24, ENTRIES = 0x10000, CHUNK = 4096;
    std::vector<uint8_t> bytes(CHUNK * ENTRY);
    long count = 0;
    for (size_t first = 0; first < ENTRIES; first += CHUNK) {
        if (!ReadProcessMemory(process, reinterpret_cast<void*>(table + first * ENTRY), bytes.data(), bytes.size(),
                               nullptr))
            return -1;
        for (size_t i = 0; i < CHUNK; ++i) count += bytes[i * ENTRY + 14] != 0;
    }
    return count;
}

struct WindowCount {
    DWORD pid;
    long count;
};

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND window, LPARAM param) {
    WindowCount* c = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != c->pid) return TRUE;
    ++c->count;
    EnumChildWindows(window, CountChild, param);
    return TRUE;
}

// The Linux side's threads, descriptors and RssAnon through the watcher.
bool AskWatcher(int cycle, long* out) {
    const std::string sync = EnvOr("TAV_SOAK_SYNC", "");
    if (sync.empty()) return false;
    const std::string request = sync + "\\cycle-" + std::to_string(cycle);
    std::ofstream(request).put('\n');
    bool got = false;
    WaitFor([&] {
        std::ifstream done(request + ".done");
        return got = static_cast<bool>(done >> out[0] >> out[1] >> out[2]);
    }, 5000);
    return got;
}

Sample TakeSample(int cycle, const AppProcess& app) {
    Sample s{cycle, {}, ""};
    for (long& f : s.figure) f = -1;
    HANDLE process = app.process.hProcess;
    DWORD handles = 0;
    if (GetProcessHandleCount(process, &handles) && handles > 0) s.figure[HANDLES] = static_cast<long>(handles);
    const DWORD gdi = GetGuiResources(process, GR_GDIOBJECTS), user = GetGuiResources(process, GR_USEROBJECTS);
    s.figure[GDI] = gdi > 0 ? static_cast<long>(gdi) : GdiTableCount(process);
    if (s.figure[GDI] >= 0 && UnderWine()) s.figure[GDI] -= ipControlsDestroyed;
    if (user > 0) {
        s.figure[USER] = static_cast<long>(user);
    } else {
        WindowCount c{app.process.dwProcessId, 0};
        EnumWindows(CountTop, reinterpret_cast<LPARAM>(&c));
        s.figure[USER] = c.count;
    }
    s.sources = gdi > 0 ? "GetGuiResources" : "GDI table, windows";
    if (UnderWine()) s.sources += " (GDI less Wine's " + std::to_string(ipControlsDestroyed) + " leaked IP control fonts)";
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
        const SIZE_T bytes = memory.PrivateUsage > 0 ? memory.PrivateUsage : memory.PagefileUsage;
        s.figure[PRIVATE_KB] = static_cast<long>(bytes / 1024);
        s.sources += memory.PrivateUsage > 0 ? ", PrivateUsage" : ", PagefileUsage";
    }
    if (AskWatcher(cycle, s.figure + THREADS)) s.sources += ", /proc";
    return s;
}

void PrintSample(const Sample& s) {
    std::printf("cycle %d:", s.cycle);
    for (int f = 0; f < FIGURE_COUNT; ++f)
        if (s.figure[f] >= 0) std::printf(" %s %ld,", FIGURE_NAMES[f], s.figure[f]);
    std::printf(" (%s)\n", s.sources.c_str());
    std::fflush(stdout);
}

class Soak {
public:
    Soak(const std::string& appPort, const std::string& simPort) : appPort_(appPort), simPort_(simPort) {}
    ~Soak() {
        StopApp(&app_);
        SimRunnerStop(runner_);
    }

    bool Start(int pageType, bool oneType) {
        oneType_ = oneType ? pageType : 0;
        SimReader reader;
        SimInit(&reader, pageType);
        SimRunnerOptions options;
        options.port = simPort_;
        std::string error;
        runner_ = SimRunnerStart(options, reader, &error);
        if (runner_ == nullptr) return Fail(0, "simulated reader: " + error), false;
        if (!StartApp(&app_)) return Fail(0, "tavrolin.exe did not come up"), false;
        HWND select = WaitPageOfKind(app_.main, PAGE_PORT_SELECT, WAIT_MS);
        if (select == nullptr || !WaitFor([&] { return SelectComboText(Item(select, IDC_PORT_LIST), Widen(appPort_)); }, 3000))
            return Fail(0, "no port selection page with " + appPort_), false;
        Click(Item(select, IDC_PORT_BUTTON));
        if (!FollowPage(pageType)) return Fail(0, "no device page"), false;
        return Ready();
    }

    // The page of type's reader, which replaces the one shown when it is of
    // another type; false when there is none. A page being replaced is not
    // looked at: its successor is looked for once it has gone.
    bool FollowPage(int type) {
        for (int i = 0; i < 4; ++i) {
            if (TYPES[i] != type) continue;
            HWND replaced = page_ != nullptr && pageKind_ != KIND_OF_TYPE[i] ? page_ : nullptr;
            HWND page = WaitPageOfKind(app_.main, KIND_OF_TYPE[i], WAIT_MS, replaced);
            if (page == nullptr) return false;
            if (page_ != nullptr && page != page_) ipControlsDestroyed += ipControlsShown_;
            if (page != page_) {
                ipControlsShown_ = 0;
                EnumChildWindows(page, CountIpControl, reinterpret_cast<LPARAM>(&ipControlsShown_));
            }
            page_ = page;
            pageKind_ = KIND_OF_TYPE[i];
            return true;
        }
        return false;
    }

    void Cycle(int cycle) {
        // A reader of this cycle's type and mode, identified afresh.
        const int type = oneType_ != 0 ? oneType_ : TYPES[(cycle - 1) % 4];
        const int mode = ((cycle - 1) / 4) % 2 == 0 ? 1 : 0;
        // After a failed cycle: its message answered, the page that is
        // shown now followed (a reply may have replaced it unseen), the
        // port closed.
        if (FindMessageBox(app_) != nullptr) Answer(1000);
        if (!IsWindow(page_)) {
            const PageKind shown = KindOf(WaitShownPage(app_.main, WAIT_MS));
            for (int i = 0; i < 4; ++i)
                if (shown == KIND_OF_TYPE[i]) FollowPage(TYPES[i]);
        }
        if (ItemText(page_, IDC_PORT_BUTTON) != L"打开串口" && !PortButton(L"打开串口"))
            return Fail(cycle, "the port did not close");
        SimRunnerUpdate(runner_, [&](SimReader* r) {
            SimInit(r, type);
            std::string ignored;
            SimSetField(r, "connectMode", std::to_string(mode), &ignored);
        });
        // A reader of another type replaces the page at once: its button
        // may be gone before it could be read.
        Click(Item(page_, IDC_PORT_BUTTON));
        if (!FollowPage(type) || !Ready()) return Fail(cycle, "type " + std::to_string(type) + " not identified" + State());

        // The new settings, Apply, and the record the reader now holds.
        const uint32_t ip = MAKEIPADDRESS(10, 20 + cycle / 250, cycle % 250, 1 + cycle % 200);
        SetIpAddress(Item(page_, IDC_IP_ADDRESS), ip);
        const bool byId = Item(page_, IDC_CONNECT_MODE) != nullptr && ComboSelection(Item(page_, IDC_CONNECT_MODE)) == 0;
        const std::wstring nameOrId = byId ? std::to_wstring(7000 + cycle) : L"soak-" + std::to_wstring(cycle);
        SetText(Item(page_, IDC_NAME_OR_ID), nameOrId);
        // The WiFi page refuses an empty network name or password, which
        // readers of other types report: the user fills them in.
        for (int id : {IDC_WIFI_SSID, IDC_WIFI_PASSWORD})
            if (Item(page_, id) != nullptr && ItemText(page_, id).empty()) SetText(Item(page_, id), L"soak-wifi");
        const std::wstring ipText = Text(Item(page_, IDC_IP_ADDRESS));
        SimRunnerClearFrames(runner_);
        Click(Item(page_, IDC_APPLY));
        const std::wstring answer = Answer(WAIT_MS);
        if (answer != CONFIG_DONE_TEXT) return Fail(cycle, "Apply answered \"" + Narrow(answer) + "\"");
        const std::vector<SimReceivedFrame> frames = SimRunnerFrames(runner_);
        if (frames.size() != 1 || frames[0].command != CMD_WRITE_CONFIG || !frames[0].crcOk)
            return Fail(cycle, std::to_string(frames.size()) + " frames for one Apply");
        const std::vector<uint8_t> record(frames[0].raw.begin() + FRAME_HEADER_SIZE, frames[0].raw.end());
        std::vector<uint8_t> held(record.size());
        SimRunnerUpdate(runner_, [&](SimReader* r) {
            std::memcpy(held.data(), r->info + DEVICE_INFO_TO_CONFIG_SHIFT, held.size());
        });
        if (held != record) return Fail(cycle, "the reader does not hold the record written");
        const uint8_t* ipBytes = record.data() + CR_IP_ADDRESS;
        const uint32_t written = (uint32_t{ipBytes[0]} << 24) | (ipBytes[1] << 16) | (ipBytes[2] << 8) | ipBytes[3];
        if (written != ip) return Fail(cycle, "the record carries another IP address");

        // Closed and reopened, the page shows what the reader now holds.
        if (!PortButton(L"打开串口")) return Fail(cycle, "the port did not close");
        if (cycle % 5 == 0 && !Fault(cycle, FAULTS[(cycle / 5 - 1) % 6])) return;
        if (!PortButton(L"关闭串口") || !Ready()) return Fail(cycle, "not identified after reopening" + State());
        SetFault("none");
        // A reader's reply carries the device ID only where its type keeps
        // it: the WiFi page's ID lies past the end of a short reply.
        const size_t idEnd = (type == DEVICE_TYPE_WIFI ? DI_WIFI_DEVICE_ID : DI_DEVICE_ID) + 4;
        const bool idReported = idEnd <= (type == DEVICE_TYPE_WIFI ? DEVICE_INFO_WIFI_SIZE : DEVICE_INFO_SHORT_SIZE);
        if (Text(Item(page_, IDC_IP_ADDRESS)) != ipText ||
            ((!byId || idReported) && ItemText(page_, IDC_NAME_OR_ID) != nameOrId))
            return Fail(cycle, "the page shows " + Narrow(Text(Item(page_, IDC_IP_ADDRESS))) + " " +
                                   Narrow(ItemText(page_, IDC_NAME_OR_ID)) + " after reopening");
        if (FindMessageBox(app_) != nullptr) Fail(cycle, "a message is up: " + Narrow(AnswerMessageBox(app_, 100)));
    }

    const AppProcess& App() const { return app_; }

private:
    // Waits for a message box, reads and closes it, and waits until it is
    // gone. The reply that raised it stays in the receive buffer until then
    // and what arrives meanwhile queues behind it; on a bare X server
    // Wine takes up to about 2 s to take a box down. (A user who reopens
    // the port at once, with a reader that sends stray bytes before its
    // reply, loses that reply: the stray bytes end up at the front.)
    std::wstring Answer(int timeoutMs) {
        HWND box = WaitMessageBox(app_, timeoutMs);
        if (box == nullptr) return L"";
        const std::wstring text = MessageBoxText(box);
        PressOk(box);
        WaitFor([&] { return !IsWindow(box); }, 5000);
        return text;
    }

    // What the page shows, for a failure's message.
    std::string State() {
        HWND box = FindMessageBox(app_);
        std::string pages;
        for (HWND page : Pages(app_.main))
            pages += std::string(pages.empty() ? "" : ", ") + PageKindName(KindOf(page)) +
                     (IsWindowVisible(page) ? "" : " (hidden)");
        return (IsWindow(page_) ? "" : ": the page followed has gone, pages now: " + pages) + ": the button reads " +
               Narrow(ItemText(page_, IDC_PORT_BUTTON)) + ", version \"" + Narrow(ItemText(page_, IDC_VERSION)) +
               "\", Apply " + (IsWindowEnabled(Item(page_, IDC_APPLY)) ? "on" : "off") +
               (box != nullptr ? ", message \"" + Narrow(MessageBoxText(box)) + "\"" : "");
    }

    // Presses the port button and waits for it to read then.
    bool PortButton(const wchar_t* then) {
        Click(Item(page_, IDC_PORT_BUTTON));
        return WaitFor([&] { return ItemText(page_, IDC_PORT_BUTTON) == then; }, WAIT_MS);
    }

    // The page shown, filled from a reply and taking Apply (enabled last
    // by the page's initialisation).
    bool Ready() {
        return WaitFor([&] {
            return IsWindowVisible(page_) && IsWindowEnabled(Item(page_, IDC_APPLY)) &&
                   !ItemText(page_, IDC_VERSION).empty();
        }, WAIT_MS);
    }

    void SetFault(const std::string& fault) {
        SimFaultPlan plan;
        std::string ignored;
        SimParseFault(fault, &plan, &ignored);
        SimRunnerUpdate(runner_, [&](SimReader* r) { r->fault = plan; });
    }

    // A reopening that meets fault: the expected message, then the port
    // closed and the reader back to normal for the caller's reopening.
    bool Fault(int cycle, const std::string& fault) {
        const bool unplug = fault == "unplug";
        const bool timesOut = unplug || fault == "silent" || fault == "bad-crc";
        SetFault(unplug ? "silent" : fault);
        if (!timesOut) return true;  // the reply still comes through: the caller's reopening checks it
        const std::string ctl = EnvOr("TAV_RIG_CTL", "");
        std::string error;
        // Unplugged once the port is open and the query out, while the program waits.
        if (!PortButton(L"关闭串口")) return Fail(cycle, fault + ": the port did not open"), false;
        if (unplug && !RigSetCable(ctl, "A", false, 3000, &error)) return Fail(cycle, "unplug: " + error), false;
        const std::wstring answer = Answer(WAIT_MS);
        const bool closed = WaitFor([&] { return ItemText(page_, IDC_PORT_BUTTON) == L"打开串口"; }, WAIT_MS);
        if (unplug && !RigSetCable(ctl, "A", true, 3000, &error)) return Fail(cycle, "replug: " + error), false;
        SetFault("none");
        if (unplug && !WaitFor([&] { return SimRunnerLineOpen(runner_); }, 3000))
            return Fail(cycle, "the reader's line did not come back"), false;
        if (answer != TIMEOUT_TEXT || !closed)
            return Fail(cycle, fault + ": answered \"" + Narrow(answer) + "\"" + (closed ? "" : ", port open")), false;
        return true;
    }

    std::string appPort_, simPort_;
    AppProcess app_;
    SimRunner* runner_ = nullptr;
    HWND page_ = nullptr;
    PageKind pageKind_ = PAGE_UNKNOWN;  // of page_
    long ipControlsShown_ = 0;   // on page_
    int oneType_ = 0;            // every reader of this type; 0: 52, 1, 2, 3 in turn
};

}  // namespace

int main(int argc, char** argv) {
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int pageType = argc > 2 ? std::atoi(argv[2]) : DEVICE_TYPE_DUAL_ANTENNA;
    const std::string appPort = EnvOr("TAV_APP_PORT", ""), simPort = EnvOr("TAV_SIM_PORT", "");
    if (appPort.empty() || simPort.empty()) {
        std::fprintf(stderr, "soak_window: TAV_APP_PORT/TAV_SIM_PORT unset (source the rig's rig.env)\n");
        return 2;
    }
    Soak soak(appPort, simPort);
    if (!soak.Start(pageType, argc > 3 && std::strcmp(argv[3], "one-type") == 0)) return 1;
    std::vector<Sample> samples;
    const DWORD started = GetTickCount();
    for (int cycle = 1; cycle <= cycles && failures < 5; ++cycle) {
        soak.Cycle(cycle);
        if (cycle % (cycles < 40 ? 10 : 20) == 0 || cycle == cycles) {
            samples.push_back(TakeSample(cycle, soak.App()));
            PrintSample(samples.back());
        }
    }
    // Growth from the first sample (the program settled) to the last. Ten
    // cycles are too few to tell a leak from a slow settling: a run shorter
    // than 40 cycles prints the figures and judges the cycles only.
    const bool judgeGrowth = cycles >= 40;
    if (!judgeGrowth) std::printf("growth is printed, not judged, in a run of fewer than 40 cycles\n");
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    for (int f = 0; f < FIGURE_COUNT && samples.size() > 1; ++f) {
        if (first.figure[f] < 0 || last.figure[f] < 0) continue;
        const long growth = last.figure[f] - first.figure[f];
        std::printf("%-13s cycle %d: %ld, cycle %d: %ld, growth %+ld (tolerance %ld)%s\n", FIGURE_NAMES[f],
                    first.cycle, first.figure[f], last.cycle, last.figure[f], growth, TOLERANCE[f],
                    growth > TOLERANCE[f] ? "  GREW" : "");
        if (growth > TOLERANCE[f] && judgeGrowth) ++failures;
    }
    std::printf("soak: %d cycles in %.0f s, %d failures\n", cycles, (GetTickCount() - started) / 1000.0, failures);
    return failures == 0 ? 0 : 1;
}
