#include "mpeg2/mpeg_picture_decoder.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include <emmintrin.h>
#include <xmmintrin.h>

#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/internal/vlc_tables.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_idct.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/mpeg_video_headers.h"

MpegPictureDecoder gMpegPictureDecoder;

namespace {

constexpr int kTopField = 1;
constexpr int kBottomField = 2;
constexpr int kFramePicture = 3;

// Motion types: in frame pictures 1 field, 2 frame, 3 dual prime; in field pictures 1 field,
// 2 16x8, 3 dual prime.
constexpr int kMotionField = 1;
constexpr int kMotionFrame = 2; // 16x8 in field pictures
constexpr int kMotionDualPrime = 3;

constexpr int kCoefficientMax = 2047;

// Slice state.
struct SliceState
{
    int dcPredictor[3];
    int pmv[2][2][2]; // [first/second][forward/backward][horizontal/vertical]
    int fieldSelect[2][2];
    int dmvector[2];
    int quantiserScale;
};

// One macroblock's modes.
struct Macroblock
{
    int type;
    int motionType;
    int dctType;
    int codedPattern;
};

// Zero between macroblocks: each block is cleared as it is used (see Reconstruct).
alignas(32) int16_t gBlocks[12][64];
// Per block: a coefficient other than the DC was stored. A block with only its DC transforms to
// one value (IdctDcOnlyValue) without running the inverse DCT.
bool gBlockAc[12];
SliceState gSlice;
Macroblock gMb;

// Picture-wide values, copied once per picture.
struct PictureContext
{
    int structure;
    int codingType;
    int mbCount;
    int lumaStride; // between lines of this picture (doubled for a field picture)
    int chromaStride;
    int fieldOffset; // 1 for a bottom field: planes start one line down
    uint8_t *current[3];
    const Mpeg2Dsp *dsp;
    bool prefetch; // references too large to stay in the cache
};
PictureContext gPic;

bool Faulted()
{
    return gMpegDecoderControl.faultCode.load(std::memory_order_relaxed) != 0;
}

int ReadVlc(const VlcEntry *table, int bits, int fault)
{
    const VlcEntry &e = table[ShowBits(bits)];
    if (e.length == 0) {
        RaiseMpegFault(fault);
        return 0;
    }
    FlushBits(e.length);
    return e.value;
}

// Address increment with stuffing and escapes; 0 on a fault. Bounded so that a run of escapes
// cannot overflow.
int ReadAddressIncrement()
{
    int increment = 0;
    for (;;) {
        int v = ReadVlc(gMbaTable, kMbaBits, kMpegFaultAddressIncrement);
        if (v == 0) {
            return 0;
        }
        if (v == kMbaStuffing) {
            continue;
        }
        if (v == kMbaEscape) {
            increment += 33;
            if (increment > gPic.mbCount) {
                return increment;
            }
            continue;
        }
        return increment + v;
    }
}

int ReadMotionCode()
{
    const VlcEntry &e = gMotionTable[ShowBits(kMotionBits)];
    if (e.length == 0) {
        RaiseMpegFault(kMpegFaultSliceOrMotionCode);
        return 0;
    }
    FlushBits(e.length);
    int v = e.value;
    if (v != 0 && GetBits(1)) {
        v = -v;
    }
    return v;
}

int ReadDmvector()
{
    if (!GetBits(1)) {
        return 0;
    }
    return GetBits(1) ? -1 : 1;
}

// One vector component against its predictor, with the wrap at 16 << r_size.
void DecodeVectorComponent(int *pred, int rSize, int code, int residual)
{
    int f = 1 << rSize;
    int delta = code;
    if (f != 1 && code != 0) {
        delta = (std::abs(code) - 1) * f + residual + 1;
        if (code < 0) {
            delta = -delta;
        }
    }
    int v = *pred + delta;
    int low = -16 * f;
    int high = 16 * f - 1;
    int range = 32 * f;
    if (v < low) {
        v += range;
    } else if (v > high) {
        v -= range;
    }
    *pred = v;
}

int RSize(int s, int t)
{
    int f = gMpegPictureHeader.fCode[s][t];
    // f_code 1..9; anything else (0, or 15 for unused) is taken as the nearest.
    if (f < 1) {
        f = 1;
    } else if (f > 9) {
        f = 9;
    }
    return f - 1;
}

// motion_vector(r, s): a field vector in a frame picture halves the vertical predictor first.
void MotionVector(int r, int s, bool fieldInFrame, bool dualPrime)
{
    for (int t = 0; t < 2; ++t) {
        int rSize = RSize(s, t);
        int code = ReadMotionCode();
        if (Faulted()) {
            return;
        }
        int residual = (rSize != 0 && code != 0) ? int(GetBits(rSize)) : 0;
        if (dualPrime) {
            gSlice.dmvector[t] = ReadDmvector();
        }
        int &pred = gSlice.pmv[r][s][t];
        if (t == 1 && fieldInFrame) {
            int half = pred >> 1;
            DecodeVectorComponent(&half, rSize, code, residual);
            pred = half * 2;
        } else {
            DecodeVectorComponent(&pred, rSize, code, residual);
        }
    }
}

void MotionVectors(int s)
{
    const bool framePicture = gPic.structure == kFramePicture;
    int count = 1;
    bool fieldFormat = true;
    bool dualPrime = gMb.motionType == kMotionDualPrime;
    if (framePicture) {
        count = gMb.motionType == kMotionField ? 2 : 1;
        fieldFormat = gMb.motionType != kMotionFrame;
    } else {
        count = gMb.motionType == kMotionFrame ? 2 : 1; // 16x8
    }
    bool fieldInFrame = framePicture && fieldFormat;
    if (count == 1) {
        if (fieldFormat && !dualPrime) {
            gSlice.fieldSelect[0][s] = int(GetBits(1));
        }
        MotionVector(0, s, fieldInFrame, dualPrime);
        gSlice.pmv[1][s][0] = gSlice.pmv[0][s][0];
        gSlice.pmv[1][s][1] = gSlice.pmv[0][s][1];
    } else {
        gSlice.fieldSelect[0][s] = int(GetBits(1));
        MotionVector(0, s, fieldInFrame, false);
        if (Faulted()) {
            return;
        }
        gSlice.fieldSelect[1][s] = int(GetBits(1));
        MotionVector(1, s, fieldInFrame, false);
    }
}

void ResetDcPredictors()
{
    gSlice.dcPredictor[0] = gSlice.dcPredictor[1] = gSlice.dcPredictor[2] = 0;
}

void ResetMotionPredictors()
{
    std::memset(gSlice.pmv, 0, sizeof gSlice.pmv);
}

int Saturate(int v)
{
    return v > kCoefficientMax        ? kCoefficientMax
           : v < -kCoefficientMax - 1 ? -kCoefficientMax - 1
                                      : v;
}

// One coefficient code: run, level (its magnitude) and sign (0, or -1 for a negative level),
// kept apart so that the value is signed without a branch; false on a fault. first: the first
// coefficient of a non-intra block, where "1s" is run 0 level 1. The code, its sign or escape
// fields lie within the next 32 bits, read once.
inline bool ReadCoefficient(LocalBitReader &bits, const DctTable &table, bool first, int *run,
                            int *level, int *sign, bool *eob)
{
    const uint32_t next = bits.Show32();
    *eob = false;
    if (first && (next >> 31)) {
        bits.Flush(2);
        *run = 0;
        *level = 1;
        *sign = -int((next >> 30) & 1);
        return true;
    }
    const DctEntry &e = LookUpDct(table, next >> 16);
    if (e.length == 0) {
        RaiseMpegFault(kMpegFaultNoDctCode);
        return false;
    }
    if (e.run == kDctEob) {
        bits.Flush(e.length);
        *eob = true;
        return true;
    }
    if (e.run == kDctEscape) {
        // 6-bit escape, 6-bit run, 12-bit signed level.
        bits.Flush(24);
        *run = int(next >> 20) & 63;
        int v = int(next >> 8) & 4095;
        if (v & 2048) {
            v -= 4096;
        }
        if (v == 0 || v == -2048) { // forbidden escape levels
            RaiseMpegFault(kMpegFaultNoDctCode);
            return false;
        }
        *sign = v >> 31;
        *level = (v ^ *sign) - *sign;
        return true;
    }
    bits.Flush(e.length + 1);
    *run = e.run;
    *level = e.level;
    *sign = -int((next >> (31 - e.length)) & 1);
    return true;
}

// A dequantised magnitude with its sign, saturated to the 12-bit range.
inline int16_t Signed(int v, int sign)
{
    return int16_t(Saturate((v ^ sign) - sign));
}

const uint8_t *Scan()
{
    return gMpegPictureHeader.alternateScan ? kAlternateScan : kZigzagScan;
}

// Quantiser matrix x quantiser scale in scan order, per matrix; made again when the scale
// changes, and at each picture (matrices and scan may change between pictures).
struct QuantWeights
{
    uint16_t w[64];
    int scale; // -1: not made
};
QuantWeights gWeights[4]; // intra luma, intra chroma, non-intra luma, non-intra chroma

void ForgetQuantWeights()
{
    for (QuantWeights &q : gWeights) {
        q.scale = -1;
    }
}

const uint16_t *QuantWeightsFor(bool intra, bool lumaMatrix)
{
    QuantWeights &q = gWeights[(intra ? 0 : 2) + (lumaMatrix ? 0 : 1)];
    const int qs = gSlice.quantiserScale;
    if (q.scale != qs) {
        const MpegQuantMatrices &m = gMpegQuantMatrices;
        const uint8_t *matrix = intra ? (lumaMatrix ? m.intra : m.chromaIntra)
                                      : (lumaMatrix ? m.nonIntra : m.chromaNonIntra);
        const uint8_t *scan = gMpegPictureHeader.alternateScan ? kAlternateScan : kZigzagScan;
        for (int i = 0; i < 64; ++i) {
            q.w[i] = uint16_t(matrix[scan[i]] * qs);
        }
        q.scale = qs;
    }
    return q.w;
}

bool DecodeIntraBlock(int comp, int16_t *blk)
{
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    const bool luma = comp < 4;
    int cc = luma ? 0 : (comp & 1) + 1;
    // DC: size, differential, predictor.
    int size = luma ? ReadVlc(gDcLumaTable, kDcLumaBits, kMpegFaultNoDctCode)
                    : ReadVlc(gDcChromaTable, kDcChromaBits, kMpegFaultNoDctCode);
    if (Faulted()) {
        return false;
    }
    int diff = 0;
    if (size != 0) {
        diff = int(GetBits(size));
        if (diff < (1 << (size - 1))) {
            diff -= (1 << size) - 1;
        }
    }
    int &pred = gSlice.dcPredictor[cc];
    pred = Saturate(pred + diff);
    blk[0] = int16_t(Saturate(pred * (1 << (3 - gMpegPictureHeader.intraDcPrecision))));
    // AC coefficients: (level x matrix x scale) >> 4.
    const DctTable &table = gMpegPictureHeader.intraVlcFormat ? gDctTableOne : gDctTableZero;
    const uint8_t *scan = Scan();
    const uint16_t *weight = QuantWeightsFor(true, luma || d.chromaFormat == 1);
    bool ac = false;
    LocalBitReader bits;
    for (int i = 1;; ++i) {
        int run = 0, level = 0, sign = 0;
        bool eob = false;
        if (!ReadCoefficient(bits, table, false, &run, &level, &sign, &eob)) {
            bits.Sync();
            return false;
        }
        if (eob) {
            bits.Sync();
            gBlockAc[comp] = ac;
            return true;
        }
        i += run;
        if (i > 63) {
            bits.Sync();
            RaiseMpegFault(kMpegFaultNoDctCode);
            return false;
        }
        blk[scan[i]] = Signed((level * weight[i]) >> 4, sign);
        ac = true;
    }
}

bool DecodeNonIntraBlock(int comp, int16_t *blk)
{
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    const uint8_t *scan = Scan();
    // ((2 level + 1) x matrix x scale) >> 5.
    const uint16_t *weight = QuantWeightsFor(false, comp < 4 || d.chromaFormat == 1);
    bool ac = false;
    LocalBitReader bits;
    for (int i = 0;; ++i) {
        int run = 0, level = 0, sign = 0;
        bool eob = false;
        if (!ReadCoefficient(bits, gDctTableZero, i == 0, &run, &level, &sign, &eob)) {
            bits.Sync();
            return false;
        }
        if (eob) {
            bits.Sync();
            gBlockAc[comp] = ac;
            return true;
        }
        i += run;
        if (i > 63) {
            bits.Sync();
            RaiseMpegFault(kMpegFaultNoDctCode);
            return false;
        }
        blk[scan[i]] = Signed(((2 * level + 1) * weight[i]) >> 5, sign);
        ac |= i != 0;
    }
}

// --- prediction ---

// Predicts one component block. src and dst are the planes already offset to the field (or
// frame) they address, with their line strides; planeW x planeH is the addressed area in those
// lines. (x, y) is the block in dst, (dx, dy) the vector in half samples. A vector that points
// outside the reference is clamped to its edge: the reference is never read out of bounds.
void PredictComponent(const uint8_t *src, int srcStride, uint8_t *dst, int dstStride, int planeW,
                      int planeH, int w, int h, int x, int y, int dx, int dy, bool average)
{
    int xh = dx & 1;
    int yh = dy & 1;
    int sx = x + (dx >> 1);
    int sy = y + (dy >> 1);
    if (sx < 0) {
        sx = 0;
    } else if (sx > planeW - w - xh) {
        sx = planeW - w - xh;
    }
    if (sy < 0) {
        sy = 0;
    } else if (sy > planeH - h - yh) {
        sy = planeH - h - yh;
    }
    if (sx < 0 || sy < 0) {
        return; // plane smaller than the block: nothing sensible to read
    }
    const uint8_t *at = src + ptrdiff_t(sy) * srcStride + sx;
    if (gPic.prefetch) {
        // The next macroblocks read on along these lines: fetch them while this one works.
        for (int k = 0; k < h + yh; ++k) {
            _mm_prefetch(reinterpret_cast<const char *>(at + ptrdiff_t(k) * srcStride + 64),
                         _MM_HINT_T0);
        }
    }
    gPic.dsp->predict[(average ? 4 : 0) | (xh ? 2 : 0) | (yh ? 1 : 0)](
        dst + ptrdiff_t(y) * dstStride + x, dstStride, at, srcStride, w, h);
}

// One prediction of all three components. ref: a frame's planes; refField: 0 top, 1 bottom, or
// -1 for the whole frame. dstField likewise for the current frame (field pictures already point
// at their field). (bx, by): luma position in the lines addressed; w x h the luma size.
void Predict(uint8_t *const ref[3], int refField, int dstField, int bx, int by, int w, int h,
             int dx, int dy, bool average)
{
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    const bool frameLines = refField < 0;
    // Chroma vectors are halved (toward zero) where the chroma is subsampled.
    const bool halfWidth = d.chromaFormat != 3;
    const bool halfHeight = d.chromaFormat == 1;
    for (int c = 0; c < 3; ++c) {
        const bool chroma = c > 0;
        int planeW = chroma ? d.chromaWidth : d.codedWidth;
        int planeLines = chroma ? d.chromaHeight : d.codedHeight;
        int stride = frameLines ? planeW : 2 * planeW;
        int planeH = frameLines ? planeLines : planeLines / 2;
        const uint8_t *src = ref[c] + (refField > 0 ? planeW : 0);
        uint8_t *dst = gPic.current[c];
        int dstStride = chroma ? gPic.chromaStride : gPic.lumaStride;
        if (gPic.structure == kFramePicture) {
            // Frame pictures address a field of the current frame for field predictions.
            dst += dstField > 0 ? planeW : 0;
            dstStride = frameLines ? planeW : 2 * planeW;
        }
        bool sx = chroma && halfWidth;
        bool sy = chroma && halfHeight;
        PredictComponent(src, stride, dst, dstStride, planeW, planeH, sx ? w / 2 : w,
                         sy ? h / 2 : h, sx ? bx / 2 : bx, sy ? by / 2 : by, sx ? dx / 2 : dx,
                         sy ? dy / 2 : dy, average);
    }
}

uint8_t *const *FramePlanes(int index)
{
    return gMpegPictureDecoder.frames[index];
}

// The dual-prime vectors of 7.6.3.6 from the field vector (mvx, mvy).
void DualPrimeVectors(int dmv[2][2], int mvx, int mvy)
{
    const MpegPictureHeader &ph = gMpegPictureHeader;
    const int *dm = gSlice.dmvector;
    auto scaled = [](int v, int m) { return (v * m + (v > 0)) >> 1; };
    if (gPic.structure == kFramePicture) {
        int m0 = ph.topFieldFirst ? 1 : 3;
        int m1 = ph.topFieldFirst ? 3 : 1;
        dmv[0][0] = scaled(mvx, m0) + dm[0];
        dmv[0][1] = scaled(mvy, m0) + dm[1] - 1;
        dmv[1][0] = scaled(mvx, m1) + dm[0];
        dmv[1][1] = scaled(mvy, m1) + dm[1] + 1;
    } else {
        dmv[0][0] = scaled(mvx, 1) + dm[0];
        dmv[0][1] = scaled(mvy, 1) + dm[1] + (gPic.structure == kTopField ? -1 : 1);
    }
}

void FormPredictions(int bx, int by)
{
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    uint8_t *const *fwd = FramePlanes(d.forward);
    uint8_t *const *bwd = FramePlanes(d.backward);
    const bool framePicture = gPic.structure == kFramePicture;
    const int currentField = gPic.structure == kBottomField ? 1 : 0;
    bool averaged = false;
    for (int s = 0; s < 2; ++s) {
        int flag = s == 0 ? kMbForward : kMbBackward;
        if (!(gMb.type & flag)) {
            continue;
        }
        uint8_t *const *ref = s == 0 ? fwd : bwd;
        const int(*pmv)[2][2] = gSlice.pmv;
        if (framePicture) {
            if (gMb.motionType == kMotionFrame) {
                Predict(ref, -1, -1, bx, by, 16, 16, pmv[0][s][0], pmv[0][s][1], averaged);
            } else if (gMb.motionType == kMotionField) {
                Predict(ref, gSlice.fieldSelect[0][s], 0, bx, by >> 1, 16, 8, pmv[0][s][0],
                        pmv[0][s][1] >> 1, averaged);
                Predict(ref, gSlice.fieldSelect[1][s], 1, bx, by >> 1, 16, 8, pmv[1][s][0],
                        pmv[1][s][1] >> 1, averaged);
            } else { // dual prime, forward only
                int mvx = pmv[0][0][0];
                int mvy = pmv[0][0][1] >> 1;
                int dmv[2][2];
                DualPrimeVectors(dmv, mvx, mvy);
                Predict(fwd, 0, 0, bx, by >> 1, 16, 8, mvx, mvy, false);
                Predict(fwd, 1, 0, bx, by >> 1, 16, 8, dmv[0][0], dmv[0][1], true);
                Predict(fwd, 1, 1, bx, by >> 1, 16, 8, mvx, mvy, false);
                Predict(fwd, 0, 1, bx, by >> 1, 16, 8, dmv[1][0], dmv[1][1], true);
            }
        } else {
            // Field picture: the second field of a P frame may refer to the first field, which
            // is in the current frame.
            auto fieldRef = [&](int select) -> uint8_t *const * {
                if (s == 0 && gPic.codingType == 2 && d.secondField && select != currentField) {
                    return bwd;
                }
                return ref;
            };
            if (gMb.motionType == kMotionField) {
                int sel = gSlice.fieldSelect[0][s];
                Predict(fieldRef(sel), sel, -1, bx, by, 16, 16, pmv[0][s][0], pmv[0][s][1],
                        averaged);
            } else if (gMb.motionType == kMotionFrame) { // 16x8
                int sel0 = gSlice.fieldSelect[0][s];
                int sel1 = gSlice.fieldSelect[1][s];
                Predict(fieldRef(sel0), sel0, -1, bx, by, 16, 8, pmv[0][s][0], pmv[0][s][1],
                        averaged);
                Predict(fieldRef(sel1), sel1, -1, bx, by + 8, 16, 8, pmv[1][s][0], pmv[1][s][1],
                        averaged);
            } else { // dual prime
                int dmv[2][2];
                DualPrimeVectors(dmv, pmv[0][0][0], pmv[0][0][1]);
                Predict(fwd, currentField, -1, bx, by, 16, 16, pmv[0][0][0], pmv[0][0][1], false);
                uint8_t *const *opposite = d.secondField ? bwd : fwd;
                Predict(opposite, 1 - currentField, -1, bx, by, 16, 16, dmv[0][0], dmv[0][1], true);
            }
        }
        averaged = true;
    }
}

// Macroblock modes and data; false on a fault (the rest of the slice is skipped).
bool DecodeMacroblock()
{
    const MpegPictureHeader &ph = gMpegPictureHeader;
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    const bool framePicture = gPic.structure == kFramePicture;
    // Modes.
    int typeIndex = gPic.codingType - 1;
    if (typeIndex < 0 || typeIndex > 2) {
        RaiseMpegFault(kMpegFaultMacroblockType);
        return false;
    }
    gMb.type = ReadVlc(gMbTypeTable[typeIndex], kMbTypeBits, kMpegFaultMacroblockType);
    if (Faulted()) {
        return false;
    }
    gMb.motionType = framePicture ? kMotionFrame : kMotionField;
    if (gMb.type & (kMbForward | kMbBackward)) {
        if (!framePicture || !ph.framePredFrameDct) {
            gMb.motionType = int(GetBits(2));
        }
        if (gMb.motionType == 0
            || (gMb.motionType == kMotionDualPrime
                && (gPic.codingType != 2 || (gMb.type & kMbBackward)))) {
            RaiseMpegFault(kMpegFaultMotionType);
            return false;
        }
    }
    gMb.dctType = 0;
    if (framePicture && !ph.framePredFrameDct && (gMb.type & (kMbIntra | kMbPattern))) {
        gMb.dctType = int(GetBits(1));
    }
    if (gMb.type & kMbQuant) {
        gSlice.quantiserScale = QuantiserScale(int(GetBits(5)));
    }
    // Vectors.
    const bool concealment = (gMb.type & kMbIntra) && ph.concealmentMotionVectors;
    if ((gMb.type & kMbForward) || concealment) {
        MotionVectors(0);
        if (Faulted()) {
            return false;
        }
    }
    if (gMb.type & kMbBackward) {
        MotionVectors(1);
        if (Faulted()) {
            return false;
        }
    }
    if (concealment) {
        GetBits(1); // marker
    }
    // Coded block pattern.
    if (gMb.type & kMbIntra) {
        gMb.codedPattern = (1 << d.blockCount) - 1;
    } else if (gMb.type & kMbPattern) {
        int cbp = ReadVlc(gCbpTable, kCbpBits, kMpegFaultBlockPattern);
        if (Faulted()) {
            return false;
        }
        if (d.chromaFormat == 2) {
            cbp = cbp << 2 | int(GetBits(2));
        } else if (d.chromaFormat == 3) {
            cbp = cbp << 6 | int(GetBits(6));
        }
        gMb.codedPattern = cbp;
    } else {
        gMb.codedPattern = 0;
    }
    // Blocks.
    for (int i = 0; i < d.blockCount; ++i) {
        if (!(gMb.codedPattern & (1 << (d.blockCount - 1 - i)))) {
            continue;
        }
        bool ok = (gMb.type & kMbIntra) ? DecodeIntraBlock(i, gBlocks[i])
                                        : DecodeNonIntraBlock(i, gBlocks[i]);
        if (!ok) {
            return false;
        }
    }
    // Predictor resets.
    if (!(gMb.type & kMbIntra)) {
        ResetDcPredictors();
    }
    if ((gMb.type & kMbIntra) && !ph.concealmentMotionVectors) {
        ResetMotionPredictors();
    }
    if (gPic.codingType == 2 && !(gMb.type & (kMbIntra | kMbForward))) {
        // No motion compensation in a P picture: zero vector from the same parity.
        ResetMotionPredictors();
        gMb.type |= kMbForward;
        gMb.motionType = framePicture ? kMotionFrame : kMotionField;
        gSlice.fieldSelect[0][0] = gPic.structure == kBottomField ? 1 : 0;
    }
    return true;
}

void SkippedMacroblock()
{
    const bool framePicture = gPic.structure == kFramePicture;
    ResetDcPredictors();
    if (gPic.codingType == 2) {
        ResetMotionPredictors();
        gMb.type = kMbForward;
    } else {
        // B pictures repeat the previous macroblock's directions and vectors.
        gMb.type &= kMbForward | kMbBackward;
        if (gMb.type == 0) {
            gMb.type = kMbForward;
        }
    }
    gMb.codedPattern = 0;
    gMb.dctType = 0;
    gMb.motionType = framePicture ? kMotionFrame : kMotionField;
    if (!framePicture) {
        int same = gPic.structure == kBottomField ? 1 : 0;
        gSlice.fieldSelect[0][0] = gSlice.fieldSelect[0][1] = same;
    }
}

inline void ClearBlock(int16_t *blk)
{
    const __m128i zero = _mm_setzero_si128();
    for (int k = 0; k < 64; k += 8) {
        _mm_store_si128(reinterpret_cast<__m128i *>(blk + k), zero);
    }
}

// Clears the blocks a fault left half decoded (their AC flags were not set).
void ClearBlocks()
{
    std::memset(gBlocks, 0, sizeof gBlocks);
    std::memset(gBlockAc, 0, sizeof gBlockAc);
}

// Prediction, inverse DCT and block addition of one macroblock; leaves the blocks cleared.
void Reconstruct(int address)
{
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    const Mpeg2Dsp &dsp = *gPic.dsp;
    const bool intra = gMb.type & kMbIntra;
    int bx = 16 * (address % d.mbWidth);
    int by = 16 * (address / d.mbWidth);
    if (!intra) {
        FormPredictions(bx, by);
    }
    const bool framePicture = gPic.structure == kFramePicture;
    for (int i = 0; i < d.blockCount; ++i) {
        int16_t *blk = gBlocks[i];
        bool coded = gMb.codedPattern & (1 << (d.blockCount - 1 - i));
        if (!coded && !intra) {
            continue; // a zero block adds nothing
        }
        uint8_t *dst;
        int stride;
        if (i < 4) {
            int lineStride = gPic.lumaStride;
            if (gMb.dctType) {
                dst = gPic.current[0] + ptrdiff_t(by + (i >> 1)) * lineStride + bx + (i & 1) * 8;
                stride = 2 * lineStride;
            } else {
                dst =
                    gPic.current[0] + ptrdiff_t(by + (i >> 1) * 8) * lineStride + bx + (i & 1) * 8;
                stride = lineStride;
            }
        } else {
            int cc = (i & 1) + 1;
            int cx = d.chromaFormat != 3 ? bx >> 1 : bx;
            int cy = d.chromaFormat == 1 ? by >> 1 : by;
            int lineStride = gPic.chromaStride;
            cx += (i & 8);
            if (framePicture && gMb.dctType && d.chromaFormat != 1) {
                dst = gPic.current[cc] + ptrdiff_t(cy + ((i & 2) >> 1)) * lineStride + cx;
                stride = 2 * lineStride;
            } else {
                dst = gPic.current[cc] + ptrdiff_t(cy + ((i & 2) << 2)) * lineStride + cx;
                stride = lineStride;
            }
        }
        if (!gBlockAc[i]) {
            const int v = IdctDcOnlyValue(blk[0]);
            blk[0] = 0;
            if (intra) {
                const int p = v + 128;
                const uint8_t fill = uint8_t(p < 0 ? 0 : p > 255 ? 255 : p);
                for (int y = 0; y < 8; ++y) {
                    std::memset(dst + ptrdiff_t(y) * stride, fill, 8);
                }
            } else if (v != 0) {
                dsp.addBlockDc(dst, stride, v);
            }
            continue;
        }
        dsp.idct(blk);
        if (intra) {
            dsp.putIntraBlock(dst, stride, blk);
        } else {
            dsp.addBlock(dst, stride, blk);
        }
        ClearBlock(blk);
        gBlockAc[i] = false;
    }
}

// One slice; false when the picture ends (complete, or an error it cannot resume from).
bool DecodeSlice()
{
    const MpegPictureDecoder &d = gMpegPictureDecoder;
    // 1. Slice start code and header. A code that is not a slice is left for the header parser.
    NextStartCode();
    if (gMpegDecoderControl.faultCode.load() >= kMpegFaultEndOfData) {
        return false;
    }
    uint32_t code = ShowBits(32);
    if (code < 0x101 || code > 0x1AF) {
        RaiseMpegFault(kMpegFaultSliceOrMotionCode);
        return false;
    }
    FlushBits(32);
    int verticalExtension = 0;
    ReadSliceHeader(&verticalExtension, &gSlice.quantiserScale);
    int increment = ReadAddressIncrement();
    if (Faulted()) {
        return false;
    }
    int64_t address =
        (int64_t((code & 0xFF) + (verticalExtension << 7)) - 1) * d.mbWidth + increment - 1;
    ResetDcPredictors();
    ResetMotionPredictors();
    gMb.type = 0;
    // 2. Outside the picture: done.
    if (address < 0 || address >= gPic.mbCount) {
        return false;
    }
    // 3. Macroblocks.
    int pending = 1;
    for (;;) {
        if (pending == 0) {
            if (ShowBits(23) == 0 || Faulted()) {
                break;
            }
            pending = ReadAddressIncrement();
            if (Faulted()) {
                break;
            }
        }
        if (pending > 1) {
            SkippedMacroblock();
        } else if (!DecodeMacroblock()) {
            ClearBlocks();
            break;
        }
        Reconstruct(int(address));
        ++address;
        --pending;
        if (address >= gPic.mbCount) {
            return false;
        }
    }
    // 4. End of slice: a fatal code ends the picture, a recoverable one is dropped here.
    if (gMpegDecoderControl.faultCode.load() >= kMpegFaultEndOfData) {
        return false;
    }
    ClearRecoverableMpegFault();
    return true;
}

} // namespace

