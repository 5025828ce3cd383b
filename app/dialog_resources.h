#pragma once
// The program's dialog resources: the front panel, Keyboard Mapping and About.

#include "platform/dialog_template.h"

extern const DialogTemplate g_dlgPanel;
extern const DialogTemplate g_dlgKeyboardMapping;
extern const DialogTemplate g_dlgAbout;
