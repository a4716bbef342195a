// The per-frame pass for NTSC-family sources: groups of five frames become four 25P frames.

#include <cstdio>

#include "engine/conversion_options.h"
#include "engine/frame_groups.h"
#include "engine/picture_effects.h"
#include "engine/pixel_formats.h"
#include "engine/pulldown.h"
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

int CMovieWindow::ProcessFramesTo25p(Media outputMedia, Track, Media sourceMedia, const Rect *frame)
{
    ConversionOptions &options = gConversionOptions;
    ConversionState &cs = gConversionState;
    ProcessControl &control = gProcessControl;
    const int width = frame->right - frame->left;
    const int height = frame->bottom - frame->top;
    const bool viaReader = gSourceKind.isAvi && gSourceKind.viaAviPlayer;
    const bool fromAvi = gSourceKind.isAvi != 0;

    // 1. Output rectangle and the 480-to-576 flag (standard definition only: HD keeps its lines).
    const bool to576 = cs.ntscSd && height < 500;
    const int outRows = to576 ? 576 : height;
    const Rect outRect{0, 0, int16_t(outRows), int16_t(width)};

    gEngineSettings.sourceIsPal = 0;
    gEngineSettings.sourceIsNtsc = 1;
    gEngineSettings.ntscOutputHeight = cs.ntscOutputHeight;

    // 2. The seven slots over the frame store, and their buffers (4, 9). Everything is released
    // on every way out.
    PassSlots slots;
    if (!SetUpPassSlots(slots, width, height, to576 ? outRect : *frame,
                        "NewGWorld Error\rDisplay depth is not 24 bits minimum\nOr out of "
                        "memory\n")) {
        return 0;
    }
    // 3. The DV-codec flag, and the installed-codec test of QuickTime output.
    const bool dvCodec = !fromAvi && IsDvCodecText(cs.sourceCodecText);
    if (!cs.outputIsAvi && !cs.uncompressedOutput && !options.userSelectsCompression) {
        int32_t maxSize = 0;
        OSErr err = GetMaxCompressionSize(slots.pixMap[0], &outRect, 0, codecMaxQuality,
                                          cs.outputCodec, anyCodec, &maxSize);
        if (CheckQtError(err, "GetMaxCompressionSize Error\rPossible problem: full "
                              "(\"Recommended\") installation of QuickTime not done\n")) {
            return 0;
        }
    }
    // 5. Playback hints.
    SetMediaPlayHints(sourceMedia, hintsHighQuality, 0x100100);

    // 6. Total frames and the source duration limit.
    const int totalFrames = cs.sourceFrameCount;
    const TimeValue durationLimit = fromAvi ? totalFrames : GetMediaDuration(sourceMedia);
    // 6-8. Stop, nothing to read, the frame store's geometry, the DV description of a DV AVI
    // source.
    if (!StartPass(slots, sourceMedia, durationLimit)) {
        return 0;
    }
    // 10. A chosen QuickTime compression is tried once before any frame is read.
    if (!cs.outputIsAvi && options.userSelectsCompression) {
        ImageDescriptionHandle d = nullptr;
        Handle data = nullptr;
        // At the output size: a 576-line codec takes no 480-line picture.
        SetSlotBounds(slots, 0, outRows);
        ComponentResult r = SCCompressImage(cs.stdCompressor, slots.pixMap[0], nullptr, &d, &data);
        SetSlotBounds(slots, 0, height);
        DisposeHandle(reinterpret_cast<Handle>(d));
        DisposeHandle(data);
        if (CheckQtError(int(r), options.useYuvProcessing
                                     ? "CompressImage Error, Possible Problem:\nCodec does not "
                                       "support YUV option\n(uncheck YUV in Advanced Options)\n"
                                     : "CompressImage Error, Possible problem: Codec not "
                                       "installed\n")) {
            return 0;
        }
    }
    // 11. A non-DV AVI source read by the own reader: its decompressor.
    if (!OpenPassDecompressor(width, height)) {
        return 0;
    }

    PassSource source = MakePassSource(sourceMedia, durationLimit, codecMaxQuality);
    PassOutput out;
    out.media = outputMedia;
    out.rect = outRect;

    const bool pulldownMode = !options.convert60iTo25P;
    // Kept frames are copied as they are only where the source frames are already what the
    // output wants.
    const bool copyKept = options.pulldown2332To25P && !options.convert60iTo25P && !to576
                          && ((fromAvi && gAviReadState.isDV && cs.dvAviOutput)
                              || (!fromAvi && dvCodec && !cs.outputIsAvi));
    bool firstOutputFrame = true;
    int result = 1;

    // Passes: the analysis pass (two-pass pulldown removal) and the output pass.
    while (control.passesLeft != 0 && !control.errorShown && result) {
        if (control.stopRequested) {
            break;
        }
        gEngineSettings.passesLeft = control.passesLeft;
        const bool lastPass = control.passesLeft == 1;
        if (fromAvi) {
            AviRewindToMovi();
        }
        source.readTime = cs.firstSampleTime;
        bool nextStarted = false; // the group was read and decoded while the last was written
        for (int groupStart = 0; groupStart < totalFrames && !control.stopRequested;
             groupStart += 5) {
            if (!BringInGroup(slots, source, groupStart == 0, &nextStarted)) {
                return 0;
            }
            if (control.stopRequested) {
                break;
            }
            if (to576) {
                SetAllSlotBounds(slots, outRows);
            }

            // The group's four output slots.
            int outList[4] = {};
            int n = 4;
            if (!pulldownMode) {
                RemovePulldownGroup(slots.frame, outList, width <= 900 ? 2 : 1);
                BlurGroupLines(slots.frame, outList);
            } else {
                n = DetectPulldownPhase(slots.frame, outList, 1);
            }
            // The movie's last group may be cut short: it was read padded with its last frame,
            // and keeps the frames that stand for its own.
            n = KeptGroupOutputs(n, totalFrames - groupStart);
            if (n > 0 && to576) {
                // Each kept picture becomes the source its slot's 576 lines are made from.
                bool distinct = true;
                for (int a = 0; a < n; ++a) {
                    for (int b = a + 1; b < n; ++b) {
                        distinct = distinct && outList[a] != outList[b];
                    }
                }
                for (int k = 0; k < n; ++k) {
                    if (distinct) {
                        HandSlotToHistory(slots, outList[k], k);
                    } else {
                        StoreHistoryFrame(k, slots.frame[outList[k]]);
                    }
                }
                for (int k = 0; k < n; ++k) {
                    ConvertLines480To576(slots.frame[outList[k]], k);
                }
            }
            // The next group is read and decoded while this one is compressed and written; frames
            // copied as they are need their samples until written.
            if (!copyKept && groupStart + 5 < totalFrames) {
                ProcessYield();
                nextStarted = StartNextGroup(slots, source);
            }
            // Preview: a QuickTime source in the "Current Frame" window, an AVI read by the own
            // reader in its playback window.
            const auto preview = [&](int k) {
                const int s = outList[k];
                if (!fromAvi) {
                    if (FramePreviewBusy()) {
                        return;
                    }
                    if (pulldownMode) {
                        OutputYuv422ToRgb(slots.frame[s]);
                    } else {
                        Yuv422ToRgb(slots.frame[s], outRows, width);
                    }
                } else if (viaReader) {
                    PaintSlotInPlayer(slots, out, s);
                }
            };
            const bool made = !copyKept && MakeOutputFrames(slots, out, outList, n, preview);
            for (int k = 0; k < n; ++k) {
                const int s = outList[k];
                long size = 0;
                const bool copy = copyKept && !firstOutputFrame;
                if (!made) {
                    preview(k);
                }
                if (!(made ? WriteMadeFrame(slots, out, k, &size)
                           : WriteSlotFrame(slots, out, s, copy ? s : -1, &size))) {
                    return 0;
                }
                if (copyKept && firstOutputFrame) {
                    // A chosen compression must make frames of the source's size.
                    if (!cs.outputIsAvi && options.userSelectsCompression
                        && size != slots.count[s]) {
                        ShowError("Warning: your selected compression does not produce data "
                                  "blocks\nthe same size as the source movie compression.\nThey "
                                  "must be the same for non-recompressed 2:3:3:2 conversion.");
                        result = 0;
                        break;
                    }
                }
                firstOutputFrame = false;
            }
            if (!result) {
                break;
            }
            // Sound of the five source frames, in the last pass, for written groups.
            if (lastPass && n > 0 && !viaReader) {
                if (!CopySound(FiveFrameSoundFrames())) {
                    CheckQtError(1, "CopySound Error");
                    return 0;
                }
            }
            SetAllSlotBounds(slots, height);
            char text[100];
            std::snprintf(text, sizeof text,
                          lastPass ? "Processing frames %d-%d..."
                                   : "Pre-Processing frames %d-%d...",
                          groupStart + 1, groupStart + 5);
            int percent = int(int64_t(groupStart) * 100 / totalFrames);
            ReportProgress(text, percent < 1 ? 1 : percent);
        }
        if (control.stopRequested || !result) {
            break;
        }
        control.passesLeft = control.passesLeft - 1;
    }

    // End of the movie: the rest of the sound.
    if (result && !control.stopRequested && !control.errorShown) {
        if (fromAvi) {
            AviReadRemainingAudio();
        }
        if (!control.stopRequested) {
            if (!CopySound(EndOfPassSoundFrames())) {
                CheckQtError(1, "CopySound Error");
                return 0;
            }
            if (!DrainRetimedSound()) {
                return 0;
            }
        }
    }
    if (viaReader) {
        CloseVfwDecompressor();
    }
    return 1;
}
