#include "cli/audit_log.h"

#include "document/fields.h"

#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using Json = nlohmann::ordered_json;

namespace {

constexpr size_t MAX_LINE = 1u << 16;

std::string Where(const std::string& file, size_t line, size_t column) {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

// Reads one line's object into *out; false with the reason and its column.
bool ReadRecord(const std::string& line, AuditRecord* out, std::string* why, size_t* column) {
    *column = 1;
    why->clear();
    Json doc;
    std::string reason;
    size_t byte = 0;
    if (!ParseJsonText(line, &doc, &reason, &byte)) {
        *why = "not valid JSON: " + reason;
        *column = byte > 0 ? byte : 1;
        return false;
    }
    if (!doc.is_object()) {
        *why = "expected a JSON object";
        return false;
    }
    auto need = [&](const char* key, bool (Json::*is)() const noexcept) -> const Json* {
        const auto it = doc.find(key);
        if (it == doc.end() || !((*it).*is)()) {
            if (why->empty()) *why = std::string("\"") + key + "\" missing or of the wrong kind";
            return nullptr;
        }
        return &*it;
    };
    const Json *time = need("time", &Json::is_string), *port = need("port", &Json::is_string),
               *row = need("row", &Json::is_number_integer), *type = need("deviceType", &Json::is_number_integer),
               *firmware = need("firmwareVersion", &Json::is_string), *before = need("before", &Json::is_object),
               *written = need("written", &Json::is_object), *record = need("record", &Json::is_string),
               *result = need("result", &Json::is_string);
    if (!time || !port || !row || !type || !firmware || !before || !written || !record || !result) return false;
    const int64_t rowNumber = row->get<int64_t>(), typeNumber = type->get<int64_t>();
    if (rowNumber < 1 || rowNumber > INT32_MAX || typeNumber < 0 || typeNumber > 255) {
        *why = "\"row\" or \"deviceType\" out of range";
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!HexToBytes(record->get<std::string>(), &bytes)) {
        *why = "\"record\" must be hex digits in pairs";
        return false;
    }
    AuditRecord r;
    r.time = time->get<std::string>();
    r.port = port->get<std::string>();
    r.row = static_cast<int>(rowNumber);
    r.deviceType = static_cast<int>(typeNumber);
    r.firmwareVersion = firmware->get<std::string>();
    r.before = *before;
    r.written = *written;
    r.record = record->get<std::string>();
    r.result = result->get<std::string>();
    if (doc.contains("note")) {
        if (!doc["note"].is_string()) {
            *why = "\"note\" must be a text";
            return false;
        }
        r.note = doc["note"].get<std::string>();
    }
    *out = r;
    return true;
}

}  // namespace

std::string FormatAuditRecord(const AuditRecord& r) {
    Json doc = Json::object();
    doc["time"] = r.time;
    doc["port"] = r.port;
    doc["row"] = r.row;
    doc["deviceType"] = r.deviceType;
    doc["firmwareVersion"] = r.firmwareVersion;
    doc["before"] = r.before.is_object() ? r.before : Json::object();
    doc["written"] = r.written.is_object() ? r.written : Json::object();
    doc["record"] = r.record;
    doc["result"] = r.result;
    if (!r.note.empty()) doc["note"] = r.note;
    // Bytes that are no UTF-8 (a port's name) must not end the line early.
    return doc.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ParseAuditLog(const std::string& text, const std::string& file, AuditLog* out, std::string* error) {
    *out = AuditLog();
    size_t start = 0, number = 0;
    while (start < text.size()) {
        ++number;
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            out->warning = Where(file, number, 1) + ": the last line is incomplete (the tool was stopped while writing "
                                                    "it); it is ignored";
            return true;
        }
        const size_t length = end - start;
        if (length > MAX_LINE) {
            *error = Where(file, number, MAX_LINE + 1) + ": a line longer than " + std::to_string(MAX_LINE) + " bytes";
            return false;
        }
        if (length > 0 && !(length == 1 && text[start] == '\r')) {
            AuditRecord record;
            std::string why;
            size_t column = 1;
            if (!ReadRecord(text.substr(start, length), &record, &why, &column)) {
                for (char& c : why)
                    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
                *error = Where(file, number, column) + ": " + why;
                return false;
            }
            out->records.push_back(record);
        }
        start = end + 1;
        out->goodBytes = start;
    }
    return true;
}

bool HexToBytes(const std::string& hex, std::vector<uint8_t>* out) {
    out->clear();
    if (hex.size() % 2 != 0) return false;
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out->push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

std::string AuditTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

#ifdef _WIN32
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
}  // namespace

bool AuditLogOpen(AuditLogFile* log, const std::string& path, std::string* error) {
    // Others may read the log while it is held, nobody may write it.
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError() == ERROR_SHARING_VIOLATION ? "the log " + path + " is in use by another run"
                                                           : Reason("cannot open the log", path);
        return false;
    }
    log->handle = h;
    log->path = path;
    return true;
}

