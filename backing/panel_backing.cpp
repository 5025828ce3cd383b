// The backing player: choosing a style and playing one step at each tick of timer 0.

#include "app/panel_dlg.h"
#include "backing/backing_patterns.h"
#include "res/resource_ids.h"

namespace {
constexpr UINT kBackingTimer = 0;
constexpr int kBackingPopup = 2;
} // namespace

void CPanelDlg::OnBackingStyle(UINT id)
{
    CMenu* backing = m_menu.GetSubMenu(kBackingPopup);
    if (!(backing->GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED)) {
        for (UINT item = ID_STYLE_FIRST; item <= ID_STYLE_LAST; ++item)
            backing->CheckMenuItem(item, MF_BYCOMMAND | (item == id ? MF_CHECKED : MF_UNCHECKED));
    }
    const int style = static_cast<int>(id - ID_STYLE_FIRST);
    // Choosing the style that plays keeps the timer's phase and silences nothing.
    if (style != m_nStyle) {
        KillTimer(kBackingTimer);
        ChordNotesOff();
        DrumNotesOff();
        if (style != kStyleNone)
            SetTimer(kBackingTimer, BackingStyleFor(style).periodMs, nullptr);
    }
    // The current style's button ends lit, also after a click that darkened it.
    LightOnly(m_btnStyle[static_cast<size_t>(m_nStyle)], m_btnStyle[static_cast<size_t>(style)]);
    m_nStyle = style;
    UpdateInputRule();
}

void CPanelDlg::LightOnly(CRackButton& off, CRackButton& on)
{
    off.m_bOn = 0;
    off.InvalidateRect(nullptr, TRUE);
    on.m_bOn = 1;
    on.InvalidateRect(nullptr, TRUE);
}

void CPanelDlg::OnTimer(UINT id)
{
    if (id != kBackingTimer) {
        Default();
        return;
    }
    m_backing.Tick(*this);
}
