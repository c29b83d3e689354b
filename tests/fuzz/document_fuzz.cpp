// The settings document reader. Every input is read twice over:
//   as a document: an accepted one, written back out, reads as the same
//   values and writes out the same again; a refused one says what it
//   refuses (NamesFieldOrPosition) with exit code 2 or 3.
//   as a reader's information reply (type from the first byte): its
//   export reads back as exactly the fields exported, unless a stored text
//   is longer than the page takes, which is refused by that field's name.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_check.h"

namespace {

void ReadAsDocument(const std::string& text) {
    Overlay read;
    InputError error;
    if (!ParseDocument(text, "doc.json", &read, &error)) {
        CHECK(error.exitCode == INPUT_MALFORMED || error.exitCode == INPUT_REFUSED);
        CHECK(error.message.rfind("doc.json: ", 0) == 0 && NamesFieldOrPosition(error.message));
        return;
    }
    const std::string written = DocumentText(read.deviceType, OverlayFields(read));
    Overlay again;
    CHECK(ParseDocument(written, "doc.json", &again, &error));
    CHECK(again.deviceType == read.deviceType && again.order == read.order);
    CHECK(DocumentText(again.deviceType, OverlayFields(again)) == written);
    for (FieldId id : read.order) {
        const FieldValue &a = read.values[id], &b = again.values[id];
        CHECK(a.none == b.none && a.text == b.text && a.addressBlank == b.addressBlank &&
              a.address == b.address && a.number == b.number && a.flag == b.flag && !a.fromCommandLine);
    }
}

void ReadAsReply(const uint8_t* data, size_t size) {
    static const int TYPES[] = {DEVICE_TYPE_BASIC, DEVICE_TYPE_DUAL_ANTENNA, DEVICE_TYPE_SINGLE_ANTENNA, DEVICE_TYPE_WIFI};
    DeviceInfoStore store;
    std::memset(&store, 0, sizeof store);
    store.deviceType = TYPES[data[0] % 4];
    store.protocolVersion = data[0] >> 2;
    store.payloadLength = static_cast<int32_t>(std::min(size - 1, DEVICE_INFO_STORE_SIZE));
    std::memcpy(store.payload, data + 1, static_cast<size_t>(store.payloadLength));
    store.payload[DI_DEVICE_TYPE] = static_cast<uint8_t>(store.deviceType);

    const nlohmann::ordered_json exported = DocumentFromStore(store);
    Overlay read;
    InputError error;
    if (!ParseDocument(exported.dump(), "export.json", &read, &error)) {
        CHECK(error.exitCode == INPUT_REFUSED && error.message.find(" bytes in GBK") != std::string::npos);
        return;
    }
    CHECK(read.deviceType == store.deviceType && OverlayFields(read) == exported["fields"]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAsDocument(std::string(reinterpret_cast<const char*>(data), size));
    if (size > 0) ReadAsReply(data, size);
    return 0;
}
