#pragma once
// Varnek's own MIDI ports on the ALSA sequencer: one client, "Varnek", with an input port that
// a controller or another program plays into and an output port that carries everything
// Varnek sends to whoever subscribes to it. What comes in is read on a thread of this object's
// own and played through the router; when a subscriber of the input goes (a controller
// unplugged, a connection removed), the notes the input holds end.

#include "sound/midi_input_router.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

struct _snd_seq;
struct snd_midi_event;

class OwnAlsaPorts {
public:
    static constexpr const char* kClientName = "Varnek";
    static constexpr const char* kInputName = "MIDI in";
    static constexpr const char* kOutputName = "MIDI out";

    // The ports, or null where there is no sequencer (no /dev/snd/seq).
    static std::unique_ptr<OwnAlsaPorts> Open(MidiInputRouter& router);
    ~OwnAlsaPorts();
    OwnAlsaPorts(const OwnAlsaPorts&) = delete;
    OwnAlsaPorts& operator=(const OwnAlsaPorts&) = delete;

    // The sequencer's number of our client, which its port list shows beside the name.
    int Client() const { return m_clientId; }
    int InputPort() const { return m_inputPort; }
    int OutputPort() const { return m_outputPort; }

    // Sends one packed short message to the output's subscribers. One sender at a time.
    bool Send(std::uint32_t message);

private:
    explicit OwnAlsaPorts(MidiInputRouter& router) : m_router(router) {}
    bool Start();
    void ReadIncoming();
    void Wake();
    bool PlayEvent();

    MidiInputRouter& m_router;
    _snd_seq* m_seq = nullptr;
    snd_midi_event* m_decoder = nullptr; // the reading thread's
    snd_midi_event* m_encoder = nullptr; // the sender's
    int m_clientId = -1;
    int m_inputPort = -1;
    int m_outputPort = -1;
    int m_wakeFd = -1; // an eventfd that wakes the reading thread, to serve the router or end
    std::atomic<bool> m_stopping{false};
    std::thread m_reader;
};
