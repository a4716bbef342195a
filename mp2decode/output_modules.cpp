#include "mp2decode/output_modules.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// One play call packs into one buffer: 1152 frames of 2 channels at 4 bytes, or more for a
// resampled block; grown on demand.
std::vector<uint8_t> gPackBuffer;

uint8_t *PackSpace(unsigned count)
{
    size_t need = size_t(count) * 2 * 4;
    if (gPackBuffer.size() < need) {
        gPackBuffer.resize(need);
    }
    return gPackBuffer.data();
}

FILE *OpenStream(const char *path)
{
    if (!path || std::strcmp(path, "-") == 0) {
        return stdout;
    }
    return std::fopen(path, "wb");
}

bool Put32BE(FILE *f, uint32_t v)
{
    unsigned char b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    return std::fwrite(b, 1, 4, f) == 4;
}

bool Put16BE(FILE *f, unsigned v)
{
    unsigned char b[2] = {uint8_t(v >> 8), uint8_t(v)};
    return std::fwrite(b, 1, 2, f) == 2;
}

bool Put32LE(FILE *f, uint32_t v)
{
    unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return std::fwrite(b, 1, 4, f) == 4;
}

bool Put16LE(FILE *f, unsigned v)
{
    unsigned char b[2] = {uint8_t(v), uint8_t(v >> 8)};
    return std::fwrite(b, 1, 2, f) == 2;
}

bool PutText(FILE *f, const char *four)
{
    return std::fwrite(four, 1, 4, f) == 4;
}

// The play call with its channels matched to the file's: mono drops the right channel, stereo
// doubles a mono one.
AudioControl FitChannels(const AudioControl *control, unsigned channels)
{
    AudioControl fitted = *control;
    if (channels == 1) {
        fitted.play.right = nullptr;
    } else if (!fitted.play.right) {
        fitted.play.right = fitted.play.left;
    }
    return fitted;
}

int Fail(const char *reason)
{
    SetAudioError(reason);
    return -1;
}

// Writes one play call's samples packed by packer.
int PlayPacked(FILE *f, Packer packer, AudioControl *control, unsigned long *bytesOut)
{
    uint8_t *buffer = PackSpace(control->play.count);
    unsigned bytes = packer(buffer, control->play.count, control->play.left, control->play.right,
                            control->play.mode, control->play.stats);
    if (bytes && std::fwrite(buffer, 1, bytes, f) != bytes) {
        return Fail(":fwrite");
    }
    *bytesOut = bytes;
    return 0;
}

// Precision 0 is the module's default of 16 bits; above 32 is 32.
unsigned ClampPrecision(unsigned precision)
{
    if (precision == 0) {
        return 16;
    }
    return precision > 32 ? 32 : precision;
}

// ---- AIFF and WAVE: one shape, differing in byte order and the fields they patch ----

struct PcmFileState
{
    FILE *file = nullptr;
    bool configured = false;
    unsigned channels = 0;
    unsigned rate = 0;
    unsigned precision = 0;
    unsigned bytesPerSample = 0;
    Packer packer = nullptr;
    long framesPos = -1; // AIFF: the COMM sample frames field
    long dataPos = -1;   // the chunk whose size is patched: SSND (AIFF) or data (WAVE)
    unsigned long frames = 0;
    unsigned long dataBytes = 0;
    unsigned long formBytes = 0; // counted after the size field
};

PcmFileState gAiff;
PcmFileState gWave;

Packer AiffPacker(unsigned precision)
{
    if (precision <= 8) {
        return PackS8;
    }
    if (precision <= 16) {
        return PackS16BE;
    }
    return precision <= 24 ? PackS24BE : PackS32BE;
}

Packer WavePacker(unsigned precision)
{
    if (precision <= 8) {
        return PackU8;
    }
    if (precision <= 16) {
        return PackS16LE;
    }
    return precision <= 24 ? PackS24LE : PackS32LE;
}

int PcmInit(PcmFileState &s, const char *path, bool aiff)
{
    s = PcmFileState{};
    s.file = OpenStream(path);
    if (!s.file) {
        return Fail(":");
    }
    bool ok =
        aiff ? PutText(s.file, "FORM") && Put32BE(s.file, 0xFFFFFFFF) && PutText(s.file, "AIFF")
             : PutText(s.file, "RIFF") && Put32LE(s.file, 0xFFFFFFFF) && PutText(s.file, "WAVE");
    if (!ok) {
        return Fail(":fwrite");
    }
    s.formBytes = 4;
    return 0;
}

