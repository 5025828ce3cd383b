#pragma once
// The front panel set up on the real Qt host, as the program runs it, playing into a MIDI
// system of the benchmark's choosing. The panel is created without a modal run, so the
// benchmark drives it.

#include "app/panel_dlg.h"
#include "platform/qt/qt_host.h"

#include <memory>

class QtCanvas;

class PanelOnQtHost {
public:
    explicit PanelOnQtHost(MidiSystem& midi);
    ~PanelOnQtHost();
    PanelOnQtHost(const PanelOnQtHost&) = delete;
    PanelOnQtHost& operator=(const PanelOnQtHost&) = delete;

    CPanelDlg& Panel() { return *m_panel; }
    // The widget that shows the panel's client area and takes its input.
    QtCanvas* Canvas() const;
    // A menu command or control notification, as a click would send it.
    void Command(UINT id);

private:
    QtHost m_host;
    Host* m_previousHost;
    MidiSystem* m_previousMidi;
    std::unique_ptr<CPanelDlg> m_panel;
};
