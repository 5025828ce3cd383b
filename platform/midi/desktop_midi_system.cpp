#include "platform/midi/desktop_midi_system.h"

#include "platform/midi/fluid_synth_output.h"

#include <chrono>
#include <thread>

DesktopMidiSystem::DesktopMidiSystem() = default;

DesktopMidiSystem::~DesktopMidiSystem()
{
    m_open.clear();
    // A synth opened ahead and never asked for is closed here, after its thread is done.
    if (m_synthAhead.valid())
        m_synthAhead.get();
}

void DesktopMidiSystem::OpenDefaultRouteAhead()
{
    m_synthAhead = std::async(std::launch::async, [this] { return OpenSynth(); });
}

UINT DesktopMidiSystem::DeviceCount()
{
    return UINT(m_ports.DeviceCount());
}

bool DesktopMidiSystem::DeviceName(UINT device, std::string& name)
{
    return m_ports.DeviceName(device, name);
}

bool DesktopMidiSystem::Open(int device, std::uintptr_t& handle)
{
    auto port = OpenPort(device);
    if (!port)
        return false;
    handle = ++m_lastHandle;
    m_open.emplace(handle, std::move(port));
    return true;
}

std::unique_ptr<MidiPort> DesktopMidiSystem::OpenPort(int device)
{
    if (device == -1 && m_synthAhead.valid())
        return m_synthAhead.get();
    if (device == -1)
        return OpenSynth();
    if (device < 0)
        return nullptr;
    return m_ports.Open(std::size_t(device));
}

std::unique_ptr<MidiPort> DesktopMidiSystem::OpenSynth()
{
    auto synth = std::make_unique<FluidSynthOutput>();
    if (!synth->Open())
        return nullptr;
    return synth;
}

bool DesktopMidiSystem::Send(std::uintptr_t handle, DWORD message)
{
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second->Send(message);
}

bool DesktopMidiSystem::Close(std::uintptr_t handle)
{
    return m_open.erase(handle) == 1;
}

void DesktopMidiSystem::Sleep(DWORD milliseconds)
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
