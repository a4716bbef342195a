#include <algorithm>
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

// An adaptation field of size bytes in all (its length byte included), only stuffing.
std::vector<uint8_t> Stuffing(size_t size)
{
    std::vector<uint8_t> v(size, 0xFF);
    v[0] = uint8_t(size - 1);
    if (size > 1) {
        v[1] = 0;
    }
    return v;
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

// The audio elementary stream MakeStream writes: its one PES packet (of no declared length)
// without the header.
std::vector<uint8_t> AudioBytes(const Stream &s)
{
    TsBuilder ts = MakeStream(s);
    std::vector<uint8_t> v;
    bool first = true;
    for (size_t at = 0; at < ts.bytes.size(); at += 188) {
        int pid = (ts.bytes[at + 1] & 0x1F) << 8 | ts.bytes[at + 2];
        if (pid == kAudioPid) {
            size_t header = first ? 9 + ts.bytes[at + 4 + 8] : 0;
            v.insert(v.end(), ts.bytes.begin() + long(at + 4 + header),
                     ts.bytes.begin() + long(at) + 188);
            first = false;
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
        {90000, 90000 + 90, 0}, // -1 ms would read as "no audio": 0, 1 ms off
        {90000, 90000 + 180, -2},
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

TEST(Transplit, EveryMpegAudioStreamIdIsTakenAndNothingElse)
{
    struct Case
    {
        uint8_t id;
        int result;
    } cases[] = {{0xC1, 0}, {0xDF, 0}, {0xBD, -1}, {0xE1, -1}, {0xBE, -1}};
    for (const Case &c : cases) {
        Stream s;
        s.audioId = c.id;
        Extraction r = Extract("stream_id", MakeStream(s).bytes);
        EXPECT_EQ(r.result, c.result) << int(c.id);
        EXPECT_EQ(r.out, c.result == 0 ? AudioBytes(s) : std::vector<uint8_t>{}) << int(c.id);
    }
}

// The audio PID is the one that carries MPEG audio, wherever it lies beside the video PID; PIDs
// with more packets but no audio PES (tables, data) are not taken, and sound with more packets
// than the picture is not taken for the video.
TEST(Transplit, AudioPidIsTheOneCarryingMpegAudio)
{
    struct Case
    {
        int audioPid;
        int dataPid; // a PID with more packets than the audio, no PES packets; 0: none
        int audioPackets;
    } cases[] = {{0x100, 0, 2},     {0x900, 0, 2},  {0x100, 0x50, 2},
                 {0x011, 0x900, 2}, {0x1FFE, 0, 2}, {0x811, 0, 20}};
    for (const Case &c : cases) {
        TsBuilder ts;
        ts.Packet(0x000, true, {0, 0, 0xB0, 0x0D}); // a table section, not a PES packet
        ts.Packet(0x011, true, {0, 0x42, 0xF0, 0x11});
        for (int i = 0; i < 9; ++i) {
            ts.Packet(0x810, i == 0, i == 0 ? Pes(0xE0, 99000, 170, 0x11) : Fill(184, 0x12));
        }
        for (int i = 0; c.dataPid && i < 5; ++i) {
            ts.Packet(c.dataPid, i == 0, Fill(184, 0x33));
        }
        ts.Packet(c.audioPid, true, Pes(0xC0, 90000, 170, 0xA0));
        for (int i = 1; i < c.audioPackets; ++i) {
            ts.Packet(c.audioPid, false, Fill(184, 0xA1));
        }
        Extraction r = Extract("pid_choice", ts.bytes);
        EXPECT_EQ(gTransplitState.videoPid, 0x810) << c.audioPid;
        // PIDs above 4095 are not counted: such audio is not found.
        const bool counted = c.audioPid < kTransplitPidCount;
        EXPECT_EQ(gTransplitState.audioPid, counted ? c.audioPid : 0) << c.audioPid;
        EXPECT_EQ(r.result, counted ? 100 : -1) << c.audioPid;
        std::vector<uint8_t> expected(170, 0xA0);
        expected.insert(expected.end(), 184 * size_t(c.audioPackets - 1), 0xA1);
        EXPECT_EQ(r.out, counted ? expected : std::vector<uint8_t>{}) << c.audioPid;
    }
}

// Sound that starts after the first 4096 packets (a stream of a high rate, its sound late) is
// still found, with its offset.
TEST(Transplit, AudioThatStartsLateIsFound)
{
    TsBuilder ts;
    ts.Packet(kVideoPid, true, Pes(0xE0, 90000, 170, 0x11));
    for (int i = 0; i < 6000; ++i) {
        ts.Packet(kVideoPid, false, Fill(184, 0x12));
    }
    ts.Packet(kAudioPid, true, Pes(0xC0, 90000 + 45000, 170, 0xA0));
    ts.Packet(kAudioPid, false, Fill(184, 0xA1));
    Extraction r = Extract("late_audio", ts.bytes);
    EXPECT_EQ(gTransplitState.audioPid, kAudioPid);
    EXPECT_EQ(r.result, -500);
    std::vector<uint8_t> expected(170, 0xA0);
    expected.insert(expected.end(), 184, 0xA1);
    EXPECT_EQ(r.out, expected);
}

// A section of a program table in one packet's payload: pointer field, header, body, CRC (not
// checked).
std::vector<uint8_t> Section(uint8_t tableId, uint16_t idExtension, std::vector<uint8_t> body)
{
    const size_t length = 5 + body.size() + 4;
    std::vector<uint8_t> v = {0, tableId, uint8_t(0xB0 | length >> 8), uint8_t(length)};
    v.insert(v.end(), {uint8_t(idExtension >> 8), uint8_t(idExtension), 0xC1, 0, 0});
    v.insert(v.end(), body.begin(), body.end());
    v.insert(v.end(), {0x12, 0x34, 0x56, 0x78});
    return v;
}

// AAC comes in PES packets of the MPEG audio stream ids too: a PID whose program map entry names
// another kind of stream is not taken for MPEG audio, so its data never reach the MPEG audio
// decoder (which finds false frames in them). Without a program map the start code decides.
TEST(Transplit, ProgramMapKeepsOtherSoundOut)
{
    constexpr int kMapPid = 0x1000; // ffmpeg's, above the PIDs that are counted
    struct Case
    {
        int streamType; // of the audio PID in the program map; -1: not listed
        bool taken;
    } cases[] = {{0x03, true}, {0x04, true}, {-1, true}, {0x0F, false}, {0x11, false}};
    for (const Case &c : cases) {
        TsBuilder ts;
        ts.Packet(0, true,
                  Section(0x00, 1, {0, 1, uint8_t(0xE0 | kMapPid >> 8), uint8_t(kMapPid)}));
        std::vector<uint8_t> map = {0xE0 | kVideoPid >> 8, uint8_t(kVideoPid), 0xF0, 0, 0x02,
                                    0xE0 | kVideoPid >> 8, uint8_t(kVideoPid), 0xF0, 0};
        if (c.streamType >= 0) {
            map.insert(map.end(), {uint8_t(c.streamType), 0xE0 | kAudioPid >> 8, uint8_t(kAudioPid),
                                   0xF0, 3, 0x0A, 1, 0});
        }
        ts.Packet(kMapPid, true, Section(0x02, 1, map));
        const TsBuilder av = MakeStream(Stream{});
        ts.bytes.insert(ts.bytes.end(), av.bytes.begin(), av.bytes.end());
        Extraction r = Extract("program_map", ts.bytes);
        EXPECT_EQ(r.result, c.taken ? 0 : -1) << c.streamType;
        EXPECT_EQ(r.out, c.taken ? AudioBytes(Stream{}) : std::vector<uint8_t>{}) << c.streamType;
    }
}

// A PES header is skipped by its own length, whatever it holds and wherever it ends.
TEST(Transplit, PesHeadersAreSkippedByTheirOwnLength)
{
    // Start code, declared length (0: none), then the header's bytes after the length. Built in
    // sized buffers: inserts into a vector of a size GCC 12 knows make it warn at -O2 and -O3 of a
    // copy out of bounds that cannot happen.
    auto joined = [](const std::vector<uint8_t> &a, const std::vector<uint8_t> &b, size_t count,
                     uint8_t fill) {
        std::vector<uint8_t> v(a.size() + b.size() + count, fill);
        std::copy(a.begin(), a.end(), v.begin());
        std::copy(b.begin(), b.end(), v.begin() + long(a.size()));
        return v;
    };
    auto pes = [&](int declared, const std::vector<uint8_t> &header, size_t count, uint8_t fill) {
        return joined({0, 0, 1, 0xC0, uint8_t(declared >> 8), uint8_t(declared)}, header, count,
                      fill);
    };
    const std::vector<uint8_t> pts = {0x21, 0x00, 0x05, 0xBF, 0x21}; // 90000
    const std::vector<uint8_t> withPts = joined({0x80, 0x80, 5}, pts, 0, 0);
    std::vector<uint8_t> stuffed = {0x80, 0x00, 7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    const std::vector<uint8_t> mpeg1 = joined({0xFF, 0xFF, 0x40, 0x20}, pts, 0, 0);

    TsBuilder ts;
    for (int i = 0; i < 9; ++i) {
        ts.Packet(kVideoPid, i == 0, i == 0 ? Pes(0xE0, 99000, 170, 0x11) : Fill(184, 0x12));
    }
    // 1. With a PTS, declared length 8 + 20: 20 bytes of audio.
    ts.Packet(kAudioPid, true, pes(8 + 20, withPts, 20, 0xA1), Stuffing(184 - 34));
    // 2. Stuffing in the header, no declared length; it goes on in the next packet.
    ts.Packet(kAudioPid, true, pes(0, stuffed, 100, 0xA2), Stuffing(184 - 116));
    ts.Packet(kAudioPid, false, Fill(184, 0xA3));
    // 3. A header split over two packets: a 180-byte adaptation field leaves 4 payload bytes.
    std::vector<uint8_t> split = pes(0, withPts, 50, 0xA4);
    ts.Packet(kAudioPid, true, {split.begin(), split.begin() + 4}, Stuffing(180));
    std::vector<uint8_t> rest(split.begin() + 4, split.end());
    ts.Packet(kAudioPid, false, rest, Stuffing(184 - rest.size()));
    // 4. MPEG-1 syntax: stuffing, buffer size, PTS; declared length 9 + 30, then junk bytes
    // behind the declared end.
    std::vector<uint8_t> one = pes(9 + 30, mpeg1, 30, 0xA5);
    one.insert(one.end(), 184 - one.size(), 0xEE);
    ts.Packet(kAudioPid, true, one);
    // 5. No PES start where a packet says one starts: nothing until the next one.
    ts.Packet(kAudioPid, true, Fill(184, 0x55));
    ts.Packet(kAudioPid, false, Fill(184, 0x56));
    ts.Packet(kAudioPid, true, pes(0, withPts, 170, 0xA6));

    Extraction r = Extract("pes_headers", ts.bytes);
    EXPECT_EQ(r.result, 100);
    std::vector<uint8_t> expected(20, 0xA1);
    expected.insert(expected.end(), 100, 0xA2);
    expected.insert(expected.end(), 184, 0xA3);
    expected.insert(expected.end(), 50, 0xA4);
    expected.insert(expected.end(), 30, 0xA5);
    expected.insert(expected.end(), 170, 0xA6);
    EXPECT_EQ(r.out, expected);
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

    // A length above 183 spoils only its own packet: the extraction goes on after it.
    TsBuilder bad = MakeStream(Stream{});
    for (int length : {184, 255}) {
        std::vector<uint8_t> tooLong(184, 0x77);
        tooLong[0] = uint8_t(length);
        bad.Packet(kAudioPid, false, {}, tooLong);
    }
    bad.Packet(kAudioPid, false, Fill(184, 0x42));
    Extraction rb = Extract("adaptation_bad", bad.bytes);
    expected = AudioBytes(Stream{});
    expected.insert(expected.end(), 184, 0x42);
    EXPECT_EQ(rb.out, expected);
    EXPECT_EQ(rb.result, 0);
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
    // Only the PES payloads are written: the bytes are ffmpeg's copy of the stream.
    std::vector<uint8_t> written = ReadFile(out);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written, ReadFile(Fixture("mp2_av_audio.mp2")));
}

} // namespace
