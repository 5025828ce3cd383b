#pragma once
// A dialog resource: caption, styles, font and controls, laid out in dialog units.

#include "platform/win_types.h"

#include <span>

enum class DialogControlKind { Button, Static, Picture };

struct DialogControl {
    DialogControlKind kind;
    const char* text; // for a picture, the name of its bitmap resource
    UINT id;
    int x, y, cx, cy; // dialog units
    DWORD style;
    DWORD exStyle;
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    DWORD style;
    DWORD exStyle;
    int pointSize;
    const char* typeface;
    int x, y, cx, cy; // dialog units
    std::span<const DialogControl> controls;
};

// Dialog units to pixels for the dialog font: 4 horizontal units to the average character
// width and 8 vertical units to the character height.
struct DialogBaseUnits {
    int cx = 6;
    int cy = 13;
    constexpr int X(int units) const { return units * cx / 4; }
    constexpr int Y(int units) const { return units * cy / 8; }
};
