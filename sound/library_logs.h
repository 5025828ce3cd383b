#pragma once
// The sound libraries write their complaints to the terminal: a missing sound card, a JACK
// server that is not running, a soundfont that does not load. The program reports failures
// through results only, so their messages are switched off.

// Silences FluidSynth, JACK and ALSA for the rest of the process; safe to call repeatedly.
void SilenceSoundLibraryLogs();
