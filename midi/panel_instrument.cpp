// Instrument selection: one operation for the menu, the program buttons, the knob and start-up.

#include "app/panel_dlg.h"
#include "platform/midi_in.h"
#include "res/resource_ids.h"

#include <cstdio>

namespace {
constexpr int kInstrumentPopup = 1;
constexpr UINT kPercussionGroup = 16;
constexpr UINT kLastProgramItem = ID_PERCUSSION_MAP - 1;
} // namespace

void CPanelDlg::OnInstrument(UINT id)
{
    // A controller's notes end on the channel they sounded on before the instrument moves.
    midiInEndNotes();
    ChooseInstrument(id, true);
}

void CPanelDlg::ChooseInstrument(UINT id, bool send)
{
    m_nProgram = id - ID_PROGRAM_FIRST;
    m_nGroup = m_nProgram >> 3;
    for (CPianoKey& key : m_keys)
        key.m_bPercussion = m_nGroup == kPercussionGroup ? TRUE : FALSE;
    // The input knows the choice before the program change goes out: if a loop brings it back
    // at once, it names the instrument already chosen and does nothing.
    UpdateInputRule();

    // The current group's popup title carries the mark, or "Percussion Map" itself.
    CMenu* instruments = m_menu.GetSubMenu(kInstrumentPopup);
    for (UINT position = 0; position <= kPercussionGroup; ++position)
        instruments->CheckMenuItem(position,
                                   MF_BYPOSITION | (position == m_nGroup ? MF_CHECKED : MF_UNCHECKED));

    if (send)
        SendProgramChange(static_cast<int>(m_nProgram));

    for (UINT item = ID_PROGRAM_FIRST; item <= kLastProgramItem; ++item) {
        CMenu* group = instruments->GetSubMenu(static_cast<int>((item - ID_PROGRAM_FIRST) / 8));
        group->CheckMenuItem(item, MF_BYCOMMAND | (item == id ? MF_CHECKED : MF_UNCHECKED));
    }

    char name[100] = "";
    CMenu* holder =
        m_nGroup == kPercussionGroup ? instruments : instruments->GetSubMenu(static_cast<int>(m_nGroup));
    holder->GetMenuString(id, name, sizeof name, MF_BYCOMMAND);
    char line[120];
    std::snprintf(line, sizeof line, "PROGRAM %d:  %s", static_cast<int>(m_nProgram), name);
    m_led.SetWindowText(line);

    if (m_knob.m_nPosition != static_cast<int>(m_nProgram))
        m_knob.SetPosition(static_cast<int>(m_nProgram));
}
