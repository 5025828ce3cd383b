#pragma once
// A desktop without a display: a virtual clock that tests advance, a work area of their
// choosing, and a record of everything the program asked of the desktop (cursors,
// message boxes, dialogs, window rectangles, menu bar, repaints).

#include "platform/host.h"
#include "platform/window_manager.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class TestHost : public Host {
public:
    TestHost();
    ~TestHost() override;

    // ---- The virtual clock ----
    std::uint64_t Now() const { return m_now; }
    // Moves the clock on, firing every timer that falls due on the way, in time order.
    void Advance(std::uint64_t milliseconds);
    // Moves the clock on without running anything, as a blocked thread would.
    void Block(std::uint64_t milliseconds) { m_now += milliseconds; }
    bool TimerRunning(CWnd* window, UINT id) const { return m_timers.count({window, id}) != 0; }
    std::uint64_t TimerDue(CWnd* window, UINT id) const;

    // ---- Input, at client pixels of a top-level window ----
    void Press(CWnd* top, CPoint point, UINT button = MK_LBUTTON, UINT modifiers = 0);
    void Release(CWnd* top, CPoint point, UINT button = MK_LBUTTON, UINT modifiers = 0);
    void Move(CWnd* top, CPoint point, UINT modifiers = 0);
    void Click(CWnd* top, CPoint point);
    bool KeyDown(CWnd* top, int scanCode, bool extended = false, bool repeat = false);
    bool KeyUp(CWnd* top, int scanCode, bool extended = false);
    UINT HeldButtons() const { return m_buttons; }

    // ---- The desktop ----
    CRect workArea{0, 0, 1024, 728};
    bool minimized = false;
    // Called inside a modal run; by default the run returns at once.
    std::function<void(CWnd*)> onModal;

    // ---- What the program asked for ----
    struct MessageBoxRecord {
        CWnd* owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    std::vector<MessageBoxRecord> messageBoxes;
    std::vector<UINT> templateDialogs;
    std::vector<CWnd*> templateDialogOwners;
    std::vector<int> cursors;
    std::vector<CRect> invalidated;
    int menuBarChanges = 0;
    int menuItemChanges = 0;
    std::function<void(const DialogTemplate&)> onTemplateDialog;

    // Paints a top-level window's whole client area.
    QImage Render(CWnd* top);

    // ---- Host ----
    void WindowCreated(CWnd*) override {}
    void WindowDestroyed(CWnd* top) override;
    void WindowShown(CWnd*, bool) override {}
    void WindowGeometryChanged(CWnd*) override {}
    void WindowStyleChanged(CWnd*) override {}
    void WindowTextChanged(CWnd*) override {}
    void WindowIconChanged(CWnd*) override {}
    bool IsMinimized(CWnd*) override { return minimized; }
    FrameInsets Insets(CWnd* top, bool caption, bool menuBar) override;
    void MenuBarChanged(CWnd*) override { ++menuBarChanges; }
    void MenuItemChanged(CWnd*, CMenu*, int) override { ++menuItemChanges; }
    CRect WorkArea() override { return workArea; }
    int DoubleClickTime() override { return 500; }
    int DoubleClickDistance() override { return 2; }
    void SetCursor(int resourceId) override { cursors.push_back(resourceId); }
    void Invalidate(CWnd*, const CRect& rect) override { invalidated.push_back(rect); }
    void CaptureChanged(CWnd*, bool) override {}
    void StartTimer(CWnd* window, UINT id, UINT milliseconds) override;
    void StopTimer(CWnd* window, UINT id) override;
    void WakeUp() override {}
    // Everything here runs on one thread: the task runs at once.
    void CallSoon(std::function<void()> task) override { task(); }
    void RunModalLoop(CWnd* dialog) override;
    void EndModalLoop(CWnd*) override {}
    int RunTemplateDialog(const DialogTemplate& dialog, CWnd* owner) override;
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) override;

private:
    struct Timer {
        UINT period;
        std::uint64_t due;
    };
    void Mouse(CWnd* top, MouseAction action, UINT button, CPoint point, UINT modifiers);

    Host* m_previous;
    std::uint64_t m_now = 1000;
    UINT m_buttons = 0;
    std::map<std::pair<CWnd*, UINT>, Timer> m_timers;
};
