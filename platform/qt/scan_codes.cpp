#include "platform/qt/scan_codes.h"

namespace {
// Evdev codes 1 to 88 are the set-1 make codes of the main block (Esc to F12).
constexpr unsigned kLastMainBlockCode = 88;
constexpr unsigned kEvdevOffset = 8;

struct ExtendedKey {
    unsigned evdev;
    int set1;
};

// Keys outside the main block, with the extended bit set as the keyboard sends them.
constexpr ExtendedKey kExtendedKeys[] = {
    {96, 0x1C},  // keypad Enter
    {97, 0x1D},  // right Ctrl
    {98, 0x35},  // keypad /
    {99, 0x37},  // Print Screen
    {100, 0x38}, // right Alt
    {102, 0x47}, // Home
    {103, 0x48}, // Up
    {104, 0x49}, // Page Up
    {105, 0x4B}, // Left
    {106, 0x4D}, // Right
    {107, 0x4F}, // End
    {108, 0x50}, // Down
    {109, 0x51}, // Page Down
    {110, 0x52}, // Insert
    {111, 0x53}, // Delete
    {125, 0x5B}, // left Windows key
    {126, 0x5C}, // right Windows key
    {127, 0x5D}, // menu key
};
} // namespace

Set1Key Set1FromNativeScanCode(unsigned nativeScanCode)
{
    if (nativeScanCode <= kEvdevOffset)
        return {};
    const unsigned evdev = nativeScanCode - kEvdevOffset;
    if (evdev <= kLastMainBlockCode)
        return {static_cast<int>(evdev), false};
    for (const ExtendedKey& key : kExtendedKeys)
        if (key.evdev == evdev)
            return {key.set1, true};
    return {};
}
