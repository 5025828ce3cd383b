#include "platform/qt/x11_keyboard.h"

#include <QGuiApplication>

// Xlib's headers define macros (None, Bool, KeyPress, ...) that clash with other headers, so
// they come last and stay in this file.
#include <X11/XKBlib.h>

namespace {
Display* X11Display()
{
    auto* x11 = qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->display() : nullptr;
}
} // namespace

void UseDetectableAutoRepeat()
{
    if (Display* display = X11Display()) {
        Bool supported = False;
        XkbSetDetectableAutoRepeat(display, True, &supported);
    }
}

void TakeX11InputFocus(WId window)
{
    Display* display = X11Display();
    if (display == nullptr || window == 0)
        return;
    // Only a viewable window can take the focus; asking for its state also sends Qt's pending
    // map request first.
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return;
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XFlush(display);
}