bool AuditLogReadAll(AuditLogFile* log, std::string* text, std::string* error) {
    LARGE_INTEGER size{}, zero{};
    if (!GetFileSizeEx(log->handle, &size) || !SetFilePointerEx(log->handle, zero, nullptr, FILE_BEGIN)) {
        *error = Reason("cannot read the log", log->path);
        return false;
    }
    text->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text->empty() && (!ReadFile(log->handle, &(*text)[0], static_cast<DWORD>(text->size()), &got, nullptr) ||
                           got != text->size())) {
        *error = Reason("cannot read the log", log->path);
        return false;
    }
    return true;
}

bool AuditLogTruncate(AuditLogFile* log, size_t keepBytes, std::string* error) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(keepBytes);
    if (!SetFilePointerEx(log->handle, at, nullptr, FILE_BEGIN) || !SetEndOfFile(log->handle) ||
        !FlushFileBuffers(log->handle)) {
        *error = Reason("cannot cut the torn line off", log->path);
        return false;
    }
    return true;
}

bool AuditLogAppend(AuditLogFile* log, const std::string& line, std::string* error) {
    LARGE_INTEGER zero{};
    DWORD wrote = 0;
    if (!SetFilePointerEx(log->handle, zero, nullptr, FILE_END) ||
        !WriteFile(log->handle, line.data(), static_cast<DWORD>(line.size()), &wrote, nullptr) ||
        wrote != line.size() || !FlushFileBuffers(log->handle)) {
        *error = Reason("cannot write the log", log->path);
        return false;
    }
    return true;
}

void AuditLogClose(AuditLogFile* log) {
    if (log->handle != nullptr) CloseHandle(log->handle);
    log->handle = nullptr;
}
#else
bool AuditLogOpen(AuditLogFile* log, const std::string& path, std::string* error) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot open the log " + path;
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        *error = "the log " + path + " is in use by another run";
        return false;
    }
    log->fd = fd;
    log->path = path;
    return true;
}

bool AuditLogReadAll(AuditLogFile* log, std::string* text, std::string* error) {
    text->clear();
    char buffer[1 << 16];
    for (off_t at = 0;;) {
        const ssize_t n = pread(log->fd, buffer, sizeof buffer, at);
        if (n < 0) {
            *error = "cannot read the log " + log->path;
            return false;
        }
        if (n == 0) return true;
        text->append(buffer, static_cast<size_t>(n));
        at += n;
    }
}

bool AuditLogTruncate(AuditLogFile* log, size_t keepBytes, std::string* error) {
    if (ftruncate(log->fd, static_cast<off_t>(keepBytes)) != 0 || fsync(log->fd) != 0) {
        *error = "cannot cut the torn line off " + log->path;
        return false;
    }
    return true;
}

bool AuditLogAppend(AuditLogFile* log, const std::string& line, std::string* error) {
    // O_APPEND: one write puts the whole line at the end.
    if (write(log->fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) || fsync(log->fd) != 0) {
        *error = "cannot write the log " + log->path;
        return false;
    }
    return true;
}

void AuditLogClose(AuditLogFile* log) {
    if (log->fd >= 0) close(log->fd);
    log->fd = -1;
}
#endif
