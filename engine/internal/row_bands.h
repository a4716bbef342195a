#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/engine_hooks.h"

// How a kernel's rows are cut for the threads: bands of at least kMinBandRows rows and of at
// least kMinBandBytes of the bytes the rows read and write, so that a band pays for waking a
// thread (a standard-definition frame runs on the calling thread), never more than
// kMaxRowBands, whatever the thread count; every row is computed the same way in any band.
constexpr int kMinBandRows = 8;
constexpr size_t kMinBandBytes = size_t(4) << 20;
constexpr int kMaxRowBands = 48;

// kMinBandBytes; tests set 0 to cut small frames into bands.
extern size_t gMinBandBytes;

// rowBytes: the bytes one row of the work reads and writes.
inline int RowBandCount(int rows, size_t rowBytes)
{
    const int64_t byBytes = gMinBandBytes
                                ? static_cast<int64_t>(rows) * static_cast<int64_t>(rowBytes)
                                      / static_cast<int64_t>(gMinBandBytes)
                                : rows;
    return static_cast<int>(
        std::clamp<int64_t>(std::min<int64_t>(rows / kMinBandRows, byBytes), 1, kMaxRowBands));
}

// Runs band(index, r0, r1) for the bands of [0, rows) on the installed threads; without them,
// or on one thread, one band of every row on this thread.
template <typename Band> void RunRowBands(int rows, size_t rowBytes, const Band &band)
{
    if (rows <= 0) {
        return;
    }
    const EngineHooks &hooks = gEngineHooks;
    const int bands = RowBandCount(rows, rowBytes);
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
