// Driving tavrolin.exe from another process; see driver.h.
#include "tools/uidriver/driver.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "resources/resource.h"

#ifndef TAV_APP_EXE
#define TAV_APP_EXE ""
#endif

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? std::string(value) : fallback;
}

std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(n), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &narrow[0], n, nullptr, nullptr);
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

// A visible-or-not top-level window of a class, of one process (pid 0: any).
struct FindTop {
    DWORD pid;
    const wchar_t* className;
    bool visibleOnly;
    HWND found;
};

// The driver reads the program's windows in real pixels: a DPI-unaware
// process would see them scaled to 96 DPI.
static const BOOL g_dpiAware = SetProcessDPIAware();

static BOOL CALLBACK FindTopProc(HWND window, LPARAM param) {
    FindTop* find = reinterpret_cast<FindTop*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if ((find->pid != 0 && pid != find->pid) || wcscmp(className, find->className) != 0) return TRUE;
    if (find->visibleOnly && !IsWindowVisible(window)) return TRUE;
    find->found = window;
    return FALSE;
}

static HWND FindTopWindow(DWORD pid, const wchar_t* className, bool visibleOnly) {
    FindTop find = {pid, className, visibleOnly, nullptr};
    EnumWindows(FindTopProc, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// With startup given (its standard handles), the handles marked inheritable are inherited.
static bool Spawn(std::wstring commandLine, PROCESS_INFORMATION* process, STARTUPINFOW* startup = nullptr) {
    STARTUPINFOW plain = {};
    plain.cb = sizeof(plain);
    return CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, startup != nullptr, 0, nullptr, nullptr,
                          startup != nullptr ? startup : &plain, process) != FALSE;
}

std::string AppExe() { return EnvOr("TAV_APP_EXE", TAV_APP_EXE); }

bool StartApp(AppProcess* app, const std::vector<std::pair<std::wstring, std::wstring>>& env, int timeoutMs) {
    StopApp(app);
    const std::string program = AppExe();
    if (env.empty()) {
        // A unix path from the build as Wine's DOS path: /work/x -> Z:\work\x.
        std::string path = program[0] == '/' ? "Z:" + program : program;
        for (char& c : path) c = c == '/' ? '\\' : c;
        if (!Spawn(L"\"" + Widen(path) + L"\"", &app->process)) return false;
    } else {
        // Wine takes a process's code page from the Linux locale it starts
        // with, not from the environment block: env K=V... wine program.
        std::wstring commandLine = L"Z:\\usr\\bin\\env";
        for (const auto& kv : env) commandLine += L" " + kv.first + L"=" + kv.second;
        PROCESS_INFORMATION launcher = {};
        if (!Spawn(commandLine + L" wine \"" + Widen(program) + L"\"", &launcher)) return false;
        CloseHandle(launcher.hProcess);
        CloseHandle(launcher.hThread);
    }
    if (!WaitFor([&] { return (app->main = FindTopWindow(app->process.dwProcessId, L"Tavrolin", false)) != nullptr; },
                 timeoutMs)) {
        return false;
    }
    if (app->process.hProcess == nullptr) {
        // Started through Linux: the program is known by its window.
        GetWindowThreadProcessId(app->main, &app->process.dwProcessId);
        app->process.hProcess = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION,
                                            FALSE, app->process.dwProcessId);
    }
    // Shown once centred: the start-up is over.
    return WaitFor([&] { return IsWindowVisible(app->main) != FALSE; }, timeoutMs) &&
           WaitPageOfKind(app->main, PAGE_PORT_SELECT, timeoutMs) != nullptr;
}

bool AttachApp(AppProcess* app, int timeoutMs) {
    if (!WaitFor([&] { return (app->main = FindWindowW(L"Tavrolin", nullptr)) != nullptr; }, timeoutMs)) return false;
    GetWindowThreadProcessId(app->main, &app->process.dwProcessId);
    return true;
}

void StopApp(AppProcess* app) {
    if (app->process.hProcess != nullptr) {
        TerminateProcess(app->process.hProcess, 0);
        WaitForSingleObject(app->process.hProcess, 5000);
        CloseHandle(app->process.hProcess);
        if (app->process.hThread != nullptr) CloseHandle(app->process.hThread);
    }
    *app = AppProcess{};
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
    static const char* const names[] = {"unknown",           "PortSelectPage", "BasicReaderPage",
                                        "DualAntennaPage",   "SingleAntennaPage", "WifiReaderPage"};
    return names[kind];
}

