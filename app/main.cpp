// Starts Varnek: the desktop, the MIDI system, then the application object runs the panel.

#include "app/command_line.h"
#include "app/panel_app.h"
#include "platform/midi_out.h"
#include "platform/qt/qt_end_watch.h"
#include "platform/qt/qt_host.h"
#include "platform/qt/x11_display.h"
#include "sound/desktop_midi_system.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

int main(int argc, char** argv)
{
    // Before anything opens: an answer to --help must not start a sound server.
    if (const std::optional<int> status = AnswerCommandLine(argc, argv, VARNEK_VERSION))
        return *status;
    // Under Wayland a client cannot place its windows; XWayland lets the panel centre itself
    // and be dragged by its body.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("WAYLAND_DISPLAY") != nullptr &&
        std::getenv("DISPLAY") != nullptr)
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    if (const std::optional<std::string> problem = X11DisplayProblem()) {
        std::fprintf(stderr, "varnek: %s\n", problem->c_str());
        return EXIT_FAILURE;
    }
    // The built-in synth opens on a thread of its own while Qt starts and the panel builds;
    // the panel's first open of the default route takes it. The sound libraries read the
    // environment as they open, and changing it meanwhile is unsafe: Qt takes a desktop's
    // start-up notice out of it, so where there is one the synth waits until Qt has started.
    std::unique_ptr<MidiSystem> midi;
    if (std::getenv("DESKTOP_STARTUP_ID") == nullptr)
        midi = MakeDesktopMidiSystem(DefaultRoute::OpenAhead, OwnPorts::Open);
    // The desktop's scale factor as it is, fractional too: the panel draws its art evenly at any.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication application(argc, argv);
    if (!midi)
        midi = MakeDesktopMidiSystem(DefaultRoute::OpenAhead, OwnPorts::Open);
    QApplication::setApplicationName("Varnek");
    QApplication::setApplicationVersion(VARNEK_VERSION);
    QApplication::setDesktopFileName("varnek");

    QtHost host;
    SetHost(&host);
    SetMidiSystem(midi.get());

    {
        // A logout, a signal or the loss of the display ends the program the way POWER does,
        // and Varnek's own ports close before the process goes: a JACK client that vanishes
        // without a word holds its server up.
        QtEndWatch endWatch([&midi] {
            theApp.CloseOutput();
            SetMidiSystem(nullptr);
            midi.reset();
        });
        theApp.InitInstance();
    }

    SetMidiSystem(nullptr);
    SetHost(nullptr);
    return EXIT_SUCCESS;
}
