#include "sound/midi_set_aside.h"

#include "sound/midi_short_message.h"

namespace {
constexpr int kSustain = 64;
constexpr int kResetAllControllers = 121;
} // namespace

bool MidiSetAside::Keep(std::uint32_t message)
{
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    if (!decoded.IsValid())
        return false;
    const int channel = decoded.Channel();
    const std::size_t note = std::size_t(channel) * 128 + decoded.Data1();
    switch (decoded.Kind()) {
    case 0x90:
        if (decoded.Data2() != 0)
            return false;
        [[fallthrough]];
    case 0x80:
        Mark(m_noteOffs, note);
        return true;
    case 0xB0:
        KeepController(channel, decoded.Data1(), decoded.Data2());
        return true;
    case 0xC0:
        m_programs[std::size_t(channel)].store(decoded.Data1(), std::memory_order_release);
        return true;
    case 0xD0:
        m_pressures[std::size_t(channel)].store(decoded.Data1(), std::memory_order_release);
        return true;
    case 0xE0:
        m_bends[std::size_t(channel)].store(std::int16_t(decoded.Data1() | decoded.Data2() << 7),
                                            std::memory_order_release);
        return true;
    default:
        return false;
    }
}

// Values kept before a reset would be undone by it: they are forgotten, and the reset goes out
// before the values kept after it.
void MidiSetAside::KeepController(int channel, int number, int value)
{
    const std::size_t index = std::size_t(channel) * 128 + std::size_t(number);
    if (number == kResetAllControllers) {
        m_controllers[index / 64].store(0, std::memory_order_relaxed);
        m_controllers[index / 64 - 1].store(0, std::memory_order_relaxed);
        Mark(m_resets, std::size_t(channel));
        return;
    }
    if (number == kSustain && value < 64)
        Mark(m_sustainReleased, std::size_t(channel));
    m_controllerValues[index].store(std::uint8_t(value), std::memory_order_relaxed);
    Mark(m_controllers, index);
}

void MidiSetAside::Clear()
{
    for (PerChannel* values : {&m_programs, &m_bends, &m_pressures})
        for (auto& value : *values)
            value.store(kNone);
    m_resets[0].store(0);
    m_sustainReleased[0].store(0);
    for (auto& word : m_controllers)
        word.store(0);
    for (auto& word : m_noteOffs)
        word.store(0);
}
