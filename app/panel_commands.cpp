// The panel's commands: dispatch by id, the device menu, the menu bar toggle and the two help
// dialogs.

#include "app/dialog_resources.h"
#include "app/panel_dlg.h"
#include "res/resource_ids.h"

#include <algorithm>

namespace {
constexpr int kMaxDevices = 8; // the ids leave room for devices 0 to 7
constexpr UINT kCaptionStyles = WS_CAPTION | DS_MODALFRAME | DS_3DLOOK;
constexpr int kProgramChoices = 129;
constexpr UINT kStyleButtonToCommand = ID_STYLE_FIRST - IDC_STYLE_FIRST; // 31892

bool InRange(UINT id, UINT first, UINT last) { return id >= first && id <= last; }
} // namespace

BOOL CPanelDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    // Only the command id counts: a double-click notification reaches the same action.
    const UINT id = LOWORD(wParam);
    if (InRange(id, ID_MIDI_MAPPER, ID_DEVICE_LAST))
        OnPlayThru(id);
    else if (InRange(id, ID_PROGRAM_FIRST, ID_PERCUSSION_MAP))
        OnInstrument(id);
    else if (InRange(id, ID_STYLE_FIRST, ID_STYLE_LAST))
        OnBackingStyle(id);
    else if (id == ID_KEYBOARD_MAPPING)
        ShowKeyboardMapping();
    else if (id == ID_KEY_UP)
        OnChordKeyUp();
    else if (id == ID_KEY_DOWN)
        OnChordKeyDown();
    else if (id == ID_APP_ABOUT)
        ShowAbout();
    else if (InRange(id, IDC_KEY_FIRST, IDC_KEY_LAST))
        OnChordKey(id);
    else if (InRange(id, IDC_STYLE_FIRST, IDC_STYLE_LAST))
        OnBackingStyle(id + kStyleButtonToCommand);
    else if (id == IDC_PROGRAM_DOWN)
        OnInstrument(ID_PROGRAM_FIRST + (m_nProgram + kProgramChoices - 1) % kProgramChoices);
    else if (id == IDC_PROGRAM_UP)
        OnInstrument(ID_PROGRAM_FIRST + (m_nProgram + 1) % kProgramChoices);
    return CDialog::OnCommand(wParam, lParam);
}

void CPanelDlg::FillPlayThruMenu() { AppendDevices(*m_menu.GetSubMenu(0)); }

void CPanelDlg::AppendDevices(CMenu& menu)
{
    const UINT count = midiOutGetNumDevs();
    if (count > 0)
        menu.AppendMenu(MF_SEPARATOR);
    for (UINT device = 0; device < count && device < kMaxDevices; ++device) {
        MIDIOUTCAPSA caps{};
        // A device whose capabilities cannot be read gets no item; the later ones keep the
        // id their own index gives.
        if (midiOutGetDevCapsA(device, &caps, sizeof caps) == MMSYSERR_NOERROR)
            menu.AppendMenu(MF_STRING | MF_ENABLED | MF_UNCHECKED, ID_DEVICE_FIRST + device, caps.szPname);
    }
}

// The machine's ports come and go while the program runs, so the list is read again each time
// the menu opens.
void CPanelDlg::OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu)
{
    if (popup == m_menu.GetSubMenu(0))
        RefreshPlayThruMenu();
    CDialog::OnInitMenuPopup(popup, index, sysMenu);
}

