#pragma once
// Varnek's own MIDI ports on a running JACK server: one client, "Varnek", with an input that a
// controller or another program plays into and an output that carries everything Varnek
// sends, both there from the moment the client opens, connected to nothing.
//
// The process callback only moves bytes: what came in goes through a lock-free queue to a
// thread of this object's own, which plays it through the router (sounding a note may read
// samples, which the process thread must never wait for); what is sent comes through another
// queue and leaves at the start of the next cycle. System messages are dropped in the callback,
// so a clock or active sensing costs nothing further. When the last connection to the input
// goes, or the server goes, the notes the input holds end.

#include "sound/callback_target.h"
#include "sound/doorbell.h"
#include "sound/midi_input_router.h"
#include "sound/midi_message_queue.h"

#include <jack/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class OwnJackPorts {
public:
    static constexpr const char* kClientName = "Varnek";
    static constexpr const char* kInputName = "MIDI in";
    static constexpr const char* kOutputName = "MIDI out";

    // The ports on the server running now; null when none runs (none is ever started).
    static std::unique_ptr<OwnJackPorts> Open(MidiInputRouter& router);
    ~OwnJackPorts();
    OwnJackPorts(const OwnJackPorts&) = delete;
    OwnJackPorts& operator=(const OwnJackPorts&) = delete;

    bool ServerGone() const { return m_serverGone.load(); }
    // The full name of the input ("Varnek:MIDI in", or the name the server gave the client).
    const std::string& InputName() const { return m_inputName; }

    // Queues one packed short message for the output; false when the server has gone or the
    // queue refuses it (a note-on in a flood). One sender at a time.
    bool Send(std::uint32_t message);

private:
    explicit OwnJackPorts(MidiInputRouter& router);
    bool Start();
    using Target = CallbackTarget<OwnJackPorts>;
    static int OnProcess(jack_nframes_t frames, void* target);
    static void OnConnect(jack_port_id_t a, jack_port_id_t b, int connected, void* target);
    static void OnShutdown(jack_status_t, const char*, void* target);
    void Process(jack_nframes_t frames);
    void Connected(jack_port_id_t a, jack_port_id_t b, int connected);
    void PlayIncoming();
    void TellLoop();
    std::vector<std::string> OutputsOfOurs() const;

    MidiInputRouter& m_router;
    bool m_cycleThreadUnnamed = true; // until JACK's process thread has named itself
    jack_client_t* m_client = nullptr;
    std::unique_ptr<Target> m_target{new Target(this)}; // what the client's callbacks reach
    jack_port_t* m_input = nullptr;
    jack_port_t* m_output = nullptr;
    std::string m_inputName;
    // Far more than a controller sends in a cycle, and every key of the panel at once; a
    // flood beyond that keeps its endings (see MidiMessageQueue).
    static constexpr std::size_t kQueueMessages = 4096;
    MidiMessageQueue m_incoming{kQueueMessages}; // process thread -> player thread
    MidiMessageQueue m_outgoing{kQueueMessages}; // sender -> process thread
    Doorbell m_wake; // rung by the process thread only in cycles that bring something
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_serverGone{false};
    std::atomic<bool> m_inputLost{false};    // a connection to the input went
    std::atomic<bool> m_looped{false};       // our output was connected to our input
    std::atomic<bool> m_graphChanged{false}; // a connection came or went somewhere
    std::thread m_player;
};
