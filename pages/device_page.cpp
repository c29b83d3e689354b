// Shared behaviour of the four device pages.
#include "pages/device_page.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "app/display_scale.h"
#include "app/reply_handling.h"
#include "app/shell.h"
#include "app/window_dpi.h"
#include "app/wintext.h"
#include "document/fields.h"
#include "forms/reply_countdown.h"
#include "pages/pages.h"
#include "pages/port_list.h"
#include "resources/resource.h"
#include "serial/comm_log.h"
#include "serial/serial_link.h"

namespace {

const UINT_PTR REPLY_TIMER = 1;
const UINT REPLY_TIMER_MS = 1000;

// Texts are read whole and cut by the forms logic to the record's limits.
const size_t READ_WHOLE_TEXT = 1024;
// The port list's text as the page uses it: at most 9 characters.
const size_t PORT_NAME_LIMIT = 9;
// The eye button re-sets the password cut to this many bytes.
const size_t PASSWORD_LIMIT = 29;

// The area the eye picture covers on the button, and where (at 96 DPI).
const int EYE_X = 11, EYE_Y = 11, EYE_WIDTH = 26, EYE_HEIGHT = 17;

const char* const TEXT_OPEN_PORT = "打开串口";
const char* const TEXT_CLOSE_PORT = "关闭串口";
const char* const TEXT_OPEN_FAILED = "打开串口失败";
const char* const TEXT_NO_REPLY = "不能和设备正常通信，请检查设备是否上电";
const char* const TEXT_NAME_LABEL = "设备名称：";
const char* const TEXT_ID_LABEL = "设备ID：";

HWND Item(HWND page, int id) { return GetDlgItem(page, id); }

void SetEmptyText(HWND page, int id) { SetDlgItemTextW(page, id, L""); }

void ForEach(const int* ids, void (*action)(HWND, int, bool), HWND page, bool flag) {
    if (ids == nullptr) return;
    for (; *ids != 0; ++ids) action(page, *ids, flag);
}

void EnableOne(HWND page, int id, bool enable) { EnableWindow(Item(page, id), enable ? TRUE : FALSE); }

HWND PortList(const DevicePageKind& kind, HWND page) {
    return kind.state->portList ? kind.state->portList : Item(page, IDC_PORT_LIST);
}

// "\\.\" and the port list's text; OpenPort's result.
bool OpenListedPort(const DevicePageKind& kind, HWND page) {
    const std::string name = GetWindowTextGbk(PortList(kind, page), PORT_NAME_LIMIT);
    const std::string path = "\\\\.\\" + name;
    return OpenPort(path.c_str());
}

void SetPasswordChar(HWND page, wchar_t c) {
    SendMessageW(Item(page, IDC_PASSWORD), EM_SETPASSWORDCHAR, static_cast<WPARAM>(c), 0);
}

// Only when the picture changes: every identification re-initialises the
// page, and Wine's version 6 button keeps a bitmap of its own per
// BM_SETIMAGE until it is destroyed (a day of identifications would pile
// them up). Where the control keeps only the caller's bitmap, the check
// costs nothing.
void SetEyeImage(HWND page, HBITMAP bitmap) {
    const HWND eye = Item(page, IDC_EYE);
    if (reinterpret_cast<HBITMAP>(SendMessageW(eye, BM_GETIMAGE, IMAGE_BITMAP, 0)) == bitmap) return;
    SendMessageW(eye, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
}

// Shown in mode 1 (and always on the basic page), hidden in mode 0.
const std::initializer_list<int> PLATFORM_CONTROLS = {
    IDC_PASSWORD_LABEL, IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP_LABEL,
    IDC_PLATFORM_IP,    IDC_PLATFORM_PORT_LABEL, IDC_PLATFORM_PORT};

// Mode 1: the stored name, password (masked again), platform address and
// port into 1017-1025, then those controls shown. Initialisation also gives
// the eye button its grey eye; a mode switch leaves the button to repaint
// from the flag.
void PutPlatformValues(HWND page, DevicePageState* state, const PageView& view, bool giveEyeImage) {
    SetItemTextUtf8(page, IDC_NAME_LABEL, TEXT_NAME_LABEL);
    SetItemTextGbk(page, IDC_NAME_OR_ID, view.deviceName);
    state->passwordMasked = 1;
    if (giveEyeImage) SetEyeImage(page, state->eyeMasked);
    SetPasswordChar(page, L'*');
    SetItemTextGbk(page, IDC_PASSWORD, view.devicePassword);
    SetAddress(page, IDC_PLATFORM_IP, view.platformIp);
    SetItemTextGbk(page, IDC_PLATFORM_PORT, view.platformPortText);
    ShowItems(page, PLATFORM_CONTROLS, true);
}

void FillPortListOnce(const DevicePageKind& kind, HWND page) {
    DevicePageState* state = kind.state;
    if (state->listsFilled) return;  // the list keeps its entries
    state->portList = Item(page, IDC_PORT_LIST);
    FillPortList(state->portList);
    if (!kind.hasModeCombo) state->listsFilled = 1;
}

// The mode list in a fixed order: index 0 is connectMode 0. The template
// gives 1016 the sorted style; CB_INSERTSTRING never sorts, so the indexes
// hold whatever the collation order of the two texts is.
void FillModeList(const DevicePageKind& kind, HWND page) {
    if (kind.state->listsFilled) return;
    HWND combo = Item(page, IDC_CONNECT_MODE);
    for (int i = 0; i < CONNECT_MODE_LIST_SIZE; ++i) {
        const std::wstring text = Utf8ToWide(CONNECT_MODE_LIST[i]);
        SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.c_str()));
    }
    kind.state->listsFilled = 1;
}

