// Held files and port holds on Windows: share modes for the locks, an
// access list that names the user alone, FlushFileBuffers after every
// line, a named mutex per port.
#include "cli/held_file.h"

#include <windows.h>
#include <sddl.h>

#include <cwctype>
#include <fstream>
#include <sstream>

namespace {

std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n - 1 : 0), L'\0');
    if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], n);
    return wide;
}

std::string Reason(const std::string& what, const std::string& path) {
    return what + " " + path + " (error " + std::to_string(GetLastError()) + ")";
}

// "D:P(A;;FA;;;<the user's SID>)": full access for the user, nobody else,
// nothing inherited from the folder. Empty when the user cannot be read.
std::wstring OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return L"";
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    std::wstring sddl;
    LPWSTR sid = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, &buffer[0], size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(&buffer[0])->User.Sid, &sid)) {
        sddl = std::wstring(L"D:P(A;;FA;;;") + sid + L")";
        LocalFree(sid);
    }
    CloseHandle(token);
    return sddl;
}

}  // namespace

bool HeldFileOpen(HeldFile* file, const std::string& path, std::string* error) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring sddl = OwnerOnlyDescriptor();
    if (!sddl.empty() &&
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    // Others may read the file while it is held, nobody may write it.
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, &attributes, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD code = GetLastError();
    if (descriptor != nullptr) LocalFree(descriptor);
    if (h == INVALID_HANDLE_VALUE) {
        SetLastError(code);
        *error = code == ERROR_SHARING_VIOLATION ? path + " is in use by another run" : Reason("cannot open", path);
        return false;
    }
    file->handle = h;
    file->path = path;
    return true;
}

bool HeldFileReadAll(HeldFile* file, std::string* text, std::string* error) {
    LARGE_INTEGER size{}, zero{};
    if (!GetFileSizeEx(file->handle, &size) || !SetFilePointerEx(file->handle, zero, nullptr, FILE_BEGIN)) {
        *error = Reason("cannot read", file->path);
        return false;
    }
    text->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text->empty() && (!ReadFile(file->handle, &(*text)[0], static_cast<DWORD>(text->size()), &got, nullptr) ||
                           got != text->size())) {
        *error = Reason("cannot read", file->path);
        return false;
    }
    return true;
}

bool HeldFileTruncate(HeldFile* file, size_t keepBytes, std::string* error) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(keepBytes);
    if (!SetFilePointerEx(file->handle, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file->handle) ||
        !FlushFileBuffers(file->handle)) {
        *error = Reason("cannot cut the torn line off", file->path);
        return false;
    }
    return true;
}

bool HeldFileAppend(HeldFile* file, const std::string& line, std::string* error) {
    LARGE_INTEGER size{}, zero{};
    DWORD wrote = 0;
    if (!GetFileSizeEx(file->handle, &size) || !SetFilePointerEx(file->handle, zero, nullptr, FILE_END)) {
        *error = Reason("cannot write", file->path);
        return false;
    }
    if (WriteFile(file->handle, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr) && wrote == line.size() &&
        FlushFileBuffers(file->handle))
        return true;
    *error = Reason("cannot write", file->path);
    if (SetFilePointerEx(file->handle, size, nullptr, FILE_BEGIN)) SetEndOfFile(file->handle);
    return false;
}

void HeldFileClose(HeldFile* file) {
    if (file->handle != nullptr) CloseHandle(file->handle);
    file->handle = nullptr;
}

bool ReadWholeFile(const std::string& path, std::string* text) {
    std::ifstream in(Wide(path).c_str(), std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
}

bool FileIsPrivate(const std::string& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    DWORD size = 0;
    const std::wstring wide = Wide(path);
    GetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
    std::string buffer(size, '\0');
    if (size == 0 || !GetFileSecurityW(wide.c_str(), DACL_SECURITY_INFORMATION, &buffer[0], size, &size)) return false;
    descriptor = &buffer[0];
    return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present && dacl != nullptr &&
           dacl->AceCount == 1;
}

bool PortHoldTake(PortHold* hold, const std::string& port, std::string* error) {
    std::wstring name = L"Local\\tavrolin-port-";
    const std::string bare = port.rfind("\\\\.\\", 0) == 0 ? port.substr(4) : port;
    for (char c : bare) name += static_cast<wchar_t>(std::towupper(static_cast<unsigned char>(c)));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        *error = port + ": another provisioning run is working on this port";
        return false;
    }
    hold->mutex = mutex;  // without one the port's own exclusive open still keeps a second run off
    return true;
}

void PortHoldRelease(PortHold* hold) {
    if (hold->mutex != nullptr) CloseHandle(hold->mutex);
    hold->mutex = nullptr;
}
