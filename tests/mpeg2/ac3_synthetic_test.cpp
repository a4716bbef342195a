// Frames written bit by bit, for the cases ffmpeg never makes: dual mono and fields out of range.
// Every frame asks for no mantissa bits (all signal-to-noise offsets 0), so only its side
// information is written.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "mpeg2/ac3_decoder.h"

namespace {

class BitWriter
{
public:
    void put(uint32_t v, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            if (n_ % 8 == 0) {
                b_.push_back(0);
            }
            b_.back() |= uint8_t(((v >> i) & 1) << (7 - n_ % 8));
            ++n_;
        }
    }
    std::vector<uint8_t> &bytes() { return b_; }

private:
    std::vector<uint8_t> b_;
    int n_ = 0;
};

constexpr int kFrameBytes = 128; // frame-size code 0 at 48 kHz: 32 kbit/s

struct Synth
{
    int acmod = 2;
    int chbwcod = 0;
    int dith[2] = {0, 0};
    int absexp = 10;
    int groupCode = 62;  // exponent differences 0, 0, 0
    bool newExps = true; // block 0 brings exponents (else it reuses the earlier ones)
    int deltbae = -1;    // -1: no delta bit allocation; else the first channel's mode
    int deltsegs = 1;    // segments, each of deltoffst and deltlen
    int deltoffst = 0;
    int deltlen = 0;
    bool badCoupling = false; // coupling that ends before it begins
};

std::vector<uint8_t> Frame(const Synth &f)
{
    const int nfch = 2; // acmod 0 and 2 both have two channels
    BitWriter w;
    w.put(0x0B77, 16);
    w.put(0, 16); // crc1, not checked on its own
    w.put(0, 2);  // 48 kHz
    w.put(0, 6);  // frame-size code 0
    // Bit stream information.
    w.put(8, 5);
    w.put(0, 3);
    w.put(uint32_t(f.acmod), 3);
    if (f.acmod == 2) {
        w.put(0, 2); // dsurmod
    }
    w.put(0, 1); // lfeon
    for (int i = 0; i < (f.acmod == 0 ? 2 : 1); ++i) {
        w.put(31, 5); // dialnorm
        w.put(0, 3);  // compre, langcode, audprodie
    }
    w.put(0, 5); // copyrightb, origbs, timecod1e, timecod2e, addbsie
    for (int blk = 0; blk < 6; ++blk) {
        w.put(0, nfch);                                    // blksw
        w.put(uint32_t(f.dith[0] << 1 | f.dith[1]), nfch); // dithflag
        w.put(0, f.acmod == 0 ? 2 : 1);                    // dynrnge
        if (blk == 0) {
            w.put(1, 1); // cplstre
            w.put(f.badCoupling ? 1 : 0, 1);
            if (f.badCoupling) {
                w.put(3, 2);  // both channels coupled
                w.put(0, 1);  // phsflginu
                w.put(15, 4); // cplbegf
                w.put(0, 4);  // cplendf: 3 + 0 - 15 sub-bands
                break;
            }
        } else {
            w.put(0, 1);
        }
        if (f.acmod == 2) {
            w.put(0, 1); // rematstr
        }
        bool exps = blk == 0 && f.newExps;
        w.put(exps ? 0xF : 0, 4); // D45 for both channels, or reuse
        if (exps) {
            w.put(uint32_t(f.chbwcod), 6);
            w.put(uint32_t(f.chbwcod), 6);
            int end = 37 + 3 * (f.chbwcod + 12);
            for (int ch = 0; ch < nfch; ++ch) {
                w.put(uint32_t(f.absexp), 4);
                for (int g = 0; g < (end - 1 + 9) / 12; ++g) {
                    w.put(uint32_t(f.groupCode), 7);
                }
                w.put(0, 2); // gainrng
            }
        }
        if (blk == 0) {
            w.put(1, 1); // baie
            w.put(2, 2);
            w.put(1, 2);
            w.put(1, 2);
            w.put(3, 2);
            w.put(7, 3);
            w.put(1, 1); // snroffste: every offset 0, so no mantissas
            w.put(0, 6);
            for (int ch = 0; ch < nfch; ++ch) {
                w.put(0, 4);
                w.put(4, 3);
            }
        } else {
            w.put(0, 2);
        }
        if (blk == 0 && f.deltbae >= 0) {
            w.put(1, 1);
            w.put(uint32_t(f.deltbae), 2);
            w.put(2, 2);
            if (f.deltbae == 1) {
                w.put(uint32_t(f.deltsegs - 1), 3);
                for (int seg = 0; seg < f.deltsegs; ++seg) {
                    w.put(uint32_t(f.deltoffst), 5);
                    w.put(uint32_t(f.deltlen), 4);
                    w.put(5, 3);
                }
            }
        } else {
            w.put(0, 1);
        }
        w.put(0, 1); // skiple
    }
    std::vector<uint8_t> frame = w.bytes();
    EXPECT_LE(frame.size(), size_t(kFrameBytes - 2));
    frame.resize(kFrameBytes);
    uint16_t crc = 0;
    for (int i = 2; i < kFrameBytes - 2; ++i) {
        crc ^= uint16_t(frame[size_t(i)] << 8);
        for (int b = 0; b < 8; ++b) {
            crc = uint16_t(crc & 0x8000 ? (crc << 1) ^ 0x8005 : crc << 1);
        }
    }
    frame[kFrameBytes - 2] = uint8_t(crc >> 8);
    frame[kFrameBytes - 1] = uint8_t(crc);
    return frame;
}

