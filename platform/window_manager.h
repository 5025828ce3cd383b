#pragma once
// The one place that routes input to our windows: mouse capture and hit testing, double-click
// detection, keyboard messages through PreTranslateMessage, posted messages, timers and the
// painting of a top-level window's tree. Hosts feed it native events.

#include "platform/wnd.h"

#include <cstdint>

enum class MouseAction { Press, Release, Move };

struct MouseInput {
    MouseAction action = MouseAction::Move;
    UINT button = 0;  // MK_LBUTTON, MK_RBUTTON or MK_MBUTTON for presses and releases
    CPoint point;     // in the top-level window's client area
    UINT buttons = 0; // MK_ flags of the buttons held after the event
    bool shift = false;
    bool control = false;
    std::uint64_t timeMs = 0;
};

struct KeyInput {
    bool down = true;
    int scanCode = 0; // set-1 make code
    bool extended = false;
    int repeatCount = 1;
    bool previouslyDown = false;
    bool system = false; // Alt combinations and F10 belong to the menu bar
    UINT virtualKey = 0; // 'A' to 'Z' for a letter key as the layout labels it, else 0
};

class WindowManager {
public:
    static WindowManager& Instance();

    // ---- From the host ----
    void Mouse(CWnd* top, const MouseInput& input);
    // A screen reader's press of a control: the left button pressed on the window, or let go
    // again, as the mouse gives them with the pointer at its centre. The press goes to the
    // window itself and is never taken for a double-click.
    void PressLeftOn(CWnd* window);
    void ReleaseLeftFrom(CWnd* window);
    // Returns true when the program consumed the key. A system key is no key of the panel's:
    // it reaches the window as a system key message, after the menu bar has passed it over.
    bool Key(CWnd* top, const KeyInput& input);
    void Timer(CWnd* window, UINT id);
    void CloseRequested(CWnd* top);
    void MenuCommand(CWnd* top, UINT id);
    // `popup`, at `index` in its parent menu, is about to open.
    void MenuPopupOpening(CWnd* top, CMenu* popup, UINT index);
    void Activated(CWnd* top, bool active);
    // Something else of ours took the keyboard from an active top-level window: a popup menu or
    // the menu bar. The keys held down there send their releases elsewhere.
    void KeyboardLost(CWnd* top);
    // The user moved a top-level window (its outer rectangle on the screen).
    void NativeMoved(CWnd* top, const CRect& outer);
    void ProcessPosted();
    // Paints a top-level window's tree, bottom-up, within `dirty` (client pixels), into a
    // drawing context over the host's painter.
    void Paint(CWnd* top, CDC& dc, const CRect& dirty);

private:
    WindowManager() = default;
    static bool IsLive(const CWnd* window) { return WindowRegistry::Instance().IsLive(window); }
    UINT MessageForPress(CWnd* target, const MouseInput& input);
    void LeftAtCentre(CWnd* window, UINT message, UINT flags);
    void PaintWindow(CWnd* window, CDC& dc, const CRect& clip, CPoint origin);

    // The last left press, for double-click detection; its window is in the registry.
    CPoint m_lastPressPoint;
    std::uint64_t m_lastPressTime = 0;
    bool m_lastWasDoubleClick = false;
};
