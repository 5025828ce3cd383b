#include "platform/qt/qt_canvas.h"

#include "platform/qt/pixel_art.h"
#include "platform/qt/qt_canvas_accessible.h"
#include "platform/qt/scan_codes.h"
#include "platform/window_manager.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {
UINT ButtonFlags(Qt::MouseButtons buttons)
{
    return (buttons & Qt::LeftButton ? MK_LBUTTON : 0) | (buttons & Qt::RightButton ? MK_RBUTTON : 0) |
           (buttons & Qt::MiddleButton ? MK_MBUTTON : 0);
}
} // namespace

QtCanvas::QtCanvas(CWnd* window, QWidget* parent) : QWidget(parent), m_window(window)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    // A popup opened while the left button is held takes the pointer, and the release goes to
    // it; it is watched for there.
    qApp->installEventFilter(this);
    // Screen readers see the windows of the tree through this interface; Qt's cache owns it.
    QAccessible::registerAccessibleInterface(new QtCanvasAccessible(this, window));
    QAccessible::installActivationObserver(this);
}

QtCanvas::~QtCanvas() { QAccessible::removeActivationObserver(this); }

void QtCanvas::Invalidate(const QRect& rect)
{
    update(rect);
    // A window repaints whatever it shows a screen reader, when that changes.
    if (QAccessible::isActive())
        LookForChangesSoon();
}

void QtCanvas::accessibilityActiveChanged(bool active)
{
    if (active)
        LookForChangesSoon();
}

void QtCanvas::LookForChangesSoon()
{
    // The changes are looked for once, after the message that made them.
    if (m_announcePending)
        return;
    m_announcePending = true;
    QMetaObject::invokeMethod(
        this, [this] { AnnounceChanges(); }, Qt::QueuedConnection);
}

void QtCanvas::AnnounceChanges()
{
    m_announcePending = false;
    if (auto* accessible = dynamic_cast<QtCanvasAccessible*>(QAccessible::queryAccessibleInterface(this)))
        accessible->AnnounceChanges();
}

void QtCanvas::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (IsWholePixelRatio(devicePixelRatioF()))
        PaintTree(painter, event->rect());
    else
        PaintSmoothed(painter, event->rect());
}

void QtCanvas::PaintTree(QPainter& painter, const QRect& dirty)
{
    CDC dc(&painter);
    WindowManager::Instance().Paint(m_window, dc,
                                    CRect(dirty.left(), dirty.top(), dirty.right() + 1, dirty.bottom() + 1));
}

// The windows paint their part at the whole ratio above the screen's, where each pixel of the
// art is a square of whole pixels; the part is then averaged down to the device pixels it
// covers. Its edges lie on whole device pixels, so that each device pixel takes its share of
// every pixel of the art under it, and no more.
void QtCanvas::PaintSmoothed(QPainter& painter, const QRect& dirty)
{
    const qreal ratio = devicePixelRatioF();
    const int scale = PixelArtScaleAbove(ratio);
    if (m_enlarged.size() != size() * scale) {
        m_enlarged = QImage(size() * scale, QImage::Format_RGB32);
        m_enlarged.setDevicePixelRatio(scale);
    }
    const QRect part = OnWholeDevicePixels(dirty, ratio).intersected(rect());
    {
        QPainter enlarged(&m_enlarged);
        PaintTree(enlarged, part);
    }
    QImage shown =
        ShrunkPixelArt(m_enlarged.copy(QRect(part.topLeft() * scale, part.size() * scale)), scale, ratio);
    shown.setDevicePixelRatio(ratio);
    painter.drawImage(part.topLeft(), shown);
}

void QtCanvas::Mouse(QMouseEvent* event, int action)
{
    // A left release we never saw (over another program's window after a popup took the
    // pointer) ends the press before anything else the pointer does.
    const bool leftDown = (event->buttons() & Qt::LeftButton) != 0;
    const bool leftPress =
        action == static_cast<int>(MouseAction::Press) && event->button() == Qt::LeftButton;
    const bool leftRelease =
        action == static_cast<int>(MouseAction::Release) && event->button() == Qt::LeftButton;
    if (m_leftHeld && (leftPress || (!leftDown && !leftRelease)))
        ReleaseLeftElsewhere(*event);
    if (event->button() == Qt::LeftButton)
        m_leftHeld = leftPress;
    MouseInput input;
    input.action = static_cast<MouseAction>(action);
    input.button = ButtonFlags(event->button());
    input.point = ClientPoint(*event);
    input.buttons = ButtonFlags(event->buttons());
    input.shift = (event->modifiers() & Qt::ShiftModifier) != 0;
    input.control = (event->modifiers() & Qt::ControlModifier) != 0;
    input.timeMs = event->timestamp();
    WindowManager::Instance().Mouse(m_window, input);
}