int PcmConfig(PcmFileState &s, AudioControl *control, bool aiff)
{
    if (s.configured) {
        // The first config fixes the file's format; the front end maps to it.
        control->config.channels = s.channels;
        control->config.rate = s.rate;
        control->config.precision = s.precision;
        return 0;
    }
    unsigned channels = control->config.channels;
    unsigned rate = control->config.rate;
    unsigned precision = ClampPrecision(control->config.precision);
    s.bytesPerSample = (precision + 7) / 8;
    bool ok;
    if (aiff) {
        unsigned char extended[10];
        PutExtended80(extended, rate);
        long comm = std::ftell(s.file);
        ok = PutText(s.file, "COMM") && Put32BE(s.file, 18) && Put16BE(s.file, channels)
             && Put32BE(s.file, 0xFFFFFFFF) && Put16BE(s.file, precision)
             && std::fwrite(extended, 1, 10, s.file) == 10;
        long ssnd = std::ftell(s.file);
        ok = ok && PutText(s.file, "SSND") && Put32BE(s.file, 0xFFFFFFFF) && Put32BE(s.file, 0)
             && Put32BE(s.file, 0);
        // Positions are unknown on a stream that cannot tell (standard output to a pipe).
        s.framesPos = comm >= 0 ? comm + 10 : -1;
        s.dataPos = ssnd;
        s.formBytes += 8 + 18 + 8 + 8;
        s.dataBytes = 8;
        s.packer = AiffPacker(precision);
    } else {
        unsigned blockAlign = channels * s.bytesPerSample;
        ok = PutText(s.file, "fmt ") && Put32LE(s.file, 16) && Put16LE(s.file, 1)
             && Put16LE(s.file, channels) && Put32LE(s.file, rate)
             && Put32LE(s.file, rate * blockAlign) && Put16LE(s.file, blockAlign)
             && Put16LE(s.file, precision);
        long data = std::ftell(s.file);
        ok = ok && PutText(s.file, "data") && Put32LE(s.file, 0xFFFFFFFF);
        s.dataPos = data;
        s.formBytes += 8 + 16 + 8;
        s.dataBytes = 0;
        s.packer = WavePacker(precision);
    }
    if (!ok) {
        return Fail(":fwrite");
    }
    s.configured = true;
    s.channels = channels;
    s.rate = rate;
    s.precision = precision;
    control->config.precision = precision;
    return 0;
}

int PcmPlay(PcmFileState &s, AudioControl *control, bool aiff)
{
    if (!s.configured) {
        return Fail("not configured");
    }
    // The header's channel count is what the samples must match.
    AudioControl fitted = FitChannels(control, s.channels);
    unsigned long bytes = 0;
    if (PlayPacked(s.file, s.packer, &fitted, &bytes) != 0) {
        return -1;
    }
    s.frames += control->play.count;
    s.dataBytes += bytes;
    s.formBytes += bytes;
    (void)aiff;
    return 0;
}

int PcmFinish(PcmFileState &s, bool aiff)
{
    // 1. Never configured: the header is still written.
    if (!s.configured) {
        AudioControl config;
        InitAudioControl(&config, kAudioConfig);
        config.config.channels = 2;
        config.config.rate = 44100;
        config.config.precision = 0;
        if (PcmConfig(s, &config, aiff) != 0) {
            return -1;
        }
    }
    const char *failure = nullptr;
    // 2. Odd data: one pad byte, counted by the form but not by the chunk.
    unsigned long payload = aiff ? s.dataBytes - 8 : s.dataBytes;
    if (payload & 1) {
        if (std::fputc(0, s.file) == EOF) {
            failure = ":fputc";
        } else {
            ++s.formBytes;
        }
    }
    auto patch = [&](long pos, uint32_t value) {
        if (failure) {
            return;
        }
        if (std::fseek(s.file, pos, SEEK_SET) != 0) {
            failure = ":fseek";
            return;
        }
        if (!(aiff ? Put32BE(s.file, value) : Put32LE(s.file, value))) {
            failure = ":fwrite";
        }
    };
    bool seekable = s.file != stdout || std::ftell(s.file) >= 0;
    if (seekable) {
        // 3. The frame count (AIFF only).
        if (aiff && s.framesPos >= 0) {
            patch(s.framesPos, uint32_t(s.frames));
        }
        // 4. The sound data size.
        if (s.dataPos >= 0) {
            patch(s.dataPos + 4, uint32_t(s.dataBytes));
        }
        // 5. The form size.
        patch(4, uint32_t(s.formBytes));
        if (!failure && std::fseek(s.file, 0, SEEK_END) != 0) {
            failure = ":fseek";
        }
    }
    // 6.
    if (s.file != stdout) {
        if (std::fclose(s.file) != 0 && !failure) {
            failure = ":fclose";
        }
    } else if (std::fflush(s.file) != 0 && !failure) {
        failure = ":fwrite";
    }
    s.file = nullptr;
    s.configured = false;
    return failure ? Fail(failure) : 0;
}

