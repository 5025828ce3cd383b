#pragma once
// Which of our windows exist, the roles one of them can hold among them (the mouse capture,
// the keyboard focus, the main window, the window of the last left press), and the messages
// posted to them that wait to be handled. A window that goes is forgotten in every role and
// loses what was posted to it. Windows are known here only by their address, so the windows
// and the code that routes input to them both stand on this, and neither on the other.

#include "platform/win_types.h"

#include <deque>
#include <optional>
#include <unordered_set>

class CWnd;

struct MSG {
    CWnd* hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

class WindowRegistry {
public:
    static WindowRegistry& Instance();

    void Register(CWnd* window) { m_live.insert(window); }
    void Unregister(CWnd* window);
    bool IsLive(const CWnd* window) const { return m_live.count(window) != 0; }

    CWnd* Capture() const { return m_capture; }
    void SetCapture(CWnd* window) { m_capture = window; }
    CWnd* Focus() const { return m_focus; }
    void SetFocus(CWnd* window) { m_focus = window; }
    CWnd* MainWindow() const { return m_mainWindow; }
    void SetMainWindow(CWnd* window) { m_mainWindow = window; }
    CWnd* LastPress() const { return m_lastPress; }
    void SetLastPress(CWnd* window) { m_lastPress = window; }

    // Queues a message and asks the host to have the queue processed soon.
    void Post(const MSG& msg);
    bool HasPosted() const { return !m_posted.empty(); }
    // The oldest message waiting, taken off the queue.
    std::optional<MSG> TakePosted();

private:
    WindowRegistry() = default;

    std::unordered_set<const CWnd*> m_live;
    std::deque<MSG> m_posted;
    CWnd* m_capture = nullptr;
    CWnd* m_focus = nullptr;
    CWnd* m_mainWindow = nullptr;
    CWnd* m_lastPress = nullptr;
};
