#include "mpeg2_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <unistd.h>

#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_stream_info.h"
#include "platform/sys/file.h"
#include "tests/support/fixture_script.h"

std::vector<CollectedPicture> DecoderHarness::pictures;
std::vector<std::string> DecoderHarness::traces;
std::vector<std::string> DecoderHarness::errors;

namespace {

void Collect(const uint8_t *const planes[3], const MpegPictureRecord &record, int index)
{
    CollectedPicture p;
    p.record = record;
    p.index = index;
    const MpegStreamInfo &si = gMpegStreamInfo;
    int cw = si.codedWidth.load();
    // A later sequence header may announce another size than the planes were set up for.
    int w = std::min(si.horizontalSize.load(), cw);
    int h = std::min(si.verticalSize.load(), si.codedHeight.load());
    int cf = si.chromaFormat.load();
    for (int c = 0; c < 3; ++c) {
        int pw = c == 0 || cf == 3 ? w : (w + 1) / 2;
        int ph = c == 0 || cf != 1 ? h : (h + 1) / 2;
        int stride = c == 0 || cf == 3 ? cw : cw / 2;
        for (int y = 0; y < ph; ++y) {
            p.planes[c].insert(p.planes[c].end(), planes[c] + size_t(y) * stride,
                               planes[c] + size_t(y) * stride + pw);
        }
    }
    DecoderHarness::pictures.push_back(std::move(p));
}

void Trace(const char *line)
{
    DecoderHarness::traces.emplace_back(line);
}

void Error(const char *text)
{
    DecoderHarness::errors.emplace_back(text);
}

} // namespace

DecoderHarness::DecoderHarness()
{
    pictures.clear();
    traces.clear();
    errors.clear();
    gMpegPictureSink = MpegPictureSink{};
    gMpegPictureSink.prepareFrame = Collect;
    gMpeg2Hooks = Mpeg2Hooks{};
    gMpeg2Hooks.debugOutput = Trace;
    gMpeg2Hooks.showError = Error;
    gMpegDecoderControl.pictureCount = 0;
}

DecoderHarness::~DecoderHarness()
{
    StopMpegDecoder();
    ResetMpegInputFile();
    gMpegPictureSink = MpegPictureSink{};
    gMpeg2Hooks = Mpeg2Hooks{};
    gMpegDecoderControl.pictureCount = 0;
    gMpegDecoderControl.processingMode = 0;
}

bool DecoderHarness::WaitIdle()
{
    for (int i = 0; i < 30000; ++i) {
        if (!IsMpegDecoderRunning()) {
            return true;
        }
        ::usleep(1000);
    }
    return false;
}

std::vector<CollectedPicture> DecoderHarness::DecodeWholeFile(const std::string &path)
{
    OpenMpegAndStartDecoder(path.c_str());
    WaitIdle();
    pictures.clear();
    StartOrPauseMpegDecoding();
    WaitIdle();
    return pictures;
}

const std::string &Mpeg2FixtureDir()
{
    static const std::string dir = [] {
        std::string d = std::string(LC_BINARY_DIR) + "/fixtures/mpeg2";
        std::string script = std::string(LC_SOURCE_DIR) + "/tests/fixtures/mpeg2_make_fixtures.sh";
        (void)lc_test::MakeFixturesOnce(d, d + "/.made", script, {"sh", script, d});
        return d;
    }();
    return dir;
}

std::string Mpeg2Fixture(const std::string &name)
{
    return Mpeg2FixtureDir() + "/" + name;
}

std::string WriteTempFile(const std::string &name, const std::vector<uint8_t> &bytes)
{
    std::string path =
        std::string(LC_BINARY_DIR) + "/mpeg2_tmp_" + std::to_string(::getpid()) + "_" + name;
    (void)lc::WriteWholeFile(path.c_str(), bytes.data(), bytes.size());
    return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string &path)
{
    auto r = lc::ReadWholeFile(path.c_str());
    if (!r) {
        return {};
    }
    return std::vector<uint8_t>(r->begin(), r->end());
}

void BitWriter::Put(uint32_t value, int n)
{
    for (int i = n - 1; i >= 0; --i) {
        bits_.push_back(uint8_t((value >> i) & 1));
    }
}

void BitWriter::Align()
{
    while (bits_.size() % 8) {
        bits_.push_back(0);
    }
}

void BitWriter::StartCode(uint8_t code)
{
    Align();
    Put(0x000001, 24);
    Put(code, 8);
}

std::vector<uint8_t> BitWriter::Bytes(size_t zeroPadding)
{
    Align();
    std::vector<uint8_t> out;
    for (size_t i = 0; i < bits_.size(); i += 8) {
        uint8_t v = 0;
        for (size_t j = 0; j < 8; ++j) {
            v = uint8_t(v << 1 | bits_[i + j]);
        }
        out.push_back(v);
    }
    out.resize(out.size() + zeroPadding, 0);
    return out;
}

void PutSequenceHeader(BitWriter &b, int width, int height, int frameRateCode, bool extension,
                       int hExt, int vExt, int rateN, int rateD)
{
    b.StartCode(0xB3);
    b.Put(uint32_t(width), 12);
    b.Put(uint32_t(height), 12);
    b.Put(1, 4);
    b.Put(uint32_t(frameRateCode), 4);
    b.Put(1000, 18);
    b.Put(1, 1);
    b.Put(10, 10);
    b.Put(0, 3); // constrained, no matrices
    if (extension) {
        b.StartCode(0xB5);
        b.Put(1, 4);
        b.Put(0x48, 8);
        b.Put(1, 1); // progressive
        b.Put(1, 2); // 4:2:0
        b.Put(uint32_t(hExt), 2);
        b.Put(uint32_t(vExt), 2);
        b.Put(0, 12);
        b.Put(1, 1);
        b.Put(0, 8);
        b.Put(0, 1);
        b.Put(uint32_t(rateN), 2);
        b.Put(uint32_t(rateD), 5);
    }
}

void OpenInputDirect(const std::string &path)
{
    MpegInputFiles &in = gMpegInputFiles;
    if (in.fileHandle != lc::kNoFile) {
        lc::FileClose(in.fileHandle);
    }
    in.fileHandle = lc::FileOpen(path.c_str(), lc::FileMode::Read);
    in.fileLength = in.totalLength = lc::FileSize(in.fileHandle);
    gMpegStreamInfo.streamKind = 0;
    gMpegDecoderControl.faultCode = 0;
    PositionMpegInput(0);
    InitializeInputBuffer();
}
