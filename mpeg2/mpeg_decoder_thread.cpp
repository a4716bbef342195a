#include "mpeg2/mpeg_decoder_thread.h"

#include <cstdio>
#include <limits>

#include "engine/conversion_options.h"
#include "engine/frame_store.h"
#include "mpeg2/internal/demux_audio.h"
#include "mpeg2/mpeg2_hooks.h"
#include "mpeg2/mpeg_audio_sink.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_picture_decoder.h"
#include "mpeg2/mpeg_picture_output.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/mpeg_video_headers.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "platform/sys/clock.h"
#include "platform/sys/text.h"
#include "platform/sys/thread.h"

namespace {

// Unwinds the decoder thread to its function from a fatal path.
struct DecoderThreadExit
{
};

lc::Thread gThread;
bool gFirstOpenDone = false;

MpegDecoderControl &Ctl()
{
    return gMpegDecoderControl;
}

bool FileOpen()
{
    return gMpegInputFiles.fileHandle != lc::kNoFile;
}

int64_t EndOffsetOf(int64_t length)
{
    return (length / kMpegSectorBytes) * kMpegSectorBytes - kMpegSectorBytes;
}

// Starts the thread; running was set by the caller. A failed start leaves running at 0.
bool StartThread()
{
    gThread.Join(); // the previous run has ended (running 0); collect it
    if (!gThread.Start([] { MpegDecoderThread(nullptr); })) {
        Ctl().running = 0;
        lc::WakeWaiters();
        return false;
    }
    return true;
}

bool StopRequested()
{
    return Ctl().stopRequested.load() != 0;
}

bool Ended()
{
    return Ctl().faultCode.load() >= kMpegFaultEndOfData;
}

void PositionAndInit(int64_t offset)
{
    PositionMpegInput(offset);
    InitializeInputBuffer();
}

// Steps 2-10 of a run; returns at its end (CloseOutputs is the caller's).
void Run()
{
    MpegDecoderControl &c = Ctl();
    // 2. Range of a whole-file run: it ends at the end of the data, so that an I picture in the
    // last sectors and the pictures after it are decoded too.
    if (c.locateMode.load() == 3) {
        c.startOffset = 0;
        c.endOffset = std::numeric_limits<int64_t>::max();
    }
    const bool repositions = c.seekPercent.load() == 0 || c.locateMode.load() == 2;
    // 3. Full start-up: stream kind, first sequence header, frames and window.
    if (c.sequenceSeen.load() == 0) {
        if (repositions) {
            PositionAndInit(0);
        }
        DetectTransportStream();
        if (StopRequested()) {
            return;
        }
        c.faultCode = 0;
        c.audioArmed = 0;
        PositionAndInit(0);
        while (c.faultCode.load() == 0) {
            NextHeaderStartCode();
            if (Ended()) {
                break;
            }
            uint32_t code = GetBits(32);
            if (code == 0x1B3) {
                ParseSequenceHeader();
                InitDecoderFrames();
                if (c.faultCode.load() != 0) {
                    break;
                }
                c.sequenceSeen = 1;
                lc::WakeWaiters(); // the processing thread waits for the stream's rate
            } else if (code == 0x1BA) {
                gMpegStreamInfo.streamKind = 1;
            }
            if (StopRequested()) {
                return;
            }
            if (c.sequenceSeen.load()) {
                break;
            }
        }
        if (c.sequenceSeen.load() == 0) {
            return; // no usable sequence header: nothing to decode
        }
        if (repositions) {
            PositionMpegInput(c.startOffset.load());
            c.faultCode = 0;
            InitializeInputBuffer();
        }
    }
    // 4. Counting pass.
    if (c.pictureCount.load() == 0) {
        c.startOffset = 0;
        c.faultCode = 0;
        PositionAndInit(0);
        int count = 0;
        while (GetHeader()) {
            ++count;
            if (StopRequested()) {
                return;
            }
        }
        c.pictureCount = count;
        // The count read to the end of data; decoding starts afresh.
        c.faultCode = 0;
        PositionAndInit(0);
    }
    // 5. Start position.
    if (repositions) {
        c.faultCode = 0;
        PositionAndInit(c.startOffset.load());
    }
    // 6. First I picture.
    for (;;) {
        if (StopRequested() || Ended() || !GetHeader()) {
            return;
        }
        if (gMpegPictureHeader.codingType == 1) {
            break;
        }
    }
    // 7. Audio from here on.
    c.audioArmed = 1;
    DecodePicture();
    // 8. B pictures right after it refer to an earlier group: not decoded.
    do {
        if (StopRequested() || Ended() || !GetHeader()) {
            return;
        }
    } while (gMpegPictureHeader.codingType == 3);
    // 9.
    DecodePicture();
    // 10. Picture loop.
    while (GetHeader()) {
        DecodePicture();
        if (c.faultCode.load() != 0) {
            DebugTrace("Fault Flag!\n");
        }
        if (Ended()) {
            break;
        }
        if (StopRequested()) {
            DebugTrace("User stop!\n");
            c.singleStep = 0;
            c.paused = 0;
            c.faultCode = kMpegFaultUserStop;
            break;
        }
    }
}

} // namespace

