#include "platform/qt/x11_frame_extents.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include <xcb/xcb.h>

// Xlib's headers define macros (None, Bool, ...) that clash with other headers, so they come
// last and stay in this file.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XI2.h>

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

// _NET_FRAME_EXTENTS gives left, right, top, bottom.
std::optional<FrameInsets> FrameExtents(Display* display, Window window)
{
    const auto frame =
        Property(display, window, XInternAtom(display, "_NET_FRAME_EXTENTS", False), XA_CARDINAL);
    if (!frame || frame->size() != 4)
        return std::nullopt;
    return FrameInsets{static_cast<int>((*frame)[0]), static_cast<int>((*frame)[2]),
                       static_cast<int>((*frame)[1]), static_cast<int>((*frame)[3])};
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
    // The answer is a property on the window.
    QElapsedTimer waited;
    waited.start();
    do {
        if (const std::optional<FrameInsets> frame = FrameExtents(display, window))
            return frame;
        QThread::msleep(1);
    } while (waited.elapsed() < kAnswerWaitMs);
    return std::nullopt;
}

bool X11FramesAnnounced()
{
    Display* display = X11Display();
    return display != nullptr &&
           WindowManagerOffers(display, XInternAtom(display, "_NET_FRAME_EXTENTS", False));
}

std::optional<FrameInsets> MeasureX11Frame(WId window)
{
    Display* display = X11Display();
    if (display == nullptr || window == 0)
        return std::nullopt;
    const Window root = DefaultRootWindow(display);
    int clientX = 0;
    int clientY = 0;
    Window child = 0;
    XWindowAttributes client{};
    if (!XGetWindowAttributes(display, window, &client) ||
        !XTranslateCoordinates(display, window, root, 0, 0, &clientX, &clientY, &child))
        return std::nullopt;
    // The outermost window below the root that holds the client: the frame, or the client.
    Window outer = window;
    for (;;) {
        Window treeRoot = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(display, outer, &treeRoot, &parent, &children, &count))
            return std::nullopt;
        if (children != nullptr)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        outer = parent;
    }
    XWindowAttributes frame{};
    if (!XGetWindowAttributes(display, outer, &frame))
        return std::nullopt;
    // A window's place is that of its border's outer corner; its size leaves the border out.
    const int border = frame.border_width;
    return FrameInsets{clientX - frame.x, clientY - frame.y,
                       frame.x + frame.width + 2 * border - clientX - client.width,
                       frame.y + frame.height + 2 * border - clientY - client.height};
}

std::optional<int> X11WindowConfigured(const QByteArray& eventType, const void* message, WId window)
{
    if (eventType != "xcb_generic_event_t")
        return std::nullopt;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const auto* configure = static_cast<const xcb_configure_notify_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_CONFIGURE_NOTIFY || configure->window != window)
        return std::nullopt;
    return configure->border_width;
}

std::optional<QRect> X11ClientPlace(WId window)
{
    Display* display = X11Display();
    int x = 0;
    int y = 0;
    Window child = 0;
    XWindowAttributes attributes{};
    if (display == nullptr || window == 0 || !XGetWindowAttributes(display, window, &attributes) ||
        !XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child))
        return std::nullopt;
    return QRect(x, y, attributes.width, attributes.height);
}

bool X11WindowMapped(const QByteArray& eventType, const void* message, WId window)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    return (event->response_type & 0x7F) == XCB_MAP_NOTIFY &&
           static_cast<const xcb_map_notify_event_t*>(message)->window == window;
}

std::optional<FrameInsets> X11FrameAnnounced(const QByteArray& eventType, const void* message, WId window)
{
    if (eventType != "xcb_generic_event_t")
        return std::nullopt;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY)
        return std::nullopt;
    const auto* changed = static_cast<const xcb_property_notify_event_t*>(message);
    Display* display = X11Display();
    if (display == nullptr || changed->window != window ||
        changed->atom != XInternAtom(display, "_NET_FRAME_EXTENTS", False))
        return std::nullopt;
    return FrameExtents(display, window);
}

namespace {
// The major opcode of the input extension, whose events Qt reads the pointer from where the
// server has it; -1 without.
int InputExtensionOpcode(Display* display)
{
    static const int opcode = [display] {
        int major = -1;
        int firstEvent = 0;
        int firstError = 0;
        return XQueryExtension(display, "XInputExtension", &major, &firstEvent, &firstError) ? major : -1;
    }();
    return opcode;
}

// The start of an input extension's device event as libxcb hands it: the wire's layout with the
// full sequence number after the first 32 bytes.
struct DeviceEventFromXcb {
    std::uint8_t type;
    std::uint8_t extension;
    std::uint16_t sequence;
    std::uint32_t length;
    std::uint16_t evtype;
    std::uint16_t device;
    std::uint32_t time;
    std::uint32_t detail;
    std::uint32_t root;
    std::uint32_t event;
    std::uint32_t child;
    std::uint32_t fullSequence;
    // 16.16 fixed point.
    std::int32_t rootX;
    std::int32_t rootY;
    std::int32_t eventX;
    std::int32_t eventY;
};

bool IsPointerEvent(std::uint16_t type)
{
    return type == XI_ButtonPress || type == XI_ButtonRelease || type == XI_Motion;
}
} // namespace

std::optional<QPoint> X11WindowCornerAtPointerEvent(const QByteArray& eventType, const void* message,
                                                    WId window)
{
    if (eventType != "xcb_generic_event_t")
        return std::nullopt;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const std::uint8_t type = event->response_type & 0x7F;
    // The core events, where the server has no input extension.
    if (type == XCB_BUTTON_PRESS || type == XCB_BUTTON_RELEASE || type == XCB_MOTION_NOTIFY) {
        const auto* pointer = static_cast<const xcb_button_press_event_t*>(message);
        if (pointer->event != window)
            return std::nullopt;
        return QPoint(pointer->root_x - pointer->event_x, pointer->root_y - pointer->event_y);
    }
    Display* display = X11Display();
    const auto* generic = static_cast<const xcb_ge_generic_event_t*>(message);
    if (type != XCB_GE_GENERIC || display == nullptr || generic->extension != InputExtensionOpcode(display))
        return std::nullopt;
    DeviceEventFromXcb device;
    std::memcpy(&device, message, sizeof device);
    if (!IsPointerEvent(device.evtype) || device.event != window)
        return std::nullopt;
    // The window's corner lies on a whole pixel.
    return QPoint((device.rootX - device.eventX) >> 16, (device.rootY - device.eventY) >> 16);
}

void MoveX11Client(WId window, QPoint place)
{
    // The window asks for static gravity, so the window manager takes the position as the
    // client's own and moves its frame around it. A window manager that frames the window with
    // a border of the window's own takes the position as the border's outer corner.
    Display* display = X11Display();
    XWindowAttributes attributes{};
    if (display == nullptr || !XGetWindowAttributes(display, window, &attributes))
        return;
    XMoveWindow(display, window, place.x() - attributes.border_width, place.y() - attributes.border_width);
    XFlush(display);
}
