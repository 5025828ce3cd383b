#pragma once
// Everything the window layer needs from a desktop. The Qt host gives real windows; the test
// host gives a virtual desktop with a clock that tests advance.

#include "platform/win_types.h"

#include <cstdint>
#include <functional>
#include <string>

class CWnd;
class CMenu;
struct DialogTemplate;

// The frame a desktop puts around a top-level window's client area.
struct FrameInsets {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const FrameInsets&) const = default;
};

class Host {
public:
    virtual ~Host() = default;

    // Top-level windows. The layer keeps each one's outer rectangle on the screen; the host
    // puts a native window there and keeps it in step.
    virtual void WindowCreated(CWnd* top) = 0;
    virtual void WindowDestroyed(CWnd* top) = 0;
    virtual void WindowShown(CWnd* top, bool shown) = 0;
    virtual void WindowGeometryChanged(CWnd* top) = 0;
    virtual void WindowStyleChanged(CWnd* top) = 0;
    virtual void WindowTextChanged(CWnd* top) = 0;
    virtual void WindowIconChanged(CWnd* top) = 0;
    virtual bool IsMinimized(CWnd* top) = 0;
    // The frame around the client area with or without caption and menu bar.
    virtual FrameInsets Insets(CWnd* top, bool caption, bool menuBar) = 0;

    // The menu bar of a top-level window: attached, detached, or its model changed.
    virtual void MenuBarChanged(CWnd* top) = 0;
    virtual void MenuItemChanged(CWnd* top, CMenu* popup, int position) = 0;
    // Items were added to or taken from a popup of the menu bar.
    virtual void MenuPopupChanged(CWnd* top, CMenu* /*popup*/) { MenuBarChanged(top); }

    virtual CRect WorkArea() = 0;
    virtual int DoubleClickTime() = 0;     // milliseconds
    virtual int DoubleClickDistance() = 0; // pixels either way

    // The cursor shown over the program's windows: a cursor resource id, 0 for the arrow.
    virtual void SetCursor(int resourceId) = 0;
    virtual void Invalidate(CWnd* top, const CRect& clientRect) = 0;
    virtual void CaptureChanged(CWnd* top, bool captured) = 0;

    virtual void StartTimer(CWnd* window, UINT id, UINT milliseconds) = 0;
    virtual void StopTimer(CWnd* window, UINT id) = 0;
    // Posted messages are waiting; the host calls WindowManager::ProcessPosted soon.
    virtual void WakeUp() = 0;
    // Runs `task` soon on the thread of the windows. The one call that is safe from any thread.
    virtual void CallSoon(std::function<void()> task) = 0;

    // Runs a nested loop until the dialog's modal run ends.
    virtual void RunModalLoop(CWnd* dialog) = 0;
    virtual void EndModalLoop(CWnd* dialog) = 0;
    // A plain dialog built from its template, owned by `owner`; returns its result.
    virtual int RunTemplateDialog(const DialogTemplate& dialog, CWnd* owner) = 0;
    virtual int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) = 0;
};

Host& TheHost();
Host* SetHost(Host* host);
