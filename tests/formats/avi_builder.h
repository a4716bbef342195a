#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sys/bytes.h"

// Builds small RIFF images for reader cases that no encoder makes.
namespace avi_build {

using Bytes = std::vector<uint8_t>;

inline void Append(Bytes &b, const Bytes &more)
{
    b.insert(b.end(), more.begin(), more.end());
}

inline Bytes Id(const char *fourcc)
{
    return Bytes(fourcc, fourcc + 4);
}

inline Bytes U32(uint32_t v)
{
    Bytes b(4);
    lc::StoreU32le(b.data(), v);
    return b;
}

// id, size, data, and a pad byte after an odd size unless pad is false.
inline Bytes Chunk(const char *id, const Bytes &data, bool pad = true)
{
    Bytes b = Id(id);
    Append(b, U32(uint32_t(data.size())));
    Append(b, data);
    if (pad && (data.size() & 1)) {
        b.push_back(0);
    }
    return b;
}

inline Bytes List(const char *kind, const char *type, const Bytes &body)
{
    Bytes b = Id(kind);
    Append(b, U32(uint32_t(body.size() + 4)));
    Append(b, Id(type));
    Append(b, body);
    return b;
}

inline Bytes Avih(uint32_t totalFrames, uint32_t width, uint32_t height, uint32_t suggested = 0)
{
    Bytes b(56, 0);
    lc::StoreU32le(&b[16], totalFrames);
    lc::StoreU32le(&b[24], 2);
    lc::StoreU32le(&b[28], suggested);
    lc::StoreU32le(&b[32], width);
    lc::StoreU32le(&b[36], height);
    return b;
}

inline Bytes Strh(const char *type, const char *handler, uint32_t scale = 1, uint32_t rate = 25)
{
    Bytes b(56, 0);
    std::memcpy(&b[0], type, 4);
    std::memcpy(&b[4], handler, 4);
    lc::StoreU32le(&b[20], scale);
    lc::StoreU32le(&b[24], rate);
    return b;
}

inline Bytes Bih(int32_t width, int32_t height, uint16_t bits, const char *compression)
{
    Bytes b(40, 0);
    lc::StoreU32le(&b[0], 40);
    lc::StoreU32le(&b[4], uint32_t(width));
    lc::StoreU32le(&b[8], uint32_t(height));
    lc::StoreU16le(&b[12], 1);
    lc::StoreU16le(&b[14], bits);
    if (compression) {
        std::memcpy(&b[16], compression, 4);
    }
    return b;
}

inline Bytes Wave(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits)
{
    Bytes b(16, 0);
    lc::StoreU16le(&b[0], tag);
    lc::StoreU16le(&b[2], channels);
    lc::StoreU32le(&b[4], rate);
    lc::StoreU32le(&b[8], rate * channels * bits / 8);
    lc::StoreU16le(&b[12], uint16_t(channels * bits / 8));
    lc::StoreU16le(&b[14], bits);
    return b;
}

inline Bytes VideoStrl(const char *handler, const Bytes &bih, const Bytes &extra = {})
{
    Bytes body = Chunk("strh", Strh("vids", handler));
    Append(body, Chunk("strf", bih));
    Append(body, extra);
    return List("LIST", "strl", body);
}

inline Bytes AudioStrl(const Bytes &wave)
{
    Bytes body = Chunk("strh", Strh("auds", "\0\0\0\0", 4, 4 * 48000));
    Append(body, Chunk("strf", wave));
    return List("LIST", "strl", body);
}

inline Bytes Riff(const char *form, const Bytes &body)
{
    return List("RIFF", form, body);
}

// A file: RIFF "AVI " with hdrl (avih + the stream lists given) and movi (the chunks given).
inline Bytes AviFile(const Bytes &avih, const Bytes &streams, const Bytes &moviChunks,
                     const Bytes &after = {})
{
    Bytes hdrl = Chunk("avih", avih);
    Append(hdrl, streams);
    Bytes body = List("LIST", "hdrl", hdrl);
    Append(body, List("LIST", "movi", moviChunks));
    Append(body, after);
    return Riff("AVI ", body);
}

inline Bytes Fill(size_t n, uint8_t v)
{
    return Bytes(n, v);
}

} // namespace avi_build
