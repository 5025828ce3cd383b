// Playing the piano keys from the computer keyboard.

#include "app/panel_dlg.h"
#include "keys/key_scan_codes.h"

namespace {
int ScanCode(LPARAM lParam) { return static_cast<int>((lParam >> 16) & 0xFF); }
} // namespace

BOOL CPanelDlg::PreTranslateMessage(MSG* msg)
{
    // Every key message is consumed, mapped or not, so no key reaches the dialog's own
    // keyboard handling: Enter, Escape, Space and Tab neither press a button nor close.
    if (msg->message == WM_KEYDOWN) {
        const int scanCode = ScanCode(msg->lParam);
        for (int k = 0; k < kPlayingKeyCount; ++k) {
            if (g_nKeyScanCode[k] == scanCode)
                m_keys[k].NoteOn(HeldKeys::Source::ComputerKey());
        }
        if (scanCode == kScanCodeF11)
            OnChordKeyDown();
        if (scanCode == kScanCodeF12)
            OnChordKeyUp();
        return TRUE;
    }
    if (msg->message == WM_KEYUP) {
        const int scanCode = ScanCode(msg->lParam);
        for (int k = 0; k < kPlayingKeyCount; ++k) {
            if (g_nKeyScanCode[k] == scanCode)
                m_keys[k].NoteOff(HeldKeys::Source::ComputerKey());
        }
        return TRUE;
    }
    return CDialog::PreTranslateMessage(msg);
}

void CPanelDlg::ReleaseKeyboardKeys()
{
    for (int k = 0; k < kPlayingKeyCount; ++k)
        m_keys[k].NoteOff(HeldKeys::Source::ComputerKey());
}
