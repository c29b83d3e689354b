// Files the window program reads and writes for the technician: the
// standard open and save dialogs, a file written whole or not at all, and
// the system's words for the last error.
#pragma once
#include <windows.h>

#include <string>

enum FileDialogKind {
    FILE_TO_READ,      // the open dialog: the file must exist
    FILE_TO_REPLACE,   // the save dialog, asking before an existing file is replaced
    FILE_TO_EXTEND,    // the save dialog, an existing file welcome (a log appended to)
};

// The standard file dialog (UI thread) for the files filterText names (a
// string table id: "配置文件 (*.json)"), with extension ("json");
// suggested is offered in its name box. Empty when the user cancelled.
std::wstring AskForFile(HWND owner, FileDialogKind kind, const std::wstring& suggested, UINT filterText,
                        const wchar_t* extension);

// Written beside the target and renamed over it: a failure never leaves
// half a file, and an existing file is replaced only by a whole one. Any
// thread; false with the system's error set.
bool WriteReplacing(const std::wstring& path, const std::string& content);

// The system's text for the last error, without its line end.
std::wstring LastErrorText();
