#include "app/avi_first_frame.h"

#include <cstdlib>
#include <vector>

#include "app/main_frame.h"
#include "formats/avi_reader.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/vfw_output.h"
#include "platform/sys/bytes.h"

namespace {
// Frames larger than this are not painted (HD fits).
constexpr int64_t kMaxFrameBytes = int64_t(4096) * 2304 * 4;
} // namespace

void ShowFirstAviFrame(const char *path)
{
    // In a batch nothing is shown; the passes have the reader and the decompressor to themselves.
    if (gSourceKind.isMxf || !gMainFrame || gProcessControl.batchRunning
        || AviOpenRead(path, nullptr, nullptr) != 0) {
        AviCloseRead();
        return;
    }
    void *format = nullptr;
    AviCopyStreamFormat(&format);
    int bits = format ? lc::LoadU16le(static_cast<const uint8_t *>(format) + 14) : 0;
    free(format);
    int width = AviGetFrameWidth();
    int height = AviGetFrameHeight();
    int64_t pixels = int64_t(width) * height;
    bool raw = gAviReadState.isUncompressed != 0;
    if (width <= 0 || height <= 0 || pixels * 4 > kMaxFrameBytes || (raw && bits != 24)
        || (!raw && !OpenVfwDecompressor())) {
        AviCloseRead();
        return;
    }
    // Uncompressed rows are read as they are, padded to 4 bytes; a decompressor gives B,G,R,X.
    int64_t rawRow = (int64_t(width) * 3 + 3) & ~int64_t(3);
    std::vector<uint8_t> chunk(size_t(raw ? rawRow * height : pixels * 4));
    int got = AviSeekFrame(0) ? AviReadSeekedFrame(chunk.data(), int(chunk.size())) : 0;
    std::vector<uint8_t> decoded;
    bool ok = raw ? got >= rawRow * height : got > 0;
    if (ok && !raw) {
        decoded.resize(size_t(pixels * 4));
        ok = VfwDecompressFrame(chunk.data(), got, decoded.data()) == 1;
    }
    if (!raw) {
        CloseVfwDecompressor();
    }
    AviCloseRead();
    if (!ok) {
        return;
    }
    // The main frame's client area takes the picture's size.
    lc::ui::Rect r = gMainFrame->GetWindowRect();
    lc::ui::Rect c = gMainFrame->GetClientRect();
    gMainFrame->MoveWindow(r.left, r.top, width + r.Width() - c.Width(),
                           height + r.Height() - c.Height());
    if (raw) {
        gMainFrame->PaintBitmap(0, 0, width, height, 24, chunk.data(), int(rawRow));
    } else {
        gMainFrame->PaintBitmap(0, 0, width, height, 32, decoded.data(), width * 4);
    }
}
