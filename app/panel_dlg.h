#pragma once
// The front panel: the one window of the program, a rack unit with its buttons, LED line,
// piano keys and program knob. Its operations are spread over the subsystem folders: set-up,
// painting, dragging and closing here in app/, commands and menus in app/panel_commands.cpp,
// the MIDI port and instrument selection in midi/, computer-keyboard playing in keys/, the
// backing and the chord key in backing/.

#include "backing/backing_player.h"
#include "keys/piano_key.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/midi_out.h"
#include "widgets/dib.h"
#include "widgets/led_display.h"
#include "widgets/program_knob.h"
#include "widgets/rack_button.h"

#include <array>

class CPanelDlg : public CDialog, private BackingPlayer::Output {
public:
    static constexpr int kKeyCount = 48;
    static constexpr int kKeyLampCount = 12;
    static constexpr int kStyleCount = 8;

    CPanelDlg();
    ~CPanelDlg() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The bare rack is grabbed again for a drag however soon after a click.
    UINT GetClassStyle() const override { return 0; }

    // ---- Commands and menus ----
    void FillPlayThruMenu();
    // Reads the device list again and brings the "Play Thru" items up to date.
    void RefreshPlayThruMenu();
    void OnPlayThru(UINT id);
    void ToggleMenuBar();
    void ShowKeyboardMapping();
    void ShowAbout();

    // ---- MIDI output ----
    BOOL OpenMidiOut(int device);
    void CloseMidiOut();
    void SendProgramChange(int program);
    void SendChordNote(int tone) override;
    void ChordNotesOff() override;
    void SendDrumNote(int note) override;
    void DrumNotesOff() override;

    // ---- Instrument, backing, chord key ----
    void OnInstrument(UINT id);
    void OnBackingStyle(UINT id);
    void OnChordKeyUp();
    void OnChordKeyDown();
    void OnChordKey(UINT id);

    void ApplySettings();
    void OnPower();

    // ---- State, in declaration order ----
    CDib m_dibRack;
    CMenu m_menu;
    CRackButton m_btnPower;
    CRackButton m_btnMenu;
    CRackButton m_btnHotKey;
    CRackButton m_btnAbout;
    std::array<CRackButton, kKeyLampCount> m_btnKeyLed;
    std::array<CRackButton, kStyleCount> m_btnStyle;
    CRackButton m_btnProgramDown;
    CRackButton m_btnProgramUp;
    CLedDisplay m_led;
    std::array<CPianoKey, kKeyCount> m_keys;
    CPoint m_ptDragAnchor{-1, 0};
    CProgramKnob m_knob;
    // The backing's style, step and chord key, which the panel's code names as its own below.
    BackingPlayer m_backing;
    UINT m_nGroup = 0;
    UINT m_nProgram = 0;
    UINT& m_nStep = m_backing.step;
    int& m_nStyle = m_backing.style;
    int& m_nKeyOffset = m_backing.keyOffset;
    HMIDIOUT m_hMidiOut = nullptr;
    int m_nDevice = -1;
    HICON m_hIcon = nullptr;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    BOOL OnCmdMsg(UINT id, int code) override;
    void OnPaint() override;
    HICON OnQueryDragIcon() override;
    void OnClose() override;
    void OnLButtonDown(UINT flags, CPoint point) override;
    void OnMouseMove(UINT flags, CPoint point) override;
    void OnLButtonUp(UINT flags, CPoint point) override;
    void OnTimer(UINT id) override;
    void OnActivate(UINT state, CWnd* other, BOOL minimized) override;
    void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) override;
    void OnKillFocus(CWnd* newWindow) override;
    void OnSysKeyDown(UINT virtualKey, UINT repeatCount, UINT flags) override;

private:
    void PlaceButtons();
    void CreateKeys();
    void CentreOnWorkArea();
    // Releases the keys held from the computer keyboard, whose key-ups will not arrive.
    void ReleaseKeyboardKeys();
    // Silences the notes this program may have left sounding on the open device.
    void SilenceOpenDevice();
    // The instrument chosen by a MIDI controller's program change, which has already sounded:
    // shown as a choice from the menu is, with nothing sent and no note ended.
    void ShowInputProgram(UINT program);
    // Every step of choosing an instrument but ending the controller's notes; the program
    // change is sent when `send` says so.
    void ChooseInstrument(UINT id, bool send);
    // Tells the MIDI input how the keys play now: the percussion map, the backing's chords.
    void UpdateInputRule();
    void LightOnly(CRackButton& off, CRackButton& on);
    // The separator and the device items, as the device list has them now.
    static void AppendDevices(CMenu& menu);
};
