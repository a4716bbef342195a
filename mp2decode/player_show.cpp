#include "mp2decode/internal/player_show.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char kDecoderName[] = "MPEG Audio Decoder";
constexpr const char kDecoderVersion[] = "0.1";

// The length of the status line last printed, so that a message can pad over it.
int gStatusLength = 0;

enum TimeMode {
    kTimeCurrent,
    kTimeRemaining,
    kTimeOverall,
};
int gTimeMode = kTimeCurrent;

} // namespace

void ShowVersionBanner()
{
    std::fprintf(stderr, "%s %s - \n", kDecoderName, kDecoderVersion);
}

void Mp2DecodeMessage(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = std::vfprintf(stderr, format, args);
    va_end(args);
    if (gStatusLength > 0) {
        // Blanks over what remains of the previous status line.
        if (n < gStatusLength) {
            std::fprintf(stderr, "%*s", gStatusLength - n, "");
        }
        gStatusLength = 0;
    }
}

int ShowId3Tag(Player *, const id3_tag *tag)
{
    static const struct
    {
        const char *id;
        const char *label;
    } kInfo[] = {
        {ID3_FRAME_TITLE, "Title"}, {"TIT3", nullptr}, // subtitle, under the title
        {"TCOP", nullptr},                             // copyright
        {"TPRO", nullptr},                             // produced
        {"TCOM", "Composer"},       {ID3_FRAME_ARTIST, "Artist"},
        {"TPE2", "Orchestra"},      {"TPE3", "Conductor"},
        {"TEXT", "Lyricist"},       {ID3_FRAME_ALBUM, "Album"},
        {ID3_FRAME_YEAR, "Year"},   {ID3_FRAME_TRACK, "Track"},
        {"TPUB", "Publisher"},      {ID3_FRAME_GENRE, "Genre"},
        {"TRSN", "Station"},        {"TENC", "Encoder"},
    };
    constexpr int kNameWidth = 12;
    for (const auto &info : kInfo) {
        const id3_frame *frame = id3_tag_findframe(tag, info.id, 0);
        if (!frame || frame->nfields < 2) {
            continue;
        }
        const id3_field *field = id3_frame_field(frame, 1);
        unsigned n = id3_field_getnstrings(field);
        for (unsigned j = 0; j < n; ++j) {
            const id3_ucs4_t *ucs4 = id3_field_getstrings(field, j);
            if (!ucs4) {
                continue;
            }
            if (std::strcmp(info.id, ID3_FRAME_GENRE) == 0) {
                ucs4 = id3_genre_name(ucs4);
            }
            id3_utf8_t *text = id3_ucs4_utf8duplicate(ucs4);
            if (!text) {
                Mp2DecodeError("id3", "not enough memory to display tag");
                return -1;
            }
            const char *label = info.label;
            if (!label) {
                label = std::strcmp(info.id, "TCOP") == 0   ? "Copyright (C)"
                        : std::strcmp(info.id, "TPRO") == 0 ? "Produced (P)"
                                                            : "";
            }
            std::fprintf(stderr, "%*s%s: %s\n", kNameWidth - int(std::strlen(label)), "",
                         j == 0 ? label : "", reinterpret_cast<const char *>(text));
            std::free(text);
        }
    }
    // Comments: the first one without a description.
    for (unsigned i = 0;; ++i) {
        const id3_frame *frame = id3_tag_findframe(tag, ID3_FRAME_COMMENT, i);
        if (!frame) {
            break;
        }
        if (frame->nfields < 4) {
            continue;
        }
        const id3_ucs4_t *description = id3_field_getstring(id3_frame_field(frame, 2));
        if (description && *description) {
            continue;
        }
        const id3_ucs4_t *body = id3_field_getfullstring(id3_frame_field(frame, 3));
        if (!body) {
            continue;
        }
        id3_utf8_t *text = id3_ucs4_utf8duplicate(body);
        if (!text) {
            Mp2DecodeError("id3", "not enough memory to display tag");
            return -1;
        }
        std::fprintf(stderr, "%*s%s: %s\n", kNameWidth - 7, "", "Comment",
                     reinterpret_cast<const char *>(text));
        std::free(text);
        break;
    }
    return 0;
}

int ReadId3InStream(Player *player, mad_stream *stream, signed long tagSize)
{
    // The tag may reach past the buffer: the rest is read from the file. A size beyond what the
    // file holds, or beyond the cap, is skipped unread rather than allocated.
    constexpr size_t kMaxTagSize = size_t(16) << 20;
    size_t size = size_t(tagSize);
    size_t inBuffer = size_t(stream->bufend - stream->this_frame);
    if (size > inBuffer) {
        struct stat st;
        off_t at = ::lseek(player->input.fd, 0, SEEK_CUR);
        bool fits = ::fstat(player->input.fd, &st) == 0 && at >= 0 && st.st_size >= at
                    && size - inBuffer <= size_t(st.st_size - at);
        if (!fits) {
            Mp2DecodeError("id3", "EOF while reading tag data");
            mad_stream_skip(stream, size);
            return -1;
        }
    }
    if (size > kMaxTagSize) {
        mad_stream_skip(stream, size);
        return 0;
    }
    unsigned char *data = static_cast<unsigned char *>(std::malloc(size));
    if (!data) {
        Mp2DecodeError("id3", "not enough memory to allocate tag data buffer");
        mad_stream_skip(stream, size);
        return -1;
    }
    int result = 0;
    if (inBuffer >= size) {
        std::memcpy(data, stream->this_frame, size);
        mad_stream_skip(stream, size);
    } else {
        std::memcpy(data, stream->this_frame, inBuffer);
        size_t have = inBuffer;
        while (have < size) {
            ssize_t got = ::read(player->input.fd, data + have, size - have);
            if (got <= 0) {
                break;
            }
            have += size_t(got);
        }
        mad_stream_skip(stream, inBuffer);
        if (have < size) {
            Mp2DecodeError("id3", "EOF while reading tag data");
            result = -1;
        }
    }
    if (result == 0) {
        if (id3_tag *tag = id3_tag_parse(data, size)) {
            result = ShowId3Tag(player, tag);
            id3_tag_delete(tag);
        }
    }
    std::free(data);
    return result;
}

