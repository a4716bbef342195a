#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "movie_test_support.h"
#include "platform/media/movies.h"
#include "platform/media/played_sound.h"
#include "platform/sys/bytes.h"

// Sound the output cannot take as stored, made into 16-bit PCM and checked against ffmpeg's
// decode of the same file.

namespace {

using Pcm = std::vector<int16_t>;

Pcm Samples(const std::string &bytes)
{
    Pcm p(bytes.size() / 2);
    std::memcpy(p.data(), bytes.data(), p.size() * 2);
    return p;
}

// ffmpeg's decode of the first sound track as 16-bit little-endian samples.
Pcm FfmpegPcm(const std::string &path, std::vector<std::string> extra = {})
{
    std::vector<std::string> argv = {"ffmpeg", "-v", "error"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {"-i", path, "-map", "0:a:0", "-f", "s16le", "-c:a", "pcm_s16le"});
    if (std::find(extra.begin(), extra.end(), "-ignore_editlist") == extra.end()) {
        argv.insert(argv.end(), {"-ar", "48000"});
    }
    argv.push_back("-");
    std::string out;
    EXPECT_EQ(RunProgram(argv, &out), 0);
    return Samples(out);
}

// Every sample of a movie's one sound track, with its description.
Pcm MoviePcm(Movie movie, SoundDescription *desc)
{
    Track track = GetMovieIndTrackType(movie, 1, SoundMediaType, movieTrackMediaType);
    Media media = GetTrackMedia(track);
    Handle data = NewHandle(0);
    Handle d = NewHandle(4);
    Pcm all;
    for (TimeValue t = 0; t < GetMediaDuration(media);) {
        long size = 0, count = 0;
        if (GetMediaSample(media, data, 0, &size, t, nullptr, nullptr,
                           reinterpret_cast<SampleDescriptionHandle>(d), nullptr, 48000, &count,
                           nullptr)
                != noErr
            || count == 0) {
            ADD_FAILURE() << "read at " << t;
            break;
        }
        size_t at = all.size();
        all.resize(at + size_t(size) / 2);
        std::memcpy(all.data() + at, *data, size_t(size));
        t += TimeValue(count);
    }
    *desc = **reinterpret_cast<SoundDescriptionHandle>(d);
    DisposeHandle(data);
    DisposeHandle(d);
    return all;
}

double SnrDb(const Pcm &ref, const Pcm &got)
{
    size_t n = std::min(ref.size(), got.size());
    double signal = 0, noise = 0;
    for (size_t i = 0; i < n; ++i) {
        double r = ref[i], e = double(got[i]) - r;
        signal += r * r;
        noise += e * e;
    }
    return noise == 0 ? 200.0 : 10 * std::log10(signal / noise);
}

Track SoundTrackOf(Movie movie)
{
    return GetMovieIndTrackType(movie, 1, SoundMediaType, movieTrackMediaType);
}

// ---- Compressed sound as the media layer reports it ------------------------------------------

TEST(CompressedSoundReads, PacketsCountTheirFrames)
{
    const std::string path = Fixture("media_snd_aac.mov");
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &movie), noErr);
    Media media = GetTrackMedia(SoundTrackOf(movie));
    std::vector<ProbePacket> packets = ProbePackets(path, 1);
    ASSERT_GT(packets.size(), 10u);
    int64_t frames = 0;
    for (const ProbePacket &p : packets) {
        frames += p.duration;
    }
    EXPECT_EQ(GetMediaSampleCount(media), GetMediaDuration(media));
    EXPECT_EQ(GetMediaDuration(media), TimeValue(frames));

    // Reads of five frames at 29.97: whole packets, counted in frames, the bytes the file holds,
    // up to the short last packet.
    Handle data = NewHandle(0);
    size_t packet = 0;
    for (TimeValue t = 0; t < GetMediaDuration(media);) {
        long size = 0, count = 0;
        TimeValue start = -1, duration = -1;
        ASSERT_EQ(GetMediaSample(media, data, 0, &size, t, &start, &duration, nullptr, nullptr,
                                 8008, &count, nullptr),
                  noErr)
            << t;
        EXPECT_EQ(start, t);
        EXPECT_EQ(duration, 1);
        long bytes = 0, covered = 0;
        for (; covered < count; ++packet) {
            ASSERT_LT(packet, packets.size());
            bytes += long(packets[packet].size);
            covered += long(packets[packet].duration);
        }
        EXPECT_EQ(covered, count) << t;
        EXPECT_EQ(size, bytes) << t;
        EXPECT_TRUE(count >= 8008 || packet == packets.size()) << t;
        EXPECT_LT(count - long(packets[packet - 1].duration), 8008) << t;
        t += TimeValue(count);
    }
    EXPECT_EQ(packet, packets.size());
    // A time inside a packet gives the whole packet; one frame asked for is one packet.
    long size = 0, count = 0;
    TimeValue start = -1;
    ASSERT_EQ(GetMediaSample(media, data, 0, &size, 1500, &start, nullptr, nullptr, nullptr, 1,
                             &count, nullptr),
              noErr);
    EXPECT_EQ(start, 1024);
    EXPECT_EQ(count, 1024);
    EXPECT_EQ(size, long(packets[1].size));
    DisposeHandle(data);
    DisposeMovie(movie);
}

