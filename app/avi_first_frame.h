#pragma once

// Until the AVI/MXF playback window exists, an AVI file it would show gets its first frame
// painted into the main window: uncompressed 24-bit video as read, other video through its
// installed decompressor. Without one, and for MXF clips, the window stays empty.
void ShowFirstAviFrame(const char *path);
