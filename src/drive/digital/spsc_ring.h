// SPDX-License-Identifier: GPL-3.0-or-later
// A fixed-size ring between exactly one producer thread and one consumer
// thread, without locks: the producer fills a slot in place and publishes it,
// the consumer reads the oldest slot in place and releases it. The reader
// thread hands audio frames to the sound card's callback through one, and the
// main loop hands commands to the reader through another.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

template <typename T, size_t N> struct SpscRing {
    static_assert(N > 1 && (N & (N - 1)) == 0, "the capacity must be a power of two");

    T slots[N];
    // Counters run freely; head - tail is the number of published slots.
    alignas(64) std::atomic<uint64_t> head{0}; // written by the producer
    alignas(64) std::atomic<uint64_t> tail{0}; // written by the consumer

    static constexpr size_t capacity() { return N; }

    // The slot the producer may fill next, or nullptr when the ring is full.
    T *write_slot()
    {
        uint64_t h = head.load(std::memory_order_relaxed);
        if (h - tail.load(std::memory_order_acquire) >= N)
            return nullptr;
        return &slots[h % N];
    }

    // Hands the slot returned by write_slot to the consumer.
    void publish()
    {
        head.store(head.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // The oldest published slot, or nullptr when the ring is empty.
    T *read_slot()
    {
        uint64_t t = tail.load(std::memory_order_relaxed);
        if (t == head.load(std::memory_order_acquire))
            return nullptr;
        return &slots[t % N];
    }

    // Gives the slot returned by read_slot back to the producer.
    void release()
    {
        tail.store(tail.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Published slots not yet released, as a snapshot. The tail is read
    // first: it never passes the head, so the difference cannot wrap.
    size_t size() const
    {
        uint64_t t = tail.load(std::memory_order_acquire);
        return static_cast<size_t>(head.load(std::memory_order_acquire) - t);
    }

    // Forgets everything; only while neither thread uses the ring.
    void reset()
    {
        head.store(0, std::memory_order_relaxed);
        tail.store(0, std::memory_order_relaxed);
    }
};
