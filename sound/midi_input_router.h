#pragma once
// What comes in at Varnek's own MIDI inputs, played as the panel's keys play: a note on any
// channel sounds on the keys' channel (the drum channel, with its note rule, under the
// percussion map) with the controller's velocity, on the route open now; its note-off ends
// exactly that note on that route, whatever has changed since. Who holds which key is kept in
// the record the panel's keys share, so a key held by the mouse and a controller at once
// sounds once and ends when the last lets go. The controllers a player uses, pitch bend and
// channel pressure pass on to the keys' channel; a program change chooses the instrument in
// its place among the notes; the left hand's chords are told to the listener; everything else
// is dropped.
//
// Nothing that comes in is multiplied on its way out: a note-on for a key already held, a
// program change naming the instrument already chosen, and a controller value already passed
// send nothing. And what comes in that Varnek sent a moment ago has come back through a loop
// (a MIDI-thru client, another Varnek, a DAW track) and is not played again, so a loop is
// never fed; when echoes come again and again, the loop is noticed, once, for its input to
// name.
//
// Each input is played on one thread of its own, which alone touches that input's state, with
// no lock and no allocation per message. Other threads ask that thread to end the input's
// notes, and wait for it.

#include "sound/held_keys.h"
#include "sound/loop_watch.h"
#include "sound/midi_short_message.h"
#include "sound/midi_system.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

class MidiInputRouter {
public:
    // Where the notes go: the route open now, or the one a note-on went to.
    class Route {
    public:
        // Sends on the route open now; the route it went to, 0 when none is open.
        virtual std::uintptr_t SendOnRoute(std::uint32_t message) = 0;
        // Sends on `route` if it is still open.
        virtual void SendTo(std::uintptr_t route, std::uint32_t message) = 0;

    protected:
        ~Route() = default;
    };

    enum Input { kAlsaInput, kJackInput, kInputCount };
    static_assert(kInputCount <= HeldKeys::kInputCount);

    // The lowest note that sounds while a backing plays: F2.
    static constexpr int kLowestPlayedNote = 41;

    MidiInputRouter(Route& route, HeldKeys& keys);

    void SetListener(MidiInputListener* listener) { m_listener.store(listener); }
    void SetRule(InputRule rule);
    // Everything that leaves Varnek, wherever it goes, so that what comes back is known.
    void Sent(std::uint32_t message) { m_loopWatch.Sent(message); }
    // The connections to `input` changed: a loop there is to be noticed anew.
    void ConnectionsChanged(Input input) { m_loopNoticed[input].store(false); }
    // Whether what leaves Varnek can come back into `input` at all, as its connections stand;
    // where it cannot, nothing is taken for an echo. It can, until told otherwise.
    void SetLoopPossible(Input input, bool possible) { m_loopPossible[input].store(possible); }
    // The server cycle `input` is read in, where it has one: an echo takes a few of them.
    void SetCycle(Input input, std::chrono::microseconds cycle);

    // ---- On the input's own thread ----
    // One message as it came in at `input`, status byte first. A message of the wrong length
    // or with a data byte of 0x80 or more is dropped, not filled in.
    void Receive(Input input, const std::uint8_t* bytes, std::size_t length);
    // Ends what `input` holds: each note on the channel and route it went to, the sustain
    // where it set one.
    void EndNotes(Input input);
    // Does what other threads asked of `input` since the last call.
    void Serve(Input input);
    // True once when what `input` brings back has shown a loop; the input then names it.
    bool TakeNoticedLoop(Input input) { return m_loopToTell[input].exchange(false); }

    // The thread that plays `input` from now on, and how to wake it to Serve. Leave comes once
    // that thread has ended, and serves what it left.
    void Attend(Input input, std::function<void()> wake);
    void Leave(Input input);

    // ---- Any other thread ----
    // Ends every input's notes, on each input's own thread, and waits a moment for that.
    void EndAllNotes();

private:
    struct InputState {
        // By the channel it was sent on: the route where this input holds the sustain down.
        std::array<std::optional<std::uintptr_t>, 16> sustainedOn{};
        // When the two echoes before the latest came: three within a second are a loop, not
        // a chance repeat of what Varnek had just sent.
        std::array<std::chrono::steady_clock::time_point, 2> echoes{};
        std::size_t nextEcho = 0;
    };
    struct Attendant {
        std::atomic<bool> present{false};
        std::atomic<std::uint32_t> endsAsked{0};
        std::atomic<std::uint32_t> endsDone{0};
        std::function<void()> wake;
    };

    InputRule Rule() const;
    bool IsEcho(Input input, const MidiShortMessage& message);
    void Echoed(Input input);
    bool ChooseProgram(int program);
    void NoteOn(Input input, int channel, int note, int velocity);
    void NoteOff(Input input, int channel, int note);
    void Controller(Input input, std::uint32_t message);
    std::uintptr_t Pass(std::uint32_t message);
    bool AlreadyPassed(std::uint32_t message) const;
    void ForgetPassedValues(int channel);
    void LetGoOfAll(Input input, bool sendNoteOffs);
    void End(Input input);
    void KeysChanged();
    void EndOnItsThread(Input input);

    Route& m_route;
    HeldKeys& m_keys;
    std::atomic<MidiInputListener*> m_listener{nullptr};
    std::atomic<std::uint32_t> m_rule{0}; // the program, and 0x100 for the chords
    std::array<InputState, kInputCount> m_inputs{};
    LoopWatch m_loopWatch;
    std::array<std::atomic<bool>, kInputCount> m_loopPossible{};
    std::array<std::atomic<bool>, kInputCount> m_loopNoticed{};
    std::array<std::atomic<bool>, kInputCount> m_loopToTell{};
    std::array<std::atomic<std::int64_t>, kInputCount> m_echoWindow{}; // microseconds
    // What was passed on each channel, so that a repeat passes no further: the last value of
    // each controller, of the pitch bend and of the channel pressure (-1 where none is
    // known), and the last message. Any input's thread reads and writes them.
    std::array<std::array<std::atomic<std::int16_t>, 130>, 16> m_passedValues{};
    std::array<std::atomic<std::uint32_t>, 16> m_lastPassed{};
    std::mutex m_attending; // Attend, Leave and the asking; never taken per message
    std::array<Attendant, kInputCount> m_attendants{};
};
