#pragma once
// A front panel set up on the test host, playing into a recording MIDI system.

#include "app/panel_dlg.h"
#include "tests/recording_midi_system.h"
#include "tests/test_host.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

class PanelTest : public ::testing::Test {
protected:
    TestHost host;
    RecordingMidiSystem midi{{"Port A", "Port B"}};
    std::unique_ptr<CPanelDlg> panel;

    void SetUp() override
    {
        m_previousMidi = SetMidiSystem(&midi);
        // Waits inside an operation block the thread: the clock moves, nothing else runs.
        midi.OnSleep([this](DWORD ms) { host.Block(ms); });
    }

    void TearDown() override
    {
        panel.reset();
        SetMidiSystem(m_previousMidi);
    }

    // Constructs the panel and runs its set-up, as the modal run would before showing it.
    void Start()
    {
        panel = std::make_unique<CPanelDlg>();
        WindowRegistry::Instance().SetMainWindow(panel.get());
        panel->Create();
    }

    void StartAndForget()
    {
        Start();
        midi.ClearLog();
    }

    CPanelDlg& Panel() { return *panel; }
    CWnd* Top() { return panel.get(); }

    // Messages sent on the handle that is open now.
    std::vector<DWORD> Sent() const { return midi.Messages(midi.LastHandle()); }

    // A point inside a child window, in the panel's client area.
    static CPoint Inside(const CWnd& window, int dx = 2, int dy = 2)
    {
        const CRect rect = window.RectInParent();
        return {rect.left + dx, rect.top + dy};
    }
    static CPoint Centre(const CWnd& window)
    {
        const CRect rect = window.RectInParent();
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    void ClickOn(const CWnd& window)
    {
        host.Click(Top(), Centre(window));
        host.Advance(1000); // far apart from the next click
    }

    void Command(UINT id, WORD code = 0)
    {
        panel->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), code), 0);
    }

private:
    MidiSystem* m_previousMidi = nullptr;
};
