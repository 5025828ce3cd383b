#include "backing/backing_player.h"

void BackingPlayer::Tick(Output& output)
{
    if (!Plays())
        return;
    const BackingStyle& pattern = BackingStyleFor(style);
    // The step carries over a change of style; bring it within the new style's cycle so no
    // table is read past its end.
    const int now = static_cast<int>(step % static_cast<unsigned>(pattern.cycle));
    output.ChordNotesOff();
    for (int slot = 0; slot < pattern.chordSlots; ++slot)
        if (const int tone = pattern.Chord(now, slot); tone != kRest)
            output.SendChordNote(tone);
    output.DrumNotesOff();
    for (int slot = 0; slot < pattern.drumSlots; ++slot)
        if (const int note = pattern.Drum(now, slot); note != kRest)
            output.SendDrumNote(note);
    step = static_cast<unsigned>((now + 1) % pattern.cycle);
}
