// Whole-stream MPEG-2 decoding speed beside ffmpeg's (-threads 1) on the same streams, in the
// same run: rounds interleave ffmpeg, the decoder alone and the decoder with the output stage's
// colour conversion (on the worker pool, then on one thread), and medians are printed. The
// decoding runs on one thread: frames/s are given in processor time (user + system), which
// other work on the machine disturbs less, and in wall time. "+RGB" is wall frames/s with the
// output stage on the pool, "RGB cost" the wall time spent in the stage over the rest of the
// run's time, with the pool and with one thread (the stage keeps standard definition on the
// decoder's thread, so both are the same conversion there).
//   mpeg2_bench [--rounds N] [sd|hd] [--kernels [google benchmark flags]]
// --kernels times the kernels of each instruction set instead.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include "mpeg2/internal/mpeg2_dsp.h"
#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"
#include "mpeg2/mpeg_picture_output.h"
#include "mpeg2/mpeg_stream_info.h"
#include "mpeg2/output_stage.h"
#include "mpeg2/output_stage_link.h"
#include "mpeg2/yuv_to_rgb_scale.h"
#include "platform/sys/clock.h"
#include "platform/sys/worker_pool.h"

namespace {

struct Times
{
    double cpu = 0;   // seconds
    double wall = 0;  // seconds
    double stage = 0; // wall seconds in the output stage
    int frames = 0;
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

double WallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::string StreamDir()
{
    const std::string dir = std::string(LC_BINARY_DIR) + "/fixtures/mpeg2_bench";
    const std::string cmd =
        "sh '" + std::string(LC_SOURCE_DIR) + "/bench/mpeg2/mpeg2_bench_streams.sh' '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) {
        std::fprintf(stderr, "could not make the streams: %s\n", cmd.c_str());
        std::exit(1);
    }
    return dir;
}

int gPictures = 0;
double gStageTime = 0; // wall seconds in the output stage
void (*gStagePrepare)(const uint8_t *const[3], const MpegPictureRecord &, int) = nullptr;

void Count(const uint8_t *const planes[3], const MpegPictureRecord &record, int index)
{
    ++gPictures;
    if (gStagePrepare) {
        const double t0 = WallSeconds();
        gStagePrepare(planes, record, index);
        gStageTime += WallSeconds() - t0;
    }
}

void WaitIdle()
{
    while (IsMpegDecoderRunning()) {
        lc::SleepMs(1);
    }
}

// One whole-file run of the open stream.
Times DecodeOnce(bool withStage)
{
    gStagePrepare = withStage ? PrepareStageFrame : nullptr;
    gPictures = 0;
    gStageTime = 0;
    const double c0 = CpuSeconds();
    const double w0 = WallSeconds();
    StartOrPauseMpegDecoding();
    WaitIdle();
    Times t;
    t.cpu = CpuSeconds() - c0;
    t.wall = WallSeconds() - w0;
    t.frames = gPictures;
    t.stage = gStageTime;
    return t;
}

// ffmpeg's decode of the video only, to the null muxer, as its -benchmark line reports it.
Times FfmpegOnce(const std::string &path)
{
    const std::string cmd = "ffmpeg -hide_banner -nostdin -threads 1 -benchmark -i '" + path
                            + "' -map 0:v -f null - 2>&1";
    Times t;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) {
        return t;
    }
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        out.append(buf, n);
    }
    pclose(p);
    const size_t f = out.rfind("frame=");
    if (f != std::string::npos) {
        t.frames = std::atoi(out.c_str() + f + 6);
    }
    double user = 0, sys = 0, real = 0;
    const size_t b = out.rfind("bench: utime=");
    if (b != std::string::npos
        && std::sscanf(out.c_str() + b, "bench: utime=%lfs stime=%lfs rtime=%lfs", &user, &sys,
                       &real)
               == 3) {
        t.cpu = user + sys;
        t.wall = real;
    }
    return t;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Series
{
    std::vector<double> cpuFps, wallFps, stageShare;
    int frames = 0;
    void Add(const Times &t)
    {
        frames = t.frames;
        cpuFps.push_back(t.cpu > 0 ? t.frames / t.cpu : 0);
        wallFps.push_back(t.wall > 0 ? t.frames / t.wall : 0);
        stageShare.push_back(t.wall > t.stage ? t.stage / (t.wall - t.stage) : 0);
    }
};