int Selection(HWND page, int id) {
    return static_cast<int>(SendMessageW(Item(page, id), CB_GETCURSEL, 0, 0));
}

void Select(HWND page, int id, int index) {
    SendMessageW(Item(page, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

AddressField ReadAddress(HWND page, int id) {
    AddressField field;
    DWORD value = 0;
    const LRESULT filled = SendMessageW(Item(page, id), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&value));
    field.blank = filled == 0;
    field.value = field.blank ? 0 : static_cast<uint32_t>(value);
    return field;
}

// The connection part of every page's initialisation: the mode list, the
// name/ID and platform controls, and the last enabling.
void InitialiseConnection(const DevicePageKind& kind, HWND page, const PageView& view) {
    DevicePageState* state = kind.state;
    if (kind.hasModeCombo) {
        FillModeList(kind, page);
        Select(page, IDC_CONNECT_MODE, view.connectModeSelection);
        EnableItems(page, {IDC_CONNECT_MODE}, true);
    }
    ShowItems(page, {IDC_NAME_LABEL, IDC_NAME_OR_ID}, true);
    EnableItems(page, {IDC_NAME_OR_ID}, true);
    if (view.showPlatformControls) {
        PutPlatformValues(page, state, view, true);
    } else {
        SetItemTextUtf8(page, IDC_NAME_LABEL, TEXT_ID_LABEL);
        SetItemTextGbk(page, IDC_NAME_OR_ID, view.deviceIdAtInit);
    }
    EnableItems(page, {IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP, IDC_PLATFORM_PORT, IDC_APPLY}, true);
}

void ClosePortFrame(const DevicePageKind& kind, HWND page);

void Initialise(const DevicePageKind& kind, HWND page) {
    DevicePageState* state = kind.state;
    ++state->initCount;
    state->showsReply = 1;
    g_currentPage = page;

    FillPortListOnce(kind, page);
    HWND portList = PortList(kind, page);
    // The port that answered, by name: its place in the list may have
    // changed since, and a typed name has none.
    if (g_deviceInfoStore.portName[0] != '\0') {
        ShowPortName(portList, GbkToWide(g_deviceInfoStore.portName));
    } else {
        SendMessageW(portList, CB_SETCURSEL, static_cast<WPARAM>(g_deviceInfoStore.portIndex), 0);
    }
    const bool reopened = OpenListedPort(kind, page);
    state->portOpen = 1;
    SetTimer(page, REPLY_TIMER, REPLY_TIMER_MS, nullptr);

    const PageView view = ViewForPage(kind.deviceType, g_deviceInfoStore);
    EnableWindow(portList, FALSE);
    SetItemTextGbk(page, IDC_VERSION, view.firmwareVersion);
    SetItemTextUtf8(page, IDC_PORT_BUTTON, TEXT_CLOSE_PORT);

    if (kind.initialiseSettings) kind.initialiseSettings(page, kind, view);
    InitialiseConnection(kind, page, view);
    // A page that could not reopen its port says so and shows it closed,
    // the reader's values greyed: Apply would send to no port. The message
    // waits until the page is up.
    if (!reopened) {
        ClosePortFrame(kind, page);
        PostMessageW(page, WM_PAGE_REOPEN_FAILED, 0, 0);
    }
}

void ClosePortFrame(const DevicePageKind& kind, HWND page) {
    ClosePort();
    kind.state->portOpen = 0;
    KillTimer(page, REPLY_TIMER);
    SetItemTextUtf8(page, IDC_PORT_BUTTON, TEXT_OPEN_PORT);
    EnableWindow(PortList(kind, page), TRUE);
    ForEach(kind.closingList, EnableOne, page, false);
    if (kind.hasModeCombo && Selection(page, IDC_CONNECT_MODE) != 0)
        EnableItems(page, {IDC_PASSWORD, IDC_EYE, IDC_PLATFORM_IP, IDC_PLATFORM_PORT}, false);
    EnableItems(page, {IDC_APPLY}, false);
}

void OpenPortFrame(const DevicePageKind& kind, HWND page) {
    if (!OpenListedPort(kind, page)) {
        ShowInfoMessage(page, TEXT_OPEN_FAILED, nullptr);
        return;
    }
    kind.state->showsReply = 0;
    SetEmptyText(page, IDC_VERSION);
    if (kind.openingEmptyTexts)
        for (const int* id = kind.openingEmptyTexts; *id != 0; ++id) SetEmptyText(page, *id);
    ClearAddress(page, IDC_IP_ADDRESS);
    ClearAddress(page, IDC_SUBNET_MASK);
    ClearAddress(page, IDC_GATEWAY);
    if (kind.openingDeselect)
        for (const int* id = kind.openingDeselect; *id != 0; ++id) Select(page, *id, -1);
    if (kind.openingUntickDual) SetCheck(page, IDC_DUAL_ANTENNA, false);
    if (kind.hasModeCombo) Select(page, IDC_CONNECT_MODE, -1);
    ShowItems(page, {IDC_NAME_LABEL, IDC_NAME_OR_ID}, false);
    ShowItems(page, PLATFORM_CONTROLS, false);

    kind.state->portOpen = 1;
    g_replyCountdown = 3;
    SendQueryInfo();
    SetTimer(page, REPLY_TIMER, REPLY_TIMER_MS, nullptr);
    SetItemTextUtf8(page, IDC_PORT_BUTTON, TEXT_CLOSE_PORT);
    EnableWindow(PortList(kind, page), FALSE);
}

void PressPortButton(HWND page) {
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_PORT_BUTTON, 0),
                 reinterpret_cast<LPARAM>(Item(page, IDC_PORT_BUTTON)));
}

