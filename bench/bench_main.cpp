// The one entry point of the benchmarks: a Qt application for the panel's window and the Qt
// host, on Qt's offscreen platform unless QT_QPA_PLATFORM names another (xcb, to measure on a
// real display).
#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {
QtMessageHandler g_qtMessages = nullptr;

// The offscreen platform says so each time it is asked to raise a window; the tables stay
// readable without it.
void QuietQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (!message.startsWith("This plugin does not support"))
        g_qtMessages(type, context, message);
}
} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    g_qtMessages = qInstallMessageHandler(QuietQtMessages);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return EXIT_FAILURE;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
