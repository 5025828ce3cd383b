#pragma once
// A JACK client of our own that only listens: it tells whether a JACK server is running
// (without ever starting one) and notices when that server goes away, so that the ports and
// the synth that depend on it stop talking to it. Opening a JACK client costs tens of
// milliseconds, so the port list and the synth share one watch while its server runs.

#include "sound/callback_target.h"

#include <jack/types.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class JackServerWatch {
public:
    // The watch in use if its server still runs, else a new one; null when no JACK server is
    // running. Connecting never starts a server: libjack would otherwise try to launch one and
    // hang for seconds when it cannot. The synth may be opened on a thread of its own while
    // the user interface starts, so connecting is safe from any thread.
    static std::shared_ptr<JackServerWatch> Connect();
    ~JackServerWatch();
    JackServerWatch(const JackServerWatch&) = delete;
    JackServerWatch& operator=(const JackServerWatch&) = delete;

    bool ServerGone() const { return m_serverGone.load(); }
    unsigned SampleRate() const { return m_sampleRate; }
    unsigned BufferSize() const { return m_bufferSize; }
    // Full names ("client:port") of the MIDI ports that take input, in the server's order.
    std::vector<std::string> MidiInputPorts() const;
    // Full names of the ports connected to `portName`; none when it is not there.
    std::vector<std::string> ConnectionsOf(const std::string& portName) const;

private:
    explicit JackServerWatch(jack_client_t* client);
    static void OnServerShutdown(jack_status_t, const char*, void* target);

    jack_client_t* m_client;
    // What the shutdown notice reaches; it stays with the client when that is abandoned.
    std::unique_ptr<CallbackTarget<JackServerWatch>> m_target;
    std::atomic<bool> m_serverGone{false};
    unsigned m_sampleRate = 0;
    unsigned m_bufferSize = 0;
};
