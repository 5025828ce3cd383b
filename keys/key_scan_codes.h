#pragma once
// The computer keys that play the 48 piano keys, by scan code: the keyboard's make codes,
// which name physical key positions, so the same keys play under every layout.

constexpr int kPlayingKeyCount = 48;

// clang-format off
constexpr int g_nKeyScanCode[kPlayingKeyCount] = {
    //  F1    F#1   G1    G#1   A1    A#1   B1    C2    C#2   D2    D#2   E2
    0x3B, 0x29, 0x3C, 0x02, 0x3D, 0x03, 0x3E, 0x3F, 0x0F, 0x40, 0x10, 0x41,   // F1 ` F2 1 F3 2 F4 F5 Tab F6 Q F7
    //  F2    F#2   G2    G#2   A2    A#2   B2    C3    C#3   D3    D#3   E3
    0x11, 0x04, 0x12, 0x05, 0x13, 0x06, 0x14, 0x15, 0x08, 0x16, 0x09, 0x17,   // W 3 E 4 R 5 T Y 7 U 8 I
    //  F3    F#3   G3    G#3   A3    A#3   B3    C4    C#4   D4    D#4   E4
    0x18, 0x0B, 0x19, 0x0C, 0x1A, 0x0D, 0x1B, 0x2C, 0x1F, 0x2D, 0x20, 0x2E,   // O 0 P - [ = ] Z S X D C
    //  F4    F#4   G4    G#4   A4    A#4   B4    C5    C#5   D5    D#5   E5
    0x2F, 0x22, 0x30, 0x23, 0x31, 0x24, 0x32, 0x33, 0x26, 0x34, 0x27, 0x35,   // V G B H N J M , L . ; /
};
// clang-format on

constexpr int kScanCodeF11 = 87;
constexpr int kScanCodeF12 = 88;
