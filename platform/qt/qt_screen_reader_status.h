#pragma once
// Puts the program on the accessibility bus whenever a screen reader is active, also when the
// reader starts after the program. The session says whether one is: the properties IsEnabled
// and ScreenReaderEnabled of org.a11y.Status on the session bus's org.a11y.Bus, which tell
// their changes. Qt 6.4 reads them once, when it first finds that service, and never hears them
// change, so a reader started later would find no program; this follows them, and when they
// turn on, has Qt read them again, which makes Qt join the bus. QT_LINUX_ACCESSIBILITY_ALWAYS_ON
// still has Qt join from the start. Once on the bus, the program tells the reader which of its
// windows is active and what has the focus, which the reader would otherwise never hear.

#include <QAccessible>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

class QtScreenReaderStatus : public QObject, private QAccessible::ActivationObserver {
    Q_OBJECT

public:
    // Made right after the application object, before anything asks Qt about accessibility.
    QtScreenReaderStatus();
    ~QtScreenReaderStatus() override;

private Q_SLOTS:
    void StatusChanged(const QString& interface, const QVariantMap& changed, const QStringList& invalidated);

private:
    void accessibilityActiveChanged(bool active) override;
    // Finds the object in which Qt reads the status, as Qt makes it.
    void FindQtStatusReader();
    static void AnnounceActiveWindow();

    QPointer<QObject> m_qtStatusReader;
};
