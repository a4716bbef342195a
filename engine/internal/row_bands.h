#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/engine_hooks.h"

// How a kernel's rows are cut for the threads: bands of at least kMinBandRows rows, never more
// than kMaxRowBands, whatever the thread count; every row is computed the same way in any band.
constexpr int kMinBandRows = 8;
constexpr int kMaxRowBands = 48;

inline int RowBandCount(int rows)
{
    return std::clamp(rows / kMinBandRows, 1, kMaxRowBands);
}

// Runs band(index, r0, r1) for the bands of [0, rows) on the installed threads; without them,
// or on one thread, one band of every row on this thread.
template <typename Band> void RunRowBands(int rows, const Band &band)
{
    if (rows <= 0) {
        return;
    }
    const EngineHooks &hooks = gEngineHooks;
    const int bands = RowBandCount(rows);
    if (bands == 1 || !hooks.parallelFor || (hooks.workerThreads && hooks.workerThreads() <= 1)) {
        band(0, 0, rows);
        return;
    }
    // One pointer captured, so the task fits in std::function without an allocation.
    struct Cut
    {
        int rows;
        int bands;
        const Band *band;
    } cut{rows, bands, &band};
    hooks.parallelFor(bands, [&cut](int i) {
        (*cut.band)(i, static_cast<int>(int64_t(i) * cut.rows / cut.bands),
                    static_cast<int>(int64_t(i + 1) * cut.rows / cut.bands));
    });
}
