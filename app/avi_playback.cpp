#include "app/avi_playback.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/player_controls.h"
#include "formats/avi_reader.h"
#include "formats/dv_setup.h"
#include "formats/mxf_reader.h"
#include "formats/source_timing.h"
#include "passes/conversion_state.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/ui_hooks.h"
#include "platform/sys/bytes.h"
#include "platform/sys/clock.h"
#include "platform/sys/text.h"
#include "platform/ui/gui_thread.h"
#include "platform/ui/window.h"

AviPlayback gAviPlayback;
PlaybackDecompressor gPlaybackDecompressor = VfwPlaybackDecompressor();

namespace {

std::atomic<lc::ui::CFrameWnd *> gMainFrameWnd{nullptr};
std::atomic<lc::ui::CWnd *> gPictureWnd{nullptr};

// What the open learned about the movie, for the thread and the pass helpers.
std::atomic<int> gUncompressed{0};   // AVI frames painted as read
std::atomic<int> gSourceBitCount{0}; // of those frames
std::atomic<int> gPaintedWidth{0};   // size PaintRgbFrame painted last
std::atomic<int> gPaintedHeight{0};

// Moves the main frame to (30, 30) with its client area width x height.
void FitMainFrameAt30(int width, int height)
{
    lc::ui::CFrameWnd *frame = gMainFrameWnd.load();
    if (!frame || !frame->IsCreated()) {
        return;
    }
    const lc::ui::Rect w = frame->GetWindowRect();
    const lc::ui::Rect c = frame->GetClientRect();
    const int borderX = std::abs(w.Width() - c.Width());
    const int borderY = std::abs(w.Height() - c.Height());
    frame->MoveWindow(30, 30, width + borderX, height + borderY);
}

// rowBytes 0: DIB rows, each padded to 4 bytes (frames read from an AVI file). The MXF decoder
// and the passes write rows of exactly width x 3 bytes, and are painted with that pitch, so a
// width that is not a multiple of 4 neither shears nor reads past the frame.
void Paint(const uint8_t *bits, int width, int height, int bitsPerPixel, int rowBytes = 0)
{
    lc::ui::CWnd *picture = gPictureWnd.load();
    if (picture && bits) {
        picture->PaintBitmap(0, 0, width, height, bitsPerPixel, bits, rowBytes);
    }
}

// Bytes of a bottom-up DIB of that size.
int64_t DibBytes(int width, int height, int bitsPerPixel)
{
    return (int64_t(width) * bitsPerPixel + 31) / 32 * 4 * height;
}

void SetInputSizeImage(uint32_t bytes)
{
    if (gAviPlayback.inputFormat) {
        lc::StoreU32le(static_cast<uint8_t *>(gAviPlayback.inputFormat) + 20, bytes);
    }
}

uint32_t InputCompression()
{
    if (!gAviPlayback.inputFormat) {
        return 0;
    }
    return lc::LoadU32le(static_cast<const uint8_t *>(gAviPlayback.inputFormat) + 16);
}

void CloseDecompressor(void *&ic, bool begun)
{
    if (!ic) {
        return;
    }
    if (begun && gPlaybackDecompressor.end) {
        gPlaybackDecompressor.end(ic);
    }
    if (gPlaybackDecompressor.close) {
        gPlaybackDecompressor.close(ic);
    }
    ic = nullptr;
}

void *OpenDecompressor(uint32_t code)
{
    return gPlaybackDecompressor.open ? gPlaybackDecompressor.open(code) : nullptr;
}

// What MxfOpen tells of a clip; zeros for what a file does not hold.
struct MxfClip
{
    int result = MxfNoEssence;
    int32_t frames = 0;
    int width = 0;
    int height = 0;
    int frameBytes = 0;
    float frameRate = 0;
};

MxfClip OpenMxfClip(const char *path)
{
    MxfClip c;
    uint64_t duration = 0;
    int quantBits = 0;
    float aspect = 0;
    c.result = MxfOpen(path, &duration, &c.height, &c.width, &quantBits, &c.frameRate,
                       &c.frameBytes, &aspect);
    c.frames = int32_t(std::min<uint64_t>(duration, INT32_MAX));
    return c;
}

// Paces one frame: sleeps what is left of scale / rate seconds after t0.
void PaceFrame(uint32_t t0, uint32_t rate, uint32_t scale)
{
    const uint32_t elapsed = lc::NowMs() - t0; // modulo 2^32
    if (rate == 0) {
        return;
    }
    const int64_t period = int64_t(scale) * 1000 / int64_t(rate);
    if (period - int64_t(elapsed) > 0) {
        lc::SleepMs(uint32_t(period - int64_t(elapsed)));
    }
}

// One playback: open, frames, close.
void PlayOnce()
{
    AviPlayback &p = gAviPlayback;
    const bool mxf = gSourceKind.isMxf != 0;
    bool mxfOpen = false;
    bool readerOpen = false;
    void *ic = nullptr;
    bool begun = false;
    int64_t n = 0;
    uint32_t rate = 0;
    uint32_t scale = 0;
    int width = 0;
    int height = 0;

    // 1. The movie, again on this thread; no name or no buffers: nothing to show.
    if (p.fileName[0] && p.decodedFrame && p.readBuffer) {
        if (mxf) {
            const MxfClip clip = OpenMxfClip(p.fileName);
            if (clip.result == MxfVideoFile) {
                mxfOpen = true;
                n = clip.frames;
                width = clip.width;
                height = clip.height;
                // Only a real rate is converted: a file's rational can overflow the integer.
                rate =
                    MxfIsRealFrameRate(clip.frameRate) ? uint32_t(clip.frameRate * 100 + 0.5f) : 0;
                scale = 100;
            }
        } else {
            uint32_t total = 0;
            readerOpen = true;
            if (AviOpenRead(p.fileName, &total, nullptr) == kAviOpenOk) {
                n = total;
                width = AviGetFrameWidth();
                height = AviGetFrameHeight();
                rate = gSourceTiming.rate;
                scale = gSourceTiming.scale;
            } else {
                n = -1;
            }
        }
    }
    // 2. Compressed AVI: open and begin the decompressor.
    bool ok = mxfOpen || (readerOpen && n >= 0);
    if (ok && !mxf && !gUncompressed) {
        ic = OpenDecompressor(InputCompression());
        begun = ic && gPlaybackDecompressor.begin
                && gPlaybackDecompressor.begin(ic, p.inputFormat, &p.outputFormat) == 0;
        ok = begun;
    }

    // 3. Per frame.
    int idx = p.frameIndex;
    while (ok && idx <= n) {
        // a. A size other than the one being shown: refit, within the buffers of the open.
        if (width != p.outputFormat.biWidth || height != p.outputFormat.biHeight) {
            if (width <= 0 || height <= 0 || width > kPlaybackMaxFrameSide
                || height > kPlaybackMaxFrameSide
                || size_t(width) * size_t(height) * 4 > p.bufferBytes) {
                break;
            }
            p.outputFormat.biWidth = width;
            p.outputFormat.biHeight = height;
            p.outputFormat.biSizeImage = uint32_t(width) * uint32_t(height) * 4;
            p.frameWidth = width;
            p.frameHeight = height;
            FitMainFrameAt30(width, height);
        }
        // b. Start of the frame period.
        const uint32_t t0 = lc::NowMs();
        // c. The slider follows, unless it asked for this frame itself.
        const int step = gPlayerState.step;
        if (n > 0 && !(p.seekRequested && step == 0)) {
            SetPlayerSlider(int(int64_t(idx) * 100 / n));
        }
        // d. A step or a seek shows one frame and ends the playback.
        if (step != 0) {
            idx = int(std::clamp<int64_t>(int64_t(idx) + step, 0, std::max<int64_t>(n - 1, 0)));
            p.stopRequested = 1;
            p.seekRequested = 0;
            gPlayerState.step = 0;
        } else if (p.seekRequested) {
            const int percent = std::clamp(gPlayerState.sliderPercent.load(), 0, 100);
            // The right end of the slider is the last frame, not one past it.
            idx = int(std::min<int64_t>(percent * n / 100, std::max<int64_t>(n - 1, 0)));
            p.stopRequested = 1;
            p.seekRequested = 0;
        }
        p.frameIndex = idx;
        // e. Read, decode and paint (f).
        if (idx >= n) {
            p.stopRequested = 1;
        } else if (mxf) {
            const int still = (p.stopRequested || p.paused) ? 1 : 0;
            MxfDecodeFrameAt(idx, width, height, p.decodedFrame, still);
            Paint(p.decodedFrame, width, height, 24, width * 3);
        } else {
            int size = 0;
            if (AviSeekFrame(uint32_t(idx))) {
                size =
                    AviReadSeekedFrame(p.readBuffer, int(std::min<size_t>(p.bufferBytes, INT_MAX)));
            } else {
                p.stopRequested = 1;
            }
            if (size <= 0) {
                // Nothing was read: the buffers hold an older frame, which is not shown.
                break;
            }
            SetInputSizeImage(uint32_t(size));
            if (gUncompressed) {
                const int bits = gSourceBitCount;
                p.outputFormat.biBitCount = uint16_t(bits);
                // A short frame would paint what the buffer held before.
                if (DibBytes(width, height, bits) <= size) {
                    Paint(p.readBuffer, width, height, bits);
                }
            } else {
                if (gPlaybackDecompressor.decompress(ic, p.inputFormat, p.readBuffer,
                                                     &p.outputFormat, p.decodedFrame)
                    != 0) {
                    break;
                }
                Paint(p.decodedFrame, width, height, 32);
            }
        }
        // g. Pacing to the frame rate.
        PaceFrame(t0, rate, scale);
        // h. Stop, or wait while paused (a paused MXF frame is shown fully decoded).
        if (p.stopRequested) {
            break;
        }
        if (p.paused) {
            if (mxf && idx < n) {
                MxfDecodeFrameAt(idx, width, height, p.decodedFrame, 1);
                Paint(p.decodedFrame, width, height, 24, width * 3);
            }
            while (p.paused && !p.stopRequested) {
                lc::SleepMs(100);
            }
            if (p.stopRequested) {
                break;
            }
        }
        // i. Next frame; the round with idx == n paints nothing and ends.
        ++idx;
        p.frameIndex = idx;
    }

    // 4. End: close what this thread opened.
    if (mxfOpen) {
        MxfClose();
    }
    CloseDecompressor(ic, begun);
    if (readerOpen) {
        AviCloseRead();
    }
}

void AviPlaybackThread()
{
    AviPlayback &p = gAviPlayback;
    // A slider move or step that came while the playback was ending saw the thread running and
    // started none: it is served by another round here, or by the thread RestartAviPlayback
    // starts once threadRunning is 0 (whoever sets threadRunning from 0 to 1 serves it).
    do {
        PlayOnce();
        p.stopRequested = 1;
        p.paused = 0;
        p.threadRunning.store(0);
        lc::WakeWaiters();
    } while (p.seekRequested.load() && p.threadRunning.exchange(1) == 0);
}

// Starts the thread; threadRunning is set by the caller. A thread that has ended is joined first.
bool StartPlaybackThread()
{
    AviPlayback &p = gAviPlayback;
    if (p.thread.Joinable()) {
        p.thread.Join();
    }
    if (!p.thread.Start(&AviPlaybackThread)) {
        ShowError("Could not create AVI playback process");
        p.threadRunning = 0;
        return false;
    }
    return true;
}

void FreeBuffers()
{
    AviPlayback &p = gAviPlayback;
    delete[] p.decodedFrame;
    p.decodedFrame = nullptr;
    delete[] p.readBuffer;
    p.readBuffer = nullptr;
    p.bufferBytes = 0;
}

} // namespace