int PcmModule(PcmFileState &s, AudioControl *control, bool aiff)
{
    gAudioError[0] = '\0';
    switch (control->command) {
    case kAudioInit:
        return PcmInit(s, control->init.path, aiff);
    case kAudioConfig:
        return PcmConfig(s, control, aiff);
    case kAudioPlay:
        return PcmPlay(s, control, aiff);
    case kAudioStop:
        return 0;
    case kAudioFinish:
        return PcmFinish(s, aiff);
    }
    return 0;
}

// ---- Sun audio ----

struct SndState
{
    FILE *file = nullptr;
    bool configured = false;
    unsigned channels = 0;
    unsigned rate = 0;
    unsigned long dataBytes = 0;
};

SndState gSnd;

int SndConfig(AudioControl *control)
{
    if (!gSnd.configured) {
        bool ok = Put32BE(gSnd.file, 0x2E736E64) && Put32BE(gSnd.file, 24)
                  && Put32BE(gSnd.file, 0xFFFFFFFF) && Put32BE(gSnd.file, 1)
                  && Put32BE(gSnd.file, control->config.rate)
                  && Put32BE(gSnd.file, control->config.channels);
        if (!ok) {
            return Fail(":fwrite");
        }
        gSnd.configured = true;
        gSnd.channels = control->config.channels;
        gSnd.rate = control->config.rate;
    }
    control->config.channels = gSnd.channels;
    control->config.rate = gSnd.rate;
    control->config.precision = 8;
    return 0;
}

// ---- Raw PCM ----

struct RawState
{
    FILE *file = nullptr;
    bool configured = false;
    unsigned channels = 0;
    unsigned rate = 0;
    unsigned precision = 0;
    Packer packer = nullptr;
};

RawState gRaw;

// ---- CD audio ----

constexpr unsigned kCddaSectorFrames = 588; // 2352 bytes of 16-bit stereo

struct CddaState
{
    FILE *file = nullptr;
    unsigned long framesInSector = 0; // frames written modulo one sector
};

CddaState gCdda;

} // namespace

void PutExtended80(unsigned char out[10], unsigned long rate)
{
    std::memset(out, 0, 10);
    if (rate == 0) {
        return;
    }
    int top = 31;
    while (!(rate & (1ul << top))) {
        --top;
    }
    unsigned exponent = 16383u + unsigned(top);
    uint32_t mantissa = uint32_t(rate << (31 - top));
    out[0] = uint8_t(exponent >> 8);
    out[1] = uint8_t(exponent);
    out[2] = uint8_t(mantissa >> 24);
    out[3] = uint8_t(mantissa >> 16);
    out[4] = uint8_t(mantissa >> 8);
    out[5] = uint8_t(mantissa);
}

int OutputModuleAiff(AudioControl *control)
{
    return PcmModule(gAiff, control, true);
}

int OutputModuleWave(AudioControl *control)
{
    return PcmModule(gWave, control, false);
}

int OutputModuleSnd(AudioControl *control)
{
    gAudioError[0] = '\0';
    switch (control->command) {
    case kAudioInit:
        gSnd = SndState{};
        gSnd.file = OpenStream(control->init.path);
        return gSnd.file ? 0 : Fail(":");
    case kAudioConfig:
        return SndConfig(control);
    case kAudioPlay: {
        if (!gSnd.configured) {
            return Fail("not configured");
        }
        AudioControl fitted = FitChannels(control, gSnd.channels);
        unsigned long bytes = 0;
        if (PlayPacked(gSnd.file, PackMuLaw, &fitted, &bytes) != 0) {
            return -1;
        }
        gSnd.dataBytes += bytes;
        return 0;
    }
    case kAudioStop:
        return 0;
    case kAudioFinish: {
        if (!gSnd.configured) {
            AudioControl config;
            InitAudioControl(&config, kAudioConfig);
            config.config.channels = 2;
            config.config.rate = 44100;
            config.config.precision = 16;
            if (SndConfig(&config) != 0) {
                return -1;
            }
        }
        const char *failure = nullptr;
        if (gSnd.file != stdout || std::ftell(gSnd.file) >= 0) {
            if (std::fseek(gSnd.file, 8, SEEK_SET) != 0) {
                failure = ":fseek";
            } else if (!Put32BE(gSnd.file, uint32_t(gSnd.dataBytes))) {
                failure = ":fwrite";
            }
        }
        if (gSnd.file != stdout && std::fclose(gSnd.file) != 0 && !failure) {
            failure = ":fclose";
        }
        gSnd.file = nullptr;
        gSnd.configured = false;
        return failure ? Fail(failure) : 0;
    }
    }
    return 0;
}

