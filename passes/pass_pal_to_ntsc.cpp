// The per-frame pass for PAL-family sources: groups of five frames become five or six NTSC
// frames.

#include <cstdio>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/pixel_formats.h"
#include "formats/avi_reader.h"
#include "passes/conversion_state.h"
#include "passes/copy_sound.h"
#include "passes/movie_window.h"
#include "passes/movie_window_hooks.h"
#include "passes/pass_slots.h"
#include "passes/process_control.h"
#include "passes/source_kind.h"
#include "passes/vfw_output.h"
#include "platform/media/image_compression.h"
#include "platform/media/movies.h"
#include "platform/media/standard_compression.h"

namespace {

// Ends the compression a chosen AVI compressor began, on every way out of the pass.
struct AviCompressionEnd
{
    ~AviCompressionEnd()
    {
        if (gConversionState.outputIsAvi && !gConversionState.dvAviOutput) {
            EndAviVideoCompression();
        }
    }
};

} // namespace

int CMovieWindow::ProcessFramesPalToNtsc(Media outputMedia, Track, Media sourceMedia,
                                         const Rect *frame)
{
    ConversionOptions &options = gConversionOptions;
    ConversionState &cs = gConversionState;
    ProcessControl &control = gProcessControl;
    const int width = frame->right - frame->left;
    const int height = frame->bottom - frame->top;
    const bool viaReader = gSourceKind.isAvi && gSourceKind.viaAviPlayer;
    const bool fromAvi = gSourceKind.isAvi != 0;
    AviCompressionEnd compressionEnd;

    // Standard-definition frames become NTSC lines; HD frames keep their height.
    const int outRows = cs.palSd ? cs.ntscOutputHeight : height;
    const Rect outRect{0, 0, int16_t(outRows), int16_t(width)};

    gEngineSettings.sourceIsPal = 1;
    gEngineSettings.sourceIsNtsc = 0;
    gEngineSettings.ntscOutputHeight = cs.ntscOutputHeight;
    gEngineSettings.passesLeft = 1;

    // 1, 3. The seven slots at the source size and their buffers; released on every way out.
    PassSlots slots;
    if (!SetUpPassSlots(slots, width, height, *frame,
                        "NewGWorld Error\rDisplay depth not 24 bits minimum\nOr out of memory")) {
        return 0;
    }
    // 2. The output codec of a QuickTime source, and the installed-codec test wherever the
    // output is compressed with it. NTSC DV only for standard-definition DV sources.
    const bool compressesWithCodec = !cs.outputIsAvi || cs.dvAviOutput;
    if (!fromAvi && !options.userSelectsCompression && compressesWithCodec) {
        const bool toNtscDv = cs.palSd && IsDvCodecText(cs.sourceCodecText);
        if (toNtscDv) {
            cs.outputCodec = 0x64766320; // 'dvc '
        }
        int32_t maxSize = 0;
        OSErr err = GetMaxCompressionSize(slots.pixMap[0], &outRect, 0, codecMaxQuality,
                                          cs.outputCodec, anyCodec, &maxSize);
        const char *text = toNtscDv ? "GetMaxCompressionSize Error, DV-NTSC codec not found\r"
                                      "Possible problem: full (\"Recommended\") installation of "
                                      "QuickTime 5 not done\n"
                                    : "GetMaxCompressionSize Error, source movie codec not "
                                      "available\rfor authoring, possible problem: full "
                                      "(\"Recommended\") installation\nof QuickTime not done\n";
        if (CheckQtError(err, text)) {
            return 0;
        }
    }
    SetMediaPlayHints(sourceMedia, hintsHighQuality, 0x100100);
    const int totalFrames = cs.sourceFrameCount;
    const TimeValue durationLimit = fromAvi
                                        ? TimeValue(int64_t(totalFrames) * cs.sourceSampleDuration)
                                        : GetMediaDuration(sourceMedia);

    // 4-6. Stop, nothing to read, the frame store's geometry (resets the cadence), the DV
    // description of a DV AVI source.
    if (!StartPass(slots, sourceMedia, durationLimit)) {
        return 0;
    }
    // 7. A non-DV AVI source read by the own reader: its decompressor.
    if (!OpenPassDecompressor(width, height)) {
        return 0;
    }

    PassSource source = MakePassSource(sourceMedia, durationLimit, codecHighQuality);
    source.readTime = cs.firstSampleTime;
    if (fromAvi) {
        AviRewindToMovi();
    }
    PassOutput out;
    out.media = outputMedia;
    out.rect = outRect;
    out.addSampleError = "AddMediaSample Error %d\rOut of disk space?";

    int outputCounter = 0;
    int groupStart = 0;
    bool nextStarted = false; // the group was read and decoded while the last was written
    while (groupStart < totalFrames && !control.stopRequested) {
        // A stop ends the decoding early; the group is still converted and written.
        if (!BringInGroup(slots, source, groupStart == 0, &nextStarted)) {
            return 0;
        }
        const int converted = ConvertFrameGroup(slots.frame, width, height, 0);
        // The movie's last group may be cut short: it was read padded with its last frame, and
        // keeps the frames that stand for its own.
        const int n = KeptGroupOutputs(converted, totalFrames - groupStart);
        for (int i = 1; i <= converted; ++i) {
            SetSlotBounds(slots, i, outRows);
        }
        // The next group is read and decoded while this one is compressed and written.
        if (groupStart + 5 < totalFrames && !control.stopRequested) {
            ProcessYield();
            nextStarted = StartNextGroup(slots, source);
        }
        const auto preview = [&](int k) {
            if (!fromAvi) {
                if (!FramePreviewBusy()) {
                    OutputYuv422ToRgb(slots.frame[k + 1]);
                }
            } else if (viaReader) {
                PaintSlotInPlayer(slots, out, k + 1);
            }
        };
        const int outList[kMaxGroupOutputs] = {1, 2, 3, 4, 5, 6};
        const bool made = MakeOutputFrames(slots, out, outList, n, preview);
        for (int i = 1; i <= n; ++i) {
            if (!made) {
                preview(i - 1);
            }
            ProcessYield();
            long size = 0;
            if (!(made ? WriteMadeFrame(slots, out, i - 1, &size)
                       : WriteSlotFrame(slots, out, i, -1, &size))) {
                return 0;
            }
            char text[100];
            std::snprintf(text, sizeof text, "Processing frame %d...", outputCounter);
            ++outputCounter;
            int percent = int(int64_t(groupStart) * 100 / totalFrames);
            ReportProgress(text, percent < 1 ? 1 : percent);
            if (control.stopRequested) {
                break;
            }
        }
        for (int i = 1; i <= converted; ++i) {
            SetSlotBounds(slots, i, height);
        }
        groupStart += 5;
        if (groupStart < totalFrames) {
            if (!CopySound(int(int64_t(cs.soundMediaRate) * 5 / 25))) {
                CheckQtError(1, "CopySound Error");
                return 0;
            }
        }
    }

    // End of the movie: the last group's sound and whatever is left.
    if (!control.stopRequested) {
        if (fromAvi) {
            AviReadRemainingAudio();
        }
        if (!control.stopRequested && !CopySound(int(int64_t(cs.soundMediaRate) * 1000 / 25))) {
            CheckQtError(1, "CopySound Error");
            return 0;
        }
    }
    if (viaReader) {
        CloseVfwDecompressor();
    }
    return 1;
}
