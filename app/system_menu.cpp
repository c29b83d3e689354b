// MainWindow's system menu extras. The device page does the page's part
// (its checks, its controls: WM_PAGE_EXPORT, WM_PAGE_IMPORT); this file
// holds the dialogs and the files.
#include "app/system_menu.h"

#include <commdlg.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/shell.h"
#include "app/wintext.h"
#include "document/fields.h"
#include "resources/resource.h"
#include "tav_version.h"

namespace {

const size_t TEXT_BUFFER = 256;
// A settings document is a few hundred bytes; anything far larger is no document.
const DWORD MAX_DOCUMENT_BYTES = 1 << 20;

std::wstring Resource(UINT id) {
    wchar_t text[TEXT_BUFFER] = L"";
    LoadStringW(g_instance, id, text, TEXT_BUFFER);
    return text;
}

std::string WideToUtf8(const std::wstring& wide) {
    const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(needed > 0 ? needed : 1), '\0');
    if (needed > 0) WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &out[0], needed, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void Message(HWND owner, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), Resource(IDS_MESSAGE_CAPTION).c_str(), MB_ICONINFORMATION);
}

// The system's text for the last error, without its line end.
std::wstring LastErrorText() {
    const DWORD code = GetLastError();
    wchar_t text[TEXT_BUFFER] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, TEXT_BUFFER,
                   nullptr);
    std::wstring out = text;
    while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
    return out.empty() ? L"error " + std::to_wstring(code) : out;
}

// The device type whose reply the current page shows, 0 for none.
HWND PageShowingReply(int* deviceType) {
    HWND page = g_currentPage.load();
    *deviceType = page != nullptr ? static_cast<int>(SendMessageW(page, WM_PAGE_SHOWN_TYPE, 0, 0)) : 0;
    return *deviceType != 0 ? page : nullptr;
}

// The standard file dialog; an empty path when the user cancelled.
std::wstring AskForFile(HWND owner, bool save, const std::wstring& suggested) {
    std::wstring filter = Resource(IDS_SETTINGS_FILTER);
    filter.append(1, L'\0').append(L"*.json").append(2, L'\0');
    std::vector<wchar_t> path(MAX_PATH * 4, L'\0');
    suggested.copy(path.data(), std::min(suggested.size(), path.size() - 1));
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = path.data();
    dialog.nMaxFile = static_cast<DWORD>(path.size());
    dialog.lpstrDefExt = L"json";
    dialog.Flags = OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
    const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
    return chosen ? std::wstring(path.data()) : std::wstring();
}

// Written beside the target and renamed over it: a failure never leaves
// half a document, and an existing file is replaced only by a whole one.
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

bool ReadWhole(const std::wstring& path, std::string* content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size = {};
    bool ok = GetFileSizeEx(file, &size) != FALSE;
    if (ok && size.QuadPart > MAX_DOCUMENT_BYTES) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        ok = false;
    }
    DWORD read = 0;
    if (ok) {
        content->assign(static_cast<size_t>(size.QuadPart), '\0');
        ok = size.QuadPart == 0 ||
             (ReadFile(file, &(*content)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) && read == size.QuadPart);
    }
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return ok;
}

// Export: the document of the page's controls (checked before the user is
// asked for a file, so a refused page costs no dialog and the file holds
// what was shown when the command was chosen), then the save dialog.
void ExportSettings(HWND window) {
    int type = 0;
    HWND page = PageShowingReply(&type);
    std::string content;
    if (page == nullptr || !SendMessageW(page, WM_PAGE_EXPORT, 0, reinterpret_cast<LPARAM>(&content))) return;
    const std::wstring suggested =
        Utf8ToWide(SuggestedFileName(nlohmann::ordered_json::parse(content, nullptr, false)).c_str());
    const std::wstring path = AskForFile(window, true, suggested);
    if (path.empty()) return;
    // The page may have been replaced while the dialog was up.
    if (!WriteReplacing(path, content)) Message(g_currentPage.load(), Resource(IDS_SETTINGS_UNWRITABLE) + LastErrorText());
}

// Import: the open dialog, then the document's fields into the page.
// Nothing is sent; the user presses Apply.
void ImportSettings(HWND window) {
    int type = 0;
    if (PageShowingReply(&type) == nullptr) return;
    const std::wstring path = AskForFile(window, false, L"");
    HWND page = PageShowingReply(&type);  // a reply may have changed the page meanwhile
    if (path.empty() || page == nullptr) return;

    std::string content;
    if (!ReadWhole(path, &content)) {
        Message(page, Resource(IDS_SETTINGS_UNREADABLE) + LastErrorText());
        return;
    }
    const size_t slash = path.find_last_of(L"\\/");
    const std::string source = WideToUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
    Overlay overlay;
    InputError error;
    if (!ParseDocument(content, source, &overlay, &error)) {
        Message(page, Resource(IDS_SETTINGS_UNREADABLE) + Utf8ToWide(error.message.c_str()));
        return;
    }
    if (overlay.deviceType != type) {
        Message(page, Resource(IDS_SETTINGS_WRONG_TYPE));
        return;
    }
    SendMessageW(page, WM_PAGE_IMPORT, 0, reinterpret_cast<LPARAM>(&overlay));
}

// The version of the version resource, else the one built in.
std::wstring ProgramVersion() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &unused);
    std::vector<BYTE> data(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size > 0 && GetFileVersionInfoW(path, 0, size, data.data()) &&
        VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) && length >= sizeof *info) {
        return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) +
               L"." + std::to_wstring(HIWORD(info->dwFileVersionLS));
    }
    return Utf8ToWide(TAV_VERSION_TEXT);
}

void ShowAbout(HWND window) {
    wchar_t text[TEXT_BUFFER];
    swprintf(text, TEXT_BUFFER, Resource(IDS_ABOUT_FORMAT).c_str(), ProgramVersion().c_str(),
             Utf8ToWide(TAV_BUILD_DATE).c_str());
    MessageBoxW(window, text, Resource(IDS_MENU_ABOUT).c_str(), MB_ICONINFORMATION);
}

}  // namespace

void AddSystemMenuItems(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    const struct { UINT command, text; } items[] = {{IDM_COMM_LOG, IDS_MENU_COMM_LOG},
                                                     {IDM_EXPORT_SETTINGS, IDS_MENU_EXPORT},
                                                     {IDM_IMPORT_SETTINGS, IDS_MENU_IMPORT},
                                                     {IDM_ABOUT, IDS_MENU_ABOUT}};
    for (const auto& item : items) AppendMenuW(menu, MF_STRING, item.command, Resource(item.text).c_str());
    UpdateSystemMenuItems(window);
}

void UpdateSystemMenuItems(HWND window) {
    int type = 0;
    const UINT state = PageShowingReply(&type) != nullptr ? MF_ENABLED : MF_GRAYED;
    HMENU menu = GetSystemMenu(window, FALSE);
    EnableMenuItem(menu, IDM_EXPORT_SETTINGS, MF_BYCOMMAND | state);
    EnableMenuItem(menu, IDM_IMPORT_SETTINGS, MF_BYCOMMAND | state);
}

bool OnSystemMenuCommand(HWND window, UINT command) {
    switch (command) {
    case IDM_COMM_LOG: ShowCommLogWindow(window); return true;
    case IDM_EXPORT_SETTINGS: ExportSettings(window); return true;
    case IDM_IMPORT_SETTINGS: ImportSettings(window); return true;
    case IDM_ABOUT: ShowAbout(window); return true;
    default: return false;
    }
}
