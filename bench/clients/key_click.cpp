// The least a keyboard program can do on PipeWire, as the yardstick beside Varnek in
// tools/audio_bench.py: a window of its own on the X display (titled "Key click"), and on every
// key press a click from the first frame of the next graph cycle (see click_stream.h). The X
// connection is read on a thread of its own that does nothing else. It prints, on standard
// error, when it saw each key and the graph's time of the cycle each click began in.
//
//     varnek_key_click [--latency 128]
#include "bench/clients/click_stream.h"

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

constexpr const char* kTitle = "Key click";
constexpr int kRate = 48000;

xcb_atom_t Atom(xcb_connection_t* x, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(x, xcb_intern_atom(x, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The title and the process, by which the benchmark finds the window.
void Name(xcb_connection_t* x, xcb_window_t window)
{
    const auto length = std::uint32_t(std::strlen(kTitle));
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, length,
                        kTitle);
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, Atom(x, "_NET_WM_NAME"), Atom(x, "UTF8_STRING"), 8,
                        length, kTitle);
    const auto pid = std::uint32_t(getpid());
    xcb_change_property(x, XCB_PROP_MODE_REPLACE, window, Atom(x, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1,
                        &pid);
}

xcb_window_t ShowWindow(xcb_connection_t* x)
{
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x)).data;
    const xcb_window_t window = xcb_generate_id(x);
    const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(x, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 200, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    Name(x, window);
    xcb_map_window(x, window);
    xcb_flush(x);
    return window;
}

double MonotonicSeconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// Prints the cycle of every new click, away from the real-time thread.
void ReportClicks(const ClickStream& stream)
{
    std::uint64_t reported = 0;
    for (;;) {
        const std::uint64_t cycle = stream.LastClickCycleNsec();
        if (cycle != reported) {
            std::fprintf(stderr, "key-click: click in the cycle of %llu ns\n",
                         static_cast<unsigned long long>(cycle));
            reported = cycle;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace

int main(int argc, char** argv)
{
    int latency = 128;
    if (argc == 3 && std::strcmp(argv[1], "--latency") == 0)
        latency = std::atoi(argv[2]);
    ClickStream stream(latency, kRate);
    if (!stream.Start()) {
        std::fprintf(stderr, "key-click: no PipeWire graph to play in\n");
        return 1;
    }
    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "key-click: no X display\n");
        return 1;
    }
    ShowWindow(x);
    std::thread(ReportClicks, std::cref(stream)).detach();
    while (xcb_generic_event_t* event = xcb_wait_for_event(x)) {
        if ((event->response_type & 0x7f) == XCB_KEY_PRESS) {
            stream.Click();
            std::fprintf(stderr, "key-click: key seen at %.6f\n", MonotonicSeconds());
        }
        std::free(event);
    }
    xcb_disconnect(x);
    return 0;
}
