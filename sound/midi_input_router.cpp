#include "sound/midi_input_router.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kProgramChange = 0xC0;
constexpr std::uint8_t kChannelPressure = 0xD0;
constexpr std::uint8_t kPitchBend = 0xE0;

constexpr std::uint8_t kKeysChannel = 0;
constexpr std::uint8_t kChordChannel = 1; // the backing's chords take the instrument too
constexpr std::uint8_t kDrumChannel = 9;
// Under the percussion map the lowest keys, which have no drum sound, play 77..82.
constexpr int kLowestDrumNote = 35;
constexpr int kDrumNoteRaise = 48;

constexpr int kSustain = 64;
constexpr int kAllSoundOff = 120;
constexpr int kResetAllControllers = 121;
constexpr int kAllNotesOff = 123;
// The controllers a player plays with, passed on to the keys' channel; others are dropped.
constexpr int kPassedControllers[] = {
    1,                    // modulation
    7,                    // volume
    10,                   // pan
    11,                   // expression
    kSustain,             // sustain
    kAllSoundOff,         // all sound off
    kResetAllControllers, // reset all controllers
    kAllNotesOff,         // all notes off
};
// Where the pitch bend's and the channel pressure's last values are kept, after the 128
// controllers'.
constexpr std::size_t kBendValue = 128;
constexpr std::size_t kPressureValue = 129;
constexpr std::int16_t kUnknown = -1;

constexpr std::uint32_t kChordsBit = 0x100;
// Echoes this close together are a loop, not a player repeating what Varnek had just sent.
constexpr auto kLoopEchoes = std::chrono::seconds(1);
// How long another thread waits for an input's own thread to end its notes: far longer than
// the thread takes, short enough not to be felt if the thread is stuck.
constexpr auto kEndWait = std::chrono::milliseconds(200);

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

// All Sound Off, Reset All Controllers and All Notes Off are commands, not values.
bool IsCommand(const MidiShortMessage& message)
{
    return message.Kind() == kControlChange && message.Data1() >= kAllSoundOff;
}

} // namespace

MidiInputRouter::MidiInputRouter(Route& route, HeldKeys& keys) : m_route(route), m_keys(keys)
{
    for (int channel = 0; channel < 16; ++channel)
        ForgetPassedValues(channel);
    for (int input = 0; input < kInputCount; ++input) {
        SetCycle(Input(input), {});
        SetLoopPossible(Input(input), true);
    }
}

void MidiInputRouter::SetRule(InputRule rule)
{
    m_rule.store(std::uint32_t(rule.program) | (rule.chordsFromLowNotes ? kChordsBit : 0));
}

InputRule MidiInputRouter::Rule() const
{
    const std::uint32_t rule = m_rule.load();
    return {int(rule & 0xFF), (rule & kChordsBit) != 0};
}

void MidiInputRouter::Receive(Input input, const std::uint8_t* bytes, std::size_t length)
{
    const MidiShortMessage message = MidiShortMessage::Read(bytes, length);
    if (!message.IsValid() || message.Status() >= 0xF0)
        return; // malformed, or a system message: plays nothing
    if (IsEcho(input, message)) {
        Echoed(input);
        return;
    }
    switch (message.Kind()) {
    case kNoteOn:
        if (message.Data2() > 0) {
            NoteOn(input, message.Channel(), message.Data1(), message.Data2());
            break;
        }
        [[fallthrough]];
    case kNoteOff:
        NoteOff(input, message.Channel(), message.Data1());
        break;
    case kControlChange:
    case kChannelPressure:
    case kPitchBend:
        Controller(input, message.Pack());
        break;
    case kProgramChange:
        if (ChooseProgram(message.Data1())) {
            Pass(Message(kProgramChange | kKeysChannel, message.Data1()));
            Pass(Message(kProgramChange | kChordChannel, message.Data1()));
            if (MidiInputListener* listener = m_listener.load())
                listener->ProgramChosen(message.Data1());
        }
        break;
    default:
        break;
    }
}

// Only where the connections let what leaves Varnek come back can anything be an echo. A
// note-off for a key the input holds is never taken for one: whatever started the note, its
// end comes through.
bool MidiInputRouter::IsEcho(Input input, const MidiShortMessage& message)
{
    if (!m_loopPossible[input].load())
        return false;
    const bool noteOff = message.Kind() == kNoteOff || (message.Kind() == kNoteOn && message.Data2() == 0);
    if (noteOff && m_keys.IsHeldBy(message.Data1(), HeldKeys::Source::Input(input, message.Channel())))
        return false;
    const std::chrono::microseconds window(m_echoWindow[input].load());
    return m_loopWatch.CameBack(message.Pack(), window, m_loopNoticed[input].load());
}

