#include "app/avi_first_frame.h"

#include <cstdlib>
#include <vector>

#include "app/main_frame.h"
#include "formats/avi_reader.h"
#include "passes/source_kind.h"
#include "platform/sys/bytes.h"

namespace {
// Frames larger than this are not painted (HD 24-bit fits).
constexpr int kMaxFrameBytes = 4096 * 2304 * 3;
} // namespace

void ShowFirstAviFrame(const char *path)
{
    if (gSourceKind.isMxf || !gMainFrame || AviOpenRead(path, nullptr, nullptr) != 0) {
        AviCloseRead();
        return;
    }
    void *format = nullptr;
    AviCopyStreamFormat(&format);
    int bits = format ? lc::LoadU16le(static_cast<const uint8_t *>(format) + 14) : 0;
    free(format);
    int width = AviGetFrameWidth();
    int height = AviGetFrameHeight();
    // Rows of a 24-bit DIB are padded to 4 bytes.
    int64_t rowBytes = (int64_t(width) * 3 + 3) & ~int64_t(3);
    if (!gAviReadState.isUncompressed || bits != 24 || width <= 0 || height <= 0
        || rowBytes * height > kMaxFrameBytes) {
        AviCloseRead();
        return;
    }
    std::vector<uint8_t> frame(size_t(rowBytes * height));
    int got = AviSeekFrame(0) ? AviReadSeekedFrame(frame.data(), int(frame.size())) : 0;
    AviCloseRead();
    if (got < rowBytes * height) {
        return;
    }
    // The main frame's client area takes the picture's size.
    lc::ui::Rect r = gMainFrame->GetWindowRect();
    lc::ui::Rect c = gMainFrame->GetClientRect();
    gMainFrame->MoveWindow(r.left, r.top, width + r.Width() - c.Width(),
                           height + r.Height() - c.Height());
    gMainFrame->PaintBitmap(0, 0, width, height, 24, frame.data(), int(rowBytes));
}
