// Conversions the pages use when they turn control texts into a ConfigRecord.
#include "protocol/config_record.h"

#include <cstring>

static bool IsBlankC(unsigned char c) {
    // isspace() in the C locale, without depending on the process locale.
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int32_t AtoiRules(const std::string& text) {
    const int64_t maxValue = INT32_MAX;
    const int64_t minMagnitude = -static_cast<int64_t>(INT32_MIN);
    size_t i = 0;
    while (i < text.size() && IsBlankC(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude, saturating just past the larger limit so a
    // long run of digits cannot overflow.
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > minMagnitude) magnitude = minMagnitude + 1;
    }
    if (negative) {
        if (magnitude >= minMagnitude) return INT32_MIN;
        return static_cast<int32_t>(-magnitude);
    }
    if (magnitude > maxValue) return INT32_MAX;
    return static_cast<int32_t>(magnitude);
}

static bool IsGbkLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

std::string CutGbk(const std::string& text, size_t maxBytes) {
    size_t kept = 0;
    while (kept < text.size()) {
        size_t step = IsGbkLead(static_cast<unsigned char>(text[kept])) ? 2 : 1;
        // A lead byte at the very end has no trail byte; it counts alone.
        if (kept + step > text.size()) step = text.size() - kept;
        if (kept + step > maxBytes) break;
        kept += step;
    }
    return text.substr(0, kept);
}

void CopyTextField(uint8_t* field, size_t width, const std::string& text) {
    if (field == nullptr || width == 0) return;
    std::memset(field, 0, width);
    // Keep one byte for the terminating NUL and never leave half of a
    // double-byte character at the end of the field.
    std::string kept = CutGbk(text.substr(0, text.find('\0')), width - 1);
    std::memcpy(field, kept.data(), kept.size());
}
