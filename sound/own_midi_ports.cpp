#include "sound/own_midi_ports.h"

#include "sound/own_alsa_ports.h"
#include "sound/own_jack_ports.h"
#include "sound/thread_name.h"

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
        std::lock_guard lock(m_watching);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_watch.join();
    // The ports' threads play into the router, which sends through here: they end first.
    std::unique_ptr<OwnJackPorts> jack;
    std::unique_ptr<OwnAlsaPorts> alsa;
    {
        std::lock_guard lock(m_sending);
        jack = std::move(m_jack);
        alsa = std::move(m_alsa);
    }
}

void OwnMidiPorts::Send(std::uint32_t message)
{
    std::lock_guard lock(m_sending);
    if (m_alsa)
        m_alsa->Send(message);
    if (m_jack)
        m_jack->Send(message);
}

bool OwnMidiPorts::IsOwnInput(PortApi api, const std::string& portName)
{
    std::unique_lock watching(m_watching);
    m_changed.wait(watching, [this] { return !m_opening; });
    std::lock_guard lock(m_sending);
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
    std::lock_guard lock(m_sending);
    return m_jack && !m_jack->ServerGone();
}

// Only this thread changes which ports there are, so it reads them without the lock.
void OwnMidiPorts::Watch()
{
    NameThisThread("varnek-ports");
    OpenAlsa();
    std::unique_lock watching(m_watching);
    do {
        if (m_jack && !m_jack->ServerGone())
            continue;
        watching.unlock();
        ReopenJack();
        watching.lock();
    } while (!m_changed.wait_for(watching, kJackLookInterval, [this] { return m_stopping; }));
}

void OwnMidiPorts::OpenAlsa()
{
    auto alsa = OwnAlsaPorts::Open(m_router);
    std::lock_guard lock(m_sending);
    m_alsa = std::move(alsa);
}

// Ports whose server has gone are let go outside the lock: their input's thread may be playing
// through the router, which sends through here. While the new client opens, the port lists
// wait, so that none shows our input before it is known as ours.
void OwnMidiPorts::ReopenJack()
{
    SetOpening(true);
    std::unique_ptr<OwnJackPorts> gone;
    {
        std::lock_guard lock(m_sending);
        gone = std::move(m_jack);
    }
    gone.reset();
    auto opened = OwnJackPorts::Open(m_router);
    {
        std::lock_guard lock(m_sending);
        m_jack = std::move(opened);
    }
    SetOpening(false);
}

void OwnMidiPorts::SetOpening(bool opening)
{
    {
        std::lock_guard lock(m_watching);
        m_opening = opening;
    }
    m_changed.notify_all();
}
