#pragma once
// One of the 48 piano keys: a child window that draws itself from four shared images, plays
// and releases its own note through its copy of the output handle, and shows a hand cursor.

#include "keys/keyboard_state.h"
#include "platform/midi_out.h"
#include "platform/wnd.h"
#include "widgets/dib.h"

class CPianoKey : public CWnd {
public:
    CPianoKey();
    ~CPianoKey() override = default;

    // Presses the key for `source`; a key already down sounds on and sends nothing.
    void NoteOn(KeyboardState::Source source = KeyboardState::kMouse);
    void NoteOff();
    // The key held or let go elsewhere, by a MIDI controller whose notes sound without the
    // panel: drawn down while any source holds it, recorded with the note it sounds, and
    // nothing sent.
    void ShowHeldBy(KeyboardState::Source source);
    void ShowLetGoBy(KeyboardState::Source source);

    // A quick second press on a key sounds like any press: a musician repeats a note faster
    // than the desktop's double-click time.
    UINT GetClassStyle() const override { return 0; }

    // A screen reader knows a key as a button named by its note, "C4" for MIDI note 60,
    // pressed while down.
    AccessibleRole GetAccessibleRole() const override { return AccessibleRole::Button; }
    std::string GetAccessibleName() const override;
    AccessibleState GetAccessibleState() const override { return {.pressed = m_bDown != FALSE}; }

    int m_nNote = 0;
    BOOL m_bWhite = FALSE;
    BOOL m_bDown = FALSE;
    BOOL m_bPercussion = FALSE;
    HMIDIOUT m_hMidiOut = nullptr;
    // The panel's record of the keys that are down, shared by all 48: it keeps the channel and
    // note a key's note-on used, which its release must end even when the instrument has moved
    // between a program and the percussion map since.
    KeyboardState* m_pKeyboard = nullptr;

    static CDib s_dibWhiteUp;
    static CDib s_dibWhiteDown;
    static CDib s_dibBlackUp;
    static CDib s_dibBlackDown;

protected:
    int Index() const { return m_nNote - KeyboardState::kLowestNote; }
    void OnPaint() override;
    void OnShowWindow(BOOL show, UINT status) override;
    void OnLButtonDown(UINT flags, CPoint point) override;
    void OnLButtonUp(UINT flags, CPoint point) override;
    void OnMouseMove(UINT flags, CPoint point) override;
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message) override;
};