bool AllocateDecoderFrames()
{
    MpegPictureDecoder &d = gMpegPictureDecoder;
    for (auto &frame : d.frames) {
        for (auto &plane : frame) {
            if (!plane) {
                plane = static_cast<uint8_t *>(std::calloc(kMpegMaxPlaneBytes, 1));
                if (!plane) {
                    return false;
                }
            }
        }
    }
    InitVlcTables();
    InitIdctClipTable();
    return true;
}

bool SetDecoderGeometry(int horizontalSize, int verticalSize, int progressiveSequence,
                        int chromaFormat)
{
    MpegPictureDecoder &d = gMpegPictureDecoder;
    if (horizontalSize <= 0 || verticalSize <= 0) {
        return false;
    }
    int columns = (horizontalSize + 15) / 16;
    int rows = progressiveSequence ? (verticalSize + 15) / 16 : 2 * ((verticalSize + 31) / 32);
    int64_t lumaBytes = int64_t(columns) * 16 * rows * 16;
    if (lumaBytes > kMpegMaxPlaneBytes) {
        return false;
    }
    if (chromaFormat < 1 || chromaFormat > 3) {
        chromaFormat = 1; // reserved: read as 4:2:0
    }
    d.mbWidth = columns;
    d.mbHeight = rows;
    d.codedWidth = 16 * columns;
    d.codedHeight = 16 * rows;
    d.chromaFormat = chromaFormat;
    d.chromaWidth = chromaFormat == 3 ? d.codedWidth : d.codedWidth / 2;
    d.chromaHeight = chromaFormat == 1 ? d.codedHeight / 2 : d.codedHeight;
    d.blockCount = chromaFormat == 1 ? 6 : chromaFormat == 2 ? 8 : 12;
    gMpegStreamInfo.codedWidth = d.codedWidth;
    gMpegStreamInfo.codedHeight = d.codedHeight;
    return true;
}

