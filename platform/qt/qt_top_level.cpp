#include "platform/qt/qt_top_level.h"

#include "platform/menu.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_frame_accessible.h"
#include "platform/qt/qt_menu_bar_keys.h"
#include "platform/qt/work_area.h"
#include "platform/qt/x11_frame_extents.h"
#include "platform/qt/x11_keyboard.h"
#include "platform/window_manager.h"

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>
#include <QWindow>

namespace {
// A captioned window has a title, a system menu, minimize and close buttons and no maximize
// button. A bare one asks for no caption button at all: Qt drops the frameless hint while any
// is asked for.
constexpr Qt::WindowFlags kCaptionFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                          Qt::WindowCloseButtonHint;
constexpr Qt::WindowFlags kBareFlags = Qt::Window | Qt::FramelessWindowHint;

bool OnX11() { return QGuiApplication::platformName() == QLatin1String("xcb"); }
} // namespace

QtTopLevel::QtTopLevel(CWnd* window, int menuBarHeight)
    : QWidget(nullptr), m_window(window), m_menuBarHeight(menuBarHeight), m_menuBar(new QMenuBar(this)),
      m_canvas(new QtCanvas(window, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setMenuBar(m_menuBar);
    layout->addWidget(m_canvas);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_menuBar->setFixedHeight(menuBarHeight);
    m_menuBar->hide();
    new QtMenuBarKeys(m_menuBar, m_canvas);
    setFocusProxy(m_canvas);
    setWindowFlags(kCaptionFlags);
    setWindowTitle(QString::fromStdString(window->WindowText()));
    // Qt's cache owns the interface.
    QAccessible::registerAccessibleInterface(new QtFrameAccessible(this));
}

FrameInsets QtTopLevel::WindowFrame()
{
    // Asked once, before the window is shown, so that the window is placed and centred as
    // the frame it will have; later the frame measured on the screen takes over.
    if (!m_frameAsked && OnX11() && !isVisible()) {
        m_frameAsked = true;
        // A window of fixed size gets no resize handles, whose room the frame would count.
        setFixedSize(size());
        if (const std::optional<FrameInsets> frame = RequestX11FrameExtents(winId()))
            m_frame = InQtPixels(*frame);
        m_guessedFrame = m_frame;
    }
    return m_frame;
}

FrameInsets QtTopLevel::InQtPixels(const FrameInsets& native) const
{
    const qreal ratio = devicePixelRatioF();
    return {qRound(native.left / ratio), qRound(native.top / ratio), qRound(native.right / ratio),
            qRound(native.bottom / ratio)};
}

void QtTopLevel::FrameAnnounced(FrameInsets frame)
{
    frame = InQtPixels(frame);
    // A bare window's frame is none; the announcement of none is the frame going away.
    if (m_frameless || frame == FrameInsets{})
        return;
    if (m_clientPlace) {
        // Asked for even where the client is already there: where it has landed may not be
        // known yet, and the window manager handles the request after its own moves.
        MoveClientTo(*std::exchange(m_clientPlace, std::nullopt));
    } else {
        FrameKnown(frame);
    }
}

void QtTopLevel::FrameKnown(const FrameInsets& frame)
{
    if (!m_guessedFrame)
        return;
    const FrameInsets guessed = *std::exchange(m_guessedFrame, std::nullopt);
    if (frame != guessed)
        CentreWithFrame(guessed, frame);
}

void QtTopLevel::MeasureFrameOnceMapped()
{
    if (m_frameless || !m_guessedFrame || X11FramesAnnounced())
        return;
    if (const std::optional<FrameInsets> frame = MeasureX11Frame(winId()))
        FrameKnown(InQtPixels(*frame));
}

void QtTopLevel::CentreWithFrame(const FrameInsets& guessed, const FrameInsets& frame)
{
    // From where the window was placed: a window manager may have placed it elsewhere itself.
    QRect client = geometry();
    client.moveTopLeft(m_placedClient);
    const QRect expected = client.adjusted(-guessed.left, -guessed.top, guessed.right, guessed.bottom);
    QRect outer = client.adjusted(-frame.left, -frame.top, frame.right, frame.bottom);
    outer.moveTo(expected.left() + expected.width() / 2 - outer.width() / 2,
                 expected.top() + expected.height() / 2 - outer.height() / 2);
    outer = KeptWithinWorkArea(outer);
    m_frame = frame;
    MoveClientTo(outer.topLeft() + QPoint(frame.left, frame.top));
}

void QtTopLevel::MoveClientTo(QPoint place)
{
    const qreal ratio = devicePixelRatioF();
    MoveX11Client(winId(), QPoint(qRound(place.x() * ratio), qRound(place.y() * ratio)));
}

FrameInsets QtTopLevel::CurrentFrame() const { return m_frameless ? FrameInsets{} : m_frame; }

void QtTopLevel::FollowDesktop()
{
    // While the layer's rectangle waits to be applied, the native one is out of date.
    if (m_applying || m_syncPosted || !isVisible())
        return;
    QRect inner = geometry();
    const QRect outer = frameGeometry();
    const FrameInsets measured{inner.left() - outer.left(), inner.top() - outer.top(),
                               outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    // Where the X server has the window: Qt keeps the place it asked for last when a window
    // manager puts the window elsewhere as it resizes it.
    bool sizedAsAsked = true;
    if (const std::optional<QRect> place = OnX11() ? X11ClientPlace(winId()) : std::nullopt) {
        const qreal ratio = devicePixelRatioF();
        inner.moveTopLeft(QPoint(qRound(place->x() / ratio), qRound(place->y() / ratio)));
        sizedAsAsked = place->size() == (QSizeF(inner.size()) * ratio).toSize();
    }
    // A window manager adds its frame some time after the window is shown; until then Qt
    // reports none, and the frame we knew stays the better guess.
    const bool hasFrame =
        measured.left != 0 || measured.top != 0 || measured.right != 0 || measured.bottom != 0;
    if (!m_frameless && hasFrame)
        m_frame = measured;
    // Qt's frame of a bare window may be one the window manager has taken away, and the frame
    // found on the screen in the middle of the change may be none of the two.
    if (m_frameless && OnX11())
        m_bareFramed = MeasureX11Frame(winId()).value_or(FrameInsets{}) != FrameInsets{};
    // The window manager has given the window the size it was asked for, but put it where it
    // likes.
    if (m_clientPlaceOnReport && m_clientPlace && !m_frameless && sizedAsAsked) {
        m_clientPlaceOnReport = false;
        if (inner.topLeft() != *m_clientPlace)
            MoveClientTo(*std::exchange(m_clientPlace, std::nullopt));
    }
    // The size is ours alone: the canvas, the menu bar if there is one, and the frame.
    const FrameInsets frame = CurrentFrame();
    const int menuHeight = m_window->GetMenu() != nullptr ? m_menuBarHeight : 0;
    const int left = inner.left() - frame.left;
    const int top = inner.top() - frame.top;
    WindowManager::Instance().NativeMoved(
        m_window, CRect(left, top, left + frame.left + m_canvas->width() + frame.right,
                        top + frame.top + menuHeight + m_canvas->height() + frame.bottom));
}

void QtTopLevel::ApplyGeometry()
{
    // A shown X11 window follows the layer once the current message has been handled: the
    // MENU button, for one, takes the menu bar away, then the frame, then moves the window, and
    // the desktop is to show none of the steps in between.
    if (isVisible() && OnX11())
        PostSync();
    else
        SyncGeometry();
}

void QtTopLevel::PostSync()
{
    if (m_syncPosted)
        return;
    m_syncPosted = true;
    QMetaObject::invokeMethod(
        this, [this] { SyncNative(); }, Qt::QueuedConnection);
}

void QtTopLevel::SyncNative()
{
    m_syncPosted = false;
    const std::optional<Qt::WindowFlags> flags = std::exchange(m_pendingFlags, std::nullopt);
    // The window manager keeps the client where it is when it takes a frame away or adds one.
    // A frame goes before the window moves under the rack's place, and comes after it has left
    // room for the menu bar, so the rack never leaves its pixels.
    const bool framing = flags && !(*flags & Qt::FramelessWindowHint);
    if (flags && !framing)
        SetNativeFlags(*flags);
    SyncGeometry();
    if (framing) {
        m_clientPlace = geometry().topLeft();
        m_clientPlaceOnReport = m_bareFramed;
        SetNativeFlags(*flags);
    } else if (flags) {
        m_clientPlace.reset();
    }
}

void QtTopLevel::SetNativeFlags(Qt::WindowFlags flags)
{
    overrideWindowFlags(flags);
    windowHandle()->setFlags(flags);
}

void QtTopLevel::SyncGeometry()
{
    CRect outer;
    m_window->GetWindowRect(&outer);
    CRect client;
    m_window->GetClientRect(&client);
    const FrameInsets frame = CurrentFrame();
    m_applying = true;
    m_menuBar->setVisible(m_window->GetMenu() != nullptr);
    m_canvas->setFixedSize(std::max<int>(client.Width(), 1), std::max<int>(client.Height(), 1));
    const int menuHeight = m_window->GetMenu() != nullptr ? m_menuBarHeight : 0;
    const QRect inner(outer.left + frame.left, outer.top + frame.top, client.Width(),
                      client.Height() + menuHeight);
    // The fixed-size layout holds the window to its size. Let go first, the window takes its
    // new place and size in one step, which the desktop never shows halfway; then the layout
    // holds it again.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setGeometry(inner);
    layout()->activate();
    m_applying = false;
    if (!isVisible())
        m_placedClient = inner.topLeft();
    // Qt asks for the place of the client area, which the window manager takes as that of the
    // border it has given the window; the window is asked for again where its border belongs.
    if (m_border != 0 && isVisible() && OnX11())
        MoveClientTo(inner.topLeft());
}

void QtTopLevel::ApplyStyle()
{
    const bool frameless = (m_window->GetStyle() & WS_CAPTION) != WS_CAPTION;
    if (frameless == m_frameless)
        return;
    m_frameless = frameless;
    const Qt::WindowFlags flags = frameless ? kBareFlags : kCaptionFlags;
    // An X11 window manager reads the frame it draws from the window's Motif and EWMH hints,
    // and follows them when they change on the mapped window: no unmap, so no close-and-open
    // animation, no taskbar flicker, and the keyboard stays. Elsewhere Qt's own way, which
    // hides the native window and shows it again, is the one that works.
    if (isVisible() && OnX11() && windowHandle() != nullptr) {
        m_pendingFlags = flags;
        PostSync();
        return;
    }
    const bool wasVisible = isVisible();
    setWindowFlags(flags);
    SyncGeometry();
    if (wasVisible) {
        show();
        // New flags hide and show the native window, and hidden it loses the keyboard; the
        // user has just clicked it, so it takes the keyboard back. Hiding also made the widget
        // inactive while Qt still counts its native window as focused, so no activation comes
        // back by itself, and after the next menu no widget would get the keys.
        activateWindow();
        TakeX11InputFocus(winId());
        if (!isActiveWindow() && QGuiApplication::focusWindow() == windowHandle())
            QApplication::setActiveWindow(this);
        m_canvas->setFocus();
    }
}

bool QtTopLevel::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    if (const std::optional<FrameInsets> frame = X11FrameAnnounced(eventType, message, winId()))
        FrameAnnounced(*frame);
    if (const std::optional<int> border = X11WindowConfigured(eventType, message, winId())) {
        m_border = *border;
        // Qt may not pass on a change of place that came with a change of size, nor one that
        // undoes a place it asked for itself.
        QMetaObject::invokeMethod(
            this, [this] { FollowDesktop(); }, Qt::QueuedConnection);
    }
    // Measured once the window manager is done with the window, after the events of its own
    // that follow.
    if (X11WindowMapped(eventType, message, winId()))
        QMetaObject::invokeMethod(
            this, [this] { MeasureFrameOnceMapped(); }, Qt::QueuedConnection);
    if (const std::optional<QPoint> corner = X11WindowCornerAtPointerEvent(eventType, message, winId()))
        m_canvas->SetCornerAtPointerEvent(*corner);
    return QWidget::nativeEvent(eventType, message, result);
}

void QtTopLevel::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    FollowDesktop();
}

