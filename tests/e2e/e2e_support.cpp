#include "tests/e2e/e2e_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/options_file.h"
#include "platform/sys/text.h"
#include "tests/support/fixture_script.h"

namespace e2e {

namespace {

// Lines of text, without their ends.
std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The runner prints line breaks of a box as "\n".
std::string Unescaped(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            out += '\n';
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool StartsWith(const std::string &s, const char *prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The md5 column of ffmpeg's framemd5 lines.
std::vector<std::string> Md5Column(const std::string &text)
{
    std::vector<std::string> sums;
    for (const std::string &line : Lines(text)) {
        if (!line.empty() && line[0] != '#') {
            sums.push_back(line.substr(line.rfind(',') + 1));
        }
    }
    return sums;
}

} // namespace

std::string FixtureFolder(const char *script, const char *folder)
{
    const std::string out = std::string(LC_BINARY_DIR) + "/fixtures/" + folder;
    const std::string path = std::string(LC_SOURCE_DIR) + "/tests/fixtures/" + script;
    if (!lc_test::MakeFixturesOnce(out, out + "/.made", path, {"sh", path, out})) {
        ADD_FAILURE() << script << " failed";
    }
    return out;
}

std::string Fixture(const char *name)
{
    static const std::string dir = FixtureFolder("e2e_make_fixtures.sh", "e2e");
    return dir + "/" + name;
}

std::string MpegFixture(const char *name)
{
    static const std::string dir = FixtureFolder("e2e_mpeg_make_fixtures.sh", "e2e_mpeg");
    return dir + "/" + name;
}

bool Run(const std::vector<std::string> &argv, std::string *output, std::string *errors,
         const LineWatcher &onLine)
{
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    int out[2], err[2];
    if (pipe(out) != 0) {
        return false;
    }
    if (pipe(err) != 0) {
        close(out[0]);
        close(out[1]);
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    // Both streams at once, so neither pipe fills while the other is read.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string seen; // the standard output as it comes, for onLine
    std::string *sinks[2] = {output ? output : &seen, errors};
    size_t lineStart = 0;
    int open = 2;
    char buf[65536];
    while (open > 0 && poll(fds, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                if (sinks[i]) {
                    sinks[i]->append(buf, size_t(n));
                }
                for (size_t end; i == 0 && onLine
                                 && (end = sinks[0]->find('\n', lineStart)) != std::string::npos;
                     lineStart = end + 1) {
                    onLine(sinks[0]->substr(lineStart, end - lineStart));
                }
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd &f : fds) {
        if (f.fd >= 0) {
            close(f.fd);
        }
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)
           && WEXITSTATUS(status) == 0;
}

bool RunnerResult::Shown(const std::string &message) const
{
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

void WriteOptionsFile(const std::string &folder, const ConversionOptions &options)
{
    std::ofstream f(folder + "/" + kOptionsFileName, std::ios::binary | std::ios::trunc);
    f << kOptionsFileFirstLine << "\n" << FormatOptionLines(options);
}

RunnerResult RunLoomcut(const std::string &folder, const std::vector<std::string> &args,
                        const std::vector<std::string> &prefix, const LineWatcher &onLine)
{
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {std::string(LC_BINARY_DIR) + "/bin/loomcut-run", "--dir", folder});
    argv.insert(argv.end(), args.begin(), args.end());
    RunnerResult r;
    r.exitedOk = Run(argv, &r.text, nullptr, onLine);
    for (const std::string &line : Lines(r.text)) {
        if (StartsWith(line, "message: ")) {
            r.messages.push_back(Unescaped(line.substr(9)));
        } else if (StartsWith(line, "progress: ")) {
            r.progress.push_back(Unescaped(line.substr(10)));
        } else if (StartsWith(line, "chooser: ")) {
            r.choosers.push_back(line.substr(9));
        } else if (StartsWith(line, "output: ")) {
            r.output = line.substr(8);
        }
    }
    return r;
}

void RunnerTest::SetUp()
{
    char pattern[] = "/tmp/lc_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ResetConversionOptions(options);
    options.userSelectsOutputFolder = 1;
    lc::CopyText(options.outputFolder, dir_.c_str());
}

void RunnerTest::TearDown()
{
    if (!std::getenv("LC_E2E_KEEP")) {
        e2e::Run({"rm", "-rf", dir_});
    } else {
        std::printf("kept %s\n", dir_.c_str());
    }
}

RunnerResult RunnerTest::RunApp(const std::vector<std::string> &args,
                                const std::vector<std::string> &prefix, const LineWatcher &onLine)
{
    WriteOptionsFile(dir_, options);
    return RunLoomcut(dir_, args, prefix, onLine);
}

Fields Probe(const std::string &path, const char *stream)
{
    std::string out;
    Fields fields;
    if (!Run({"ffprobe", "-v", "error", "-count_frames", "-count_packets", "-select_streams",
              stream, "-show_streams", "-of", "default=nw=1", path},
             &out)) {
        return fields;
    }
    for (const std::string &line : Lines(out)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) {
            fields.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
    }
    return fields;
}

int Int(const Fields &fields, const char *key)
{
    auto it = fields.find(key);
    return it == fields.end() ? -1 : std::atoi(it->second.c_str());
}

std::string Str(const Fields &fields, const char *key)
{
    auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

bool DecodesClean(const std::string &path, std::string *errors)
{
    std::string err;
    bool ok = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0", "-f", "null", "-"},
                  nullptr, &err);
    if (errors) {
        *errors = err;
    }
    return ok && err.empty();
}

std::vector<std::string> FrameMd5(const std::string &path)
{
    std::string text;
    Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-f", "framemd5", "-"},
        &text);
    return Md5Column(text);
}

std::vector<std::string> PacketMd5(const std::string &path)
{
    std::string text;
    Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-c", "copy", "-f",
         "framemd5", "-"},
        &text);
    return Md5Column(text);
}

double Picture::Mean() const
{
    if (data.empty()) {
        return 0;
    }
    uint64_t sum = 0;
    for (uint8_t v : data) {
        sum += v;
    }
    return double(sum) / double(data.size());
}

Picture Picture::Field(int parity) const
{
    Picture f;
    f.width = width;
    f.channels = channels;
    const size_t row = size_t(width) * size_t(channels);
    for (int y = parity; y < height; y += 2) {
        f.data.insert(f.data.end(), data.begin() + long(size_t(y) * row),
                      data.begin() + long(size_t(y + 1) * row));
        ++f.height;
    }
    return f;
}

std::vector<Picture> DecodeFrames(const std::string &path, int width, int height, bool rgb)
{
    std::string raw;
    std::vector<Picture> frames;
    char filter[96];
    std::snprintf(filter, sizeof filter, "scale=%d:%d,format=%s", width, height,
                  rgb ? "rgb24" : "gray");
    if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-vf", filter, "-f",
              "rawvideo", "-"},
             &raw)) {
        return frames;
    }
    const int channels = rgb ? 3 : 1;
    const size_t bytes = size_t(width) * size_t(height) * size_t(channels);
    for (size_t pos = 0; bytes > 0 && pos + bytes <= raw.size(); pos += bytes) {
        Picture p;
        p.width = width;
        p.height = height;
        p.channels = channels;
        p.data.assign(raw.begin() + long(pos), raw.begin() + long(pos + bytes));
        frames.push_back(std::move(p));
    }
    return frames;
}

