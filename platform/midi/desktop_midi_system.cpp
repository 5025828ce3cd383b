#include "platform/midi/desktop_midi_system.h"

#include "platform/midi/fluid_synth_output.h"

#include <bitset>
#include <chrono>
#include <cstdio>
#include <thread>

DesktopMidiSystem::DesktopMidiSystem() = default;

DesktopMidiSystem::~DesktopMidiSystem()
{
    m_open.clear();
}

void DesktopMidiSystem::StartOpeningDefaultRoute()
{
    m_synthOpening = std::async(std::launch::async, [] {
        auto synth = std::make_unique<FluidSynthOutput>();
        return synth->Open() ? std::move(synth) : nullptr;
    });
}

void DesktopMidiSystem::RefreshDevices()
{
    std::bitset<RtMidiPorts::kMaxPorts> open;
    for (const auto& [handle, opened] : m_open) {
        if (opened.device >= 0)
            open.set(std::size_t(opened.device));
    }
    m_ports.Refresh(open);
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
        TellCause("the MIDI port \"" + name + "\" is gone or its server has stopped \u2014 choose another from Play Thru");
    return port;
}

std::unique_ptr<MidiPort> DesktopMidiSystem::OpenSynth()
{
    // One opened beforehand is taken as the result of this first attempt; if it did not open,
    // this attempt tries again and finds out why.
    if (m_synthOpening.valid()) {
        if (auto opened = m_synthOpening.get())
            return opened;
    }
    auto synth = std::make_unique<FluidSynthOutput>();
    if (!synth->Open()) {
        TellCause(synth->WhyItDidNotOpen());
        return nullptr;
    }
    return synth;
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

bool DesktopMidiSystem::Send(std::uintptr_t handle, DWORD message)
{
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second.port->Send(message);
}

bool DesktopMidiSystem::Close(std::uintptr_t handle)
{
    return m_open.erase(handle) == 1;
}

bool DesktopMidiSystem::IsConnected(std::uintptr_t handle)
{
    const auto found = m_open.find(handle);
    return found != m_open.end() && found->second.port->IsConnected();
}

void DesktopMidiSystem::Sleep(DWORD milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::unique_ptr<MidiSystem> MakeDesktopMidiSystem()
{
    auto system = std::make_unique<DesktopMidiSystem>();
    system->StartOpeningDefaultRoute();
    return system;
}
