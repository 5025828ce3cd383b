#pragma once
// One of the 48 piano keys: a child window that draws itself from four shared images, plays
// and releases its own note through its copy of the output handle, and shows a hand cursor.

#include "platform/midi_out.h"
#include "platform/wnd.h"
#include "widgets/dib.h"

class CPianoKey : public CWnd {
public:
    CPianoKey();
    ~CPianoKey() override = default;

    void NoteOn();
    void NoteOff();

    int m_nNote = 0;
    BOOL m_bWhite = FALSE;
    BOOL m_bDown = FALSE;
    BOOL m_bPercussion = FALSE;
    // The encoding the sounding note went out with: its release must end that note, even when
    // the instrument has moved between a program and the percussion map since.
    BOOL m_bSoundingPercussion = FALSE;
    HMIDIOUT m_hMidiOut = nullptr;

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
