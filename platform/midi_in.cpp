#include "platform/midi_in.h"

#include "platform/midi_out.h"
#include "platform/window_manager.h"

#include <mutex>

namespace {

// Hands what the inputs report, on their threads, to the window's thread as its messages.
class WindowListener : public MidiInputListener {
public:
    void SetWindow(CWnd* window)
    {
        std::lock_guard lock(m_mutex);
        m_window = window;
    }

    void NoteHeld(int note, bool down) override { Tell(WM_MIDI_INPUT_NOTE, note, down ? 1 : 0); }
    void ProgramChosen(int program) override { Tell(WM_MIDI_INPUT_PROGRAM, program, 0); }
    void ChordKeyChosen(int note) override { Tell(WM_MIDI_INPUT_CHORD, note, 0); }

private:
    void Tell(UINT message, int wParam, int lParam)
    {
        std::lock_guard lock(m_mutex);
        if (!m_window)
            return;
        CWnd* window = m_window;
        TheHost().CallSoon([window, message, wParam, lParam] {
            // The window may have gone while the call waited.
            if (!WindowRegistry::Instance().IsLive(window))
                return;
            window->SendMessage(message, WPARAM(wParam), LPARAM(lParam));
            WindowManager::Instance().ProcessPosted();
        });
    }

    std::mutex m_mutex;
    CWnd* m_window = nullptr;
};

WindowListener g_listener;

} // namespace

void midiInListen(CWnd* window)
{
    g_listener.SetWindow(window);
    if (MidiSystem* system = CurrentMidiSystem())
        system->ListenToInput(window ? &g_listener : nullptr);
}

void midiInSetRule(bool percussion, bool chordsFromLowNotes)
{
    if (MidiSystem* system = CurrentMidiSystem())
        system->SetInputRule({percussion, chordsFromLowNotes});
}

void midiInEndNotes()
{
    if (MidiSystem* system = CurrentMidiSystem())
        system->EndInputNotes();
}