void MidiInputRouter::SetCycle(Input input, std::chrono::microseconds cycle)
{
    constexpr int kCyclesAround = 4; // out at the start of one, through the loop, in, played
    m_echoWindow[input].store(std::max<std::int64_t>(
        std::chrono::microseconds(LoopWatch::kEchoWindow).count(), kCyclesAround * cycle.count()));
}

// An echo is dropped; echoes again and again are a loop, noticed once until the input's
// connections change.
void MidiInputRouter::Echoed(Input input)
{
    InputState& state = m_inputs[input];
    const auto now = std::chrono::steady_clock::now();
    const auto oldest = state.echoes[state.nextEcho];
    state.echoes[state.nextEcho] = now;
    state.nextEcho = (state.nextEcho + 1) % state.echoes.size();
    if (now - oldest < kLoopEchoes && !m_loopNoticed[input].exchange(true))
        m_loopToTell[input].store(true);
}

// The instrument a program change names becomes the one chosen, unless it already is: then
// nothing changes and nothing is sent. The panel may change the rule meanwhile.
bool MidiInputRouter::ChooseProgram(int program)
{
    std::uint32_t rule = m_rule.load();
    do {
        if (int(rule & 0xFF) == program)
            return false;
    } while (!m_rule.compare_exchange_weak(rule, (rule & kChordsBit) | std::uint32_t(program)));
    return true;
}

void MidiInputRouter::NoteOn(Input input, int channel, int note, int velocity)
{
    const HeldKeys::Source source = HeldKeys::Source::Input(input, channel);
    if (m_keys.IsHeldBy(note, source))
        return; // a second note-on without a note-off between: the key sounds already
    const InputRule rule = Rule();
    const bool namesChord = rule.chordsFromLowNotes && note < kLowestPlayedNote;
    if (m_keys.Press(note, source)) {
        HeldKeys::Sounding sounding;
        if (!namesChord) {
            sounding.channel = rule.Percussion() ? kDrumChannel : kKeysChannel;
            sounding.note =
                std::uint8_t(rule.Percussion() && note < kLowestDrumNote ? note + kDrumNoteRaise : note);
            sounding.route = Pass(Message(kNoteOn | sounding.channel, sounding.note, velocity));
            sounding.sounds = true;
        }
        m_keys.Sounded(note, sounding);
    }
    MidiInputListener* listener = m_listener.load();
    if (namesChord && listener)
        listener->ChordKeyChosen(note);
    KeysChanged();
}

void MidiInputRouter::NoteOff(Input input, int channel, int note)
{
    const HeldKeys::Source source = HeldKeys::Source::Input(input, channel);
    if (!m_keys.IsHeldBy(note, source))
        return;
    const auto sounding = m_keys.LetGo(note, source);
    if (sounding && sounding->sounds)
        m_route.SendTo(sounding->route, Message(kNoteOn | sounding->channel, sounding->note, 0));
    KeysChanged();
}

// A controller goes to the keys' channel, unless that channel has it already. All Notes Off
// and All Sound Off also let go of the keys the input holds, which they have just silenced.
void MidiInputRouter::Controller(Input input, std::uint32_t packed)
{
    const MidiShortMessage message = MidiShortMessage::Unpack(packed);
    if (message.Kind() == kControlChange && !IsPassed(message.Data1()))
        return;
    const bool silences = message.Kind() == kControlChange &&
                          (message.Data1() == kAllSoundOff || message.Data1() == kAllNotesOff);
    if (silences)
        LetGoOfAll(input, false);
    const std::uint8_t channel = Rule().Percussion() ? kDrumChannel : kKeysChannel;
    const std::uint32_t onKeys = (packed & ~0x0Fu) | channel;
    if (AlreadyPassed(onKeys))
        return;
    const std::uintptr_t route = Pass(onKeys);
    if (message.Kind() == kControlChange && message.Data1() == kSustain)
        m_inputs[input].sustainedOn[channel] = message.Data2() >= 64 ? std::optional(route) : std::nullopt;
    if (message.Kind() == kControlChange && message.Data1() == kResetAllControllers)
        ForgetPassedValues(channel);
}

// Sends on the route open now and keeps what it passed.
std::uintptr_t MidiInputRouter::Pass(std::uint32_t packed)
{
    const MidiShortMessage message = MidiShortMessage::Unpack(packed);
    const std::size_t channel = std::size_t(message.Channel());
    switch (message.Kind()) {
    case kControlChange:
        m_passedValues[channel][message.Data1()].store(message.Data2());
        break;
    case kPitchBend:
        m_passedValues[channel][kBendValue].store(std::int16_t(message.Data1() | message.Data2() << 7));
        break;
    case kChannelPressure:
        m_passedValues[channel][kPressureValue].store(message.Data1());
        break;
    default:
        break;
    }
    m_lastPassed[channel].store(packed);
    return m_route.SendOnRoute(packed);
}

