#pragma once
// A MIDI system for the benchmarks: every device opens, and a send goes nowhere. A benchmark
// that needs to see the messages hooks the sends.

#include "platform/midi_out.h"

#include <functional>

class QuietMidiSystem : public MidiSystem {
public:
    // Called with every message sent; none by default, so a send costs nothing.
    void OnSend(std::function<void(DWORD)> hook) { m_onSend = std::move(hook); }

    UINT DeviceCount() override { return 0; }
    bool DeviceName(UINT, std::string&) override { return false; }
    bool Open(int, std::uintptr_t& handle) override;
    bool Send(std::uintptr_t handle, DWORD message) override;
    bool Close(std::uintptr_t handle) override;
    bool IsConnected(std::uintptr_t) override { return true; }
    void Sleep(DWORD) override {}

private:
    std::function<void(DWORD)> m_onSend;
    std::uintptr_t m_nextHandle = 1;
};
