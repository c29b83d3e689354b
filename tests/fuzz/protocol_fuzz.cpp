// Feeds arbitrary input to the receive path in arbitrary pieces with
// arbitrary clock steps, checks every frame that comes out against a model
// of the buffer, runs the reply checks on it, and checks the text and
// number conversions on the raw input.
//
// Steps: control byte c, time byte t, then
//   c & 0x80 clear: (c & 0x3F) bytes (x16 when c & 0x40) as they are;
//   c & 0x80 set:   a well-formed frame around (c & 0x3F) * 16 + next byte
//                   payload bytes, command and version from the next two bytes.
//   The clock advances by t ms (x8 when t is odd) before the parser runs.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/config_record.h"
#include "protocol/frame.h"
#include "protocol/reassembly.h"
#include "protocol/reply.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

struct Harness {
    RxBuffer rx;
    Reassembler r;
    DeviceInfoStore store;
    int64_t now = 0;
    uint64_t appended = 0, consumed = 0;
    // The model: every stored byte in order, less handled frames and whole discards.
    std::vector<uint8_t> expected;
};

// A discard always empties the buffer; otherwise it holds exactly the model.
void CheckContents(Harness& h, uint64_t discardedBefore) {
    if (h.r.bytesDiscarded != discardedBefore) {
        CHECK(h.r.bytesDiscarded - discardedBefore == h.expected.size());
        h.expected.clear();
    }
    CHECK(h.rx.rxFill <= RX_BUFFER_SIZE && h.rx.rxFill == h.expected.size());
    CHECK(h.expected.empty() || std::memcmp(h.rx.bytes, h.expected.data(), h.expected.size()) == 0);
    CHECK(h.appended == h.r.bytesDiscarded + h.consumed + h.rx.rxFill);
}

void HandleOne(Harness& h, size_t total) {
    const uint8_t* frame = h.rx.bytes;
    CHECK(total >= FRAME_HEADER_SIZE && total <= h.rx.rxFill);
    CHECK(HasFrameMagic(frame) && FrameTotalLength(frame) == total);
    switch (ClassifyReply(frame, total)) {
    case REPLY_INFO:
        StoreInfoReply(&h.store, frame, total, 7);
        CHECK(h.store.payloadLength == static_cast<int32_t>(total - FRAME_HEADER_SIZE));
        CHECK(h.store.deviceType == h.store.payload[16] && h.store.portIndex == 7);
        CHECK(h.store.protocolVersion == frame[4] && frame[4] != 0);
        break;
    case REPLY_TOO_OLD: CHECK(frame[4] == 0 && frame[5] == CMD_INFO_REPLY); break;
    case REPLY_CONFIG_ACK: CHECK(frame[5] == CMD_CONFIG_ACK); break;
    case REPLY_OTHER_COMMAND: CHECK(frame[5] != CMD_INFO_REPLY && frame[5] != CMD_CONFIG_ACK); break;
    case REPLY_BAD_CRC: CHECK(Crc16(frame + 8, total - 8) != ((frame[6] << 8) | frame[7])); break;
    }
}

void Drain(Harness& h) {
    for (int guard = 0; guard < 200; ++guard) {
        const uint64_t discardedBefore = h.r.bytesDiscarded;
        const ReassemblyResult res = ReassemblyPoll(&h.r, &h.rx, h.now);
        CheckContents(h, discardedBefore);
        if (res.frameLength == 0) {
            CHECK(res.waitMs == -1 || (res.waitMs > 0 && res.waitMs <= STALLED_FRAME_DISCARD_MS));
            CHECK(res.waitMs != -1 || h.rx.rxFill == 0);
            return;
        }
        HandleOne(h, res.frameLength);
        ConsumeFrame(&h.r, &h.rx, res.frameLength);
        h.consumed += res.frameLength;
        h.expected.erase(h.expected.begin(), h.expected.begin() + static_cast<std::ptrdiff_t>(res.frameLength));
        CheckContents(h, h.r.bytesDiscarded);
    }
    CHECK(!"more than 200 frames out of one 1024-byte buffer");
}

void CheckConversions(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // strtoll stops at the first NUL, as reading the field does.
    const long long wide = std::strtoll(text.c_str(), nullptr, 10);
    CHECK(AtoiRules(text) == static_cast<int32_t>(std::min<long long>(INT32_MAX, std::max<long long>(INT32_MIN, wide))));

    const size_t limit = size ? data[0] % 40 : 0;
    const std::string cut = CutGbk(text, limit);
    CHECK(cut.size() <= limit && text.compare(0, cut.size(), cut) == 0);
    size_t i = 0;  // walk the cut by characters: only a lone lead byte ending the text may be split
    while (i < cut.size()) i += (static_cast<uint8_t>(cut[i]) >= 0x81 && static_cast<uint8_t>(cut[i]) <= 0xFE) ? 2 : 1;
    CHECK(i == cut.size() || cut.size() == text.size());
    CHECK(cut.size() == text.size() || cut.size() + 2 > limit);  // stops only where the next character would not fit

    uint8_t field[34];
    std::memset(field, 0xAA, sizeof field);
    CopyTextField(field + 1, 32, text);
    CHECK(field[0] == 0xAA && field[33] == 0xAA && field[32] == 0);
    for (size_t k = 1 + std::strlen(reinterpret_cast<char*>(field + 1)); k < 33; ++k) CHECK(field[k] == 0);
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
        const uint8_t c = data[pos++], t = data[pos++];
        std::vector<uint8_t> piece;
        if (c & 0x80) {
            if (pos + 3 > size) break;
            const size_t count = std::min<size_t>((c & 0x3F) * 16u + data[pos], size - pos - 3);
            piece = BuildFrame(data[pos + 2], data[pos + 1], data + pos + 3, count);
            pos += 3 + count;
        } else {
            const size_t count = std::min<size_t>((c & 0x3F) * ((c & 0x40) ? 16u : 1u), size - pos);
            piece.assign(data + pos, data + pos + count);
            pos += count;
        }
        const size_t stored = AppendReceived(&h.rx, piece.data(), piece.size());
        CHECK(stored <= piece.size());
        h.appended += stored;
        h.expected.insert(h.expected.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(stored));
        h.now += (t & 1) ? t * 8 : t;
        Drain(h);
    }
    // Without more input nothing stays for good: a frame is handled or dropped, a partial header expires.
    for (int i = 0; i < 2; ++i) {
        h.now += 1000;
        Drain(h);
    }
    CHECK(h.rx.rxFill == 0);
    return 0;
}
