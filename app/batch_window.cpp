// The batch window's controls: the port, the plan, the base and the log
// with their file dialogs; 检查, 开始, 停止, 导出报告...; a large status
// line with the progress; the table of the plan's rows (a virtual list
// view drawn from the view); the list of problems and notices. What they
// show comes from forms/batch_view.h; the work runs in app/batch_job.h.
#include "app/batch_window.h"

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/batch_job.h"
#include "app/display_scale.h"
#include "app/file_io.h"
#include "app/port_events.h"
#include "app/shell.h"
#include "app/window_dpi.h"
#include "app/wintext.h"
#include "forms/batch_view.h"
#include "pages/port_list.h"
#include "resources/resource.h"
#include "serial/serial_link.h"

namespace {

const wchar_t CLASS_NAME[] = L"TavrolinBatch";

// Sizes at 96 DPI, scaled to the window's.
const int WINDOW_WIDTH = 800, WINDOW_HEIGHT = 600, MIN_WIDTH = 600, MIN_HEIGHT = 460;
const int MARGIN = 8, GAP = 6, ROW_HEIGHT = 26, LABEL_WIDTH = 136, PORT_WIDTH = 120, PORT_LIST_HEIGHT = 240;
const int BUTTON_WIDTH = 88, BROWSE_WIDTH = 72, STATUS_HEIGHT = 68, PROGRESS_WIDTH = 150, NOTES_HEIGHT = 100;
const int FONT_POINTS = 10, STATUS_POINTS = 18;
const int COLUMN_WIDTHS[] = {48, 160, 120, 250, 150};  // the columns of IDS_BATCH_COL_ROW...TIME
const COLORREF DONE_COLOUR = RGB(0, 110, 40), PROBLEM_COLOUR = RGB(190, 30, 20), CURRENT_BACKGROUND = RGB(255, 226, 140);

// The window and what it shows; UI thread only.
struct BatchWindow {
    HWND window = nullptr;
    HFONT font = nullptr, big = nullptr;
    int dpi = BASE_DPI;
    BatchView view;
    BatchJob* job = nullptr;
    bool jobIsExport = false;
    bool closeWhenEnded = false;     // closing was asked for while a job ran
    bool closeProgramAfter = false;  // MainWindow waits for this window to close
    HWND pageHeld = nullptr;         // the page kept off the port while a run holds it
    HWND focus = nullptr;            // the control focused when the window was last left
    std::string plan, base, log;     // the inputs as last seen
    size_t notesShown = 0;
    int widestNote = 0;
};
BatchWindow g_batch;

int Scaled(int pixels) { return ScaleToDpi(pixels, g_batch.dpi); }
HWND Item(int id) { return GetDlgItem(g_batch.window, id); }

std::wstring ItemText(int id) {
    HWND item = Item(id);
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(item, &text[0], static_cast<int>(text.size()))));
    return text;
}

std::string ItemUtf8(int id) { return WideToUtf8(ItemText(id)); }

std::wstring Words(const BatchText& text) {
    return Utf8ToWide(BatchTextString(text, [](int id) { return WideToUtf8(ResourceText(static_cast<UINT>(id))); }).c_str());
}

