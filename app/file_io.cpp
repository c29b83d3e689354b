#include "app/file_io.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app/wintext.h"

std::wstring AskForFile(HWND owner, FileDialogKind kind, const std::wstring& suggested, UINT filterText,
                        const wchar_t* extension) {
    std::wstring filter = ResourceText(filterText);
    filter.append(1, L'\0').append(L"*.").append(extension).append(2, L'\0');
    std::vector<wchar_t> path(MAX_PATH * 4, L'\0');
    suggested.copy(path.data(), std::min(suggested.size(), path.size() - 1));
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = extension;
    dialog.Flags = OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   (kind == FILE_TO_READ ? OFN_FILEMUSTEXIST : kind == FILE_TO_REPLACE ? OFN_OVERWRITEPROMPT : 0);
    const BOOL chosen = kind == FILE_TO_READ ? GetOpenFileNameW(&dialog) : GetSaveFileNameW(&dialog);
    return chosen ? std::wstring(path.data()) : std::wstring();
}

bool WriteReplacing(const std::wstring& path, const std::string& content) {
    const std::wstring temporary = path + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
              written == content.size() && FlushFileBuffers(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    if (ok) {
        ok = MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
        error = GetLastError();
    }
    if (!ok) DeleteFileW(temporary.c_str());
    SetLastError(error);
    return ok;
}

std::wstring LastErrorText() {
    const DWORD code = GetLastError();
    wchar_t text[256] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 256, nullptr);
    std::wstring out = text;
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    return out.empty() ? L"error " + std::to_wstring(code) : out;
}
