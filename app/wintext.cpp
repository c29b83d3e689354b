// Text conversions for the window functions. Every window is driven with
// the wide functions, so the texts come out right under any system code
// page; GBK (936) is the reader's code page and UTF-8 the sources'.
#include "app/wintext.h"

#include "app/shell.h"

#include <vector>

#include "protocol/config_record.h"

static const UINT CP_GBK = 936;

static std::wstring ToWide(UINT codePage, const char* bytes, int count) {
    if (bytes == nullptr || count <= 0) return std::wstring();
    const int needed = MultiByteToWideChar(codePage, 0, bytes, count, nullptr, 0);
    if (needed <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, 0, bytes, count, &wide[0], needed);
    return wide;
}

std::wstring Utf8ToWide(const char* utf8) {
    if (utf8 == nullptr) return std::wstring();
    return ToWide(CP_UTF8, utf8, static_cast<int>(strlen(utf8)));
}

static std::string FromWide(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int count = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(codePage, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string();
    std::string bytes(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), count, &bytes[0], needed, nullptr, nullptr);
    return bytes;
}

std::string WideToUtf8(const std::wstring& wide) { return FromWide(CP_UTF8, wide); }

std::wstring GbkToWide(const std::string& gbk) {
    // A stored text ends at its first NUL.
    const size_t end = gbk.find('\0');
    const size_t count = end == std::string::npos ? gbk.size() : end;
    return ToWide(CP_GBK, gbk.data(), static_cast<int>(count));
}

std::string WideToGbk(const std::wstring& wide) { return FromWide(CP_GBK, wide); }

void SetItemTextGbk(HWND page, int id, const std::string& gbk) {
    SetDlgItemTextW(page, id, GbkToWide(gbk).c_str());
}

void SetItemTextUtf8(HWND page, int id, const char* utf8) {
    SetDlgItemTextW(page, id, Utf8ToWide(utf8).c_str());
}

std::string GetWindowTextGbk(HWND window, size_t maxBytes) {
    if (window == nullptr) return std::string();
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::string();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, buffer.data(), length + 1);
    const std::wstring wide(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
    return CutGbk(WideToGbk(wide), maxBytes);
}

std::string GetItemTextGbk(HWND page, int id, size_t maxBytes) {
    return GetWindowTextGbk(GetDlgItem(page, id), maxBytes);
}

void ShowInfoMessage(HWND owner, const char* utf8Text, const char* utf8Caption) {
    const std::wstring text = Utf8ToWide(utf8Text);
    if (utf8Caption == nullptr) {
        MessageBoxW(owner, text.c_str(), nullptr, MB_ICONINFORMATION);
        return;
    }
    const std::wstring caption = Utf8ToWide(utf8Caption);
    MessageBoxW(owner, text.c_str(), caption.c_str(), MB_ICONINFORMATION);
}

std::wstring ResourceText(UINT id) {
    const wchar_t* text = nullptr;
    // With a zero length LoadStringW gives the resource's own text, not a copy.
    const int length = LoadStringW(g_instance, id, reinterpret_cast<wchar_t*>(&text), 0);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}
