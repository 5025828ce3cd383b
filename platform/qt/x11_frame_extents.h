#pragma once
// The frame an X11 window manager puts around a window: what it will be before the window is
// framed, what it is once it has been, and where the client ends up inside it. Nothing off X11.

#include "platform/host.h"

#include <QByteArray>
#include <QPoint>
#include <QRect>
#include <QWindow>

#include <optional>

// The frame an EWMH window manager will put around the window once it is shown, which it tells
// on request (_NET_REQUEST_FRAME_EXTENTS) for a window not yet mapped. Nothing when no such
// window manager runs or it does not answer within a moment.
std::optional<FrameInsets> RequestX11FrameExtents(WId window);

// The frame around `window` as it stands on the screen, measured from the window manager's frame
// window (or, where there is none, the window's own border) to the client area. Nothing off X11.
std::optional<FrameInsets> MeasureX11Frame(WId window);

// Whether the window manager announces the frames it draws (_NET_FRAME_EXTENTS); some keep
// announcing a frame they have taken away.
bool X11FramesAnnounced();

// The border the window manager has given `window` itself, when `message` is the native event
// that tells its place and size has changed; nothing for any other event.
std::optional<int> X11WindowConfigured(const QByteArray& eventType, const void* message, WId window);

// Where the window's client area is on the screen now, in the screen's own pixels, as the X
// server has it; nothing off X11.
std::optional<QRect> X11ClientPlace(WId window);

// Whether `message` is the native event that tells that `window` is now mapped on the screen.
bool X11WindowMapped(const QByteArray& eventType, const void* message, WId window);

// The frame the window manager has just announced for `window` (_NET_FRAME_EXTENTS), when
// `message` is a native event that says it changed; nothing for any other event.
std::optional<FrameInsets> X11FrameAnnounced(const QByteArray& eventType, const void* message, WId window);

// Where the corner of `window` lay on the screen, in the screen's own pixels, when the pointer
// event in `message` happened on it: exact, as the X server placed the window, which may not yet
// be where the program last asked. Nothing for any other event.
std::optional<QPoint> X11WindowCornerAtPointerEvent(const QByteArray& eventType, const void* message,
                                                    WId window);

// Asks the window manager to put the top-left corner of the window's client area at `place`,
// in the screen's own pixels, whatever Qt believes about where the window is, and whatever
// border the window manager has given the window itself.
void MoveX11Client(WId window, QPoint place);
