#include <gtest/gtest.h>

#include <cstring>

#include "movie_test_support.h"
#include "platform/media/internal/movie_model.h"
#include "platform/media/movies.h"
#include "platform/media/timecode_media.h"
#include "platform/sys/bytes.h"
#include "platform/sys/file.h"

// Movies written the way the processing flow writes them (sound track first, then video, then a
// disabled timecode track), read back by our reader and checked with ffprobe and ffmpeg.

namespace {

SoundDescriptionHandle SowtDescription()
{
    auto h = reinterpret_cast<SoundDescriptionHandle>(NewHandleClear(36));
    (**h).descSize = 36;
    (**h).dataFormat = lc::FourCC("sowt");
    (**h).dataRefIndex = 1;
    (**h).numChannels = 2;
    (**h).sampleSize = 16;
    (**h).sampleRate = 48000u << 16;
    return h;
}

// The timecode track as the DV set-up adds it: disabled, one sample, referenced by the video.
OSErr AddTimecode(Movie movie, Track video, const TimeCodeRecord &tc)
{
    Fixed w = 0, h = 0;
    GetTrackDimensions(video, &w, &h);
    Track track = NewMovieTrack(movie, w, 20 << 16, 0);
    Media media = NewTrackMedia(track, TimeCodeMediaType, GetMovieTimeScale(movie), nullptr, 0);
    MediaHandler handler = GetMediaHandler(media);
    if (!track || !media || !handler) {
        return GetMoviesError();
    }
    TCTextOptions options;
    TCGetDisplayOptions(handler, &options);
    GetFNum(reinterpret_cast<const unsigned char *>("\0"), &options.txFont);
    TCSetDisplayOptions(handler, &options);
    FontInfo font;
    GetFontInfo(&font);
    SetTrackDimensions(track, w, (font.ascent + font.descent + 2) << 16);
    SetTrackEnabled(track, false);
    TCSetTimeCodeFlags(handler, 0, tcdfShowTimeCode);
    BeginMediaEdits(media);
    auto desc = reinterpret_cast<TimeCodeDescriptionHandle>(NewHandleClear(38));
    (**desc).descSize = 38;
    (**desc).dataFormat = TimeCodeMediaType;
    TimeCodeDef def;
    def.flags = tcNegTimesOK;
    def.fTimeScale = 2500;
    def.frameDuration = 100;
    def.numFrames = 25;
    (**desc).tcFlags = int32_t(def.flags);
    (**desc).fTimeScale = def.fTimeScale;
    (**desc).frameDuration = def.frameDuration;
    (**desc).numFrames = def.numFrames;
    UserData ud = nullptr;
    NewUserData(&ud);
    Handle name = nullptr;
    PtrToHand("", &name, 0);
    AddUserDataText(ud, name, lc::FourCC("name"), 1, 0);
    TCSetSourceRef(handler, desc, ud);
    DisposeHandle(name);
    DisposeUserData(ud);
    Handle sample = NewHandle(4);
    long frame = 0;
    TCTimeCodeToFrameNumber(handler, &def, &tc, &frame);
    lc::StoreU32be(reinterpret_cast<uint8_t *>(*sample), uint32_t(frame));
    OSErr err = AddMediaSample(media, sample, 0, 4, GetMovieDuration(movie),
                               reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr);
    DisposeHandle(sample);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    if (err != noErr) {
        return err;
    }
    EndMediaEdits(media);
    err = InsertMediaIntoTrack(track, 0, 0, GetMovieDuration(movie), FixedOne);
    if (err != noErr) {
        return err;
    }
    return AddTrackReference(video, track, TimeCodeMediaType, nullptr);
}

struct Written
{
    std::vector<std::vector<uint8_t>> frames; // video samples in order
    std::vector<uint8_t> sound;               // all sound bytes
    long soundFrames = 0;
};

// Writes frames of the DV fixture (each frame twice over, with sound after every frame) into
// path, with a timecode track.
Written WriteMovie(const std::string &path, int frameCount)
{
    Written w;
    Movie source = nullptr;
    EXPECT_EQ(OpenMoviePath(Fixture("media_dvc.mov"), &source), noErr);
    Media sourceVideo = GetTrackMedia(GetMovieIndTrackType(source, 1, VideoMediaType,
                                                           movieTrackMediaType));

    unsigned char name[256];
    ToPascal(path, name);
    FSSpec spec;
    FSMakeFSSpec(0, 0, name, &spec);
    short ref = 0;
    Movie movie = nullptr;
    EXPECT_EQ(CreateMovieFile(&spec, lc::FourCC("TVOD"), smCurrentScript,
                              createMovieFileDeleteCurFile, &ref, &movie),
              noErr);
    SetMovieTimeScale(movie, 2500);

    Track sound = NewMovieTrack(movie, 0, 0, 256);
    Media soundMedia = NewTrackMedia(sound, SoundMediaType, 48000, nullptr, 0);
    EXPECT_EQ(BeginMediaEdits(soundMedia), noErr);
    Track video = NewMovieTrack(movie, FixRatio(720, 1), FixRatio(576, 1), 0);
    Media videoMedia = NewTrackMedia(video, VideoMediaType, 2500, nullptr, 0);
    EXPECT_EQ(BeginMediaEdits(videoMedia), noErr);

    SoundDescriptionHandle sd = SowtDescription();
    Handle frame = NewHandle(4);
    Handle desc = NewHandle(4);
    Handle block = NewHandle(4 * 1920);
    for (int i = 0; i < frameCount; ++i) {
        long size = 0;
        EXPECT_EQ(GetMediaSample(sourceVideo, frame, 0, &size, TimeValue(i % 30 * 1001), nullptr,
                                 nullptr, reinterpret_cast<SampleDescriptionHandle>(desc), nullptr,
                                 1, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(AddMediaSample(videoMedia, frame, 0, size, 100,
                                 reinterpret_cast<SampleDescriptionHandle>(desc), 1, 0, nullptr),
                  noErr);
        w.frames.emplace_back(*frame, *frame + size);
        for (int k = 0; k < 4 * 1920; ++k) {
            (*block)[k] = char(k * 7 + i);
        }
        EXPECT_EQ(AddMediaSample(soundMedia, block, 0, 4 * 1920, 1,
                                 reinterpret_cast<SampleDescriptionHandle>(sd), 1920, 0, nullptr),
                  noErr);
        w.sound.insert(w.sound.end(), *block, *block + 4 * 1920);
        w.soundFrames += 1920;
    }
    EXPECT_EQ(EndMediaEdits(videoMedia), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(video, 0, 0, GetMediaDuration(videoMedia), FixedOne), noErr);
    EXPECT_EQ(EndMediaEdits(soundMedia), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(sound, 0, 0, TimeValue(w.soundFrames), FixedOne), noErr);
    TimeCodeRecord tc;
    tc.hours = 1;
    tc.minutes = 2;
    tc.seconds = 3;
    tc.frames = 4;
    EXPECT_EQ(AddTimecode(movie, video, tc), noErr);
    short resId = 0;
    EXPECT_EQ(AddMovieResource(movie, ref, &resId, name), noErr);
    EXPECT_EQ(CloseMovieFile(ref), noErr);
    DisposeMovie(movie);
    DisposeMovie(source);
    DisposeHandle(frame);
    DisposeHandle(desc);
    DisposeHandle(block);
    DisposeHandle(reinterpret_cast<Handle>(sd));
    return w;
}

void ExpectCleanInFfmpeg(const std::string &path)
{
    std::string out, err;
    EXPECT_EQ(RunProgram({"ffprobe", "-v", "warning", "-show_streams", path}, &out, &err), 0);
    // ffprobe names the timecode stream as having no codec, for its own files as well.
    size_t tmcd = err.find("Unsupported codec with id 0 for input stream 2\n");
    if (tmcd != std::string::npos) {
        err.erase(tmcd, std::strlen("Unsupported codec with id 0 for input stream 2\n"));
    }
    EXPECT_EQ(err, "") << "ffprobe";
    EXPECT_EQ(RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"},
                         &out, &err),
              0);
    EXPECT_EQ(err, "") << "ffmpeg";
}

void ExpectReadsBack(const std::string &path, const Written &w)
{
    Movie movie = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &movie), noErr);
    EXPECT_EQ(GetMovieTimeScale(movie), 2500);
    EXPECT_EQ(GetMovieDuration(movie), TimeValue(100 * w.frames.size()));
    Track video = GetMovieIndTrackType(movie, 1, VisualMediaCharacteristic,
                                       movieTrackCharacteristic);
    Track sound = GetMovieIndTrackType(movie, 1, AudioMediaCharacteristic,
                                       movieTrackCharacteristic);
    Track tc = GetMovieIndTrackType(movie, 1, TimeCodeMediaType, movieTrackMediaType);
    ASSERT_TRUE(video && sound && tc);
    EXPECT_FALSE(GetTrackEnabled(tc));
    EXPECT_TRUE(GetTrackEnabled(video));
    EXPECT_EQ(GetTrackReference(video, TimeCodeMediaType, 1), tc);

