#include "cli/console.h"

#include <cstdarg>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string Format(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0) std::vsnprintf(&text[0], text.size() + 1, format, again);
    va_end(again);
    return text;
}

#ifdef _WIN32
// True when the text went to a console.
bool WriteToConsole(FILE* stream, const std::string& text) {
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (stream != stdout && stream != stderr) return false;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return false;
    const int count = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), count, nullptr, 0);
    if (needed <= 0) return false;
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), count, &wide[0], needed);
    std::fflush(stream);   // what stdio holds goes first
    DWORD written = 0;
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) != FALSE;
}
#endif

}  // namespace

void ConsolePrint(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = Format(format, args);
    va_end(args);
    if (text.empty()) return;
#ifdef _WIN32
    if (WriteToConsole(stream, text)) return;
#endif
    std::fwrite(text.data(), 1, text.size(), stream);
}
