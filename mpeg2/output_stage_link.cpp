#include "mpeg2/output_stage_link.h"

#include <cstdio>

#include "mpeg2/mpeg_audio_sink.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_input.h"
#include "mpeg2/mpeg_picture_output.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/output_stage.h"
#include "mpeg2/output_stage_hooks.h"

void PrepareStageFrame(const uint8_t *const planes[3], const MpegPictureRecord &record,
                       int pictureIndex)
{
    StagePictureRecord r;
    r.progressiveFrame = record.progressiveFrame;
    r.fieldFlags = record.fieldFlags;
    StoreDecodedFrame(planes, r, pictureIndex);
}

namespace {

// Patches the header and closes the file; without a writer the file is still closed.
void FinishWav(FILE *&file, uint32_t bytes)
{
    if (gMpegAudioSink.fixWavHeader) {
        gMpegAudioSink.fixWavHeader(file, bytes);
    } else {
        std::fclose(file);
    }
    file = nullptr;
}

} // namespace

void CloseMpegAudioTracks()
{
    uint32_t trackBytes[kMpegAudioTracks] = {};
    for (int t = 0; t < kMpegAudioTracks; t++) {
        MpegAudioTrack &tr = gMpegAudioTracks[t];
        trackBytes[t] = tr.totalBytes;
        if (gMpegAudioSink.writeAudioBlock) {
            trackBytes[t] =
                gMpegAudioSink.writeAudioBlock(nullptr, 0, t == 0 ? nullptr : tr.wavFile, t);
        }
    }
    if (gMpegPcmTrack.wavFile) {
        FinishWav(gMpegPcmTrack.wavFile, gMpegPcmTrack.totalBytes);
    }
    for (int t = 0; t < kMpegAudioTracks; t++) {
        if (gMpegAudioTracks[t].wavFile) {
            FinishWav(gMpegAudioTracks[t].wavFile, trackBytes[t]);
        }
    }
}

void InstallOutputStage()
{
    OutputStageDecoderLink &d = gOutputStageDecoder;
    d.codedWidth = &gMpegStreamInfo.codedWidth;
    d.codedHeight = &gMpegStreamInfo.codedHeight;
    d.horizontalSize = &gMpegStreamInfo.horizontalSize;
    d.verticalSize = &gMpegStreamInfo.verticalSize;
    d.chromaFormat = &gMpegStreamInfo.chromaFormat;
    d.paused = &gMpegDecoderControl.paused;
    d.singleStep = &gMpegDecoderControl.singleStep;
    d.stopRequested = &gMpegDecoderControl.stopRequested;
    d.faultCode = &gMpegDecoderControl.faultCode;
    d.showProgress = &gMpegDecoderControl.showProgress;
    d.sequenceSeen = &gMpegDecoderControl.sequenceSeen;
    d.processingMode = &gMpegDecoderControl.processingMode;
    d.previewFrameNumber = &gMpegPreviewFrameNumber;
    d.showProcessingProgress = ShowProcessingProgress;
    d.closeAudioTracks = CloseMpegAudioTracks;

    MpegPictureSink &s = gMpegPictureSink;
    s.allocateBuffers = AllocateDecodedPictureBuffers;
    s.prepareFrame = PrepareStageFrame;
    s.finishStream = FinishDecodedStream;
    s.closeOutputs = CloseStageOutputs;
}
