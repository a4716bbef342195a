#pragma once

#include <cstddef>
#include <cstdint>

// The video compressor interface: compressors and decompressors keyed by four-character code,
// driven by messages. Every compressor makes key frames only. Decompressors deliver bottom-up
// (or, for a negative biHeight, top-down) B, G, R rows of 32 bits (the fourth byte 255) or 24 bits
// a pixel; 24-bit rows are exactly width x 3 bytes, as the callers' frames are. A code with no
// codec behind it answers as a missing codec does: ICOpen returns null.

using DWORD = uint32_t;
using UINT = unsigned;
using LONG = int32_t;
using BOOL = int;
using LRESULT = intptr_t;
using DWORD_PTR = uintptr_t;

struct VfwCodec;
using HIC = VfwCodec *; // an open compressor or decompressor; null when none

// Four characters, the first in the low byte (as they lie in AVI files).
constexpr DWORD mmioFOURCC(char a, char b, char c, char d)
{
    return DWORD(uint8_t(a)) | DWORD(uint8_t(b)) << 8 | DWORD(uint8_t(c)) << 16
           | DWORD(uint8_t(d)) << 24;
}

constexpr DWORD ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c'); // 'VIDC' is taken as well
constexpr DWORD kFullFramesHandler = mmioFOURCC('D', 'I', 'B', ' ');
constexpr DWORD BI_RGB = 0;

// BITMAPINFOHEADER, 40 bytes, little-endian as in files. A format may be longer (biSize bytes):
// codec set-up data follow the 40 bytes.
struct BITMAPINFOHEADER
{
    DWORD biSize = 40;
    LONG biWidth = 0;
    LONG biHeight = 0; // positive: bottom-up rows
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 24;
    DWORD biCompression = BI_RGB; // four-character code, 0 for RGB
    DWORD biSizeImage = 0;        // bytes of one frame (compressed: of this frame)
    LONG biXPelsPerMeter = 0;
    LONG biYPelsPerMeter = 0;
    DWORD biClrUsed = 0;
    DWORD biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

// Open modes.
constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;

// Results.
constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_ERROR = -100;

// Messages, with their two arguments. A format argument is a BITMAPINFOHEADER pointer.
constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_GETINFO = 0x5002;                   // ICINFO *, its size; bytes filled
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4; // in, out: out null: bytes out needs
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;   // in, out: largest compressed frame
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;      // in, out (may be null)
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;      // in, out
constexpr UINT ICM_COMPRESS = ICM_USER + 8;            // ICCOMPRESS *, its size
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10; // in, out: out null: bytes out needs
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;      // in, out (may be null)
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;      // in, out
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;            // ICDECOMPRESS *, its size
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;

// Flags.
constexpr DWORD ICCOMPRESS_KEYFRAME = 0x1;
constexpr DWORD AVIIF_KEYFRAME = 0x10;
constexpr DWORD VIDCF_QUALITY = 0x1;
constexpr UINT ICMF_CHOOSE_KEYFRAME = 0x1;
constexpr UINT ICMF_CHOOSE_DATARATE = 0x2;
constexpr DWORD ICMF_COMPVARS_VALID = 0x1;

struct ICCOMPRESS
{
    DWORD dwFlags = 0;
    BITMAPINFOHEADER *lpbiOutput = nullptr; // biSizeImage receives the frame's size
    void *lpOutput = nullptr;               // at least ICM_COMPRESS_GET_SIZE bytes
    BITMAPINFOHEADER *lpbiInput = nullptr;
    const void *lpInput = nullptr;
    DWORD *lpckid = nullptr;
    DWORD *lpdwFlags = nullptr; // receives AVIIF_KEYFRAME
    LONG lFrameNum = 0;
    DWORD dwFrameSize = 0;
    DWORD dwQuality = 0;
    BITMAPINFOHEADER *lpbiPrev = nullptr;
    const void *lpPrev = nullptr;
};

struct ICDECOMPRESS
{
    DWORD dwFlags = 0;
    BITMAPINFOHEADER *lpbiInput = nullptr; // biSizeImage: bytes of the compressed frame
    const void *lpInput = nullptr;
    BITMAPINFOHEADER *lpbiOutput = nullptr;
    void *lpOutput = nullptr; // width x height x 4 (or x 3) bytes
};

struct ICINFO
{
    DWORD dwSize = sizeof(ICINFO);
    DWORD fccType = ICTYPE_VIDEO;
    DWORD fccHandler = 0;
    DWORD dwFlags = 0;
    DWORD dwVersion = 0;
    DWORD dwVersionICM = 0;
    char szName[16] = {};         // C string
    char szDescription[128] = {}; // C string, as the chooser lists it
    char szDriver[128] = {};
};

// The chooser's record. Callers zero it and store kCompVarsSize in cbSize.
constexpr LONG kCompVarsSize = 64; // the size callers store (the record is larger on 64 bits)
struct COMPVARS
{
    LONG cbSize = 0;
    DWORD dwFlags = 0;
    HIC hic = nullptr; // the chosen compressor, open for compression; null: full frames
    DWORD fccType = 0;
    DWORD fccHandler = 0; // the chosen code; kFullFramesHandler for full frames
    BITMAPINFOHEADER *lpbiIn = nullptr;
    BITMAPINFOHEADER *lpbiOut = nullptr;
    void *lpBitsOut = nullptr;
    void *lpBitsPrev = nullptr;
    LONG lFrame = 0;
    LONG lKey = 0;
    LONG lDataRate = 0;
    LONG lQ = 0;
    LONG lKeyCount = 0;
    void *lpState = nullptr;
    LONG cbState = 0;
};

// Builds the registry; safe to call more than once. ICOpen works without it.
void AVIFileInit();
void AVIFileExit();

// Opens the codec of fccHandler (matched without regard to case) for mode; null when no codec of
// that code can work in that mode.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode);
LRESULT ICClose(HIC hic); // ICERR_OK; null ignored
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);

