#include "sound/midi_message_queue.h"

#include "sound/midi_short_message.h"

MidiMessageQueue::MidiMessageQueue(std::size_t capacity) : m_slots(capacity), m_mask(capacity - 1) {}

bool MidiMessageQueue::Push(std::uint32_t message)
{
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    if (!decoded.IsValid())
        return false;
    const std::size_t note = std::size_t(decoded.Channel()) * 128 + decoded.Data1();
    const bool noteOn = decoded.Kind() == 0x90 && decoded.Data2() != 0;
    const bool noteOff = decoded.Kind() == 0x80 || (decoded.Kind() == 0x90 && decoded.Data2() == 0);
    if (m_settingAside &&
        m_replayed.load(std::memory_order_acquire) == m_kept.load(std::memory_order_relaxed))
        m_settingAside = false; // the reader has played all that was set aside
    if (noteOff && m_refused.test(note)) {
        m_refused.reset(note);
        return true; // its note-on never went
    }
    if (!m_settingAside && PushToRing(message)) {
        if (noteOn)
            m_refused.reset(note);
        return true;
    }
    if (noteOn) {
        m_refused.set(note);
        return false;
    }
    return SetAside(message);
}

bool MidiMessageQueue::PushToRing(std::uint32_t message)
{
    const std::size_t tail = m_tail.load(std::memory_order_relaxed);
    if (tail - m_head.load(std::memory_order_acquire) == m_slots.size())
        return false;
    m_slots[tail & m_mask] = message;
    m_tail.store(tail + 1, std::memory_order_release);
    Taken();
    return true;
}

bool MidiMessageQueue::SetAside(std::uint32_t message)
{
    if (!m_setAside.Keep(message))
        return false;
    m_settingAside = true;
    m_kept.store(m_kept.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    Taken();
    return true;
}

void MidiMessageQueue::Clear()
{
    m_head.store(0);
    m_tail.store(0);
    m_setAside.Clear();
    m_kept.store(0);
    m_replayed.store(0);
    m_written.store(0);
    m_played.store(0);
    m_settingAside = false;
    m_refused.reset();
}
