#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <dirent.h>
#include <gtest/gtest.h>

#include "mp2decode/transplit.h"
#include "tests/mp2decode/mp2_test_support.h"

namespace {

using mp2_test::CallMain;
using mp2_test::Fixture;
using mp2_test::ReadFile;
using mp2_test::WorkDir;
using mp2_test::WriteFile;

constexpr int kVideoPid = 0x100;
constexpr int kAudioPid = 0x101;

// Builds transport packets by hand.
struct TsBuilder
{
    std::vector<uint8_t> bytes;

    // One packet: payload padded with 0xFF to 184 bytes, or shortened by an adaptation field.
    void Packet(int pid, bool unitStart, const std::vector<uint8_t> &payload,
                const std::vector<uint8_t> &adaptation = {}, bool error = false)
    {
        uint8_t p[188];
        std::memset(p, 0xFF, sizeof p);
        p[0] = 0x47;
        p[1] = uint8_t((error ? 0x80 : 0) | (unitStart ? 0x40 : 0) | (pid >> 8));
        p[2] = uint8_t(pid);
        int control = adaptation.empty() ? 1 : (payload.empty() ? 2 : 3);
        p[3] = uint8_t(control << 4);
        size_t at = 4;
        if (!adaptation.empty()) {
            std::memcpy(p + 4, adaptation.data(), adaptation.size());
            at += adaptation.size();
        }
        size_t n = payload.size() < 188 - at ? payload.size() : 188 - at;
        if (n > 0) {
            std::memcpy(p + at, payload.data(), n);
        }
        bytes.insert(bytes.end(), p, p + 188);
    }
};

// A PES header of stream id with a PTS (or none), then count bytes of value fill.
std::vector<uint8_t> Pes(uint8_t streamId, long pts, size_t count, uint8_t fill)
{
    std::vector<uint8_t> v = {
        0, 0, 1, streamId, 0, 0, 0x80, uint8_t(pts >= 0 ? 0x80 : 0), uint8_t(pts >= 0 ? 5 : 0)};
    if (pts >= 0) {
        uint64_t t = uint64_t(pts);
        v.push_back(uint8_t(0x21 | ((t >> 29) & 0x0E)));
        v.push_back(uint8_t(t >> 22));
        v.push_back(uint8_t(0x01 | ((t >> 14) & 0xFE)));
        v.push_back(uint8_t(t >> 7));
        v.push_back(uint8_t(0x01 | ((t << 1) & 0xFE)));
    }
    v.insert(v.end(), count, fill);
    return v;
}

std::vector<uint8_t> Fill(size_t count, uint8_t value)
{
    return std::vector<uint8_t>(count, value);
}

// Video on kVideoPid (most packets), audio on kAudioPid.
struct Stream
{
    long videoPts = 90000;
    long audioPts = 90000;
    uint8_t audioId = 0xC0;
    int audioPackets = 3;
};

TsBuilder MakeStream(const Stream &s)
{
    TsBuilder ts;
    ts.Packet(kVideoPid, true, Pes(0xE0, s.videoPts, 170, 0x11));
    for (int i = 0; i < 8; ++i) {
        ts.Packet(kVideoPid, false, Fill(184, 0x12));
    }
    ts.Packet(kAudioPid, true, Pes(s.audioId, s.audioPts, 170, 0xA0));
    for (int i = 1; i < s.audioPackets; ++i) {
        ts.Packet(kAudioPid, false, Fill(184, uint8_t(0xA0 + i)));
    }
    return ts;
}

struct Extraction
{
    int result = 0;
    std::vector<uint8_t> out;
};

Extraction Extract(const char *name, const std::vector<uint8_t> &input)
{
    std::string dir = WorkDir(name);
    std::string in = dir + "/in.ts";
    std::string out = dir + "/temp.mp2";
    WriteFile(in, input);
    Extraction r;
    r.result = CallMain(TransplitMain, {"transplit", in, out});
    r.out = ReadFile(out);
    return r;
}

// The audio payloads MakeStream writes: the first packet whole, then the rest.
std::vector<uint8_t> AudioBytes(const Stream &s)
{
    TsBuilder ts = MakeStream(s);
    std::vector<uint8_t> v;
    for (size_t at = 0; at < ts.bytes.size(); at += 188) {
        int pid = (ts.bytes[at + 1] & 0x1F) << 8 | ts.bytes[at + 2];
        if (pid == kAudioPid) {
            v.insert(v.end(), ts.bytes.begin() + long(at) + 4, ts.bytes.begin() + long(at) + 188);
        }
    }
    return v;
}

int OpenDescriptors()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d)) {
            ++n;
        }
        closedir(d);
    }
    return n;
}

