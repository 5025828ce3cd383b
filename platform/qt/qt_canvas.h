#pragma once
// The client area of one of our top-level windows: paints its window tree and hands mouse
// and keyboard input to the window manager.

#include <QAccessible>
#include <QImage>
#include <QWidget>

#include <optional>
#include <set>

class CWnd;
struct CPoint;
class QPainter;

class QtCanvas : public QWidget, private QAccessible::ActivationObserver {
public:
    QtCanvas(CWnd* window, QWidget* parent);
    ~QtCanvas() override;

    // Repaints a part of the client area, and lets screen readers hear what changed there.
    void Invalidate(const QRect& rect);
    // Where the window's corner lay on the screen, in device pixels, at the pointer event about
    // to come, as the X server had it.
    void SetCornerAtPointerEvent(QPoint corner) { m_cornerAtPointerEvent = corner; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PaintTree(QPainter& painter, const QRect& dirty);
    void PaintSmoothed(QPainter& painter, const QRect& dirty);
    void Mouse(QMouseEvent* event, int action);
    // The pixel of the client area under the pointer.
    CPoint ClientPoint(const QMouseEvent& event) const;
    void ReleaseLeftElsewhere(const QMouseEvent& event);
    bool Key(QKeyEvent* event, bool down);
    // Once a screen reader may be listening, a first look at the windows, so that the changes
    // after it are told.
    void accessibilityActiveChanged(bool active) override;
    void LookForChangesSoon();
    void AnnounceChanges();

    CWnd* m_window;
    // Native scan codes of the keys held down: a press of one of them is a repeat, whether or
    // not the desktop marks it so.
    std::set<quint32> m_heldKeys;
    // A left press went to the window and its release has not.
    bool m_leftHeld = false;
    bool m_announcePending = false;
    // The client area at the whole ratio above a fractional one, as last painted.
    QImage m_enlarged;
    // Known on X11 only.
    std::optional<QPoint> m_cornerAtPointerEvent;
};
