// floor_page: the least any program does for an identification, for
// bench_identify to time beside tavrolin.exe the same way: a bare window
// that opens the port, sends the information query, reads the reply whole
// and creates BasicReaderPage's template (taken from tavrolin.exe) in its
// window, as tavrolin.exe creates its pages. Nothing more: no port closed,
// no page replaced, no window resized. It carries tavrolin.exe's manifest,
// so its controls are the same (themed) controls.
//
// With "switch" it also does the platform's part of what an information
// reply asks of tavrolin.exe before the page: it starts at the program's
// size with the port selection template shown, and on the reply closes the
// port, destroys that page and grows the window as the program does
// (SWP_FRAMECHANGED, top moved up) before creating the device page.
//
// It sends the query SETTLE_MS after its window exists, as the benchmark
// leaves tavrolin.exe that long before identifying.
//
//   floor_page COMn REPLY_BYTES TEMPLATE_EXE SETTLE_MS [switch]
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/page_host.h"
#include "protocol/device_info.h"
#include "protocol/frame.h"
#include "resources/resource.h"
#include "serial/line.h"

namespace {

const UINT WM_REPLY_READ = WM_APP + 1;

INT_PTR CALLBACK PageProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: floor_page COMn REPLY_BYTES TEMPLATE_EXE SETTLE_MS [switch]\n");
        return 2;
    }
    const size_t replyBytes = static_cast<size_t>(std::atol(argv[2]));
    const DWORD settleMs = static_cast<DWORD>(std::atol(argv[4]));
    const bool pageSwitch = argc > 5 && std::string(argv[5]) == "switch";
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    HMODULE templates = LoadLibraryExA(argv[3], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"TavrolinFloor";
    RegisterClassW(&windowClass);
    // The plain floor's window is the one it always had; with the switch it
    // is tavrolin.exe's (style, start-up place and size).
    const DWORD style = pageSwitch ? WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX : WS_OVERLAPPEDWINDOW;
    const RECT place = pageSwitch ? RECT{550, 180, 550 + START_WIDTH, 180 + START_HEIGHT} : RECT{100, 100, 660, 620};
    HWND window = CreateWindowExW(0, L"TavrolinFloor", L"floor", style | WS_VISIBLE, place.left, place.top,
                                  place.right - place.left, place.bottom - place.top, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    if (pageSwitch) CreateDialogParamW(templates, MAKEINTRESOURCEW(IDD_PORT_SELECT), window, PageProc, 0);
    std::string error;
    SerialLine* line = LineOpen(argv[1], &error);
    if (templates == nullptr || window == nullptr || line == nullptr) {
        std::fprintf(stderr, "floor_page: %s\n", line == nullptr ? error.c_str() : "no template or window");
        return 1;
    }
    const DWORD uiThread = GetCurrentThreadId();
    std::thread reader([&] {
        const std::vector<uint8_t> query = BuildQueryInfoFrame();
        Sleep(settleMs);
        LineWrite(line, query.data(), query.size());
        uint8_t buffer[1024];
        size_t got = 0;
        int n = 0;
        while (got < replyBytes && (n = LineRead(line, buffer, sizeof buffer, 5000)) > 0) got += static_cast<size_t>(n);
        if (pageSwitch) LineClose(line);
        PostThreadMessageW(uiThread, WM_REPLY_READ, got >= replyBytes, 0);
    });
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_REPLY_READ && msg.wParam) {
            if (pageSwitch) {
                DestroyWindow(GetWindow(window, GW_CHILD));
                const WindowChange change = ChangeForPage(nullptr, *FindPageForType(DEVICE_TYPE_BASIC));
                RECT rect;
                GetWindowRect(window, &rect);
                SetWindowPos(window, nullptr, rect.left, rect.top - change.topMovedUp, rect.right - rect.left,
                             rect.bottom - rect.top + change.heightAdded, SWP_NOZORDER | SWP_FRAMECHANGED);
            }
            CreateDialogParamW(templates, MAKEINTRESOURCEW(IDD_BASIC_READER), window, PageProc, 0);
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    reader.join();
    if (!pageSwitch) LineClose(line);
    return 0;
}
