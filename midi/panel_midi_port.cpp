// The panel's one MIDI output port: opening with retries, closing, and the messages the panel
// itself sends.

#include "app/panel_dlg.h"
#include "midi/midi_messages.h"
#include "platform/midi_in.h"

namespace {
constexpr int kCloseAttempts = 4;
// The waits after each failed open: 400 ms longer each time, the last one too.
constexpr DWORD kOpenWaits[] = {800, 1200, 1600, 2000};
constexpr DWORD kCloseRetryWait = 500;
constexpr UINT kPercussionMap = 128;

constexpr const char* kOpenFailedText =
    "Can't open specified MIDI out device, \nplease change to another by 'Play Thru' menu. ";
constexpr const char* kOpenFailedCaption = "Warring";
} // namespace

void CPanelDlg::SilenceOpenDevice()
{
    for (const BYTE channel : {midi::kKeysChannel, midi::kChordChannel, midi::kDrumChannel})
        midiOutShortMsg(m_hMidiOut, AllNotesOffMessage(channel));
}

BOOL CPanelDlg::OpenMidiOut(int device)
{
    if (m_hMidiOut != nullptr) {
        midiInEndNotes();
        SilenceOpenDevice();
        for (int attempt = 0; attempt < kCloseAttempts; ++attempt)
            if (midiOutClose(m_hMidiOut) == MMSYSERR_NOERROR)
                break;
    }
    HMIDIOUT handle = nullptr;
    for (const DWORD wait : kOpenWaits) {
        if (midiOutOpen(&handle, static_cast<UINT>(device), 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR) {
            m_hMidiOut = handle;
            for (CPianoKey& key : m_keys)
                key.m_hMidiOut = handle;
            return TRUE;
        }
        Sleep(wait);
    }
    m_hMidiOut = nullptr;
    for (CPianoKey& key : m_keys)
        key.m_hMidiOut = nullptr;
    MessageBoxA(this, kOpenFailedText, kOpenFailedCaption, MB_OK);
    return FALSE;
}

void CPanelDlg::CloseMidiOut()
{
    if (m_hMidiOut == nullptr)
        return;
    midiInEndNotes();
    SilenceOpenDevice();
    if (midiOutClose(m_hMidiOut) != MMSYSERR_NOERROR) {
        Sleep(kCloseRetryWait);
        midiOutClose(m_hMidiOut);
    }
}

void CPanelDlg::SendProgramChange(int program)
{
    if (program == static_cast<int>(kPercussionMap))
        return;
    midiOutShortMsg(m_hMidiOut, ProgramChangeMessage(midi::kKeysChannel, program));
    midiOutShortMsg(m_hMidiOut, ProgramChangeMessage(midi::kChordChannel, program));
}

void CPanelDlg::SendChordNote(int tone) { midiOutShortMsg(m_hMidiOut, ChordNoteMessage(tone, m_nKeyOffset)); }
void CPanelDlg::ChordNotesOff() { midiOutShortMsg(m_hMidiOut, AllNotesOffMessage(midi::kChordChannel)); }
void CPanelDlg::SendDrumNote(int note) { midiOutShortMsg(m_hMidiOut, DrumNoteMessage(note)); }
void CPanelDlg::DrumNotesOff() { midiOutShortMsg(m_hMidiOut, AllNotesOffMessage(midi::kDrumChannel)); }
