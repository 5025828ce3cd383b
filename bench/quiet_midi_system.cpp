#include "bench/quiet_midi_system.h"

bool QuietMidiSystem::Open(int, std::uintptr_t& handle)
{
    handle = m_nextHandle++;
    return true;
}

bool QuietMidiSystem::Send(std::uintptr_t, DWORD message)
{
    if (m_onSend)
        m_onSend(message);
    return true;
}

bool QuietMidiSystem::Close(std::uintptr_t) { return true; }
