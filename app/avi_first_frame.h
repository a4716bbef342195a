#pragma once

// Until the AVI/MXF playback window exists, an AVI file it would show gets its first frame
// painted into the main window when the AVI reader can give it without a decompressor
// (uncompressed 24-bit video); other AVI files and MXF clips show an empty window.
void ShowFirstAviFrame(const char *path);
