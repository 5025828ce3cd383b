#include "keys/piano_key.h"

#include "midi/midi_messages.h"
#include "res/resource_ids.h"

#include <string>

CDib CPianoKey::s_dibWhiteUp;
CDib CPianoKey::s_dibWhiteDown;
CDib CPianoKey::s_dibBlackUp;
CDib CPianoKey::s_dibBlackDown;

namespace {
// Where a note-on goes: its channel, note and output.
HeldKeys::Sounding SoundingOf(DWORD noteOn, HMIDIOUT output)
{
    return {BYTE(noteOn & 0x0F), BYTE((noteOn >> 8) & 0xFF), reinterpret_cast<std::uintptr_t>(output), true};
}

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

void CPianoKey::NoteOn(HeldKeys::Source source)
{
    if (!m_pKeyboard->Press(m_nNote, source)) {
        ShowHeld();
        return;
    }
    const DWORD message = KeyNoteMessage(m_nNote, m_bPercussion, true);
    midiOutShortMsg(m_hMidiOut, message);
    m_pKeyboard->Sounded(m_nNote, SoundingOf(message, m_hMidiOut));
    ShowHeld();
}

void CPianoKey::NoteOff(HeldKeys::Source source)
{
    if (!IsHeldBy(source))
        return;
    const auto sounding = m_pKeyboard->LetGo(m_nNote, source);
    ShowHeld();
    if (sounding && sounding->sounds)
        midiOutShortMsg(m_hMidiOut, NoteOffMessage(sounding->channel, sounding->note));
}

void CPianoKey::ShowHeld()
{
    const BOOL down = m_pKeyboard->IsDown(m_nNote) ? TRUE : FALSE;
    if (down == m_bDown)
        return;
    m_bDown = down;
    Invalidate(TRUE);
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
    // Shown anew, a key the panel held is up and never sounded here.
    if (m_bDown) {
        m_pKeyboard->LetGo(m_nNote, HeldKeys::Source::Mouse());
        m_pKeyboard->LetGo(m_nNote, HeldKeys::Source::ComputerKey());
    }
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
    // A glide: any mouse button, Shift or Ctrl held sounds each key the pointer crosses, and
    // holds it too where another source already does.
    if (flags != 0 && !IsHeldBy(HeldKeys::Source::Mouse()))
        NoteOn();
}

BOOL CPianoKey::OnSetCursor(CWnd*, UINT, UINT)
{
    ShowCursor(m_bDown ? IDC_HAND_PRESS : IDC_HAND_OPEN);
    return TRUE;
}
