#pragma once
// One of the 48 piano keys: a child window that draws itself from four shared images, plays
// and releases its own note through its copy of the output handle, and shows a hand cursor.

#include "platform/midi_out.h"
#include "platform/wnd.h"
#include "sound/held_keys.h"
#include "widgets/dib.h"

class CPianoKey : public CWnd {
public:
    CPianoKey();
    ~CPianoKey() override = default;

    // `source` presses the key: the first to hold it sends its note-on; a key held already,
    // by whoever, sounds on and sends nothing.
    void NoteOn(HeldKeys::Source source = HeldKeys::Source::Mouse());
    // `source` lets go of the key: the last to let go sends the note-off of the note-on that
    // started it; a key another source still holds sounds on.
    void NoteOff(HeldKeys::Source source = HeldKeys::Source::Mouse());
    bool IsHeldBy(HeldKeys::Source source) const { return m_pKeyboard->IsHeldBy(m_nNote, source); }
    // Draws the key as the record has it now: a MIDI input took it or let go of it.
    void ShowHeld();

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
    // Who holds each key, shared by all 48 and by the MIDI inputs: it keeps the channel, note
    // and route a key's note-on used, which its release must end even when the instrument has
    // moved between a program and the percussion map since.
    HeldKeys* m_pKeyboard = nullptr;

    static CDib s_dibWhiteUp;
    static CDib s_dibWhiteDown;
    static CDib s_dibBlackUp;
    static CDib s_dibBlackDown;

protected:
    void OnPaint() override;
    void OnShowWindow(BOOL show, UINT status) override;
    void OnLButtonDown(UINT flags, CPoint point) override;
    void OnLButtonUp(UINT flags, CPoint point) override;
    void OnMouseMove(UINT flags, CPoint point) override;
    BOOL OnSetCursor(CWnd* window, UINT hitTest, UINT message) override;
};
