// drive_identify: identifies the reader in a running tavrolin.exe the way
// a user would: picks the port in PortSelectPage, presses "打开串口" and
// waits for the device page. Used by scripts/run.sh and the benchmark.
//
//   drive_identify [--port COMn] [--timeout MS]
//
// Prints the page that appeared ("page BasicReaderPage") or the message
// the program showed instead, and exits 0 only when a device page came.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/uidriver/driver.h"
#include "resources/resource.h"

int main(int argc, char** argv) {
    std::string port = EnvOr("TAV_APP_PORT", "COM5");
    int timeoutMs = 10000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--port") port = argv[i + 1];
        else if (option == "--timeout") timeoutMs = std::atoi(argv[i + 1]);
        else {
            std::fprintf(stderr, "usage: drive_identify [--port COMn] [--timeout MS]\n");
            return 2;
        }
    }

    AppProcess app;
    if (!AttachApp(&app, timeoutMs)) {
        std::fprintf(stderr, "drive_identify: no Tavrolin window\n");
        return 1;
    }
    HWND page = WaitPageOfKind(app.main, PAGE_PORT_SELECT, timeoutMs);
    if (page == nullptr) {
        std::fprintf(stderr, "drive_identify: no PortSelectPage\n");
        return 1;
    }
    if (!SelectComboText(Item(page, IDC_PORT_LIST), Widen(port))) {
        std::fprintf(stderr, "drive_identify: %s is not in the port list\n", port.c_str());
        return 1;
    }
    Click(Item(page, IDC_PORT_BUTTON));

    // The device page once it is shown (the port selection page it replaces
    // goes first), or a message box.
    HWND device = nullptr;
    HWND box = nullptr;
    WaitFor([&] {
        HWND shown = WaitShownPage(app.main, 50);
        device = shown != nullptr && KindOf(shown) != PAGE_PORT_SELECT ? shown : nullptr;
        box = FindMessageBox(app);
        return device != nullptr || box != nullptr;
    }, timeoutMs);
    if (device != nullptr) {
        std::printf("page %s\n", PageKindName(KindOf(device)));
        return 0;
    }
    if (box != nullptr) {
        std::printf("message %s\n", Narrow(MessageBoxText(box)).c_str());
    } else {
        std::printf("no page within %d ms\n", timeoutMs);
    }
    return 1;
}
