#pragma once
// The backing as music and time: the style that plays, the step its next tick plays, the chord
// key, and what one tick sends. The panel keeps what the user sees of it (the menu marks, the
// lamps) and the timer that ticks it.

#include "backing/backing_patterns.h"

class BackingPlayer {
public:
    // Where a tick's messages go, in the order it sends them.
    class Output {
    public:
        virtual void ChordNotesOff() = 0;
        virtual void SendChordNote(int tone) = 0;
        virtual void DrumNotesOff() = 0;
        virtual void SendDrumNote(int note) = 0;

    protected:
        ~Output() = default;
    };

    // Chord keys run from F (-7) up to E (+4) semitones from C; lamp 0 is F.
    static constexpr int kLowestKey = -7;
    static constexpr int kKeyCount = 12;

    int style = kStyleNone;
    unsigned step = 0;
    int keyOffset = 0;

    bool Plays() const { return style > kStyleNone && style < kStyleCountWithNone; }
    // One step of the style's pattern: the previous step silenced, this one's chord tones and
    // drums sent, the step moved on within the cycle. Without a style, nothing.
    void Tick(Output& output);

    // The chord key one semitone up or down, E and F wrapping round to each other.
    void ChordKeyUp() { keyOffset = (keyOffset + 8) % kKeyCount + kLowestKey; }
    void ChordKeyDown() { keyOffset = (keyOffset + 18) % kKeyCount + kLowestKey; }
    // The lamp that shows the chord key.
    int KeyLamp() const { return keyOffset - kLowestKey; }
    // The chord key a note names, whatever its octave: C is 0, F -7, E +4.
    static int KeyOfNote(int note)
    {
        const int name = note % kKeyCount; // C is 0
        return name <= kLowestKey + kKeyCount - 1 ? name : name - kKeyCount;
    }
};
