#include "sound/rt_midi_output_port.h"

#include "sound/abandon.h"
#include "sound/hidden_from_thread_sanitizer.h"
#include "sound/jack_server_watch.h"
#include "sound/library_logs.h"
#include "sound/midi_short_message.h"

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <thread>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr const char* kOwnPortName = "MIDI out";

void OnRtMidiError(RtMidiError::Type, const std::string&, void* errorFlag)
{
    if (errorFlag)
        static_cast<std::atomic<bool>*>(errorFlag)->store(true);
}

std::unique_ptr<RtMidiOut> ConstructClient(PortApi api)
{
    // Both constructors report failure by exception; ALSA also writes it to the terminal
    // before the error callback can be installed, hence the checks beforehand.
    try {
        const auto rtApi = api == PortApi::Alsa ? RtMidi::LINUX_ALSA : RtMidi::UNIX_JACK;
        return std::make_unique<RtMidiOut>(rtApi, RtMidiOutputPort::kClientName);
    } catch (...) {
        return nullptr;
    }
}

// The index of `portName` in the client's current list, or -1.
int FindPort(RtMidiOut& client, const std::string& portName)
{
    try {
        const unsigned count = client.getPortCount();
        for (unsigned i = 0; i < count; ++i) {
            if (client.getPortName(i) == portName)
                return int(i);
        }
    } catch (...) {
    }
    return -1;
}

} // namespace

std::unique_ptr<RtMidiOut> RtMidiOutputPort::CreateClient(PortApi api, const JackServerWatch* jack,
                                                          std::atomic<bool>* errorFlag)
{
    SilenceSoundLibraryLogs();
    if (api == PortApi::Alsa && access(kSequencerDevice, R_OK | W_OK) != 0)
        return nullptr;
    if (api == PortApi::Jack && (!jack || jack->ServerGone()))
        return nullptr;
    auto client = ConstructClient(api);
    if (client)
        client->setErrorCallback(OnRtMidiError, errorFlag);
    return client;
}

RtMidiOutputPort::RtMidiOutputPort(PortApi api, std::string portName, std::shared_ptr<JackServerWatch> jack)
    : m_api(api), m_portName(std::move(portName)), m_jack(std::move(jack))
{
}

std::unique_ptr<RtMidiOutputPort> RtMidiOutputPort::Open(PortApi api, const std::string& portName,
                                                         std::shared_ptr<JackServerWatch> jack)
{
    std::unique_ptr<RtMidiOutputPort> port(new RtMidiOutputPort(api, portName, std::move(jack)));
    port->m_out = CreateClient(api, port->m_jack.get(), &port->m_error);
    if (!port->m_out)
        return nullptr;
    const int index = FindPort(*port->m_out, portName);
    if (index < 0)
        return nullptr;
    try {
        port->m_out->openPort(unsigned(index), kOwnPortName);
    } catch (...) {
        return nullptr;
    }
    if (port->m_error.load() || !port->m_out->isPortOpen())
        return nullptr;
    return port;
}

RtMidiOutputPort::~RtMidiOutputPort()
{
    if (m_out && ServerGone())
        Abandon(std::move(m_out));
    else if (m_out && m_api == PortApi::Jack)
        CloseJackPort();
}

// RtMidi's JACK output lets its close go on from the very cycle in which it hands its last
// messages to the server, and the port may then be gone before the ports connected to it read
// them in that cycle: the All Notes Off sent just before a close were lost now and then. A few
// cycles later they have been delivered. Its destructor then frees the queue that its process
// callback reads while the client still runs, so a callback that began before the port went
// away could read freed memory: the port is closed first, and the client destroyed only once
// such a callback has ended.
void RtMidiOutputPort::CloseJackPort()
{
    WaitJackCycles(3);
    m_out->closePort();
    WaitJackCycles(2);
}

void RtMidiOutputPort::WaitJackCycles(unsigned cycles) const
{
    if (!m_jack || m_jack->SampleRate() == 0)
        return;
    const auto cycle = std::chrono::microseconds(1'000'000ULL * m_jack->BufferSize() / m_jack->SampleRate());
    std::this_thread::sleep_for(cycles * cycle);
}

bool RtMidiOutputPort::ServerGone() const
{
    return m_api == PortApi::Jack && (!m_jack || m_jack->ServerGone());
}

bool RtMidiOutputPort::IsConnected() const
{
    if (ServerGone())
        return false;
    if (m_api == PortApi::Alsa)
        return FindPort(*m_out, m_portName) >= 0;
    const auto connections = m_jack->ConnectionsOf(m_portName);
    return std::any_of(connections.begin(), connections.end(), IsPlayThruPort);
}

// RtMidi's JACK output waits, spinning, for room in its queue, and that room never comes once
// the server has stopped: sends stop at the first sign that it has gone.
bool RtMidiOutputPort::Send(std::uint32_t message)
{
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    if (!decoded.IsValid() || ServerGone())
        return false;
    m_error.store(false);
    try {
        const HiddenFromThreadSanitizer hidden; // RtMidi's JACK output copies into a ring buffer
        m_out->sendMessage(decoded.bytes.data(), decoded.length);
    } catch (...) {
        return false;
    }
    return !m_error.load();
}

bool RtMidiOutputPort::IsPlayThruPort(const std::string& portName)
{
    const std::string own = kClientName;
    const std::string clientName = portName.substr(0, portName.find(':'));
    return clientName == own || clientName.rfind(own + "-", 0) == 0;
}
