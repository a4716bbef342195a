#include "tests/passes/sound_test_support.h"

#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "passes/copy_sound.h"
#include "platform/media/movies.h"
#include "tests/support/fixture_script.h"

namespace sound_test {

namespace {
AviChunkRecorder *gRecorder = nullptr;

void RecordChunk(const char *id, const void *data, uint32_t bytes)
{
    if (!gRecorder) {
        return;
    }
    const auto *p = static_cast<const uint8_t *>(data);
    gRecorder->ids.emplace_back(id, 4);
    gRecorder->sizes.push_back(bytes);
    gRecorder->bytes.insert(gRecorder->bytes.end(), p, p + bytes);
}

const std::string &FixtureDir()
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/fixtures/sound";
        std::string script = std::string(LC_SOURCE_DIR) + "/tests/fixtures/sound_make_fixtures.sh";
        if (!lc_test::MakeFixturesOnce(out, out + "/.made", script, {"sh", script, out})) {
            ADD_FAILURE() << "sound_make_fixtures.sh failed";
        }
        return out;
    }();
    return dir;
}
} // namespace

bool RunTool(const std::vector<std::string> &argv)
{
    return lc_test::RunCommand(argv) == 0;
}

std::string Fixture(const char *name)
{
    return FixtureDir() + "/" + name;
}

std::vector<uint8_t> ReadFile(const std::string &path) { return lc_test::ReadFileBytes(path); }

Movie OpenMovie(const char *name)
{
    std::string path = Fixture(name);
    unsigned char pascal[256] = {};
    if (path.size() > 255) {
        ADD_FAILURE() << "path too long: " << path;
        return nullptr;
    }
    pascal[0] = static_cast<unsigned char>(path.size());
    std::memcpy(pascal + 1, path.data(), path.size());
    FSSpec spec;
    if (FSMakeFSSpec(0, 0, pascal, &spec) != noErr) {
        ADD_FAILURE() << "no file " << path;
        return nullptr;
    }
    short ref = 0;
    if (OpenMovieFile(&spec, &ref, fsRdPerm) != noErr) {
        ADD_FAILURE() << "cannot open " << path;
        return nullptr;
    }
    Movie movie = nullptr;
    short resId = 0;
    OSErr err = NewMovieFromFile(&movie, ref, &resId, nullptr, newMovieActive, nullptr);
    CloseMovieFile(ref);
    if (err != noErr) {
        ADD_FAILURE() << "cannot read " << path << ": " << err;
        return nullptr;
    }
    return movie;
}

Track SoundTrack(Movie movie, long index)
{
    return GetMovieIndTrackType(movie, index, AudioMediaCharacteristic, movieTrackCharacteristic);
}

AviChunkRecorder::AviChunkRecorder()
    : previous_(gWriteAviAudioChunk)
{
    gRecorder = this;
    gWriteAviAudioChunk = RecordChunk;
}

AviChunkRecorder::~AviChunkRecorder()
{
    gWriteAviAudioChunk = previous_;
    gRecorder = nullptr;
}

double ToneFrequency(const int16_t *stereo, size_t frames, int channel, int rate)
{
    // Rising crossings between the first and the last one give whole periods.
    long first = -1;
    long last = -1;
    long crossings = 0;
    for (size_t i = 1; i < frames; i++) {
        if (stereo[2 * (i - 1) + channel] < 0 && stereo[2 * i + channel] >= 0) {
            if (first < 0) {
                first = long(i);
            }
            last = long(i);
            crossings++;
        }
    }
    if (crossings < 2) {
        return 0;
    }
    return double(crossings - 1) * rate / double(last - first);
}

} // namespace sound_test
