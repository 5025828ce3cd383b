#pragma once
// What Varnek sent a moment ago, so that what comes back through a loop is known: a MIDI-thru
// client, another Varnek or a DAW track that echoes its input, connected between Varnek's
// output and its input, brings every message back a cycle or two later, another Varnek on a
// busy machine later still. A message that comes in and is what went out within the echo
// window is such an echo. Once a loop is known, each message sent within the last two seconds
// is also awaited back once: it is an echo if it comes back later than the window, and what
// comes back in the window takes its place. A player's own repeat of a message Varnek had just
// sent is then taken for its echo, and the echo that follows plays in its stead: the same
// bytes, a moment later.
//
// Lock-free: any thread that sends records, the inputs' threads ask, a real-time one too.
// The record is a small table by message, so a message can push out an older one; an echo of
// that older one then goes unrecognised, which the router's own rules make harmless.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

class LoopWatch {
public:
    // Longer than a message takes around a loop through another client on a machine that
    // keeps up; short enough that a player's own repeat of the same message is not taken
    // for one where no loop is known.
    static constexpr std::chrono::milliseconds kEchoWindow{50};
    // How long a message is awaited back once a loop is known.
    static constexpr std::chrono::seconds kLoopHorizon{2};

    // `message` leaves Varnek now.
    void Sent(std::uint32_t message);
    // Whether `message`, coming in now, is an echo of what Varnek sent: within `window`, or,
    // where `loopKnown`, a message awaited back.
    bool CameBack(std::uint32_t message, std::chrono::microseconds window, bool loopKnown);

private:
    static constexpr std::size_t kSlots = 1024; // a power of two
    static std::uint32_t Canonical(std::uint32_t message);
    static std::uint64_t NowMicroseconds();
    static std::size_t SlotOf(std::uint32_t message);

    // Each slot: the message in the top 24 bits, how many of its sends are awaited back (up to
    // 15) in the next 4, and the time it last went out, in microseconds cut to the low 36
    // bits (nineteen hours), below.
    std::array<std::atomic<std::uint64_t>, kSlots> m_sent{};
};
