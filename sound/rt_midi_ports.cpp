#include "sound/rt_midi_ports.h"

#include "sound/jack_server_watch.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>

RtMidiPorts::RtMidiPorts(std::vector<PortApi> apis, OwnPortTest isOwn)
    : m_apis(std::move(apis)), m_isOwn(std::move(isOwn))
{
}
RtMidiPorts::~RtMidiPorts() = default;

void RtMidiPorts::Refresh(std::bitset<kMaxPorts> open)
{
    m_read = true;
    std::vector<PortSlots::Port> ports;
    for (PortApi api : m_apis) {
        // JACK's inputs are read through the watch's client: another client only to list
        // them would cost tens of milliseconds each time.
        const auto jack = api == PortApi::Jack ? CurrentJackServer() : nullptr;
        const auto names = api == PortApi::Jack ? (jack ? jack->MidiInputPorts() : std::vector<std::string>{})
                                                : PortNamesOf(api);
        for (const auto& portName : names) {
            if (!portName.empty() && !(m_isOwn && m_isOwn(api, portName)))
                ports.push_back({api, portName});
        }
    }
    m_slots.Update(ports, open);
}

void RtMidiPorts::ReadOnce()
{
    if (!m_read)
        Refresh();
}

std::size_t RtMidiPorts::DeviceCount()
{
    ReadOnce();
    return m_slots.Count();
}

bool RtMidiPorts::DeviceName(std::size_t device, std::string& name)
{
    ReadOnce();
    const PortSlots::Port* port = m_slots.At(device);
    if (!port)
        return false;
    name = MenuName(port->api, port->name);
    return true;
}

std::unique_ptr<MidiPort> RtMidiPorts::Open(std::size_t device)
{
    ReadOnce();
    const PortSlots::Port* port = m_slots.At(device);
    if (!port)
        return nullptr;
    auto jack = port->api == PortApi::Jack ? CurrentJackServer() : nullptr;
    return RtMidiOutputPort::Open(port->api, port->name, std::move(jack));
}

std::vector<std::string> RtMidiPorts::PortNamesOf(PortApi api)
{
    std::vector<std::string> names;
    auto client = RtMidiOutputPort::CreateClient(api, m_jack.get());
    if (!client)
        return names;
    try {
        const unsigned count = client->getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(client->getPortName(i));
    } catch (...) {
    }
    return names;
}

// A JACK server that stopped and came back is a new server: the entry's port is looked for on
// whichever server runs now.
std::shared_ptr<JackServerWatch> RtMidiPorts::CurrentJackServer()
{
    if (!m_jack || m_jack->ServerGone())
        m_jack = JackServerWatch::Connect();
    return m_jack;
}

std::string RtMidiPorts::MenuName(PortApi api, const std::string& portName)
{
    std::string name = portName;
    if (api == PortApi::Alsa) {
        name = PortSlots::WithoutAddress(name);
        const auto colon = name.find(':');
        if (colon != std::string::npos) {
            const std::string clientName = name.substr(0, colon);
            const std::string port = name.substr(colon + 1);
            if (port.compare(0, clientName.size(), clientName) == 0)
                name = port;
        }
    }
    name.resize(std::min(name.size(), kMaxNameLength));
    // A cut that ends between two words leaves no blank behind.
    while (!name.empty() && name.back() == ' ')
        name.pop_back();
    return name;
}
