#pragma once
// The machine's MIDI: the built-in synth as device -1 and the machine's ports as devices
// 0..7. Handles are numbers that are never given out twice, so a stale copy of a closed
// handle never reaches a port opened later.

#include "sound/midi_system.h"
#include "sound/rt_midi_ports.h"

#include <future>
#include <map>
#include <memory>
#include <string>

class FluidSynthOutput;

class DesktopMidiSystem : public MidiSystem {
public:
    DesktopMidiSystem();
    ~DesktopMidiSystem() override;

    // Begins opening the built-in synth on a thread of its own; the next open of device -1
    // waits for it and takes it, or fails as that open failed.
    void OpenDefaultRouteAhead();

    void RefreshDevices() override;
    unsigned DeviceCount() override;
    bool DeviceName(unsigned device, std::string& name) override;
    bool Open(int device, std::uintptr_t& handle) override;
    bool Send(std::uintptr_t handle, std::uint32_t message) override;
    bool Close(std::uintptr_t handle) override;
    bool IsConnected(std::uintptr_t handle) override;
    void Sleep(std::uint32_t milliseconds) override;

private:
    std::unique_ptr<MidiPort> OpenPort(int device);
    std::unique_ptr<MidiPort> OpenSynth();
    void TellCause(const std::string& cause);

    RtMidiPorts m_ports;
    std::future<std::unique_ptr<FluidSynthOutput>> m_synthAhead;
    struct OpenDevice {
        int device;
        std::unique_ptr<MidiPort> port;
    };
    std::map<std::uintptr_t, OpenDevice> m_open;
    std::uintptr_t m_lastHandle = 0;
    std::string m_lastCause; // of the failed opens since the last one that succeeded
};

// The machine's real MIDI system: the built-in synth as device -1 and the machine's ports.
// Opening the synth takes tens of milliseconds (the soundfont, the audio server), so the
// program starts it ahead, on a thread of its own, while the user interface builds itself;
// the first open of device -1 then takes that synth.
enum class DefaultRoute { OpenWhenAsked, OpenAhead };
std::unique_ptr<MidiSystem> MakeDesktopMidiSystem(DefaultRoute route = DefaultRoute::OpenWhenAsked);
