// Reply handling: runs on ParserThread for every complete frame.
#include "app/reply_handling.h"

#include <cstring>
#include <string>

#include "app/shell.h"
#include "app/wintext.h"
#include "protocol/reply.h"
#include "resources/resource.h"
#include "serial/serial_link.h"

DeviceInfoStore g_deviceInfoStore = {};
std::atomic<int32_t> g_replyCountdown{0};

static const char* const REPLY_CAPTION = "提示";

// The simulated press of the current page's port button.
static void PressPortButton(HWND page) {
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_PORT_BUTTON, 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(page, IDC_PORT_BUTTON)));
}

void HandleFrame(const uint8_t* frame, size_t total) {
    HWND page = g_currentPage.load();
    switch (ClassifyReply(frame, total)) {
    case REPLY_BAD_CRC:
    case REPLY_OTHER_COMMAND:
        return;

    case REPLY_CONFIG_ACK:
        g_replyCountdown.store(0);
        ShowInfoMessage(page, "配置成功", REPLY_CAPTION);
        return;

    case REPLY_TOO_OLD:
        // The reader did answer: end the wait before the message, or the
        // page's timer would report a time-out while the message is up and
        // its press would then reopen the port after this one closed it.
        g_replyCountdown.store(0);
        ShowInfoMessage(page, "网络读卡器版本低，请用旧版本的配置工具", REPLY_CAPTION);
        PressPortButton(page);
        return;

    case REPLY_INFO: {
        ClosePort();
        g_replyCountdown.store(0);
        const int32_t portIndex = static_cast<int32_t>(
            SendMessageW(GetDlgItem(page, IDC_PORT_LIST), CB_GETCURSEL, 0, 0));
        StoreInfoReply(&g_deviceInfoStore, frame, total, portIndex);
        // The name, not the index, tells the device page which port to
        // reopen: the list may change, and a typed name has no index.
        const std::string name = OpenedPortName();
        std::memset(g_deviceInfoStore.portName, 0, sizeof g_deviceInfoStore.portName);
        name.copy(g_deviceInfoStore.portName, sizeof g_deviceInfoStore.portName - 1);
        // Synchronous: the page switch is complete, and the store read,
        // before the next frame is handled.
        SendMessageW(g_mainWindow, WM_DEVICE_INFO, 0, reinterpret_cast<LPARAM>(&g_deviceInfoStore.portIndex));
        return;
    }
    }
}
