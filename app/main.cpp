// Starts Varnek: the desktop, the MIDI system, then the application object runs the panel.

#include "app/panel_app.h"
#include "platform/midi/midi_out.h"
#include "platform/qt/qt_host.h"

#include <QApplication>

#include <cstdlib>
#include <memory>

int main(int argc, char** argv)
{
    // Under Wayland a client cannot place its windows; XWayland lets the panel centre itself
    // and be dragged by its body.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("WAYLAND_DISPLAY") != nullptr &&
        std::getenv("DISPLAY") != nullptr)
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    // The built-in synth starts opening now, beside Qt's own start.
    std::unique_ptr<MidiSystem> midi = MakeDesktopMidiSystem();
    // Whole-number scale factors keep the pixel art crisp on high-density screens.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
    QApplication application(argc, argv);
    QApplication::setApplicationName("Varnek");
    QApplication::setApplicationVersion("1.0.0.1");
    QApplication::setDesktopFileName("varnek");

    QtHost host;
    SetHost(&host);
    SetMidiSystem(midi.get());

    theApp.InitInstance();

    SetMidiSystem(nullptr);
    SetHost(nullptr);
    return EXIT_SUCCESS;
}
