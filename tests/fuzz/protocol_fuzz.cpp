// Feeds arbitrary input to the receive path in arbitrary pieces with
// arbitrary clock steps, runs the reply checks on every frame that comes
// out, and checks what must always hold. Also checks the text and number
// conversions on the raw input.
//
// Input, read as a sequence of steps:
//   control byte c, time byte t, then
//   c & 0x80 clear: (c & 0x3F) bytes (x16 when c & 0x40) appended as they are;
//   c & 0x80 set:   a well-formed frame around (c & 0x3F) * 16 + next byte
//                   payload bytes taken from the input, command and version
//                   from the next two bytes.
//   The clock advances by t ms (x8 when t is odd) before the parser runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "protocol/config_record.h"
#include "protocol/frame.h"
#include "protocol/reassembly.h"
#include "protocol/reply.h"

#define CHECK(cond)                                                      \
    do {                                                                 \
        if (!(cond)) {                                                   \
            std::fprintf(stderr, "invariant failed: %s (line %d)\n", #cond, __LINE__); \
            std::abort();                                                \
        }                                                                \
    } while (0)

namespace {

struct Harness {
    RxBuffer rx;
    Reassembler r;
    DeviceInfoStore store;
    int64_t now = 0;
    uint64_t appended = 0;   // bytes AppendReceived stored
    uint64_t consumed = 0;   // bytes of handled frames
    // What the buffer must hold: every stored byte in order, less the
    // handled frames at the front and whatever was discarded whole.
    std::vector<uint8_t> expected;
};

// A discard always empties the buffer; anything else must leave exactly
// the expected bytes in place.
void CheckContents(Harness& h, uint64_t discardedBefore) {
    if (h.r.bytesDiscarded != discardedBefore) {
        CHECK(h.r.bytesDiscarded - discardedBefore == h.expected.size());
        CHECK(h.rx.rxFill == 0);
        h.expected.clear();
    }
    CHECK(h.rx.rxFill == h.expected.size());
    CHECK(h.expected.empty() ||
          std::memcmp(h.rx.bytes, h.expected.data(), h.expected.size()) == 0);
}

void HandleOne(Harness& h, size_t total) {
    const uint8_t* frame = h.rx.bytes;
    CHECK(total >= FRAME_HEADER_SIZE);
    CHECK(total <= h.rx.rxFill);
    CHECK(HasFrameMagic(frame));
    CHECK(FrameTotalLength(frame) == total);
    switch (ClassifyReply(frame, total)) {
    case REPLY_INFO: {
        StoreInfoReply(&h.store, frame, total, 7);
        CHECK(h.store.payloadLength == static_cast<int32_t>(total - FRAME_HEADER_SIZE));
        CHECK(h.store.deviceType == h.store.payload[16]);
        CHECK(h.store.protocolVersion == frame[4] && frame[4] != 0);
        CHECK(h.store.portIndex == 7);
        break;
    }
    case REPLY_TOO_OLD:
        CHECK(frame[4] == 0 && frame[5] == CMD_INFO_REPLY);
        break;
    case REPLY_CONFIG_ACK:
        CHECK(frame[5] == CMD_CONFIG_ACK);
        break;
    case REPLY_OTHER_COMMAND:
    case REPLY_BAD_CRC:
        break;
    }
}

void Drain(Harness& h) {
    for (int guard = 0; guard < 200; ++guard) {
        const uint64_t discardedBefore = h.r.bytesDiscarded;
        ReassemblyResult res = ReassemblyPoll(&h.r, &h.rx, h.now);
        CHECK(h.rx.rxFill <= RX_BUFFER_SIZE);
        CheckContents(h, discardedBefore);
        if (res.frameLength == 0) {
            CHECK(res.waitMs == -1 ||
                  (res.waitMs > 0 && res.waitMs <= STALLED_FRAME_DISCARD_MS));
            CHECK(res.waitMs != -1 || h.rx.rxFill == 0);
            return;
        }
        HandleOne(h, res.frameLength);
        ConsumeFrame(&h.r, &h.rx, res.frameLength);
        h.consumed += res.frameLength;
        h.expected.erase(h.expected.begin(), h.expected.begin() + res.frameLength);
        CheckContents(h, h.r.bytesDiscarded);
    }
    CHECK(!"more than 200 frames out of one 1024-byte buffer");
}

void CheckAccounts(const Harness& h) {
    CHECK(h.rx.rxFill <= RX_BUFFER_SIZE);
    CHECK(h.appended == h.r.bytesDiscarded + h.consumed + h.rx.rxFill);
}

bool EndsInsideDoubleByte(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        i += (c >= 0x81 && c <= 0xFE) ? 2 : 1;
    }
    return i > s.size();
}

void CheckConversions(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // Reference: strtoll stops at the text's first NUL, as the field read does.
    errno = 0;
    long long wide = std::strtoll(text.c_str(), nullptr, 10);
    if (wide > INT32_MAX) wide = INT32_MAX;
    if (wide < INT32_MIN) wide = INT32_MIN;
    CHECK(AtoiRules(text) == static_cast<int32_t>(wide));

    const size_t limit = size ? data[0] % 40 : 0;
    const std::string cut = CutGbk(text, limit);
    CHECK(cut.size() <= limit);
    CHECK(text.compare(0, cut.size(), cut) == 0);
    // Only a lone lead byte at the very end of the text may end the cut
    // inside a character; otherwise the cut stops where the next whole
    // character would not fit.
    CHECK(!EndsInsideDoubleByte(cut) || cut.size() == text.size());
    CHECK(cut.size() == text.size() || cut.size() + 2 > limit);

    uint8_t field[34];
    std::memset(field, 0xAA, sizeof field);
    CopyTextField(field + 1, 32, text);
    CHECK(field[0] == 0xAA && field[33] == 0xAA && field[32] == 0);
    const size_t kept = std::strlen(reinterpret_cast<char*>(field + 1));
    for (size_t i = 1 + kept; i < 33; ++i) CHECK(field[i] == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckConversions(data, size);

    static Harness h;
    h = Harness();
    ResetRxBuffer(&h.rx);
    ResetReassembler(&h.r);
    std::memset(&h.store, 0, sizeof h.store);

    size_t pos = 0;
    while (pos + 2 <= size) {
        const uint8_t c = data[pos++];
        const uint8_t t = data[pos++];
        std::vector<uint8_t> piece;
        if (c & 0x80) {
            if (pos + 3 > size) break;
            size_t count = (c & 0x3F) * 16u + data[pos++];
            const uint8_t command = data[pos++];
            const uint8_t version = data[pos++];
            count = std::min(count, size - pos);
            piece = BuildFrame(version, command, data + pos, count);
            pos += count;
        } else {
            size_t count = (c & 0x3F) * ((c & 0x40) ? 16u : 1u);
            count = std::min(count, size - pos);
            piece.assign(data + pos, data + pos + count);
            pos += count;
        }
        const size_t stored = AppendReceived(&h.rx, piece.data(), piece.size());
        CHECK(stored <= piece.size());
        h.appended += stored;
        h.expected.insert(h.expected.end(), piece.begin(), piece.begin() + stored);
        h.now += (t & 1) ? t * 8 : t;
        Drain(h);
        CheckAccounts(h);
    }

    // With no more input nothing may stay in the buffer for good: a frame
    // is handled or dropped, a partial header expires.
    h.now += 1000;
    Drain(h);
    h.now += 1000;
    Drain(h);
    CheckAccounts(h);
    CHECK(h.rx.rxFill == 0);
    return 0;
}
