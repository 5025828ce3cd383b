#pragma once
// MIDI output in the shape the program's code expects: a device list, device -1 as the
// default route, open, short-message send and close, and Sleep for the waits between retries.
// The calls go to the current MidiSystem; the program's own build installs the real one.

#include "platform/win_types.h"
#include "sound/midi_system.h"

#include <cstdint>
#include <string>

struct HMIDIOUT__;
using HMIDIOUT = HMIDIOUT__*; // null means no device is open
using MMRESULT = UINT;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr UINT MIDI_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_NULL = 0;
constexpr WORD MOD_MIDIPORT = 1; // capabilities' technology: a hardware or software port

struct MIDIOUTCAPSA {
    WORD wMid;
    WORD wPid;
    DWORD vDriverVersion;
    char szPname[32]; // product name, at most 31 characters and a terminating zero
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};

UINT midiOutGetNumDevs();
MMRESULT midiOutGetDevCapsA(std::uintptr_t device, MIDIOUTCAPSA* caps, UINT size);
MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, std::uintptr_t callback, std::uintptr_t instance,
                     DWORD flags);
MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message);
MMRESULT midiOutClose(HMIDIOUT handle);
// Whether the device that `handle` opened can still be reached; false for a handle that is not
// open. A device whose server restarted or whose port went away stays open but reaches no one.
bool midiOutIsConnected(HMIDIOUT handle);
void Sleep(DWORD milliseconds);

// The system the calls use; the previous one is returned. Without one set, the calls see a
// machine with no devices on which nothing opens.
MidiSystem* SetMidiSystem(MidiSystem* system);
MidiSystem* CurrentMidiSystem();