    Media vm = GetTrackMedia(video);
    EXPECT_EQ(GetMediaTimeScale(vm), 2500);
    EXPECT_EQ(GetMediaSampleCount(vm), long(w.frames.size()));
    EXPECT_EQ(GetMediaSampleDescriptionCount(vm), 1); // one description, reused
    Handle data = NewHandle(0);
    for (size_t i = 0; i < w.frames.size(); ++i) {
        long size = 0;
        TimeValue duration = 0;
        ASSERT_EQ(GetMediaSample(vm, data, 0, &size, TimeValue(100 * i), nullptr, &duration,
                                 nullptr, nullptr, 1, nullptr, nullptr),
                  noErr);
        EXPECT_EQ(duration, 100);
        ASSERT_EQ(size_t(size), w.frames[i].size());
        EXPECT_EQ(std::memcmp(*data, w.frames[i].data(), size_t(size)), 0) << i;
    }
    Media sm = GetTrackMedia(sound);
    EXPECT_EQ(GetMediaTimeScale(sm), 48000);
    EXPECT_EQ(GetMediaDuration(sm), w.soundFrames);
    long size = 0, count = 0;
    SoundDescriptionHandle sd = reinterpret_cast<SoundDescriptionHandle>(NewHandle(4));
    ASSERT_EQ(GetMediaSample(sm, data, 0, &size, 0, nullptr, nullptr,
                             reinterpret_cast<SampleDescriptionHandle>(sd), nullptr,
                             w.soundFrames, &count, nullptr),
              noErr);
    EXPECT_EQ(count, w.soundFrames); // across every chunk
    ASSERT_EQ(size_t(size), w.sound.size());
    EXPECT_EQ(std::memcmp(*data, w.sound.data(), w.sound.size()), 0);
    EXPECT_EQ((**sd).dataFormat, lc::FourCC("sowt"));
    EXPECT_EQ((**sd).sampleRate, 48000u << 16);
    DisposeHandle(reinterpret_cast<Handle>(sd));
    DisposeHandle(data);
    DisposeMovie(movie);
}

