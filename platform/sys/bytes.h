#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace lc {

// Bounded reader over bytes that came from a file. A read past the end returns 0 (or false),
// reads nothing and sets a sticky flag; parsers check ok() once per unit.
class ByteReader
{
public:
    ByteReader() = default;
    ByteReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    explicit ByteReader(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

    size_t size() const { return size_; }
    size_t pos() const { return pos_; }
    size_t remaining() const { return size_ - pos_; }
    bool ok() const { return !overread_; }
    bool overread() const { return overread_; }
    const uint8_t *data() const { return data_; }
    const uint8_t *cursor() const { return data_ + pos_; }

    bool seek(size_t pos)
    {
        if (pos > size_) {
            overread_ = true;
            return false;
        }
        pos_ = pos;
        return true;
    }
    bool skip(size_t n)
    {
        if (n > remaining()) {
            overread_ = true;
            pos_ = size_;
            return false;
        }
        pos_ += n;
        return true;
    }
    bool read(void *dst, size_t n)
    {
        if (n > remaining()) {
            overread_ = true;
            pos_ = size_;
            return false;
        }
        if (n) {
            std::memcpy(dst, data_ + pos_, n);
        }
        pos_ += n;
        return true;
    }
    // A child bounded by n bytes and by this reader; this one moves past them.
    ByteReader sub(size_t n)
    {
        if (n > remaining()) {
            overread_ = true;
            ByteReader child(data_ + pos_, remaining());
            pos_ = size_;
            child.overread_ = true;
            return child;
        }
        ByteReader child(data_ + pos_, n);
        pos_ += n;
        return child;
    }
    std::span<const uint8_t> bytes(size_t n)
    {
        if (n > remaining()) {
            overread_ = true;
            pos_ = size_;
            return {};
        }
        std::span<const uint8_t> s(data_ + pos_, n);
        pos_ += n;
        return s;
    }

    uint8_t u8() { return static_cast<uint8_t>(take(1, false)); }
    uint16_t u16le() { return static_cast<uint16_t>(take(2, false)); }
    uint16_t u16be() { return static_cast<uint16_t>(take(2, true)); }
    uint32_t u24be() { return static_cast<uint32_t>(take(3, true)); }
    uint32_t u32le() { return static_cast<uint32_t>(take(4, false)); }
    uint32_t u32be() { return static_cast<uint32_t>(take(4, true)); }
    uint64_t u64le() { return take(8, false); }
    uint64_t u64be() { return take(8, true); }
    int16_t s16le() { return static_cast<int16_t>(u16le()); }
    int16_t s16be() { return static_cast<int16_t>(u16be()); }
    int32_t s32le() { return static_cast<int32_t>(u32le()); }
    int32_t s32be() { return static_cast<int32_t>(u32be()); }
    // Four-character codes keep file order: 'abcd' reads as 0x61626364.
    uint32_t fourcc() { return u32be(); }

private:
    uint64_t take(size_t n, bool bigEndian)
    {
        if (n > remaining()) {
            overread_ = true;
            pos_ = size_;
            return 0;
        }
        uint64_t v = 0;
        const uint8_t *p = data_ + pos_;
        for (size_t i = 0; i < n; ++i) {
            if (bigEndian) {
                v = (v << 8) | p[i];
            } else {
                v |= uint64_t(p[i]) << (8 * i);
            }
        }
        pos_ += n;
        return v;
    }

    const uint8_t *data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    bool overread_ = false;
};

// Most-significant-bit-first reader. Reads past the end give zero bits and set the sticky flag.
class BitReader
{
public:
    BitReader() = default;
    BitReader(const uint8_t *data, size_t size) : data_(data), sizeBits_(uint64_t(size) * 8) {}
    explicit BitReader(std::span<const uint8_t> s) : BitReader(s.data(), s.size()) {}

