#include "sound/midi_input_router.h"

namespace {

constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kProgramChange = 0xC0;
constexpr std::uint8_t kChannelPressure = 0xD0;
constexpr std::uint8_t kPitchBend = 0xE0;

constexpr std::uint8_t kKeysChannel = 0;
constexpr std::uint8_t kDrumChannel = 9;
// Under the percussion map the lowest keys, which have no drum sound, play 77..82.
constexpr int kLowestDrumNote = 35;
constexpr int kDrumNoteRaise = 48;

constexpr int kSustain = 64;
// The controllers a player plays with, passed on to the keys' channel; others are dropped.
constexpr int kPassedControllers[] = {
    1,   // modulation
    7,   // volume
    10,  // pan
    11,  // expression
    64,  // sustain
    120, // all sound off
    121, // reset all controllers
    123, // all notes off
};

constexpr std::uint32_t Message(std::uint8_t status, int data1, int data2 = 0)
{
    return std::uint32_t(status) | std::uint32_t(data1 & 0x7F) << 8 | std::uint32_t(data2 & 0x7F) << 16;
}

bool IsPassed(int controller)
{
    for (const int passed : kPassedControllers)
        if (passed == controller)
            return true;
    return false;
}

} // namespace

void MidiInputRouter::SetListener(MidiInputListener* listener)
{
    std::lock_guard lock(m_mutex);
    m_listener = listener;
}

void MidiInputRouter::SetRule(InputRule rule)
{
    std::lock_guard lock(m_mutex);
    m_rule = rule;
}

std::uint8_t MidiInputRouter::KeysChannel() const { return m_rule.percussion ? kDrumChannel : kKeysChannel; }

void MidiInputRouter::Receive(Input input, const std::uint8_t* bytes, std::size_t length)
{
    if (length == 0 || bytes[0] < kNoteOff || bytes[0] >= 0xF0)
        return; // system messages and stray data bytes play nothing
    const std::uint8_t kind = bytes[0] & 0xF0;
    const int channel = bytes[0] & 0x0F;
    const int data1 = length > 1 ? bytes[1] & 0x7F : 0;
    const int data2 = length > 2 ? bytes[2] & 0x7F : 0;
    std::lock_guard lock(m_mutex);
    InputState& state = m_inputs[input];
    switch (kind) {
    case kNoteOn:
        if (data2 > 0) {
            NoteOn(state, channel, data1, data2);
            break;
        }
        [[fallthrough]];
    case kNoteOff:
        NoteOff(state, channel, data1);
        break;
    case kControlChange:
    case kChannelPressure:
    case kPitchBend:
        Controller(state, kind, data1, data2);
        break;
    case kProgramChange:
        if (m_listener)
            m_listener->ProgramChosen(data1);
        break;
    default:
        break;
    }
}

void MidiInputRouter::NoteOn(InputState& state, int channel, int note, int velocity)
{
    Held& held = state.notes[std::size_t(channel)][std::size_t(note)];
    // A second note-on without a note-off between: the first one ends, so none is left hanging.
    NoteOff(state, channel, note);
    held.down = true;
    if (m_rule.chordsFromLowNotes && note < kLowestPlayedNote) {
        if (m_listener)
            m_listener->ChordKeyChosen(note);
    } else {
        held.channel = KeysChannel();
        held.note = std::uint8_t(m_rule.percussion && note < kLowestDrumNote ? note + kDrumNoteRaise : note);
        held.route = m_route.SendOnRoute(Message(kNoteOn | held.channel, held.note, velocity));
    }
    if (m_listener)
        m_listener->NoteHeld(note, true);
}

void MidiInputRouter::NoteOff(InputState& state, int channel, int note)
{
    Held& held = state.notes[std::size_t(channel)][std::size_t(note)];
    if (!held.down)
        return;
    if (held.route != 0)
        m_route.SendTo(held.route, Message(kNoteOn | held.channel, held.note, 0));
    held = {};
    if (m_listener)
        m_listener->NoteHeld(note, false);
}

void MidiInputRouter::Controller(InputState& state, std::uint8_t kind, int number, int value)
{
    if (kind == kControlChange && !IsPassed(number))
        return;
    const std::uint8_t channel = KeysChannel();
    const std::uintptr_t route = m_route.SendOnRoute(Message(kind | channel, number, value));
    if (kind == kControlChange && number == kSustain)
        state.sustainedOn[channel] = value >= 64 ? route : 0;
}

void MidiInputRouter::End(InputState& state)
{
    for (int channel = 0; channel < 16; ++channel)
        for (int note = 0; note < 128; ++note)
            NoteOff(state, channel, note);
    for (std::size_t channel = 0; channel < state.sustainedOn.size(); ++channel) {
        if (state.sustainedOn[channel] != 0)
            m_route.SendTo(state.sustainedOn[channel], Message(kControlChange | channel, kSustain, 0));
        state.sustainedOn[channel] = 0;
    }
}

void MidiInputRouter::EndNotes(Input input)
{
    std::lock_guard lock(m_mutex);
    End(m_inputs[input]);
}

void MidiInputRouter::EndAllNotes()
{
    std::lock_guard lock(m_mutex);
    for (InputState& state : m_inputs)
        End(state);
}
