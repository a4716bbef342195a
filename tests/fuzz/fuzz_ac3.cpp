// Fuzz target for the AC-3 decoder: the input is split into packets of the sizes its first bytes
// give and handed to two tracks in turn, with output buffers of several sizes.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "mpeg2/ac3_decoder.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 1u << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput || size < 2) {
        return 0;
    }
    Ac3DecoderInit();
    // The first byte picks the packet size, the second the output room (in frames).
    size_t packet = 1 + data[0] * 16u;
    int room = (1 + data[1] % 9) * kAc3FrameOutputBytes;
    data += 2;
    size -= 2;
    static std::vector<uint8_t> out(9 * kAc3FrameOutputBytes);
    int track = 0;
    for (size_t pos = 0; pos < size; pos += packet) {
        size_t n = std::min(packet, size - pos);
        // An exact-size copy, so a read past the packet shows under the sanitizer.
        std::vector<uint8_t> piece(data + pos, data + pos + n);
        int done = 0;
        while (done < int(n)) {
            int used = 0;
            int count = Ac3DecodeTrack(piece.data() + done, int(n) - done, out.data(), 0, room,
                                       track, &used);
            if (count < 0 || count > room || used < 0 || used > int(n) - done
                || (used == 0 && count == 0)) {
                __builtin_trap(); // no progress or a result out of range
            }
            done += used;
        }
        track ^= 1;
    }
    return 0;
}
