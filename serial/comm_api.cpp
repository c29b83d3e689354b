#include "serial/comm_api.h"

CommApi g_comm = {
    CreateFileW,     CloseHandle,   GetCommState,  SetCommState,        SetCommMask,
    SetupComm,       SetCommTimeouts, PurgeComm,   ClearCommError,      WaitCommEvent,
    ReadFile,        WriteFile,     GetOverlappedResult, CancelIoEx,     CreateEventW,
};