void OnTimer(const DevicePageKind& kind, HWND page, WPARAM timer) {
    if (timer != REPLY_TIMER) return;
    if (!TickReplyCountdown(&g_replyCountdown)) return;
    TheCommLog().AddEvent(COMM_REPLY_TIMEOUT);
    const unsigned initCount = kind.state->initCount;
    ShowInfoMessage(page, TEXT_NO_REPLY, nullptr);
    // While the message was up, a late reply may have re-initialised the
    // page (port reopened) or reply handling may have closed the port
    // itself; pressing the port button then would close the fresh port or
    // open a closed one.
    if (kind.state->portOpen && kind.state->initCount == initCount) PressPortButton(page);
}

void OnEyeButton(const DevicePageKind& kind, HWND page) {
    DevicePageState* state = kind.state;
    if (state->passwordMasked) {
        state->passwordMasked = 0;
        SetEyeImage(page, state->eyeClear);
        SetPasswordChar(page, 0);
    } else {
        state->passwordMasked = 1;
        SetEyeImage(page, state->eyeMasked);
        SetPasswordChar(page, L'*');
    }
    // Setting the text again redraws the edit in its new mode.
    SetItemTextGbk(page, IDC_PASSWORD, GetItemTextGbk(page, IDC_PASSWORD, PASSWORD_LIMIT));
}

