#include "serial/port_list_win32.h"

#include <cwchar>
#include <string>

int ComPortNumber(const wchar_t* name, size_t length) {
    if (length < 4 || length > 5 || _wcsnicmp(name, L"COM", 3) != 0 || name[3] == L'0') return 0;
    int number = 0;
    for (size_t i = 3; i < length; ++i) {
        if (name[i] < L'0' || name[i] > L'9') return 0;
        number = number * 10 + (name[i] - L'0');
    }
    return number <= 32 ? number : 0;
}

uint32_t PresentComPorts() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return 0;
    uint32_t mask = 0;
    std::wstring valueName(16384, L'\0');   // the longest value name the registry allows
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(valueName.size());
        wchar_t data[16];
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, &valueName[0], &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        // ERROR_MORE_DATA: data too long for a COMn name, skipped like any
        // other name.
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        // The data need not end with a NUL.
        const size_t length = wcsnlen(data, dataSize / sizeof(wchar_t));
        const int number = ComPortNumber(data, length);
        if (number > 0) mask |= 1u << (number - 1);
    }
    RegCloseKey(key);
    return mask;
}
