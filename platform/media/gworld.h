#pragma once

#include "platform/media/media_types.h"

// Offscreen pixel buffers ("GWorlds"): top-down pictures whose pixel map the callers read and
// patch directly (base address, row bytes, bounds, pixel format).

using QDErr = OSErr;
using GWorldFlags = uint32_t;
using CGrafPtr = GWorldPtr;     // a GWorld is its own port
struct GDeviceRecord;
using GDHandle = GDeviceRecord **; // never used by the system: always null
struct ColorTableRecord;
using CTabHandle = ColorTableRecord **; // ignored: no indexed depths

// Pixel formats of a pixel map. The numeric ones are the depths they stand for.
constexpr OSType k24RGBPixelFormat = 24;  // R, G, B bytes
constexpr OSType k32ARGBPixelFormat = 32; // A, R, G, B bytes; A is 0xff after a decode
constexpr OSType kYUVSPixelFormat = 0x79757673; // 'yuvs': Y0 Cb Y1 Cr, 16 bits a pixel
constexpr OSType k2vuyPixelFormat = 0x32767579; // '2vuy': Cb Y0 Cr Y1 (sample layout only)

// Top two bits of rowBytes are flags; 0x8000 marks a pixel map. Byte count = rowBytes & 0x3fff.
constexpr int16_t kPixMapRowBytesFlag = int16_t(0x8000);
constexpr int16_t kRowBytesMask = 0x3fff;

constexpr OSErr cDepthErr = -157; // depth not offered (16, 24 and 32 are)

struct PixMap
{
    Ptr baseAddr;        // first byte of the top row; callers may point it at their own frame
    int16_t rowBytes;    // bytes a row | kPixMapRowBytesFlag
    Rect bounds;         // picture size: bottom - top rows of right - left pixels
    int16_t pmVersion;
    int16_t packType;
    int32_t packSize;
    Fixed hRes;          // 72 dpi
    Fixed vRes;
    int16_t pixelType;   // 16: direct pixels
    int16_t pixelSize;   // bits a pixel: 16, 24 or 32
    int16_t cmpCount;
    int16_t cmpSize;
    OSType pixelFormat;  // kYUVSPixelFormat (depth 16), k24RGBPixelFormat, k32ARGBPixelFormat
    int32_t planeBytes;
    int32_t pmReserved;
};
using PixMapPtr = PixMap *;
using PixMapHandle = PixMap **;

// Makes a buffer of bounds' size, rows exactly width x bytes a pixel, cleared. Depth 16 ('yuvs'),
// 24 or 32; another depth: cDepthErr. Empty or negative bounds: paramErr. No memory: memFullErr.
// The colour table, device and flags are ignored. *offscreenGWorld is null on failure.
QDErr NewGWorld(GWorldPtr *offscreenGWorld, int16_t pixelDepth, const Rect *boundsRect,
                CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags);
// Frees the buffer it made (never a base address the caller put in). Null is ignored.
void DisposeGWorld(GWorldPtr offscreenGWorld);

PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld); // null for null
Boolean LockPixels(PixMapHandle pm);                      // pixels never move: true unless null
void UnlockPixels(PixMapHandle pm);
Ptr GetPixBaseAddr(PixMapHandle pm);                      // null for null
int32_t GetPixRowBytes(PixMapHandle pm);                  // rowBytes & kRowBytesMask, 0 for null
int16_t GetPixDepth(PixMapHandle pm);

// The current port, per thread; null until set. The device is always null.
void GetGWorld(CGrafPtr *port, GDHandle *gdh);
void SetGWorld(CGrafPtr port, GDHandle gdh);

// Bytes a pixel of a pixel map's format (2, 3 or 4), 0 when the format and depth do not agree.
int PixMapBytesPerPixel(const PixMap &pm);
