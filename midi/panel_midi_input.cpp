// Playing from a MIDI controller. Its notes have sounded through the open output by the time
// the panel hears of them: the panel draws its keys as the shared record of who holds them
// says, shows the instrument a program change chose, and moves the chord key to the note the
// left hand names.

#include "app/panel_dlg.h"
#include "platform/midi_in.h"
#include "res/resource_ids.h"

LRESULT CPanelDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MIDI_INPUT_KEYS:
        for (CPianoKey& key : m_keys)
            key.ShowHeld();
        return 0;
    case WM_MIDI_INPUT_PROGRAM:
        ShowInputProgram(static_cast<UINT>(wParam));
        return 0;
    case WM_MIDI_INPUT_CHORD:
        OnChordKey(static_cast<UINT>(static_cast<int>(IDC_KEY_C) +
                                     BackingPlayer::KeyOfNote(static_cast<int>(wParam))));
        return 0;
    default:
        return CDialog::WindowProc(message, wParam, lParam);
    }
}

// The knob is turned without the command it would post, which would choose and send again.
void CPanelDlg::ShowInputProgram(UINT program)
{
    if (program == m_nProgram)
        return;
    m_knob.ShowPosition(static_cast<int>(program));
    ChooseInstrument(ID_PROGRAM_FIRST + program, false);
}

void CPanelDlg::UpdateInputRule() { midiInSetRule(static_cast<int>(m_nProgram), m_backing.Plays()); }
