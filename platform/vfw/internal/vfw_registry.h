#pragma once

#include "platform/vfw/vfw.h"

namespace lc::vfw {

// Compressors the chooser offers: index 0 is "Full Frames (Uncompressed)", then every listed
// compressor whose encoder libavcodec has.
int CompressorCount();
bool CompressorInfo(int index, ICINFO *info);

} // namespace lc::vfw
