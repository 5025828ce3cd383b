#pragma once
// What comes in at Varnek's own MIDI inputs, played as the panel's keys play: a note on any
// channel sounds on the keys' channel (the drum channel, with its note rule, under the
// percussion map) with the controller's velocity, on the route open now; its note-off ends
// exactly that note on that route, whatever has changed since. The controllers a player uses
// pass on to the keys' channel; a program change and the left hand's chords are told to the
// listener; everything else is dropped. Every input keeps its own record of what it holds, so
// that when it is unplugged, or its server goes, its notes end and its sustain is released.
//
// Safe from any number of threads: the inputs' own threads and the sender's.

#include "sound/midi_system.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

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

    // The lowest note that sounds while a backing plays: F2.
    static constexpr int kLowestPlayedNote = 41;

    explicit MidiInputRouter(Route& route) : m_route(route) {}

    void SetListener(MidiInputListener* listener);
    void SetRule(InputRule rule);

    // One message as it came in at `input`: status byte first, running status not allowed.
    void Receive(Input input, const std::uint8_t* bytes, std::size_t length);
    // Ends what `input` holds: each note on the channel and route it went to, the sustain
    // where it set one.
    void EndNotes(Input input);
    void EndAllNotes();

private:
    struct Held {
        std::uintptr_t route = 0; // 0: sounding nowhere
        std::uint8_t channel = 0;
        std::uint8_t note = 0;
        bool down = false;
    };
    struct InputState {
        std::array<std::array<Held, 128>, 16> notes{};
        std::array<std::uintptr_t, 16> sustainedOn{}; // by channel: the route, 0 when released
    };

    void NoteOn(InputState& state, int channel, int note, int velocity);
    void NoteOff(InputState& state, int channel, int note);
    void Controller(InputState& state, std::uint8_t status, int number, int value);
    void End(InputState& state);
    std::uint8_t KeysChannel() const;

    Route& m_route;
    std::mutex m_mutex;
    MidiInputListener* m_listener = nullptr;
    InputRule m_rule;
    std::array<InputState, kInputCount> m_inputs{};
};
