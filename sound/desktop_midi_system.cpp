#include "sound/desktop_midi_system.h"

#include "sound/fluid_synth_output.h"
#include "sound/own_midi_ports.h"
#include "sound/tell_user.h"
#include "sound/thread_name.h"

#include <bitset>
#include <chrono>
#include <thread>

// A synth that tried to open: open, or closed with the reason it can tell.
static std::unique_ptr<FluidSynthOutput> StartSynth()
{
    auto synth = std::make_unique<FluidSynthOutput>();
    synth->Open();
    return synth;
}

DesktopMidiSystem::DesktopMidiSystem() { NameJackThreads(); }

DesktopMidiSystem::~DesktopMidiSystem()
{
    // The ports are read asking the own ports which are ours: that ends before they go.
    if (m_portsAhead.valid())
        m_portsAhead.get();
    // The inputs' threads play through the open devices: they end first. They send through the
    // own ports while they run, so those are taken out of reach before they go.
    std::unique_ptr<OwnMidiPorts> own;
    {
        std::lock_guard lock(m_sending);
        own = std::move(m_own);
    }
    own.reset();
    m_open.clear();
    // A synth opened ahead and never asked for is closed here, after its thread is done.
    if (m_synthAhead.valid())
        m_synthAhead.get();
}

void DesktopMidiSystem::OpenDefaultRouteAhead()
{
    m_synthAhead = std::async(std::launch::async, [] {
        NameThisThread("varnek-synth-up");
        return StartSynth();
    });
}

void DesktopMidiSystem::OpenOwnPorts()
{
    if (!m_own)
        m_own = std::make_unique<OwnMidiPorts>(m_router);
}

void DesktopMidiSystem::ListPortsAhead()
{
    m_portsAhead = std::async(std::launch::async, [this] {
        NameThisThread("varnek-portlist");
        m_ports.Refresh();
    });
}

// The ports read ahead, once that is done.
RtMidiPorts& DesktopMidiSystem::Ports()
{
    if (m_portsAhead.valid())
        m_portsAhead.get();
    return m_ports;
}

void DesktopMidiSystem::RefreshDevices()
{
    std::bitset<RtMidiPorts::kMaxPorts> open;
    for (const auto& [handle, opened] : m_open) {
        if (opened.device >= 0)
            open.set(std::size_t(opened.device));
    }
    Ports().Refresh(open);
}

unsigned DesktopMidiSystem::DeviceCount() { return unsigned(Ports().DeviceCount()); }

bool DesktopMidiSystem::DeviceName(unsigned device, std::string& name)
{
    return Ports().DeviceName(device, name);
}

bool DesktopMidiSystem::Open(int device, std::uintptr_t& handle)
{
    auto port = OpenPort(device);
    if (!port)
        return false;
    m_lastCause.clear();
    std::lock_guard lock(m_sending);
    handle = ++m_lastHandle;
    m_open.emplace(handle, OpenDevice{device, std::move(port)});
    m_route = handle;
    return true;
}

std::unique_ptr<MidiPort> DesktopMidiSystem::OpenPort(int device)
{
    if (device == -1)
        return OpenSynth();
    if (device < 0)
        return nullptr;
    auto port = Ports().Open(std::size_t(device));
    std::string name;
    if (!port && Ports().DeviceName(std::size_t(device), name))
        TellCause("the MIDI port \"" + name +
                  "\" is gone or its server has stopped \u2014 choose another from Play Thru");
    return port;
}

// The message box that follows the retries cannot say why; one line on the terminal does,
// once for the whole run of attempts.
void DesktopMidiSystem::TellCause(const std::string& cause)
{
    if (cause == m_lastCause || m_toldSetAside.count(cause))
        return;
    m_lastCause = cause;
    TellUser(cause);
}

// The synth opened ahead is taken once; every later open, a retry included, opens anew.
std::unique_ptr<MidiPort> DesktopMidiSystem::OpenSynth()
{
    std::unique_ptr<FluidSynthOutput> synth = m_synthAhead.valid() ? m_synthAhead.get() : StartSynth();
    // Each soundfont passed over is named once, whether another one was then taken or not.
    for (const std::string& setAside : synth->SetAsideSoundfonts()) {
        if (m_toldSetAside.insert(setAside).second)
            TellUser(setAside);
    }
    if (!synth->IsOpen()) {
        TellCause(synth->WhyItDidNotOpen());
        return nullptr;
    }
    return synth;
}

bool DesktopMidiSystem::Send(std::uintptr_t handle, std::uint32_t message)
{
    std::lock_guard lock(m_sending);
    return SendLocked(handle, message);
}

// Everything played goes out of Varnek's own output ports too, so that whatever is connected
// there hears the whole performance, whatever the route, and also while none is open: no sound
// server, a port that failed.
bool DesktopMidiSystem::SendLocked(std::uintptr_t handle, std::uint32_t message)
{
    m_router.Sent(message);
    if (m_own)
        m_own->Send(message);
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second.port->Send(message);
}

// Varnek's own inputs are never offered as outputs; another Varnek's are, like any program's.
bool DesktopMidiSystem::IsOwnInput(PortApi api, const std::string& portName) const
{
    return m_own && m_own->IsOwnInput(api, portName);
}

std::uintptr_t DesktopMidiSystem::SendOnRoute(std::uint32_t message)
{
    std::lock_guard lock(m_sending);
    return SendLocked(m_route, message) ? m_route : 0;
}

void DesktopMidiSystem::SendTo(std::uintptr_t route, std::uint32_t message)
{
    std::lock_guard lock(m_sending);
    SendLocked(route, message);
}

bool DesktopMidiSystem::Close(std::uintptr_t handle)
{
    std::unique_ptr<MidiPort> closing;
    {
        std::lock_guard lock(m_sending);
        const auto found = m_open.find(handle);
        if (found == m_open.end())
            return false;
        closing = std::move(found->second.port);
        m_open.erase(found);
        if (m_route == handle)
            m_route = 0;
    }
    // Closing a port waits for its server's cycles; the inputs need not wait with it.
    closing.reset();
    return true;
}

bool DesktopMidiSystem::IsConnected(std::uintptr_t handle)
{
    std::lock_guard lock(m_sending);
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second.port->IsConnected();
}

void DesktopMidiSystem::Sleep(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::unique_ptr<MidiSystem> MakeDesktopMidiSystem(DefaultRoute route, OwnPorts own)
{
    auto system = std::make_unique<DesktopMidiSystem>();
    if (route == DefaultRoute::OpenAhead)
        system->OpenDefaultRouteAhead();
    if (own == OwnPorts::Open)
        system->OpenOwnPorts();
    // After the own ports, which the listing asks about.
    if (route == DefaultRoute::OpenAhead)
        system->ListPortsAhead();
    return system;
}
