#include "platform/qt/qt_host.h"

#include "platform/dialog_template.h"
#include "platform/gdi.h"
#include "platform/qt/pixel_art.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_template_dialog.h"
#include "platform/qt/qt_top_level.h"
#include "platform/qt/work_area.h"
#include "platform/qt/x11_keyboard.h"
#include "platform/resources.h"
#include "platform/window_manager.h"

#include <QApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace {
QRect ToQRect(const CRect& rect) { return QRect(rect.left, rect.top, rect.Width(), rect.Height()); }
CRect FromQRect(const QRect& rect)
{
    return CRect(rect.left(), rect.top(), rect.right() + 1, rect.bottom() + 1);
}

// A cursor resource: a .cur file whose first entry gives the hot spot. On a high-density
// screen it grows with everything else, by whole pixels so it stays sharp, and its hot spot
// stays on the same pixel of the art.
QCursor LoadCursorResource(int id)
{
    const auto bytes = FindResourceBytes(ResourceKind::Cursor, MAKEINTRESOURCE(id));
    if (bytes.size() < 22)
        return QCursor(Qt::ArrowCursor);
    const int hotX = bytes[10] | (bytes[11] << 8);
    const int hotY = bytes[12] | (bytes[13] << 8);
    QImage image;
    if (!image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "CUR") &&
        !image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "ICO"))
        return QCursor(Qt::ArrowCursor);
    // X11 takes a cursor's picture and hot spot in screen pixels whatever ratio a pixmap is
    // marked with, so both are given in screen pixels.
    const int scale = PixelArtScale(qApp->devicePixelRatio());
    return QCursor(QPixmap::fromImage(EnlargedPixelArt(image, scale)), hotX * scale, hotY * scale);
}

QWidget* OwnerWidget(const QtHost& host, CWnd* owner)
{
    return owner != nullptr ? static_cast<QWidget*>(host.NativeWindow(owner->GetTopLevel())) : nullptr;
}
} // namespace

QtHost::QtHost() { UseDetectableAutoRepeat(); }

QtHost::~QtHost()
{
    for (auto& [key, timer] : m_timers)
        delete timer;
    for (auto& [window, native] : m_windows)
        delete native;
}

QtTopLevel* QtHost::NativeWindow(CWnd* top) const
{
    auto it = m_windows.find(top);
    return it == m_windows.end() ? nullptr : it->second;
}

int QtHost::MenuBarHeight()
{
    if (m_menuBarHeight < 0) {
        QMenuBar probe;
        probe.addMenu("&Help");
        m_menuBarHeight = probe.sizeHint().height();
    }
    return m_menuBarHeight;
}

// ---- Top-level windows ---------------------------------------------------------------------

void QtHost::WindowCreated(CWnd* top)
{
    auto* native = new QtTopLevel(top, MenuBarHeight());
    m_windows[top] = native;
    native->ApplyGeometry();
}

void QtHost::WindowDestroyed(CWnd* top)
{
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->first.first == top) {
            delete it->second;
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
    if (QtTopLevel* native = NativeWindow(top)) {
        m_windows.erase(top);
        native->hide();
        native->deleteLater();
    }
}

void QtHost::WindowShown(CWnd* top, bool shown)
{
    QtTopLevel* native = NativeWindow(top);
    if (native == nullptr)
        return;
    if (!shown) {
        native->hide();
        return;
    }
    native->ApplyGeometry();
    native->show();
    native->raise();
    native->activateWindow();
    native->Canvas()->setFocus();
}

void QtHost::WindowGeometryChanged(CWnd* top)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->ApplyGeometry();
}

void QtHost::WindowStyleChanged(CWnd* top)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->ApplyStyle();
}

void QtHost::WindowTextChanged(CWnd* top)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->setWindowTitle(QString::fromStdString(top->WindowText()));
}

void QtHost::WindowIconChanged(CWnd* top)
{
    QtTopLevel* native = NativeWindow(top);
    if (native == nullptr)
        return;
    const auto bytes = FindResourceBytes(ResourceKind::Icon, MAKEINTRESOURCE(155));
    QImage image;
    if (image.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "ICO"))
        native->setWindowIcon(QIcon(QPixmap::fromImage(image)));
}

bool QtHost::IsMinimized(CWnd* top)
{
    QtTopLevel* native = NativeWindow(top);
    return native != nullptr && native->isMinimized();
}

FrameInsets QtHost::Insets(CWnd* top, bool caption, bool menuBar)
{
    FrameInsets insets;
    if (caption) {
        if (QtTopLevel* native = NativeWindow(top))
            insets = native->WindowFrame();
    }
    if (menuBar)
        insets.top += MenuBarHeight();
    return insets;
}

void QtHost::MenuBarChanged(CWnd* top)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->RebuildMenu();
}

