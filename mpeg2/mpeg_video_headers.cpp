#include "mpeg2/mpeg_video_headers.h"

#include <cstring>

#include "mpeg2/internal/vlc_tables.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_stream_info.h"

MpegPictureHeader gMpegPictureHeader;
MpegQuantMatrices gMpegQuantMatrices;

namespace {

// Frame rates by frame_rate_code; -1 for the reserved codes.
const double kFrameRates[16] = {
    0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60, -1, -1, -1, -1, -1, -1,
    -1};

bool Ended()
{
    return gMpegDecoderControl.faultCode.load(std::memory_order_relaxed) >= kMpegFaultEndOfData;
}

void LoadMatrix(uint8_t *m)
{
    for (int i = 0; i < 64; ++i) {
        m[kZigzagScan[i]] = uint8_t(GetBits(8));
    }
}

void SequenceExtension()
{
    MpegStreamInfo &si = gMpegStreamInfo;
    GetBits(8); // profile and level
    si.progressiveSequence = int(GetBits(1));
    si.chromaFormat = int(GetBits(2));
    int hExt = int(GetBits(2));
    int vExt = int(GetBits(2));
    si.horizontalSize = (si.horizontalSize.load() & 0xFFF) | hExt << 12;
    si.verticalSize = (si.verticalSize.load() & 0xFFF) | vExt << 12;
    GetBits(12); // bit rate extension
    GetBits(1);
    GetBits(8); // vbv buffer size extension
    GetBits(1); // low delay
    int n = int(GetBits(2));
    int d = int(GetBits(5));
    si.frameRate = kFrameRates[si.frameRateCode.load() & 15] * (n + 1) / (d + 1);
}

void QuantMatrixExtension()
{
    MpegQuantMatrices &q = gMpegQuantMatrices;
    if (GetBits(1)) {
        LoadMatrix(q.intra);
        std::memcpy(q.chromaIntra, q.intra, 64);
    }
    if (GetBits(1)) {
        LoadMatrix(q.nonIntra);
        std::memcpy(q.chromaNonIntra, q.nonIntra, 64);
    }
    if (GetBits(1)) {
        LoadMatrix(q.chromaIntra);
    }
    if (GetBits(1)) {
        LoadMatrix(q.chromaNonIntra);
    }
}

void PictureCodingExtension()
{
    MpegPictureHeader &ph = gMpegPictureHeader;
    ph.fCode[0][0] = int(GetBits(4));
    ph.fCode[0][1] = int(GetBits(4));
    ph.fCode[1][0] = int(GetBits(4));
    ph.fCode[1][1] = int(GetBits(4));
    ph.intraDcPrecision = int(GetBits(2));
    ph.pictureStructure = int(GetBits(2));
    ph.topFieldFirst = int(GetBits(1));
    ph.framePredFrameDct = int(GetBits(1));
    ph.concealmentMotionVectors = int(GetBits(1));
    ph.qScaleType = int(GetBits(1));
    ph.intraVlcFormat = int(GetBits(1));
    ph.alternateScan = int(GetBits(1));
    ph.repeatFirstField = int(GetBits(1));
    GetBits(1); // chroma 420 type
    ph.progressiveFrame = int(GetBits(1));
    if (GetBits(1)) {
        GetBits(20); // composite display: v axis, field sequence, sub carrier, burst, phase
    }
    ph.record.progressiveFrame = ph.progressiveFrame;
    ph.record.fieldFlags = ph.topFieldFirst * 2 + ph.repeatFirstField;
}

// Extensions and user data after a sequence, group or picture header. Extensions the system
// does not keep (sequence display, scalable, picture display) are passed over by the start-code
// search.
void ExtensionAndUserData()
{
    for (;;) {
        NextHeaderStartCode();
        if (Ended()) {
            return;
        }
        uint32_t code = ShowBits(32);
        if (code == 0x1B5) {
            FlushBits(32);
            switch (GetBits(4)) {
            case 1:
                SequenceExtension();
                break;
            case 3:
                QuantMatrixExtension();
                break;
            case 8:
                PictureCodingExtension();
                break;
            default:
                break;
            }
        } else if (code == 0x1B2) {
            FlushBits(32);
        } else {
            return;
        }
    }
}

void GroupOfPicturesHeader()
{
    GetBits(25); // time code
    GetBits(2);  // closed GOP, broken link
    ExtensionAndUserData();
}

void PictureHeader()
{
    MpegPictureHeader &ph = gMpegPictureHeader;
    MpegInputFiles &in = gMpegInputFiles;
    GetBits(10); // temporal reference
    ph.codingType = int(GetBits(3));
    ph.record.codingType = ph.codingType;
    if (ph.codingType == 1) {
        // Position of the latest I picture: two sectors before the read position.
        int64_t sector = in.filePosition / kMpegSectorBytes - 2;
        ph.record.fileIndex = in.currentFile;
        ph.record.sector = sector < 0 ? 0 : sector;
        if (gMpegDecoderControl.locateMode.load() == 3) {
            gMpegDecoderControl.restartFile = ph.record.fileIndex;
            gMpegDecoderControl.restartSector = ph.record.sector;
        }
        if (in.filePosition >= gMpegDecoderControl.endOffset.load()) {
            RaiseMpegFault(kMpegFaultEndPosition);
        }
    }
    GetBits(16); // vbv delay
    if (ph.codingType == 2 || ph.codingType == 3) {
        GetBits(4); // full pel and f code: vector ranges come from the coding extension
        if (ph.codingType == 3) {
            GetBits(4);
        }
    }
    while (GetBits(1) && !Ended()) {
        GetBits(8); // extra information
    }
    ExtensionAndUserData();
}

} // namespace

