#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <getopt.h>
#include <id3tag.h>
#include <sys/stat.h>
#include <unistd.h>

#include "mp2decode/internal/player_show.h"
#include "mp2decode/player.h"

const char *gMp2DecodeProgramName = "mp2decode";

namespace {

// Every option of the command-line form; only -q, -Q and -o are acted on.
constexpr const char kOptionString[] = "vqQio:b:da:12mSs:t:zr::Vh";
const option kLongOptions[] = {
    {"verbose", no_argument, nullptr, 'v'},
    {"quiet", no_argument, nullptr, 'q'},
    {"very-quiet", no_argument, nullptr, 'Q'},
    {"ignore-crc", no_argument, nullptr, 'i'},
    {"output", required_argument, nullptr, 'o'},
    {"bit-depth", required_argument, nullptr, 'b'},
    {"no-dither", no_argument, nullptr, 'd'},
    {"attenuate", required_argument, nullptr, 'a'},
    {"left", no_argument, nullptr, '1'},
    {"right", no_argument, nullptr, '2'},
    {"mono", no_argument, nullptr, 'm'},
    {"stereo", no_argument, nullptr, 'S'},
    {"start", required_argument, nullptr, 's'},
    {"time", required_argument, nullptr, 't'},
    {"shuffle", no_argument, nullptr, 'z'},
    {"repeat", optional_argument, nullptr, 'r'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

// Reports a failing module call under label with the module's reason.
void ModuleError(const Player *player, const char *label)
{
    const char *path = player->output.path ? player->output.path : "-";
    if (gAudioError[0] == ':') {
        Mp2DecodeError(label, gAudioError, path);
    } else {
        Mp2DecodeError(label, "%s", gAudioError);
    }
}

int DecodeFile(Player *player);

int PlayOne(Player *player)
{
    const char *path = player->playlist.entries[player->playlist.current];
    // 1.
    if (std::strcmp(path, "-") == 0) {
        Mp2DecodeWarn("%s: %s", "stdin", "is a tty");
        return -1;
    }
    player->input.path = path;
    player->input.fd = ::open(path, O_RDONLY);
    if (player->input.fd == -1) {
        Mp2DecodeError("error", ":", path);
        return -1;
    }
    // 2. Tags of the file; none: tags met inside the stream are shown instead.
    player->options &= ~kOptionShowTagsOnly;
    if (player->verbosity >= 0) {
        if (player->playlist.length > 1) {
            std::fprintf(stderr, ">> %s\n", path);
        }
        int copy = ::dup(player->input.fd);
        id3_file *file = copy >= 0 ? id3_file_fdopen(copy, ID3_FILE_MODE_READONLY) : nullptr;
        if (!file && copy >= 0) {
            ::close(copy);
        }
        id3_tag *tag = file ? id3_file_tag(file) : nullptr;
        if (tag && tag->nframes > 0) {
            (void)ShowId3Tag(player, tag);
        } else {
            player->options |= kOptionShowTagsOnly;
        }
        if (file) {
            id3_file_close(file);
        }
        (void)::lseek(player->input.fd, 0, SEEK_SET);
    }
    // 3.
    int result = DecodeFile(player);
    // 4.
    if (result == 0 && player->verbosity >= 0) {
        unsigned long ms = mad_timer_count(player->stats.playTimer, MAD_UNITS_MILLISECONDS);
        char time[40];
        std::snprintf(time, sizeof time, "%lu:%02u:%02u.%1u", ms / 3600000,
                      unsigned(ms / 60000 % 60), unsigned(ms / 1000 % 60), unsigned(ms / 100 % 10));
        char peak[20];
        mad_fixed_t p = player->stats.audio.peakSample;
        if (p > 0) {
            std::snprintf(peak, sizeof peak, "%+.1f", 20 * std::log10(mad_f_todouble(p) / 1.0));
        } else {
            std::snprintf(peak, sizeof peak, "-inf");
        }
        Mp2DecodeMessage("%lu frames decoded (%s), %s dB peak amplitude, %lu clipped samples\n",
                         player->stats.playFrames, time, peak, player->stats.audio.clippedSamples);
    }
    // 5.
    if (::close(player->input.fd) == -1) {
        Mp2DecodeError("error", ":", path);
        result = -1;
    }
    player->input.fd = -1;
    return result;
}

int PlayAll(Player *player)
{
    int result = 0;
    int repeat = player->repeat;
    while (repeat != 0 && player->playlist.length > 0) {
        int &i = player->playlist.current;
        for (i = 0; i < player->playlist.length;) {
            if ((player->options & kOptionGap) && i > 0) {
                if (PlaySilence(player, player->gap) == -1) {
                    return -1;
                }
            }
            player->control = kControlDefault;
            if (PlayOne(player) == -1) {
                // Off the list; the others still play.
                char **e = player->playlist.entries;
                std::memmove(e + i, e + i + 1, size_t(player->playlist.length - i - 1) * sizeof *e);
                --player->playlist.length;
                result = -1;
                continue;
            }
            if (player->control == kControlStop) {
                return result;
            }
            if (player->control == kControlPrevious) {
                i = i > 0 ? i - 1 : 0;
            } else if (player->control != kControlReplay) {
                ++i;
            }
        }
        if (repeat > 0) {
            --repeat;
        }
    }
    return result;
}

int DecodeFile(Player *player)
{
    // 1.
    struct stat st;
    if (::fstat(player->input.fd, &st) == -1) {
        Mp2DecodeError("decode", ":fstat");
        return -1;
    }
    player->stats.totalBytes = S_ISREG(st.st_mode) ? (unsigned long)st.st_size : 0;
    XingInit(&player->input.xing);
    // 2.
    player->input.data = static_cast<unsigned char *>(std::malloc(kInputBufferSize));
    if (!player->input.data) {
        Mp2DecodeError("decode", "not enough memory to allocate input buffer");
        return -1;
    }
    player->input.length = 0;
    player->input.eof = false;
    player->stats.absoluteFrames = 0;
    player->stats.playFrames = 0;
    player->stats.absoluteTimer = mad_timer_zero;
    player->stats.playTimer = mad_timer_zero;
    player->stats.errorFrame = -1;
    player->stats.muteFrame = 0;
    // 3.
    mad_decoder decoder;
    mad_decoder_init(&decoder, player, DecodeInput, DecodeHeader, DecodeFilter,
                     player->output.module ? DecodeOutput : nullptr, DecodeError, nullptr);
    int options = 0;
    if (player->options & kOptionIgnoreCrc) {
        options |= MAD_OPTION_IGNORECRC;
    }
    if (player->options & kOptionHalfRate) {
        options |= MAD_OPTION_HALFSAMPLERATE;
    }
    mad_decoder_options(&decoder, options);
    int result = mad_decoder_run(&decoder, MAD_DECODER_MODE_SYNC);
    mad_decoder_finish(&decoder);
    // 4.
    std::free(player->input.data);
    player->input.data = nullptr;
    return result;
}

// Plays count samples per channel; left and right may be the same samples.
enum mad_flow PlayBlock(Player *player, unsigned count, const mad_fixed_t *left,
                        const mad_fixed_t *right)
{
    AudioControl control;
    InitAudioControl(&control, kAudioPlay);
    control.play.count = count;
    control.play.left = left;
    control.play.right = right;
    control.play.mode = player->output.mode;
    control.play.stats = &player->stats.audio;
    if (player->output.module(&control) == -1) {
        ModuleError(player, "output");
        return MAD_FLOW_BREAK;
    }
    return MAD_FLOW_CONTINUE;
}

} // namespace

// ---- Messages ----

void Mp2DecodeVWarn(const char *format, va_list args)
{
    std::fprintf(stderr, "%s: ", gMp2DecodeProgramName);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

void Mp2DecodeWarn(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Mp2DecodeVWarn(format, args);
    va_end(args);
}

void Mp2DecodeDie(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    Mp2DecodeVWarn(format, args);
    va_end(args);
    std::exit(1);
}

void Mp2DecodeError(const char *label, const char *format, ...)
{
    int err = errno;
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "%s: ", label);
    if (format[0] == ':') {
        const char *name = format[1] ? format + 1 : va_arg(args, const char *);
        std::fprintf(stderr, "%s: %s\n", name, std::strerror(err));
    } else {
        std::vfprintf(stderr, format, args);
        std::fputc('\n', stderr);
    }
    va_end(args);
}

// ---- The player ----

void PlayerInit(Player *player)
{
    *player = Player{};
}

int PlayerRun(Player *player, int count, char **paths)
{
    // 1.
    player->playlist.entries = paths;
    player->playlist.length = count;
    player->playlist.current = 0;
    if (SetupFilters(player) == -1) {
        Mp2DecodeError("filter", "not enough memory to allocate filters");
        return -1;
    }
    // 2.
    AudioControl control;
    InitAudioControl(&control, kAudioInit);
    control.init.path = player->output.path;
    if (player->output.module(&control) == -1) {
        ModuleError(player, "audio");
        return -1;
    }
    // 3.
    int result = PlayAll(player);
    // 4. Whatever the list gave, so that a file's header is completed.
    InitAudioControl(&control, kAudioFinish);
    if (player->output.module(&control) == -1) {
        ModuleError(player, "audio");
        result = -1;
    }
    return result;
}

void PlayerFinish(Player *player)
{
    FilterFree(player->output.filters);
    player->output.filters = nullptr;
    std::free(player->output.resampled);
    player->output.resampled = nullptr;
}

int Mp2DecodeMain(int argc, char **argv)
{
    // 1.
    std::printf("Kestra Pryne is decoding the mp2 audio...\n");
    std::fflush(stdout);
    gMp2DecodeProgramName = argc > 0 && argv[0] ? argv[0] : "mp2decode";
    optind = 0;
    // 2.
    Player player;
    PlayerInit(&player);
    player.options |= kOptionTtyControl;
    // 3.
    int opt;
    while ((opt = getopt_long(argc, argv, kOptionString, kLongOptions, nullptr)) != -1) {
        switch (opt) {
        case 'q':
            player.verbosity = -1;
            break;
        case 'Q':
            player.verbosity = -2;
            break;
        case 'o':
            // Runs inside the converter's process: a bad command line returns, never exits.
            if (player.output.path) {
                Mp2DecodeWarn("multiple output destinations not supported");
                return kMp2DecodeBadOutput;
            }
            player.output.path = optarg;
            player.output.module = SelectOutputModule(optarg);
            if (!player.output.module) {
                Mp2DecodeWarn("unknown output format type for \"%s\"", optarg);
                return kMp2DecodeBadOutput;
            }
            player.options &= ~kOptionTtyControl;
            break;
        default:
            break;
        }
    }
    if (optind >= argc) {
        return kMp2DecodeNoInput;
    }
    // 4.
    if (player.verbosity >= 0) {
        ShowVersionBanner();
    }
    // 5.
    if (!player.output.module) {
        player.output.module = SelectOutputModule(nullptr);
    }
    // 6. One file: the first argument the scanner left after the options.
    int result = PlayerRun(&player, 1, &argv[optind]) == -1 ? kMp2DecodeRunFailed : 0;
    // 7.
    PlayerFinish(&player);
    return result;
}

// ---- libmad callbacks ----

enum mad_flow DecodeInput(void *data, mad_stream *stream)
{
    Player *player = static_cast<Player *>(data);
    if (player->input.eof) {
        return MAD_FLOW_STOP;
    }
    // The unconsumed tail moves to the front; 8 bytes always stay free for the end guard.
    unsigned length = 0;
    if (stream->next_frame) {
        length = unsigned(stream->bufend - stream->next_frame);
        std::memmove(player->input.data, stream->next_frame, length);
    }
    constexpr unsigned kReadSpace = kInputBufferSize - MAD_BUFFER_GUARD;
    ssize_t got;
    do {
        got = length < kReadSpace
                  ? ::read(player->input.fd, player->input.data + length, kReadSpace - length)
                  : 0;
    } while (got == -1 && errno == EINTR);
    if (got == -1) {
        Mp2DecodeError("input", ":read");
        return MAD_FLOW_BREAK;
    }
    if (got == 0) {
        player->input.eof = true;
        std::memset(player->input.data + length, 0, MAD_BUFFER_GUARD);
        length += MAD_BUFFER_GUARD;
    }
    length += unsigned(got);
    player->input.length = length;
    mad_stream_buffer(stream, player->input.data, length);
    return MAD_FLOW_CONTINUE;
}

enum mad_flow DecodeHeader(void *data, const mad_header *header)
{
    Player *player = static_cast<Player *>(data);
    auto &stats = player->stats;
    if ((player->options & kOptionTimeLimit)
        && mad_timer_compare(stats.globalTimer, player->globalStop) > 0) {
        return MAD_FLOW_STOP;
    }
    // Every frame is counted here, so frame numbers follow the stream.
    ++stats.absoluteFrames;
    ++stats.globalFrames;
    mad_timer_add(&stats.absoluteTimer, header->duration);
    mad_timer_add(&stats.globalTimer, header->duration);
    if ((player->options & kOptionTimedStart)
        && mad_timer_compare(stats.globalTimer, player->globalStart) < 0) {
        return MAD_FLOW_IGNORE;
    }
    return MAD_FLOW_CONTINUE;
}

enum mad_flow DecodeFilter(void *data, const mad_stream *stream, mad_frame *frame)
{
    Player *player = static_cast<Player *>(data);
    // A Xing header frame carries no sound.
    if (player->stats.absoluteFrames == 1
        && XingParse(&player->input.xing, stream->anc_ptr, stream->anc_bitlen) == 0) {
        return MAD_FLOW_IGNORE;
    }
    return mad_flow(FilterRun(player->output.filters, frame));
}

enum mad_flow DecodeOutput(void *data, const mad_header *header, mad_pcm *pcm)
{
    Player *player = static_cast<Player *>(data);
    auto &out = player->output;
    // 1. Channels.
    unsigned channels = pcm->channels;
    const mad_fixed_t *left = pcm->samples[0];
    const mad_fixed_t *right = channels == 2 ? pcm->samples[1] : nullptr;
    if (channels == 1) {
        if (out.select == kSelectForceStereo) {
            right = left;
            channels = 2;
        }
    } else if (out.select == kSelectLeft) {
        right = nullptr;
        channels = 1;
    } else if (out.select == kSelectRight) {
        left = right;
        right = nullptr;
        channels = 1;
    } else if (header->mode == MAD_MODE_DUAL_CHANNEL && out.select != kSelectMix
               && out.select != kSelectForceStereo) {
        if (out.select == kSelectNone) {
            if (player->verbosity >= -1) {
                Mp2DecodeError("output", "no channel selected for dual channel; using first");
            }
            out.select = -1;
        }
        right = nullptr;
        channels = 1;
    }
    // 2. A new format configures the module.
    if (channels != out.channelsIn || pcm->samplerate != out.rateIn) {
        AudioControl control;
        InitAudioControl(&control, kAudioConfig);
        control.config.channels = channels;
        control.config.rate = pcm->samplerate;
        control.config.precision = out.precisionIn;
        if (out.module(&control) == -1) {
            ModuleError(player, "output");
            return MAD_FLOW_BREAK;
        }
        out.channelsIn = channels;
        out.rateIn = pcm->samplerate;
        out.channelsOut = control.config.channels;
        out.rateOut = control.config.rate;
        out.precisionOut = control.config.precision;
        if (player->verbosity >= 1 && out.rateOut != out.rateIn) {
            Mp2DecodeMessage("using output sample frequency %u Hz\n", out.rateOut);
        }
        if (player->verbosity >= -1 && out.channelsOut != out.channelsIn) {
            Mp2DecodeError("output", out.channelsOut < out.channelsIn
                                         ? "stereo output not available; using first channel "
                                           "(use -m to mix)"
                                         : "mono output not available; forcing stereo");
        }
        if (player->verbosity >= 0 && out.rateOut != out.rateIn) {
            Mp2DecodeError("output", "sample frequency %u Hz not available; closest %u Hz",
                           out.rateIn, out.rateOut);
        }
        if (player->verbosity >= -1 && out.precisionIn && out.precisionOut != out.precisionIn) {
            Mp2DecodeError("output", "bit depth %u not available; using %u", out.precisionIn,
                           out.precisionOut);
        }
        // 3. Resample only beyond 6 per cent.
        unsigned difference =
            out.rateOut > out.rateIn ? out.rateOut - out.rateIn : out.rateIn - out.rateOut;
        if (difference >= out.rateIn * 6 / 100) {
            if (!out.resampled) {
                out.resampled = static_cast<mad_fixed_t(*)[2][kResampleMaxSamples]>(
                    std::malloc(kResampleBufferSize));
                if (!out.resampled) {
                    Mp2DecodeError("output", "not enough memory to allocate resampling buffer");
                    return MAD_FLOW_BREAK;
                }
            }
            if (ResampleInit(&out.resample[0], out.rateIn, out.rateOut) == -1
                || ResampleInit(&out.resample[1], out.rateIn, out.rateOut) == -1) {
                Mp2DecodeError("output", "cannot resample %u Hz to %u Hz", out.rateIn, out.rateOut);
                return MAD_FLOW_BREAK;
            }
            if (player->verbosity >= -1) {
                Mp2DecodeError("output", "resampling %u Hz to %u Hz", out.rateIn, out.rateOut);
            }
        } else {
            std::free(out.resampled);
            out.resampled = nullptr;
        }
    }
    // 4. What the module took.
    if (channels == 2 && out.channelsOut == 1) {
        right = nullptr;
    } else if (channels == 1 && out.channelsOut == 2) {
        right = left;
    }
    // 5. Play. Resampled blocks go in pieces whose output fits the buffer whatever the rates.
    enum mad_flow flow = MAD_FLOW_CONTINUE;
    if (out.resampled) {
        const unsigned piece =
            unsigned(uint64_t(kResampleMaxSamples - 2) * out.rateIn / out.rateOut);
        for (unsigned done = 0; done < pcm->length && flow == MAD_FLOW_CONTINUE;) {
            unsigned n = pcm->length - done < piece ? pcm->length - done : piece;
            mad_fixed_t *l = (*out.resampled)[0];
            mad_fixed_t *r = (*out.resampled)[1];
            unsigned made = ResampleBlock(&out.resample[0], n, left + done, l);
            if (right && right != left) {
                (void)ResampleBlock(&out.resample[1], n, right + done, r);
            } else {
                r = right ? l : nullptr;
            }
            flow = PlayBlock(player, made, l, r);
            done += n;
        }
    } else {
        flow = PlayBlock(player, pcm->length, left, right);
    }
    if (flow != MAD_FLOW_CONTINUE) {
        return flow;
    }
    ++player->stats.playFrames;
    mad_timer_add(&player->stats.playTimer, header->duration);
    if (player->verbosity >= 1) {
        ShowStatus(player, header);
    }
    return MAD_FLOW_CONTINUE;
}

enum mad_flow DecodeError(void *data, mad_stream *stream, mad_frame *frame)
{
    Player *player = static_cast<Player *>(data);
    auto &stats = player->stats;
    switch (stream->error) {
    case MAD_ERROR_LOSTSYNC: {
        // An ID3 tag between frames: skipped, or shown when tags are shown.
        signed long tagSize =
            id3_tag_query(stream->this_frame, id3_length_t(stream->bufend - stream->this_frame));
        if (tagSize > 0) {
            if (player->options & kOptionShowTagsOnly) {
                (void)ReadId3InStream(player, stream, tagSize);
            } else {
                mad_stream_skip(stream, (unsigned long)tagSize);
            }
            stats.totalBytes -= (unsigned long)tagSize < stats.totalBytes ? (unsigned long)tagSize
                                                                          : stats.totalBytes;
            return MAD_FLOW_CONTINUE;
        }
        break;
    }
    case MAD_ERROR_BADDATAPTR:
        return MAD_FLOW_CONTINUE;
    default:
        break;
    }
    long frameNumber = long(stats.absoluteFrames);
    // Lost sync is news only once in sync, and never over the zero guard after the last frame.
    bool inGuard = player->input.eof && stream->bufend - stream->this_frame <= MAD_BUFFER_GUARD;
    bool quietSync =
        stream->error == MAD_ERROR_LOSTSYNC && ((!player->input.eof && !stream->sync) || inGuard);
    if (player->verbosity >= -1 && !quietSync && frameNumber != stats.errorFrame) {
        Mp2DecodeError("error", "frame %lu: %s", stats.absoluteFrames, mad_stream_errorstr(stream));
        stats.errorFrame = frameNumber;
    }
    if (stream->error == MAD_ERROR_BADCRC) {
        // Two bad frames in a row: the second is muted.
        if (stats.muteFrame == frameNumber) {
            mad_frame_mute(frame);
        }
        stats.muteFrame = frameNumber + 1;
        return MAD_FLOW_IGNORE;
    }
    return MAD_FLOW_CONTINUE;
}