// A value the channel has already, or a command repeated with nothing passed between.
bool MidiInputRouter::AlreadyPassed(std::uint32_t packed) const
{
    const MidiShortMessage message = MidiShortMessage::Unpack(packed);
    const std::size_t channel = std::size_t(message.Channel());
    if (IsCommand(message))
        return m_lastPassed[channel].load() == packed;
    switch (message.Kind()) {
    case kControlChange:
        return m_passedValues[channel][message.Data1()].load() == message.Data2();
    case kPitchBend:
        return m_passedValues[channel][kBendValue].load() == (message.Data1() | message.Data2() << 7);
    case kChannelPressure:
        return m_passedValues[channel][kPressureValue].load() == message.Data1();
    default:
        return false;
    }
}

void MidiInputRouter::ForgetPassedValues(int channel)
{
    for (auto& value : m_passedValues[std::size_t(channel)])
        value.store(kUnknown);
    m_lastPassed[std::size_t(channel)].store(0);
}

// Lets go of every key the input holds; the notes it leaves up end, unless the input has
// just ended them all itself.
void MidiInputRouter::LetGoOfAll(Input input, bool sendNoteOffs)
{
    bool changed = false;
    for (int key = 0; key < HeldKeys::kKeyCount; ++key) {
        if (!m_keys.IsHeldByInput(key, input))
            continue;
        for (int channel = 0; channel < 16; ++channel) {
            const HeldKeys::Source source = HeldKeys::Source::Input(input, channel);
            if (!m_keys.IsHeldBy(key, source))
                continue;
            const auto sounding = m_keys.LetGo(key, source);
            if (sounding && sounding->sounds && sendNoteOffs)
                m_route.SendTo(sounding->route, Message(kNoteOn | sounding->channel, sounding->note, 0));
        }
        changed = true;
    }
    if (changed)
        KeysChanged();
}

void MidiInputRouter::End(Input input)
{
    LetGoOfAll(input, true);
    auto& sustainedOn = m_inputs[input].sustainedOn;
    for (std::size_t channel = 0; channel < sustainedOn.size(); ++channel) {
        if (sustainedOn[channel])
            m_route.SendTo(*sustainedOn[channel],
                           Message(kControlChange | std::uint8_t(channel), kSustain, 0));
        sustainedOn[channel].reset();
    }
}

void MidiInputRouter::KeysChanged()
{
    if (MidiInputListener* listener = m_listener.load())
        listener->KeysChanged();
}

void MidiInputRouter::EndNotes(Input input) { End(input); }

void MidiInputRouter::Serve(Input input)
{
    Attendant& attendant = m_attendants[input];
    const std::uint32_t asked = attendant.endsAsked.load(std::memory_order_acquire);
    if (asked == attendant.endsDone.load(std::memory_order_relaxed))
        return;
    End(input);
    attendant.endsDone.store(asked, std::memory_order_release);
}

void MidiInputRouter::Attend(Input input, std::function<void()> wake)
{
    std::lock_guard lock(m_attending);
    m_attendants[input].wake = std::move(wake);
    m_attendants[input].present.store(true);
}

void MidiInputRouter::Leave(Input input)
{
    std::lock_guard lock(m_attending);
    Serve(input);
    m_attendants[input].present.store(false);
    m_attendants[input].wake = nullptr;
}

// A route or an instrument that changes starts afresh: no controller value is known there.
void MidiInputRouter::EndAllNotes()
{
    for (int input = 0; input < kInputCount; ++input)
        EndOnItsThread(Input(input));
    for (int channel = 0; channel < 16; ++channel)
        ForgetPassedValues(channel);
}

// An input that no thread plays is ended here, under the lock, so that none starts meanwhile.
void MidiInputRouter::EndOnItsThread(Input input)
{
    Attendant& attendant = m_attendants[input];
    std::unique_lock lock(m_attending);
    if (!attendant.present.load()) {
        End(input);
        return;
    }
    const std::uint32_t asked = attendant.endsAsked.fetch_add(1, std::memory_order_acq_rel) + 1;
    attendant.wake();
    lock.unlock();
    const auto deadline = std::chrono::steady_clock::now() + kEndWait;
    while (std::int32_t(attendant.endsDone.load(std::memory_order_acquire) - asked) < 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
}
