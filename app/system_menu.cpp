// MainWindow's system menu extras. The device page does the page's part
// (its checks, its controls: WM_PAGE_EXPORT, WM_PAGE_IMPORT); this file
// holds the dialogs and the files.
#include "app/system_menu.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/batch_window.h"
#include "app/file_io.h"
#include "app/shell.h"
#include "app/wintext.h"
#include "document/fields.h"
#include "resources/resource.h"
#include "tav_version.h"

namespace {

const size_t TEXT_BUFFER = 256;
// A settings document is a few hundred bytes; anything far larger is no document.
const DWORD MAX_DOCUMENT_BYTES = 1 << 20;

void Message(HWND owner, const std::wstring& text) {
    MessageBoxW(owner, text.c_str(), ResourceText(IDS_MESSAGE_CAPTION).c_str(), MB_ICONINFORMATION);
}

// The device type whose reply the current page shows, 0 for none.
HWND PageShowingReply(int* deviceType) {
    HWND page = g_currentPage.load();
    *deviceType = page != nullptr ? static_cast<int>(SendMessageW(page, WM_PAGE_SHOWN_TYPE, 0, 0)) : 0;
    return *deviceType != 0 ? page : nullptr;
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
    const std::wstring path = AskForFile(window, FILE_TO_REPLACE, suggested, IDS_SETTINGS_FILTER, L"json");
    if (path.empty()) return;
    // The page may have been replaced while the dialog was up.
    if (!WriteReplacing(path, content)) Message(g_currentPage.load(), ResourceText(IDS_SETTINGS_UNWRITABLE) + LastErrorText());
}

// Import: the open dialog, then the document's fields into the page.
// Nothing is sent; the user presses Apply.
void ImportSettings(HWND window) {
    int type = 0;
    if (PageShowingReply(&type) == nullptr) return;
    const std::wstring path = AskForFile(window, FILE_TO_READ, L"", IDS_SETTINGS_FILTER, L"json");
    HWND page = PageShowingReply(&type);  // a reply may have changed the page meanwhile
    if (path.empty() || page == nullptr) return;

    std::string content;
    if (!ReadWhole(path, &content)) {
        Message(page, ResourceText(IDS_SETTINGS_UNREADABLE) + LastErrorText());
        return;
    }
    const size_t slash = path.find_last_of(L"\\/");
    const std::string source = WideToUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
    Overlay overlay;
    InputError error;
    if (!ParseDocument(content, source, &overlay, &error)) {
        Message(page, ResourceText(IDS_SETTINGS_UNREADABLE) + Utf8ToWide(error.message.c_str()));
        return;
    }
    if (overlay.deviceType != type) {
        Message(page, ResourceText(IDS_SETTINGS_WRONG_TYPE));
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
    swprintf(text, TEXT_BUFFER, ResourceText(IDS_ABOUT_FORMAT).c_str(), ProgramVersion().c_str(),
             Utf8ToWide(TAV_BUILD_DATE).c_str());
    MessageBoxW(window, text, ResourceText(IDS_MENU_ABOUT).c_str(), MB_ICONINFORMATION);
}

}  // namespace

void AddSystemMenuItems(HWND window) {
    HMENU menu = GetSystemMenu(window, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    const struct { UINT command, text; } items[] = {{IDM_COMM_LOG, IDS_MENU_COMM_LOG},
                                                     {IDM_EXPORT_SETTINGS, IDS_MENU_EXPORT},
                                                     {IDM_IMPORT_SETTINGS, IDS_MENU_IMPORT},
                                                     {IDM_BATCH, IDS_MENU_BATCH},
                                                     {IDM_ABOUT, IDS_MENU_ABOUT}};
    for (const auto& item : items) AppendMenuW(menu, MF_STRING, item.command, ResourceText(item.text).c_str());
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
    case IDM_BATCH: ShowBatchWindow(window); return true;
    case IDM_ABOUT: ShowAbout(window); return true;
    default: return false;
    }
}
