#include "serial/port_list_win32.h"

#include <algorithm>
#include <cwchar>

int ComPortNumber(const wchar_t* name, size_t length) {
    // Nine digits cannot overflow; no driver numbers a port that high.
    if (length < 4 || length > 12 || _wcsnicmp(name, L"COM", 3) != 0 || name[3] == L'0') return 0;
    int number = 0;
    for (size_t i = 3; i < length; ++i) {
        if (name[i] < L'0' || name[i] > L'9') return 0;
        number = number * 10 + (name[i] - L'0');
    }
    return number;
}

namespace {

int NumberOf(const std::wstring& name) { return ComPortNumber(name.c_str(), name.size()); }

bool SameName(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

void AddRegistryPorts(std::vector<std::wstring>* names) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    std::wstring valueName(16384, L'\0');   // the longest value name the registry allows
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(valueName.size());
        wchar_t data[256];
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, &valueName[0], &nameLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        // ERROR_MORE_DATA: data too long for a port name, skipped.
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        // The data need not end with a NUL.
        const size_t length = wcsnlen(data, dataSize / sizeof(wchar_t));
        if (length > 0) names->emplace_back(data, length);
    }
    RegCloseKey(key);
}

void AddDosDevicePorts(std::vector<std::wstring>* names) {
    std::vector<wchar_t> buffer(1 << 16);
    DWORD got = 0;
    while ((got = QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()))) == 0 &&
           GetLastError() == ERROR_INSUFFICIENT_BUFFER && buffer.size() < (1u << 24))
        buffer.resize(buffer.size() * 2);
    for (size_t at = 0; at < got && buffer[at] != L'\0';) {
        const size_t length = wcsnlen(&buffer[at], got - at);
        if (ComPortNumber(&buffer[at], length) > 0) names->emplace_back(&buffer[at], length);
        at += length + 1;
    }
}

}  // namespace

void SortPortNames(std::vector<std::wstring>* names) {
    std::stable_sort(names->begin(), names->end(), [](const std::wstring& a, const std::wstring& b) {
        const int na = NumberOf(a), nb = NumberOf(b);
        if ((na > 0) != (nb > 0)) return na > 0;
        if (na > 0) return na < nb;
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    });
    names->erase(std::unique(names->begin(), names->end(), SameName), names->end());
}

std::vector<std::wstring> PresentComPorts() {
    std::vector<std::wstring> names;
    AddRegistryPorts(&names);
    AddDosDevicePorts(&names);
    SortPortNames(&names);
    return names;
}