// Every notification of 1016 puts the stored values back.
void OnConnectMode(const DevicePageKind& kind, HWND page) {
    const PageView view = ViewForPage(kind.deviceType, g_deviceInfoStore);
    if (Selection(page, IDC_CONNECT_MODE) != 0) {
        PutPlatformValues(page, kind.state, view, false);
    } else {
        SetItemTextUtf8(page, IDC_NAME_LABEL, TEXT_ID_LABEL);
        SetItemTextGbk(page, IDC_NAME_OR_ID, view.deviceIdOnSwitch);
        ShowItems(page, PLATFORM_CONTROLS, false);
    }
}

// The record of the controls, through the page's checks; a failed check
// shows its message and gives false.
bool CheckedRecord(const DevicePageKind& kind, HWND page, ApplyResult* result) {
    *result = RunApplyChain(kind.deviceType, ReadPageForm(page, kind));
    if (!result->ok) ShowInfoMessage(page, result->message.c_str(), nullptr);
    return result->ok;
}

void OnApply(const DevicePageKind& kind, HWND page) {
    ApplyResult result;
    if (!CheckedRecord(kind, page, &result)) return;
    // Set before the frame is written: an acknowledgement handled at once
    // must not be followed by a stale countdown.
    g_replyCountdown = 3;
    SendWriteConfig(result.record.data(), result.record.size());
}

void OnCommand(const DevicePageKind& kind, HWND page, int id) {
    switch (id) {
    case IDC_PORT_BUTTON:
        if (kind.state->portOpen)
            ClosePortFrame(kind, page);
        else
            OpenPortFrame(kind, page);
        break;
    case IDC_APPLY: OnApply(kind, page); break;
    case IDC_EYE: OnEyeButton(kind, page); break;
    case IDC_CONNECT_MODE:
        if (kind.hasModeCombo) OnConnectMode(kind, page);
        break;
    default:
        if (kind.extraCommand) kind.extraCommand(page, kind, id);
        break;
    }
}

