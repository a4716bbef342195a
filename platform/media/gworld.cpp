#include "platform/media/gworld.h"

#include <cstdlib>
#include <new>

// A GWorld owns its pixel map record and the pixels it allocated; the pixel map handle points at
// the record's pixMapPtr, so callers patching (**pm).baseAddr never lose the buffer to free.
struct GWorldRecord
{
    PixMap pixMap;
    PixMapPtr pixMapPtr;
    char *pixels; // what NewGWorld allocated
};

namespace {
thread_local CGrafPtr tCurrentPort = nullptr;

// Row length is held in 14 bits.
constexpr int kMaxRowBytes = kRowBytesMask;
} // namespace

QDErr NewGWorld(GWorldPtr *offscreenGWorld, int16_t pixelDepth, const Rect *boundsRect,
                CTabHandle, GDHandle, GWorldFlags)
{
    if (!offscreenGWorld || !boundsRect) {
        SetMoviesError(paramErr);
        return paramErr;
    }
    *offscreenGWorld = nullptr;
    OSType format = 0;
    switch (pixelDepth) {
    case 16:
        format = kYUVSPixelFormat;
        break;
    case 24:
        format = k24RGBPixelFormat;
        break;
    case 32:
        format = k32ARGBPixelFormat;
        break;
    default:
        SetMoviesError(cDepthErr);
        return cDepthErr;
    }
    const int width = boundsRect->right - boundsRect->left;
    const int height = boundsRect->bottom - boundsRect->top;
    const int rowBytes = width * (pixelDepth / 8);
    if (width <= 0 || height <= 0 || rowBytes > kMaxRowBytes) {
        SetMoviesError(paramErr);
        return paramErr;
    }
    auto *g = new (std::nothrow) GWorldRecord{};
    if (g) {
        g->pixels = static_cast<char *>(std::calloc(size_t(rowBytes) * size_t(height), 1));
    }
    if (!g || !g->pixels) {
        delete g;
        SetMoviesError(memFullErr);
        return memFullErr;
    }
    PixMap &pm = g->pixMap;
    pm.baseAddr = g->pixels;
    pm.rowBytes = int16_t(rowBytes | kPixMapRowBytesFlag);
    pm.bounds = *boundsRect;
    pm.hRes = 72 << 16;
    pm.vRes = 72 << 16;
    pm.pixelType = 16;
    pm.pixelSize = pixelDepth;
    pm.cmpCount = 3;
    pm.cmpSize = pixelDepth == 16 ? 5 : 8;
    pm.pixelFormat = format;
    g->pixMapPtr = &g->pixMap;
    *offscreenGWorld = g;
    SetMoviesError(noErr);
    return noErr;
}

void DisposeGWorld(GWorldPtr offscreenGWorld)
{
    if (!offscreenGWorld) {
        return;
    }
    if (tCurrentPort == offscreenGWorld) {
        tCurrentPort = nullptr;
    }
    std::free(offscreenGWorld->pixels);
    delete offscreenGWorld;
}

PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld)
{
    return offscreenGWorld ? &offscreenGWorld->pixMapPtr : nullptr;
}

Boolean LockPixels(PixMapHandle pm) { return pm && *pm ? 1 : 0; }
void UnlockPixels(PixMapHandle) {}

Ptr GetPixBaseAddr(PixMapHandle pm) { return pm && *pm ? (**pm).baseAddr : nullptr; }

int32_t GetPixRowBytes(PixMapHandle pm) { return pm && *pm ? (**pm).rowBytes & kRowBytesMask : 0; }

int16_t GetPixDepth(PixMapHandle pm) { return pm && *pm ? (**pm).pixelSize : 0; }

void GetGWorld(CGrafPtr *port, GDHandle *gdh)
{
    if (port) {
        *port = tCurrentPort;
    }
    if (gdh) {
        *gdh = nullptr;
    }
}

void SetGWorld(CGrafPtr port, GDHandle) { tCurrentPort = port; }

int PixMapBytesPerPixel(const PixMap &pm)
{
    switch (pm.pixelFormat) {
    case kYUVSPixelFormat:
        return pm.pixelSize == 16 ? 2 : 0;
    case k24RGBPixelFormat:
        return pm.pixelSize == 24 ? 3 : 0;
    case k32ARGBPixelFormat:
        return pm.pixelSize == 32 ? 4 : 0;
    default:
        return 0;
    }
}
