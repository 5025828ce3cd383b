#pragma once
// Lets the program silence its output before the desktop ends it from outside: on SIGTERM,
// SIGINT or SIGHUP (a logout, a kill, Ctrl+C) and when the X display goes away. Without it
// the notes held and the backing's last tick would keep sounding on an external synth. A
// window that another program destroys is closed as if the window manager had asked, so the
// panel ends the way its close box ends it.

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>
#include <vector>

class QSocketNotifier;

class QtEndWatch : public QObject, public QAbstractNativeEventFilter {
public:
    // `lastWords` runs at most once, on the UI thread, before such an end; the watch only
    // serves while it lives. One watch at a time.
    explicit QtEndWatch(std::function<void()> lastWords);
    ~QtEndWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    void SignalArrived();

    QSocketNotifier* m_notifier = nullptr;
    std::vector<int> m_handled; // the signals this watch took over
};
