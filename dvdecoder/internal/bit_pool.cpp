#include "dvdecoder/internal/bit_pool.h"

#include <algorithm>
#include <cstring>

void BitPool::Reset(int i, int bits)
{
    Queue &q = queues_[i];
    std::memset(q.words, 0, sizeof q.words);
    q.size = std::clamp(bits, 0, kCapacityBits);
    q.write = 0;
    q.read = 0;
}

void BitPool::PutBits(int i, uint32_t value, int n)
{
    Queue &q = queues_[i];
    n = std::min(n, q.size - q.write);
    for (int k = 0; k < n; ++k) {
        const int pos = q.write + k;
        const uint32_t bit = (value >> (31 - k)) & 1u;
        q.words[pos >> 5] =
            (q.words[pos >> 5] & ~(1u << (31 - (pos & 31)))) | (bit << (31 - (pos & 31)));
    }
    q.write += std::max(n, 0);
}

uint32_t BitPool::PeekBits(int i, int n, int *got) const
{
    *got = 0;
    if (n < 1) {
        return 0;
    }
    n = std::min(n, 32);
    uint32_t value = 0;
    const int first = i < 0 ? 0 : i;
    const int last = i < 0 ? kQueues - 1 : i;
    for (int qi = first; qi <= last && *got < n; ++qi) {
        const Queue &q = queues_[qi];
        for (int pos = q.read; pos < q.write && *got < n; ++pos) {
            value |= uint32_t(BitAt(q, pos)) << (31 - *got);
            ++*got;
        }
    }
    return value;
}

int BitPool::SkipBits(int i, int n)
{
    const int first = i < 0 ? 0 : i;
    const int last = i < 0 ? kQueues - 1 : i;
    for (int qi = first; qi <= last && n > 0; ++qi) {
        Queue &q = queues_[qi];
        const int take = std::min(n, q.write - q.read);
        q.read += take;
        n -= take;
    }
    return n;
}