void ResetPictureDecoder()
{
    MpegPictureDecoder &d = gMpegPictureDecoder;
    d.lastReference = MpegPictureRecord{};
    d.previousReference = MpegPictureRecord{};
    d.secondField = 0;
    d.pictureNumber = 0;
    d.unfinishedReference = 0;
}

void DecodePicture()
{
    MpegPictureDecoder &d = gMpegPictureDecoder;
    const MpegPictureHeader &ph = gMpegPictureHeader;
    if (!d.frames[0][0] || d.mbWidth == 0) {
        return; // no sequence header set the decoder up
    }
    int structure = ph.pictureStructure == 0 ? kFramePicture : ph.pictureStructure;
    const bool reference = ph.codingType != 3;
    // A recoverable fault still pending belongs to a picture that was not handed over (the
    // first I picture of a run, a first field): it must not end this picture too.
    ClearRecoverableMpegFault();
    // 1. A frame picture ends any field pair.
    if (structure == kFramePicture) {
        d.secondField = 0;
    }
    // 2. Records rotate once per reference frame (not again for its second field).
    if (reference && !d.secondField) {
        d.previousReference = d.lastReference;
        d.lastReference = ph.record;
    }
    // 3. Buffers.
    if (reference && !d.secondField) {
        std::swap(d.forward, d.backward);
    }
    int currentIndex = reference ? d.backward : d.auxiliary;
    gPic.structure = structure;
    gPic.codingType = ph.codingType;
    gPic.fieldOffset = structure == kBottomField ? 1 : 0;
    const bool field = structure != kFramePicture;
    gPic.lumaStride = field ? 2 * d.codedWidth : d.codedWidth;
    gPic.chromaStride = field ? 2 * d.chromaWidth : d.chromaWidth;
    gPic.current[0] = d.frames[currentIndex][0] + gPic.fieldOffset * d.codedWidth;
    gPic.current[1] = d.frames[currentIndex][1] + gPic.fieldOffset * d.chromaWidth;
    gPic.current[2] = d.frames[currentIndex][2] + gPic.fieldOffset * d.chromaWidth;
    gPic.mbCount = field ? d.mbWidth * d.mbHeight / 2 : d.mbWidth * d.mbHeight;
    gPic.dsp = &ActiveMpeg2Dsp();
    // Above standard definition the three frames no longer stay in the processor's cache.
    gPic.prefetch = d.codedWidth * d.codedHeight > 720 * 576;
    ForgetQuantWeights();
    // 4. Slices.
    while (DecodeSlice()) {
    }
    // 5. Fatal faults end here without hand-over.
    if (gMpegDecoderControl.faultCode.load() >= kMpegFaultEndOfData) {
        d.unfinishedReference = reference;
        return;
    }
    // 6. Hand-over after a frame picture or a second field, in display order.
    if (!field || d.secondField) {
        if (d.pictureNumber != 0) {
            if (!reference) {
                const uint8_t *const planes[3] = {
                    d.frames[d.auxiliary][0], d.frames[d.auxiliary][1], d.frames[d.auxiliary][2]};
                StoreFrame(planes, ph.record, d.pictureNumber - 1);
            } else {
                const uint8_t *const planes[3] = {d.frames[d.forward][0], d.frames[d.forward][1],
                                                  d.frames[d.forward][2]};
                StoreFrame(planes, d.previousReference, d.pictureNumber - 1);
            }
        } else if (gMpegDecoderControl.locateMode.load() != 3) {
            // Opening and seeking show the one I picture and end the run.
            const uint8_t *const planes[3] = {d.frames[d.backward][0], d.frames[d.backward][1],
                                              d.frames[d.backward][2]};
            StoreFrame(planes, d.lastReference, 0);
            CloseOutputs();
            ExitMpegDecoderThread();
        }
    }
    // 7. Field pairs count once.
    if (field) {
        d.secondField ^= 1;
        if (d.secondField == 0) {
            ++d.pictureNumber;
        }
    } else {
        ++d.pictureNumber;
    }
    d.unfinishedReference = reference && d.secondField;
}

void HandOverLastPicture()
{
    MpegPictureDecoder &d = gMpegPictureDecoder;
    if (!d.frames[0][0] || d.pictureNumber == 0) {
        return;
    }
    const int held = d.unfinishedReference ? d.forward : d.backward;
    const MpegPictureRecord &record = d.unfinishedReference ? d.previousReference : d.lastReference;
    const uint8_t *const planes[3] = {d.frames[held][0], d.frames[held][1], d.frames[held][2]};
    StoreFrame(planes, record, d.pictureNumber - 1);
}
