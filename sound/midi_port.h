#pragma once
// One open MIDI output, whatever carries it: the built-in synth or a port of the machine.

#include <cstdint>

class MidiPort {
public:
    virtual ~MidiPort() = default;
    // Sends one packed short message; false when it could not go out.
    virtual bool Send(std::uint32_t message) = 0;
    // Whether what carries the messages is still there: a server that restarted, or a port
    // that went away, leaves an output that sends to no one. An output that finds its way
    // back by itself counts as connected.
    virtual bool IsConnected() const { return true; }
};
