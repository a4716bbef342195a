#include "mpeg2/ac3_decoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mpeg2/ac3_downmix.h"
#include "mpeg2/ac3_tables.h"
#include "mpeg2/ac3_transform.h"
#include "platform/sys/bytes.h"
#include "platform/sys/random.h"

namespace {

constexpr uint16_t kSyncWord = 0x0B77;
constexpr uint16_t kNoSync = 0xFFFF;
constexpr int kFrameBufferBytes = 4096; // the largest frame, 3840 bytes, fits
constexpr int kBins = 256;
constexpr int kFbw = 5; // full-bandwidth channels at most
constexpr int kLfe = 5; // LFE channel index, after the full-bandwidth ones
constexpr int kCpl = 6; // coupling channel index
constexpr int kAllCh = 7;
constexpr int kCplBands = 18;
constexpr int kLfeBins = 7;
constexpr int kMaxExponent = 24;
constexpr int kMaxBandwidthCode = 60; // gives the last bin, 252
constexpr int kDeltaSegments = 8;
constexpr int kBlocks = 6;
constexpr int kNoBitsOffset = -960; // both offsets 0: the channel gets no mantissa bits

enum ExpStrategy { kReuse = 0, kD15 = 1, kD25 = 2, kD45 = 3 };

enum DeltaMode { kDeltaReuse = 0, kDeltaNew = 1, kDeltaNone = 2 };

// Bit stream information that the blocks use.
struct Bsi
{
    int acmod = 2;
    int nfchans = 2;
    int cmixlev = 0;
    int surmixlev = 0;
    int lfeon = 0;
};

// Audio block fields; kept across blocks and frames, since blocks may reuse earlier values.
struct AudioBlock
{
    int blksw[kFbw] = {};
    int dithflag[kFbw] = {};
    int dynrng = 0;
    int cplinu = 0;
    int chincpl[kFbw] = {};
    int phsflginu = 0;
    int cplbegf = 0;
    int cplendf = 0;
    int ncplbnd = 0;
    int cplBandEnd[kCplBands] = {}; // last bin + 1 of each coupling band
    double cplco[kFbw][kCplBands] = {};
    int phsflg[kCplBands] = {};
    int rematflg[4] = {};
    int chexpstr[kAllCh] = {};
    int chbwcod[kFbw] = {};
    int start[kAllCh] = {};
    int end[kAllCh] = {};
    int exps[kAllCh][kBins] = {};
    int sdcycod = 0;
    int fdcycod = 0;
    int sgaincod = 0;
    int dbpbcod = 0;
    int floorcod = 0;
    int csnroffst = 0;
    int fsnroffst[kAllCh] = {};
    int fgaincod[kAllCh] = {};
    int cplfleak = 0;
    int cplsleak = 0;
    int deltbae[kAllCh] = {};
    int deltnseg[kAllCh] = {};
    int deltoffst[kAllCh][kDeltaSegments] = {};
    int deltlen[kAllCh][kDeltaSegments] = {};
    int deltba[kAllCh][kDeltaSegments] = {};
    int bap[kAllCh][kBins] = {};
};

struct Track
{
    uint16_t sync = kNoSync;
    int collected = 0;
    int frameBytes = 0; // bytes after the sync word; 0 until the syncinfo is read
    int fscod = 0;
    uint8_t frame[kFrameBufferBytes] = {};
    // Bytes a rejected candidate had taken, searched again before the input.
    uint8_t rescan[kFrameBufferBytes] = {};
    int rescanPos = 0;
    int rescanLen = 0;
    Bsi bsi;
    AudioBlock blk;
    double delay[kAllCh][kBins] = {};
    int16_t blockOutput[kBlocks * kAc3BlockSamples * 2] = {};
};

Track gTracks[kAc3Tracks];
bool gError = false; // set by any step of the frame being decoded
bool gInitialised = false;

uint16_t gCrcTable[256];
uint8_t gBandOfBin[kBins];
int16_t gLevels3[27][3];
int16_t gLevels5[125][3];
int16_t gLevels11[121][2];

// A mantissa of an odd-level quantiser in 16-bit fixed point, 32768 = 1.0.
int16_t Level(int code, int levels)
{
    return int16_t((2 * code - (levels - 1)) * 32768 / levels);
}

void BuildTables()
{
    Ac3TransformInit();
    // CRC-16, polynomial 0x8005, most significant bit first.
    for (int i = 0; i < 256; ++i) {
        uint16_t c = uint16_t(i << 8);
        for (int b = 0; b < 8; ++b) {
            c = uint16_t(c & 0x8000 ? (c << 1) ^ 0x8005 : c << 1);
        }
        gCrcTable[i] = c;
    }
    // Band of every bin; bins 253..255 lie in no band.
    std::memset(gBandOfBin, 0, sizeof gBandOfBin);
    for (int b = 0; b < kAc3Bands; ++b) {
        for (int k = 0; k < kAc3BandSize[b]; ++k) {
            gBandOfBin[kAc3BandStart[b] + k] = uint8_t(b);
        }
    }
    // Grouped mantissas, first value in the most significant place.
    for (int g = 0; g < 27; ++g) {
        gLevels3[g][0] = Level(g / 9, 3);
        gLevels3[g][1] = Level(g / 3 % 3, 3);
        gLevels3[g][2] = Level(g % 3, 3);
    }
    for (int g = 0; g < 125; ++g) {
        gLevels5[g][0] = Level(g / 25, 5);
        gLevels5[g][1] = Level(g / 5 % 5, 5);
        gLevels5[g][2] = Level(g % 5, 5);
    }
    for (int g = 0; g < 121; ++g) {
        gLevels11[g][0] = Level(g / 11, 11);
        gLevels11[g][1] = Level(g % 11, 11);
    }
}

uint16_t Crc16(const uint8_t *p, int n)
{
    uint16_t crc = 0;
    for (int i = 0; i < n; ++i) {
        crc = uint16_t((crc << 8) ^ gCrcTable[(crc >> 8) ^ p[i]]);
    }
    return crc;
}

// Gives the first `count` bytes after a rejected sync word back to the search: a false sync
// word inside a damaged frame must not swallow the real frames behind it.
void GiveBack(Track &tr, int count)
{
    // What was still waiting to be searched follows those bytes in the stream. Had any been
    // waiting, the candidate came from them, so both together fit.
    const int rest = tr.rescanLen - tr.rescanPos;
    if (count + rest > kFrameBufferBytes) {
        count = kFrameBufferBytes - rest;
    }
    std::memmove(tr.rescan + count, tr.rescan + tr.rescanPos, size_t(rest));
    std::memcpy(tr.rescan, tr.frame, size_t(count));
    tr.rescanPos = 0;
    tr.rescanLen = count + rest;
}

bool NextByte(Track &tr, const uint8_t *&p, const uint8_t *end, uint8_t *b)
{
    if (tr.rescanPos < tr.rescanLen) {
        *b = tr.rescan[tr.rescanPos++];
        return true;
    }
    if (p == end) {
        return false;
    }
    *b = *p++;
    return true;
}

// Collects bytes until a whole frame with a valid CRC is held; false when the input ran out.
bool Ac3FindFrame(Track &tr, const uint8_t *&p, const uint8_t *end)
{
    for (;;) {
        // 1. Search the sync word.
        while (tr.sync != kSyncWord) {
            uint8_t b;
            if (!NextByte(tr, p, end, &b)) {
                return false;
            }
            tr.sync = uint16_t(tr.sync << 8 | b);
            tr.collected = 0;
            tr.frameBytes = 0;
        }
        // 2-3. The syncinfo: sample rate and frame size.
        if (tr.frameBytes == 0) {
            while (tr.collected < 3) {
                if (!NextByte(tr, p, end, &tr.frame[tr.collected])) {
                    return false;
                }
                tr.collected++;
            }
            int fscod = tr.frame[2] >> 6;
            int frmsizecod = tr.frame[2] & 0x3f;
            if (frmsizecod >= kAc3FrameSizeCodes || fscod == 3) {
                // No frame; a reserved rate gives no size to collect either.
                GiveBack(tr, tr.collected);
                tr.sync = kNoSync;
                tr.collected = 0;
                continue;
            }
            tr.fscod = fscod;
            tr.frameBytes = kAc3FrameWords[frmsizecod][fscod] * 2 - 2;
        }
        // 4. The rest of the frame, first from the bytes given back.
        int fromRescan = std::min(tr.frameBytes - tr.collected, tr.rescanLen - tr.rescanPos);
        std::memcpy(tr.frame + tr.collected, tr.rescan + tr.rescanPos, size_t(fromRescan));
        tr.collected += fromRescan;
        tr.rescanPos += fromRescan;
        int want = tr.frameBytes - tr.collected;
        int have = int(end - p);
        int take = std::min(want, have);
        std::memcpy(tr.frame + tr.collected, p, size_t(take));
        tr.collected += take;
        p += take;
        if (take < want) {
            return false;
        }
        // 5. CRC over the frame less its sync word: 0 accepts.
        bool good = Crc16(tr.frame, tr.frameBytes) == 0;
        tr.sync = kNoSync;
        tr.collected = 0;
        if (good) {
            return true;
        }
        GiveBack(tr, tr.frameBytes);
        tr.frameBytes = 0;
    }
}

void ParseBsi(lc::BitReader &br, Bsi &bsi)
{
    br.skip(5 + 3); // bsid, bsmod
    bsi.acmod = int(br.bits(3));
    bsi.nfchans = kAc3Channels[bsi.acmod];
    if ((bsi.acmod & 1) && bsi.acmod != 1) {
        bsi.cmixlev = int(br.bits(2));
    }
    if (bsi.acmod & 4) {
        bsi.surmixlev = int(br.bits(2));
    }
    if (bsi.acmod == 2) {
        br.skip(2); // dsurmod
    }
    bsi.lfeon = int(br.bits(1));
    for (int i = 0; i < (bsi.acmod == 0 ? 2 : 1); ++i) {
        br.skip(5); // dialnorm
        if (br.flag()) {
            br.skip(8); // compr
        }
        if (br.flag()) {
            br.skip(8); // langcod
        }
        if (br.flag()) {
            br.skip(5 + 2); // mixlevel, roomtyp
        }
    }
    br.skip(2); // copyrightb, origbs
    for (int i = 0; i < 2; ++i) {
        if (br.flag()) {
            br.skip(14); // time codes or extended information
        }
    }
    if (br.flag()) {
        br.skip((br.bits(6) + 1) * 8); // additional information
    }
}

// Grouped exponents of one set. firstBin receives the absolute exponent when `absolute`
// (full-bandwidth and LFE channels); the coupling channel's groups start at firstBin.
void Ac3DecodeExponents(lc::BitReader &br, int *exps, int strategy, int groups, int absexp,
                        int firstBin, bool absolute)
{
    int grpsize = strategy == kD45 ? 4 : strategy;
    int bin = firstBin;
    if (absolute) {
        exps[bin++] = absexp;
    }
    int prev = absexp;
    for (int g = 0; g < groups; ++g) {
        int code = int(br.bits(7));
        if (code > 124) {
            // The set ends here; the remaining exponents keep their earlier values.
            for (++g; g < groups; ++g) {
                br.skip(7);
            }
            return;
        }
        const int d[3] = {code / 25 - 2, code % 25 / 5 - 2, code % 5 - 2};
        for (int v = 0; v < 3; ++v) {
            prev += d[v];
            for (int j = 0; j < grpsize && bin < kBins; ++j) {
                exps[bin++] = prev;
            }
        }
    }
}

int LowComp(int a, int b0, int b1, int bin)
{
    if (bin < 7) {
        if (b0 + 256 == b1) {
            return 384;
        }
        return b0 > b1 ? std::max(0, a - 64) : a;
    }
    if (bin < 20) {
        if (b0 + 256 == b1) {
            return 320;
        }
        return b0 > b1 ? std::max(0, a - 64) : a;
    }
    return std::max(0, a - 128);
}

int LogAdd(int a, int b)
{
    int c = a - b;
    int address = std::min(std::abs(c) >> 1, 255);
    return c >= 0 ? a + kAc3LogAdd[address] : b + kAc3LogAdd[address];
}

// Bit allocation of one channel: exponents to bap over [start, end).
void Ac3BitAllocate(AudioBlock &ab, int ch, int fscod)
{
    int start = ab.start[ch];
    int end = ab.end[ch];
    int *bap = ab.bap[ch];
    std::fill(bap, bap + kBins, 0);
    int snroffset = (((ab.csnroffst - 15) << 4) + ab.fsnroffst[ch]) << 2;
    if (end <= start || snroffset == kNoBitsOffset) {
        return;
    }
    const int *exps = ab.exps[ch];
    int psd[kBins];
    for (int bin = start; bin < end; ++bin) {
        psd[bin] = 3072 - (exps[bin] << 7);
    }
    // Integrate the power spectral density into bands.
    int bndpsd[kAc3Bands] = {};
    {
        int j = start;
        int k = gBandOfBin[start];
        int lastbin;
        do {
            lastbin = std::min(kAc3BandStart[k] + kAc3BandSize[k], end);
            bndpsd[k] = psd[j++];
            for (; j < lastbin; ++j) {
                bndpsd[k] = LogAdd(bndpsd[k], psd[j]);
            }
            ++k;
        } while (end > lastbin);
    }
    // Excitation.
    int fgain = kAc3FastGain[ab.fgaincod[ch]];
    int sgain = kAc3SlowGain[ab.sgaincod];
    int sdecay = kAc3SlowDecay[ab.sdcycod];
    int fdecay = kAc3FastDecay[ab.fdcycod];
    int dbknee = kAc3DbPerBit[ab.dbpbcod];
    int bndstrt = gBandOfBin[start];
    int bndend = gBandOfBin[end - 1] + 1;
    int excite[kAc3Bands] = {};
    int fastleak = 0;
    int slowleak = 0;
    int begin;
    if (bndstrt == 0) {
        int lowcomp = LowComp(0, bndpsd[0], bndpsd[1], 0);
        excite[0] = bndpsd[0] - fgain - lowcomp;
        lowcomp = LowComp(lowcomp, bndpsd[1], bndpsd[2], 1);
        excite[1] = bndpsd[1] - fgain - lowcomp;
        begin = 7;
        for (int bin = 2; bin < 7; ++bin) {
            if (bndend != 7 || bin != 6) {
                lowcomp = LowComp(lowcomp, bndpsd[bin], bndpsd[bin + 1], bin);
            }
            fastleak = bndpsd[bin] - fgain;
            slowleak = bndpsd[bin] - sgain;
            excite[bin] = fastleak - lowcomp;
            if ((bndend != 7 || bin != 6) && bndpsd[bin] <= bndpsd[bin + 1]) {
                begin = bin + 1;
                break;
            }
        }
        for (int bin = begin; bin < std::min(bndend, 22); ++bin) {
            if (bndend != 7 || bin != 6) {
                lowcomp = LowComp(lowcomp, bndpsd[bin], bndpsd[bin + 1], bin);
            }
            fastleak = std::max(fastleak - fdecay, bndpsd[bin] - fgain);
            slowleak = std::max(slowleak - sdecay, bndpsd[bin] - sgain);
            excite[bin] = std::max(fastleak - lowcomp, slowleak);
        }
        begin = 22;
    } else {
        fastleak = (ab.cplfleak << 8) + 768;
        slowleak = (ab.cplsleak << 8) + 768;
        begin = bndstrt;
    }
    for (int bin = begin; bin < bndend; ++bin) {
        fastleak = std::max(fastleak - fdecay, bndpsd[bin] - fgain);
        slowleak = std::max(slowleak - sdecay, bndpsd[bin] - sgain);
        excite[bin] = std::max(fastleak, slowleak);
    }
    // Masking curve.
    int mask[kAc3Bands] = {};
    for (int bin = bndstrt; bin < bndend; ++bin) {
        if (bndpsd[bin] < dbknee) {
            excite[bin] += (dbknee - bndpsd[bin]) >> 2;
        }
        mask[bin] = std::max(excite[bin], int(kAc3HearingThreshold[fscod][bin]));
    }
    // Delta bit allocation (bands checked when parsed).
    if (ch != kLfe && (ab.deltbae[ch] == kDeltaReuse || ab.deltbae[ch] == kDeltaNew)) {
        int band = 0;
        for (int seg = 0; seg < ab.deltnseg[ch]; ++seg) {
            band += ab.deltoffst[ch][seg];
            int ba = ab.deltba[ch][seg];
            int delta = (ba >= 4 ? ba - 3 : ba - 4) << 7;
            for (int k = 0; k < ab.deltlen[ch][seg] && band < kAc3Bands; ++k) {
                mask[band++] += delta;
            }
        }
    }
    // Bit allocation pointers.
    int floor = kAc3Floor[ab.floorcod];
    int i = start;
    int j = gBandOfBin[start];
    int lastbin;
    do {
        lastbin = std::min(kAc3BandStart[j] + kAc3BandSize[j], end);
        int m = mask[j] - snroffset - floor;
        m = m < 0 ? 0 : m;
        m = (m & 0x1fe0) + floor;
        for (; i < lastbin; ++i) {
            int address = std::clamp((psd[i] - m) >> 5, 0, 63);
            bap[i] = kAc3BapTable[address];
        }
        ++j;
    } while (end > lastbin);
}

// Grouped mantissas are taken three (or two) at a time; the groups restart at every block.
struct MantissaGroups
{
    int16_t v1[3];
    int n1 = 0;
    int16_t v2[3];
    int n2 = 0;
    int16_t v4[2];
    int n4 = 0;
};

// Next value of a grouped quantiser, reading a new group of `bits` bits when the last one is
// used up; a code beyond the table is an error.
template <int N, int Codes>
int Grouped(lc::BitReader &br, int16_t (&values)[N], int &left, int bits,
            const int16_t (&table)[Codes][N])
{
    if (left == 0) {
        int code = int(br.bits(bits));
        if (code >= Codes) {
            gError = true;
            return 0;
        }
        std::memcpy(values, table[code], sizeof values);
        left = N;
    }
    return values[N - left--];
}

// A value of an ungrouped odd-level quantiser; the one code above the levels is an error.
int OddLevel(lc::BitReader &br, int bits, int levels)
{
    int code = int(br.bits(bits));
    if (code >= levels) {
        gError = true;
        return 0;
    }
    return Level(code, levels);
}

int Ac3GetMantissa(lc::BitReader &br, MantissaGroups &mg, int bap, bool dither)
{
    switch (bap) {
    case 0:
        return dither ? -23170 + int(std::floor(lc::CrtRand() * 1.4142277291177099)) : 0;
    case 1:
        return Grouped(br, mg.v1, mg.n1, 5, gLevels3);
    case 2:
        return Grouped(br, mg.v2, mg.n2, 7, gLevels5);
    case 3:
        return OddLevel(br, 3, 7);
    case 4:
        return Grouped(br, mg.v4, mg.n4, 7, gLevels11);
    case 5:
        return OddLevel(br, 4, 15);
    default: {
        int n = kAc3MantissaBits[bap];
        int v = int(br.bits(n));
        if (v & (1 << (n - 1))) {
            v -= 1 << n;
        }
        return v * (1 << (16 - n));
    }
    }
}

void Ac3UnpackMantissas(lc::BitReader &br, MantissaGroups &mg, const AudioBlock &ab, int ch,
                        bool dither, double *coef)
{
    for (int bin = ab.start[ch]; bin < ab.end[ch]; ++bin) {
        int m = Ac3GetMantissa(br, mg, ab.bap[ch][bin], dither);
        coef[bin] = std::ldexp(double(m), -(ab.exps[ch][bin] + 15));
    }
}

// Rebuilds a coupled channel from the coupling channel through its coordinates.
void Ac3UncoupleChannel(const AudioBlock &ab, const Bsi &bsi, int ch, const double *cpl,
                        double *coef)
{
    int bin = ab.start[kCpl];
    for (int bnd = 0; bnd < ab.ncplbnd; ++bnd) {
        double co = ab.cplco[ch][bnd] * 8.0;
        if (bsi.acmod == 2 && ch == 1 && ab.phsflginu && ab.phsflg[bnd]) {
            co = -co;
        }
        for (; bin < ab.cplBandEnd[bnd]; ++bin) {
            coef[bin] = cpl[bin] * co;
        }
    }
}

// Reads delta bit allocation segments of one channel; false when a band lies beyond the last.
bool ReadDeltaSegments(lc::BitReader &br, AudioBlock &ab, int ch)
{
    ab.deltnseg[ch] = int(br.bits(3)) + 1;
    int band = 0;
    for (int seg = 0; seg < ab.deltnseg[ch]; ++seg) {
        ab.deltoffst[ch][seg] = int(br.bits(5));
        ab.deltlen[ch][seg] = int(br.bits(4));
        ab.deltba[ch][seg] = int(br.bits(3));
        band += ab.deltoffst[ch][seg] + ab.deltlen[ch][seg];
    }
    return band <= kAc3Bands;
}

// Parses one audio block up to its mantissas. False on a field out of range.
bool ParseAudioBlock(lc::BitReader &br, Track &tr, int blk)
{
    AudioBlock &ab = tr.blk;
    const Bsi &bsi = tr.bsi;
    int nfch = bsi.nfchans;
    for (int ch = 0; ch < nfch; ++ch) {
        ab.blksw[ch] = int(br.bits(1));
    }
    for (int ch = 0; ch < nfch; ++ch) {
        ab.dithflag[ch] = int(br.bits(1));
    }
    for (int i = 0; i < (bsi.acmod == 0 ? 2 : 1); ++i) {
        if (br.flag()) {
            int d = int(br.bits(8));
            if (i == 0) {
                ab.dynrng = d;
            }
        }
    }
    // Coupling strategy.
    if (br.flag()) {
        // Fields are checked before they are kept: a later block may reuse them.
        int cplinu = int(br.bits(1));
        if (cplinu) {
            int chincpl[kFbw] = {};
            for (int ch = 0; ch < nfch; ++ch) {
                chincpl[ch] = int(br.bits(1));
            }
            int phsflginu = bsi.acmod == 2 ? int(br.bits(1)) : 0;
            int cplbegf = int(br.bits(4));
            int cplendf = int(br.bits(4));
            int nsub = 3 + cplendf - cplbegf;
            if (nsub < 1) {
                return false;
            }
            ab.cplinu = 1;
            std::copy(chincpl, chincpl + kFbw, ab.chincpl);
            ab.phsflginu = phsflginu;
            ab.cplbegf = cplbegf;
            ab.cplendf = cplendf;
            ab.start[kCpl] = 37 + 12 * ab.cplbegf;
            ab.end[kCpl] = 37 + 12 * (ab.cplendf + 3);
            ab.ncplbnd = 0;
            int bandEnd = ab.start[kCpl] + 12;
            for (int s = 1; s < nsub; ++s) {
                if (!br.flag()) {
                    ab.cplBandEnd[ab.ncplbnd++] = bandEnd;
                }
                bandEnd += 12;
            }
            ab.cplBandEnd[ab.ncplbnd++] = bandEnd;
        } else {
            ab.cplinu = 0;
            std::fill(ab.chincpl, ab.chincpl + kFbw, 0);
            ab.start[kCpl] = ab.end[kCpl] = 0;
        }
    }
    // Coupling coordinates.
    if (ab.cplinu) {
        bool anyNew = false;
        for (int ch = 0; ch < nfch; ++ch) {
            if (!ab.chincpl[ch] || !br.flag()) {
                continue;
            }
            anyNew = true;
            int mstrcplco = int(br.bits(2));
            for (int bnd = 0; bnd < ab.ncplbnd; ++bnd) {
                int e = int(br.bits(4));
                int m = int(br.bits(4));
                double mant = e == 15 ? m / 16.0 : (m + 16) / 32.0;
                ab.cplco[ch][bnd] = std::ldexp(mant, -(e + 3 * mstrcplco));
            }
        }
        if (bsi.acmod == 2 && ab.phsflginu && anyNew) {
            for (int bnd = 0; bnd < ab.ncplbnd; ++bnd) {
                ab.phsflg[bnd] = int(br.bits(1));
            }
        }
    }
    // Rematrixing.
    if (bsi.acmod == 2 && br.flag()) {
        int nbands = 4;
        if (ab.cplinu && ab.cplbegf <= 2) {
            nbands = ab.cplbegf == 0 ? 2 : 3;
        }
        std::fill(ab.rematflg, ab.rematflg + 4, 0);
        for (int b = 0; b < nbands; ++b) {
            ab.rematflg[b] = int(br.bits(1));
        }
    }
    // Exponent strategies and bandwidths.
    int cplexpstr = ab.cplinu ? int(br.bits(2)) : kReuse;
    for (int ch = 0; ch < nfch; ++ch) {
        ab.chexpstr[ch] = int(br.bits(2));
    }
    int lfeexpstr = bsi.lfeon ? int(br.bits(1)) : kReuse;
    for (int ch = 0; ch < nfch; ++ch) {
        if (ab.chexpstr[ch] != kReuse && !ab.chincpl[ch]) {
            int chbwcod = int(br.bits(6));
            if (chbwcod > kMaxBandwidthCode) {
                return false;
            }
            ab.chbwcod[ch] = chbwcod;
        }
        ab.start[ch] = 0;
        ab.end[ch] = ab.chincpl[ch] && ab.cplinu ? ab.start[kCpl] : 37 + 3 * (ab.chbwcod[ch] + 12);
    }
    // Exponents.
    if (ab.cplinu && cplexpstr != kReuse) {
        int absexp = int(br.bits(4)) << 1;
        int groups = (ab.end[kCpl] - ab.start[kCpl]) / (3 * (cplexpstr == kD45 ? 4 : cplexpstr));
        Ac3DecodeExponents(br, ab.exps[kCpl], cplexpstr, groups, absexp, ab.start[kCpl], false);
    }
    for (int ch = 0; ch < nfch; ++ch) {
        int s = ab.chexpstr[ch];
        if (s == kReuse) {
            continue;
        }
        int absexp = int(br.bits(4));
        int grpsize = s == kD45 ? 4 : s;
        int groups = (ab.end[ch] - 1 + 3 * grpsize - 3) / (3 * grpsize);
        Ac3DecodeExponents(br, ab.exps[ch], s, groups, absexp, 0, true);
        br.skip(2); // gainrng
    }
    if (bsi.lfeon) {
        ab.start[kLfe] = 0;
        ab.end[kLfe] = kLfeBins;
        if (lfeexpstr != kReuse) {
            int absexp = int(br.bits(4));
            Ac3DecodeExponents(br, ab.exps[kLfe], kD15, 2, absexp, 0, true);
        }
    } else {
        ab.start[kLfe] = ab.end[kLfe] = 0;
    }
    // Bit allocation parameters.
    if (br.flag()) {
        ab.sdcycod = int(br.bits(2));
        ab.fdcycod = int(br.bits(2));
        ab.sgaincod = int(br.bits(2));
        ab.dbpbcod = int(br.bits(2));
        ab.floorcod = int(br.bits(3));
    }
    if (br.flag()) {
        ab.csnroffst = int(br.bits(6));
        if (ab.cplinu) {
            ab.fsnroffst[kCpl] = int(br.bits(4));
            ab.fgaincod[kCpl] = int(br.bits(3));
        }
        for (int ch = 0; ch < nfch; ++ch) {
            ab.fsnroffst[ch] = int(br.bits(4));
            ab.fgaincod[ch] = int(br.bits(3));
        }
        if (bsi.lfeon) {
            ab.fsnroffst[kLfe] = int(br.bits(4));
            ab.fgaincod[kLfe] = int(br.bits(3));
        }
    }
    if (ab.cplinu && br.flag()) {
        ab.cplfleak = int(br.bits(3));
        ab.cplsleak = int(br.bits(3));
    }
    // Delta bit allocation.
    if (br.flag()) {
        if (ab.cplinu) {
            ab.deltbae[kCpl] = int(br.bits(2));
        }
        for (int ch = 0; ch < nfch; ++ch) {
            ab.deltbae[ch] = int(br.bits(2));
        }
        for (int ch : {kCpl, 0, 1, 2, 3, 4}) {
            if ((ch == kCpl && !ab.cplinu) || (ch != kCpl && ch >= nfch)) {
                continue;
            }
            if (ab.deltbae[ch] == 3) {
                return false;
            }
            if (ab.deltbae[ch] == kDeltaNew && !ReadDeltaSegments(br, ab, ch)) {
                return false;
            }
        }
    } else if (blk == 0) {
        std::fill(ab.deltbae, ab.deltbae + kAllCh, int(kDeltaNone));
    }
    // Skipped data.
    if (br.flag()) {
        br.skip(br.bits(9) * 8);
    }
    return br.ok();
}

// True when every exponent in use lies in 0..24.
bool ExponentsInRange(const AudioBlock &ab, int ch)
{
    for (int bin = ab.start[ch]; bin < ab.end[ch]; ++bin) {
        if (ab.exps[ch][bin] < 0 || ab.exps[ch][bin] > kMaxExponent) {
            return false;
        }
    }
    return true;
}

// Decodes the six blocks of the frame held by the track into its block output.
bool DecodeFrame(Track &tr)
{
    lc::BitReader br(tr.frame, size_t(tr.frameBytes));
    br.skip(24); // crc1, fscod, frmsizecod
    ParseBsi(br, tr.bsi);
    const Bsi &bsi = tr.bsi;
    AudioBlock &ab = tr.blk;
    int nfch = bsi.nfchans;
    for (int blk = 0; blk < kBlocks; ++blk) {
        // 1. Clear the coefficients.
        double coef[kAllCh][kBins] = {};
        // 2. Block fields and exponents.
        if (!ParseAudioBlock(br, tr, blk)) {
            return false;
        }
        // 3. Bit allocation and mantissas.
        for (int ch = 0; ch < kAllCh; ++ch) {
            if (ch >= nfch && !(ch == kLfe && bsi.lfeon) && !(ch == kCpl && ab.cplinu)) {
                continue;
            }
            if (!ExponentsInRange(ab, ch)) {
                return false;
            }
            Ac3BitAllocate(ab, ch, tr.fscod);
        }
        MantissaGroups mg;
        bool cplDone = false;
        for (int ch = 0; ch < nfch; ++ch) {
            Ac3UnpackMantissas(br, mg, ab, ch, ab.dithflag[ch] != 0, coef[ch]);
            if (ab.cplinu && ab.chincpl[ch] && !cplDone) {
                Ac3UnpackMantissas(br, mg, ab, kCpl, false, coef[kCpl]);
                cplDone = true;
            }
        }
        if (ab.cplinu) {
            for (int ch = 0; ch < nfch; ++ch) {
                if (ab.chincpl[ch]) {
                    Ac3UncoupleChannel(ab, bsi, ch, coef[kCpl], coef[ch]);
                }
            }
        }
        if (bsi.lfeon) {
            Ac3UnpackMantissas(br, mg, ab, kLfe, false, coef[kLfe]);
        }
        if (gError || !br.ok()) {
            return false;
        }
        // 4. Rematrixing of the flagged bands.
        if (bsi.acmod == 2) {
            static constexpr int kRematBand[5] = {13, 25, 37, 61, 253};
            int last = std::min(ab.end[0], ab.end[1]);
            for (int b = 0; b < 4; ++b) {
                if (!ab.rematflg[b]) {
                    continue;
                }
                int hi = std::min(kRematBand[b + 1], last);
                if (ab.cplinu && hi > ab.start[kCpl]) {
                    hi = ab.start[kCpl];
                }
                for (int bin = kRematBand[b]; bin < hi; ++bin) {
                    double l = coef[0][bin];
                    double r = coef[1][bin];
                    coef[0][bin] = l + r;
                    coef[1][bin] = l - r;
                }
            }
        }
        // 5. Inverse transforms.
        double pcm[kAc3MaxChannels][kBins];
        for (int ch = 0; ch < nfch; ++ch) {
            if (ab.blksw[ch]) {
                Ac3Imdct256(coef[ch], tr.delay[ch], pcm[ch]);
            } else {
                Ac3Imdct(coef[ch], tr.delay[ch], pcm[ch]);
            }
        }
        if (bsi.lfeon) {
            Ac3Imdct(coef[kLfe], tr.delay[kLfe], pcm[nfch]);
        }
        // 6. Downmix into block output number blk.
        Ac3MixParams mix;
        mix.acmod = bsi.acmod;
        mix.cmixlev = bsi.cmixlev;
        mix.surmixlev = bsi.surmixlev;
        mix.lfeon = bsi.lfeon;
        mix.dynrng = ab.dynrng;
        Ac3Downmix(mix, pcm, tr.blockOutput + blk * kAc3BlockSamples * 2);
    }
    return true;
}

} // namespace

