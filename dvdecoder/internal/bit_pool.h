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
    uint32_t PeekBits(int i, int n, int *got) const
    {
        // Mostly one queue holds all that is asked for.
        const int first = i < 0 ? 0 : i;
        if (n >= 1 && n <= 32 && Held(first) >= n) {
            return Peek(queues_[first], n, got);
        }
        return PeekAcross(i, n, got);
    }
    // Consumes up to n bits; returns the count not consumed.
    int SkipBits(int i, int n)
    {
        Queue &q = queues_[i < 0 ? 0 : i];
        if (q.write - q.read >= n) {
            q.read += n;
            return 0;
        }
        return SkipAcross(i, n);
    }
    // Moves what queues 1..4 hold behind what queue 0 holds, so that the stream of all five
    // is queue 0 alone; the stream's bits and order stay as they were.
    void Gather();
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
    static uint32_t Peek(const Queue &q, int n, int *got)
    {
        *got = n < q.write - q.read ? n : q.write - q.read;
        if (*got <= 0) {
            *got = 0;
            return 0;
        }
        const int word = q.read >> 5;
        const uint64_t pair = uint64_t(q.words[word]) << 32 | q.words[word + 1];
        const uint32_t value = uint32_t((pair << (q.read & 31)) >> 32);
        return *got == 32 ? value : value & ~(0xffffffffu >> *got);
    }
    uint32_t PeekAcross(int i, int n, int *got) const;
    int SkipAcross(int i, int n);
    Queue queues_[kQueues];
};

// Invariant: the bits of a queue past its write position are zero within the word being
// filled, so an append only ORs its bits in and starts each new word afresh.
inline void BitPool::PutBits(int i, uint32_t value, int n)
{
    Queue &q = queues_[i];
    n = n < q.size - q.write ? n : q.size - q.write;
    if (n <= 0) {
        return;
    }
    if (n < 32) {
        value &= ~(0xffffffffu >> n);
    }
    const int word = q.write >> 5;
    const int bit = q.write & 31;
    if (bit == 0) {
        q.words[word] = value;
    } else {
        q.words[word] |= value >> bit;
        if (bit + n > 32) {
            q.words[word + 1] = value << (32 - bit);
        } else if (bit + n == 32) {
            q.words[word + 1] = 0;
        }
    }
    if (bit == 0 && n == 32) {
        q.words[word + 1] = 0;
    }
    q.write += n;
}