void BenchStream(const char *label, const std::string &path, int rounds)
{
    gMpegPictureSink.prepareFrame = Count;
    OpenMpegAndStartDecoder(path.c_str());
    WaitIdle();
    const int poolThreads = lc::SharedWorkerPool().Threads();
    Series ours, stage, stageOne, ff;
    for (int r = 0; r < rounds; ++r) {
        ff.Add(FfmpegOnce(path));
        ours.Add(DecodeOnce(false));
        stage.Add(DecodeOnce(true));
        lc::SetSharedWorkerThreads(1);
        stageOne.Add(DecodeOnce(true));
        lc::SetSharedWorkerThreads(poolThreads);
    }
    ResetMpegInputFile();
    const double o = Median(ours.cpuFps), f = Median(ff.cpuFps);
    const double ow = Median(ours.wallFps), fw = Median(ff.wallFps);
    std::printf("%-10s %6d %8.0f %8.0f %6.2fx   %8.0f %8.0f %6.2fx   %8.0f %8.0f%% %8.0f%%\n",
                label, ours.frames, o, f, f > 0 ? o / f : 0, ow, fw, fw > 0 ? ow / fw : 0,
                Median(stage.wallFps), 100.0 * Median(stage.stageShare),
                100.0 * Median(stageOne.stageShare));
    if (ff.frames != 0 && ours.frames != ff.frames) {
        std::printf("%-10s note: %d pictures handed over, ffmpeg decoded %d\n", label, ours.frames,
                    ff.frames);
    }
}

// --- kernels, one benchmark per instruction set ---

void KernelArgs(benchmark::internal::Benchmark *b)
{
    for (int isa = 0; isa <= int(Mpeg2Isa::Avx2); ++isa) {
        if (Mpeg2IsaSupported(Mpeg2Isa(isa))) {
            b->Arg(isa);
        }
    }
}

void BM_Idct(benchmark::State &state)
{
    const Mpeg2Dsp &dsp = Mpeg2DspFor(Mpeg2Isa(state.range(0)));
    std::mt19937 rng(1);
    alignas(32) int16_t blocks[64][64];
    for (auto &b : blocks) {
        for (int i = 0; i < 64; ++i) {
            b[i] = int16_t(i < 10 ? int(rng() % 512) - 256 : 0);
        }
    }
    alignas(32) int16_t work[64];
    size_t n = 0;
    for (auto _ : state) {
        std::memcpy(work, blocks[n & 63], sizeof work);
        dsp.idct(work);
        benchmark::DoNotOptimize(work);
        ++n;
    }
    state.SetItemsProcessed(int64_t(n));
}
BENCHMARK(BM_Idct)->Apply(KernelArgs);

