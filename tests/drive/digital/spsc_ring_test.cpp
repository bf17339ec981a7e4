// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/digital/spsc_ring.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{

TEST(SpscRing, HoldsExactlyItsCapacityAndGivesItBackInOrder)
{
    static SpscRing<int, 8> ring;
    ring.reset();
    EXPECT_EQ(ring.read_slot(), nullptr);
    // Several laps, so the counters wrap around the slots.
    int next_in = 0, next_out = 0;
    for (int lap = 0; lap < 5; lap++) {
        while (int *slot = ring.write_slot()) {
            *slot = next_in++;
            ring.publish();
        }
        EXPECT_EQ(ring.size(), 8u);
        for (int i = 0; i < 5; i++) {
            int *slot = ring.read_slot();
            ASSERT_NE(slot, nullptr);
            EXPECT_EQ(*slot, next_out++);
            ring.release();
        }
        EXPECT_EQ(ring.size(), 3u);
    }
    while (int *slot = ring.read_slot()) {
        EXPECT_EQ(*slot, next_out++);
        ring.release();
    }
    EXPECT_EQ(next_out, next_in);
    EXPECT_EQ(ring.size(), 0u);
}

TEST(SpscRing, TwoThreadsPassEveryItemOnceInOrder)
{
    static SpscRing<uint64_t, 64> ring;
    ring.reset();
    constexpr uint64_t COUNT = 200'000;
    std::thread producer([] {
        for (uint64_t i = 0; i < COUNT;) {
            if (uint64_t *slot = ring.write_slot()) {
                *slot = i * 7 + 3;
                ring.publish();
                i++;
            }
        }
    });
    uint64_t expected = 0;
    bool in_order = true;
    while (expected < COUNT) {
        if (uint64_t *slot = ring.read_slot()) {
            in_order = in_order && *slot == expected * 7 + 3;
            ring.release();
            expected++;
        }
    }
    producer.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(ring.size(), 0u);
}

} // namespace
