#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/media_types.h"

namespace sound_test {

// Path of a fixture made by tests/fixtures/sound_make_fixtures.sh into the build tree; the script
// runs once for all test processes (they may run at the same time).
std::string Fixture(const char *name);

std::vector<uint8_t> ReadFile(const std::string &path);

// Runs a program (found on PATH) with its arguments; true when it exits with 0.
bool RunTool(const std::vector<std::string> &argv);

// Opens a fixture movie through the media layer; null (with a test failure) when it cannot.
Movie OpenMovie(const char *name);
// The index-th (1-based) sound track of a movie.
Track SoundTrack(Movie movie, long index);

// Collects the "01wb" chunks written to the output AVI while it exists.
class AviChunkRecorder
{
public:
    AviChunkRecorder();
    ~AviChunkRecorder();
    AviChunkRecorder(const AviChunkRecorder &) = delete;
    AviChunkRecorder &operator=(const AviChunkRecorder &) = delete;

    std::vector<uint32_t> sizes;
    std::vector<uint8_t> bytes;
    std::vector<std::string> ids;

    const int16_t *Samples() const { return reinterpret_cast<const int16_t *>(bytes.data()); }
    size_t Frames() const { return bytes.size() / 4; }

private:
    void (*previous_)(const char *, const void *, uint32_t);
};

// Frequency of one channel of interleaved stereo by counting rising zero crossings.
double ToneFrequency(const int16_t *stereo, size_t frames, int channel, int rate);

} // namespace sound_test
