#include "dvdecoder/internal/bit_pool.h"

#include <algorithm>

void BitPool::Reset(int i, int bits)
{
    Queue &q = queues_[i];
    q.size = std::clamp(bits, 0, kCapacityBits);
    q.write = 0;
    q.read = 0;
    q.words[0] = 0;
}

uint32_t BitPool::PeekAcross(int i, int n, int *got) const
{
    *got = 0;
    if (n < 1) {
        return 0;
    }
    n = std::min(n, 32);
    if (i >= 0) {
        return Peek(queues_[i], n, got);
    }
    uint32_t value = 0;
    for (int qi = 0; qi < kQueues && *got < n; ++qi) {
        int part = 0;
        const uint32_t bits = Peek(queues_[qi], n - *got, &part);
        if (part > 0) {
            value |= bits >> *got;
            *got += part;
        }
    }
    return value;
}

int BitPool::SkipAcross(int i, int n)
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

void BitPool::Gather()
{
    for (int i = 1; i < kQueues; ++i) {
        Queue &q = queues_[i];
        while (q.write > q.read) {
            int got = 0;
            const uint32_t bits = Peek(q, 32, &got);
            PutBits(0, bits, got);
            q.read += got;
        }
    }
}
