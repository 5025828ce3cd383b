#include "platform/qt/qt_end_watch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QWidget>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

#include <xcb/xcb.h>

namespace {
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes the signal's number into this pipe; the UI thread reads it.
int g_signalPipe[2] = {-1, -1};
std::function<void()>* g_lastWords = nullptr;

extern "C" void OnEndingSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

void SayLastWords()
{
    const std::unique_ptr<std::function<void()>> lastWords(std::exchange(g_lastWords, nullptr));
    if (lastWords)
        (*lastWords)();
}

// Qt ends the program with exit(1) when its X connection breaks (and Xlib does the same on
// an I/O error), from the UI thread, without unwinding: the handlers registered with atexit
// are the one place that still runs. The output's objects belong to main and are still there.
void AtExit() { SayLastWords(); }
} // namespace

QtEndWatch::QtEndWatch(std::function<void()> lastWords)
{
    g_lastWords = new std::function<void()>(std::move(lastWords));
    QCoreApplication::instance()->installNativeEventFilter(this);
    static const bool registered = std::atexit(AtExit) == 0;
    (void)registered;
    if (g_signalPipe[0] < 0 && pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { SignalArrived(); });
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kEndingSignals) {
        // A signal the program was started to ignore (nohup, a background job) stays ignored.
        struct sigaction inherited {};
        if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        if (sigaction(number, &action, nullptr) == 0)
            m_handled.push_back(number);
    }
}

QtEndWatch::~QtEndWatch()
{
    QCoreApplication::instance()->removeNativeEventFilter(this);
    // From here on the program ends by itself; a signal ends it at once.
    for (const int number : m_handled)
        std::signal(number, SIG_DFL);
    delete std::exchange(g_lastWords, nullptr);
}

void QtEndWatch::SignalArrived()
{
    unsigned char number = 0;
    if (read(g_signalPipe[0], &number, 1) != 1)
        return;
    SayLastWords();
    // The signal ends the program as it would have without us, so whoever sent it sees the
    // usual status (128 + its number in a shell).
    std::signal(number, SIG_DFL);
    std::raise(number);
}

bool QtEndWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7F) != XCB_DESTROY_NOTIFY)
        return false;
    // Qt forgets a window of its own before destroying it, so a window still known by its id
    // was destroyed by someone else.
    const auto* destroyed = static_cast<const xcb_destroy_notify_event_t*>(message);
    if (destroyed->window != destroyed->event)
        return false;
    QWidget* window = QWidget::find(destroyed->window);
    if (window == nullptr || !window->isWindow())
        return false;
    // Once Qt has finished with the event; the call is dropped if the widget goes first.
    QMetaObject::invokeMethod(
        window, [window] { window->close(); }, Qt::QueuedConnection);
    return false;
}
