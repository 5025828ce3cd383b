#pragma once
// What a window manager's frame will be before it has framed a window. Nothing off X11.

#include "platform/host.h"

#include <QWindow>

#include <optional>

// The frame an EWMH window manager will put around the window once it is shown, which it tells
// on request (_NET_REQUEST_FRAME_EXTENTS) for a window not yet mapped. Nothing when no such
// window manager runs or it does not answer within a moment.
std::optional<FrameInsets> RequestX11FrameExtents(WId window);