void QtHost::MenuPopupChanged(CWnd* top, CMenu* popup)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->RebuildPopup(popup);
}

void QtHost::MenuItemChanged(CWnd* top, CMenu* popup, int position)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->UpdateMenuItem(popup, position);
}

// ---- The desktop ---------------------------------------------------------------------------

CRect QtHost::WorkArea()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? FromQRect(screen->availableGeometry()) : CRect(0, 0, 1024, 768);
}

int QtHost::DoubleClickTime() { return QGuiApplication::styleHints()->mouseDoubleClickInterval(); }
int QtHost::DoubleClickDistance() { return QGuiApplication::styleHints()->mouseDoubleClickDistance(); }

QCursor QtHost::CursorFor(int resourceId)
{
    auto it = m_cursors.find(resourceId);
    if (it == m_cursors.end())
        it = m_cursors
                 .emplace(resourceId,
                          resourceId == 0 ? QCursor(Qt::ArrowCursor) : LoadCursorResource(resourceId))
                 .first;
    return it->second;
}

void QtHost::SetCursor(int resourceId)
{
    if (resourceId == m_cursor)
        return;
    m_cursor = resourceId;
    const QCursor cursor = CursorFor(resourceId);
    for (auto& [window, native] : m_windows)
        native->Canvas()->setCursor(cursor);
}

void QtHost::Invalidate(CWnd* top, const CRect& clientRect)
{
    if (QtTopLevel* native = NativeWindow(top))
        native->Canvas()->Invalidate(ToQRect(clientRect));
}

void QtHost::CaptureChanged(CWnd*, bool) {}

// ---- Timers and posted messages ------------------------------------------------------------

void QtHost::StartTimer(CWnd* window, UINT id, UINT milliseconds)
{
    QTimer*& timer = m_timers[{window, id}];
    if (timer == nullptr) {
        timer = new QTimer;
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout,
                         [window, id] { WindowManager::Instance().Timer(window, id); });
    }
    timer->start(static_cast<int>(milliseconds));
}

void QtHost::StopTimer(CWnd* window, UINT id)
{
    auto it = m_timers.find({window, id});
    if (it == m_timers.end())
        return;
    delete it->second;
    m_timers.erase(it);
}

void QtHost::WakeUp()
{
    if (m_wakePending)
        return;
    m_wakePending = true;
    QTimer::singleShot(0, &m_wakeContext, [this] {
        m_wakePending = false;
        WindowManager::Instance().ProcessPosted();
    });
}

// A queued call on an object of the main thread runs there, whichever thread queued it.
void QtHost::CallSoon(std::function<void()> task)
{
    QMetaObject::invokeMethod(&m_wakeContext, std::move(task), Qt::QueuedConnection);
}

// ---- Modal runs, dialogs, message boxes ----------------------------------------------------

void QtHost::RunModalLoop(CWnd* dialog)
{
    QEventLoop loop;
    m_loops[dialog] = &loop;
    loop.exec();
    m_loops.erase(dialog);
}

void QtHost::EndModalLoop(CWnd* dialog)
{
    auto it = m_loops.find(dialog);
    if (it != m_loops.end())
        it->second->quit();
}

int QtHost::RunTemplateDialog(const DialogTemplate& resource, CWnd* owner)
{
    QWidget* ownerWidget = OwnerWidget(*this, owner);
    QtTemplateDialog dialog(resource, ownerWidget);
    dialog.ensurePolished();
    const DialogBaseUnits units = QtTemplateDialog::BaseUnits();
    QRect place(0, 0, dialog.width(), dialog.height());
    if (owner != nullptr) {
        CPoint origin(0, 0);
        owner->GetTopLevel()->ClientToScreen(&origin);
        CRect ownerRect;
        owner->GetTopLevel()->GetWindowRect(&ownerRect);
        if (resource.x == 0 && resource.y == 0) {
            // Centred over the owner, kept within the work area.
            place.moveCenter(ToQRect(ownerRect).center());
            place = KeptWithinWorkArea(place);
        } else {
            place.moveTopLeft(QPoint(origin.x + units.X(resource.x), origin.y + units.Y(resource.y)));
        }
    }
    dialog.move(place.topLeft());
    const int result = dialog.exec();
    if (QtTopLevel* native = NativeWindow(owner ? owner->GetTopLevel() : nullptr)) {
        native->activateWindow();
        native->Canvas()->setFocus();
    }
    return result;
}

int QtHost::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type)
{
    QWidget* ownerWidget = OwnerWidget(*this, owner);
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, ownerWidget && ownerWidget->isVisible() ? ownerWidget : nullptr);
    box.exec();
    if (QtTopLevel* native = NativeWindow(owner ? owner->GetTopLevel() : nullptr)) {
        native->activateWindow();
        native->Canvas()->setFocus();
    }
    return IDOK;
}
