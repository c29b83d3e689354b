// dialog_units: prints the dialog base units of the pages' template font
// (微软雅黑 10 pt) as a dialog of this process maps them, at the system DPI:
//
//   dialog_units        ->  "dpi 96 base 8 x 19"
//
// GetDialogBaseUnits reports the system font only; a dialog made from an
// in-memory template with DS_SETFONT and MapDialogRect give the real ones.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main() {
    SetProcessDPIAware();
    // DLGTEMPLATE, no menu, default class, empty title, then the font;
    // every part WORD-aligned, which the WORD buffer gives.
    alignas(4) WORD buffer[64] = {};
    auto* head = reinterpret_cast<DLGTEMPLATE*>(buffer);
    head->style = DS_SETFONT | WS_POPUP;
    head->cx = 100;
    head->cy = 100;
    WORD* p = reinterpret_cast<WORD*>(head + 1);
    *p++ = 0;   // menu
    *p++ = 0;   // class
    *p++ = 0;   // title
    *p++ = 10;  // point size
    const wchar_t* face = L"微软雅黑";
    for (size_t i = 0; i <= wcslen(face); ++i) *p++ = face[i];
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), head, nullptr,
                                             [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return 0; }, 0);
    if (dialog == nullptr) {
        std::fprintf(stderr, "dialog_units: no dialog (%lu)\n", GetLastError());
        return 1;
    }
    RECT units = {0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    std::printf("dpi %d base %ld x %ld\n", dpi, units.right, units.bottom);
    DestroyWindow(dialog);
    return 0;
}
