#pragma once
// Held keys on X11 without fake releases.

// X11 repeats a held key as release and press pairs, and Qt marks such a pair as a repeat only
// when the press has already been read when the release is handled, which under load it often
// has not: the program would see the key let go and struck again. With XKB's detectable
// auto-repeat the server sends the repeated presses alone. Does nothing off X11.
void UseDetectableAutoRepeat();
