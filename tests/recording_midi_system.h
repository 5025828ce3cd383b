#pragma once
// A MIDI system for tests. It is told which devices exist and which opens, closes and
// capability reads fail; it keeps every message per handle in order, a log of the opens,
// closes and sleeps, and the total time slept. Sleep never waits: a test can hook it to
// advance its own clock.

#include "platform/midi_out.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class RecordingMidiSystem : public MidiSystem {
public:
    static constexpr int kAlways = -1; // a failure count that never runs out

    explicit RecordingMidiSystem(std::vector<std::string> deviceNames = {});

    // ---- What the machine is like ----
    void SetDevices(std::vector<std::string> deviceNames) { m_devices = std::move(deviceNames); }
    // The next `count` opens of `device` (-1 is the default route) fail; kAlways: every one.
    void FailOpens(int device, int count = kAlways) { m_openFailures[device] = count; }
    // The next `count` closes of `handle` fail, and the handle stays open.
    void FailCloses(std::uintptr_t handle, int count = kAlways) { m_closeFailures[handle] = count; }
    void FailCloses(HMIDIOUT handle, int count = kAlways) { FailCloses(Number(handle), count); }
    // The name of `device` cannot be read.
    void FailDeviceName(UINT device) { m_unreadableNames.insert(device); }
    // The device `handle` opened can no longer be reached (its server restarted, its port went),
    // though the handle stays open.
    void Disconnect(std::uintptr_t handle) { m_disconnected.insert(handle); }
    // Called with each Sleep's milliseconds, after it is logged.
    void OnSleep(std::function<void(DWORD)> hook) { m_sleepHook = std::move(hook); }

    // ---- What happened ----
    // "open D", "close H" and "sleep MS" in call order, whether they succeeded or not.
    const std::vector<std::string>& Calls() const { return m_calls; }
    // Every message accepted on `handle`, in order, also after it was closed.
    std::vector<DWORD> Messages(std::uintptr_t handle) const;
    std::vector<DWORD> Messages(HMIDIOUT handle) const { return Messages(Number(handle)); }
    // Every accepted message with its handle, in order.
    const std::vector<std::pair<std::uintptr_t, DWORD>>& AllMessages() const { return m_messages; }
    // Sends refused because the handle was not open.
    int RejectedSends() const { return m_rejectedSends; }
    bool IsOpen(std::uintptr_t handle) const { return m_openDevice.count(handle) == 1; }
    bool IsOpen(HMIDIOUT handle) const { return IsOpen(Number(handle)); }
    std::size_t OpenCount() const { return m_openDevice.size(); }
    // The handle of the last successful open (0 before any), and the device it opened.
    std::uintptr_t LastHandle() const { return m_lastHandle; }
    std::optional<int> DeviceOf(std::uintptr_t handle) const;
    DWORD TotalSleep() const { return m_totalSleep; }
    // Forgets calls, messages and sleep time; devices, failures and open handles stay.
    void ClearLog();

    // ---- A controller at the system's own input, played as the engine plays it ----
    // It presses `note`, which sounds on the device opened last with its velocity unless the
    // key sounds already; the listener hears of it.
    void ControllerPresses(int note, DWORD velocity = 90);
    // It lets go of `note`; the note ends where it began if no one else holds the key.
    void ControllerLetsGo(int note);
    // Its program change, already sent, as the listener hears of it.
    void ControllerChooses(int program);
    // How often the input's notes were asked to end, and the rule it plays by now.
    int InputEndings() const { return m_inputEndings; }
    InputRule Rule() const { return m_rule; }

    // ---- MidiSystem ----
    UINT DeviceCount() override { return UINT(m_devices.size()); }
    bool DeviceName(UINT device, std::string& name) override;
    bool Open(int device, std::uintptr_t& handle) override;
    bool Send(std::uintptr_t handle, DWORD message) override;
    bool Close(std::uintptr_t handle) override;
    bool IsConnected(std::uintptr_t handle) override
    {
        return IsOpen(handle) && !m_disconnected.count(handle);
    }
    void Sleep(DWORD milliseconds) override;
    void ListenToInput(MidiInputListener* listener) override { m_listener = listener; }
    void SetInputRule(InputRule rule) override { m_rule = rule; }
    void EndInputNotes() override { ++m_inputEndings; }

    static std::uintptr_t Number(HMIDIOUT handle) { return reinterpret_cast<std::uintptr_t>(handle); }

private:
    template <typename Key> static bool TakeFailure(std::map<Key, int>& failures, const Key& key);

    std::vector<std::string> m_devices;
    std::map<int, int> m_openFailures;
    std::map<std::uintptr_t, int> m_closeFailures;
    std::set<UINT> m_unreadableNames;
    std::set<std::uintptr_t> m_disconnected;
    std::function<void(DWORD)> m_sleepHook;

    std::vector<std::string> m_calls;
    std::vector<std::pair<std::uintptr_t, DWORD>> m_messages;
    std::map<std::uintptr_t, int> m_openDevice;
    std::map<std::uintptr_t, int> m_everOpened;
    std::uintptr_t m_lastHandle = 0;
    int m_rejectedSends = 0;
    DWORD m_totalSleep = 0;
    MidiInputListener* m_listener = nullptr;
    InputRule m_rule;
    int m_inputEndings = 0;
};
