// Field readers for the DeviceInfo record as kept in DeviceInfoStore.
#include "protocol/device_info.h"

#include "protocol/bytes.h"

std::string DeviceInfoText(const uint8_t* record, size_t size, size_t offset) {
    if (record == nullptr || offset >= size) return {};
    size_t end = offset;
    while (end < size && record[end] != 0) ++end;
    return std::string(reinterpret_cast<const char*>(record + offset), end - offset);
}

uint8_t DeviceInfoByte(const uint8_t* record, size_t offset) {
    return record[offset];
}

uint16_t DeviceInfoU16(const uint8_t* record, size_t offset) {
    return ReadU16BE(record + offset);
}

uint32_t DeviceInfoU32(const uint8_t* record, size_t offset) {
    return ReadU32BE(record + offset);
}