void ParseSequenceHeader()
{
    MpegStreamInfo &si = gMpegStreamInfo;
    MpegQuantMatrices &q = gMpegQuantMatrices;
    si.horizontalSize = int(GetBits(12));
    si.verticalSize = int(GetBits(12));
    GetBits(4); // aspect ratio
    si.frameRateCode = int(GetBits(4));
    GetBits(18); // bit rate
    GetBits(1);
    GetBits(10); // vbv buffer size
    GetBits(1);  // constrained parameters
    if (GetBits(1)) {
        LoadMatrix(q.intra);
    } else {
        std::memcpy(q.intra, kDefaultIntraMatrix, 64);
    }
    if (GetBits(1)) {
        LoadMatrix(q.nonIntra);
    } else {
        std::memset(q.nonIntra, 16, 64);
    }
    std::memcpy(q.chromaIntra, q.intra, 64);
    std::memcpy(q.chromaNonIntra, q.nonIntra, 64);
    ExtensionAndUserData();
}

int GetHeader()
{
    if (Ended()) {
        return 0;
    }
    for (;;) {
        NextHeaderStartCode();
        if (Ended()) {
            return 0;
        }
        uint32_t code = GetBits(32);
        if (code == 0x100) {
            break;
        }
        if (code == 0x1B3) {
            ParseSequenceHeader();
        } else if (code == 0x1B8) {
            GroupOfPicturesHeader();
        }
    }
    PictureHeader();
    return 1;
}

void ReadSliceHeader(int *verticalExtension, int *quantiserScale)
{
    *verticalExtension = gMpegStreamInfo.verticalSize.load() > 2800 ? int(GetBits(3)) : 0;
    *quantiserScale = QuantiserScale(int(GetBits(5)));
    if (GetBits(1)) {
        GetBits(8); // intra slice and reserved bits
        while (GetBits(1) && !Ended()) {
            GetBits(8); // extra information
        }
    }
}

int QuantiserScale(int code)
{
    return gMpegPictureHeader.qScaleType ? kNonLinearQuantiserScale[code & 31] : (code & 31) * 2;
}
