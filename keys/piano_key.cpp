#include "keys/piano_key.h"

#include "midi/midi_messages.h"
#include "res/resource_ids.h"

#include <string>

CDib CPianoKey::s_dibWhiteUp;
CDib CPianoKey::s_dibWhiteDown;
CDib CPianoKey::s_dibBlackUp;
CDib CPianoKey::s_dibBlackDown;

namespace {
// Where a note-on goes: its channel and note.
KeyboardState::Sounding SoundingOf(DWORD noteOn) { return {BYTE(noteOn & 0x0F), BYTE((noteOn >> 8) & 0xFF)}; }

void ShowCursor(int id) { ::SetCursor(LoadCursorA(AfxGetResourceHandle(), MAKEINTRESOURCE(id))); }

constexpr const char* kPitchNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
} // namespace

CPianoKey::CPianoKey()
{
    // Every key loads the shared images; each load replaces the one before.
    s_dibWhiteUp.LoadFromResource(AfxGetResourceHandle(), "WHITE_NOTE_U");
    s_dibWhiteDown.LoadFromResource(AfxGetResourceHandle(), "WHITE_NOTE_D");
    s_dibBlackUp.LoadFromResource(AfxGetResourceHandle(), "BLACK_NOTE_U");
    s_dibBlackDown.LoadFromResource(AfxGetResourceHandle(), "BLACK_NOTE_D");
}

void CPianoKey::NoteOn(KeyboardState::Source source)
{
    if (m_bDown) {
        m_pKeyboard->Press(Index(), source, {});
        return;
    }
    const DWORD message = KeyNoteMessage(m_nNote, m_bPercussion, true);
    midiOutShortMsg(m_hMidiOut, message);
    m_pKeyboard->Press(Index(), source, SoundingOf(message));
    m_bDown = TRUE;
    Invalidate(TRUE);
}

void CPianoKey::NoteOff()
{
    if (!m_bDown)
        return;
    m_bDown = FALSE;
    Invalidate(TRUE);
    if (const auto sounding = m_pKeyboard->Release(Index()))
        midiOutShortMsg(m_hMidiOut, NoteOffMessage(sounding->channel, sounding->note));
}

void CPianoKey::ShowHeldBy(KeyboardState::Source source)
{
    m_pKeyboard->Press(Index(), source, SoundingOf(KeyNoteMessage(m_nNote, m_bPercussion, true)));
    if (!m_bDown) {
        m_bDown = TRUE;
        Invalidate(TRUE);
    }
}

void CPianoKey::ShowLetGoBy(KeyboardState::Source source)
{
    if (m_pKeyboard->Let(Index(), source) && m_bDown) {
        m_bDown = FALSE;
        Invalidate(TRUE);
    }
}

std::string CPianoKey::GetAccessibleName() const
{
    // MIDI note 0 is C in octave -1.
    return kPitchNames[m_nNote % 12] + std::to_string(m_nNote / 12 - 1);
}

void CPianoKey::OnPaint()
{
    CPaintDC dc(this);
    CDib& image =
        m_bWhite ? (m_bDown ? s_dibWhiteDown : s_dibWhiteUp) : (m_bDown ? s_dibBlackDown : s_dibBlackUp);
    image.Draw(dc, nullptr, nullptr, TRUE, nullptr, FALSE);
}

void CPianoKey::OnShowWindow(BOOL, UINT)
{
    // Shown anew, a key that was down is up and never sounded here.
    if (m_bDown)
        m_pKeyboard->Forget(Index());
    m_bDown = FALSE;
    m_bPercussion = FALSE;
    const CDib& image = m_bWhite ? s_dibWhiteUp : s_dibBlackUp;
    SetWindowPos(nullptr, 0, 0, image.m_info.bmWidth, image.m_info.bmHeight, SWP_NOMOVE | SWP_NOZORDER);
}

void CPianoKey::OnLButtonDown(UINT, CPoint)
{
    NoteOn();
    ShowCursor(IDC_HAND_PRESS);
}

void CPianoKey::OnLButtonUp(UINT, CPoint)
{
    NoteOff();
    ShowCursor(IDC_HAND_OPEN);
    // The panel releases every other sounding key and ends any drag.
    GetParent()->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM_POINT({0, 0}));
}

void CPianoKey::OnMouseMove(UINT flags, CPoint)
{
    // A glide: any mouse button, Shift or Ctrl held sounds each key the pointer crosses.
    if (flags != 0 && !m_bDown)
        NoteOn();
}

BOOL CPianoKey::OnSetCursor(CWnd*, UINT, UINT)
{
    ShowCursor(m_bDown ? IDC_HAND_PRESS : IDC_HAND_OPEN);
    return TRUE;
}