// A window manager may move the window as it resizes it, and Qt then tells the new size alone.
void QtTopLevel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    FollowDesktop();
}

void QtTopLevel::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    FollowDesktop();
}

void QtTopLevel::closeEvent(QCloseEvent* event)
{
    // Our window decides; it closes itself by destroying its window.
    event->ignore();
    WindowManager::Instance().CloseRequested(m_window);
}

void QtTopLevel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange)
        WindowManager::Instance().Activated(m_window, isActiveWindow());
}

// ---- Menu bar ------------------------------------------------------------------------------

void QtTopLevel::ShowCheck(QAction* action, bool checked)
{
    // Only a checked item shows a box, so an unchecked one looks like a plain item.
    action->setCheckable(checked);
    action->setChecked(checked);
}

QAction* QtTopLevel::MakeItemAction(const QString& text, QWidget* parent)
{
    // After a tab comes the item's shortcut. Given to Qt as the shortcut, it shows in the same
    // column, and a screen reader reads it as the item's key rather than as part of its name.
    const qsizetype tab = text.indexOf(u'\t');
    const QString keys = text.mid(tab + 1);
    const QKeySequence shortcut(keys);
    if (tab < 0 || shortcut.toString(QKeySequence::NativeText) != keys)
        return new QAction(text, parent);
    auto* action = new QAction(text.left(tab), parent);
    action->setShortcut(shortcut);
    // The panel reads its keys itself. A widget shortcut of a menu's item holds only while the
    // menu bar has the focus, which it never takes (it has no keyboard mode), so the shortcut
    // is shown and never takes a key from the panel.
    action->setShortcutContext(Qt::WidgetShortcut);
    return action;
}