    uint64_t bitPos() const { return pos_; }
    uint64_t bitsLeft() const { return sizeBits_ - pos_; }
    bool ok() const { return !overread_; }
    bool overread() const { return overread_; }
    bool byteAligned() const { return (pos_ & 7) == 0; }
    void alignByte() { pos_ = std::min<uint64_t>((pos_ + 7) & ~uint64_t(7), sizeBits_); }

    // n in 0..32
    uint32_t peek(int n) const
    {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            uint64_t p = pos_ + uint64_t(i);
            uint32_t bit = 0;
            if (p < sizeBits_) {
                bit = (data_[p >> 3] >> (7 - (p & 7))) & 1u;
            }
            v = (v << 1) | bit;
        }
        return v;
    }
    uint32_t bits(int n)
    {
        uint32_t v = peek(n);
        skip(n);
        return v;
    }
    bool flag() { return bits(1) != 0; }
    void skip(uint64_t n)
    {
        if (n > bitsLeft()) {
            overread_ = true;
            pos_ = sizeBits_;
            return;
        }
        pos_ += n;
    }
    bool seekBit(uint64_t pos)
    {
        if (pos > sizeBits_) {
            overread_ = true;
            return false;
        }
        pos_ = pos;
        return true;
    }

private:
    const uint8_t *data_ = nullptr;
    uint64_t sizeBits_ = 0;
    uint64_t pos_ = 0;
    bool overread_ = false;
};

// Little helpers for writers of binary files.
inline void StoreU16le(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void StoreU32le(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = uint8_t(v >> (8 * i));
    }
}
inline void StoreU64le(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) {
        p[i] = uint8_t(v >> (8 * i));
    }
}
inline void StoreU16be(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void StoreU32be(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = uint8_t(v >> (24 - 8 * i));
    }
}
inline void StoreU64be(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) {
        p[i] = uint8_t(v >> (56 - 8 * i));
    }
}
inline uint32_t LoadU32le(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t LoadU16le(const uint8_t *p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t LoadU32be(const uint8_t *p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint16_t LoadU16be(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

// Four-character code from text, file order: FourCC("moov") == 0x6d6f6f76.
constexpr uint32_t FourCC(const char (&s)[5])
{
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16
           | uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}
std::string FourCCText(uint32_t code);

// Growing buffer for writers, with patching of fields written earlier.
class ByteWriter
{
public:
    std::vector<uint8_t> &buffer() { return buf_; }
    const std::vector<uint8_t> &buffer() const { return buf_; }
    size_t size() const { return buf_.size(); }
    void clear() { buf_.clear(); }

    void u8(uint8_t v) { buf_.push_back(v); }
    void u16le(uint16_t v) { put(v, 2, false); }
    void u32le(uint32_t v) { put(v, 4, false); }
    void u64le(uint64_t v) { put(v, 8, false); }
    void u16be(uint16_t v) { put(v, 2, true); }
    void u24be(uint32_t v) { put(v, 3, true); }
    void u32be(uint32_t v) { put(v, 4, true); }
    void u64be(uint64_t v) { put(v, 8, true); }
    void fourcc(uint32_t code) { u32be(code); }
    void fourcc(const char (&s)[5]) { u32be(FourCC(s)); }
    void bytes(const void *p, size_t n)
    {
        const uint8_t *b = static_cast<const uint8_t *>(p);
        buf_.insert(buf_.end(), b, b + n);
    }
    void zeros(size_t n) { buf_.insert(buf_.end(), n, 0); }
    void patchU32le(size_t at, uint32_t v) { StoreU32le(&buf_.at(at), v); }
    void patchU32be(size_t at, uint32_t v) { StoreU32be(&buf_.at(at), v); }
    void patchU64be(size_t at, uint64_t v) { StoreU64be(&buf_.at(at), v); }

private:
    void put(uint64_t v, int n, bool bigEndian)
    {
        for (int i = 0; i < n; ++i) {
            int shift = bigEndian ? 8 * (n - 1 - i) : 8 * i;
            buf_.push_back(uint8_t(v >> shift));
        }
    }
    std::vector<uint8_t> buf_;
};

} // namespace lc
