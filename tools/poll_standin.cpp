// poll_standin: what a naive receive path costs while the reader is
// quiet, for scripts/bench-identify.sh to set beside the program's idle
// CPU. It holds the port open and runs two loops that wake every 1 ms:
// one polls the port for received bytes, the other polls the buffer they
// go into for a frame.
//
//   poll_standin COMn
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: poll_standin COMn\n");
        return 2;
    }
    const std::string path = std::string("\\\\.\\") + argv[1];
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "poll_standin: cannot open %s\n", argv[1]);
        return 1;
    }
    CRITICAL_SECTION lock;
    InitializeCriticalSection(&lock);
    char buffer[1024];
    std::atomic<size_t> fill{0};
    std::thread receive([&] {
        for (;;) {
            DWORD errors = 0, got = 0;
            COMSTAT status = {};
            if (ClearCommError(port, &errors, &status) && status.cbInQue > 0) {
                EnterCriticalSection(&lock);
                const DWORD room = static_cast<DWORD>(sizeof buffer - fill);
                if (ReadFile(port, buffer + fill, status.cbInQue < room ? status.cbInQue : room, &got, nullptr))
                    fill += got;
                LeaveCriticalSection(&lock);
            }
            Sleep(1);
        }
    });
    std::thread parse([&] {
        for (;;) {
            EnterCriticalSection(&lock);
            if (fill >= 10) fill = 0;  // a frame's header: taken
            LeaveCriticalSection(&lock);
            Sleep(1);
        }
    });
    receive.join();
    parse.join();
}
