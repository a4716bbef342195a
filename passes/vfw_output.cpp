#include "passes/vfw_output.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/ui_hooks.h"

VfwOutputState gVfwOutputState;

namespace {

constexpr DWORD kCindrellHandler = mmioFOURCC('c', 'i', 'n', 'd');

// The frames given to the compressor: bottom-up RGB24 of the output frame size.
void SetInputFormat(VfwOutputState &s)
{
    BITMAPINFOHEADER f;
    f.biWidth = AviGetFrameWidth();
    f.biHeight = AviGetFrameHeight();
    f.biSizeImage = uint32_t(f.biWidth) * uint32_t(f.biHeight) * 3;
    s.inputFormat = f;
}

void CloseCompressor(VfwOutputState &s)
{
    ICClose(s.compressorVars.hic);
    s.compressorVars.hic = nullptr;
}

// Makes the output format block hold bytes; false when memory is short.
bool ReserveOutputFormat(VfwOutputState &s, LRESULT bytes)
{
    if (uint32_t(bytes) <= s.outputFormatBytes) {
        return true;
    }
    void *block = std::realloc(s.outputFormat, size_t(bytes));
    if (!block) {
        return false;
    }
    s.outputFormat = static_cast<BITMAPINFOHEADER *>(block);
    s.outputFormatBytes = uint32_t(bytes);
    return true;
}

} // namespace

int BeginAviVideoCompression(const char *path, uint32_t totalFrames, uint32_t scale, uint32_t rate)
{
    VfwOutputState &s = gVfwOutputState;
    COMPVARS &cv = s.compressorVars;
    if (!s.compressorChosen) {
        // 1. The first movie of a run that needs a compressor: the user chooses.
        ICCompressorFree(&cv);
        cv = COMPVARS{};
        cv.cbSize = kCompVarsSize;
        if (!ICCompressorChoose(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE, nullptr,
                                nullptr, &cv, nullptr)) {
            return 0;
        }
        s.isCindrellCodec = cv.hic && cv.fccHandler == kCindrellHandler;
        if (cv.hic) {
            s.chosenHandler = cv.fccHandler;
            SetInputFormat(s);
            const LRESULT n =
                ICSendMessage(cv.hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&s.inputFormat), 0);
            if (n <= 0 || !ReserveOutputFormat(s, n)) {
                ShowError("Codec error 5, probably cannot encode from rgb24, try another "
                          "compression format");
                CloseCompressor(s);
                return 0;
            }
        } else {
            // "Full Frames (Uncompressed)": for the rest of the run.
            gConversionState.uncompressedOutput = 1;
            s.inputFormat = BITMAPINFOHEADER{};
            s.inputFormat.biSize = 40;
        }
        s.compressorChosen = 1;
    } else if (!gConversionState.uncompressedOutput) {
        // 2. A later batch movie reopens the first movie's compressor, without asking.
        CloseCompressor(s);
        cv.hic = ICOpen(ICTYPE_VIDEO, cv.fccHandler, ICMODE_COMPRESS);
        s.isCindrellCodec = cv.hic && cv.fccHandler == kCindrellHandler;
    }

    // 3. This movie's frame size.
    SetInputFormat(s);

    // 4. Output format and begin. A movie of another size may need a larger format block.
    if (cv.hic) {
        const LRESULT n =
            ICSendMessage(cv.hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&s.inputFormat), 0);
        if (n <= 0 || !ReserveOutputFormat(s, n)
            || ICSendMessage(cv.hic, ICM_COMPRESS_GET_FORMAT, DWORD_PTR(&s.inputFormat),
                             DWORD_PTR(s.outputFormat))
                   != ICERR_OK) {
            ShowError("Codec error 4, probably cannot encode from rgb24, try another compression "
                      "format");
            CloseCompressor(s);
            return 0;
        }
        if (ICSendMessage(cv.hic, ICM_COMPRESS_BEGIN, DWORD_PTR(&s.inputFormat),
                          DWORD_PTR(s.outputFormat))
            != ICERR_OK) {
            ShowError(s.isCindrellCodec
                          ? "Cindrell Codec error, Cindrell output folder not configured?"
                          : "Codec error 3, ICCompressBegin failed, try another compression "
                            "format");
            CloseCompressor(s);
            return 0;
        }
    } else if (!gConversionState.uncompressedOutput) {
        // A later batch movie whose compressor cannot be opened again.
        ShowError("Codec error 4, probably cannot encode from rgb24, try another compression "
                  "format");
        return 0;
    }

    // 5. The AVI header; a refused header (the writer told the user) is no ready output.
    const void *format = cv.hic ? static_cast<const void *>(s.outputFormat)
                                : static_cast<const void *>(&s.inputFormat);
    if (!AviWriteHeader(path, totalFrames, scale, rate, "Kestra", 0, format)) {
        EndAviVideoCompression();
        return 0;
    }
    return 1;
}

uint32_t CompressAviFrame(const void *bits)
{
    VfwOutputState &s = gVfwOutputState;
    HIC hic = s.compressorVars.hic;
    if (!hic) {
        SetInputFormat(s);
        const uint32_t bytes = s.inputFormat.biSizeImage;
        AviWriteVideoFrame(bits, bytes);
        return bytes;
    }
    // Every frame alone, as a key frame.
    const LRESULT size = ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, DWORD_PTR(&s.inputFormat),
                                       DWORD_PTR(s.outputFormat));
    if (size <= 0) {
        return 0;
    }
    // Kept from frame to frame: only its size changes.
    static std::vector<uint8_t> buffer;
    if (buffer.size() < size_t(size)) {
        buffer.resize(size_t(size));
    }
    DWORD flags = 0;
    s.outputFormat->biSizeImage = 0;
    const DWORD result =
        ICCompress(hic, ICCOMPRESS_KEYFRAME, s.outputFormat, buffer.data(), &s.inputFormat, bits,
                   nullptr, &flags, 0, 0, 0, nullptr, nullptr);
    // A failed compression, or a size past the buffer, writes nothing and counts as an error.
    const uint32_t bytes = s.outputFormat->biSizeImage;
    if (result != ICERR_OK || bytes == 0 || bytes > size_t(size)) {
        return 0;
    }
    AviWriteVideoFrame(buffer.data(), bytes);
    return bytes;
}

void EndAviVideoCompression()
{
    VfwOutputState &s = gVfwOutputState;
    if (s.compressorVars.hic) {
        ICSendMessage(s.compressorVars.hic, ICM_COMPRESS_END, 0, 0);
        CloseCompressor(s);
    }
}

int OpenVfwDecompressor(int width, int height)
{
    CloseVfwDecompressor();
    if (gAviReadState.isUncompressed) {
        return 1;
    }
    return gUiHooks.openVfwDecompressor ? gUiHooks.openVfwDecompressor(width, height) : 0;
}

int VfwDecompressFrame(const uint8_t *data, int size, uint8_t *out)
{
    if (!data || !out || size <= 0 || !gUiHooks.vfwDecompressFrame) {
        return 0;
    }
    return gUiHooks.vfwDecompressFrame(data, size, out);
}

void CloseVfwDecompressor()
{
    if (gUiHooks.closeVfwDecompressor) {
        gUiHooks.closeVfwDecompressor();
    }
}
