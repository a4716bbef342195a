// Throughput of the AVI writer and reader on DV-sized frames with interleaved sound: the cost of
// chunk bookkeeping, padding and index writing on top of the file system.
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "formats/avi_reader.h"
#include "formats/avi_writer.h"
#include "formats/source_audio_format.h"
#include "formats/source_timing.h"

namespace {

constexpr uint32_t kFrames = 200;
constexpr uint32_t kFrameBytes = 144000; // DV PAL
constexpr uint32_t kSoundBytes = 7680;   // 1920 stereo frames at 25 frames/s

std::string BenchPath()
{
    return std::string(LC_BINARY_DIR) + "/formats_bench.avi";
}

void WriteFile()
{
    static std::vector<uint8_t> frame(kFrameBytes, 0x42);
    static std::vector<uint8_t> sound(kSoundBytes, 0x11);
    gSourceTiming = {25, 1};
    gSourceAudioFormat = {2, 48000, 16};
    AviBeginDV(BenchPath().c_str(), kFrames, 1);
    for (uint32_t i = 0; i < kFrames; ++i) {
        AviWriteVideoFrame(frame.data(), kFrameBytes);
        AviWriteAudioChunk("01wb", sound.data(), kSoundBytes);
    }
    AviCloseOutput();
}

void BM_AviWrite(benchmark::State &state)
{
    for (auto _ : state) {
        WriteFile();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * (kFrameBytes + kSoundBytes));
}
BENCHMARK(BM_AviWrite)->Unit(benchmark::kMillisecond);

void BM_AviReadSequential(benchmark::State &state)
{
    WriteFile();
    std::vector<uint8_t> buffer(1 << 20);
    for (auto _ : state) {
        uint32_t total = 0;
        AviOpenRead(BenchPath().c_str(), &total, nullptr);
        for (uint32_t i = 0; i < total; ++i) {
            benchmark::DoNotOptimize(AviReadNextFrame(buffer.data(), int(buffer.size())));
        }
        AviReadRemainingAudio();
        AviCloseRead();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * (kFrameBytes + kSoundBytes));
}
BENCHMARK(BM_AviReadSequential)->Unit(benchmark::kMillisecond);

void BM_AviSeekAndRead(benchmark::State &state)
{
    WriteFile();
    std::vector<uint8_t> buffer(1 << 20);
    uint32_t total = 0;
    AviOpenRead(BenchPath().c_str(), &total, nullptr);
    uint32_t n = 0;
    for (auto _ : state) {
        AviSeekFrame(n);
        benchmark::DoNotOptimize(AviReadSeekedFrame(buffer.data(), int(buffer.size())));
        n = (n + 37) % kFrames;
    }
    AviCloseRead();
}
BENCHMARK(BM_AviSeekAndRead);

} // namespace