// One look: the shown page that pred accepts, when exactly one is.
static HWND OneShownPage(HWND main, const std::function<bool(HWND)>& pred) {
    HWND found = nullptr;
    for (HWND page : Pages(main)) {
        if (!IsWindowVisible(page) || !pred(page)) continue;
        if (found != nullptr) return nullptr;
        found = page;
    }
    return found;
}

// The same page on two looks in a row, and still shown after the second.
static HWND WaitSteadyPage(HWND main, int timeoutMs, const std::function<bool(HWND)>& pred) {
    HWND previous = nullptr;
    HWND found = nullptr;
    WaitFor([&] {
        HWND now = OneShownPage(main, pred);
        found = now != nullptr && now == previous && IsWindowVisible(now) ? now : nullptr;
        previous = now;
        return found != nullptr;
    }, timeoutMs);
    return found;
}

HWND WaitPageOfKind(HWND main, PageKind kind, int timeoutMs, HWND replaced) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (replaced != nullptr && !WaitFor([&] { return !IsWindow(replaced); }, timeoutMs)) return nullptr;
    const int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
    // The last control of each template, checked as well: a shown page has it.
    const int last = kind == PAGE_PORT_SELECT ? IDC_PORT_BUTTON : kind == PAGE_DUAL ? IDC_RS485_BAUD : IDC_APPLY;
    return WaitSteadyPage(main, std::max(left, 0),
                          [&](HWND page) { return KindOf(page) == kind && Item(page, last) != nullptr; });
}

HWND WaitShownPage(HWND main, int timeoutMs) {
    return WaitSteadyPage(main, timeoutMs, [](HWND page) { return KindOf(page) != PAGE_UNKNOWN; });
}

// -2 when the program did not answer in time.
LRESULT SendTo(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, msg, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result)) return -2;
    return static_cast<LRESULT>(result);
}

