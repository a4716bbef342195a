#include "passes/vfw_output.h"

#include "formats/avi_reader.h"
#include "passes/process_control.h"

int BeginAviVideoCompression(const char *, uint32_t, uint32_t, uint32_t)
{
    ShowError("Video for Windows compressors are not available yet:\n"
              "uncheck User Selects Compression for AVI output");
    return 0;
}

int CompressAviFrame(const uint8_t *)
{
    return 0;
}

void EndAviVideoCompression() {}

int OpenVfwDecompressor()
{
    // Uncompressed frames need no decompressor.
    return gAviReadState.isUncompressed ? 1 : 0;
}

int VfwDecompressFrame(const uint8_t *, int, uint8_t *)
{
    return 0;
}

void CloseVfwDecompressor() {}