// Decodes the frames in one call; returns the samples.
std::vector<int16_t> Decode(const std::vector<std::vector<uint8_t>> &frames)
{
    std::vector<uint8_t> in;
    for (const auto &f : frames) {
        in.insert(in.end(), f.begin(), f.end());
    }
    Ac3DecoderInit();
    std::vector<uint8_t> out(kAc3TrackOutputBytes);
    int used = 0;
    int n = Ac3DecodeTrack(in.data(), int(in.size()), out.data(), 0, int(out.size()), 0, &used);
    EXPECT_EQ(used, int(in.size()));
    std::vector<int16_t> s(size_t(n) / 2);
    std::memcpy(s.data(), out.data(), size_t(n));
    return s;
}

bool Silent(const std::vector<int16_t> &s)
{
    for (int16_t v : s) {
        if (v != 0) {
            return false;
        }
    }
    return true;
}

// Dual mono decodes both channels, and only the first is heard, on both sides.
TEST(Ac3Synthetic, DualMonoHearsTheFirstChannelOnly)
{
    Synth first;
    first.acmod = 0;
    first.dith[0] = 1; // noise in the first channel only
    std::vector<int16_t> s = Decode({Frame(first), Frame(first)});
    ASSERT_EQ(s.size(), 2u * 2 * kAc3SamplesPerFrame);
    EXPECT_FALSE(Silent(s));
    for (size_t i = 0; i < s.size(); i += 2) {
        ASSERT_EQ(s[i], s[i + 1]) << i;
    }
    Synth second = first;
    second.dith[0] = 0;
    second.dith[1] = 1;
    s = Decode({Frame(second), Frame(second)});
    ASSERT_EQ(s.size(), 2u * 2 * kAc3SamplesPerFrame);
    EXPECT_TRUE(Silent(s));
}

// A frame with a field out of range is dropped, never read past its arrays, and the next frame
// decodes. The last row is a frame that reuses the bandwidth of the dropped frame before it.
TEST(Ac3Synthetic, FieldsOutOfRangeDropTheFrame)
{
    Synth good;
    good.dith[0] = good.dith[1] = 1;
    struct Row
    {
        const char *what;
        Synth bad;
        Synth next;
    };
    std::vector<Row> rows;
    Synth s = good;
    s.chbwcod = 61;
    rows.push_back({"bandwidth code 61", s, good});
    s.chbwcod = 63;
    rows.push_back({"bandwidth code 63", s, good});
    Synth reuse = good;
    reuse.newExps = false;
    rows.push_back({"reused bandwidth after a bad one", s, reuse});
    s = good;
    s.absexp = 20;
    s.groupCode = 124; // +2 +2 +2 per group
    rows.push_back({"exponents above 24", s, good});
    s = good;
    s.absexp = 0;
    s.groupCode = 0; // -2 -2 -2 per group
    rows.push_back({"exponents below 0", s, good});
    s = good;
    s.deltbae = 3;
    rows.push_back({"reserved delta mode", s, good});
    s = good;
    s.deltbae = 1;
    s.deltsegs = 2;
    s.deltoffst = 20;
    s.deltlen = 6; // the second segment ends at band 52
    s.chbwcod = 60;
    rows.push_back({"delta bands beyond the last", s, good});
    s = good;
    s.badCoupling = true;
    rows.push_back({"coupling ends before it begins", s, good});
    for (const Row &r : rows) {
        std::vector<int16_t> out = Decode({Frame(good), Frame(r.bad), Frame(r.next)});
        EXPECT_EQ(out.size(), 2u * 2 * kAc3SamplesPerFrame) << r.what;
    }
    // The same fields in range decode.
    Synth wide = good;
    wide.chbwcod = 60;
    wide.deltbae = 1;
    wide.deltsegs = 2;
    wide.deltoffst = 19;
    wide.deltlen = 6; // up to band 50
    EXPECT_EQ(Decode({Frame(wide)}).size(), 2u * kAc3SamplesPerFrame);
}

} // namespace