void OpenMpegAndStartDecoder(const char *path)
{
    MpegDecoderControl &c = Ctl();
    MpegInputFiles &in = gMpegInputFiles;
    // 1.
    StopMpegDecoder();
    // 2. Once per process.
    if (!gFirstOpenDone) {
        gFirstOpenDone = true;
        SetYuvToRgbScale();
    }
    // 3. File 0.
    if (in.fileHandle != lc::kNoFile) {
        lc::FileClose(in.fileHandle);
        in.fileHandle = lc::kNoFile;
    }
    int fd = lc::kNoFile;
    if (lc::CopyText(in.fileName, path ? path : "")) {
        fd = lc::FileOpen(in.fileName, lc::FileMode::Read);
    }
    if (fd == lc::kNoFile) {
        MpegShowError("Could not open file");
        return;
    }
    in.fileHandle = fd;
    // 4-5. Lengths and range.
    in.fileCount = 1;
    in.currentFile = 0;
    in.fileLength = lc::FileSize(fd) < 0 ? 0 : lc::FileSize(fd);
    in.totalLength = in.fileLength;
    in.filePosition = 0;
    c.startOffset = 0;
    c.endOffset = EndOffsetOf(in.fileLength);
    // 6. Fresh state.
    c.locateMode = 0;
    c.paused = 0;
    c.stopRequested = 0;
    c.seekPercent = 0;
    if (gMpegAudioSink.resetAc3OutputLevel) {
        gMpegAudioSink.resetAc3OutputLevel();
    }
    gMpegStreamInfo.streamKind = 0;
    // Nothing of the previous stream's rate may pass for this one's before its header is read.
    gMpegStreamInfo.frameRateCode = 0;
    gMpegStreamInfo.frameRate = 0.0;
    gMpegPreviewFrameNumber = 1;
    c.sequenceSeen = 0;
    // 7. The thread.
    c.running = 1;
    if (!StartThread()) {
        MpegShowError("Could not create MPEG2 process");
    }
}

void StartOrPauseMpegDecoding()
{
    MpegDecoderControl &c = Ctl();
    if (!FileOpen()) {
        return;
    }
    if (c.running.load()) {
        c.paused = c.paused.load() ? 0 : 1;
        return;
    }
    gMpegPreviewFrameNumber = 1;
    c.showProgress = 1;
    c.startOffset = 0;
    c.locateMode = 3;
    c.audioArmed = 1;
    c.stopRequested = 0; // a stop of the previous run must not end this one
    c.running = 1;
    (void)StartThread();
}

void SeekMpegToSlider()
{
    MpegDecoderControl &c = Ctl();
    if (!FileOpen()) {
        return;
    }
    c.seekPercent = gMpeg2Hooks.playerSliderValue ? gMpeg2Hooks.playerSliderValue() : 0;
    if (c.seekGuard.load()) {
        return;
    }
    c.paused = 0;
    if (c.running.load()) {
        c.stopRequested = 1; // the next slider event starts the new run
        return;
    }
    c.seekGuard = 1;
    gMpegPreviewFrameNumber = 1;
    c.showProgress = 1;
    c.startOffset = int64_t(c.seekPercent.load()) * gMpegInputFiles.totalLength / 100;
    c.locateMode = 2;
    c.stopRequested = 0;
    c.running = 1;
    (void)StartThread();
    c.seekGuard = 0;
}

namespace {

// Asks a run to end: the thread polls the flag between headers and pictures, and while paused.
void RequestStop()
{
    MpegDecoderControl &c = Ctl();
    c.stopRequested = 1;
    c.processingMode = 0;
    c.paused = 0;
    c.singleStep = 0;
}

} // namespace

void StopMpegDecoder()
{
    MpegDecoderControl &c = Ctl();
    if (!FileOpen()) {
        return;
    }
    RequestStop();
    if (c.running.load()) {
        MpegShowError("Click OK to load/close MPEG");
        gThread.Join();
    }
    c.running = 0;
}

void EndMpegDecoding()
{
    MpegDecoderControl &c = Ctl();
    if (!FileOpen()) {
        return;
    }
    RequestStop();
    gThread.Join();
    c.running = 0;
}

void ResetMpegInputFile()
{
    MpegInputFiles &in = gMpegInputFiles;
    if (Ctl().running.load()) {
        StopMpegDecoder(); // the thread reads the file: never close it under a run
    }
    gThread.Join();
    if (in.fileHandle != lc::kNoFile) {
        lc::FileClose(in.fileHandle);
    }
    in.fileHandle = lc::kNoFile;
}

