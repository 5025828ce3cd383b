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
// send nothing, so what comes back through a loop dies out.
//
// Each input is played on one thread of its own, which alone touches that input's state, with
// no lock and no allocation per message. Other threads ask that thread to end the input's
// notes, and wait for it.

#include "sound/held_keys.h"
#include "sound/midi_system.h"

#include <array>
#include <atomic>
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

    // ---- On the input's own thread ----
    // One message as it came in at `input`, status byte first. A message of the wrong length
    // or with a data byte of 0x80 or more is dropped, not filled in.
    void Receive(Input input, const std::uint8_t* bytes, std::size_t length);
    // Ends what `input` holds: each note on the channel and route it went to, the sustain
    // where it set one.
    void EndNotes(Input input);
    // Does what other threads asked of `input` since the last call.
    void Serve(Input input);

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
    };
    struct Attendant {
        std::atomic<bool> present{false};
        std::atomic<std::uint32_t> endsAsked{0};
        std::atomic<std::uint32_t> endsDone{0};
        std::function<void()> wake;
    };

    InputRule Rule() const;
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
    // What was passed on each channel, so that a repeat passes no further: the last value of
    // each controller, of the pitch bend and of the channel pressure (-1 where none is
    // known), and the last message. Any input's thread reads and writes them.
    std::array<std::array<std::atomic<std::int16_t>, 130>, 16> m_passedValues{};
    std::array<std::atomic<std::uint32_t>, 16> m_lastPassed{};
    std::mutex m_attending; // Attend, Leave and the asking; never taken per message
    std::array<Attendant, kInputCount> m_attendants{};
};
