// The behaviour every device page shares, written once: the port section
// (1001, 1002, 1005), the reply countdown on timer 1, the password eye
// button 1021 and its painting, the connection-mode combo 1016 of the
// pages that have one, Apply, and clean-up. A page supplies a
// DevicePageKind (its state, its control lists, its own part of the
// initialisation) and its dialog procedure is one call of DevicePageProc.
//
// The window code here only reads and writes controls; what a page shows
// and what Apply sends are decided by forms/ (ViewForPage, RunApplyChain).
//
// A page with a connection-mode combo sets hasModeCombo; its
// initialiseSettings fills its own lists first (FillBaudCombo(s) test the
// lists-filled flag themselves), then the shared code fills 1016 at fixed
// indexes and marks the lists filled. Its baud table also tells Apply
// which field each combo feeds (the single-antenna page: {1013,
// BAUD_ANTENNA1}). Apply itself is shared: it reads every control the
// template has into a PageForm and runs the chain of the kind's type.
#pragma once
#include <windows.h>

#include <cstdint>
#include <initializer_list>

#include "forms/page_form.h"
#include "forms/page_view.h"

// Process-wide values of one device page kind: one instance per kind,
// living for the whole run and never reset when a page window of that kind
// is created again. Owned by the UI thread: only the page's dialog
// procedure touches them, and ParserThread reaches a page only through
// synchronous sends (WM_DEVICE_INFO -> WM_INITDIALOG, the simulated 1002
// press), which run on the UI thread.
struct DevicePageState {
    int portOpen;          // 1 while the page holds the port as open
    int passwordMasked;    // 1: 1020 shows '*' and 1021 the grey eye (110)
    HBITMAP eyeMasked;     // bitmap 110, loaded by the page, deleted on WM_DESTROY
    HBITMAP eyeClear;      // bitmap 109
    int eyeScale;          // the % both were drawn for (100, 150, 200; 210/209 and 310/309)
    HWND portList;         // the page's 1001, taken when the lists are filled
    int listsFilled;       // the combo box lists hold their entries
    unsigned initCount;    // WM_INITDIALOG count: a time-out message outlived by a
                           // re-initialisation must not close the reopened port
    int showsReply;        // the controls show the last reply (from initialisation
                           // until the port button reopens the port and empties them)
};

// Initial values: port closed, password masked, nothing loaded or filled.
#define DEVICE_PAGE_STATE_INITIAL {0, 1, nullptr, nullptr, 100, nullptr, 0, 0u, 0}

// A baud combo box of a page and the record field it shows and feeds.
struct BaudCombo {
    int controlId;
    BaudField field;
};

// Lists of control ids end with 0.
struct DevicePageKind {
    int deviceType;            // 52, 1, 2 or 3: which view and Apply chain
    DevicePageState* state;
    bool hasModeCombo;         // 1016: the lists are marked filled after it
    const BaudCombo* baudCombos;  // read by Apply; end with controlId 0; may be null
    // Closing the port disables these in order; then, on pages with a mode
    // combo whose selection is not 0, 1020, 1021, 1022, 1023; then 1004.
    const int* closingList;
    // Opening the port: after 1005 is emptied, these texts are emptied too
    // (may be null); then 1009, 1008, 1007 are cleared; then these combos
    // lose their selection (may be null); then 1015 is unticked if asked,
    // 1016 loses its selection, and the name/ID and platform controls hide.
    const int* openingEmptyTexts;
    const int* openingDeselect;
    bool openingUntickDual;
    // The page's own initialisation, between the shared first steps (port
    // list, reopening, timer, 1001, 1005, 1002) and the shared connection
    // section (1016, 1017-1025, enabling 1020-1023 and 1004).
    void (*initialiseSettings)(HWND page, const DevicePageKind& kind, const PageView& view);
    // Command ids beyond 1002, 1004, 1016 and 1021 (may be null). Returns
    // true when it handled the id.
    bool (*extraCommand)(HWND page, const DevicePageKind& kind, int id);
};

// The dialog procedure of a device page of the given kind.
INT_PTR DevicePageProc(const DevicePageKind& kind, HWND page, UINT msg, WPARAM wParam,
                       LPARAM lParam);

// Helpers for a page's own initialisation and commands.
void EnableItems(HWND page, std::initializer_list<int> ids, bool enable);
void ShowItems(HWND page, std::initializer_list<int> ids, bool show);
void SetAddress(HWND page, int id, uint32_t value);
void ClearAddress(HWND page, int id);
void SetCheck(HWND page, int id, bool ticked);
bool IsChecked(HWND page, int id);
// 1009, 1008, 1007 from the view, then all three enabled.
void ShowAddresses(HWND page, const PageView& view);
// Fills a combo box with BaudList while the kind's lists are not yet
// filled, then selects selection (-1 or out of range: no selection).
void FillBaudCombo(HWND page, const DevicePageKind& kind, int id, int selection);
// Every baud combo of the kind, filled and selected from the view.
void FillBaudCombos(HWND page, const DevicePageKind& kind, const PageView& view);

// What the page's controls hold, as Apply reads them.
PageForm ReadPageForm(HWND page, const DevicePageKind& kind);
