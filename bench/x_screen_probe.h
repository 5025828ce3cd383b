#pragma once
// A client of an X display that looks at what other programs show: whether a window with a
// given name is mapped, and the pixels of a window as they are on the screen.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xcb_connection_t;

class XScreenProbe {
public:
    // Null when the display cannot be reached.
    static std::unique_ptr<XScreenProbe> Connect(const std::string& display);
    ~XScreenProbe();
    XScreenProbe(const XScreenProbe&) = delete;
    XScreenProbe& operator=(const XScreenProbe&) = delete;

    // A viewable top-level window whose name is `name`, or 0 when there is none.
    std::uint32_t FindVisibleWindow(const std::string& name);
    // The window's pixels, row by row; empty when it cannot be read (it went away).
    std::vector<std::uint8_t> Pixels(std::uint32_t window);
    // Asks the window's program to close it, as a window manager's close button does.
    void Close(std::uint32_t window);

private:
    XScreenProbe(xcb_connection_t* connection, std::uint32_t root) : m_connection(connection), m_root(root) {}

    xcb_connection_t* m_connection;
    std::uint32_t m_root;
};
