#pragma once
// The machine's MIDI: the built-in synth as device -1 and the machine's ports as devices
// 0..7. Handles are numbers that are never given out twice, so a stale copy of a closed
// handle never reaches a port opened later.

#include "platform/midi/midi_out.h"
#include "platform/midi/rt_midi_ports.h"

class FluidSynthOutput;

#include <future>
#include <map>
#include <string>

class DesktopMidiSystem : public MidiSystem {
public:
    DesktopMidiSystem();
    ~DesktopMidiSystem() override;

    // Starts opening the built-in synth on a worker thread, so that reading the soundfont and
    // starting the audio overlap the program's own start; the first open of device -1 waits
    // for it and takes the synth if it opened.
    void StartOpeningDefaultRoute();

    void RefreshDevices() override;
    UINT DeviceCount() override;
    bool DeviceName(UINT device, std::string& name) override;
    bool Open(int device, std::uintptr_t& handle) override;
    bool Send(std::uintptr_t handle, DWORD message) override;
    bool Close(std::uintptr_t handle) override;
    bool IsConnected(std::uintptr_t handle) override;
    void Sleep(DWORD milliseconds) override;

private:
    std::unique_ptr<MidiPort> OpenPort(int device);
    std::unique_ptr<MidiPort> OpenSynth();
    void TellCause(const std::string& cause);

    RtMidiPorts m_ports;
    std::future<std::unique_ptr<FluidSynthOutput>> m_synthOpening;
    struct OpenDevice {
        int device;
        std::unique_ptr<MidiPort> port;
    };
    std::map<std::uintptr_t, OpenDevice> m_open;
    std::uintptr_t m_lastHandle = 0;
    std::string m_lastCause; // of the failed opens since the last one that succeeded
};
