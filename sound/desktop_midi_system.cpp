#include "sound/desktop_midi_system.h"

#include "sound/fluid_synth_output.h"

#include <bitset>
#include <chrono>
#include <cstdio>
#include <thread>

// A synth that tried to open: open, or closed with the reason it can tell.
static std::unique_ptr<FluidSynthOutput> StartSynth()
{
    auto synth = std::make_unique<FluidSynthOutput>();
    synth->Open();
    return synth;
}

DesktopMidiSystem::DesktopMidiSystem() = default;

DesktopMidiSystem::~DesktopMidiSystem()
{
    m_open.clear();
    // A synth opened ahead and never asked for is closed here, after its thread is done.
    if (m_synthAhead.valid())
        m_synthAhead.get();
}

void DesktopMidiSystem::OpenDefaultRouteAhead() { m_synthAhead = std::async(std::launch::async, StartSynth); }

void DesktopMidiSystem::RefreshDevices()
{
    std::bitset<RtMidiPorts::kMaxPorts> open;
    for (const auto& [handle, opened] : m_open) {
        if (opened.device >= 0)
            open.set(std::size_t(opened.device));
    }
    m_ports.Refresh(open);
}

unsigned DesktopMidiSystem::DeviceCount() { return unsigned(m_ports.DeviceCount()); }

bool DesktopMidiSystem::DeviceName(unsigned device, std::string& name)
{
    return m_ports.DeviceName(device, name);
}

bool DesktopMidiSystem::Open(int device, std::uintptr_t& handle)
{
    auto port = OpenPort(device);
    if (!port)
        return false;
    m_lastCause.clear();
    handle = ++m_lastHandle;
    m_open.emplace(handle, OpenDevice{device, std::move(port)});
    return true;
}

std::unique_ptr<MidiPort> DesktopMidiSystem::OpenPort(int device)
{
    if (device == -1)
        return OpenSynth();
    if (device < 0)
        return nullptr;
    auto port = m_ports.Open(std::size_t(device));
    std::string name;
    if (!port && m_ports.DeviceName(std::size_t(device), name))
        TellCause("the MIDI port \"" + name +
                  "\" is gone or its server has stopped \u2014 choose another from Play Thru");
    return port;
}

// The message box that follows the retries cannot say why; one line on the terminal does,
// once for the whole run of attempts.
void DesktopMidiSystem::TellCause(const std::string& cause)
{
    if (cause == m_lastCause)
        return;
    m_lastCause = cause;
    std::fprintf(stderr, "varnek: %s\n", cause.c_str());
}

// The synth opened ahead is taken once; every later open, a retry included, opens anew.
std::unique_ptr<MidiPort> DesktopMidiSystem::OpenSynth()
{
    std::unique_ptr<FluidSynthOutput> synth = m_synthAhead.valid() ? m_synthAhead.get() : StartSynth();
    if (!synth->IsOpen()) {
        TellCause(synth->WhyItDidNotOpen());
        return nullptr;
    }
    return synth;
}

bool DesktopMidiSystem::Send(std::uintptr_t handle, std::uint32_t message)
{
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second.port->Send(message);
}

bool DesktopMidiSystem::Close(std::uintptr_t handle) { return m_open.erase(handle) == 1; }

bool DesktopMidiSystem::IsConnected(std::uintptr_t handle)
{
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second.port->IsConnected();
}

void DesktopMidiSystem::Sleep(std::uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::unique_ptr<MidiSystem> MakeDesktopMidiSystem(DefaultRoute route)
{
    auto system = std::make_unique<DesktopMidiSystem>();
    if (route == DefaultRoute::OpenAhead)
        system->OpenDefaultRouteAhead();
    return system;
}
