// The driver side of the end-to-end tests; see driver.h.
#include "driver.h"

#include <commctrl.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "resources/resource.h"

#ifndef TAV_APP_EXE
#define TAV_APP_EXE ""
#endif

static const UINT MESSAGE_TIMEOUT_MS = 2000;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::string(value) : fallback;
}

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], n, nullptr,
                        nullptr);
    return narrow;
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A unix path from the build ("/work/...") as Wine's DOS path ("Z:\work\...").
static std::wstring ProgramPath() {
    std::string path = EnvOr("TAV_APP_EXE", TAV_APP_EXE);
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return Widen(path);
}

struct FindMain {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK FindMainProc(HWND window, LPARAM param) {
    FindMain* find = reinterpret_cast<FindMain*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if ((find->pid == 0 || pid == find->pid) && wcscmp(className, L"Tavrolin") == 0) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

// Wine takes a process's code page from the Linux locale it starts with,
// not from the environment block CreateProcess passes; so a start with
// extra variables goes through the Linux side: env K=V... wine program.
static bool LaunchThroughLinux(const std::vector<std::pair<std::wstring, std::wstring>>& env) {
    std::string program = EnvOr("TAV_APP_EXE", TAV_APP_EXE);
    std::wstring commandLine = L"Z:\\usr\\bin\\env";
    for (const auto& kv : env) commandLine += L" " + kv.first + L"=" + kv.second;
    commandLine += L" wine \"" + Widen(program) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION launcher = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &launcher)) {
        return false;
    }
    if (launcher.hProcess != nullptr) CloseHandle(launcher.hProcess);
    if (launcher.hThread != nullptr) CloseHandle(launcher.hThread);
    return true;
}

bool StartApp(AppProcess* app, const std::vector<std::pair<std::wstring, std::wstring>>& env, int timeoutMs) {
    StopApp(app);
    FindMain find = {0, nullptr};
    if (env.empty()) {
        std::wstring path = ProgramPath();
        std::wstring commandLine = L"\"" + path + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &app->process)) {
            return false;
        }
        find.pid = app->process.dwProcessId;
    } else if (!LaunchThroughLinux(env)) {
        return false;
    }
    const bool found = WaitFor([&] {
        find.found = nullptr;
        EnumWindows(FindMainProc, reinterpret_cast<LPARAM>(&find));
        return find.found != nullptr;
    }, timeoutMs);
    if (!found) return false;
    app->main = find.found;
    if (app->process.hProcess == nullptr) {
        // Started through Linux: the program is known by its window.
        GetWindowThreadProcessId(app->main, &app->process.dwProcessId);
        app->process.hProcess =
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                        app->process.dwProcessId);
    }
    // Shown once centred: the start-up is over.
    if (!WaitFor([&] { return IsWindowVisible(app->main) != FALSE; }, timeoutMs)) return false;
    return WaitPageOfKind(app->main, PAGE_PORT_SELECT, timeoutMs) != nullptr;
}

void StopApp(AppProcess* app) {
    if (app->process.hProcess != nullptr) {
        TerminateProcess(app->process.hProcess, 0);
        WaitForSingleObject(app->process.hProcess, 5000);
        CloseHandle(app->process.hProcess);
        if (app->process.hThread != nullptr) CloseHandle(app->process.hThread);
    }
    app->process = PROCESS_INFORMATION{};
    app->main = nullptr;
}

bool AppRunning(const AppProcess& app) {
    return app.process.hProcess != nullptr && WaitForSingleObject(app.process.hProcess, 0) == WAIT_TIMEOUT;
}

std::vector<HWND> Pages(HWND main) {
    std::vector<HWND> pages;
    for (HWND child = FindWindowExW(main, nullptr, L"#32770", nullptr); child != nullptr;
         child = FindWindowExW(main, child, L"#32770", nullptr)) {
        pages.push_back(child);
    }
    return pages;
}

HWND Item(HWND page, int id) {
    return page != nullptr ? GetDlgItem(page, id) : nullptr;
}

PageKind KindOf(HWND page) {
    if (page == nullptr || Item(page, IDC_PORT_BUTTON) == nullptr) return PAGE_UNKNOWN;
    if (Item(page, IDC_APPLY) == nullptr) return PAGE_PORT_SELECT;
    if (Item(page, IDC_RS485_BAUD) != nullptr) return PAGE_DUAL;
    if (Item(page, IDC_WIFI_SSID) != nullptr) return PAGE_WIFI;
    if (Item(page, IDC_CONNECT_MODE) != nullptr) return PAGE_SINGLE;
    return PAGE_BASIC;
}

