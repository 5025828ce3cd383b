#include "platform/qt/x11_auto_repeat.h"

#include <QGuiApplication>

// Xlib's headers define macros (None, Bool, KeyPress, ...) that clash with other headers, so
// they come last and stay in this file.
#include <X11/XKBlib.h>

void UseDetectableAutoRepeat()
{
    auto* x11 = qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->display() == nullptr)
        return;
    Bool supported = False;
    XkbSetDetectableAutoRepeat(x11->display(), True, &supported);
}