// The point is taken from where the program last put the window, as on Windows, where a move
// takes effect at once. X moves a window when the window manager gets to it, a frame or more
// later under a compositing one, and a point taken from where the window still is would make
// the bare rack, dragged by its body, run ahead of the pointer.
//
// The pixel of the client area is the one that holds the pointer's device pixel, floored, not
// rounded: a rounded point takes the last device pixel of a key at twice the scale for the next
// key. Qt rounds the pointer's place on the screen to whole pixels of its own, so the pointer's
// device pixel is taken from the window's corner as the X server had it, and the pointer's
// place in the window, which Qt keeps exact.
CPoint QtCanvas::ClientPoint(const QMouseEvent& event) const
{
    const qreal ratio = devicePixelRatioF();
    const QPointF inWindow = mapTo(window(), QPoint(0, 0));
    const std::optional<QPoint> realCorner = m_cornerAtPointerEvent;
    QPointF inClient = event.position();
    if (realCorner) {
        CPoint origin(0, 0);
        m_window->ClientToScreen(&origin);
        const QPoint placed = QPoint(origin.x, origin.y) - inWindow.toPoint();
        // Where the program put the window, in device pixels: where the window is, unless it
        // has yet to get there.
        const QPoint realPlace(qRound(realCorner->x() / ratio), qRound(realCorner->y() / ratio));
        const QPointF corner = realPlace == placed ? QPointF(*realCorner) : QPointF(placed) * ratio;
        const QPointF inScene(std::round(event.scenePosition().x() * ratio),
                              std::round(event.scenePosition().y() * ratio));
        inClient = (QPointF(*realCorner) + inScene - corner) / ratio - inWindow;
    }
    // The division may land a rounding error below a whole pixel; a hair above keeps it there.
    constexpr qreal kHair = 1e-6;
    return {static_cast<int>(std::floor(inClient.x() + kHair)),
            static_cast<int>(std::floor(inClient.y() + kHair))};
}

// The release of a press made here, seen elsewhere: it happened outside the window, so it ends
// the press and its capture without clicking whatever lies under a popup.
void QtCanvas::ReleaseLeftElsewhere(const QMouseEvent& event)
{
    m_leftHeld = false;
    MouseInput input;
    input.action = MouseAction::Release;
    input.button = MK_LBUTTON;
    input.point = {-1, -1};
    input.buttons = ButtonFlags(event.buttons() & ~Qt::LeftButton);
    input.timeMs = event.timestamp();
    WindowManager::Instance().Mouse(m_window, input);
}

bool QtCanvas::eventFilter(QObject* watched, QEvent* event)
{
    if (m_leftHeld && event->type() == QEvent::MouseButtonRelease && watched != this &&
        watched->isWidgetType()) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            ReleaseLeftElsewhere(*mouse);
    }
    return false;
}

void QtCanvas::mousePressEvent(QMouseEvent* event) { Mouse(event, static_cast<int>(MouseAction::Press)); }
// Double-clicks are told apart by our own layer, per window; Qt's second press is a press.
void QtCanvas::mouseDoubleClickEvent(QMouseEvent* event)
{
    Mouse(event, static_cast<int>(MouseAction::Press));
}
void QtCanvas::mouseReleaseEvent(QMouseEvent* event) { Mouse(event, static_cast<int>(MouseAction::Release)); }
void QtCanvas::mouseMoveEvent(QMouseEvent* event) { Mouse(event, static_cast<int>(MouseAction::Move)); }

bool QtCanvas::Key(QKeyEvent* event, bool down)
{
    // Alt combinations and F10 belong to the menu bar; what it passes over reaches the window
    // as a system key, and goes on unconsumed. A key let go while Alt is held is still let
    // go: its note must end.
    const bool system = (down && (event->modifiers() & Qt::AltModifier)) || event->key() == Qt::Key_F10;
    if (event->key() == Qt::Key_Alt)
        return false;
    // A held key may come as release and press pairs marked as repeats: the releases are not
    // real, the presses are repeated key-downs. On X11 the server sends the presses alone
    // (UseDetectableAutoRepeat), unmarked.
    if (!down && event->isAutoRepeat())
        return true;
    const quint32 native = event->nativeScanCode();
    const bool held = down ? !m_heldKeys.insert(native).second : m_heldKeys.erase(native) > 0;
    const Set1Key key = Set1FromNativeScanCode(native);
    KeyInput input;
    input.down = down;
    input.scanCode = key.scanCode;
    input.extended = key.extended;
    input.previouslyDown = down && (held || event->isAutoRepeat());
    input.system = system;
    if (event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z)
        input.virtualKey = static_cast<UINT>(event->key());
    return WindowManager::Instance().Key(m_window, input);
}

void QtCanvas::keyPressEvent(QKeyEvent* event)
{
    if (Key(event, true))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

void QtCanvas::keyReleaseEvent(QKeyEvent* event)
{
    if (Key(event, false))
        event->accept();
    else
        QWidget::keyReleaseEvent(event);
}

// A key let go while another window or a popup has the focus sends its release there, so the
// keys held now are let go at once.
void QtCanvas::focusOutEvent(QFocusEvent* event)
{
    m_heldKeys.clear();
    WindowManager::Instance().KeyboardLost(m_window);
    QWidget::focusOutEvent(event);
}

// Tab plays a piano key, so it never moves the focus.
bool QtCanvas::focusNextPrevChild(bool) { return false; }
