// Fuzz target for the DVCPRO HD decoder, one DIF sequence per input so that thousands of inputs
// run each second. Byte 0 picks the frame kind (bits 0-1), the decode mode (bit 2), the display
// width (bit 3), the channel pair of 720-line kinds (bit 4) and top-down rows (bit 5); byte 1 the
// sequence's place in the frame; the rest is the sequence, zero-filled to its 12000 bytes. It goes
// into an otherwise empty frame of exactly the kind's size, so a read past the frame shows.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dvdecoder/cindrell.h"

namespace {

constexpr size_t kSequenceBytes = 12000;
constexpr size_t kMaxInput = 2 + kSequenceBytes;

std::vector<uint8_t> &Frame(int format)
{
    static std::vector<uint8_t> frames[5];
    std::vector<uint8_t> &f = frames[format];
    if (f.empty()) {
        f.resize(CindrellFrameBytes(format));
    }
    return f;
}

std::vector<uint8_t> &Picture(int format, bool display)
{
    static std::vector<uint8_t> pictures[5][2];
    std::vector<uint8_t> &p = pictures[format][display];
    if (p.empty()) {
        const int width = display ? CindrellDisplayWidth(format) : CindrellCodedWidth(format);
        p.resize(size_t((width * 3 + 3) & ~3) * CindrellLines(format));
    }
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > kMaxInput) {
        return 0;
    }
    static const bool ready = [] {
        CindrellInit();
        return true;
    }();
    (void)ready;
    const int format = 1 + (data[0] & 3);
    const int mode = (data[0] >> 2) & 1;
    const bool display = (data[0] & 8) != 0;
    const int width = display ? CindrellDisplayWidth(format) : CindrellCodedWidth(format);
    const int lines = (data[0] & 32) ? -CindrellLines(format) : CindrellLines(format);
    std::vector<uint8_t> &frame = Frame(format);
    const int sequence = data[1] % int(frame.size() / kSequenceBytes);
    uint8_t *place = frame.data() + size_t(sequence) * kSequenceBytes;
    std::memcpy(place, data + 2, size - 2);
    // The channel pair is told by the frame's second byte, which the input holds in sequence 0.
    if (sequence != 0) {
        frame[1] = (data[0] & 16) ? 4 : 0;
    }
    std::vector<uint8_t> &picture = Picture(format, display);
    if (!CindrellDecodeSequence(picture.data(), width, lines, frame.data(), frame.size(),
                                picture.data(), mode, format, sequence)) {
        __builtin_trap(); // every argument above is one the decoder takes
    }
    std::fill(place, place + kSequenceBytes, uint8_t(0));
    frame[1] = 0;
    // A frame one sequence short is refused before anything is read.
    if (CindrellDecodeFrame(picture.data(), width, lines, frame.data(),
                            frame.size() - kSequenceBytes, picture.data(), mode, 0, 0, format, 24,
                            1, 0)) {
        __builtin_trap();
    }
    return 0;
}