// A device keeps its number while its port is there, so each item keeps its id and the open
// device its check mark; the items change only when the list did.
void CPanelDlg::RefreshPlayThruMenu()
{
    CMenu* playThru = m_menu.GetSubMenu(0);
    CMenu now;
    AppendDevices(now);
    const auto sameItem = [](const CMenu::Item& a, const CMenu::Item& b) {
        return a.separator == b.separator && a.id == b.id && a.text == b.text;
    };
    const auto& shown = playThru->Items();
    if (std::equal(shown.begin() + 1, shown.end(), now.Items().begin(), now.Items().end(), sameItem))
        return;
    UINT checked = 0;
    for (UINT id = ID_DEVICE_FIRST; id <= ID_DEVICE_LAST; ++id) {
        if (playThru->GetMenuState(id, MF_BYCOMMAND) == MF_CHECKED)
            checked = id;
    }
    while (playThru->GetMenuItemCount() > 1)
        playThru->DeleteMenu(1, MF_BYPOSITION);
    for (const CMenu::Item& item : now.Items())
        playThru->AppendMenu(item.separator ? MF_SEPARATOR : MF_STRING | MF_ENABLED, item.id,
                             item.text.c_str());
    if (checked != 0)
        playThru->CheckMenuItem(checked, MF_BYCOMMAND | MF_CHECKED);
}

void CPanelDlg::OnPlayThru(UINT id)
{
    CMenu* playThru = m_menu.GetSubMenu(0);
    // The device in use is not opened again, unless what carried its messages has gone (its
    // server restarted, its port went away): then it is, and sound comes back.
    if ((playThru->GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED) && midiOutIsConnected(m_hMidiOut))
        return;
    const BOOL opened = OpenMidiOut(static_cast<int>(id) - static_cast<int>(ID_DEVICE_FIRST));
    // Only the device that is open carries the mark; after a failed open none is.
    for (UINT item = ID_MIDI_MAPPER; item <= ID_DEVICE_LAST; ++item)
        playThru->CheckMenuItem(item, MF_BYCOMMAND | (opened && item == id ? MF_CHECKED : MF_UNCHECKED));
    if (!opened)
        return;
    m_nDevice = static_cast<int>(id) - static_cast<int>(ID_DEVICE_FIRST);
    SendProgramChange(static_cast<int>(m_nProgram));
}

void CPanelDlg::ToggleMenuBar()
{
    CRect window;
    GetWindowRect(&window);
    const CSize rack(m_dibRack.m_info.bmWidth, m_dibRack.m_info.bmHeight);
    const FrameInsets frame = InsetsFor(true, true);
    if (GetMenu() != nullptr) {
        // The bare rack stays exactly over the screen pixels it covered.
        SetMenu(nullptr);
        ModifyStyle(kCaptionStyles, 0);
        ModifyStyleEx(WS_EX_DLGMODALFRAME, 0);
        SetWindowPos(nullptr, window.left + frame.left, window.top + frame.top, rack.cx, rack.cy,
                     SWP_NOZORDER);
    } else {
        ModifyStyle(0, kCaptionStyles);
        ModifyStyleEx(0, WS_EX_DLGMODALFRAME);
        SetWindowPos(nullptr, window.left - frame.left, window.top - frame.top,
                     rack.cx + frame.left + frame.right, rack.cy + frame.top + frame.bottom, SWP_NOZORDER);
        SetMenu(&m_menu);
    }
}

void CPanelDlg::OnSysKeyDown(UINT virtualKey, UINT repeatCount, UINT flags)
{
    // Alt+M works the MENU button as a click on it does, its lamp and all, so the keyboard
    // brings back the menu bar that MENU took away. No menu of the bar answers to M.
    if (virtualKey == 'M') {
        if (!(flags & KF_REPEAT)) {
            m_btnMenu.m_bOn = m_btnMenu.m_bOn == 0 ? 1 : 0;
            m_btnMenu.InvalidateRect(nullptr, TRUE);
            ToggleMenuBar();
        }
        return;
    }
    CDialog::OnSysKeyDown(virtualKey, repeatCount, flags);
}

void CPanelDlg::ShowKeyboardMapping()
{
    CDialog dialog(g_dlgKeyboardMapping);
    dialog.DoModal();
}

void CPanelDlg::ShowAbout()
{
    CDialog dialog(g_dlgAbout);
    dialog.DoModal();
}
