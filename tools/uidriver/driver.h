// Driving tavrolin.exe from another process, the way a user would. Every
// wait is bounded; a helper that times out returns an empty result and
// the caller's assertion says what was missing.
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

// Starts tavrolin.exe (TAV_APP_EXE, else the path built in) and waits for
// its shown main window and PortSelectPage. Extra environment variables
// (LC_ALL, ...) start it through the Linux side, where Wine takes the
// program's locale from.
bool StartApp(AppProcess* app, const std::vector<std::pair<std::wstring, std::wstring>>& env = {},
              int timeoutMs = 20000);
void StopApp(AppProcess* app);
// A tavrolin.exe started elsewhere, known by its main window (false after timeoutMs).
bool AttachApp(AppProcess* app, int timeoutMs);
// The program's path: TAV_APP_EXE, else the one built.
std::string AppExe();
bool AppRunning(const AppProcess& app);

// Polls pred every 10 ms until it holds or timeoutMs has passed.
bool WaitFor(const std::function<bool()>& pred, int timeoutMs);

// The pages are child dialogs of the main window, told apart by controls
// only their template has. A page is read that way only while it is shown:
// a page being replaced is hidden before its controls are destroyed one by
// one (half of it may look like a page of another kind), and a page being
// created is shown only once all its controls exist and it has
// initialised. Pages(main) lists them all, shown or not.
enum PageKind { PAGE_UNKNOWN, PAGE_PORT_SELECT, PAGE_BASIC, PAGE_DUAL, PAGE_SINGLE, PAGE_WIFI };
std::vector<HWND> Pages(HWND main);
PageKind KindOf(HWND page);
// The one shown page of that kind, once the same window has been found on
// two looks in a row (nullptr after timeoutMs, or while there are several).
// With replaced, a page the caller expects to go, it first waits until that
// window no longer exists.
HWND WaitPageOfKind(HWND main, PageKind kind, int timeoutMs, HWND replaced = nullptr);
// The one shown page of any kind, found the same way (a device page and a
// port selection page shown together give nullptr).
HWND WaitShownPage(HWND main, int timeoutMs);
const char* PageKindName(PageKind kind);

// Controls across processes: messages only, never GetWindowText.
LRESULT SendTo(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
HWND Item(HWND page, int id);
std::wstring Text(HWND window);
std::wstring ItemText(HWND page, int id);
void SetText(HWND window, const std::wstring& text);
void SetIpAddress(HWND ipControl, uint32_t address);
int ComboSelection(HWND combo);
int ComboCount(HWND combo);
std::wstring ComboItem(HWND combo, int index);
void SelectCombo(HWND combo, int index);
bool SelectComboText(HWND combo, const std::wstring& text);  // false: no such entry
void Click(HWND button);  // posted: the program may answer with a modal box
// A key pressed and released in window, as the keyboard posts them.
void PressKey(HWND window, UINT key);
// A list view's cell, read through a buffer in the program's memory.
std::wstring ListViewText(HWND list, int item, int subItem);
RECT WindowRect(HWND window);
// The mouse as a user moves it (system input, routed by the system to the
// window under the pointer): a wheel turn of delta (120 a notch, positive
// away from the user) or a left click at a point of the screen.
void WheelAt(POINT screen, int delta);
void LeftClickAt(POINT screen);

// Message boxes: visible top-level dialogs of the program (with OK, or Yes and No).
HWND WaitMessageBox(const AppProcess& app, int timeoutMs);
HWND FindMessageBox(const AppProcess& app);
std::wstring MessageBoxText(HWND box);
std::wstring MessageBoxCaption(HWND box);
void PressOk(HWND box);
// Waits for a box, reads its text and closes it; empty when none came.
std::wstring AnswerMessageBox(const AppProcess& app, int timeoutMs);

// MainWindow's system menu: the command posted as the menu sends it.
void SystemCommand(const AppProcess& app, UINT command);
// A visible top-level window of the program of that class (nullptr after timeoutMs).
HWND WaitTopWindow(const AppProcess& app, const wchar_t* className, int timeoutMs);
// The program's open or save dialog, once its file name box exists.
HWND WaitFileDialog(const AppProcess& app, int timeoutMs);
// The dialog's file name box (a save dialog offers its suggestion there).
std::wstring FileDialogName(HWND dialog);
// Types path into the dialog's file name box and presses its OK, as a user
// does; true once the dialog has gone.
bool ChooseFile(HWND dialog, const std::wstring& path);
// The clipboard's Unicode text ("" when it holds none).
std::wstring ClipboardText();
// Runs a command line to its end, its standard output read into *out.
int RunReading(const std::wstring& commandLine, std::string* out, int timeoutMs);
// Runs a command line to its end: the exit code, -1 when it could not start or timed out.
int RunToEnd(const std::wstring& commandLine, int timeoutMs);

std::string EnvOr(const char* name, const std::string& fallback);
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
