#pragma once
// One open MIDI output, whatever carries it: the built-in synth or a port of the machine.

#include "platform/win_types.h"

class MidiPort {
public:
    virtual ~MidiPort() = default;
    // Sends one packed short message; false when it could not go out.
    virtual bool Send(DWORD message) = 0;
    // The route is alive, or finds its way back by itself.
    virtual bool IsConnected() const { return true; }
};
