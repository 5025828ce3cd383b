#include "platform/midi/midi_message_queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(MidiMessageQueue, RefusesWhenFullAndKeepsOrderAcrossTheWrap)
{
    MidiMessageQueue queue;
    std::vector<DWORD> drained;
    DWORD next = 0;
    for (int round = 0; round < 3; ++round) {
        while (queue.Push(next))
            ++next;
        EXPECT_EQ(next % MidiMessageQueue::kCapacity, 0u);
        queue.Drain([&](DWORD message) { drained.push_back(message); });
    }
    ASSERT_EQ(drained.size(), 3 * MidiMessageQueue::kCapacity);
    for (DWORD i = 0; i < drained.size(); ++i)
        ASSERT_EQ(drained[i], i);
}

TEST(MidiMessageQueue, HandsEveryMessageAcrossThreadsInOrder)
{
    MidiMessageQueue queue;
    constexpr DWORD kCount = 20000;
    std::vector<DWORD> received;
    std::thread reader([&] {
        while (received.size() < kCount)
            queue.Drain([&](DWORD message) { received.push_back(message); });
    });
    for (DWORD i = 0; i < kCount;) {
        if (queue.Push(i))
            ++i;
    }
    reader.join();
    for (DWORD i = 0; i < kCount; ++i)
        ASSERT_EQ(received[i], i);
}
