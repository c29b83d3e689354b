#include "pages/port_list.h"

#include <vector>

#include "serial/serial_link.h"

namespace {

// Kept on the combo box itself (UI thread): the user typed in its edit
// field since picking an entry, and a change of ports waits for that.
const wchar_t* const PROP_TYPING = L"Tavrolin.PortTyping";
const wchar_t* const PROP_REFRESH_DUE = L"Tavrolin.PortRefreshDue";

bool Flag(HWND list, const wchar_t* name) { return GetPropW(list, name) != nullptr; }

void SetFlag(HWND list, const wchar_t* name, bool on) {
    if (on) {
        SetPropW(list, name, reinterpret_cast<HANDLE>(1));
    } else {
        RemovePropW(list, name);
    }
}

std::wstring ListText(HWND list) {
    std::vector<wchar_t> text(static_cast<size_t>(GetWindowTextLengthW(list)) + 1, L'\0');
    GetWindowTextW(list, text.data(), static_cast<int>(text.size()));
    return text.data();
}

// The entry of name, or -1 (CB_ERR).
int Find(HWND list, const std::wstring& name) {
    if (name.empty()) return -1;
    return static_cast<int>(SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(name.c_str())));
}

// name's entry selected, or name typed in the edit field when it has none.
void Select(HWND list, const std::wstring& name) {
    const int index = Find(list, name);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    if (index < 0) SetWindowTextW(list, name.c_str());
}

// A refresh that waited for the typing is made now (FillPortList clears it).
void EndTyping(HWND list) {
    SetFlag(list, PROP_TYPING, false);
    if (Flag(list, PROP_REFRESH_DUE)) FillPortList(list);
}

}  // namespace

void FillPortList(HWND list) {
    const std::wstring shown = ListText(list);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::wstring& name : EnumeratePorts())
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    Select(list, shown);
    SetFlag(list, PROP_REFRESH_DUE, false);
}

void ShowPortName(HWND list, const std::wstring& name) {
    if (Find(list, name) < 0) FillPortList(list);
    Select(list, name);
}

void OnPortListNotification(HWND list, int code) {
    switch (code) {
    case CBN_EDITCHANGE: SetFlag(list, PROP_TYPING, true); break;
    // The edit field takes the picked entry's text only after this
    // notification: a refresh now would put the old text back.
    case CBN_SELCHANGE: SetFlag(list, PROP_TYPING, false); break;
    case CBN_KILLFOCUS: EndTyping(list); break;
    case CBN_DROPDOWN:
        SetFlag(list, PROP_TYPING, false);
        FillPortList(list);
        break;
    }
}

void OnPortsChanged(HWND list) {
    if (list == nullptr) return;
    if (Flag(list, PROP_TYPING)) {
        SetFlag(list, PROP_REFRESH_DUE, true);
        return;
    }
    FillPortList(list);
}
