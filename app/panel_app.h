#pragma once
// The application object: runs the front panel modally, then lets the program end.

#include "platform/win_app.h"

class CPanelApp : public CWinApp {
public:
    BOOL InitInstance() override;
    // Silences and closes the panel's output, if the panel is running, as POWER does.
    void CloseOutput();
};

extern CPanelApp theApp;
