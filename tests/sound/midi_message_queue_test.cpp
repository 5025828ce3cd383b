#include "sound/midi_message_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(MidiMessageQueue, RefusesWhenFullAndKeepsOrderAcrossTheWrap)
{
    MidiMessageQueue queue;
    std::vector<std::uint32_t> drained;
    std::uint32_t next = 0;
    for (int round = 0; round < 3; ++round) {
        while (queue.Push(next))
            ++next;
        EXPECT_EQ(next % MidiMessageQueue::kCapacity, 0u);
        queue.Drain([&](std::uint32_t message) { drained.push_back(message); });
    }
    ASSERT_EQ(drained.size(), 3 * MidiMessageQueue::kCapacity);
    for (std::uint32_t i = 0; i < drained.size(); ++i)
        ASSERT_EQ(drained[i], i);
}

TEST(MidiMessageQueue, HandsEveryMessageAcrossThreadsInOrder)
{
    MidiMessageQueue queue;
    constexpr std::uint32_t kCount = 20000;
    std::vector<std::uint32_t> received;
    std::thread reader([&] {
        while (received.size() < kCount)
            queue.Drain([&](std::uint32_t message) { received.push_back(message); });
    });
    for (std::uint32_t i = 0; i < kCount;) {
        if (queue.Push(i))
            ++i;
    }
    reader.join();
    for (std::uint32_t i = 0; i < kCount; ++i)
        ASSERT_EQ(received[i], i);
}