QAction* QtTopLevel::MakeAction(CMenu& model, int position, QWidget* parent)
{
    const CMenu::Item& item = model.Items()[static_cast<size_t>(position)];
    QAction* action = nullptr;
    if (item.popup) {
        auto* popup = new QMenu(QString::fromStdString(item.text), parent);
        CMenu* popupModel = item.popup.get();
        AddItems(popup, *popupModel);
        m_popups[popupModel] = popup;
        // The program may bring the items up to date before they show.
        connect(popup, &QMenu::aboutToShow, this, [this, popupModel, position] {
            WindowManager::Instance().MenuPopupOpening(m_window, popupModel, static_cast<UINT>(position));
        });
        action = popup->menuAction();
    } else {
        action = MakeItemAction(QString::fromStdString(item.text), parent);
        const UINT id = item.id;
        CMenu* menu = &model;
        connect(action, &QAction::triggered, this, [this, action, menu, position, id] {
            // The model, not the click, decides the mark.
            ShowCheck(action, menu->Items()[static_cast<size_t>(position)].checked);
            WindowManager::Instance().MenuCommand(m_window, id);
        });
    }
    ShowCheck(action, item.checked);
    m_actions[{&model, position}] = action;
    return action;
}

void QtTopLevel::AddItems(QMenu* menu, CMenu& model)
{
    for (int i = 0; i < model.GetMenuItemCount(); ++i) {
        if (model.Items()[static_cast<size_t>(i)].separator)
            menu->addSeparator();
        else
            menu->addAction(MakeAction(model, i, menu));
    }
}

