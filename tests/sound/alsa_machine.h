#pragma once
// What the tests of the ALSA half see of the machine tools/alsa_vm boots: its virtual raw-MIDI
// ports (card 0), read and written as a controller's bytes; its loopback sound card (card 1),
// recorded from the side that hears what is played on the other; and the unplugging of either
// card, as a USB device's removal does it, by taking the card from its driver.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace alsa_machine {

// Whether this is such a machine; the ALSA tests run nowhere else.
bool IsHere();

// The virtual raw-MIDI port `port` (0..3) as a device of its own: what is written there comes
// out of its sequencer client, and what that client is sent can be read.
class RawMidi {
public:
    explicit RawMidi(int port);
    ~RawMidi();
    RawMidi(const RawMidi&) = delete;
    RawMidi& operator=(const RawMidi&) = delete;
    bool IsOpen() const { return m_fd >= 0; }
    void Write(const std::vector<std::uint8_t>& bytes);
    // The bytes that came within `wait`, once `count` of them have.
    std::vector<std::uint8_t> Read(std::size_t count,
                                   std::chrono::milliseconds wait = std::chrono::seconds(3));

private:
    int m_fd = -1;
    std::uint8_t m_status = 0; // the last channel message's, for running status
    int m_dataLeft = 0;        // data bytes still to come in the message read now
};

// A recording of the loopback card: hears what any program plays on it.
class LoopbackRecording {
public:
    LoopbackRecording();
    ~LoopbackRecording();
    LoopbackRecording(const LoopbackRecording&) = delete;
    LoopbackRecording& operator=(const LoopbackRecording&) = delete;
    // Whether a sample louder than -40 dBFS comes within `wait`.
    bool HearsSound(std::chrono::milliseconds wait);

private:
    void* m_pcm = nullptr;
};

enum class Card { VirtualMidi, Loopback };
// Takes the card from its driver (its sequencer clients and devices go, open ones fail) or
// gives it back.
void Plug(Card card, bool plugged);

bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds wait = std::chrono::seconds(5));

} // namespace alsa_machine