void SetPlaybackWindows(lc::ui::CFrameWnd *mainFrame, lc::ui::CWnd *picture)
{
    gMainFrameWnd = mainFrame;
    gPictureWnd = picture;
    // New windows are fitted to the first frame painted into them.
    gPaintedWidth = 0;
    gPaintedHeight = 0;
}

lc::ui::CFrameWnd *PlaybackMainFrame()
{
    return gMainFrameWnd.load();
}

lc::ui::CWnd *PlaybackPictureWindow()
{
    return gPictureWnd.load();
}

void ReopenAviPlayback(const char *path)
{
    AviStopPlayback();
    OpenMovieForPlayback(path);
}

void OpenMovieForPlayback(const char *path)
{
    AviPlayback &p = gAviPlayback;
    if (!path || !path[0]) {
        return;
    }
    // The buffers are replaced below: no thread may still use them.
    AviStopPlayback();
    // 1. No decompressor yet.
    p.decompressor = nullptr;
    const bool mxf = gSourceKind.isMxf != 0;
    int width = 0;
    int height = 0;
    // 2. The movie's size and frame count.
    if (mxf) {
        const MxfClip clip = OpenMxfClip(path);
        gConversionState.sourceFrameCount = clip.frames;
        MxfClose();
        (void)lc::CopyText(p.fileName, path);
        width = clip.width;
        height = clip.height;
        // A file without video leaves the size 0, which the set-up refuses.
        if (!SetupDecoderForFrameSize(height, width, clip.frameBytes)) {
            ShowError("Could not allocate memory for MXF playback");
            p.fileName[0] = 0;
            return;
        }
    } else {
        uint32_t total = 0;
        const int result = AviOpenRead(path, &total, nullptr);
        gConversionState.sourceFrameCount = int32_t(std::min<uint32_t>(total, INT32_MAX));
        if (result != kAviOpenOk) {
            // The movie object opened it a moment ago; a file that is gone now shows nothing.
            AviCloseRead();
            p.fileName[0] = 0;
            return;
        }
        (void)lc::CopyText(p.fileName, path);
        width = AviGetFrameWidth();
        height = AviGetFrameHeight();
    }
    // 3. Buffers of width x height x 4 bytes; sizes past the cap cannot be allocated either.
    FreeBuffers();
    if (width > 0 && height > 0 && width <= kPlaybackMaxFrameSide
        && height <= kPlaybackMaxFrameSide) {
        const size_t bytes = size_t(width) * size_t(height) * 4;
        p.decodedFrame = new (std::nothrow) uint8_t[bytes];
        p.readBuffer = new (std::nothrow) uint8_t[bytes];
        p.bufferBytes = bytes;
    }
    if (!p.decodedFrame || !p.readBuffer) {
        FreeBuffers();
        ShowError("Could not allocate memory for AVI playback");
        if (!mxf) {
            AviCloseRead();
        }
        p.fileName[0] = 0;
        return;
    }
    // 4. Compressed AVI: prove that a decompressor takes the code.
    gUncompressed = (!mxf && gAviReadState.isUncompressed) ? 1 : 0;
    void *probe = nullptr;
    if (!mxf) {
        AviCopyStreamFormat(&p.inputFormat);
        gSourceBitCount =
            p.inputFormat ? lc::LoadU16le(static_cast<const uint8_t *>(p.inputFormat) + 14) : 0;
        if (!gUncompressed) {
            probe = OpenDecompressor(InputCompression());
            if (!probe) {
                char text[300];
                (void)lc::FormatText(text, sizeof text,
                                     "Could not find codec \"%s\" installed for this AVI",
                                     gAviReadState.compressionText);
                ShowError(text);
                AviCloseRead();
                p.fileName[0] = 0;
                return;
            }
        }
    }
    // 5. The paint format.
    p.outputFormat = AviBitmapHeader{};
    p.outputFormat.biWidth = width;
    p.outputFormat.biHeight = height;
    p.outputFormat.biBitCount = mxf ? 24 : 32;
    p.outputFormat.biSizeImage = uint32_t(width) * uint32_t(height) * (mxf ? 3 : 4);
    p.frameWidth = width;
    p.frameHeight = height;
    // 6. The main frame around the picture.
    FitMainFrameAt30(width, height);
    // 7. The thread shows frame 0 and ends.
    p.paused = 0;
    p.stopRequested = 1;
    gPlayerState.step = 0;
    p.seekRequested = 0;
    p.frameIndex = 0;
    if (!mxf) {
        AviCloseRead();
    }
    p.threadRunning = 1;
    CloseDecompressor(probe, false);
    // 8. Start it.
    (void)StartPlaybackThread();
}

