#pragma once
// Every MIDI short message the program sends, packed as status | data1 << 8 | data2 << 16.

#include "platform/win_types.h"

namespace midi {
constexpr BYTE kNoteOn = 0x90;
constexpr BYTE kControlChange = 0xB0;
constexpr BYTE kProgramChange = 0xC0;
constexpr BYTE kAllNotesOff = 123;

// Channels as the status byte's low nibble: 1, 2 and 10 as musicians count.
constexpr BYTE kKeysChannel = 0;
constexpr BYTE kChordChannel = 1;
constexpr BYTE kDrumChannel = 9;

constexpr BYTE kKeyVelocity = 127;
constexpr BYTE kChordVelocity = 63;
constexpr BYTE kDrumVelocity = 95;
constexpr int kChordRoot = 48;
// The six lowest keys have no drum sound of their own and play 77..82 instead.
constexpr int kLowestDrumKey = 35;
constexpr int kDrumKeyRaise = 48;
} // namespace midi

constexpr DWORD ShortMessage(BYTE status, BYTE data1, BYTE data2 = 0)
{
    return DWORD(status) | (DWORD(data1) << 8) | (DWORD(data2) << 16);
}

// A piano key's note on or off (a note on with velocity 0): channel 1, or channel 10 with
// the percussion map.
constexpr DWORD KeyNoteMessage(int note, bool percussion, bool on)
{
    const BYTE velocity = on ? midi::kKeyVelocity : 0;
    if (!percussion)
        return ShortMessage(midi::kNoteOn | midi::kKeysChannel, BYTE(note), velocity);
    const int drum = note < midi::kLowestDrumKey ? note + midi::kDrumKeyRaise : note;
    return ShortMessage(midi::kNoteOn | midi::kDrumChannel, BYTE(drum), velocity);
}

// The note-off Varnek sends, a note on with velocity 0, for a note that went out on `channel`.
constexpr DWORD NoteOffMessage(BYTE channel, BYTE note)
{
    return ShortMessage(midi::kNoteOn | channel, note, 0);
}

constexpr DWORD ProgramChangeMessage(BYTE channel, int program)
{
    return ShortMessage(midi::kProgramChange | channel, BYTE(program));
}

constexpr DWORD ChordNoteMessage(int tone, int keyOffset)
{
    return ShortMessage(midi::kNoteOn | midi::kChordChannel, BYTE(midi::kChordRoot + tone + keyOffset),
                        midi::kChordVelocity);
}

constexpr DWORD DrumNoteMessage(int note)
{
    return ShortMessage(midi::kNoteOn | midi::kDrumChannel, BYTE(note), midi::kDrumVelocity);
}

constexpr DWORD AllNotesOffMessage(BYTE channel)
{
    return ShortMessage(midi::kControlChange | channel, midi::kAllNotesOff, 0);
}