int OutputModuleRaw(AudioControl *control)
{
    gAudioError[0] = '\0';
    switch (control->command) {
    case kAudioInit:
        gRaw = RawState{};
        gRaw.file = OpenStream(control->init.path);
        return gRaw.file ? 0 : Fail(":");
    case kAudioConfig: {
        if (!gRaw.configured) {
            unsigned precision = control->config.precision / 8 * 8;
            precision = ClampPrecision(precision);
            gRaw.configured = true;
            gRaw.channels = control->config.channels;
            gRaw.rate = control->config.rate;
            gRaw.precision = precision;
            gRaw.packer = precision == 8    ? PackU8
                          : precision == 16 ? PackS16LE
                          : precision == 24 ? PackS24LE
                                            : PackS32LE;
        }
        control->config.channels = gRaw.channels;
        control->config.rate = gRaw.rate;
        control->config.precision = gRaw.precision;
        return 0;
    }
    case kAudioPlay: {
        if (!gRaw.configured) {
            return Fail("not configured");
        }
        AudioControl fitted = FitChannels(control, gRaw.channels);
        unsigned long bytes = 0;
        return PlayPacked(gRaw.file, gRaw.packer, &fitted, &bytes);
    }
    case kAudioStop:
        return 0;
    case kAudioFinish: {
        int r = 0;
        if (gRaw.file == stdout) {
            r = std::fflush(stdout) == 0 ? 0 : Fail(":fwrite");
        } else if (gRaw.file && std::fclose(gRaw.file) != 0) {
            r = Fail(":fclose");
        }
        gRaw.file = nullptr;
        gRaw.configured = false;
        return r;
    }
    }
    return 0;
}

int OutputModuleCdda(AudioControl *control)
{
    gAudioError[0] = '\0';
    switch (control->command) {
    case kAudioInit:
        gCdda = CddaState{};
        gCdda.file = OpenStream(control->init.path);
        return gCdda.file ? 0 : Fail(":");
    case kAudioConfig:
        control->config.channels = 2;
        control->config.rate = 44100;
        control->config.precision = 16;
        return 0;
    case kAudioPlay: {
        if (!control->play.right) {
            return Fail("CD audio needs two channels");
        }
        unsigned long bytes = 0;
        if (PlayPacked(gCdda.file, PackS16BE, control, &bytes) != 0) {
            return -1;
        }
        gCdda.framesInSector = (gCdda.framesInSector + control->play.count) % kCddaSectorFrames;
        return 0;
    }
    case kAudioStop:
        return 0;
    case kAudioFinish: {
        const char *failure = nullptr;
        if (gCdda.framesInSector) {
            size_t pad = (kCddaSectorFrames - gCdda.framesInSector) * 4;
            std::vector<uint8_t> zeros(pad);
            if (std::fwrite(zeros.data(), 1, pad, gCdda.file) != pad) {
                failure = ":fwrite";
            }
        }
        if (gCdda.file == stdout) {
            if (std::fflush(stdout) != 0 && !failure) {
                failure = ":fwrite";
            }
        } else if (gCdda.file && std::fclose(gCdda.file) != 0 && !failure) {
            failure = ":fclose";
        }
        gCdda.file = nullptr;
        gCdda.framesInSector = 0;
        return failure ? Fail(failure) : 0;
    }
    }
    return 0;
}

int OutputModuleWaveOut(AudioControl *control)
{
    gAudioError[0] = '\0';
    switch (control->command) {
    case kAudioInit:
        return Fail("no live audio output on this system; use -o with a file");
    case kAudioStop:
    case kAudioFinish:
        return 0;
    default:
        return Fail("no live audio output on this system; use -o with a file");
    }
}
