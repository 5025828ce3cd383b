#include "platform/midi_out.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::atomic<MidiSystem*> g_system{nullptr};

constexpr std::size_t kMaxNameLength = sizeof(MIDIOUTCAPSA::szPname) - 1;

std::uintptr_t ToNumber(HMIDIOUT handle) { return reinterpret_cast<std::uintptr_t>(handle); }

HMIDIOUT ToHandle(std::uintptr_t number) { return reinterpret_cast<HMIDIOUT>(number); }

} // namespace

MidiSystem* SetMidiSystem(MidiSystem* system) { return g_system.exchange(system); }

MidiSystem* CurrentMidiSystem() { return g_system.load(); }

// The count is the machine's as it is now: devices come and go while the program runs.
UINT midiOutGetNumDevs()
{
    MidiSystem* system = CurrentMidiSystem();
    if (!system)
        return 0;
    system->RefreshDevices();
    return system->DeviceCount();
}

MMRESULT midiOutGetDevCapsA(std::uintptr_t device, MIDIOUTCAPSA* caps, UINT size)
{
    if (!caps || size < sizeof(MIDIOUTCAPSA))
        return MMSYSERR_INVALPARAM;
    MidiSystem* system = CurrentMidiSystem();
    if (!system || device >= system->DeviceCount())
        return MMSYSERR_BADDEVICEID;
    std::string name;
    if (!system->DeviceName(UINT(device), name))
        return MMSYSERR_ERROR;
    *caps = MIDIOUTCAPSA{};
    const std::size_t length = std::min(name.size(), kMaxNameLength);
    std::memcpy(caps->szPname, name.data(), length);
    caps->szPname[length] = '\0';
    caps->wTechnology = MOD_MIDIPORT;
    caps->wChannelMask = 0xFFFF;
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutOpen(HMIDIOUT* handle, UINT device, std::uintptr_t callback, std::uintptr_t instance,
                     DWORD flags)
{
    if (!handle)
        return MMSYSERR_INVALPARAM;
    *handle = nullptr;
    // Nothing here would ever call a callback back, so asking for one is refused.
    if (callback != 0 || flags != CALLBACK_NULL)
        return MMSYSERR_INVALFLAG;
    MidiSystem* system = CurrentMidiSystem();
    if (!system)
        return MMSYSERR_NODRIVER;
    if (device != MIDI_MAPPER && device >= system->DeviceCount())
        return MMSYSERR_BADDEVICEID;
    std::uintptr_t opened = 0;
    const int systemDevice = device == MIDI_MAPPER ? -1 : int(device);
    if (!system->Open(systemDevice, opened) || opened == 0)
        return MMSYSERR_ERROR;
    *handle = ToHandle(opened);
    return MMSYSERR_NOERROR;
}

// Without an open device the message still reaches the system, for its own output ports.
MMRESULT midiOutShortMsg(HMIDIOUT handle, DWORD message)
{
    MidiSystem* system = CurrentMidiSystem();
    if (!system || !system->Send(ToNumber(handle), message) || !handle)
        return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOERROR;
}

MMRESULT midiOutClose(HMIDIOUT handle)
{
    MidiSystem* system = CurrentMidiSystem();
    if (!handle || !system || !system->Close(ToNumber(handle)))
        return MMSYSERR_INVALHANDLE;
    return MMSYSERR_NOERROR;
}

bool midiOutIsConnected(HMIDIOUT handle)
{
    MidiSystem* system = CurrentMidiSystem();
    return handle && system && system->IsConnected(ToNumber(handle));
}

void Sleep(DWORD milliseconds)
{
    if (MidiSystem* system = CurrentMidiSystem())
        system->Sleep(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
