#include "bench/panel_on_qt_host.h"

#include "platform/qt/qt_top_level.h"
#include "platform/window_manager.h"

#include <QCoreApplication>

PanelOnQtHost::PanelOnQtHost(MidiSystem& midi)
    : m_previousHost(SetHost(&m_host)), m_previousMidi(SetMidiSystem(&midi)),
      m_panel(std::make_unique<CPanelDlg>())
{
    WindowRegistry::Instance().SetMainWindow(m_panel.get());
    m_panel->Create();
    QCoreApplication::processEvents();
}

PanelOnQtHost::~PanelOnQtHost()
{
    m_panel.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetMidiSystem(m_previousMidi);
    SetHost(m_previousHost);
}

QtCanvas* PanelOnQtHost::Canvas() const { return m_host.NativeWindow(m_panel.get())->Canvas(); }

void PanelOnQtHost::Command(UINT id)
{
    m_panel->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
}
