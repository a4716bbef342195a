#include "tests/mpeg2/ac3_test_support.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mpeg2/ac3_decoder.h"
#include "mpeg2/ac3_downmix.h"
#include "mpeg2/wav_writer.h"
#include "platform/sys/file.h"

namespace {

int64_t ModifiedTime(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? int64_t(st.st_mtime) : -1;
}

} // namespace

// Runs the script once per build tree (again when it changed); a lock keeps the test processes
// that ctest starts in parallel from racing on the files.
const std::string &Ac3FixtureDir()
{
    static const std::string dir = [] {
        std::string out = std::string(LC_BINARY_DIR) + "/tests/mpeg2/ac3_fixtures";
        std::string script = std::string(LC_SOURCE_DIR) + "/tests/fixtures/ac3_make_fixtures.sh";
        std::string stamp = out + "/ac3_fixtures.done";
        (void)::mkdir(out.c_str(), 0755);
        int lock = ::open((out + "/.lock").c_str(), O_CREAT | O_RDWR, 0644);
        if (lock >= 0) {
            (void)::flock(lock, LOCK_EX);
        }
        bool ok = ModifiedTime(stamp) >= ModifiedTime(script)
                  || std::system(("sh '" + script + "' '" + out + "'").c_str()) == 0;
        if (lock >= 0) {
            (void)::flock(lock, LOCK_UN);
            ::close(lock);
        }
        return ok ? out : std::string();
    }();
    return dir;
}

std::vector<uint8_t> ReadFixture(const std::string &name)
{
    auto bytes = lc::ReadWholeFile((Ac3FixtureDir() + "/" + name).c_str());
    if (!bytes) {
        return {};
    }
    return std::vector<uint8_t>(bytes->begin(), bytes->end());
}

std::vector<int16_t> ReadS16(const std::string &name)
{
    std::vector<uint8_t> b = ReadFixture(name);
    std::vector<int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

std::vector<float> ReadF32(const std::string &name)
{
    std::vector<uint8_t> b = ReadFixture(name);
    std::vector<float> s(b.size() / 4);
    std::memcpy(s.data(), b.data(), s.size() * 4);
    return s;
}

std::vector<int16_t> DecodeAc3(const std::vector<uint8_t> &stream, int chunk, int track,
                               int capacity)
{
    Ac3DecoderInit();
    std::vector<uint8_t> out(static_cast<size_t>(capacity));
    std::vector<int16_t> all;
    for (size_t pos = 0; pos < stream.size();) {
        int n = int(std::min(stream.size() - pos, size_t(chunk)));
        // An exact-size copy, so reading past the piece shows under the sanitizer.
        std::vector<uint8_t> piece(stream.begin() + long(pos), stream.begin() + long(pos) + n);
        int done = 0;
        while (done < n) {
            int used = 0;
            int count = Ac3DecodeTrack(piece.data() + done, n - done, out.data(), 0, capacity,
                                       track, &used);
            const auto *samples = reinterpret_cast<const int16_t *>(out.data());
            all.insert(all.end(), samples, samples + count / 2);
            if (used == 0 && count == 0) {
                return all; // no progress: a fault the caller's checks will show
            }
            done += used;
        }
        pos += size_t(n);
    }
    return all;
}

std::vector<Ac3Packet> Ac3PacketsOf(const std::vector<uint8_t> &ps)
{
    std::vector<Ac3Packet> packets;
    size_t i = 0;
    while (i + 4 <= ps.size()) {
        if (ps[i] != 0 || ps[i + 1] != 0 || ps[i + 2] != 1) {
            ++i;
            continue;
        }
        int code = ps[i + 3];
        if (code == 0xBA) {
            i += 14 + (i + 13 < ps.size() ? (ps[i + 13] & 7) : 0);
            continue;
        }
        if (code < 0xBB || i + 6 > ps.size()) {
            i += 4;
            continue;
        }
        size_t len = size_t(ps[i + 4]) << 8 | ps[i + 5];
        size_t body = i + 6;
        if (body + len > ps.size()) {
            break;
        }
        if (code == 0xBD) {
            size_t hdr = ps[body + 2];
            size_t sub = body + 3 + hdr;
            int id = ps[sub];
            if (id >= 0x80 && id <= 0x87) {
                Ac3Packet p;
                p.substream = id;
                p.payload.assign(ps.begin() + long(sub + 4), ps.begin() + long(body + len));
                packets.push_back(std::move(p));
            }
        }
        i = body + len;
    }
    return packets;
}

double SnrDb(const std::vector<int16_t> &ref, const std::vector<int16_t> &test)
{
    size_t n = std::min(ref.size(), test.size());
    double sig = 0;
    double err = 0;
    for (size_t i = 0; i < n; ++i) {
        double d = double(ref[i]) - double(test[i]);
        sig += double(ref[i]) * ref[i];
        err += d * d;
    }
    if (err == 0) {
        return 200;
    }
    return 10 * std::log10(sig / err);
}

std::vector<int16_t> MixReference(const std::vector<float> &s, RefLayout layout, int cmixlev,
                                  int surmixlev)
{
    const double w = kAc3MainWeight;
    const double c = kAc3CentreWeight[cmixlev];
    const double sw = kAc3SurroundWeight[surmixlev];
    int channels = layout == RefLayout::Mono ? 1 : layout == RefLayout::Five ? 5 : 6;
    std::vector<int16_t> out;
    for (size_t i = 0; i + size_t(channels) <= s.size(); i += size_t(channels)) {
        double l = 0;
        double r = 0;
        const float *x = &s[i];
        switch (layout) {
        case RefLayout::Mono:
            l = r = 0.7071 * x[0];
            break;
        case RefLayout::Five:
            l = w * x[0] + c * x[2] + sw * x[3];
            r = w * x[1] + c * x[2] + sw * x[4];
            break;
        case RefLayout::FivePoint1:
            l = w * x[0] + c * x[2] + sw * x[4] + w * x[3];
            r = w * x[1] + c * x[2] + sw * x[5] + w * x[3];
            break;
        }
        out.push_back(ClipToInt16(l * 32768));
        out.push_back(ClipToInt16(r * 32768));
    }
    return out;
}