// Bitmap 110 is 27 x 16 and 109 is 26 x 17; the picture area is 26 x 17
// (all at 96 DPI, scaled with the button's). Only the bitmap's own pixels
// are copied; where the area reaches beyond the bitmap (the bottom row
// under the grey eye) it shows the button face. A bitmap drawn for another
// scale than the button's is stretched smoothly.
void OnDrawItem(const DevicePageKind& kind, const DRAWITEMSTRUCT* item) {
    const DevicePageState* state = kind.state;
    const int dpi = WindowDpi(item->hwndItem);
    const int x = ScaleToDpi(EYE_X, dpi), y = ScaleToDpi(EYE_Y, dpi);
    const int areaWidth = ScaleToDpi(EYE_WIDTH, dpi), areaHeight = ScaleToDpi(EYE_HEIGHT, dpi);
    HBITMAP bitmap = state->passwordMasked ? state->eyeMasked : state->eyeClear;
    int sourceWidth = 0, sourceHeight = 0, width = 0, height = 0;
    BITMAP info;
    if (bitmap && GetObjectW(bitmap, sizeof info, &info) == sizeof info) {
        sourceWidth = info.bmWidth;
        sourceHeight = info.bmHeight;
        width = ScaleImageToDpi(sourceWidth, state->eyeScale, dpi);
        height = ScaleImageToDpi(sourceHeight, state->eyeScale, dpi);
    }
    const bool stretched = width != sourceWidth || height != sourceHeight;
    if (width > areaWidth) {
        sourceWidth = sourceWidth * areaWidth / width;
        width = areaWidth;
    }
    if (height > areaHeight) {
        sourceHeight = sourceHeight * areaHeight / height;
        height = areaHeight;
    }
    if (width < areaWidth || height < areaHeight) {
        RECT area = {x, y, x + areaWidth, y + areaHeight};
        FillRect(item->hDC, &area, GetSysColorBrush(COLOR_BTNFACE));
    }
    if (width == 0 || height == 0) return;
    HDC memory = CreateCompatibleDC(item->hDC);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    if (stretched) {
        SetStretchBltMode(item->hDC, HALFTONE);
        SetBrushOrgEx(item->hDC, 0, 0, nullptr);
    }
    StretchBlt(item->hDC, x, y, width, height, memory, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

// The pictures drawn for the scale nearest the page's DPI.
void LoadEyeBitmaps(DevicePageState* state, HWND page) {
    if (state->eyeMasked && state->eyeClear) return;
    state->eyeScale = NearestImageScale(WindowDpi(page));
    const int masked = state->eyeScale == 200 ? IDB_EYE_MASKED_200 : state->eyeScale == 150 ? IDB_EYE_MASKED_150 : IDB_EYE_MASKED;
    const int clear = state->eyeScale == 200 ? IDB_EYE_CLEAR_200 : state->eyeScale == 150 ? IDB_EYE_CLEAR_150 : IDB_EYE_CLEAR;
    if (!state->eyeMasked) state->eyeMasked = LoadBitmapW(g_instance, MAKEINTRESOURCEW(masked));
    if (!state->eyeClear) state->eyeClear = LoadBitmapW(g_instance, MAKEINTRESOURCEW(clear));
}

// The document of what the controls show, for the reply's reader.
bool ExportDocument(const DevicePageKind& kind, HWND page, std::string* text) {
    ApplyResult result;
    if (g_deviceInfoStore.deviceType != kind.deviceType || !CheckedRecord(kind, page, &result)) return false;
    *text = DocumentText(DocumentFromRecord(g_deviceInfoStore, result.record));
    return true;
}

// What the user does to choose a combo box entry or tick a box: the
// control changes, then the page hears of it.
void Choose(HWND page, int id, int notification) {
    SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(Item(page, id)));
}

// The controls a document's field goes to, where it is not a choice.
const struct {
    FieldId field;
    int controlId;
} FIELD_CONTROLS[] = {
    {F_DEVICE_NAME, IDC_NAME_OR_ID}, {F_DEVICE_ID, IDC_NAME_OR_ID},     {F_DEVICE_PASSWORD, IDC_PASSWORD},
    {F_PLATFORM_IP, IDC_PLATFORM_IP}, {F_PLATFORM_PORT, IDC_PLATFORM_PORT}, {F_IP_ADDRESS, IDC_IP_ADDRESS},
    {F_SUBNET_MASK, IDC_SUBNET_MASK}, {F_GATEWAY, IDC_GATEWAY},         {F_DUAL_ANTENNA_MODE, IDC_DUAL_ANTENNA},
    {F_WIFI_SSID, IDC_WIFI_SSID},     {F_WIFI_PASSWORD, IDC_WIFI_PASSWORD},
};

void PutField(HWND page, FieldId field, int id, const FieldValue& value) {
    switch (FieldDefinition(field).kind) {
    case KIND_TEXT: SetItemTextGbk(page, id, value.text); break;
    case KIND_ADDRESS:
        if (value.addressBlank) ClearAddress(page, id);
        else SetAddress(page, id, value.address);
        break;
    case KIND_FLAG: SetCheck(page, id, value.flag); break;
    default: SetItemTextGbk(page, id, std::to_string(value.number)); break;  // port, device ID
    }
}

// The document's fields into the controls. Connection mode and DHCP are
// chosen first, as the user would (the mode's handler puts the reader's
// values back); then the fields the page now shows go over them. Fields
// the document leaves out keep their controls.
void ImportDocument(const DevicePageKind& kind, HWND page, const Overlay& overlay) {
    const FieldValue* given = overlay.values;
    if (kind.hasModeCombo && given[F_CONNECT_MODE].present) {
        const int mode = given[F_CONNECT_MODE].none ? -1 : static_cast<int>(given[F_CONNECT_MODE].number);
        if (mode != Selection(page, IDC_CONNECT_MODE)) {
            Select(page, IDC_CONNECT_MODE, mode);
            Choose(page, IDC_CONNECT_MODE, CBN_SELCHANGE);
        }
    }
    if (Item(page, IDC_DHCP) && given[F_DHCP_ENABLED].present && given[F_DHCP_ENABLED].flag != IsChecked(page, IDC_DHCP)) {
        SetCheck(page, IDC_DHCP, given[F_DHCP_ENABLED].flag);
        Choose(page, IDC_DHCP, BN_CLICKED);
    }
    const bool mode0 = kind.hasModeCombo && Selection(page, IDC_CONNECT_MODE) == 0;
    const bool dhcp = Item(page, IDC_DHCP) && IsChecked(page, IDC_DHCP);
    auto wanted = [&](FieldId field) {
        return given[field].present && TypeHasField(kind.deviceType, field) &&
               RecordCarriesField(kind.deviceType, field, mode0, dhcp);
    };
    for (const auto& fc : FIELD_CONTROLS)
        if (wanted(fc.field)) PutField(page, fc.field, fc.controlId, given[fc.field]);
    if (kind.baudCombos == nullptr) return;
    for (const BaudCombo* c = kind.baudCombos; c->controlId != 0; ++c) {
        const FieldId field = static_cast<FieldId>(F_RS485_BAUD + c->field);
        if (wanted(field)) Select(page, c->controlId, given[field].none ? -1 : static_cast<int>(given[field].number));
    }
}

// Answers one of MainWindow's questions (WM_PAGE_*) through DWLP_MSGRESULT.
INT_PTR Answer(HWND page, LRESULT result) {
    SetWindowLongPtrW(page, DWLP_MSGRESULT, result);
    return TRUE;
}

// A page destroyed to make way for another one (a reader of another type)
// leaves its kind's values as a fresh page of the kind needs them: its
// lists and its port belonged to the destroyed window.
void OnDestroy(DevicePageState* state) {
    DeleteObject(state->eyeMasked);
    state->eyeMasked = nullptr;
    DeleteObject(state->eyeClear);
    state->eyeClear = nullptr;
    if (g_replacingPages) {
        const unsigned initCount = state->initCount;
        *state = DEVICE_PAGE_STATE_INITIAL;
        state->initCount = initCount;
        return;
    }
    PostQuitMessage(0);
}

}  // namespace

