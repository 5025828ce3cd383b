#include "platform/qt/qt_atspi_events.h"

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace {
// The name Qt's bridge gives its connection to the accessibility bus.
const QString kBridgeConnection = QStringLiteral("a11y");
const QString kObjectPrefix = QStringLiteral("/org/a11y/atspi/accessible/");
const QString kObjectEvents = QStringLiteral("org.a11y.atspi.Event.Object");

// An event as the bridge sends its own: its kind, two details, its data, and the application
// it comes from.
void Send(QAccessibleInterface* object, const QString& member, const QString& kind, int detail,
          const QVariant& data)
{
    QDBusConnection bus(kBridgeConnection);
    if (object == nullptr || !QAccessible::isActive() || !bus.isConnected())
        return;
    const QString path = kObjectPrefix + QString::number(QAccessible::uniqueId(object));
    QDBusArgument application;
    application.beginStructure();
    application << bus.baseService() << QDBusObjectPath(kObjectPrefix + QStringLiteral("root"));
    application.endStructure();
    QDBusMessage event = QDBusMessage::createSignal(path, kObjectEvents, member);
    event << kind << detail << 0 << QVariant::fromValue(QDBusVariant(data))
          << QVariant::fromValue(application);
    bus.send(event);
}
} // namespace

void QtAtSpiEvents::StateChanged(QAccessibleInterface* object, const char* state, bool on)
{
    Send(object, QStringLiteral("StateChanged"), QString::fromLatin1(state), on ? 1 : 0, 0);
}

void QtAtSpiEvents::DescriptionChanged(QAccessibleInterface* object, const QString& description)
{
    Send(object, QStringLiteral("PropertyChange"), QStringLiteral("accessible-description"), 0, description);
}
