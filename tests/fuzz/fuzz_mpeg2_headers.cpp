// Fuzz target for the MPEG-2 video header parser alone: the input is a video elementary stream,
// zero-filled to whole 2048-byte sectors (the reader never decodes a partial last one). Every
// header up to each picture is read, then the slice headers of that picture, and what they give
// must lie in the ranges their fields can hold. No picture is decoded: the stream target does that.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/mpeg_video_headers.h"
#include "platform/sys/file.h"
#include "tests/support/fuzz_replay.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;
constexpr int kMaxPictures = 4096;
constexpr uint32_t kFirstSliceCode = 0x101, kLastSliceCode = 0x1AF;

void Check(bool holds)
{
    if (!holds) {
        __builtin_trap();
    }
}

void CheckHeaders()
{
    const MpegStreamInfo &si = gMpegStreamInfo;
    Check(si.horizontalSize.load() >= 0 && si.horizontalSize.load() < (1 << 14));
    Check(si.verticalSize.load() >= 0 && si.verticalSize.load() < (1 << 14));
    Check(si.chromaFormat.load() >= 0 && si.chromaFormat.load() <= 3);
    const MpegPictureHeader &ph = gMpegPictureHeader;
    Check(ph.codingType >= 0 && ph.codingType <= 7);
    Check(ph.pictureStructure >= 0 && ph.pictureStructure <= 3);
    Check(ph.intraDcPrecision >= 0 && ph.intraDcPrecision <= 3);
    Check(ph.record.fieldFlags >= 0 && ph.record.fieldFlags <= 3);
    Check(ph.record.sector >= 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) {
        return 0;
    }
    static const std::string path = lc_test::FuzzWorkPath("fuzz_mpeg2_headers", ".m2v");
    std::vector<uint8_t> stream(data, data + size);
    stream.resize((size + kMpegSectorBytes - 1) / kMpegSectorBytes * kMpegSectorBytes);
    if (!lc::WriteWholeFile(path.c_str(), stream.data(), stream.size())) {
        return 0;
    }
    MpegInputFiles &in = gMpegInputFiles;
    in.fileHandle = lc::FileOpen(path.c_str(), lc::FileMode::Read);
    ::unlink(path.c_str());
    if (in.fileHandle == lc::kNoFile) {
        return 0;
    }
    // What opening a stream sets up, for an elementary stream read from its start.
    in.fileCount = 1;
    in.currentFile = 0;
    in.fileLength = in.totalLength = int64_t(stream.size());
    MpegDecoderControl &c = gMpegDecoderControl;
    c.faultCode = 0;
    c.locateMode = 0;
    c.endOffset = in.fileLength - kMpegSectorBytes;
    gMpegStreamInfo.streamKind = 0;
    PositionMpegInput(0);
    InitializeInputBuffer();
    for (int n = 0; n < kMaxPictures && GetHeader(); ++n) {
        CheckHeaders();
        for (;;) {
            NextStartCode();
            const uint32_t code = ShowBits(32);
            if (c.faultCode.load() >= kMpegFaultEndOfData || code < kFirstSliceCode
                || code > kLastSliceCode) {
                break;
            }
            FlushBits(32);
            int extension = 0, scale = 0;
            ReadSliceHeader(&extension, &scale);
            Check(extension >= 0 && extension <= 7 && scale >= 0 && scale <= 112);
        }
    }
    lc::FileClose(in.fileHandle);
    in.fileHandle = lc::kNoFile;
    return 0;
}
