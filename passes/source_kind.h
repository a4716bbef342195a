#pragma once

#include <atomic>

// How the shown movie is read. Set by CMovieWindow::OpenMovie (on the GUI thread or the
// processing thread); read by the processing thread, the passes and the players. Each flag 0/1.
struct SourceKind
{
    std::atomic<int> isAvi{0};        // the extension is AVI (also: the result shown next is AVI)
    std::atomic<int> isType1Dv{0};    // an interleaved (Type 1) DV AVI; its open fails
    std::atomic<int> viaQuickTime{0}; // open through the media layer's movie services
    std::atomic<int> viaAviPlayer{0}; // read by the own AVI or MXF reader, shown by their player
    std::atomic<int> isMpeg{0};       // an MPEG-2 stream handed to the MPEG-2 player
    std::atomic<int> isMxf{0};        // an MXF clip

    // Every open starts from here.
    void Clear()
    {
        isAvi = 0;
        isType1Dv = 0;
        viaQuickTime = 0;
        viaAviPlayer = 0;
        isMpeg = 0;
        isMxf = 0;
    }
    // A movie is open when one of the three ways of reading it is in use.
    bool AnyOpen() const { return viaQuickTime || viaAviPlayer || isMpeg; }
};

extern SourceKind gSourceKind;
