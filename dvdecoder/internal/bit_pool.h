#pragma once

#include <cstdint>

// Leftover bits of the macroblocks of one video segment: one queue per macroblock, bits in
// order, most significant first. Queues are part of the decoder context, so nothing is
// allocated per segment.
class BitPool
{
public:
    static constexpr int kQueues = 5;
    static constexpr int kCapacityBits = 8160; // at most 480 bits are appended per segment

    // Empties queue i and sets its size; bits above the capacity are not kept.
    void Reset(int i, int bits);
    // Appends the top n bits of the left-aligned value; bits past the size are dropped.
    void PutBits(int i, uint32_t value, int n);
    // Up to n bits left-aligned; queue i < 0 reads queues 0..4 as one stream. got = bits found.
    uint32_t PeekBits(int i, int n, int *got) const;
    // Consumes up to n bits; returns the count not consumed.
    int SkipBits(int i, int n);
    int Held(int i) const { return queues_[i].write - queues_[i].read; }

private:
    struct Queue
    {
        uint32_t words[kCapacityBits / 32];
        int write = 0;
        int read = 0;
        int size = 0;
    };
    int BitAt(const Queue &q, int pos) const
    {
        return int(q.words[pos >> 5] >> (31 - (pos & 31))) & 1;
    }
    Queue queues_[kQueues];
};