const char* PageKindName(PageKind kind) {
    switch (kind) {
    case PAGE_PORT_SELECT: return "PortSelectPage";
    case PAGE_BASIC: return "BasicReaderPage";
    case PAGE_DUAL: return "DualAntennaPage";
    case PAGE_SINGLE: return "SingleAntennaPage";
    case PAGE_WIFI: return "WifiReaderPage";
    case PAGE_UNKNOWN: break;
    }
    return "unknown";
}

// The last control of each template: a page is complete once it exists.
static int LastControl(PageKind kind) {
    switch (kind) {
    case PAGE_PORT_SELECT: return IDC_PORT_BUTTON;
    case PAGE_DUAL: return IDC_RS485_BAUD;
    default: return IDC_APPLY;
    }
}

HWND WaitPageOfKind(HWND main, PageKind kind, int timeoutMs) {
    HWND found = nullptr;
    WaitFor([&] {
        found = nullptr;
        int count = 0;
        for (HWND page : Pages(main)) {
            if (KindOf(page) == kind && Item(page, LastControl(kind)) != nullptr) {
                found = page;
                ++count;
            }
        }
        if (count != 1) found = nullptr;
        return found != nullptr;
    }, timeoutMs);
    return found;
}

std::wstring Text(HWND window) {
    if (window == nullptr) return std::wstring();
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &length)) {
        return std::wstring();
    }
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &got);
    return std::wstring(buffer.data());
}

std::wstring ItemText(HWND page, int id) {
    return Text(Item(page, id));
}

void SetText(HWND window, const std::wstring& text) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                        MESSAGE_TIMEOUT_MS, &result);
}

void SetIpAddress(HWND ipControl, uint32_t address) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(ipControl, IPM_SETADDRESS, 0, static_cast<LPARAM>(address), SMTO_ABORTIFHUNG,
                        MESSAGE_TIMEOUT_MS, &result);
}

static LRESULT Send(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, MESSAGE_TIMEOUT_MS, &result)) {
        return -2;
    }
    return static_cast<LRESULT>(result);
}

int ComboSelection(HWND combo) {
    return static_cast<int>(Send(combo, CB_GETCURSEL, 0, 0));
}

int ComboCount(HWND combo) {
    return static_cast<int>(Send(combo, CB_GETCOUNT, 0, 0));
}

std::wstring ComboItem(HWND combo, int index) {
    const LRESULT length = Send(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    Send(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data());
}

void SelectCombo(HWND combo, int index) {
    Send(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

bool SelectComboText(HWND combo, const std::wstring& text) {
    const int count = ComboCount(combo);
    for (int i = 0; i < count; ++i) {
        if (ComboItem(combo, i) == text) {
            SelectCombo(combo, i);
            return true;
        }
    }
    return false;
}

void Click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

struct FindBox {
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK FindBoxProc(HWND window, LPARAM param) {
    FindBox* find = reinterpret_cast<FindBox*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != find->pid || !IsWindowVisible(window)) return TRUE;
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") != 0) return TRUE;
    find->found = window;
    return FALSE;
}

HWND FindMessageBox(const AppProcess& app) {
    FindBox find = {app.process.dwProcessId, nullptr};
    EnumWindows(FindBoxProc, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

HWND WaitMessageBox(const AppProcess& app, int timeoutMs) {
    HWND box = nullptr;
    // The box is complete once its text exists.
    WaitFor([&] {
        box = FindMessageBox(app);
        return box != nullptr && GetDlgItem(box, 0xFFFF) != nullptr && GetDlgItem(box, IDOK) != nullptr;
    }, timeoutMs);
    return box != nullptr && GetDlgItem(box, IDOK) != nullptr ? box : nullptr;
}

std::wstring MessageBoxText(HWND box) {
    return Text(GetDlgItem(box, 0xFFFF));
}

std::wstring MessageBoxCaption(HWND box) {
    return Text(box);
}

void PressOk(HWND box) {
    PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
}

std::wstring AnswerMessageBox(const AppProcess& app, int timeoutMs) {
    HWND box = WaitMessageBox(app, timeoutMs);
    if (box == nullptr) return std::wstring();
    const std::wstring text = MessageBoxText(box);
    PressOk(box);
    WaitFor([&] { return !IsWindow(box); }, 2000);
    return text;
}
