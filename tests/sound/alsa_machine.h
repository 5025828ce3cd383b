#pragma once
// What the tests of the ALSA half see of the machine tools/alsa_vm boots: its virtual raw-MIDI
// ports (card 0), read and written as a controller's bytes; its loopback sound card (card 1),
// recorded from the side that hears what is played on the other; and the unplugging of either
// card, as a USB device's removal does it, by taking the card from its driver.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct _snd_seq;
struct snd_midi_event;

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

// A client of the test's own on the sequencer, listening to one port, as a program that records
// what it is sent does; what it hears is given as bytes.
class SequencerListener {
public:
    SequencerListener();
    ~SequencerListener();
    SequencerListener(const SequencerListener&) = delete;
    SequencerListener& operator=(const SequencerListener&) = delete;
    // The client with this name, or -1 while there is none.
    int ClientNamed(const std::string& name);
    bool ListenTo(int client, int port);
    // Subscribes `from` to `to`, as a patchbay connects two other programs' ports.
    bool Connect(int fromClient, int fromPort, int toClient, int toPort);
    std::vector<std::uint8_t> Read(std::size_t count,
                                   std::chrono::milliseconds wait = std::chrono::seconds(3));

private:
    _snd_seq* m_seq = nullptr;
    snd_midi_event* m_decoder = nullptr;
    int m_port = -1;
};

} // namespace alsa_machine
