#pragma once
// The desktop through Qt: a native window for each top-level window of ours, its menu bar,
// timers, modal loops, dialogs and message boxes.

#include "platform/host.h"
#include "platform/qt/qt_screen_reader_status.h"

#include <QCursor>
#include <QObject>

#include <map>
#include <unordered_map>
#include <utility>

class QEventLoop;
class QTimer;
class QtTopLevel;

class QtHost : public Host {
public:
    QtHost();
    ~QtHost() override;

    QtTopLevel* NativeWindow(CWnd* top) const;
    // The height of a menu bar, measured once.
    int MenuBarHeight();

    void WindowCreated(CWnd* top) override;
    void WindowDestroyed(CWnd* top) override;
    void WindowShown(CWnd* top, bool shown) override;
    void WindowGeometryChanged(CWnd* top) override;
    void WindowStyleChanged(CWnd* top) override;
    void WindowTextChanged(CWnd* top) override;
    void WindowIconChanged(CWnd* top) override;
    bool IsMinimized(CWnd* top) override;
    FrameInsets Insets(CWnd* top, bool caption, bool menuBar) override;
    void MenuBarChanged(CWnd* top) override;
    void MenuItemChanged(CWnd* top, CMenu* popup, int position) override;
    void MenuPopupChanged(CWnd* top, CMenu* popup) override;
    CRect WorkArea() override;
    int DoubleClickTime() override;
    int DoubleClickDistance() override;
    void SetCursor(int resourceId) override;
    void Invalidate(CWnd* top, const CRect& clientRect) override;
    void CaptureChanged(CWnd* top, bool captured) override;
    void StartTimer(CWnd* window, UINT id, UINT milliseconds) override;
    void StopTimer(CWnd* window, UINT id) override;
    void WakeUp() override;
    void CallSoon(std::function<void()> task) override;
    void RunModalLoop(CWnd* dialog) override;
    void EndModalLoop(CWnd* dialog) override;
    int RunTemplateDialog(const DialogTemplate& dialog, CWnd* owner) override;
    int MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) override;

private:
    QCursor CursorFor(int resourceId);

    std::unordered_map<CWnd*, QtTopLevel*> m_windows;
    std::map<std::pair<CWnd*, UINT>, QTimer*> m_timers;
    std::unordered_map<CWnd*, QEventLoop*> m_loops;
    std::unordered_map<int, QCursor> m_cursors;
    int m_cursor = -1;
    int m_menuBarHeight = -1;
    bool m_wakePending = false;
    // Owns the pending wake-up, which must not outlive the host.
    QObject m_wakeContext;
    QtScreenReaderStatus m_screenReaders;
};
