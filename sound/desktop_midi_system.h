#pragma once
// The machine's MIDI: the built-in synth as device -1 and the machine's ports as devices
// 0..7. Handles are numbers that are never given out twice, so a stale copy of a closed
// handle never reaches a port opened later.
//
// With its own ports opened, everything sent on any handle also leaves Varnek's own output
// ports, and what comes in at its own inputs plays through the route opened last. Sends, opens
// and closes may then come from the sender's thread and the inputs' threads at once.

#include "sound/midi_input_router.h"
#include "sound/midi_system.h"
#include "sound/rt_midi_ports.h"

#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

class FluidSynthOutput;
class OwnMidiPorts;

class DesktopMidiSystem : public MidiSystem, private MidiInputRouter::Route {
public:
    DesktopMidiSystem();
    ~DesktopMidiSystem() override;

    // Begins opening the built-in synth on a thread of its own; the next open of device -1
    // waits for it and takes it, or fails as that open failed.
    void OpenDefaultRouteAhead();
    // Opens Varnek's own MIDI input and output ports, on the sequencer and on JACK.
    void OpenOwnPorts();
    // Begins reading the machine's MIDI ports on a thread of its own; the first question
    // about them waits for it.
    void ListPortsAhead();

    void RefreshDevices() override;
    unsigned DeviceCount() override;
    bool DeviceName(unsigned device, std::string& name) override;
    bool Open(int device, std::uintptr_t& handle) override;
    bool Send(std::uintptr_t handle, std::uint32_t message) override;
    bool Close(std::uintptr_t handle) override;
    bool IsConnected(std::uintptr_t handle) override;
    void Sleep(std::uint32_t milliseconds) override;
    void ListenToInput(MidiInputListener* listener) override { m_router.SetListener(listener); }
    void SetInputRule(InputRule rule) override { m_router.SetRule(rule); }
    void EndInputNotes() override { m_router.EndAllNotes(); }

private:
    std::uintptr_t SendOnRoute(std::uint32_t message) override;
    void SendTo(std::uintptr_t route, std::uint32_t message) override;
    bool SendLocked(std::uintptr_t handle, std::uint32_t message);
    bool IsOwnInput(PortApi api, const std::string& portName) const;
    std::unique_ptr<MidiPort> OpenPort(int device);
    std::unique_ptr<MidiPort> OpenSynth();
    void TellCause(const std::string& cause);
    RtMidiPorts& Ports();

    MidiInputRouter m_router{*this, Keys()};
    std::mutex m_sending; // the open devices and the route, and one send at a time
    RtMidiPorts m_ports{{PortApi::Alsa, PortApi::Jack},
                        [this](PortApi api, const std::string& name) { return IsOwnInput(api, name); }};
    std::future<std::unique_ptr<FluidSynthOutput>> m_synthAhead;
    std::future<void> m_portsAhead;
    struct OpenDevice {
        int device;
        std::unique_ptr<MidiPort> port;
    };
    std::map<std::uintptr_t, OpenDevice> m_open;
    std::uintptr_t m_lastHandle = 0;
    std::uintptr_t m_route = 0; // the device opened last, while it is open
    std::unique_ptr<OwnMidiPorts> m_own;
    std::string m_lastCause;              // of the failed opens since the last one that succeeded
    std::set<std::string> m_toldSetAside; // the lines of soundfonts passed over
};

// The machine's real MIDI system: the built-in synth as device -1 and the machine's ports.
// Opening the synth takes tens of milliseconds (the soundfont, the audio server), and so does
// reading the ports (a client on the sequencer, and one on JACK where a server runs), so the
// program starts both ahead, each on a thread of its own, while the user interface builds
// itself; the first open of device -1 then takes that synth, and the Play Thru menu the ports
// read.
// Varnek's own ports are opened on request: a test or a benchmark has none.
enum class DefaultRoute { OpenWhenAsked, OpenAhead };
enum class OwnPorts { None, Open };
std::unique_ptr<MidiSystem> MakeDesktopMidiSystem(DefaultRoute route = DefaultRoute::OpenWhenAsked,
                                                  OwnPorts own = OwnPorts::None);