double MpegFrameRate()
{
    return gMpegStreamInfo.frameRate.load();
}

int IsMpegDecoderRunning()
{
    return Ctl().running.load();
}

void ClearSequenceSeen()
{
    Ctl().sequenceSeen = 0;
}

int SelectProcessingModeForMpeg()
{
    const ConversionOptions &o = gConversionOptions;
    int pal = gMpeg2Hooks.sourceIsPal ? gMpeg2Hooks.sourceIsPal() : 0;
    int mode = 0;
    if (pal) {
        mode = 9;
    } else if (o.convert60iTo25P) {
        mode = 4;
    } else if (o.pulldown32To25P) {
        mode = 5;
    } else if (o.pulldown2332To25P) {
        mode = 6;
    }
    Ctl().processingMode = mode;
    return 1;
}

void InitDecoderFrames()
{
    MpegStreamInfo &si = gMpegStreamInfo;
    // 1-2. Geometry. A picture larger than the frame buffers cannot be decoded: the run ends.
    if (!SetDecoderGeometry(si.horizontalSize.load(), si.verticalSize.load(),
                            si.progressiveSequence.load(), si.chromaFormat.load())) {
        DebugTrace("Picture size %dx%d not supported\n", si.horizontalSize.load(),
                   si.verticalSize.load());
        RaiseMpegFault(kMpegFaultEndOfData);
        return;
    }
    // 3. Buffers, once per process.
    bool ok = AllocateDecoderFrames();
    if (ok && gMpegPictureSink.allocateBuffers) {
        ok = gMpegPictureSink.allocateBuffers();
    }
    if (!ok) {
        if (gMpeg2Hooks.messageBox) {
            gMpeg2Hooks.messageBox("Not enough memory to decode Mpeg-2");
        }
        CloseOutputs();
        ExitMpegDecoderThread();
    }
    // 4. Preview window.
    if (gMpeg2Hooks.sizePreviewWindow) {
        int w = si.codedWidth.load();
        int h = si.codedHeight.load();
        int mode = Ctl().processingMode.load();
        if (mode != 0 && !IsHdFrame(uint32_t(w), uint32_t(h))) {
            w = 720;
            h = 576;
            if (mode == 9) {
                h = gMpeg2Hooks.ntscOutputHeight ? gMpeg2Hooks.ntscOutputHeight() : 480;
            }
        }
        gMpeg2Hooks.sizePreviewWindow(w, h);
    }
}

void ExitMpegDecoderThread()
{
    Ctl().processingMode = 0;
    gMpegPreviewFrameNumber = 0;
    throw DecoderThreadExit{};
}

void MpegDecoderThread(void *)
{
    MpegDecoderControl &c = Ctl();
    // 1. Per-run state.
    ResetMpegAudioTracks();
    c.faultCode = 0;
    c.audioArmed = 0;
    gMpegInputFiles.elementaryBytes = 0;
    ResetPictureDecoder();
    try {
        Run();
        // The end of the data of a whole-file run: the picture held back for display goes out,
        // then the output stage's last group. The hand-over must not take the end for a failure.
        if (c.locateMode.load() == 3 && c.faultCode.load() == kMpegFaultEndOfData
            && gMpegInputFiles.dataEnded && !StopRequested()) {
            c.faultCode = 0;
            HandOverLastPicture();
            if (gMpegPictureSink.finishStream) {
                gMpegPictureSink.finishStream();
            }
            RaiseMpegFault(kMpegFaultEndOfData);
        }
        // 11. End of every run.
        CloseOutputs();
    } catch (const DecoderThreadExit &) {
        // A fatal path closed the outputs itself.
    }
    c.running = 0;
    lc::WakeWaiters(); // whoever waits for the decoder to stop
}

void ShowProcessingProgress()
{
    const int frameCount = gMpegPictureDecoder.pictureNumber;
    const MpegInputFiles &in = gMpegInputFiles;
    int percent = in.fileLength > 0 ? int(in.filePosition * 100 / in.fileLength) : 0;
    if (Ctl().locateMode.load() == 3 && gMpeg2Hooks.setPlayerSlider) {
        gMpeg2Hooks.setPlayerSlider(percent);
    }
    if (MpegProcessRunning() && gMpeg2Hooks.setProgress) {
        char text[100];
        if (MpegPassesLeft() == 2) {
            lc::FormatText(text, sizeof text, "Pre-Processing, Check pulldown frame %d...",
                           frameCount);
        } else {
            lc::FormatText(text, sizeof text, "Processing frame %d...", frameCount);
        }
        gMpeg2Hooks.setProgress(text, percent);
    }
}
