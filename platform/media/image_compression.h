#pragma once

#include "platform/media/gworld.h"
#include "platform/media/media_types.h"

// Image compression: frames between pixel maps and samples, through the codec registry
// (codec_registry.h). Every call sets GetMoviesError to its result.

using CodecType = OSType;
using CodecQ = uint32_t;
struct CodecComponentRecord;
using CodecComponent = CodecComponentRecord *;
using CompressorComponent = CodecComponent;
using DecompressorComponent = CodecComponent;

// Codec choices: the registry has one codec a code, so each of these picks it.
inline const CodecComponent anyCodec = nullptr;
inline const CodecComponent bestSpeedCodec = reinterpret_cast<CodecComponent>(intptr_t(-1));
inline const CodecComponent bestFidelityCodec = reinterpret_cast<CodecComponent>(intptr_t(-2));
inline const CodecComponent bestCompressionCodec = reinterpret_cast<CodecComponent>(intptr_t(-3));

constexpr CodecQ codecMinQuality = 0x000;
constexpr CodecQ codecLowQuality = 0x100;
constexpr CodecQ codecNormalQuality = 0x200;
constexpr CodecQ codecHighQuality = 0x300;
constexpr CodecQ codecMaxQuality = 0x3ff;
constexpr CodecQ codecLosslessQuality = 0x400;

constexpr int16_t srcCopy = 0; // the only transfer mode

// Results beside noCodecErr and codecErr.
constexpr OSErr codecUnimpErr = -8962;   // the codec cannot deliver the asked pixel format
constexpr OSErr codecSizeErr = -8963;    // picture size the codec does not take
constexpr OSErr codecBadDataErr = -8969; // sample data the codec cannot read (short, wrong size)

struct MaskRecord;
using RgnHandle = MaskRecord **;

struct CodecInfo
{
    char typeName[32];          // Pascal string
    int16_t version;
    int16_t revisionLevel;
    int32_t vendor;
    int32_t decompressFlags;
    int32_t compressFlags;
    int32_t formatFlags;
    uint8_t compressionAccuracy;
    uint8_t decompressionAccuracy;
    uint16_t compressionSpeed;
    uint16_t decompressionSpeed;
    uint8_t compressionLevel;
    uint8_t resvd;
    int16_t minimumHeight;
    int16_t minimumWidth;
    int16_t decompressPipelineLatency;
    int16_t compressPipelineLatency;
    int32_t privateData;
};

// The installed-codec test: the largest sample CompressImage can make for srcRect in cType.
// noCodecErr (-8961) when no encoder for cType is installed; codecSizeErr when the codec does not
// take that size. colorDepth, quality and codec are accepted and not used.
OSErr GetMaxCompressionSize(PixMapHandle src, const Rect *srcRect, int16_t colorDepth,
                            CodecQ quality, CodecType cType, CompressorComponent codec,
                            int32_t *size);

// Name and abilities of a codec (encoder or decoder); noCodecErr when neither is installed.
OSErr GetCodecInfo(CodecInfo *info, CodecType cType, CodecComponent codec);

// Compresses srcRect of src (null: its bounds) into data, which must hold GetMaxCompressionSize
// bytes. desc is resized and filled: idSize, cType, width, height, depth, name, and dataSize = the
// sample's length. DV-family codes take only their exact frame sizes (see codec_registry.h).
OSErr CompressImage(PixMapHandle src, const Rect *srcRect, CodecQ quality, CodecType cType,
                    ImageDescriptionHandle desc, Ptr data);

// Decompresses the sample (desc's dataSize bytes at data) into dst, in dst's pixel format.
// The picture is scaled to dstRect when given, else drawn at the description's size from the
// top-left of dst, cut to dst's bounds. Fails with codecUnimpErr when dst's format cannot be
// delivered, codecBadDataErr for unreadable or wrong-sized data, noCodecErr for an unknown code
// or a long-GOP codec. srcRect, mask must be null; mode srcCopy.
OSErr DecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect *srcRect,
                      const Rect *dstRect, int16_t mode, RgnHandle mask);

// As DecompressImage, drawn at the description's size (matrix must be null or identity).
// bufferSize 0 means desc's dataSize; otherwise the smaller of the two is read.
OSErr FDecompressImage(Ptr data, ImageDescriptionHandle desc, PixMapHandle dst, const Rect *srcRect,
                       const MatrixRecord *matrix, int16_t mode, RgnHandle mask, PixMapHandle matte,
                       const Rect *matteRect, CodecQ accuracy, DecompressorComponent codec,
                       int32_t bufferSize, void *dataProc, void *progressProc);