TEST(Transplit, OffsetIsVideoMinusAudioInMilliseconds)
{
    struct Case
    {
        long video;
        long audio;
        int expected;
    } cases[] = {
        {99000, 90000, 100},
        {90000, 99000, -100},
        {90000 + 8999, 90000, 99}, // truncates toward zero
        {90000, 90000 + 8999, -99},
        {90000, -1, 1000}, // no PTS on the first audio packet: the audio PTS stays 0
        // PTS above 2^32: only the low 32 bits are kept, the difference is still right.
        {(1L << 32) + 9000, (1L << 32) - 9000, 200},
    };
    for (const Case &c : cases) {
        Stream s;
        s.videoPts = c.video;
        s.audioPts = c.audio;
        Extraction r = Extract("offset", MakeStream(s).bytes);
        EXPECT_EQ(r.result, c.expected) << c.video << " " << c.audio;
        EXPECT_EQ(r.out, AudioBytes(s));
    }
}

TEST(Transplit, AudioOfAnotherStreamIdIsNeverStarted)
{
    Stream s;
    s.audioId = 0xC1;
    s.videoPts = 45000;
    Extraction r = Extract("c1", MakeStream(s).bytes);
    EXPECT_EQ(r.result, 500);
    EXPECT_TRUE(r.out.empty());
}

TEST(Transplit, RefusesWhatIsNotATransportStream)
{
    // Sync bytes only after the first 1023 bytes.
    std::vector<uint8_t> late(1100, 0);
    std::vector<uint8_t> ts = MakeStream(Stream{}).bytes;
    late.insert(late.end(), ts.begin(), ts.end());
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = uint8_t(i * 7 + 3);
    }
    // Video only: no PID is left for audio.
    TsBuilder videoOnly;
    for (int i = 0; i < 5; ++i) {
        videoOnly.Packet(kVideoPid, i == 0, Fill(184, 0));
    }
    const std::vector<uint8_t> *inputs[] = {&late, &garbage, &videoOnly.bytes};
    int before = OpenDescriptors();
    for (const auto *input : inputs) {
        EXPECT_EQ(Extract("refuse", *input).result, -1);
    }
    EXPECT_EQ(OpenDescriptors(), before); // nothing left open on refusal
    std::string dir = WorkDir("missing");
    EXPECT_EQ(CallMain(TransplitMain, {"transplit", dir + "/none.ts", dir + "/temp.mp2"}), -1);
}

TEST(Transplit, PacketsWithTheErrorIndicatorAreNeitherCountedNorCopied)
{
    TsBuilder ts = MakeStream(Stream{});
    // Many errored packets on a third PID would win the video choice if counted.
    for (int i = 0; i < 20; ++i) {
        ts.Packet(0x200, false, Fill(184, 0x55), {}, true);
    }
    ts.Packet(kAudioPid, false, Fill(184, 0x77), {}, true);
    Extraction r = Extract("errors", ts.bytes);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(gTransplitState.videoPid, kVideoPid);
    EXPECT_EQ(gTransplitState.audioPid, kAudioPid);
    EXPECT_EQ(r.out, AudioBytes(Stream{}));
}

