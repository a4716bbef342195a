#pragma once

#include <cstdint>

// Timing of the source video as its reader found it: frames per second = rate / scale.
// Written by the readers when a movie is opened; read by the AVI writer's header set-up and the
// passes on the same or a later-started thread.
struct SourceTiming
{
    uint32_t rate = 0;  // video strh dwRate
    uint32_t scale = 0; // video strh dwScale; 0 when unknown
};

extern SourceTiming gSourceTiming;