double Psnr(const Picture &a, const Picture &b)
{
    if (a.data.size() != b.data.size() || a.data.empty()) {
        return 0;
    }
    double sum = 0;
    for (size_t i = 0; i < a.data.size(); ++i) {
        const double d = double(a.data[i]) - double(b.data[i]);
        sum += d * d;
    }
    if (sum == 0) {
        return 99;
    }
    return 10 * std::log10(255.0 * 255.0 * double(a.data.size()) / sum);
}

int BestMatch(const Picture &out, const std::vector<Picture> &refs, int first, int last,
              double *psnr)
{
    int best = -1;
    double bestPsnr = -1;
    first = std::max(first, 0);
    last = std::min(last, int(refs.size()) - 1);
    for (int i = first; i <= last; ++i) {
        const double p = Psnr(out, refs[size_t(i)]);
        if (p > bestPsnr) {
            bestPsnr = p;
            best = i;
        }
    }
    if (psnr) {
        *psnr = bestPsnr;
    }
    return best;
}

std::vector<FrameMatch> MatchFrames(const std::vector<Picture> &out,
                                    const std::vector<Picture> &refs, double perFrame,
                                    double window, bool fields)
{
    std::vector<Picture> refFields[2];
    if (fields) {
        for (const Picture &p : refs) {
            refFields[0].push_back(p.Field(0));
            refFields[1].push_back(p.Field(1));
        }
    }
    std::vector<FrameMatch> matches;
    for (size_t k = 0; k < out.size(); ++k) {
        const double place = double(k) * perFrame;
        const int first = int(std::floor(place - window));
        const int last = int(std::ceil(place + window));
        for (int f = fields ? 0 : -1; f < (fields ? 2 : 0); ++f) {
            FrameMatch m{int(k), f, -1, 0};
            m.match = f < 0 ? BestMatch(out[k], refs, first, last, &m.psnr)
                            : BestMatch(out[k].Field(f), refFields[f], first, last, &m.psnr);
            matches.push_back(m);
        }
    }
    return matches;
}