// Compresses one frame as a key frame into lpData (ICM_COMPRESS_GET_SIZE bytes at least);
// lpbiOutput->biSizeImage receives its size (0 on failure). ICERR_OK or an error.
DWORD ICCompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER *lpbiOutput, void *lpData,
                 BITMAPINFOHEADER *lpbiInput, const void *lpBits, DWORD *lpckid, DWORD *lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, BITMAPINFOHEADER *lpbiPrev,
                 const void *lpPrev);
// Decompresses lpbiFormat->biSizeImage bytes of lpData into lpBits in the format lpbi.
DWORD ICDecompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER *lpbiFormat, const void *lpData,
                   BITMAPINFOHEADER *lpbi, void *lpBits);

// Name and description of an open codec; bytes filled (0 for null arguments).
LRESULT ICGetInfo(HIC hic, ICINFO *info, DWORD cb);
// The index-th compressor the chooser offers (index 0 is "Full Frames (Uncompressed)"); FALSE
// past the last.
BOOL ICInfo(DWORD fccType, DWORD index, ICINFO *info);

// An installed compressor: a function that answers every message sent to its handles (ICGetInfo
// included, as ICM_GETINFO). It is offered by the chooser after the built-in ones and is opened in
// any mode before a built-in codec of the same code.
using ICDriverProc = LRESULT (*)(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);
constexpr int kMaxInstalledCompressors = 16;
// FALSE when the table is full or the arguments are null or not video.
BOOL ICInstall(DWORD fccType, DWORD fccHandler, ICDriverProc proc, const char *description);
BOOL ICRemove(DWORD fccType, DWORD fccHandler); // FALSE when none is installed under the code

// The chooser shows, over the owner window (the caller's; never dereferenced here),
// compressors[0..count) (compressors[0] is "Full Frames (Uncompressed)") with
// `current` selected and, on OK, stores the chosen index and returns true; false: cancelled.
using CompressorChooser = bool (*)(void *owner, const ICINFO *compressors, int count, int current,
                                   const char *title, int *chosen);
// Installs the chooser (null: back to the scripted one); returns the previous one.
CompressorChooser SetCompressorChooser(CompressorChooser chooser);

// The scripted chooser, used while none is installed: each request takes the next queued answer,
// a code (kFullFramesHandler for full frames) or a cancel; with none queued it counts as cancelled.
void QueueScriptedCompressor(DWORD fccHandler, bool cancel = false);
void ClearScriptedCompressors();
int ScriptedCompressorRequests(); // requests answered by the script so far

// Asks for a compressor. TRUE on OK: pc->hic opened for compression (null and fccHandler
// kFullFramesHandler for full frames), dwFlags ICMF_COMPVARS_VALID. FALSE when cancelled, or when
// pc is null or its cbSize is not kCompVarsSize; pc is then unchanged. pvIn and lpData unused.
BOOL ICCompressorChoose(void *owner, UINT flags, const void *pvIn, void *lpData, COMPVARS *pc,
                        const char *title);
// Closes pc->hic and forgets it.
void ICCompressorFree(COMPVARS *pc);
