#pragma once
// The application object: one per program, whose InitInstance runs the whole program.

#include "platform/wnd.h"

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();

    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The application's main window while it is live, else the window made the main one.
CWnd* AfxGetMainWnd();
