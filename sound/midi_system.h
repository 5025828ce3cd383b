#pragma once
// The sound engine as the program's MIDI output calls see it: a device list, device -1 as the
// default route, open, short-message send and close, and the waits between retries. The desktop
// engine is one implementation; tests record what they are sent.

#include <cstdint>
#include <string>

// Device -1 is the default route; handles are non-zero values that the system hands out and
// recognises; a send or close on a handle it does not know fails without harm.
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
};
