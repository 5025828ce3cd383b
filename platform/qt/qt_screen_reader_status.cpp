#include "platform/qt/qt_screen_reader_status.h"

#include <QAccessibleEvent>
#include <QApplication>
#include <QDBusConnection>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// Qt's hooks for the tools that follow its objects, which it exports for them: a callback for
// each object made and for each one destroyed.
extern Q_CORE_EXPORT quintptr qtHookData[];

namespace {
const QString kStatusService = QStringLiteral("org.a11y.Bus");
const QString kStatusPath = QStringLiteral("/org/a11y/bus");
const QString kStatusInterface = QStringLiteral("org.a11y.Status");

// Where in Qt's hook data the callbacks go.
constexpr int kHookDataSize = 1;
constexpr int kAddQObjectHook = 3;
constexpr int kRemoveQObjectHook = 4;

// The objects made on the watching thread, less those destroyed since on any thread: Qt moves
// some of what it makes to threads of its own, and ends them there.
std::mutex g_madeLock;
std::vector<QObject*>* g_made = nullptr;
// Read on every thread that makes an object meanwhile.
std::atomic<std::thread::id> g_madeOn;

void ObjectMade(QObject* object)
{
    if (std::this_thread::get_id() != g_madeOn)
        return;
    const std::lock_guard lock(g_madeLock);
    g_made->push_back(object);
}

void ObjectGone(QObject* object)
{
    const std::lock_guard lock(g_madeLock);
    if (g_made != nullptr)
        std::erase(*g_made, object);
}

// The first object that Qt makes on this thread while `work` runs, that is still there after it,
// and that `wanted` says is the one; none where another tool holds the hooks. It is picked
// while the hooks still hold back whatever would destroy it.
template <typename Work, typename Wanted> QObject* FirstMadeBy(Work work, Wanted wanted)
{
    const bool hooksFree = qtHookData[kHookDataSize] > kRemoveQObjectHook &&
                           qtHookData[kAddQObjectHook] == 0 && qtHookData[kRemoveQObjectHook] == 0;
    if (!hooksFree) {
        work();
        return nullptr;
    }
    std::vector<QObject*> made;
    g_made = &made;
    g_madeOn = std::this_thread::get_id();
    qtHookData[kAddQObjectHook] = reinterpret_cast<quintptr>(&ObjectMade);
    qtHookData[kRemoveQObjectHook] = reinterpret_cast<quintptr>(&ObjectGone);
    work();
    const std::lock_guard lock(g_madeLock);
    const auto found = std::find_if(made.begin(), made.end(), wanted);
    qtHookData[kAddQObjectHook] = 0;
    qtHookData[kRemoveQObjectHook] = 0;
    g_made = nullptr;
    return found == made.end() ? nullptr : *found;
}
} // namespace

QtScreenReaderStatus::QtScreenReaderStatus()
{
    FindQtStatusReader();
    QAccessible::installActivationObserver(this);
    // Where Qt reads no status, there is none to follow, and no session bus is asked for.
    if (m_qtStatusReader == nullptr)
        return;
    QDBusConnection::sessionBus().connect(
        kStatusService, kStatusPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"), this, SLOT(StatusChanged(QString, QVariantMap, QStringList)));
}

QtScreenReaderStatus::~QtScreenReaderStatus() { QAccessible::removeActivationObserver(this); }

void QtScreenReaderStatus::FindQtStatusReader()
{
    // Qt makes its bridge to the accessibility bus, and with it the reader of the status, when
    // it is first asked whether accessibility is active. The reader reads the status again
    // whenever its slot for the status service's arrival is called.
    m_qtStatusReader = FirstMadeBy(
        [] { QAccessible::isActive(); },
        [](QObject* object) { return object->metaObject()->indexOfSlot("serviceRegistered()") >= 0; });
}

void QtScreenReaderStatus::StatusChanged(const QString& interface, const QVariantMap& changed,
                                         const QStringList&)
{
    if (interface != kStatusInterface || QAccessible::isActive() || m_qtStatusReader == nullptr)
        return;
    const bool on = changed.value(QStringLiteral("IsEnabled")).toBool() ||
                    changed.value(QStringLiteral("ScreenReaderEnabled")).toBool();
    if (on)
        QMetaObject::invokeMethod(m_qtStatusReader, "serviceRegistered", Qt::QueuedConnection);
}

void QtScreenReaderStatus::accessibilityActiveChanged(bool active)
{
    // Qt joins the bus right after it says it is active.
    if (active)
        QMetaObject::invokeMethod(this, &QtScreenReaderStatus::AnnounceActiveWindow, Qt::QueuedConnection);
}

void QtScreenReaderStatus::AnnounceActiveWindow()
{
    QWidget* window = QApplication::activeWindow();
    if (window == nullptr)
        return;
    QAccessible::State activated;
    activated.active = true;
    QAccessibleStateChangeEvent windowActivated(window, activated);
    QAccessible::updateAccessibility(&windowActivated);
    if (QWidget* focus = QApplication::focusWidget()) {
        QAccessibleEvent focused(focus, QAccessible::Focus);
        QAccessible::updateAccessibility(&focused);
    }
}
