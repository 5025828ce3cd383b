// Playing from a MIDI controller. Its notes have sounded through the open output by the time
// the panel hears of them: the panel draws them on their keys, chooses the instrument a program
// change names, and moves the chord key to the note the left hand names.

#include "app/panel_dlg.h"
#include "platform/midi_in.h"
#include "res/resource_ids.h"

LRESULT CPanelDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MIDI_INPUT_NOTE:
        ShowInputNote(static_cast<int>(wParam), lParam != 0);
        return 0;
    case WM_MIDI_INPUT_PROGRAM:
        OnInstrument(ID_PROGRAM_FIRST + static_cast<UINT>(wParam));
        return 0;
    case WM_MIDI_INPUT_CHORD:
        OnChordKey(static_cast<UINT>(static_cast<int>(IDC_KEY_C) +
                                     BackingPlayer::KeyOfNote(static_cast<int>(wParam))));
        return 0;
    default:
        return CDialog::WindowProc(message, wParam, lParam);
    }
}

void CPanelDlg::ShowInputNote(int note, bool down)
{
    const int key = note - KeyboardState::kLowestNote;
    if (key < 0 || key >= kKeyCount)
        return; // it sounds, and has no key to show it
    if (down)
        m_keys[key].ShowHeldBy(KeyboardState::kMidiInput);
    else
        m_keys[key].ShowLetGoBy(KeyboardState::kMidiInput);
}

void CPanelDlg::UpdateInputRule() { midiInSetRule(m_keys[0].m_bPercussion != FALSE, m_backing.Plays()); }
