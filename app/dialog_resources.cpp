#include "app/dialog_resources.h"

#include "res/resource_ids.h"

namespace {
using enum DialogControlKind;

constexpr DWORD kOwnerDrawn = WS_CHILD | WS_VISIBLE | BS_OWNERDRAW;

// The front panel's controls. Set-up takes over every one and moves it to its place on the
// rack, so their texts and rectangles here are never shown.
// clang-format off
constexpr DialogControl kPanelControls[] = {
    {Button, "Power", IDC_POWER, 24, 35, 20, 8, kOwnerDrawn, 0},
    {Button, "Menu", IDC_MENU, 358, 21, 20, 8, kOwnerDrawn, 0},
    {Button, "Hot Key", IDC_HOTKEY, 358, 35, 20, 8, kOwnerDrawn, 0},
    {Button, "About", IDC_ABOUT, 358, 49, 20, 8, kOwnerDrawn, 0},
    {Button, "F", 1004, 15, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "F#", 1005, 23, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "G", 1006, 30, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "G#", 1007, 36, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "A", 1008, 43, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "A#", 1009, 50, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "B", 1010, 58, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "C", 1011, 68, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "C#", 1012, 76, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "D", 1013, 83, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "D#", 1014, 90, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "E", 1015, 98, 81, 6, 3, kOwnerDrawn, 0},
    {Button, "None", 1016, 116, 42, 20, 8, kOwnerDrawn, 0},
    {Button, "Waltz", 1017, 105, 53, 20, 8, kOwnerDrawn, 0},
    {Button, "Rock", 1018, 105, 64, 20, 8, kOwnerDrawn, 0},
    {Button, "March", 1019, 116, 74, 20, 8, kOwnerDrawn, 0},
    {Button, "Cha-Cha", 1020, 264, 42, 20, 8, kOwnerDrawn, 0},
    {Button, "Rumba", 1021, 274, 53, 20, 8, kOwnerDrawn, 0},
    {Button, "Tango", 1022, 274, 64, 20, 8, kOwnerDrawn, 0},
    {Button, "Disco", 1023, 264, 74, 20, 8, kOwnerDrawn, 0},
    {Button, "Program Inc", IDC_PROGRAM_DOWN, 182, 54, 4, 10, kOwnerDrawn, 0},
    {Button, "Program Dec", IDC_PROGRAM_UP, 212, 54, 4, 10, kOwnerDrawn, 0},
    {Button, "LED", IDC_LED, 133, 16, 146, 10, kOwnerDrawn, 0},
};

constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_CENTER;
constexpr DWORD kRaised = WS_EX_DLGMODALFRAME;
constexpr UINT kStatic = static_cast<UINT>(-1);

// A picture of a PC keyboard: each key cap with the note it plays below it.
constexpr DialogControl kKeyboardMappingControls[] = {
    // Function key row
    {Static, "Esc", kStatic, 7, 7, 20, 20, kLabel, kRaised},
    {Static, "F1\nF", kStatic, 48, 7, 20, 20, kLabel, kRaised},
    {Static, "F2\nG", kStatic, 70, 7, 20, 20, kLabel, kRaised},
    {Static, "F3\nA", kStatic, 91, 7, 20, 20, kLabel, kRaised},
    {Static, "F4\nB", kStatic, 113, 7, 20, 20, kLabel, kRaised},
    {Static, "F5\nC", kStatic, 142, 7, 20, 20, kLabel, kRaised},
    {Static, "F6\nD", kStatic, 164, 7, 20, 20, kLabel, kRaised},
    {Static, "F7\nE", kStatic, 185, 7, 20, 20, kLabel, kRaised},
    {Static, "F8", kStatic, 207, 7, 20, 20, kLabel, kRaised},
    {Static, "F9", kStatic, 237, 7, 20, 20, kLabel, kRaised},
    {Static, "F10", kStatic, 259, 7, 20, 20, kLabel, kRaised},
    {Static, "F11\nK-Dn", kStatic, 280, 7, 20, 20, kLabel, kRaised},
    {Static, "F12\nK-Up", kStatic, 302, 7, 20, 20, kLabel, kRaised},
    // Digit row
    {Static, "~\nF#", kStatic, 7, 35, 20, 20, kLabel, kRaised},
    {Static, "1\nG#", kStatic, 28, 35, 20, 20, kLabel, kRaised},
    {Static, "2\nA#", kStatic, 49, 35, 20, 20, kLabel, kRaised},
    {Static, "3\nF#", kStatic, 70, 35, 20, 20, kLabel, kRaised},
    {Static, "4\nG#", kStatic, 91, 35, 20, 20, kLabel, kRaised},
    {Static, "5\nA#", kStatic, 112, 35, 20, 20, kLabel, kRaised},
    {Static, "6", kStatic, 133, 35, 20, 20, kLabel, kRaised},
    {Static, "7\nC#", kStatic, 154, 35, 20, 20, kLabel, kRaised},
    {Static, "8\nD#", kStatic, 175, 35, 20, 20, kLabel, kRaised},
    {Static, "9\n", kStatic, 196, 35, 20, 20, kLabel, kRaised},
    {Static, "0\nF#", kStatic, 217, 35, 20, 20, kLabel, kRaised},
    {Static, "-\nG#", kStatic, 238, 35, 20, 20, kLabel, kRaised},
    {Static, "+\nA#", kStatic, 258, 35, 20, 20, kLabel, kRaised},
    {Static, "|\n", kStatic, 278, 35, 20, 20, kLabel, kRaised},
    {Static, "Back\nSpace", kStatic, 298, 35, 24, 20, kLabel, kRaised},
    // Upper letter row
    {Static, "Tab\nC#", kStatic, 7, 56, 29, 20, kLabel, kRaised},
    {Static, "q\nD#", kStatic, 37, 56, 20, 20, kLabel, kRaised},
    {Static, "w\nF", kStatic, 58, 56, 20, 20, kLabel, kRaised},
    {Static, "e\nG", kStatic, 79, 56, 20, 20, kLabel, kRaised},
    {Static, "r\nA", kStatic, 100, 56, 20, 20, kLabel, kRaised},
    {Static, "t\nB", kStatic, 121, 56, 20, 20, kLabel, kRaised},
    {Static, "y\nC", kStatic, 142, 56, 20, 20, kLabel, kRaised},
    {Static, "u\nD", kStatic, 163, 56, 20, 20, kLabel, kRaised},
    {Static, "i\nE", kStatic, 184, 56, 20, 20, kLabel, kRaised},
    {Static, "o\nF", kStatic, 205, 56, 20, 20, kLabel, kRaised},
    {Static, "p\nG", kStatic, 226, 56, 20, 20, kLabel, kRaised},
    {Static, "[\nA", kStatic, 247, 56, 20, 20, kLabel, kRaised},
    {Static, "]\nB", kStatic, 268, 56, 20, 20, kLabel, kRaised},
    {Static, "Enter", kStatic, 290, 56, 32, 41, kLabel, kRaised},
    // Home row
    {Static, "Caps\nLock", kStatic, 7, 77, 30, 20, kLabel, kRaised},
    {Static, "a", kStatic, 47, 77, 20, 20, kLabel, kRaised},
    {Static, "s\nC#", kStatic, 68, 77, 20, 20, kLabel, kRaised},
    {Static, "d\nD#", kStatic, 89, 77, 20, 20, kLabel, kRaised},
    {Static, "f", kStatic, 110, 77, 20, 20, kLabel, kRaised},
    {Static, "g\nF#", kStatic, 131, 77, 20, 20, kLabel, kRaised},
    {Static, "h\nG#", kStatic, 152, 77, 20, 20, kLabel, kRaised},
    {Static, "j\nA#", kStatic, 173, 77, 20, 20, kLabel, kRaised},
    {Static, "k", kStatic, 194, 77, 20, 20, kLabel, kRaised},
    {Static, "l\nC#", kStatic, 215, 77, 20, 20, kLabel, kRaised},
    {Static, ";\nD#", kStatic, 236, 77, 20, 20, kLabel, kRaised},
    {Static, "'", kStatic, 257, 77, 20, 20, kLabel, kRaised},
    // Lower letter row
    {Static, "Shift", kStatic, 7, 98, 49, 20, kLabel, kRaised},
    {Static, "z\nC", kStatic, 60, 98, 20, 20, kLabel, kRaised},
    {Static, "x\nD", kStatic, 81, 98, 20, 20, kLabel, kRaised},
    {Static, "c\nE", kStatic, 102, 98, 20, 20, kLabel, kRaised},
    {Static, "v\nF", kStatic, 123, 98, 20, 20, kLabel, kRaised},
    {Static, "b\nG", kStatic, 144, 98, 20, 20, kLabel, kRaised},
    {Static, "n\nA", kStatic, 165, 98, 20, 20, kLabel, kRaised},
    {Static, "m\nB", kStatic, 186, 98, 20, 20, kLabel, kRaised},
    {Static, "<\nC", kStatic, 207, 98, 20, 20, kLabel, kRaised},
    {Static, ">\nD", kStatic, 228, 98, 20, 20, kLabel, kRaised},
    {Static, "?\nE", kStatic, 249, 98, 20, 20, kLabel, kRaised},
    {Static, "Shift", kStatic, 273, 98, 49, 20, kLabel, kRaised},
    // Bottom row, with the dialog's button in the place of the space bar
    {Static, "Ctrl", kStatic, 7, 119, 30, 20, kLabel, kRaised},
    {Static, "Alt", kStatic, 60, 119, 30, 20, kLabel, kRaised},
    {Button, "Space  (Exit)", IDOK, 92, 119, 147, 20, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    {Static, "Alt", kStatic, 241, 119, 30, 20, kLabel, kRaised},
    {Static, "Ctrl", kStatic, 292, 119, 30, 20, kLabel, kRaised},
};

constexpr DialogControl kAboutControls[] = {
    {Picture, "153", kStatic, 56, 7, 0, 0, WS_CHILD | WS_VISIBLE | SS_BITMAP, 0},
    {Static, "Varnek Version 1.0", kStatic, 0, 23, 144, 8, kLabel, 0},
    {Button, "OK", IDOK, 56, 53, 32, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
};
} // namespace

const DialogTemplate g_dlgPanel = {
    IDD_PANEL, "Varnek", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE, WS_EX_APPWINDOW,
    8, "MS Sans Serif", 0, 0, 400, 160, kPanelControls};

const DialogTemplate g_dlgKeyboardMapping = {
    IDD_KEYBOARD_MAPPING, "Keyboard Mapping", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0,
    8, "MS Sans Serif", 0, 0, 329, 146, kKeyboardMappingControls};

const DialogTemplate g_dlgAbout = {
    IDD_ABOUT, "About Varnek", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0,
    8, "Helv", 34, 22, 144, 75, kAboutControls};
// clang-format on
