#pragma once
// The MIDI that comes in at Varnek's own input ports. Its notes play through the open output
// on the input's own thread, before the program hears of them; the program hears through
// messages to its window: a note held or let go, a program chosen, a chord key named.

#include "platform/wnd.h"

// wParam: the note; lParam: 1 when it came down, 0 when it went up.
constexpr UINT WM_MIDI_INPUT_NOTE = WM_APP + 1;
// wParam: the program a program change named.
constexpr UINT WM_MIDI_INPUT_PROGRAM = WM_APP + 2;
// wParam: the note that names the chord key.
constexpr UINT WM_MIDI_INPUT_CHORD = WM_APP + 3;

// What comes in is told to `window` from now on; null stops it.
void midiInListen(CWnd* window);
// How the input plays its notes: on the drum channel under the percussion map; while a
// backing plays, notes below F2 name the chord key instead of sounding.
void midiInSetRule(bool percussion, bool chordsFromLowNotes);
// Ends every note held at the inputs on the channel and route it used, and the sustain they
// set: before the instrument or the output changes, and at the end.
void midiInEndNotes();
