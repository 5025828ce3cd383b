#include "platform/qt/qt_screen_reader_status.h"

#include <QAccessibleEvent>
#include <QApplication>
#include <QDBusConnection>
#include <QWidget>

#include <algorithm>
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

std::vector<QObject*>* g_made = nullptr;
std::thread::id g_madeOn;

void ObjectMade(QObject* object)
{
    if (std::this_thread::get_id() == g_madeOn)
        g_made->push_back(object);
}

void ObjectGone(QObject* object)
{
    if (std::this_thread::get_id() == g_madeOn)
        std::erase(*g_made, object);
}

// The objects that Qt makes on this thread while `work` runs and that are still there after it;
// none where another tool holds the hooks.
template <typename Work> std::vector<QObject*> ObjectsMadeBy(Work work)
{
    std::vector<QObject*> made;
    const bool hooksFree = qtHookData[kHookDataSize] > kRemoveQObjectHook &&
                           qtHookData[kAddQObjectHook] == 0 && qtHookData[kRemoveQObjectHook] == 0;
    if (!hooksFree) {
        work();
        return made;
    }
    g_made = &made;
    g_madeOn = std::this_thread::get_id();
    qtHookData[kAddQObjectHook] = reinterpret_cast<quintptr>(&ObjectMade);
    qtHookData[kRemoveQObjectHook] = reinterpret_cast<quintptr>(&ObjectGone);
    work();
    qtHookData[kAddQObjectHook] = 0;
    qtHookData[kRemoveQObjectHook] = 0;
    g_made = nullptr;
    return made;
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
    for (QObject* object : ObjectsMadeBy([] { QAccessible::isActive(); })) {
        if (object->metaObject()->indexOfSlot("serviceRegistered()") >= 0)
            m_qtStatusReader = object;
    }
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
