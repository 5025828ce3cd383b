#pragma once
// Where each of the machine's MIDI ports stands in the device list, from one reading of the
// machine's ports to the next. A port keeps its place for as long as it is there, and takes it
// back when it returns under the same name, so that a device number (and the menu item that
// shows it) always means the same port. A port that has gone leaves a gap; new ports fill
// places never used first, then the places of ports that have gone, but never the place of a
// port that is still open.

#include "sound/rt_midi_output_port.h"

#include <array>
#include <bitset>
#include <cstddef>
#include <string>
#include <vector>

class PortSlots {
public:
    static constexpr std::size_t kSlots = 8;

    struct Port {
        PortApi api = PortApi::Alsa;
        std::string name; // as RtMidi lists it
    };

    // Takes the machine's ports as they are now, in the order they are listed. `open` marks
    // the places whose port is open; they are not given to another port.
    void Update(const std::vector<Port>& ports, std::bitset<kSlots> open = {});
    // One past the last place taken by a port that is there.
    std::size_t Count() const;
    // The port at `slot`, or null for a gap.
    const Port* At(std::size_t slot) const;

    // What stays of a port's name when it comes back: ALSA numbers its clients anew.
    static std::string Identity(const Port& port);
    // An ALSA port's name without the address ("client:port 20:0" gives "client:port").
    static std::string WithoutAddress(const std::string& alsaName);

private:
    struct Slot {
        Port port;
        bool used = false;    // a port has stood here
        bool present = false; // and is there now
    };
    Slot* FreeSlot(std::bitset<kSlots> open);

    std::array<Slot, kSlots> m_slots;
};
