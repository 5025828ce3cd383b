#include "app/panel_app.h"

#include "app/panel_dlg.h"

CPanelApp theApp;

BOOL CPanelApp::InitInstance()
{
    CPanelDlg panel;
    m_pMainWnd = &panel;
    panel.DoModal();
    m_pMainWnd = nullptr;
    // The panel is gone; the program ends without entering a message loop of its own.
    return FALSE;
}

void CPanelApp::CloseOutput()
{
    if (m_pMainWnd != nullptr)
        static_cast<CPanelDlg*>(m_pMainWnd)->CloseMidiOut();
}