void ExpectProbeAgrees(const std::string &path, const Written &w)
{
    auto video = ProbePackets(path, 1);
    ASSERT_EQ(video.size(), w.frames.size());
    auto bytes = FileBytes(path);
    for (size_t i = 0; i < video.size(); ++i) {
        EXPECT_EQ(video[i].pts, int64_t(100 * i));
        ASSERT_EQ(size_t(video[i].size), w.frames[i].size());
        EXPECT_EQ(std::memcmp(bytes.data() + video[i].pos, w.frames[i].data(), w.frames[i].size()),
                  0);
    }
    std::string pcm;
    RunProgram({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le", "-"}, &pcm);
    ASSERT_EQ(pcm.size(), w.sound.size());
    EXPECT_EQ(std::memcmp(pcm.data(), w.sound.data(), pcm.size()), 0);
    std::string tc;
    RunProgram({"ffprobe", "-v", "error", "-show_entries", "stream_tags=timecode", "-of",
                "csv=p=0", path},
               &tc);
    EXPECT_NE(tc.find("01:02:03:04"), std::string::npos) << tc;
}

TEST(MovieWriter, RoundTripThroughOurReaderAndFfmpeg)
{
    std::string path = ScratchDir() + "newmovie.mov";
    ASSERT_TRUE(lc::WriteWholeFile(path.c_str(), "stale content that must go", 26).ok());
    Written w = WriteMovie(path, 12);
    ExpectReadsBack(path, w);
    ExpectProbeAgrees(path, w);
    ExpectCleanInFfmpeg(path);
}

TEST(MovieWriter, SixtyFourBitChunkOffsets)
{
    lc::media::SetChunkOffset64Threshold(0);
    std::string path = ScratchDir() + "newmovie.mov";
    Written w = WriteMovie(path, 6);
    lc::media::SetChunkOffset64Threshold(UINT32_MAX);
    auto bytes = FileBytes(path);
    std::string all(bytes.begin(), bytes.end());
    EXPECT_NE(all.find("co64"), std::string::npos);
    EXPECT_EQ(all.find("stco"), std::string::npos);
    ExpectReadsBack(path, w);
    ExpectProbeAgrees(path, w);
    ExpectCleanInFfmpeg(path);
}

// A movie file at path with one 2 x 2 'raw ' video track and its description.
struct RawMovie
{
    short ref = 0;
    Movie movie = nullptr;
    Track track = nullptr;
    Media media = nullptr;
    ImageDescriptionHandle desc = nullptr;
};

RawMovie CreateRawMovie(const std::string &path, TimeScale scale)
{
    RawMovie r;
    unsigned char name[256];
    ToPascal(path, name);
    FSSpec spec;
    FSMakeFSSpec(0, 0, name, &spec);
    EXPECT_EQ(CreateMovieFile(&spec, 0, 0, createMovieFileDeleteCurFile, &r.ref, &r.movie), noErr);
    r.track = NewMovieTrack(r.movie, FixRatio(2, 1), FixRatio(2, 1), 0);
    r.media = NewTrackMedia(r.track, VideoMediaType, scale, nullptr, 0);
    r.desc = reinterpret_cast<ImageDescriptionHandle>(NewHandleClear(86));
    (**r.desc).idSize = 86;
    (**r.desc).cType = lc::FourCC("raw ");
    (**r.desc).width = 2;
    (**r.desc).height = 2;
    (**r.desc).depth = 24;
    (**r.desc).clutID = -1;
    return r;
}

TEST(MovieWriter, NewDescriptionOnlyWhenTheBytesDiffer)
{
    std::string path = ScratchDir() + "descs.mov";
    auto [ref, movie, track, media, desc] = CreateRawMovie(path, 600);
    ASSERT_NE(movie, nullptr);
    Handle data = NewHandleClear(12);
    auto sdesc = reinterpret_cast<SampleDescriptionHandle>(desc);
    // Adding before BeginMediaEdits is refused.
    EXPECT_NE(AddMediaSample(media, data, 0, 12, 20, sdesc, 1, 0, nullptr), noErr);
    ASSERT_EQ(BeginMediaEdits(media), noErr);
    TimeValue at = -1;
    EXPECT_EQ(AddMediaSample(media, data, 0, 12, 20, sdesc, 1, 0, &at), noErr);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(AddMediaSample(media, data, 0, 12, 20, sdesc, 1, 0, &at), noErr);
    EXPECT_EQ(at, 20);
    EXPECT_EQ(GetMediaSampleDescriptionCount(media), 1);
    (**desc).dataSize = 12;
    EXPECT_EQ(AddMediaSample(media, data, 0, 12, 20, sdesc, 1, 0, nullptr), noErr);
    EXPECT_EQ(GetMediaSampleDescriptionCount(media), 2);
    // Bytes beyond the handle are refused.
    EXPECT_EQ(AddMediaSample(media, data, 4, 12, 20, sdesc, 1, 0, nullptr), paramErr);
    EndMediaEdits(media);
    // Edits in movie time: the media plays from 1 s, after an empty second.
    EXPECT_EQ(InsertMediaIntoTrack(track, 600, 0, 60, FixedOne), noErr);
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, 61, FixedOne), invalidTime);
    EXPECT_EQ(InsertMediaIntoTrack(track, 0, 0, 60, FixedOne / 2), paramErr);
    EXPECT_EQ(GetTrackDuration(track), 660);
    EXPECT_EQ(TrackTimeToMediaTime(599, track), -1);
    EXPECT_EQ(TrackTimeToMediaTime(630, track), 30);
    ASSERT_EQ(AddMovieResource(movie, ref, nullptr, nullptr), noErr);
    CloseMovieFile(ref);
    DisposeMovie(movie);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));

    Movie back = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &back), noErr);
    Track t = GetMovieIndTrack(back, 1);
    Media m = GetTrackMedia(t);
    EXPECT_EQ(GetMediaSampleDescriptionCount(m), 2);
    long index = 0;
    ASSERT_EQ(GetMediaSample(m, nullptr, 0, nullptr, 45, nullptr, nullptr, nullptr, &index, 1,
                             nullptr, nullptr),
              noErr);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(TrackTimeToMediaTime(630, t), 30);
    EXPECT_EQ(GetMovieDuration(back), 660);
    DisposeMovie(back);
}