void StartOrPauseAviPlayback()
{
    AviPlayback &p = gAviPlayback;
    if (p.threadRunning) {
        p.paused = p.paused ? 0 : 1;
        return;
    }
    p.paused = 0;
    p.frameIndex = 0;
    p.stopRequested = 0;
    p.seekRequested = 0;
    gPlayerState.step = 0;
    p.threadRunning = 1;
    (void)StartPlaybackThread();
}

void RestartAviPlayback()
{
    AviPlayback &p = gAviPlayback;
    // 1. One at a time.
    if (p.restartBusy) {
        return;
    }
    // 2. A paused playback only ends.
    if (p.threadRunning && p.paused) {
        gPlayerState.step = 0; // this step is spent on ending the pause
        p.paused = 0;
        p.stopRequested = 1;
        return;
    }
    // 3. Ask for the frame; start the thread when none runs.
    p.restartBusy = 1;
    p.paused = 0;
    p.stopRequested = 0;
    p.seekRequested = 1;
    if (p.threadRunning.exchange(1) == 0) {
        // A failed start clears the busy flag too, so later moves are not ignored for good.
        (void)StartPlaybackThread();
    }
    p.restartBusy = 0;
}

void AviStopPlayback()
{
    AviPlayback &p = gAviPlayback;
    // Also with the name already cleared: a thread still running would read on.
    if (p.threadRunning) {
        p.seekRequested = 0; // no further round
        p.paused = 0;
        p.stopRequested = 1;
        if (lc::ui::IsGuiThread() && lc::ui::HasGuiThread()) {
            lc::ui::WaitHandlingCalls(
                [] { return gAviPlayback.threadRunning.load(std::memory_order_acquire) == 0; });
        }
    }
    if (p.thread.Joinable()) {
        p.thread.Join();
    }
}

