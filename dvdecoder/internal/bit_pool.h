#pragma once

#include <cstdint>

// Leftover bits of the macroblocks of one video segment: one queue per macroblock, bits in
// order, most significant first, kept in 32-bit words and moved a word at a time. Queues are
// part of the decoder context, so nothing is allocated per segment.
class BitPool
{
public:
    static constexpr int kQueues = 5;
    static constexpr int kCapacityBits = 8160; // at most 480 bits are appended per segment

    // Empties queue i and sets its size; bits above the capacity are not kept.
    void Reset(int i, int bits);
    // Appends the top n (0..32) bits of the left-aligned value; bits past the size are dropped.
    void PutBits(int i, uint32_t value, int n);
    // Up to n bits left-aligned; queue i < 0 reads queues 0..4 as one stream. got = bits found.
    uint32_t PeekBits(int i, int n, int *got) const;
    // Consumes up to n bits; returns the count not consumed.
    int SkipBits(int i, int n);
    int Held(int i) const { return queues_[i].write - queues_[i].read; }

private:
    struct Queue
    {
        // One spare word so that a read of two words never leaves the array.
        uint32_t words[kCapacityBits / 32 + 1] = {};
        int write = 0;
        int read = 0;
        int size = 0;
    };
    // Up to 32 bits of q from its read position, left-aligned; *got = how many are real.
    static uint32_t Peek(const Queue &q, int n, int *got);
    Queue queues_[kQueues];
};
