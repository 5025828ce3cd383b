#pragma once
// Varnek's own MIDI ports on every MIDI system it can reach: the ALSA sequencer, and a JACK
// server while one runs. A JACK server that starts later gets the ports within a second; one
// that goes takes them with it, and the notes their input held end. The ports open on a thread
// of their own, a moment after this object is made.
//
// Sending never waits for a server: clients are opened and closed on that thread, outside the
// lock a sender takes, and swapped in once they stand.

#include "sound/midi_input_router.h"
#include "sound/rt_midi_output_port.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class OwnAlsaPorts;
class OwnJackPorts;

class OwnMidiPorts {
public:
    explicit OwnMidiPorts(MidiInputRouter& router);
    ~OwnMidiPorts();
    OwnMidiPorts(const OwnMidiPorts&) = delete;
    OwnMidiPorts& operator=(const OwnMidiPorts&) = delete;

    // Sends one packed short message out of every own output port. Safe from any thread.
    void Send(std::uint32_t message);
    // Whether a port of `api`, as RtMidi lists it, is one of our own inputs. Waits while a
    // client of ours is being opened, whose ports may already be in the lists.
    bool IsOwnInput(PortApi api, const std::string& portName);
    // Whether the ports stand on a JACK server that runs.
    bool OnJack();

private:
    void Watch();
    void OpenAlsa();
    void ReopenJack();
    void SetOpening(bool opening);

    MidiInputRouter& m_router;
    std::mutex m_sending; // the ports below, and one sender at a time
    std::unique_ptr<OwnAlsaPorts> m_alsa;
    std::unique_ptr<OwnJackPorts> m_jack;
    std::mutex m_watching; // the state below
    std::condition_variable m_changed;
    bool m_opening = true; // a client is being opened: the port lists may show it unknown
    bool m_stopping = false;
    std::thread m_watch;
};
