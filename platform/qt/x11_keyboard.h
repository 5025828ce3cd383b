#pragma once
// What the keyboard needs from X11 beyond Qt. Both do nothing off X11.

#include <QWindow>

// X11 repeats a held key as release and press pairs, and Qt marks such a pair as a repeat only
// when the press has already been read when the release is handled, which under load it often
// has not: the program would see the key let go and struck again. With XKB's detectable
// auto-repeat the server sends the repeated presses alone.
void UseDetectableAutoRepeat();

// Gives the keyboard back to a top-level window that has been hidden and shown again. Hidden,
// it lost the focus to the root window, and Qt's own request carries the time of the last event
// it saw, which the server ignores as older than that loss.
void TakeX11InputFocus(WId window);
