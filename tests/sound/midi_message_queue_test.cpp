#include "sound/midi_message_queue.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

namespace {
constexpr std::uint32_t NoteOn(int note, int velocity = 100)
{
    return 0x90 | std::uint32_t(note) << 8 | std::uint32_t(velocity) << 16;
}
constexpr std::uint32_t NoteOff(int note) { return 0x90 | std::uint32_t(note) << 8; }
constexpr std::uint32_t Controller(int number, int value)
{
    return 0xB0 | std::uint32_t(number) << 8 | std::uint32_t(value) << 16;
}
} // namespace

// A flood that fills the queue loses no ending and carries no unpaired note-on: what fits keeps
// its order; then note-ons are refused with their note-offs, every other note-off is kept, and
// controllers and program changes come as their latest, after what the queue held and before
// what follows once the reader has caught up.
TEST(MidiMessageQueue, AFloodLosesNoEndingAndLeavesNoNoteUnpaired)
{
    MidiMessageQueue queue(8);
    for (int note = 60; note < 66; ++note)
        ASSERT_TRUE(queue.Push(NoteOn(note)));
    EXPECT_TRUE(queue.Push(Controller(1, 10)));
    EXPECT_TRUE(queue.Push(Controller(1, 11)));
    EXPECT_TRUE(queue.Push(Controller(1, 12))); // full from here on
    EXPECT_FALSE(queue.Push(NoteOn(70)));
    EXPECT_TRUE(queue.Push(0x05C0));
    EXPECT_TRUE(queue.Push(Controller(64, 0)));
    EXPECT_TRUE(queue.Push(Controller(64, 127)));
    EXPECT_TRUE(queue.Push(0x07C0));
    for (int note = 60; note < 66; ++note)
        EXPECT_TRUE(queue.Push(NoteOff(note)));
    EXPECT_TRUE(queue.Push(NoteOff(70))); // its note-on was refused: dropped
    EXPECT_TRUE(queue.Push(Controller(1, 13)));
    EXPECT_FALSE(queue.Push(NoteOn(71))) << "while anything is set aside, after it";

    std::vector<std::uint32_t> played;
    queue.Drain([&](std::uint32_t message) { played.push_back(message); });
    EXPECT_EQ(played, (std::vector<std::uint32_t>{NoteOn(60), NoteOn(61), NoteOn(62), NoteOn(63), NoteOn(64),
                                                  NoteOn(65), Controller(1, 10), Controller(1, 11), 0x07C0,
                                                  Controller(64, 0), Controller(1, 13), Controller(64, 127),
                                                  NoteOff(60), NoteOff(61), NoteOff(62), NoteOff(63),
                                                  NoteOff(64), NoteOff(65)}));
    EXPECT_EQ(queue.Played(), queue.Pushed());

    played.clear();
    EXPECT_TRUE(queue.Push(NoteOn(72)));
    EXPECT_TRUE(queue.Push(NoteOff(71))) << "refused with its note-on";
    queue.Drain([&](std::uint32_t message) { played.push_back(message); });
    EXPECT_EQ(played, std::vector<std::uint32_t>{NoteOn(72)});
}

// A reader that can take no more for now (a full JACK port buffer) leaves the rest for later.
TEST(MidiMessageQueue, WhatTheReaderCannotTakeWaitsForItsNextTurn)
{
    MidiMessageQueue queue(4);
    for (int note = 60; note < 66; ++note)
        queue.Push(note < 64 ? NoteOn(note) : NoteOff(note - 4));
    std::vector<std::uint32_t> played;
    int room = 0;
    const auto takeOne = [&](std::uint32_t message) {
        if (room == 0)
            return false;
        --room;
        played.push_back(message);
        return true;
    };
    for (int turn = 0; turn < 6; ++turn) {
        room = 1;
        queue.Drain(takeOne);
    }
    EXPECT_EQ(played, (std::vector<std::uint32_t>{NoteOn(60), NoteOn(61), NoteOn(62), NoteOn(63), NoteOff(60),
                                                  NoteOff(61)}));
    EXPECT_EQ(queue.Played(), queue.Pushed());
}

// Across threads, with a reader that falls behind: every note-on that is played has its
// note-off after it, and no note-off comes for a note that is not sounding.
TEST(MidiMessageQueue, AcrossThreadsEveryNotePlayedEnds)
{
    MidiMessageQueue queue(64);
    constexpr int kPairs = 20000;
    std::array<int, 128> sounding{};
    bool wrong = false;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        const auto play = [&](std::uint32_t message) {
            const int note = int(message >> 8 & 0x7F);
            sounding[std::size_t(note)] += message >> 16 ? 1 : -1;
            wrong = wrong || sounding[std::size_t(note)] < 0;
        };
        while (!done.load()) {
            queue.Drain(play);
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
        queue.Drain(play);
        queue.Drain(play);
    });
    for (int i = 0; i < kPairs; ++i) {
        queue.Push(NoteOn(i % 128, 1 + i % 127));
        queue.Push(NoteOff(i % 128));
    }
    done.store(true);
    reader.join();
    EXPECT_FALSE(wrong);
    EXPECT_EQ(sounding, (std::array<int, 128>{}));
}