TEST(Transplit, AdaptationFields)
{
    // A short adaptation field that claims a PCR: its length alone bounds what is skipped.
    TsBuilder ts = MakeStream(Stream{});
    ts.Packet(kAudioPid, false, Fill(182, 0x99), {1, 0x10});
    // Stuffing: 10 bytes of adaptation field before the payload.
    std::vector<uint8_t> stuffing = {9, 0x00};
    stuffing.resize(10, 0xFF);
    ts.Packet(kAudioPid, false, Fill(174, 0x98), stuffing);
    // Adaptation only (no payload).
    std::vector<uint8_t> full = {183, 0x00};
    full.resize(184, 0xFF);
    ts.Packet(kAudioPid, false, {}, full);
    Extraction r = Extract("adaptation", ts.bytes);
    std::vector<uint8_t> expected = AudioBytes(Stream{});
    expected.insert(expected.end(), 182, 0x99);
    expected.insert(expected.end(), 174, 0x98);
    EXPECT_EQ(r.out, expected);

    // A length above 183 ends the extraction; what was written stays.
    TsBuilder bad = MakeStream(Stream{});
    std::vector<uint8_t> tooLong = {184};
    bad.Packet(kAudioPid, false, {}, tooLong);
    bad.Packet(kAudioPid, false, Fill(184, 0x42));
    Extraction rb = Extract("adaptation_bad", bad.bytes);
    EXPECT_EQ(rb.out, AudioBytes(Stream{}));
}

TEST(Transplit, TruncatedLastPacketWritesOnlyWhatIsThere)
{
    TsBuilder ts = MakeStream(Stream{});
    ts.Packet(kAudioPid, false, Fill(184, 0x66));
    ts.bytes.erase(ts.bytes.end() - 100, ts.bytes.end());
    Extraction r = Extract("truncated", ts.bytes);
    std::vector<uint8_t> expected = AudioBytes(Stream{});
    expected.insert(expected.end(), 84, 0x66);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.result, 0);
}

TEST(Transplit, WorkFileIsReplacedNotOverwritten)
{
    std::string dir = WorkDir("replace");
    std::string in = dir + "/in.ts";
    std::string out = dir + "/temp.mp2";
    WriteFile(in, MakeStream(Stream{}).bytes);
    WriteFile(out, std::vector<uint8_t>(100000, 0xEE));
    EXPECT_EQ(CallMain(TransplitMain, {"transplit", in, out}), 0);
    EXPECT_EQ(ReadFile(out), AudioBytes(Stream{}));
}

TEST(Transplit, UnwritableWorkFileIsAFailure)
{
    std::string dir = WorkDir("unwritable");
    std::string in = dir + "/in.ts";
    WriteFile(in, MakeStream(Stream{}).bytes);
    int before = OpenDescriptors();
    EXPECT_EQ(CallMain(TransplitMain, {"transplit", in, dir + "/no/such/folder/temp.mp2"}), -1);
    EXPECT_EQ(OpenDescriptors(), before);
}

// The stream's PES packets with their headers taken out.
std::vector<uint8_t> PesPayloads(const std::vector<uint8_t> &pes)
{
    std::vector<uint8_t> v;
    size_t at = 0;
    while (at + 9 <= pes.size()) {
        EXPECT_EQ(pes[at + 3], 0xC0) << "at " << at;
        size_t length = size_t(pes[at + 4] << 8 | pes[at + 5]);
        size_t header = 9 + pes[at + 8];
        size_t end = at + 6 + length;
        if (length == 0 || end > pes.size() || header > 6 + length) {
            ADD_FAILURE() << "bad PES at " << at;
            break;
        }
        v.insert(v.end(), pes.begin() + long(at + header), pes.begin() + long(end));
        at = end;
    }
    EXPECT_EQ(at, pes.size());
    return v;
}

TEST(Transplit, FfmpegTransportStream)
{
    std::string dir = WorkDir("ffmpeg_ts");
    std::string out = dir + "/temp.mp2";
    int result = CallMain(TransplitMain, {"transplit", Fixture("mp2_av.ts"), out});
    long video = 0;
    long audio = 0;
    std::vector<uint8_t> pts = ReadFile(Fixture("mp2_av.pts"));
    std::string text(pts.begin(), pts.end());
    ASSERT_EQ(std::sscanf(text.c_str(), "%ld%*[, ]%ld", &video, &audio), 2) << text;
    EXPECT_EQ(result, int((video - audio) / 90));
    EXPECT_LT(result, -100); // the audio starts 120 ms after the video
    // The PES headers sit between the frames; without them the bytes are ffmpeg's copy.
    std::vector<uint8_t> written = ReadFile(out);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(PesPayloads(written), ReadFile(Fixture("mp2_av_audio.mp2")));
}

} // namespace