int IsAviPlaybackOpen()
{
    return gAviPlayback.threadRunning;
}

void ClearPlaybackFileName()
{
    gAviPlayback.fileName[0] = 0;
}

void AviResizePlaybackWindow()
{
    lc::ui::CFrameWnd *frame = gMainFrameWnd.load();
    if (!frame || !frame->IsCreated()) {
        return;
    }
    const lc::ui::Rect w = frame->GetWindowRect();
    const lc::ui::Rect c = frame->GetClientRect();
    frame->MoveWindow(w.left, 0, gAviPlayback.frameWidth + (w.Width() - c.Width()),
                      gAviPlayback.frameHeight + (w.Height() - c.Height()));
}

void InstallAviPlaybackHooks()
{
    gUiHooks.stopAviPlayback = &AviStopPlayback;
    gUiHooks.resizePlaybackWindow = &AviResizePlaybackWindow;
    gUiHooks.paintPlayerFrame = &PaintRgbFrame;
    InstallPassDecompressor();
}

void PaintRgbFrame(const uint8_t *bits, int height, int width)
{
    if (!bits || width <= 0 || height <= 0) {
        return;
    }
    if (width != gPaintedWidth || height != gPaintedHeight) {
        gPaintedWidth = width;
        gPaintedHeight = height;
        FitMainFrameAt30(width, height);
    }
    Paint(bits, width, height, 24, width * 3);
}

void *AllocPlaybackMemory(size_t bytes)
{
    return new (std::nothrow) uint8_t[bytes];
}

void FreePlaybackMemory(void *block)
{
    delete[] static_cast<uint8_t *>(block);
}
