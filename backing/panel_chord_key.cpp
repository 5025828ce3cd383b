// The chord key: the root of the backing's chord tones, shown by twelve lamps, F to E.

#include "app/panel_dlg.h"
#include "res/resource_ids.h"

void CPanelDlg::OnChordKeyUp()
{
    CRackButton& previous = m_btnKeyLed[static_cast<size_t>(m_backing.KeyLamp())];
    m_backing.ChordKeyUp();
    LightOnly(previous, m_btnKeyLed[static_cast<size_t>(m_backing.KeyLamp())]);
}

void CPanelDlg::OnChordKeyDown()
{
    CRackButton& previous = m_btnKeyLed[static_cast<size_t>(m_backing.KeyLamp())];
    m_backing.ChordKeyDown();
    LightOnly(previous, m_btnKeyLed[static_cast<size_t>(m_backing.KeyLamp())]);
}

void CPanelDlg::OnChordKey(UINT id)
{
    CRackButton& previous = m_btnKeyLed[static_cast<size_t>(m_backing.KeyLamp())];
    m_nKeyOffset = static_cast<int>(id) - static_cast<int>(IDC_KEY_C);
    LightOnly(previous, m_btnKeyLed[id - IDC_KEY_FIRST]);
}
