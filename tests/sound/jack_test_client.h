#pragma once
// A JACK client inside the test process: it offers MIDI inputs for the device list to find,
// sends a MIDI message now and then, and listens to audio ports to tell whether sound arrives.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class JackTestClient {
public:
    // Null when no JACK server runs.
    static std::unique_ptr<JackTestClient> Open(const std::string& name);
    ~JackTestClient();
    JackTestClient(const JackTestClient&) = delete;
    JackTestClient& operator=(const JackTestClient&) = delete;

    bool AddMidiInput(const std::string& portName);
    bool RemovePort(const std::string& portName);
    // Sends one message of up to three bytes from a MIDI output of ours, connected to `port`
    // (a full "client:port" name) on first use, in the next cycle; false when it cannot connect.
    bool SendMidi(const std::string& port, const std::vector<std::uint8_t>& bytes);
    // Connects two ports of any clients by their full names; true once the server shows the
    // connection to its clients, from which cycle on it carries it. False also while a port's
    // client is not yet active.
    bool Connect(const std::string& from, const std::string& to);
    // Connects an audio input of ours to `sourcePort` (a full "client:port" name).
    bool ListenTo(const std::string& sourcePort);
    // The largest sample heard on the audio inputs since the last reset.
    float Peak() const { return m_peak.load(); }
    void ResetPeak() { m_peak.store(0); }
    // Full names of the ports matching `pattern` (a regular expression) with `flags`.
    std::vector<std::string> Ports(const std::string& pattern, unsigned long flags) const;

private:
    explicit JackTestClient(jack_client_t* client) : m_client(client) {}
    static int Process(jack_nframes_t frames, void* self);

    jack_client_t* m_client;
    std::mutex m_portsMutex;
    std::vector<jack_port_t*> m_ports;
    std::vector<jack_port_t*> m_audioInputs; // written before activation only
    std::atomic<jack_port_t*> m_midiOutput{nullptr};
    std::array<std::uint8_t, 3> m_midiMessage{}; // written while m_midiPending is false
    std::size_t m_midiSize = 0;
    std::atomic<bool> m_midiPending{false};
    std::atomic<float> m_peak{0};
};
