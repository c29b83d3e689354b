// Labels of every page at display scales above 100 %.
#include <windows.h>

#include <algorithm>
#include <string>

#include "app/display_scale.h"
#include "app/window_dpi.h"
#include "pages/pages.h"

namespace {

const wchar_t FULL_WIDTH_COLON = L'\xFF1A';
const int GROUP_INNER_MARGIN = 6;  // pixels at 96 DPI kept free inside a group box's frame

RECT RectInPage(HWND page, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

bool IsClass(HWND control, const wchar_t* name) {
    wchar_t className[32] = L"";
    GetClassNameW(control, className, 32);
    return lstrcmpiW(className, name) == 0;
}

bool IsGroupBox(HWND control) {
    return IsClass(control, L"Button") && (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
}

// Pixels free beside label, to its right (or its left): up to the nearest
// control beside it, the inner edge of the group box around it, or the
// page's edge.
struct FreeRoom {
    int right;
    int left;
};
FreeRoom FreeBeside(HWND page, HWND label, const RECT& r, int dpi) {
    RECT client;
    GetClientRect(page, &client);
    const int margin = ScaleToDpi(GROUP_INNER_MARGIN, dpi);
    int right = client.right, left = client.left;
    for (HWND other = GetWindow(page, GW_CHILD); other != nullptr; other = GetWindow(other, GW_HWNDNEXT)) {
        if (other == label) continue;
        const RECT o = RectInPage(page, other);
        if (o.bottom <= r.top || o.top >= r.bottom) continue;  // not beside it
        if (IsGroupBox(other)) {
            if (o.left <= r.left && o.right >= r.right) {
                right = std::min<int>(right, o.right - margin);
                left = std::max<int>(left, o.left + margin);
            }
        } else if (o.left >= r.right) {
            right = std::min<int>(right, o.left);
        } else if (o.right <= r.left) {
            left = std::max<int>(left, o.right);
        }
    }
    return {right - r.right, r.left - left};
}

void FitLabel(HWND page, HWND label, int dpi) {
    const LONG style = GetWindowLongW(label, GWL_STYLE);
    if ((style & SS_TYPEMASK) != SS_LEFT && (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP) return;
    const int length = GetWindowTextLengthW(label);
    if (length == 0) return;
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(label, &text[0], length + 1);
    text.resize(static_cast<size_t>(length));

    HDC dc = GetDC(label);
    HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE extent = {}, colon = {};
    GetTextExtentPoint32W(dc, text.c_str(), length, &extent);
    if (text.back() == FULL_WIDTH_COLON) GetTextExtentPoint32W(dc, &FULL_WIDTH_COLON, 1, &colon);
    SelectObject(dc, previous);
    ReleaseDC(label, dc);

    const RECT r = RectInPage(page, label);
    const FreeRoom free = FreeBeside(page, label, r, dpi);
    const LabelFit fit = ::FitLabel(extent.cx, r.right - r.left, colon.cx / 2, free.right, free.left);
    if (fit.oneLine && (style & SS_TYPEMASK) == SS_LEFT) {
        SetWindowLongW(label, GWL_STYLE, (style & ~SS_TYPEMASK) | SS_LEFTNOWORDWRAP);
        InvalidateRect(label, nullptr, TRUE);
    }
    if (fit.width != r.right - r.left)
        SetWindowPos(label, nullptr, r.left - fit.shiftLeft, r.top, fit.width, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void FitLabelsToDpi(HWND page) {
    const int dpi = WindowDpi(page);
    if (dpi <= BASE_DPI) return;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        if (IsClass(child, L"Static")) FitLabel(page, child, dpi);
}