TEST(MovieWriter, CreateInMissingFolderFails)
{
    unsigned char name[256];
    ToPascal(ScratchDir() + "no/such/folder/newmovie.mov", name);
    FSSpec spec;
    EXPECT_EQ(FSMakeFSSpec(0, 0, name, &spec), fnfErr);
    short ref = 0;
    Movie movie = nullptr;
    EXPECT_EQ(CreateMovieFile(&spec, 0, 0, createMovieFileDeleteCurFile, &ref, &movie), fnfErr);
    EXPECT_EQ(movie, nullptr);
}

} // namespace

namespace {

// Media data beyond 4 GB: the media data atom gets a 64-bit size and chunks 64-bit offsets.
// The gap is a hole in a sparse file, so no 4 GB are written.
TEST(MovieWriterLarge, DataBeyondFourGigabytes)
{
    std::string path = ScratchDir() + "large.mov";
    auto [ref, movie, track, media, desc] = CreateRawMovie(path, 25);
    ASSERT_NE(movie, nullptr);
    Handle data = NewHandle(12);
    BeginMediaEdits(media);
    std::memset(*data, 0x11, 12);
    ASSERT_EQ(AddMediaSample(media, data, 0, 12, 1, reinterpret_cast<SampleDescriptionHandle>(desc),
                             1, 0, nullptr),
              noErr);
    movie->appendAt += int64_t(5) << 30; // as if 5 GB of samples had been written
    std::memset(*data, 0x22, 12);
    ASSERT_EQ(AddMediaSample(media, data, 0, 12, 1, reinterpret_cast<SampleDescriptionHandle>(desc),
                             1, 0, nullptr),
              noErr);
    EndMediaEdits(media);
    InsertMediaIntoTrack(track, 0, 0, 2, FixedOne);
    ASSERT_EQ(AddMovieResource(movie, ref, nullptr, nullptr), noErr);
    CloseMovieFile(ref);
    DisposeMovie(movie);
    DisposeHandle(data);
    DisposeHandle(reinterpret_cast<Handle>(desc));

    Movie back = nullptr;
    ASSERT_EQ(OpenMoviePath(path, &back), noErr);
    Media m = GetTrackMedia(GetMovieIndTrack(back, 1));
    Handle out = NewHandle(0);
    long size = 0;
    ASSERT_EQ(GetMediaSample(m, out, 0, &size, 1, nullptr, nullptr, nullptr, nullptr, 1, nullptr,
                             nullptr),
              noErr);
    ASSERT_EQ(size, 12);
    EXPECT_EQ(uint8_t((*out)[0]), 0x22);
    DisposeHandle(out);
    DisposeMovie(back);
    auto packets = ProbePackets(path, 0);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_GT(packets[1].pos, int64_t(5) << 30);
    lc::DeletePath(path.c_str());
}

} // namespace
