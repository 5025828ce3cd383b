#pragma once
// The machine's MIDI outputs as devices 0..7: the output ports of the ALSA sequencer, then,
// while a JACK server runs, its MIDI inputs. The list is taken once, when it is first asked
// for; each entry remembers the port it names, so opening entry n opens that same port or
// fails when it has gone, and never a port that has since taken its place in the list.

#include "platform/midi/rt_midi_output_port.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RtMidiPorts {
public:
    // Device ids above 7 would fall among the instrument commands of the menu.
    static constexpr std::size_t kMaxPorts = 8;
    static constexpr std::size_t kMaxNameLength = 31;

    // The sequencer's ports, then JACK's; `apis` can leave one of them out.
    explicit RtMidiPorts(std::vector<PortApi> apis = {PortApi::Alsa, PortApi::Jack});
    ~RtMidiPorts();

    std::size_t DeviceCount();
    bool DeviceName(std::size_t device, std::string& name);
    std::unique_ptr<MidiPort> Open(std::size_t device);

    // The name shown for a port that RtMidi lists as `portName`: ALSA's "Client:Port 20:0"
    // loses its address and the client when the port's name repeats it; cut to 31 characters.
    static std::string MenuName(PortApi api, const std::string& portName);
    // Whether a port belongs to a client of ours (JACK numbers clients that share a name).
    static bool IsOwnPort(const std::string& portName);

private:
    struct Entry {
        PortApi api;
        std::string portName; // as RtMidi lists it, for finding the port again
        std::string menuName;
    };

    void TakeListOnce();
    void AddPortsOf(PortApi api);
    std::vector<std::string> PortNamesOf(PortApi api);
    std::shared_ptr<JackServerWatch> CurrentJackServer();

    std::vector<PortApi> m_apis;
    std::optional<std::vector<Entry>> m_entries;
    std::shared_ptr<JackServerWatch> m_jack;
};