HFONT MakeFont(int points, int weight) {
    return CreateFontW(-MulDiv(points, g_batch.dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, GB2312_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"微软雅黑");
}

// Both fonts at the window's DPI, given to every control.
void SetFonts() {
    if (g_batch.font != nullptr) DeleteObject(g_batch.font);
    if (g_batch.big != nullptr) DeleteObject(g_batch.big);
    g_batch.font = MakeFont(FONT_POINTS, FW_NORMAL);
    g_batch.big = MakeFont(STATUS_POINTS, FW_BOLD);
    for (HWND child = GetWindow(g_batch.window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        const bool big = id == IDC_BATCH_STATUS || id == IDC_BATCH_PROGRESS;
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(big ? g_batch.big : g_batch.font), TRUE);
    }
}

HWND Add(const wchar_t* windowClass, UINT text, DWORD style, int id, DWORD exStyle = 0) {
    return CreateWindowExW(exStyle, windowClass, text != 0 ? ResourceText(text).c_str() : L"", WS_CHILD | WS_VISIBLE | style,
                           0, 0, 0, 0, g_batch.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_instance,
                           nullptr);
}

void AddFileRow(int label, UINT labelText, int edit, int browse) {
    Add(L"STATIC", labelText, SS_NOPREFIX, label);
    Add(L"EDIT", 0, WS_TABSTOP | ES_AUTOHSCROLL, edit, WS_EX_CLIENTEDGE);
    Add(L"BUTTON", IDS_BATCH_BROWSE, WS_TABSTOP | BS_PUSHBUTTON, browse);
}

void SetColumnWidths() {
    for (int i = 0; i < 5; ++i) SendMessageW(Item(IDC_BATCH_TABLE), LVM_SETCOLUMNWIDTH, i, Scaled(COLUMN_WIDTHS[i]));
}

// In tab order: the port and the buttons, the three files, the table, the list.
void CreateControls() {
    Add(L"STATIC", IDS_BATCH_PORT, SS_NOPREFIX, IDC_BATCH_PORT_LABEL);
    HWND ports = Add(WC_COMBOBOXW, 0, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT, IDC_BATCH_PORT);
    Add(L"BUTTON", IDS_BATCH_CHECK, WS_TABSTOP | BS_PUSHBUTTON, IDC_BATCH_CHECK);
    Add(L"BUTTON", IDS_BATCH_START, WS_TABSTOP | BS_DEFPUSHBUTTON, IDC_BATCH_START);
    Add(L"BUTTON", IDS_BATCH_STOP, WS_TABSTOP | BS_PUSHBUTTON, IDC_BATCH_STOP);
    Add(L"BUTTON", IDS_BATCH_EXPORT, WS_TABSTOP | BS_PUSHBUTTON, IDC_BATCH_EXPORT);
    AddFileRow(IDC_BATCH_PLAN_LABEL, IDS_BATCH_PLAN, IDC_BATCH_PLAN, IDC_BATCH_PLAN_BROWSE);
    AddFileRow(IDC_BATCH_BASE_LABEL, IDS_BATCH_BASE, IDC_BATCH_BASE, IDC_BATCH_BASE_BROWSE);
    AddFileRow(IDC_BATCH_LOG_LABEL, IDS_BATCH_LOG, IDC_BATCH_LOG, IDC_BATCH_LOG_BROWSE);
    Add(L"STATIC", 0, SS_NOPREFIX | SS_LEFT, IDC_BATCH_STATUS);
    Add(L"STATIC", 0, SS_NOPREFIX | SS_RIGHT, IDC_BATCH_PROGRESS);
    HWND table = Add(WC_LISTVIEWW, 0, WS_TABSTOP | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                     IDC_BATCH_TABLE, WS_EX_CLIENTEDGE);
    SendMessageW(table, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    for (int i = 0; i < 5; ++i) {
        const std::wstring title = ResourceText(IDS_BATCH_COL_ROW + i);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(title.c_str());
        column.cx = Scaled(COLUMN_WIDTHS[i]);
        column.iSubItem = i;
        SendMessageW(table, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    Add(L"LISTBOX", 0, WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, IDC_BATCH_NOTES, WS_EX_CLIENTEDGE);
    // The port the main window used last, else the first one present.
    FillPortList(ports);
    const std::string opened = OpenedPortName();
    if (!opened.empty()) ShowPortName(ports, Utf8ToWide(opened.c_str()));
    else SendMessageW(ports, CB_SETCURSEL, 0, 0);
}

void Place(int id, int x, int y, int width, int height) {
    MoveWindow(Item(id), x, y, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
}

void Layout() {
    RECT client;
    GetClientRect(g_batch.window, &client);
    const int m = Scaled(MARGIN), gap = Scaled(GAP), h = Scaled(ROW_HEIGHT), label = Scaled(LABEL_WIDTH);
    const int button = Scaled(BUTTON_WIDTH), browse = Scaled(BROWSE_WIDTH), right = client.right - m;
    const int labelDrop = Scaled(4);  // a label's text level with the field's
    int y = m;
    Place(IDC_BATCH_PORT_LABEL, m, y + labelDrop, label, h - labelDrop);
    Place(IDC_BATCH_PORT, m + label, y, Scaled(PORT_WIDTH), Scaled(PORT_LIST_HEIGHT));
    for (int i = 0; i < 4; ++i) Place(IDC_BATCH_CHECK + i, right - (4 - i) * button - (3 - i) * gap, y, button, h);
    const struct { int label, edit, browse; } files[] = {{IDC_BATCH_PLAN_LABEL, IDC_BATCH_PLAN, IDC_BATCH_PLAN_BROWSE},
                                                        {IDC_BATCH_BASE_LABEL, IDC_BATCH_BASE, IDC_BATCH_BASE_BROWSE},
                                                        {IDC_BATCH_LOG_LABEL, IDC_BATCH_LOG, IDC_BATCH_LOG_BROWSE}};
    for (const auto& f : files) {
        y += h + gap;
        Place(f.label, m, y + labelDrop, label, h - labelDrop);
        Place(f.edit, m + label, y, right - browse - gap - (m + label), h);
        Place(f.browse, right - browse, y, browse, h);
    }
    y += h + gap;
    const int progress = Scaled(PROGRESS_WIDTH), status = Scaled(STATUS_HEIGHT);
    Place(IDC_BATCH_STATUS, m, y, right - progress - gap - m, status);
    Place(IDC_BATCH_PROGRESS, right - progress, y, progress, status);
    y += status + gap;
    const int notesTop = client.bottom - m - Scaled(NOTES_HEIGHT);
    Place(IDC_BATCH_TABLE, m, y, right - m, notesTop - gap - y);
    Place(IDC_BATCH_NOTES, m, notesTop, right - m, Scaled(NOTES_HEIGHT));
}

void SetTextIfOther(int id, const std::wstring& text) {
    if (ItemText(id) != text) SetWindowTextW(Item(id), text.c_str());
}

void ShowNotes() {
    HWND list = Item(IDC_BATCH_NOTES);
    if (g_batch.view.notes.size() < g_batch.notesShown) {
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
        g_batch.notesShown = 0;
        g_batch.widestNote = 0;
    }
    if (g_batch.view.notes.size() == g_batch.notesShown) return;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, g_batch.font);
    for (; g_batch.notesShown < g_batch.view.notes.size(); ++g_batch.notesShown) {
        const std::wstring line = Words(g_batch.view.notes[g_batch.notesShown]);
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
        SIZE size = {};
        GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        if (size.cx > g_batch.widestNote) g_batch.widestNote = size.cx;
    }
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(g_batch.widestNote + Scaled(MARGIN)), 0);
    // A run's notices keep the newest in view; a check's problems show from the first.
    if (g_batch.view.phase != BATCH_IDLE && g_batch.view.phase != BATCH_CHECKING)
        SendMessageW(list, LB_SETTOPINDEX, g_batch.notesShown - 1, 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

// Everything from the view: texts, table, list, which controls work.
void Show() {
    const BatchView& view = g_batch.view;
    SetTextIfOther(IDC_BATCH_STATUS, Words(view.status));
    InvalidateRect(Item(IDC_BATCH_STATUS), nullptr, TRUE);  // its colour may have changed
    SetTextIfOther(IDC_BATCH_PROGRESS, Utf8ToWide(BatchProgress(view).c_str()));
    HWND table = Item(IDC_BATCH_TABLE);
    SendMessageW(table, LVM_SETITEMCOUNT, view.rows.size(), LVSICF_NOSCROLL);
    InvalidateRect(table, nullptr, FALSE);
    // The row worked on highlighted and in view; none after a check.
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = view.current >= 0 ? state.stateMask : 0;
    SendMessageW(table, LVM_SETITEMSTATE, static_cast<WPARAM>(view.current), reinterpret_cast<LPARAM>(&state));
    if (view.current >= 0) SendMessageW(table, LVM_ENSUREVISIBLE, view.current, FALSE);
    ShowNotes();

    BatchControls on = BatchEnabled(view, !g_batch.plan.empty());
    if (g_batch.jobIsExport && g_batch.job != nullptr) on = BatchControls{};
    for (int id : {IDC_BATCH_PORT, IDC_BATCH_PLAN, IDC_BATCH_PLAN_BROWSE, IDC_BATCH_BASE, IDC_BATCH_BASE_BROWSE,
                   IDC_BATCH_LOG, IDC_BATCH_LOG_BROWSE})
        EnableWindow(Item(id), on.inputs);
    EnableWindow(Item(IDC_BATCH_CHECK), on.check);
    EnableWindow(Item(IDC_BATCH_START), on.start);
    EnableWindow(Item(IDC_BATCH_STOP), on.stop);
    EnableWindow(Item(IDC_BATCH_EXPORT), on.report);
    // The keyboard stays in the window: a control that lost its use gives the focus on.
    HWND focused = GetFocus();
    if (GetActiveWindow() == g_batch.window && (focused == nullptr || !IsWindowEnabled(focused)))
        SetFocus(Item(on.stop ? IDC_BATCH_STOP : on.start ? IDC_BATCH_START : IDC_BATCH_TABLE));
}

// The inputs as the technician left them: the log follows the plan
// unless chosen apart, and the table of other files goes.
void OnInputEdited() {
    const std::string plan = ItemUtf8(IDC_BATCH_PLAN), base = ItemUtf8(IDC_BATCH_BASE);
    std::string log = ItemUtf8(IDC_BATCH_LOG);
    if (plan == g_batch.plan && base == g_batch.base && log == g_batch.log) return;
    if (plan != g_batch.plan) log = LogPathForPlan(g_batch.plan, plan, log);
    g_batch.plan = plan;
    g_batch.base = base;
    g_batch.log = log;
    SetTextIfOther(IDC_BATCH_LOG, Utf8ToWide(log.c_str()));  // its notification finds nothing changed
    BatchInputsChanged(&g_batch.view, !plan.empty());
    Show();
}

void Browse(int edit, FileDialogKind kind, UINT filter, const wchar_t* extension) {
    const std::wstring path = AskForFile(g_batch.window, kind, ItemText(edit), filter, extension);
    if (!path.empty()) SetWindowTextW(Item(edit), path.c_str());
    OnInputEdited();
}

ProvisionSetup Setup() {
    ProvisionSetup setup;
    setup.planFile = g_batch.plan;
    setup.baseFile = g_batch.base;
    setup.logFile = g_batch.log;
    setup.port = ItemUtf8(IDC_BATCH_PORT);
    return setup;
}

// The page lets go of the port and takes no input while the run may hold it.
void HoldPage() {
    ClosePortOfCurrentPage();
    g_batch.pageHeld = g_currentPage.load();
    if (g_batch.pageHeld != nullptr) EnableWindow(g_batch.pageHeld, FALSE);
}

void ReleasePage() {
    if (g_batch.pageHeld != nullptr && IsWindow(g_batch.pageHeld)) EnableWindow(g_batch.pageHeld, TRUE);
    g_batch.pageHeld = nullptr;
}

// 检查, or 开始 (run) with the page kept off the port.
void Begin(bool run) {
    const BatchControls on = BatchEnabled(g_batch.view, !g_batch.plan.empty());
    if (!(run ? on.start : on.check) || g_batch.job != nullptr) return;
    if (run) HoldPage();
    BatchBegin(&g_batch.view, run);
    g_batch.job = (run ? StartBatchRun : StartBatchCheck)(g_batch.window, Setup());
    Show();
}

void Stop() {
    StopBatchJob(g_batch.job);
    BatchStopAsked(&g_batch.view);
    Show();
}

bool Ask(UINT question) {
    return MessageBoxW(g_batch.window, ResourceText(question).c_str(), ResourceText(IDS_MESSAGE_CAPTION).c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

// Esc: stops the run, asking first while a reader is being written.
void OnEscape() {
    const BatchStopStep step = BatchStopRequest(g_batch.view, false);
    if (step == BATCH_STEP_NOW || (step == BATCH_STEP_ASK && Ask(IDS_BATCH_ASK_STOP))) Stop();
}

// The window closes at once when nothing runs, else once the run has
// stopped after its reader (asking first while one is being written).
void OnClose() {
    if (g_batch.job != nullptr && BatchStopRequest(g_batch.view, true) == BATCH_STEP_ASK && !Ask(IDS_BATCH_ASK_CLOSE)) {
        g_batch.closeProgramAfter = false;
        return;
    }
    if (g_batch.job == nullptr) {  // also when the run ended while the question was up
        DestroyWindow(g_batch.window);
        return;
    }
    g_batch.closeWhenEnded = true;
    Stop();
}

void ExportReport() {
    const std::wstring path = AskForFile(g_batch.window, FILE_TO_REPLACE, Utf8ToWide(ReportPathForPlan(g_batch.plan).c_str()),
                                         IDS_BATCH_REPORT_FILTER, L"csv");
    if (path.empty() || g_batch.job != nullptr) return;
    g_batch.jobIsExport = true;
    g_batch.job = StartReportExport(g_batch.window, LogPathFor(g_batch.plan, g_batch.log), path);
    Show();
}

void OnJobEnded(int code, std::wstring* error) {
    std::unique_ptr<std::wstring> detail(error);
    EndBatchJob(g_batch.job);
    g_batch.job = nullptr;
    if (g_batch.jobIsExport) {
        g_batch.jobIsExport = false;
        if (detail != nullptr)
            MessageBoxW(g_batch.window, (ResourceText(IDS_BATCH_REPORT_FAILED) + *detail).c_str(),
                        ResourceText(IDS_MESSAGE_CAPTION).c_str(), MB_ICONINFORMATION);
    } else {
        BatchEnded(&g_batch.view, code);
        ReleasePage();
    }
    Show();
    if (g_batch.closeWhenEnded) DestroyWindow(g_batch.window);
}

void OnCommand(int id, int code) {
    switch (id) {
    case IDC_BATCH_PORT: OnPortListNotification(Item(IDC_BATCH_PORT), code); break;
    case IDC_BATCH_PLAN:
    case IDC_BATCH_BASE:
    case IDC_BATCH_LOG: OnInputEdited(); break;
    case IDC_BATCH_PLAN_BROWSE: Browse(IDC_BATCH_PLAN, FILE_TO_READ, IDS_BATCH_PLAN_FILTER, L"csv"); break;
    case IDC_BATCH_BASE_BROWSE: Browse(IDC_BATCH_BASE, FILE_TO_READ, IDS_SETTINGS_FILTER, L"json"); break;
    case IDC_BATCH_LOG_BROWSE: Browse(IDC_BATCH_LOG, FILE_TO_EXTEND, IDS_BATCH_LOG_FILTER, L"jsonl"); break;
    case IDC_BATCH_CHECK: Begin(false); break;
    case IDOK:  // Enter
    case IDC_BATCH_START: Begin(true); break;
    case IDC_BATCH_STOP: Stop(); break;
    case IDCANCEL: OnEscape(); break;  // Esc
    case IDC_BATCH_EXPORT: ExportReport(); break;
    }
}

// "2026-12-07T01:30:49Z" in local time, "2026-12-07 09:30:49".
std::wstring LocalTime(const std::string& utc) {
    SYSTEMTIME t = {}, local = {};
    int year, month, day, hour, minute, second;
    if (std::sscanf(utc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute, &second) != 6)
        return Utf8ToWide(utc.c_str());
    t.wYear = static_cast<WORD>(year), t.wMonth = static_cast<WORD>(month), t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour), t.wMinute = static_cast<WORD>(minute), t.wSecond = static_cast<WORD>(second);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &t, &local)) local = t;
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
             local.wSecond);
    return text;
}

// A cell of the virtual table, from the view.
void TableCell(NMLVDISPINFOW* info) {
    const size_t index = static_cast<size_t>(info->item.iItem);
    if (!(info->item.mask & LVIF_TEXT) || index >= g_batch.view.rows.size()) return;
    const RowView& r = g_batch.view.rows[index];
    std::wstring text;
    switch (info->item.iSubItem) {
    case 0: text = std::to_wstring(r.row); break;
    case 1: text = Utf8ToWide(r.name.c_str()); break;
    case 2: text = Utf8ToWide((r.port.empty() ? r.address : r.address + " (" + r.port + ")").c_str()); break;
    case 3: text = Words(RowStateText(r)); break;
    case 4: text = r.time.empty() ? L"" : LocalTime(r.time); break;
    }
    lstrcpynW(info->item.pszText, text.c_str(), info->item.cchTextMax);
}

// The row worked on stands out whether the table has the focus or not;
// done rows are green, pending and failed ones red.
LRESULT TableColours(NMLVCUSTOMDRAW* draw) {
    if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    const size_t index = static_cast<size_t>(draw->nmcd.dwItemSpec);
    if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT || index >= g_batch.view.rows.size()) return CDRF_DODEFAULT;
    const int state = RowStateText(g_batch.view.rows[index]).id;
    draw->clrText = state == IDS_ROW_DONE ? DONE_COLOUR : state == IDS_ROW_TO_DO ? GetSysColor(COLOR_WINDOWTEXT) : PROBLEM_COLOUR;
    if (static_cast<int>(index) == g_batch.view.current) {
        draw->nmcd.uItemState &= ~static_cast<UINT>(CDIS_SELECTED | CDIS_FOCUS);
        draw->clrTextBk = CURRENT_BACKGROUND;
    }
    return CDRF_NEWFONT;
}

LRESULT StatusColour(HDC dc, HWND control) {
    const bool status = control == Item(IDC_BATCH_STATUS);
    SetTextColor(dc, !status || g_batch.view.tone == TONE_PLAIN ? GetSysColor(COLOR_WINDOWTEXT)
                     : g_batch.view.tone == TONE_DONE           ? DONE_COLOUR
                                                                : PROBLEM_COLOUR);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void OnCreate(HWND window) {
    g_batch = BatchWindow();
    g_batch.window = window;
    g_batch.dpi = WindowDpi(window);
    CreateControls();
    SetFonts();
    Layout();
    BatchInputsChanged(&g_batch.view, false);
    Show();
    g_batch.focus = Item(IDC_BATCH_PLAN_BROWSE);
}

void OnDpiChanged(int dpi, const RECT* suggested) {
    g_batch.dpi = dpi;
    SetFonts();
    SetColumnWidths();
    SetWindowPos(g_batch.window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

void OnDestroy() {
    ReleasePage();
    DeleteObject(g_batch.font);
    DeleteObject(g_batch.big);
    const bool closeProgram = g_batch.closeProgramAfter;
    g_batch = BatchWindow();
    if (closeProgram) PostMessageW(g_mainWindow, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK BatchWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: OnCreate(window); return 0;
    case WM_SIZE: Layout(); return 0;
    case WM_GETMINMAXINFO:
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {Scaled(MIN_WIDTH), Scaled(MIN_HEIGHT)};
        return 0;
    case WM_DPICHANGED: OnDpiChanged(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_ACTIVATE:  // the focus kept while the window is left, as a dialog keeps it
        if (LOWORD(wParam) == WA_INACTIVE) g_batch.focus = GetFocus();
        else SetFocus(g_batch.focus != nullptr && IsWindowEnabled(g_batch.focus) ? g_batch.focus : Item(IDC_BATCH_TABLE));
        return 0;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_BATCH_TABLE && header->code == NM_CUSTOMDRAW)
            return TableColours(reinterpret_cast<NMLVCUSTOMDRAW*>(lParam));
        if (header->idFrom == IDC_BATCH_TABLE && header->code == LVN_GETDISPINFOW)
            TableCell(reinterpret_cast<NMLVDISPINFOW*>(lParam));
        return 0;
    }
    case WM_CTLCOLORSTATIC: return StatusColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DEVICECHANGE:
        if (IsPortArrivalOrRemoval(wParam, lParam)) OnPortsChanged(Item(IDC_BATCH_PORT));
        return TRUE;
    case WM_BATCH_EVENT: {
        const std::unique_ptr<ProvisionEvent> event(reinterpret_cast<ProvisionEvent*>(lParam));
        BatchEvent(&g_batch.view, *event);
        Show();
        return 0;
    }
    case WM_BATCH_JOB_ENDED: OnJobEnded(static_cast<int>(wParam), reinterpret_cast<std::wstring*>(lParam)); return 0;
    case WM_CLOSE: OnClose(); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    }
    return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace

void ShowBatchWindow(HWND owner) {
    if (g_batch.window != nullptr) {
        if (IsIconic(g_batch.window)) ShowWindow(g_batch.window, SW_RESTORE);
        SetForegroundWindow(g_batch.window);
        return;
    }
    RegisterShellClass(g_instance, CLASS_NAME, BatchWindowProc, 0, COLOR_BTNFACE);
    const int dpi = WindowDpi(owner);
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, CLASS_NAME, ResourceText(IDS_BATCH_TITLE).c_str(),
                                  WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, ScaleToDpi(WINDOW_WIDTH, dpi),
                                  ScaleToDpi(WINDOW_HEIGHT, dpi), owner, nullptr, g_instance, nullptr);
    if (window == nullptr) return;
    ShowWindow(window, SW_SHOWNORMAL);
    SetFocus(g_batch.focus);
}

bool BatchWindowMessage(MSG* message) {
    HWND window = g_batch.window;
    if (window == nullptr || (message->hwnd != window && !IsChild(window, message->hwnd))) return false;
    return IsDialogMessageW(window, message) != FALSE;
}

bool BatchWindowLetsProgramClose() {
    if (g_batch.window == nullptr || g_batch.job == nullptr) return true;
    ShowBatchWindow(g_mainWindow);
    g_batch.closeProgramAfter = true;
    OnClose();
    return false;
}
