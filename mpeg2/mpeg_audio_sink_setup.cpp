#include "mpeg2/mpeg_audio_sink_setup.h"

#include "formats/audio_block_output.h"
#include "mpeg2/ac3_decoder.h"
#include "mpeg2/ac3_downmix.h"
#include "mpeg2/mpeg_audio_sink.h"
#include "mpeg2/wav_writer.h"

namespace {

void ResetOutputLevel() { gAc3OutputLevel = 1.0; }

// The decoder stops before a frame that would not fit the track buffer (8 frames); the
// demultiplexer then delivers and calls again with the rest of the packet.
int DecodeIntoTrack(const uint8_t *bytes, int length, int outCount, int track, int *consumed)
{
    return Ac3DecodeTrack(bytes, length, gMpegAudioTracks[track].samples, outCount,
                          kMpegTrackBufferBytes, track, consumed);
}

void WriteHeader(FILE *file) { WriteWavHeader(file); }
void FixHeader(FILE *file, uint32_t dataBytes) { FixWavHeader(file, dataBytes); }

} // namespace

void InstallMpegAudioSink()
{
    gMpegAudioSink.ac3DecoderInit = Ac3DecoderInit;
    gMpegAudioSink.resetAc3OutputLevel = ResetOutputLevel;
    gMpegAudioSink.ac3DecodeTrack = DecodeIntoTrack;
    gMpegAudioSink.writeAudioBlock = WriteAudioBlock;
    gMpegAudioSink.writeWavHeader = WriteHeader;
    gMpegAudioSink.fixWavHeader = FixHeader;
}
