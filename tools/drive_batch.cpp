// drive_batch: starts a batch run in a running tavrolin.exe the way a
// technician would: opens 批量配置 from the system menu, picks the port,
// names the plan and presses 开始, then waits until the run is under way
// (count rows done and the next one being written). Used by
// scripts/run.sh --batch for its screenshot.
//
//   drive_batch --plan PATH [--port COMn] [--done N] [--timeout MS]
//
// Prints the status line and the progress; exits 0 once the run is there.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "resources/resource.h"
#include "tools/uidriver/driver.h"

int main(int argc, char** argv) {
    std::string port = EnvOr("TAV_APP_PORT", "COM5"), plan;
    int done = 2, timeoutMs = 60000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--plan") plan = argv[i + 1];
        else if (option == "--port") port = argv[i + 1];
        else if (option == "--done") done = std::atoi(argv[i + 1]);
        else if (option == "--timeout") timeoutMs = std::atoi(argv[i + 1]);
        else plan.clear(), i = argc;
    }
    if (plan.empty()) {
        std::fprintf(stderr, "usage: drive_batch --plan PATH [--port COMn] [--done N] [--timeout MS]\n");
        return 2;
    }

    AppProcess app;
    HWND batch = nullptr;
    if (AttachApp(&app, timeoutMs)) {
        SystemCommand(app, IDM_BATCH);
        batch = WaitTopWindow(app, L"TavrolinBatch", 10000);
    }
    if (batch == nullptr || !SelectComboText(Item(batch, IDC_BATCH_PORT), Widen(port))) {
        std::fprintf(stderr, "drive_batch: no Tavrolin with its batch window, or %s not in its port list\n", port.c_str());
        return 1;
    }
    SetText(Item(batch, IDC_BATCH_PLAN), Widen(plan));
    Click(Item(batch, IDC_BATCH_START));

    std::wstring status, progress;
    const std::wstring writing = L"正在写入", under = std::to_wstring(done) + L" / ";
    const bool there = WaitFor([&] {
        // The progress first: a write seen after it is the write of the next row.
        progress = ItemText(batch, IDC_BATCH_PROGRESS);
        status = ItemText(batch, IDC_BATCH_STATUS);
        return status.rfind(writing, 0) == 0 && progress.rfind(under, 0) == 0;
    }, timeoutMs);
    std::printf("%s  %s\n", Narrow(status).c_str(), Narrow(progress).c_str());
    return there ? 0 : 1;
}
