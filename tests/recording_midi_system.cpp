#include "tests/recording_midi_system.h"

RecordingMidiSystem::RecordingMidiSystem(std::vector<std::string> deviceNames)
    : m_devices(std::move(deviceNames))
{
}

template <typename Key> bool RecordingMidiSystem::TakeFailure(std::map<Key, int>& failures, const Key& key)
{
    const auto found = failures.find(key);
    if (found == failures.end() || found->second == 0)
        return false;
    if (found->second != kAlways)
        --found->second;
    return true;
}

std::vector<DWORD> RecordingMidiSystem::Messages(std::uintptr_t handle) const
{
    std::vector<DWORD> messages;
    for (const auto& [to, message] : m_messages) {
        if (to == handle)
            messages.push_back(message);
    }
    return messages;
}

std::optional<int> RecordingMidiSystem::DeviceOf(std::uintptr_t handle) const
{
    const auto found = m_everOpened.find(handle);
    if (found == m_everOpened.end())
        return std::nullopt;
    return found->second;
}

void RecordingMidiSystem::ClearLog()
{
    m_calls.clear();
    m_messages.clear();
    m_rejectedSends = 0;
    m_totalSleep = 0;
}

bool RecordingMidiSystem::DeviceName(UINT device, std::string& name)
{
    if (device >= m_devices.size() || m_unreadableNames.count(device))
        return false;
    name = m_devices[device];
    return true;
}

bool RecordingMidiSystem::Open(int device, std::uintptr_t& handle)
{
    m_calls.push_back("open " + std::to_string(device));
    const bool exists = device == -1 || (device >= 0 && std::size_t(device) < m_devices.size());
    if (!exists || TakeFailure(m_openFailures, device))
        return false;
    handle = ++m_lastHandle;
    m_openDevice[handle] = device;
    m_everOpened[handle] = device;
    return true;
}

bool RecordingMidiSystem::Send(std::uintptr_t handle, DWORD message)
{
    if (!IsOpen(handle)) {
        ++m_rejectedSends;
        return false;
    }
    m_messages.emplace_back(handle, message);
    return true;
}

bool RecordingMidiSystem::Close(std::uintptr_t handle)
{
    m_calls.push_back("close " + std::to_string(handle));
    if (!IsOpen(handle) || TakeFailure(m_closeFailures, handle))
        return false;
    m_openDevice.erase(handle);
    return true;
}

void RecordingMidiSystem::Sleep(DWORD milliseconds)
{
    m_calls.push_back("sleep " + std::to_string(milliseconds));
    m_totalSleep += milliseconds;
    if (m_sleepHook)
        m_sleepHook(milliseconds);
}

namespace {
const HeldKeys::Source kController = HeldKeys::Source::Input(1, 0);
} // namespace

void RecordingMidiSystem::ControllerPresses(int note, DWORD velocity)
{
    if (Keys().IsHeldBy(note, kController))
        return;
    if (Keys().Press(note, kController)) {
        const DWORD message = 0x90 | DWORD(note) << 8 | velocity << 16;
        Send(m_lastHandle, message);
        Keys().Sounded(note, {0, std::uint8_t(note), m_lastHandle, true});
    }
    if (m_listener)
        m_listener->KeysChanged();
}

void RecordingMidiSystem::ControllerLetsGo(int note)
{
    if (!Keys().IsHeldBy(note, kController))
        return;
    if (const auto sounding = Keys().LetGo(note, kController); sounding && sounding->sounds)
        Send(sounding->route, 0x90 | DWORD(sounding->channel) | DWORD(sounding->note) << 8);
    if (m_listener)
        m_listener->KeysChanged();
}

void RecordingMidiSystem::ControllerChooses(int program)
{
    if (m_listener)
        m_listener->ProgramChosen(program);
}
