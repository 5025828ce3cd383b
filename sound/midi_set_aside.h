#pragma once
// What a full MIDI queue keeps aside, in fixed room, so that nothing that matters is lost
// however much comes at once: every note-off; the latest value of each controller on each
// channel, with a sustain pedal's release kept apart from the value after it; the latest
// program change, pitch bend and channel pressure of each channel. A reset of all controllers
// forgets the values kept before it. A note-on is not kept: the queue refuses it.
//
// One writer and one reader, neither of which ever waits for the other.

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

class MidiSetAside {
public:
    MidiSetAside() { Clear(); }

    // Writer: keeps `message`; false for what is not kept.
    bool Keep(std::uint32_t message);

    // Reader: hands what is kept to `apply` (a packed message; false when it can take no
    // more for now): program changes, resets and sustain releases, then controllers, pitch
    // bends and pressures, then the note-offs, each as a note-on with velocity 0. True once
    // all of it went; what did not stays kept for the next call.
    template <typename Apply> bool Replay(Apply&& apply)
    {
        return ReplayPerChannel(m_programs, apply,
                                [](int channel, int program) { return Message(0xC0, channel, program); }) &&
               ReplayBits(m_resets, apply,
                          [](std::size_t channel) { return Message(0xB0, int(channel), 121); }) &&
               ReplayBits(m_sustainReleased, apply,
                          [](std::size_t channel) { return Message(0xB0, int(channel), 64); }) &&
               ReplayBits(m_controllers, apply,
                          [this](std::size_t index) {
                              return Message(0xB0, int(index / 128), int(index % 128),
                                             m_controllerValues[index].load(std::memory_order_relaxed));
                          }) &&
               ReplayPerChannel(
                   m_bends, apply,
                   [](int channel, int bend) { return Message(0xE0, channel, bend & 0x7F, bend >> 7); }) &&
               ReplayPerChannel(m_pressures, apply,
                                [](int channel, int pressure) { return Message(0xD0, channel, pressure); }) &&
               ReplayBits(m_noteOffs, apply, [](std::size_t index) {
                   return Message(0x90, int(index / 128), int(index % 128));
               });
    }

    // Only while neither side runs.
    void Clear();

private:
    static constexpr int kChannels = 16;
    static constexpr std::int16_t kNone = -1;
    template <std::size_t kWords> using Bits = std::array<std::atomic<std::uint64_t>, kWords>;
    using PerChannel = std::array<std::atomic<std::int16_t>, kChannels>;

    static constexpr std::uint32_t Message(int kind, int channel, int data1, int data2 = 0)
    {
        return std::uint32_t(kind | channel) | std::uint32_t(data1) << 8 | std::uint32_t(data2) << 16;
    }
    void KeepController(int channel, int number, int value);
    template <std::size_t kWords> static void Mark(Bits<kWords>& bits, std::size_t index)
    {
        bits[index / 64].fetch_or(std::uint64_t(1) << (index % 64), std::memory_order_release);
    }

    // Each kept value, newest first taken; one that cannot go is put back unless a newer one
    // came meanwhile.
    template <typename Apply, typename Make>
    static bool ReplayPerChannel(PerChannel& values, Apply& apply, Make make)
    {
        for (int channel = 0; channel < kChannels; ++channel) {
            const std::int16_t value =
                values[std::size_t(channel)].exchange(kNone, std::memory_order_acquire);
            if (value == kNone || apply(make(channel, value)))
                continue;
            std::int16_t none = kNone;
            values[std::size_t(channel)].compare_exchange_strong(none, value);
            return false;
        }
        return true;
    }

    template <std::size_t kWords, typename Apply, typename Make>
    static bool ReplayBits(Bits<kWords>& bits, Apply& apply, Make make)
    {
        for (std::size_t word = 0; word < kWords; ++word) {
            std::uint64_t left = bits[word].exchange(0, std::memory_order_acquire);
            for (; left != 0; left &= left - 1) {
                if (!apply(make(word * 64 + std::size_t(std::countr_zero(left))))) {
                    bits[word].fetch_or(left, std::memory_order_release);
                    return false;
                }
            }
        }
        return true;
    }

    PerChannel m_programs;
    PerChannel m_bends;
    PerChannel m_pressures;
    Bits<1> m_resets{};                         // by channel: Reset All Controllers came
    Bits<1> m_sustainReleased{};                // by channel: the sustain pedal went up
    Bits<kChannels * 128 / 64> m_controllers{}; // by channel and controller: a value is kept
    std::array<std::atomic<std::uint8_t>, kChannels * 128> m_controllerValues{};
    Bits<kChannels * 128 / 64> m_noteOffs{}; // by channel and note
};
