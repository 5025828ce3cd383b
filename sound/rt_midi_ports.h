#pragma once
// The machine's MIDI outputs as devices 0..7: the output ports of the ALSA sequencer, then,
// while a JACK server runs, its MIDI inputs. The list is read when it is first asked for and
// again at each Refresh; in between it does not change. A port keeps its device number while
// it is there (PortSlots), so opening device n opens the port the list showed as n, or fails
// when it has gone, and never a port that has since come in its place.

#include "sound/port_slots.h"
#include "sound/rt_midi_output_port.h"

#include <bitset>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class RtMidiPorts {
public:
    // Device ids above 7 would fall among the instrument commands of the menu.
    static constexpr std::size_t kMaxPorts = PortSlots::kSlots;
    static constexpr std::size_t kMaxNameLength = 31;

    // The sequencer's ports, then JACK's; `apis` can leave one of them out.
    // Tells the ports of this program's own that are never listed.
    using OwnPortTest = std::function<bool(PortApi, const std::string& portName)>;

    explicit RtMidiPorts(std::vector<PortApi> apis = {PortApi::Alsa, PortApi::Jack}, OwnPortTest isOwn = {});
    ~RtMidiPorts();

    // Reads the machine's ports again; the devices marked in `open` are open and keep their
    // numbers even if their port has gone.
    void Refresh(std::bitset<kMaxPorts> open = {});
    std::size_t DeviceCount();
    bool DeviceName(std::size_t device, std::string& name);
    std::unique_ptr<MidiPort> Open(std::size_t device);

    // The name shown for a port that RtMidi lists as `portName`: ALSA's "Client:Port 20:0"
    // loses its address and the client when the port's name repeats it; cut to 31 characters.
    static std::string MenuName(PortApi api, const std::string& portName);

private:
    void ReadOnce();
    std::vector<std::string> PortNamesOf(PortApi api);
    std::shared_ptr<JackServerWatch> CurrentJackServer();

    std::vector<PortApi> m_apis;
    OwnPortTest m_isOwn;
    PortSlots m_slots;
    bool m_read = false;
    std::shared_ptr<JackServerWatch> m_jack;
};