void BM_Predict16x16HalfBoth(benchmark::State &state)
{
    const Mpeg2Dsp &dsp = Mpeg2DspFor(Mpeg2Isa(state.range(0)));
    std::vector<uint8_t> ref(64 * 64), dst(64 * 64);
    std::mt19937 rng(2);
    for (auto &v : ref) {
        v = uint8_t(rng());
    }
    for (auto _ : state) {
        dsp.predict[3](dst.data(), 64, ref.data(), 64, 16, 16);
        dsp.predict[7](dst.data(), 64, ref.data() + 65, 64, 16, 16);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_Predict16x16HalfBoth)->Apply(KernelArgs);

void BM_AddBlock(benchmark::State &state)
{
    const Mpeg2Dsp &dsp = Mpeg2DspFor(Mpeg2Isa(state.range(0)));
    std::vector<uint8_t> dst(8 * 64, 100);
    alignas(32) int16_t block[64];
    for (int i = 0; i < 64; ++i) {
        block[i] = int16_t(i * 7 - 200);
    }
    for (auto _ : state) {
        dsp.addBlock(dst.data(), 64, block);
        dsp.putIntraBlock(dst.data() + 8, 64, block);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_AddBlock)->Apply(KernelArgs);

void BM_YuvToRgbRow1920(benchmark::State &state)
{
    const Mpeg2Dsp &dsp = Mpeg2DspFor(Mpeg2Isa(state.range(0)));
    std::vector<uint8_t> y(1920), u(1920), v(1920), rgb(1920 * 3);
    std::mt19937 rng(3);
    for (int i = 0; i < 1920; ++i) {
        y[i] = uint8_t(rng());
        u[i] = uint8_t(rng());
        v[i] = uint8_t(rng());
    }
    const YuvToRgbFactors k = CurrentYuvToRgbFactors();
    for (auto _ : state) {
        dsp.yuvToRgbRow(y.data(), u.data(), v.data(), rgb.data(), 1920, k);
        benchmark::DoNotOptimize(rgb.data());
    }
    state.SetItemsProcessed(state.iterations() * 1920);
}
BENCHMARK(BM_YuvToRgbRow1920)->Apply(KernelArgs);

// The output stage's whole conversion of one 4:2:0 interlaced picture (preview, no window), 720
// x 480 or 1920 x 1088, with the instruction set chosen for the decoder, on 1 or 8 threads of
// the worker pool.
void StageArgs(benchmark::internal::Benchmark *b)
{
    for (int isa = 0; isa <= int(Mpeg2Isa::Avx2); ++isa) {
        for (int hd = 0; hd <= 1; ++hd) {
            for (int threads : {1, 8}) {
                if (Mpeg2IsaSupported(Mpeg2Isa(isa))) {
                    b->Args({isa, hd, threads});
                }
            }
        }
    }
    b->ArgNames({"isa", "hd", "threads"});
}

void BM_StagePicture(benchmark::State &state)
{
    SelectMpeg2Isa(Mpeg2Isa(state.range(0)));
    lc::SetSharedWorkerThreads(int(state.range(2)));
    const int w = state.range(1) ? 1920 : 720, h = state.range(1) ? 1088 : 480;
    std::vector<uint8_t> y(size_t(w) * h), cb(size_t(w / 2) * (h / 2)), cr(cb.size());
    std::mt19937 rng(4);
    for (auto *plane : {&y, &cb, &cr}) {
        for (uint8_t &v : *plane) {
            v = uint8_t(rng());
        }
    }
    InstallOutputStage();
    AllocateDecodedPictureBuffers();
    gMpegStreamInfo.codedWidth = w;
    gMpegStreamInfo.codedHeight = h;
    gMpegStreamInfo.horizontalSize = w;
    gMpegStreamInfo.verticalSize = state.range(1) ? 1080 : h;
    gMpegStreamInfo.chromaFormat = 1;
    const uint8_t *planes[3] = {y.data(), cb.data(), cr.data()};
    for (auto _ : state) {
        PrepareStageFrame(planes, MpegPictureRecord{}, 0);
    }
    state.SetItemsProcessed(state.iterations());
    SelectMpeg2Isa(BestMpeg2Isa());
    lc::SetSharedWorkerThreads(8);
}
BENCHMARK(BM_StagePicture)->Apply(StageArgs)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    int rounds = 5;
    bool sd = true, hd = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "sd") == 0 || std::strcmp(argv[i], "hd") == 0) {
            sd = argv[i][0] == 's';
            hd = !sd;
        }
        if (std::strcmp(argv[i], "--kernels") == 0) {
            argv[i] = argv[0];
            int n = argc - i;
            benchmark::Initialize(&n, argv + i);
            benchmark::RunSpecifiedBenchmarks();
            return 0;
        }
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        }
    }
    const std::string dir = StreamDir();
    InstallOutputStage();
    std::printf("MPEG-2 video decoding beside ffmpeg -threads 1, one thread, median of %d rounds, "
                "%s kernels; output stage of HD on %d pool threads and on 1\n",
                rounds, Mpeg2IsaName(ActiveMpeg2Isa()), lc::SharedWorkerPool().Threads());
    std::printf("%-10s %6s %26s   %26s   %28s\n", "", "", "frames/s of processor time",
                "frames/s of wall time", "output stage");
    std::printf("%-10s %6s %8s %8s %7s   %8s %8s %7s   %8s %9s %9s\n", "stream", "frames",
                "loomcut", "ffmpeg", "ratio", "loomcut", "ffmpeg", "ratio", "+RGB", "RGB cost",
                "1 thread");
    if (sd) {
        BenchStream("480i SD", dir + "/sd_480i.vob", rounds);
    }
    if (hd) {
        BenchStream("1080i HD", dir + "/hd_1080i.ts", rounds);
    }
    return 0;
}