// ---- Formats ---------------------------------------------------------------------------------

struct FormatCase
{
    const char *file;
    int channels;
    double minSnrDb; // against ffmpeg's decode at 48 kHz (the same decoder); 200: equal samples
};

void PrintTo(const FormatCase &c, std::ostream *os)
{
    *os << c.file;
}

class PlayedFormats : public ::testing::TestWithParam<FormatCase>
{
};

TEST_P(PlayedFormats, MatchFfmpegDecode)
{
    const FormatCase &c = GetParam();
    const std::string path = Fixture(c.file);
    Movie source = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &source), noErr);
    Track track = SoundTrackOf(source);
    EXPECT_TRUE(SoundNeedsConversion(track, 0));
    Movie played = nullptr;
    ASSERT_EQ(NewPlayedSoundMovie(track, 0, &played), noErr);
    ASSERT_NE(played, nullptr);
    SoundDescription d{};
    Pcm got = MoviePcm(played, &d);
    EXPECT_EQ(d.dataFormat, lc::FourCC("sowt"));
    EXPECT_EQ(d.version, 0);
    EXPECT_EQ(d.numChannels, c.channels);
    EXPECT_EQ(d.sampleSize, 16);
    EXPECT_EQ(d.sampleRate, 48000u << 16);
    EXPECT_FALSE(SoundNeedsConversion(SoundTrackOf(played), 0));

    Pcm ref = FfmpegPcm(path);
    ASSERT_FALSE(ref.empty());
    // The same length within one packet of compressed sound (ffmpeg keeps the whole last packet
    // past the track's edit).
    EXPECT_NEAR(double(got.size()), double(ref.size()), 1024.0 * c.channels);
    EXPECT_GE(SnrDb(ref, got), c.minSnrDb);
    DisposeMovie(played);
    DisposeMovie(source);
}

INSTANTIATE_TEST_SUITE_P(Sound, PlayedFormats,
                         ::testing::Values(FormatCase{"media_snd_aac.mov", 2, 200},
                                           FormatCase{"media_snd_aac44.mov", 2, 75},
                                           FormatCase{"media_snd_aac_mono.mov", 1, 200},
                                           FormatCase{"media_snd_in24le.mov", 2, 200},
                                           FormatCase{"media_snd_in24be.mov", 2, 200},
                                           FormatCase{"media_snd_fl32.mov", 2, 200},
                                           FormatCase{"media_snd_lpcm2.mov", 2, 200}),
                         [](const auto &param) { return TestNameOf(param.param.file); });

TEST(PlayedFormats, SixteenBitPcmIsReadAsStored)
{
    for (const char *file : {"media_snd_sowt.mov", "media_dvcp.mov", "media_dvc.mov"}) {
        Movie movie = nullptr;
        ASSERT_EQ(OpenMoviePath(Fixture(file), &movie), noErr);
        EXPECT_FALSE(SoundNeedsConversion(SoundTrackOf(movie), 0)) << file;
        DisposeMovie(movie);
    }
}

// ---- Edits -----------------------------------------------------------------------------------

struct EditCase
{
    const char *file;
    TimeValue from; // movie time (ms)
    // What plays, in 48 kHz frames: pieces of silence (media -1) or of the stored media.
    struct Piece
    {
        long media, frames;
    } pieces[4];
};

void PrintTo(const EditCase &c, std::ostream *os)
{
    *os << c.file << " from " << c.from;
}

class PlayedEdits : public ::testing::TestWithParam<EditCase>
{
};

TEST_P(PlayedEdits, SilenceAndMediaWhereTheEditsPlayThem)
{
    const EditCase &c = GetParam();
    const std::string path = Fixture(c.file);
    Movie source = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &source), noErr);
    Track track = SoundTrackOf(source);
    EXPECT_TRUE(SoundNeedsConversion(track, c.from));
    Movie played = nullptr;
    ASSERT_EQ(NewPlayedSoundMovie(track, c.from, &played), noErr);
    SoundDescription d{};
    Pcm got = MoviePcm(played, &d);
    Pcm stored = FfmpegPcm(path, {"-ignore_editlist", "1"});
    Pcm expected;
    for (const auto &p : c.pieces) {
        if (p.frames == 0) {
            break;
        }
        if (p.media < 0) {
            expected.insert(expected.end(), size_t(2 * p.frames), 0);
        } else {
            ASSERT_LE(size_t(2 * (p.media + p.frames)), stored.size());
            expected.insert(expected.end(), stored.begin() + 2 * p.media,
                            stored.begin() + 2 * (p.media + p.frames));
        }
    }
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    DisposeMovie(played);
    DisposeMovie(source);
}

