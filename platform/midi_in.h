#pragma once
// The MIDI that comes in at Varnek's own input ports. It plays through the open output on the
// input's own thread, before the program hears of it; the program hears through messages to
// its window: keys taken or let go, a program chosen, a chord key named. A flood of them
// waits as one message of each kind, which carries the latest.

#include "platform/wnd.h"
#include "sound/held_keys.h"

// Keys were taken or let go at an input: midiHeldKeys tells which are down now.
constexpr UINT WM_MIDI_INPUT_KEYS = WM_APP + 1;
// wParam: the program a program change chose, already sent.
constexpr UINT WM_MIDI_INPUT_PROGRAM = WM_APP + 2;
// wParam: the note that names the chord key.
constexpr UINT WM_MIDI_INPUT_CHORD = WM_APP + 3;

// What comes in is told to `window` from now on; null stops it.
void midiInListen(CWnd* window);
// How the input plays its notes: with the instrument chosen (128, the percussion map, plays
// on the drum channel); while a backing plays, notes below F2 name the chord key instead.
void midiInSetRule(int program, bool chordsFromLowNotes);
// Ends every note held at the inputs on the channel and route it used, and the sustain they
// set: before the instrument or the output changes, and at the end.
void midiInEndNotes();
// Who holds each key, the panel's keys and the inputs alike.
HeldKeys& midiHeldKeys();
