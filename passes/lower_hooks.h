#pragma once

// Functions and states of the MPEG-2 input that the processing thread needs. They are reached
// through pointers so that this folder builds before that part is joined; the start-up code
// points them at the real functions. A null hook does nothing and reads 0.
struct LowerHooks
{
    void (*stopMpegDecoder)() = nullptr; // stops the MPEG-2 decoder thread and waits
    // The same without a message box: a run takes the stream from its player.
    void (*endMpegDecoding)() = nullptr;
    void (*fitVideoWindow)() = nullptr;  // refits the main window to the MPEG-2 picture
    double (*mpegFrameRate)() = nullptr; // the open MPEG-2 stream's frame rate, frames/s
    // Whether the decoder has read the open stream's first sequence header (and so its frame
    // rate and size): 1 read, 0 not yet (the decoder still looks), -1 never (it stopped without
    // one). Null: the rate is taken as it stands.
    int (*mpegSequenceKnown)() = nullptr;
    // The player controls' resume for a processing pass: hides the controls and starts a
    // whole-file run with the full start-up. Null: the decoder's own calls do the start.
    void (*resumeMpegForProcessing)() = nullptr;
    void (*showMpegPlayer)() = nullptr; // shows the MPEG-2 player again after a stop or error
    // An MPEG-2 stream: its player takes no clicks for the run (a preview it started would
    // decode the stream beside the run); shown again after a stop or an error.
    void (*closeMpegPlayer)() = nullptr;
    // An AVI read by the own reader: its player lets go of the file and takes no clicks for the
    // run; shown again after a stop or an error.
    void (*closeAviPlayer)() = nullptr;
    void (*showAviPlayer)() = nullptr;
};

extern LowerHooks gLowerHooks;