void QtTopLevel::AddItems(QMenuBar* bar, CMenu& model)
{
    for (int i = 0; i < model.GetMenuItemCount(); ++i)
        if (!model.Items()[static_cast<size_t>(i)].separator)
            bar->addAction(MakeAction(model, i, bar));
}

void QtTopLevel::RebuildMenu()
{
    m_actions.clear();
    m_popups.clear();
    // The old popups go with their actions; later, as one of them may be running its command.
    for (QAction* action : m_menuBar->actions()) {
        if (QMenu* popup = action->menu())
            popup->deleteLater();
        else
            action->deleteLater();
    }
    m_menuBar->clear();
    CMenu* menu = m_window->GetMenu();
    if (menu != nullptr)
        AddItems(m_menuBar, *menu);
    ApplyGeometry();
}

void QtTopLevel::RebuildPopup(CMenu* popup)
{
    const auto found = m_popups.find(popup);
    if (found == m_popups.end()) {
        RebuildMenu();
        return;
    }
    QMenu* menu = found->second;
    // The model has already changed; the actions that showed it go, later, as RebuildMenu's do.
    for (auto it = m_actions.begin(); it != m_actions.end();)
        it = it->first.first == popup ? m_actions.erase(it) : std::next(it);
    for (auto it = m_popups.begin(); it != m_popups.end();)
        it = it->second->parent() == menu ? m_popups.erase(it) : std::next(it);
    for (QAction* action : menu->actions()) {
        menu->removeAction(action);
        if (QMenu* sub = action->menu())
            sub->deleteLater();
        else
            action->deleteLater();
    }
    AddItems(menu, *popup);
}

void QtTopLevel::UpdateMenuItem(CMenu* popup, int position)
{
    auto it = m_actions.find({popup, position});
    if (it == m_actions.end())
        return;
    ShowCheck(it->second, popup->Items()[static_cast<size_t>(position)].checked);
}