void Ac3DecoderInit()
{
    for (Track &tr : gTracks) {
        tr.sync = kNoSync;
        tr.collected = 0;
        tr.frameBytes = 0;
        tr.rescanPos = 0;
        tr.rescanLen = 0;
        tr.bsi = Bsi();
        tr.blk = AudioBlock();
        std::memset(tr.delay, 0, sizeof tr.delay);
    }
    gError = false;
    if (!gInitialised) {
        BuildTables();
        gInitialised = true;
    }
    lc::CrtSrand(0);
}

int Ac3DecodeTrack(const uint8_t *bytes, int length, uint8_t *out, int outCount, int outCapacity,
                   int track, int *consumed)
{
    if (consumed) {
        *consumed = 0;
    }
    if (track < 0 || track >= kAc3Tracks || length < 0 || outCount < 0 || outCapacity < outCount
        || (length > 0 && !bytes) || (outCapacity > 0 && !out)) {
        return outCount;
    }
    if (!gInitialised) {
        Ac3DecoderInit();
    }
    Track &tr = gTracks[track];
    const uint8_t *p = bytes;
    const uint8_t *end = bytes + length;
    while (outCapacity - outCount >= kAc3FrameOutputBytes && Ac3FindFrame(tr, p, end)) {
        // Each frame starts clean: an error in one frame costs that frame only.
        gError = false;
        if (DecodeFrame(tr)) {
            std::memcpy(out + outCount, tr.blockOutput, kAc3FrameOutputBytes);
            outCount += kAc3FrameOutputBytes;
        } else {
            std::memset(tr.blockOutput, 0, sizeof tr.blockOutput);
        }
        tr.frameBytes = 0;
    }
    if (consumed) {
        *consumed = int(p - bytes);
    }
    return outCount;
}