std::wstring Text(HWND window) {
    const LRESULT length = window != nullptr ? SendTo(window, WM_GETTEXTLENGTH) : -1;
    if (length < 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    SendTo(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data());
}

std::wstring ItemText(HWND page, int id) {
    return Text(Item(page, id));
}

void SetText(HWND window, const std::wstring& text) {
    SendTo(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void SetIpAddress(HWND ipControl, uint32_t address) {
    SendTo(ipControl, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

int ComboSelection(HWND combo) {
    return static_cast<int>(SendTo(combo, CB_GETCURSEL));
}

int ComboCount(HWND combo) {
    return static_cast<int>(SendTo(combo, CB_GETCOUNT));
}

std::wstring ComboItem(HWND combo, int index) {
    const LRESULT length = SendTo(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (length < 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 2, L'\0');
    SendTo(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data());
}

void SelectCombo(HWND combo, int index) {
    SendTo(combo, CB_SETCURSEL, static_cast<WPARAM>(index));
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

void PressKey(HWND window, UINT key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 1 | (3u << 30));
}

std::wstring ListViewText(HWND list, int item, int subItem) {
    DWORD pid = 0;
    GetWindowThreadProcessId(list, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr) return L"";
    const int chars = 512;
    char* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + chars * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    std::vector<wchar_t> text(chars, L'\0');
    LRESULT length = 0;
    if (remote != nullptr) {
        LVITEMW cell = {};
        cell.iSubItem = subItem;
        cell.cchTextMax = chars;
        cell.pszText = reinterpret_cast<wchar_t*>(remote + sizeof cell);
        if (WriteProcessMemory(process, remote, &cell, sizeof cell, nullptr))
            length = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(remote));
        if (!ReadProcessMemory(process, cell.pszText, text.data(), chars * sizeof(wchar_t), nullptr)) length = 0;
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return std::wstring(text.data(), static_cast<size_t>(std::min<LRESULT>(std::max<LRESULT>(length, 0), chars - 1)));
}

RECT WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

static void SendMouse(POINT screen, DWORD flags, int data) {
    SetCursorPos(screen.x, screen.y);
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    input.mi.mouseData = static_cast<DWORD>(data);
    SendInput(1, &input, sizeof(input));
}

void WheelAt(POINT screen, int delta) { SendMouse(screen, MOUSEEVENTF_WHEEL, delta); }

void LeftClickAt(POINT screen) {
    SendMouse(screen, MOUSEEVENTF_LEFTDOWN, 0);
    SendMouse(screen, MOUSEEVENTF_LEFTUP, 0);
}

HWND FindMessageBox(const AppProcess& app) {
    return FindTopWindow(app.process.dwProcessId, L"#32770", true);
}

HWND WaitMessageBox(const AppProcess& app, int timeoutMs) {
    // The box is complete once its button exists and its text is set
    // (every box of the program has one).
    HWND box = nullptr;
    const bool complete = WaitFor([&] {
        box = FindMessageBox(app);
        return box != nullptr && (GetDlgItem(box, IDOK) != nullptr || GetDlgItem(box, IDNO) != nullptr) &&
               !MessageBoxText(box).empty();
    }, timeoutMs);
    return complete ? box : nullptr;
}

std::wstring MessageBoxText(HWND box) {
    return Text(GetDlgItem(box, 0xFFFF));
}

std::wstring MessageBoxCaption(HWND box) {
    return Text(box);
}

void PressOk(HWND box) {
    Click(GetDlgItem(box, IDOK));
}

std::wstring AnswerMessageBox(const AppProcess& app, int timeoutMs) {
    HWND box = WaitMessageBox(app, timeoutMs);
    if (box == nullptr) return std::wstring();
    const std::wstring text = MessageBoxText(box);
    PressOk(box);
    // A dismissed box is hidden at once; its handle lives on a while.
    WaitFor([&] { return FindMessageBox(app) == nullptr; }, 2000);
    return text;
}

void SystemCommand(const AppProcess& app, UINT command) {
    PostMessageW(app.main, WM_SYSCOMMAND, command, 0);
}

HWND WaitTopWindow(const AppProcess& app, const wchar_t* className, int timeoutMs) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindTopWindow(app.process.dwProcessId, className, true)) != nullptr; }, timeoutMs);
    return found;
}

// The file name box of a file dialog: the combo box of the Explorer-style
// dialogs, the edit of the older ones.
static HWND FileNameBox(HWND dialog) {
    const int FILE_NAME_COMBO = 0x47C, FILE_NAME_EDIT = 0x480;
    HWND box = GetDlgItem(dialog, FILE_NAME_COMBO);
    return box != nullptr ? box : GetDlgItem(dialog, FILE_NAME_EDIT);
}

HWND WaitFileDialog(const AppProcess& app, int timeoutMs) {
    HWND dialog = nullptr;
    WaitFor([&] {
        dialog = FindTopWindow(app.process.dwProcessId, L"#32770", true);
        return dialog != nullptr && FileNameBox(dialog) != nullptr && GetDlgItem(dialog, IDOK) != nullptr;
    }, timeoutMs);
    return dialog != nullptr && FileNameBox(dialog) != nullptr ? dialog : nullptr;
}

std::wstring FileDialogName(HWND dialog) {
    return Text(FileNameBox(dialog));
}

bool ChooseFile(HWND dialog, const std::wstring& path) {
    SetText(FileNameBox(dialog), path);
    Click(GetDlgItem(dialog, IDOK));
    return WaitFor([&] { return !IsWindowVisible(dialog); }, 5000);
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* chars = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (chars != nullptr) {
        text = chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// The exit code once the program has ended, -1 after timeoutMs (it is ended then); its handles closed.
static int EndOf(PROCESS_INFORMATION* process, int timeoutMs) {
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process->hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
        GetExitCodeProcess(process->hProcess, &code);
    else
        TerminateProcess(process->hProcess, 99);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    return static_cast<int>(code);
}

int RunReading(const std::wstring& commandLine, std::string* out, int timeoutMs) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process = {};
    const bool started = Spawn(commandLine, &process, &startup);
    CloseHandle(writeEnd);  // the pipe ends when the program's copy closes
    int code = -1;
    if (started) {
        std::thread reader([&] {
            char chunk[4096];
            DWORD got = 0;
            while (ReadFile(readEnd, chunk, sizeof(chunk), &got, nullptr) && got > 0) out->append(chunk, got);
        });
        code = EndOf(&process, timeoutMs);
        reader.join();
    }
    CloseHandle(readEnd);
    return code;
}

int RunToEnd(const std::wstring& commandLine, int timeoutMs) {
    PROCESS_INFORMATION process = {};
    return Spawn(commandLine, &process) ? EndOf(&process, timeoutMs) : -1;
}