INSTANTIATE_TEST_SUITE_P(
    Sound, PlayedEdits,
    ::testing::Values(
        // 0.4 s of nothing, then the whole media.
        EditCase{"media_snd_empty_edit.mov", 0, {{-1, 19200}, {0, 72000}}},
        // Starting inside the empty edit.
        EditCase{"media_snd_empty_edit.mov", 300, {{-1, 4800}, {0, 72000}}},
        // Nothing, 0.5 s from 0.3 s, 0.3 s from the start.
        EditCase{"media_snd_edits.mov", 0, {{-1, 9600}, {14400, 24000}, {0, 14400}}},
        // A track played whole, from half a second in.
        EditCase{"media_snd_sowt.mov", 500, {{24000, 48000}}}),
    [](const auto &param) {
        return TestNameOf(param.param.file) + "_from_" + std::to_string(param.param.from);
    });

// ---- Damaged and unknown sound -----------------------------------------------------------------

// A copy of a fixture with bytes replaced, in the test's scratch folder.
std::string Patched(const std::string &dir, const char *file,
                    const std::function<void(std::vector<uint8_t> &)> &patch)
{
    std::vector<uint8_t> bytes = FileBytes(Fixture(file));
    patch(bytes);
    std::string path = dir + file;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

TEST(PlayedDamage, BadPacketKeepsTheTime)
{
    const std::string clean = Fixture("media_snd_aac.mov");
    std::vector<ProbePacket> packets = ProbePackets(clean, 1);
    ASSERT_GT(packets.size(), 40u);
    const ProbePacket hit = packets[30];
    std::string path = Patched(ScratchDir(), "media_snd_aac.mov", [&](std::vector<uint8_t> &b) {
        for (int64_t i = 0; i < hit.size; ++i) {
            b[size_t(hit.pos + i)] = uint8_t(0xff - i);
        }
    });
    Movie a = nullptr, b = nullptr, pa = nullptr, pb = nullptr;
    ASSERT_EQ(OpenMoviePath(clean, &a), noErr);
    ASSERT_EQ(OpenMoviePath(path, &b), noErr);
    ASSERT_EQ(NewPlayedSoundMovie(SoundTrackOf(a), 0, &pa), noErr);
    ASSERT_EQ(NewPlayedSoundMovie(SoundTrackOf(b), 0, &pb), noErr);
    SoundDescription d{};
    Pcm good = MoviePcm(pa, &d), damaged = MoviePcm(pb, &d);
    ASSERT_EQ(damaged.size(), good.size());
    // What follows the damaged stretch is where it was.
    const size_t after = size_t(2 * (hit.pts + 3 * 1024));
    Pcm goodTail(good.begin() + std::ptrdiff_t(after), good.end());
    Pcm damagedTail(damaged.begin() + std::ptrdiff_t(after), damaged.end());
    EXPECT_GE(SnrDb(goodTail, damagedTail), 60);
    for (Movie m : {pa, pb, a, b}) {
        DisposeMovie(m);
    }
}

TEST(PlayedDamage, SoundWithoutDecoderIsRefused)
{
    // The AAC description under a code no decoder knows; and a version-2 description that
    // claims no channels.
    const std::string dir = ScratchDir();
    std::string unknown = Patched(dir, "media_snd_aac.mov", [](std::vector<uint8_t> &b) {
        for (size_t i = 0; i + 4 <= b.size(); ++i) {
            if (std::memcmp(&b[i], "mp4a", 4) == 0) {
                std::memcpy(&b[i], "qz9x", 4);
            }
        }
    });
    std::string noChannels = Patched(dir, "media_snd_lpcm2.mov", [](std::vector<uint8_t> &b) {
        for (size_t i = 0; i + 4 <= b.size(); ++i) {
            if (std::memcmp(&b[i], "lpcm", 4) == 0 && i >= 4) {
                lc::StoreU32be(&b[i - 4 + 48], 0); // numAudioChannels
            }
        }
    });
    for (const std::string &path : {unknown, noChannels}) {
        Movie movie = nullptr;
        ASSERT_EQ(OpenMoviePath(path, &movie), noErr) << path;
        Movie played = reinterpret_cast<Movie>(1);
        EXPECT_EQ(NewPlayedSoundMovie(SoundTrackOf(movie), 0, &played), noCodecErr) << path;
        EXPECT_EQ(played, nullptr);
        DisposeMovie(movie);
    }
    Movie none = nullptr;
    EXPECT_EQ(NewPlayedSoundMovie(nullptr, 0, &none), paramErr);
    EXPECT_FALSE(SoundNeedsConversion(nullptr, 0));
}

} // namespace
