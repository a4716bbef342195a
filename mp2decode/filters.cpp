#include <cstdlib>
#include <new>

#include "mp2decode/audio_output.h"
#include "mp2decode/internal/player_show.h"
#include "mp2decode/player.h"

mad_fixed_t gEqualizerGains[2][32];

mad_fixed_t FixedMul(mad_fixed_t a, mad_fixed_t b)
{
    return mad_fixed_t((int64_t(a) * b) >> 28);
}

int FilterRun(Filter *chain, mad_frame *frame)
{
    for (Filter *f = chain; f; f = f->next) {
        int result = f->function(f->data, frame);
        if (result != MAD_FLOW_CONTINUE) {
            return result;
        }
    }
    return MAD_FLOW_CONTINUE;
}

void FilterFree(Filter *chain)
{
    while (chain) {
        Filter *next = chain->next;
        if (chain->flags & kFilterOwned) {
            std::free(chain->data);
        }
        delete chain;
        chain = next;
    }
}

int AddFilter(Player *player, FilterFunction function, void *data)
{
    Filter *filter = new (std::nothrow) Filter;
    if (!filter) {
        return -1;
    }
    filter->function = function;
    filter->data = data;
    Filter **end = &player->output.filters;
    while (*end) {
        end = &(*end)->next;
    }
    *end = filter;
    return 0;
}

namespace {

// Subband slots of a frame: 12 for Layer I, 18 for Layer III at the low sampling frequencies,
// else 36.
unsigned SubbandSlots(const mad_header &header)
{
    if (header.layer == MAD_LAYER_I) {
        return 12;
    }
    if (header.layer == MAD_LAYER_III && (header.flags & MAD_FLAG_LSF_EXT)) {
        return 18;
    }
    return 36;
}

unsigned FrameChannels(const mad_header &header)
{
    return header.mode == MAD_MODE_SINGLE_CHANNEL ? 1 : 2;
}

} // namespace

void EqualizerInit()
{
    for (auto &channel : gEqualizerGains) {
        for (mad_fixed_t &gain : channel) {
            gain = kFixedOne;
        }
    }
}

int EqualizerFilter(void *, mad_frame *frame)
{
    unsigned slots = SubbandSlots(frame->header);
    for (unsigned ch = 0; ch < FrameChannels(frame->header); ++ch) {
        for (unsigned s = 0; s < slots; ++s) {
            for (unsigned sb = 0; sb < 32; ++sb) {
                if (gEqualizerGains[ch][sb] != kFixedOne) {
                    frame->sbsample[ch][s][sb] =
                        FixedMul(frame->sbsample[ch][s][sb], gEqualizerGains[ch][sb]);
                }
            }
        }
    }
    return MAD_FLOW_CONTINUE;
}

int FadeInFilter(void *data, mad_frame *frame)
{
    Player *player = static_cast<Player *>(data);
    unsigned long fade = mad_timer_count(player->fadeIn, MAD_UNITS_MILLISECONDS);
    unsigned long now = mad_timer_count(player->stats.playTimer, MAD_UNITS_MILLISECONDS);
    if (fade == 0 || now >= fade) {
        return MAD_FLOW_CONTINUE;
    }
    mad_fixed_t gain = mad_fixed_t((uint64_t(now) << 28) / fade);
    unsigned slots = SubbandSlots(frame->header);
    for (unsigned ch = 0; ch < FrameChannels(frame->header); ++ch) {
        for (unsigned s = 0; s < slots; ++s) {
            for (unsigned sb = 0; sb < 32; ++sb) {
                frame->sbsample[ch][s][sb] = FixedMul(frame->sbsample[ch][s][sb], gain);
            }
        }
    }
    return MAD_FLOW_CONTINUE;
}

int MonoFilter(void *, mad_frame *frame)
{
    if (frame->header.mode == MAD_MODE_SINGLE_CHANNEL) {
        return MAD_FLOW_CONTINUE;
    }
    unsigned slots = SubbandSlots(frame->header);
    for (unsigned s = 0; s < slots; ++s) {
        for (unsigned sb = 0; sb < 32; ++sb) {
            int64_t sum = int64_t(frame->sbsample[0][s][sb]) + frame->sbsample[1][s][sb];
            frame->sbsample[0][s][sb] = mad_fixed_t(sum / 2);
        }
    }
    frame->header.mode = MAD_MODE_SINGLE_CHANNEL;
    return MAD_FLOW_CONTINUE;
}

int SetupFilters(Player *player)
{
    // 1. Fade-in.
    if ((player->options & kOptionFadeIn) && AddFilter(player, FadeInFilter, player) == -1) {
        return -1;
    }
    // 2. Equalizer.
    EqualizerInit();
    if (player->output.attenuation != kFixedOne) {
        for (auto &channel : gEqualizerGains) {
            for (mad_fixed_t &gain : channel) {
                gain = player->output.attenuation;
            }
        }
        if (AddFilter(player, EqualizerFilter, nullptr) == -1) {
            return -1;
        }
    }
    // 3. Mono mix.
    if (player->output.select == kSelectMix && AddFilter(player, MonoFilter, nullptr) == -1) {
        return -1;
    }
    // 4. Console keys.
    if ((player->options & kOptionTtyControl) && AddFilter(player, TtyFilter, player) == -1) {
        return -1;
    }
    return 0;
}
