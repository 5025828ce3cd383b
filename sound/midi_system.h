#pragma once
// The sound engine as the program's MIDI output calls see it: a device list, device -1 as the
// default route, open, short-message send and close, and the waits between retries. The desktop
// engine is one implementation; tests record what they are sent.

#include "sound/held_keys.h"

#include <cstdint>
#include <string>

// What a system reports of the MIDI that comes in at its own input ports. The calls come on
// the inputs' own threads, after the messages have already gone out; they must not block.
class MidiInputListener {
public:
    // Keys were taken or let go at an input: the system's HeldKeys tells which are down now.
    virtual void KeysChanged() = 0;
    // A program change chose this instrument, and has been sent in its place among the notes.
    virtual void ProgramChosen(int program) = 0;
    // A note of the left hand, while a backing plays, names the chord key.
    virtual void ChordKeyChosen(int note) = 0;

protected:
    ~MidiInputListener() = default;
};

// How the input plays the notes it is given: as the panel's keys play them now.
struct InputRule {
    static constexpr int kPercussionMap = 128;
    int program = 0;                 // the instrument chosen, 0..127, or the percussion map
    bool chordsFromLowNotes = false; // notes below F2 set the chord key instead of sounding
    bool Percussion() const { return program == kPercussionMap; }
};

// Device -1 is the default route; handles are non-zero values that the system hands out and
// recognises; a send or close on a handle it does not know fails without harm. Handle 0 is no
// device: what is sent on it fails too, but still leaves the system's own output ports, where
// it has any, as everything played does.
class MidiSystem {
public:
    virtual ~MidiSystem() = default;
    // Reads the machine's device list again; until the next call the list stays as it is, so
    // that a device number keeps meaning the device it named.
    virtual void RefreshDevices() {}
    virtual unsigned DeviceCount() = 0;
    virtual bool DeviceName(unsigned device, std::string& name) = 0;
    virtual bool Open(int device, std::uintptr_t& handle) = 0;
    virtual bool Send(std::uintptr_t handle, std::uint32_t message) = 0;
    virtual bool Close(std::uintptr_t handle) = 0;
    virtual bool IsConnected(std::uintptr_t handle) = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;

    // The system's own MIDI inputs, where it has any: what comes in plays through the route
    // opened last, as the rule says, and `listener` hears of it.
    virtual void ListenToInput(MidiInputListener* listener) {}
    virtual void SetInputRule(InputRule rule) {}
    // Ends every note held at the inputs on the channel and route its note-on used, and
    // releases the sustain they set: before the instrument or the route changes, or at the end.
    virtual void EndInputNotes() {}

    // Who holds each key, the panel's keys and the inputs alike: one record for the system.
    HeldKeys& Keys() { return m_keys; }

private:
    HeldKeys m_keys;
};
