#pragma once
// Native key codes to PC set-1 make codes, so that keys are named by their place on the
// keyboard whatever the layout.

struct Set1Key {
    int scanCode = 0; // 0 when the key has no set-1 code we know
    bool extended = false;
};

// Qt's native scan code on X11 and Wayland is the evdev code plus 8.
Set1Key Set1FromNativeScanCode(unsigned nativeScanCode);
