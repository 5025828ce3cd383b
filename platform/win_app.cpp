#include "platform/win_app.h"

#include "platform/window_registry.h"

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd()
{
    CWinApp* app = AfxGetApp();
    if (app != nullptr && app->m_pMainWnd != nullptr && WindowRegistry::Instance().IsLive(app->m_pMainWnd))
        return app->m_pMainWnd;
    return WindowRegistry::Instance().MainWindow();
}
