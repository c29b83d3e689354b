// Driving tavrolin.exe from another process, the way a user would: start
// it, find its windows, read and set control texts, press buttons and
// answer message boxes. Every wait is bounded; a helper that times out
// returns an empty result and the test's assertion says what was missing.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct AppProcess {
    PROCESS_INFORMATION process = {};
    HWND main = nullptr;
};

// Starts tavrolin.exe (TAV_APP_EXE from the environment, else the path
// the build compiled in) and waits up to timeoutMs for its main window,
// centred and shown, and its PortSelectPage. Extra environment variables
// (LC_ALL, ...) start it through the Linux side so that Wine takes them
// for the program's locale. False on failure.
bool StartApp(AppProcess* app, const std::vector<std::pair<std::wstring, std::wstring>>& env = {},
              int timeoutMs = 20000);
// Kills the program if it still runs and forgets its handles.
void StopApp(AppProcess* app);
bool AppRunning(const AppProcess& app);

// Polls pred every 10 ms until it holds or timeoutMs has passed.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

// The pages: child dialogs of the main window.
enum PageKind { PAGE_UNKNOWN, PAGE_PORT_SELECT, PAGE_BASIC, PAGE_DUAL, PAGE_SINGLE, PAGE_WIFI };
std::vector<HWND> Pages(HWND main);
// Which template a page was built from, told by controls only it has.
PageKind KindOf(HWND page);
// The one page of that kind (nullptr when there is none or several) once
// its last control exists.
HWND WaitPageOfKind(HWND main, PageKind kind, int timeoutMs);
const char* PageKindName(PageKind kind);

// Control access across processes (messages, never GetWindowText).
HWND Item(HWND page, int id);
std::wstring Text(HWND window);
std::wstring ItemText(HWND page, int id);
void SetText(HWND window, const std::wstring& text);
void SetIpAddress(HWND ipControl, uint32_t address);
int ComboSelection(HWND combo);
int ComboCount(HWND combo);
std::wstring ComboItem(HWND combo, int index);
void SelectCombo(HWND combo, int index);
// Selects the entry with exactly this text; false when there is none.
bool SelectComboText(HWND combo, const std::wstring& text);
// Posts a click: the program may answer it with a modal box.
void Click(HWND button);
RECT WindowRect(HWND window);

// Message boxes: top-level dialogs of the process.
HWND WaitMessageBox(const AppProcess& app, int timeoutMs);
HWND FindMessageBox(const AppProcess& app);
std::wstring MessageBoxText(HWND box);
std::wstring MessageBoxCaption(HWND box);
void PressOk(HWND box);
// Waits for a box, reads its text and closes it; empty when none came.
std::wstring AnswerMessageBox(const AppProcess& app, int timeoutMs);

// Environment helpers.
std::string EnvOr(const char* name, const std::string& fallback);
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
