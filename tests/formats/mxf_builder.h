#pragma once

#include <cstdint>
#include <vector>

// Small camera-card MXF files built in memory: KLV triplets with BER lengths, a picture or sound
// descriptor of local set items, and one clip-wrapped essence element.
namespace mxf_test {

using Bytes = std::vector<uint8_t>;

inline const Bytes kPartitionKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x05, 0x01, 0x01,
                                    0x0D, 0x01, 0x02, 0x01, 0x01, 0x02, 0x04, 0x00};
inline const Bytes kCdciKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                               0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, 0x28, 0x00};
inline const Bytes kAes3DescriptorKey = {0x06, 0x0E, 0x2B, 0x34, 0x02, 0x53, 0x01, 0x01,
                                         0x0D, 0x01, 0x01, 0x01, 0x01, 0x01, 0x47, 0x00};
inline const Bytes kDvDifKey = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                0x0D, 0x01, 0x03, 0x01, 0x18, 0x01, 0x02, 0x01};
inline const Bytes kAes3ElementKey = {0x06, 0x0E, 0x2B, 0x34, 0x01, 0x02, 0x01, 0x01,
                                      0x0D, 0x01, 0x03, 0x01, 0x16, 0x01, 0x04, 0x01};

inline void PutU16(Bytes &b, uint16_t v)
{
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
inline void PutU32(Bytes &b, uint32_t v)
{
    PutU16(b, uint16_t(v >> 16));
    PutU16(b, uint16_t(v));
}

// A long-form length as recorders write it: 4 bytes, or 9 for values of 2^24 and more.
inline Bytes Ber(uint64_t n)
{
    Bytes b;
    const int bytes = n < (1u << 24) ? 3 : 8;
    b.push_back(uint8_t(0x80 | bytes));
    for (int i = bytes - 1; i >= 0; --i) {
        b.push_back(uint8_t(n >> (8 * i)));
    }
    return b;
}

inline Bytes Klv(const Bytes &key, const Bytes &value)
{
    Bytes b = key;
    const Bytes l = Ber(value.size());
    b.insert(b.end(), l.begin(), l.end());
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

// Local set items: 2-byte tag, 2-byte length, value.
struct Items
{
    Bytes bytes;
    Items &Raw(uint16_t tag, const Bytes &value)
    {
        PutU16(bytes, tag);
        PutU16(bytes, uint16_t(value.size()));
        bytes.insert(bytes.end(), value.begin(), value.end());
        return *this;
    }
    Items &U32(uint16_t tag, uint32_t v)
    {
        Bytes b;
        PutU32(b, v);
        return Raw(tag, b);
    }
    Items &U64(uint16_t tag, uint64_t v)
    {
        Bytes b;
        PutU32(b, uint32_t(v >> 32));
        PutU32(b, uint32_t(v));
        return Raw(tag, b);
    }
};

// Header partition, descriptor, then the essence element's key and length with only `present`
// bytes (zeros) of its value.
inline Bytes File(const Bytes &descriptorKey, const Bytes &items, const Bytes &elementKey,
                  uint64_t essenceLength, size_t present)
{
    Bytes b = Klv(kPartitionKey, Bytes(88, 0));
    const Bytes d = Klv(descriptorKey, items);
    b.insert(b.end(), d.begin(), d.end());
    b.insert(b.end(), elementKey.begin(), elementKey.end());
    const Bytes l = Ber(essenceLength);
    b.insert(b.end(), l.begin(), l.end());
    b.resize(b.size() + present, 0);
    return b;
}

inline Bytes Clip(const Bytes &items, uint64_t essenceLength, size_t present)
{
    return File(kCdciKey, items, kDvDifKey, essenceLength, present);
}

inline Bytes AudioFile(const Bytes &items, uint64_t essenceLength, size_t present)
{
    return File(kAes3DescriptorKey, items, kAes3ElementKey, essenceLength, present);
}

} // namespace mxf_test
