#pragma once
// The backing's music: for each style a chord table and a drum table, one row per step. A
// chord value is a tone in semitones above the chord root; a drum value is a General MIDI
// percussion note. 99 is a rest; every other value sounds, 0 included.

#include <span>

constexpr int kRest = 99;

struct BackingStyle {
    const char* name;
    unsigned periodMs;
    int cycle; // steps before the pattern repeats
    int chordSlots;
    int drumSlots;
    std::span<const int> chords; // cycle × chordSlots, slot 1 first within a step
    std::span<const int> drums;  // cycle × drumSlots

    int Chord(int step, int slot) const { return chords[static_cast<size_t>(step * chordSlots + slot)]; }
    int Drum(int step, int slot) const { return drums[static_cast<size_t>(step * drumSlots + slot)]; }
};

constexpr int kStyleNone = 0;
constexpr int kStyleCountWithNone = 8;

// The seven playing styles, Waltz (1) to Disco (7).
const BackingStyle& BackingStyleFor(int style);
