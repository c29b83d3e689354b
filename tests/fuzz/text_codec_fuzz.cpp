// The GBK <-> UTF-8 conversions. Input bytes taken as GBK and as UTF-8:
// a text that converts converts back to exactly itself, a refused one
// leaves the output empty, and display shows the text or all its bytes.
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string there = "x", back = "x";
    if (GbkToUtf8(bytes, &there)) {
        CHECK(Utf8ToGbk(there, &back) && back == bytes);
        CHECK(GbkForDisplay(bytes) == there);
    } else {
        CHECK(there.empty());
        CHECK(GbkForDisplay(bytes) == "hex:" + HexBytes(data, size, ""));
    }
    there = back = "x";
    if (Utf8ToGbk(bytes, &there)) {
        CHECK(GbkToUtf8(there, &back) && back == bytes);
    } else {
        CHECK(there.empty());
    }
    return 0;
}
