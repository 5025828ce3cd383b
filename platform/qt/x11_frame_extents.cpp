#include "platform/qt/x11_frame_extents.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <algorithm>
#include <vector>

// Xlib's headers define macros (None, Bool, ...) that clash with other headers, so they come
// last and stay in this file.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {
constexpr int kAnswerWaitMs = 200;

Display* X11Display()
{
    auto* x11 = qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->display() : nullptr;
}

// A window property of 32-bit items (Xlib hands them as longs).
std::optional<std::vector<long>> Property(Display* display, Window window, Atom name, Atom type)
{
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, name, 0, 1024, False, type, &actualType, &format, &count,
                           &remaining, &data) != Success)
        return std::nullopt;
    std::optional<std::vector<long>> items;
    if (data != nullptr && actualType == type && format == 32) {
        const auto* values = reinterpret_cast<const long*>(data);
        items.emplace(values, values + count);
    }
    if (data != nullptr)
        XFree(data);
    return items;
}

bool WindowManagerOffers(Display* display, Atom feature)
{
    const auto supported =
        Property(display, DefaultRootWindow(display), XInternAtom(display, "_NET_SUPPORTED", False), XA_ATOM);
    return supported &&
           std::find(supported->begin(), supported->end(), static_cast<long>(feature)) != supported->end();
}
} // namespace

std::optional<FrameInsets> RequestX11FrameExtents(WId window)
{
    Display* display = X11Display();
    if (display == nullptr || window == 0)
        return std::nullopt;
    const Atom request = XInternAtom(display, "_NET_REQUEST_FRAME_EXTENTS", False);
    if (!WindowManagerOffers(display, request))
        return std::nullopt;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = request;
    event.xclient.format = 32;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XSync(display, False);
    // The answer is a property on the window: left, right, top, bottom.
    const Atom extents = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    QElapsedTimer waited;
    waited.start();
    do {
        const auto frame = Property(display, window, extents, XA_CARDINAL);
        if (frame && frame->size() == 4)
            return FrameInsets{static_cast<int>((*frame)[0]), static_cast<int>((*frame)[2]),
                               static_cast<int>((*frame)[1]), static_cast<int>((*frame)[3])};
        QThread::msleep(1);
    } while (waited.elapsed() < kAnswerWaitMs);
    return std::nullopt;
}