void ShowStatus(Player *player, const mad_header *header)
{
    mad_timer_t timer = player->stats.playTimer;
    if (gTimeMode == kTimeOverall) {
        timer = player->stats.globalTimer;
    }
    unsigned long seconds = mad_timer_count(timer, MAD_UNITS_SECONDS);
    const char *layer = header->layer == MAD_LAYER_I    ? "I"
                        : header->layer == MAD_LAYER_II ? "II"
                                                        : "III";
    const char *mode = header->mode == MAD_MODE_SINGLE_CHANNEL ? "single channel"
                       : header->mode == MAD_MODE_DUAL_CHANNEL ? "dual channel"
                       : header->mode == MAD_MODE_JOINT_STEREO ? "joint stereo"
                                                               : "stereo";
    const char *joint = "";
    if (header->mode == MAD_MODE_JOINT_STEREO) {
        bool ms = header->flags & MAD_FLAG_MS_STEREO;
        bool is = header->flags & MAD_FLAG_I_STEREO;
        joint = ms && is ? " (MS+I)" : ms ? " (MS)" : is ? " (I)" : " (LR)";
    }
    const char *mpeg = (header->flags & MAD_FLAG_MPEG_2_5_EXT) ? "MPEG 2.5"
                       : (header->flags & MAD_FLAG_LSF_EXT)    ? "MPEG 2"
                                                               : "MPEG 1";
    bool vbr = player->input.xing.flags & kXingFrames;
    char line[200];
    int n = std::snprintf(
        line, sizeof line, " %02lu:%02u:%02u %s Layer %s, %s%u kbps%s, %u Hz, %s%s, %s",
        seconds / 3600, unsigned(seconds / 60 % 60), unsigned(seconds % 60), mpeg, layer,
        vbr ? "VBR (avg " : "", unsigned(header->bitrate / 1000), vbr ? ")" : "",
        header->samplerate, mode, joint, (header->flags & MAD_FLAG_PROTECTION) ? "CRC" : "no CRC");
    std::fprintf(stderr, "%s\r", line);
    gStatusLength = n;
}

int PlaySilence(Player *player, mad_timer_t duration)
{
    unsigned rate = player->output.rateOut ? player->output.rateOut : 44100;
    unsigned long total = mad_timer_fraction(duration, rate);
    constexpr unsigned kBlock = 1152;
    mad_fixed_t *zeros = static_cast<mad_fixed_t *>(std::calloc(kBlock, sizeof(mad_fixed_t)));
    if (!zeros) {
        Mp2DecodeError("silence", "not enough memory to allocate sample buffer");
        return -1;
    }
    int result = 0;
    while (total > 0 && result == 0) {
        unsigned n = total < kBlock ? unsigned(total) : kBlock;
        AudioControl control;
        InitAudioControl(&control, kAudioPlay);
        control.play.count = n;
        control.play.left = zeros;
        control.play.right = player->output.channelsOut == 2 ? zeros : nullptr;
        control.play.mode = player->output.mode;
        control.play.stats = &player->stats.audio;
        if (player->output.module(&control) == -1) {
            Mp2DecodeError("silence", gAudioError[0] == ':' ? gAudioError : "%s",
                           gAudioError[0] == ':' ? player->output.path : gAudioError);
            result = -1;
        }
        total -= n;
    }
    std::free(zeros);
    return result;
}

namespace {

// A key pressed on the terminal, or 0 when none is waiting (or input is no terminal).
int ReadConsoleKey(bool wait)
{
    if (!::isatty(STDIN_FILENO)) {
        return 0;
    }
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    int ready = ::poll(&p, 1, wait ? -1 : 0);
    if (ready < 0) {
        Mp2DecodeError("tty", ":poll");
        return -1;
    }
    if (ready == 0) {
        return 0;
    }
    unsigned char key = 0;
    if (::read(STDIN_FILENO, &key, 1) != 1) {
        Mp2DecodeError("tty", ":read");
        return -1;
    }
    return key;
}

} // namespace

int TtyFilter(void *data, mad_frame *)
{
    Player *player = static_cast<Player *>(data);
    static const char *const kTimeModes[] = {"[Current Time]", "[Current Time Remaining]",
                                             "[Overall Time]"};
    int key = ReadConsoleKey(false);
    switch (key) {
    case 'q':
    case 'Q':
        player->control = kControlStop;
        Mp2DecodeMessage("Stopped\n");
        return MAD_FLOW_STOP;
    case 'f':
    case 'n':
        player->control = kControlNext;
        return MAD_FLOW_STOP;
    case 'b':
        player->control = kControlPrevious;
        return MAD_FLOW_STOP;
    case 'p':
    case ' ': {
        Mp2DecodeMessage("Paused\n");
        int next = ReadConsoleKey(true);
        if (next == 'q' || next == 'Q') {
            player->control = kControlStop;
            Mp2DecodeMessage("Stopped\n");
            return MAD_FLOW_STOP;
        }
        return MAD_FLOW_CONTINUE;
    }
    case 't':
        gTimeMode = (gTimeMode + 1) % 3;
        Mp2DecodeMessage(" --%s--\n", kTimeModes[gTimeMode]);
        return MAD_FLOW_CONTINUE;
    default:
        return MAD_FLOW_CONTINUE;
    }
}
