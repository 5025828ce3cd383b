// The chord key: the root of the backing's chord tones, shown by twelve lamps, F to E.

#include "app/panel_dlg.h"
#include "res/resource_ids.h"

namespace {
// Lamp index of a key offset: F (-7) is lamp 0, C (0) lamp 7, E (+4) lamp 11.
constexpr int kLowestOffset = -7;
constexpr size_t LampOf(int offset) { return static_cast<size_t>(offset - kLowestOffset); }
} // namespace

void CPanelDlg::OnChordKeyUp()
{
    const int lamp = (m_nKeyOffset + 8) % kKeyLampCount;
    CRackButton& previous = m_btnKeyLed[LampOf(m_nKeyOffset)];
    m_nKeyOffset = lamp + kLowestOffset;
    LightOnly(previous, m_btnKeyLed[static_cast<size_t>(lamp)]);
}

void CPanelDlg::OnChordKeyDown()
{
    const int lamp = (m_nKeyOffset + 18) % kKeyLampCount;
    CRackButton& previous = m_btnKeyLed[LampOf(m_nKeyOffset)];
    m_nKeyOffset = lamp + kLowestOffset;
    LightOnly(previous, m_btnKeyLed[static_cast<size_t>(lamp)]);
}

void CPanelDlg::OnChordKey(UINT id)
{
    CRackButton& previous = m_btnKeyLed[LampOf(m_nKeyOffset)];
    m_nKeyOffset = static_cast<int>(id) - static_cast<int>(IDC_KEY_C);
    LightOnly(previous, m_btnKeyLed[id - IDC_KEY_FIRST]);
}
