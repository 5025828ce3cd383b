#pragma once
// MIDI output in the shape the program's code expects: a device list, device -1 as the
// default route, open, short-message send and close, and Sleep for the waits between retries.
// The calls go to the current MidiSystem; the program's own build installs the real one.

#include "platform/win_types.h"

#include <cstdint>
#include <memory>
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

// What the calls above stand on. Device -1 is the default route; handles are non-zero
// values that the system hands out and recognises; a send or close on a handle it does not
// know fails without harm.
class MidiSystem {
public:
    virtual ~MidiSystem() = default;
    // Reads the machine's device list again; until the next call the list stays as it is, so
    // that a device number keeps meaning the device it named.
    virtual void RefreshDevices() {}
    virtual UINT DeviceCount() = 0;
    virtual bool DeviceName(UINT device, std::string& name) = 0;
    virtual bool Open(int device, std::uintptr_t& handle) = 0;
    virtual bool Send(std::uintptr_t handle, DWORD message) = 0;
    virtual bool Close(std::uintptr_t handle) = 0;
    virtual bool IsConnected(std::uintptr_t handle) = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
};

// The system the calls use; the previous one is returned. Without one set, the calls see a
// machine with no devices on which nothing opens.
MidiSystem* SetMidiSystem(MidiSystem* system);
MidiSystem* CurrentMidiSystem();

// The machine's real MIDI system: the built-in synth as device -1 and the machine's ports.
// Opening the synth takes tens of milliseconds (the soundfont, the audio server), so the
// program starts it ahead, on a thread of its own, while the user interface builds itself;
// the first open of device -1 then takes that synth.
enum class DefaultRoute { OpenWhenAsked, OpenAhead };
std::unique_ptr<MidiSystem> MakeDesktopMidiSystem(DefaultRoute route = DefaultRoute::OpenWhenAsked);