void EnableItems(HWND page, std::initializer_list<int> ids, bool enable) {
    for (int id : ids) EnableOne(page, id, enable);
}

void ShowItems(HWND page, std::initializer_list<int> ids, bool show) {
    for (int id : ids) ShowWindow(Item(page, id), show ? SW_SHOW : SW_HIDE);
}

void SetAddress(HWND page, int id, uint32_t value) {
    SendMessageW(Item(page, id), IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
}

void ClearAddress(HWND page, int id) { SendMessageW(Item(page, id), IPM_CLEARADDRESS, 0, 0); }

void SetCheck(HWND page, int id, bool ticked) {
    SendMessageW(Item(page, id), BM_SETCHECK, ticked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool IsChecked(HWND page, int id) {
    return SendMessageW(Item(page, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void ShowAddresses(HWND page, const PageView& view) {
    SetAddress(page, IDC_IP_ADDRESS, view.ipAddress);
    SetAddress(page, IDC_SUBNET_MASK, view.subnetMask);
    SetAddress(page, IDC_GATEWAY, view.gateway);
    EnableItems(page, {IDC_IP_ADDRESS, IDC_SUBNET_MASK, IDC_GATEWAY}, true);
}

void FillBaudCombo(HWND page, const DevicePageKind& kind, int id, int selection) {
    if (!kind.state->listsFilled) {
        HWND combo = Item(page, id);
        for (int i = 0; i < BAUD_LIST_SIZE; ++i) {
            const std::wstring text = Utf8ToWide(BAUD_LIST[i]);
            SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.c_str()));
        }
    }
    Select(page, id, selection);
}

void FillBaudCombos(HWND page, const DevicePageKind& kind, const PageView& view) {
    if (kind.baudCombos == nullptr) return;
    for (const BaudCombo* c = kind.baudCombos; c->controlId != 0; ++c)
        FillBaudCombo(page, kind, c->controlId, view.baudSelection[c->field]);
}

PageForm ReadPageForm(HWND page, const DevicePageKind& kind) {
    PageForm form;
    if (kind.hasModeCombo) form.connectModeSelection = Selection(page, IDC_CONNECT_MODE);
    form.platformIp = ReadAddress(page, IDC_PLATFORM_IP);
    form.platformPort = GetItemTextGbk(page, IDC_PLATFORM_PORT, READ_WHOLE_TEXT);
    form.nameOrId = GetItemTextGbk(page, IDC_NAME_OR_ID, READ_WHOLE_TEXT);
    form.password = GetItemTextGbk(page, IDC_PASSWORD, READ_WHOLE_TEXT);
    form.ipAddress = ReadAddress(page, IDC_IP_ADDRESS);
    form.subnetMask = ReadAddress(page, IDC_SUBNET_MASK);
    form.gateway = ReadAddress(page, IDC_GATEWAY);
    if (kind.baudCombos)
        for (const BaudCombo* c = kind.baudCombos; c->controlId != 0; ++c)
            form.baud[c->field] = Selection(page, c->controlId);
    if (Item(page, IDC_DHCP)) form.dhcp = IsChecked(page, IDC_DHCP);
    if (Item(page, IDC_DUAL_ANTENNA)) form.dualAntenna = IsChecked(page, IDC_DUAL_ANTENNA);
    form.wifiSsid = GetItemTextGbk(page, IDC_WIFI_SSID, READ_WHOLE_TEXT);
    form.wifiPassword = GetItemTextGbk(page, IDC_WIFI_PASSWORD, READ_WHOLE_TEXT);
    return form;
}

INT_PTR DevicePageProc(const DevicePageKind& kind, HWND page, UINT msg, WPARAM wParam,
                       LPARAM lParam) {
    // After WM_DESTROY has released the bitmaps nothing may load them again.
    if (msg != WM_NCDESTROY) LoadEyeBitmaps(kind.state, page);

    switch (msg) {
    case WM_INITDIALOG:
        Initialise(kind, page);
        FitLabelsToDpi(page);
        return TRUE;
    case WM_DPICHANGED_AFTERPARENT:
        FitLabelsToDpi(page);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_PORT_LIST) {
            OnPortListNotification(PortList(kind, page), HIWORD(wParam));
            return 0;
        }
        OnCommand(kind, page, LOWORD(wParam));
        return 0;
    case WM_PAGE_CLOSE_PORT:
        if (kind.state->portOpen) ClosePortFrame(kind, page);
        return 0;
    case WM_PAGE_PORTS_CHANGED:
        OnPortsChanged(PortList(kind, page));
        return 0;
    case WM_PAGE_REOPEN_FAILED:
        ShowInfoMessage(page, TEXT_OPEN_FAILED, nullptr);
        return 0;
    case WM_TIMER:
        OnTimer(kind, page, wParam);
        return 0;
    case WM_DRAWITEM:
        OnDrawItem(kind, reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DESTROY:
        OnDestroy(kind.state);
        return 0;
    case WM_PAGE_SHOWN_TYPE:
        return Answer(page, kind.state->showsReply ? kind.deviceType : 0);
    case WM_PAGE_EXPORT:
        return Answer(page, ExportDocument(kind, page, reinterpret_cast<std::string*>(lParam)));
    case WM_PAGE_IMPORT:
        ImportDocument(kind, page, *reinterpret_cast<const Overlay*>(lParam));
        return Answer(page, 1);
    default:
        return 0;
    }
}
