#include "sound/own_midi_ports.h"

#include "sound/own_alsa_ports.h"
#include "sound/own_jack_ports.h"

#include <chrono>

namespace {
// How soon a JACK server that starts after Varnek gets its ports; asking costs a connect to a
// socket that is not there.
constexpr auto kJackLookInterval = std::chrono::seconds(1);
} // namespace

// Opening a JACK client takes tens of milliseconds: the ports open on their own thread, so
// that the program starts without waiting for them.
OwnMidiPorts::OwnMidiPorts(MidiInputRouter& router) : m_router(router), m_watch([this] { Watch(); }) {}

OwnMidiPorts::~OwnMidiPorts()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stop.notify_all();
    m_watch.join();
    // The ports' threads play into the router, which sends through here: they end first.
    std::unique_ptr<OwnJackPorts> jack;
    std::unique_ptr<OwnAlsaPorts> alsa;
    {
        std::lock_guard lock(m_mutex);
        jack = std::move(m_jack);
        alsa = std::move(m_alsa);
    }
}

void OwnMidiPorts::Send(std::uint32_t message)
{
    std::lock_guard lock(m_mutex);
    if (m_alsa)
        m_alsa->Send(message);
    if (m_jack)
        m_jack->Send(message);
}

bool OwnMidiPorts::IsOwnInput(PortApi api, const std::string& portName)
{
    std::lock_guard lock(m_mutex);
    if (api == PortApi::Jack)
        return m_jack && portName == m_jack->InputName();
    // RtMidi shows an ALSA port with its address last: "Varnek:MIDI in 128:0".
    std::string address = " "; // appended to: GCC 12 warns falsely of " " + a temporary
    address += std::to_string(m_alsa ? m_alsa->Client() : -1) + ":" +
               std::to_string(m_alsa ? m_alsa->InputPort() : -1);
    return m_alsa && portName.size() > address.size() &&
           portName.compare(portName.size() - address.size(), address.size(), address) == 0;
}

bool OwnMidiPorts::OnJack()
{
    std::lock_guard lock(m_mutex);
    return m_jack && !m_jack->ServerGone();
}

// Ports whose server has gone are let go, outside the lock: their input's thread may be
// playing through the router, which sends through here.
void OwnMidiPorts::Watch()
{
    auto alsa = OwnAlsaPorts::Open(m_router);
    std::unique_lock lock(m_mutex);
    m_alsa = std::move(alsa);
    do {
        if (m_jack && !m_jack->ServerGone())
            continue;
        std::unique_ptr<OwnJackPorts> gone = std::move(m_jack);
        lock.unlock();
        gone.reset();
        lock.lock();
        // Opened under the lock, so that no list of ports is read while our input stands on
        // the server but is not yet known as ours.
        m_jack = OwnJackPorts::Open(m_router);
    } while (!m_stop.wait_for(lock, kJackLookInterval, [this] { return m_stopping; }));
}
