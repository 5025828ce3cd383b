#include "platform/qt/x11_display.h"

#include <cstdlib>
#include <string_view>

#include <xcb/xcb.h>

namespace {
bool QtWillUseX11()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return std::string_view(platform).starts_with("xcb");
    // Without a choice Qt may take Wayland where a Wayland display is; whether that works is
    // Qt's to say.
    return std::getenv("WAYLAND_DISPLAY") == nullptr;
}
} // namespace

std::optional<std::string> X11DisplayProblem()
{
    if (!QtWillUseX11())
        return std::nullopt;
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return "no display to show the window on: DISPLAY is not set";
    // A connection of our own, closed at once: Qt opens its own and has no way to report that
    // it failed but to abort.
    xcb_connection_t* connection = xcb_connect(name, nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (reached)
        return std::nullopt;
    return std::string("cannot open display ") + name;
}