std::vector<int16_t> SoundSamples(const std::string &path)
{
    std::string pcm;
    std::vector<int16_t> samples;
    if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le",
              "-ac", "2", "-ar", "48000", "-"},
             &pcm)) {
        return samples;
    }
    samples.resize(pcm.size() / 2);
    if (!samples.empty()) {
        std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    }
    return samples;
}

int64_t SoundFrames(const std::string &path)
{
    std::string pcm;
    if (!Run({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f", "s16le",
              "-ac", "2", "-"},
             &pcm)) {
        return -1;
    }
    return int64_t(pcm.size() / 4);
}

double VideoRate(const std::string &path)
{
    const std::string r = Str(Probe(path, "v:0"), "r_frame_rate");
    const size_t slash = r.find('/');
    if (slash == std::string::npos) {
        return std::atof(r.c_str());
    }
    const double den = std::atof(r.c_str() + slash + 1);
    return den > 0 ? std::atof(r.c_str()) / den : 0;
}

std::vector<int> FlashFrames(const std::string &path)
{
    const Fields v = Probe(path, "v:0");
    std::vector<double> means;
    for (const Picture &p : DecodeFrames(path, Int(v, "width"), Int(v, "height"))) {
        means.push_back(p.Mean());
    }
    std::vector<int> flashes;
    if (means.empty()) {
        return flashes;
    }
    std::vector<double> sorted = means;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double top = sorted.back();
    if (top - median < 40) {
        return flashes; // nothing stands out
    }
    // Halfway up: a frame woven from a white field and a picture field still counts.
    const double threshold = (median + top) / 2;
    bool inFlash = false;
    for (size_t i = 0; i < means.size(); ++i) {
        const bool bright = means[i] > threshold;
        if (bright && !inFlash) {
            flashes.push_back(int(i));
        }
        inFlash = bright;
    }
    return flashes;
}

std::vector<double> BeepTimes(const std::string &path)
{
    constexpr int kRate = 48000;
    constexpr int kLoud = 3000;          // the beeps are at half scale
    constexpr int kSilence = kRate / 10; // sample frames of quiet before a beep
    const std::vector<int16_t> s = SoundSamples(path);
    std::vector<double> beeps;
    int64_t quiet = kSilence;
    for (size_t i = 0; i + 1 < s.size(); i += 2) {
        const int level = std::max(std::abs(int(s[i])), std::abs(int(s[i + 1])));
        if (level > kLoud) {
            if (quiet >= kSilence) {
                beeps.push_back(double(i / 2) / kRate);
            }
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return beeps;
}

} // namespace e2e
