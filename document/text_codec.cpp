// GBK <-> UTF-8 with the platform's converter: iconv on POSIX, the code
// page 936 tables on Windows (the same ones the window program uses).
#include "document/text_codec.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <errno.h>
#include <iconv.h>
#endif

namespace {

#ifdef _WIN32
bool Convert(UINT from, UINT to, const std::string& in, std::string* out) {
    out->clear();
    if (in.empty()) return true;
    const int n = static_cast<int>(in.size());
    int wideCount = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), n, nullptr, 0);
    if (wideCount <= 0) return false;
    std::wstring wide(static_cast<size_t>(wideCount), L'\0');
    MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in.data(), n, &wide[0], wideCount);
    BOOL lossy = FALSE;
    // WC_NO_BEST_FIT_CHARS keeps "close enough" substitutes out of GBK;
    // UTF-8 takes neither the flag nor the lossy report.
    const bool toUtf8 = to == CP_UTF8;
    int count = WideCharToMultiByte(to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), wideCount,
                                    nullptr, 0, nullptr, toUtf8 ? nullptr : &lossy);
    if (count <= 0 || lossy) return false;
    std::string result(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(to, toUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(), wideCount, &result[0],
                        count, nullptr, toUtf8 ? nullptr : &lossy);
    if (lossy) return false;
    *out = result;
    return true;
}
#else
bool Convert(const char* from, const char* to, const std::string& in, std::string* out) {
    out->clear();
    if (in.empty()) return true;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result(in.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = &result[0];
    size_t dstLeft = result.size();
    size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    // Flush any shift state; a truncated sequence at the end is an error.
    if (rc != static_cast<size_t>(-1)) rc = iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || srcLeft != 0) return false;
    result.resize(result.size() - dstLeft);
    *out = result;
    return true;
}
#endif

}  // namespace

bool GbkToUtf8(const std::string& gbk, std::string* utf8) {
#ifdef _WIN32
    return Convert(936, CP_UTF8, gbk, utf8);
#else
    return Convert("GBK", "UTF-8", gbk, utf8);
#endif
}

bool Utf8ToGbk(const std::string& utf8, std::string* gbk) {
#ifdef _WIN32
    return Convert(CP_UTF8, 936, utf8, gbk);
#else
    return Convert("UTF-8", "GBK", utf8, gbk);
#endif
}

std::string GbkForDisplay(const std::string& gbk) {
    std::string utf8;
    if (GbkToUtf8(gbk, &utf8)) return utf8;
    return "hex:" + HexBytes(reinterpret_cast<const unsigned char*>(gbk.data()), gbk.size(), "");
}

std::string HexBytes(const unsigned char* bytes, size_t count, const char* separator) {
    std::string out;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) out += separator;
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        out += two;
    }
    return out;
}

bool IsUtf8(const std::string& text) {
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t code = 0, least = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, code = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, code = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += extra + 1;
    }
    return true;
}
