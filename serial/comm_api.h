// The Win32 calls of the serial path, reached through one table so that a
// test can put a scripted driver under the real loop code. The table holds
// the system's functions unless a test replaced them; a test replaces them
// only while no port is open, so every thread reads it without a lock.
#pragma once
#include <windows.h>

struct CommApi {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* closeHandle)(HANDLE);
    BOOL(WINAPI* getCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* setCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* setCommMask)(HANDLE, DWORD);
    BOOL(WINAPI* setupComm)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* setCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* purgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* clearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* waitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* getOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI* cancelIoEx)(HANDLE, LPOVERLAPPED);
    // The events of overlapped requests (manual reset, not signalled).
    HANDLE(WINAPI* createEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
};

extern CommApi g_comm;
