#pragma once
// The sound engine as the program's MIDI output calls see it: a device list, device -1 as the
// default route, open, short-message send and close, and the waits between retries. The desktop
// engine is one implementation; tests record what they are sent.

#include <cstdint>
#include <string>

// What a system reports of the MIDI that comes in at its own input ports. The calls come on
// the input's own thread, after the notes have already gone out; they must not block.
class MidiInputListener {
public:
    // A note came down or went up at an input, whatever it played.
    virtual void NoteHeld(int note, bool down) = 0;
    // A program change came in: the instrument it names is to be chosen.
    virtual void ProgramChosen(int program) = 0;
    // A note of the left hand, while a backing plays, names the chord key.
    virtual void ChordKeyChosen(int note) = 0;

protected:
    ~MidiInputListener() = default;
};

// How the input plays the notes it is given: as the panel's keys play them now.
struct InputRule {
    bool percussion = false;         // on the drum channel, as the percussion map plays
    bool chordsFromLowNotes = false; // notes below F2 set the chord key instead of sounding
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
};
