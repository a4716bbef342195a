// Wall time per frame of the DVCPRO HD decoder beside ffmpeg's on the same streams, in the same
// run, rounds interleaved, medians printed: for each kind the full decoding to the widened BGR
// picture at 1 and 8 threads against ffmpeg's decode + bgr24 + scale to the display width (one
// thread), and the fast decoding of playback at the coded width. Beside the 8-thread speed-up,
// the processor time it costs over the 1-thread decoding: the speed-up cannot pass 8 over that,
// nor what other programs leave of the processors (the load average is printed first).
//
// Usage: bench_dvdecoder [--rounds N] [--frames N] [--work DIR]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "dvdecoder/cindrell.h"
#include "platform/sys/worker_pool.h"

namespace {

struct Kind
{
    const char *name;
    int format;
};

constexpr Kind kKinds[] = {{"1080i60", 1}, {"1080i50", 3}, {"720p60", 2}, {"720p50", 4}};

// Processor time of the whole process (every thread), in milliseconds.
double ProcessCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)) * 1e3
           + (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e3;
}

struct Timing
{
    double wallMs, cpuMs; // per frame
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::vector<uint8_t> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Wall and processor milliseconds per frame of `frames` decodes of the stream's frames in turn.
Timing Ours(const std::vector<uint8_t> &stream, int format, int width, int mode, int threads,
              int frames)
{
    lc::SetSharedWorkerThreads(threads);
    CindrellInit();
    const size_t bytes = CindrellFrameBytes(format);
    const size_t count = stream.size() / bytes;
    const int lines = CindrellLines(format);
    std::vector<uint8_t> out(size_t((width * 3 + 3) & ~3) * lines);
    auto decode = [&](int i) {
        const uint8_t *frame = stream.data() + bytes * (size_t(i) % count);
        if (!CindrellDecodeFrame(out.data(), width, lines, frame, bytes, out.data(), mode, 0, 0,
                                 format, 24, 1, 0)
                 .ok()) {
            std::fprintf(stderr, "decode failed\n");
            std::exit(1);
        }
    };
    decode(0); // warm the tables and buffers
    const double cpu0 = ProcessCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        decode(i);
    }
    const auto t1 = std::chrono::steady_clock::now();
    const double cpu1 = ProcessCpuMs();
    return {std::chrono::duration<double, std::milli>(t1 - t0).count() / frames,
            (cpu1 - cpu0) / frames};
}

// ffmpeg's own time (its -benchmark real time) per frame for `frames` frames of the stream,
// decoding on one thread, then through `filter` when given.
double FfmpegMs(const std::string &stream, int streamFrames, int frames, const std::string &filter)
{
    const int loops = std::max(1, frames / streamFrames) - 1;
    const std::string command = "ffmpeg -nostdin -hide_banner -benchmark -threads 1 "
                                "-filter_threads 1 -stream_loop "
                                + std::to_string(loops) + " -i '" + stream + "' "
                                + (filter.empty() ? "" : "-vf " + filter + " ") + "-f null - 2>&1";
    FILE *p = popen(command.c_str(), "r");
    if (!p) {
        return 0;
    }
    char line[512];
    double rtime = 0;
    while (std::fgets(line, sizeof line, p)) {
        if (const char *at = std::strstr(line, "rtime=")) {
            rtime = std::atof(at + 6);
        }
    }
    pclose(p);
    return rtime * 1000.0 / (double(streamFrames) * (loops + 1));
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 5;
    int frames = 100;
    std::string work = std::string(LC_BINARY_DIR) + "/bench/dvdecoder/streams";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (!std::strcmp(argv[i], "--frames")) {
            frames = std::max(20, std::atoi(argv[i + 1]));
        } else if (!std::strcmp(argv[i], "--work")) {
            work = argv[i + 1];
        }
    }
    constexpr int kStreamFrames = 20;
    const std::string make = "sh '" + std::string(LC_SOURCE_DIR)
                             + "/bench/dvdecoder/make_streams.sh' '" + work + "' "
                             + std::to_string(kStreamFrames);
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "cannot make the streams (ffmpeg missing?)\n");
        return 1;
    }
    const int manyThreads = 8;
    std::string load;
    {
        std::ifstream loadavg("/proc/loadavg");
        std::getline(loadavg, load);
    }
    std::printf("DVCPRO HD, ms per frame, wall time, median of %d interleaved rounds of %d frames "
                "(load average at the start: %s)\n",
                rounds, frames, load.c_str());
    std::printf("%-8s %9s %9s %7s | %9s %7s %7s | %9s %9s %7s | %9s\n", "kind", "full 1t",
                "ffmpeg", "ratio", "full 8t", "8t/1t", "cpu", "fast 1t", "fast 8t", "full/fast",
                "ff decode");
    for (const Kind &kind : kKinds) {
        const std::string path = work + "/dvbench_" + kind.name + ".dv";
        const std::vector<uint8_t> stream = ReadAll(path);
        const int wide = CindrellDisplayWidth(kind.format);
        const int coded = CindrellCodedWidth(kind.format);
        const std::string scale = "scale=" + std::to_string(wide) + ":"
                                  + std::to_string(CindrellLines(kind.format)) + ",format=bgr24";
        std::vector<double> full1, full8, cpuCost, fast1, fast8, ff, ffDecode;
        for (int r = 0; r < rounds; ++r) {
            const Timing one = Ours(stream, kind.format, wide, kCindrellFull, 1, frames);
            full1.push_back(one.wallMs);
            ff.push_back(FfmpegMs(path, kStreamFrames, frames, scale));
            const Timing many = Ours(stream, kind.format, wide, kCindrellFull, manyThreads, frames);
            full8.push_back(many.wallMs);
            cpuCost.push_back(many.cpuMs / one.cpuMs);
            fast1.push_back(Ours(stream, kind.format, coded, kCindrellFast, 1, frames).wallMs);
            ffDecode.push_back(FfmpegMs(path, kStreamFrames, frames, ""));
            fast8.push_back(
                Ours(stream, kind.format, coded, kCindrellFast, manyThreads, frames).wallMs);
        }
        const double f1 = Median(full1), f8 = Median(full8), q1 = Median(fast1), q8 = Median(fast8);
        const double m = Median(ff);
        std::printf("%-8s %9.2f %9.2f %7.2f | %9.2f %7.2f %7.2f | %9.2f %9.2f %7.2f | %9.2f\n",
                    kind.name, f1, m, f1 / m, f8, f1 / f8, Median(cpuCost), q1, q8, f1 / q1,
                    Median(ffDecode));
    }
    std::printf(
        "ratio = full decode to the widened BGR picture, 1 thread / ffmpeg decode + bgr24 + "
        "scale, 1 thread (goal <= 1.0)\n8t/1t = speed-up at %d threads (goal >= 5); cpu = "
        "processor time at %d threads / at 1 thread: the speed-up stays below %d / cpu, and "
        "below what other programs leave free\nfull/fast = the fast decoding's speed-up at the "
        "coded width (goal >= 2)\n",
        manyThreads, manyThreads, manyThreads);
    return 0;
}
