// Placeholder until the page is written: records itself as the current page.
#include <windows.h>

#include "app/shell.h"
#include "pages/pages.h"

INT_PTR CALLBACK WifiReaderPageProc(HWND page, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) {
        g_currentPage.store(page);
        return TRUE;
    }
    return FALSE;
}
