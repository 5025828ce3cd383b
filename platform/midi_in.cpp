#include "platform/midi_in.h"

#include "platform/midi_out.h"
#include "platform/window_manager.h"

#include <atomic>
#include <mutex>

namespace {

// Hands what the inputs report, on their threads, to the window's thread as its messages. A
// kind of news already on its way is not sent again: its message reads the latest when it is
// handled, so however much comes in, no more than one message of each kind waits.
class WindowListener : public MidiInputListener {
public:
    void SetWindow(CWnd* window)
    {
        std::lock_guard lock(m_mutex);
        m_window = window;
        m_waiting.store(0);
    }

    void KeysChanged() override { Tell(kKeys); }
    void ProgramChosen(int program) override
    {
        m_program.store(program);
        Tell(kProgram);
    }
    void ChordKeyChosen(int note) override
    {
        m_chordNote.store(note);
        Tell(kChord);
    }

private:
    enum News : unsigned { kProgram = 1, kChord = 2, kKeys = 4 };

    void Tell(News news)
    {
        if (m_waiting.fetch_or(news) != 0)
            return; // a message is on its way and will carry this too
        CWnd* window = nullptr;
        {
            std::lock_guard lock(m_mutex);
            window = m_window;
        }
        if (window)
            TheHost().CallSoon([this, window] { Deliver(window); });
    }

    // The program first, so that the keys after it are drawn with the instrument they play.
    void Deliver(CWnd* window)
    {
        const unsigned news = m_waiting.exchange(0);
        // The window may have gone while the call waited.
        if (!WindowRegistry::Instance().IsLive(window))
            return;
        if (news & kProgram)
            window->SendMessage(WM_MIDI_INPUT_PROGRAM, WPARAM(m_program.load()), 0);
        if (news & kChord)
            window->SendMessage(WM_MIDI_INPUT_CHORD, WPARAM(m_chordNote.load()), 0);
        if (news & kKeys)
            window->SendMessage(WM_MIDI_INPUT_KEYS, 0, 0);
        WindowManager::Instance().ProcessPosted();
    }

    std::mutex m_mutex;
    CWnd* m_window = nullptr;
    std::atomic<unsigned> m_waiting{0};
    std::atomic<int> m_program{0};
    std::atomic<int> m_chordNote{0};
};

WindowListener g_listener;
// The record of a program with no MIDI system, whose keys are still pressed.
HeldKeys g_keysWithoutSystem;

} // namespace

void midiInListen(CWnd* window)
{
    g_listener.SetWindow(window);
    if (MidiSystem* system = CurrentMidiSystem())
        system->ListenToInput(window ? &g_listener : nullptr);
}

void midiInSetRule(int program, bool chordsFromLowNotes)
{
    if (MidiSystem* system = CurrentMidiSystem())
        system->SetInputRule({program, chordsFromLowNotes});
}

void midiInEndNotes()
{
    if (MidiSystem* system = CurrentMidiSystem())
        system->EndInputNotes();
}

HeldKeys& midiHeldKeys()
{
    MidiSystem* system = CurrentMidiSystem();
    return system ? system->Keys() : g_keysWithoutSystem;
}
