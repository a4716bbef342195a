#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Folder of the AC-3 fixtures, made once per process by tests/fixtures/ac3_make_fixtures.sh.
// Empty when the script failed (the caller's test fails).
const std::string &Ac3FixtureDir();

std::vector<uint8_t> ReadFixture(const std::string &name);
std::vector<int16_t> ReadS16(const std::string &name);
std::vector<float> ReadF32(const std::string &name);

// Decodes a whole stream of one track in pieces of `chunk` bytes into a buffer of `capacity`
// bytes, taking every piece until it is consumed; restarts the decoder first.
std::vector<int16_t> DecodeAc3(const std::vector<uint8_t> &stream, int chunk, int track = 0,
                               int capacity = 49152);

// One private-stream-1 packet of an MPEG program stream: its sub-stream and its payload after
// the sub-stream id and the three bytes of frame count and access unit pointer.
struct Ac3Packet
{
    int substream = 0;
    std::vector<uint8_t> payload;
};
std::vector<Ac3Packet> Ac3PacketsOf(const std::vector<uint8_t> &programStream);

// Signal-to-noise ratio in dB of `test` against `ref` over their common length.
double SnrDb(const std::vector<int16_t> &ref, const std::vector<int16_t> &test);

// The downmix formula applied to float samples of `channels` interleaved channels in ffmpeg's
// order for the stream's mode, giving 16-bit stereo.
enum class RefLayout {
    Mono,      // C
    Five,      // L R C Ls Rs, centre and surround weights by code
    FivePoint1 // L R C LFE Ls Rs
};
std::vector<int16_t> MixReference(const std::vector<float> &samples, RefLayout layout, int cmixlev,
                                  int surmixlev);
