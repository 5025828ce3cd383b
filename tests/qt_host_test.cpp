// The Qt host on Qt's offscreen platform: the panel's native window and the pixels it shows,
// keys and mouse from Qt events, the menu bar and its actions, the MENU button's toggle,
// activation, posted messages and real timers.

#include "app/dialog_resources.h"
#include "app/panel_dlg.h"
#include "midi/midi_messages.h"
#include "platform/gdi_objects.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_host.h"
#include "platform/qt/qt_template_dialog.h"
#include "platform/qt/qt_top_level.h"
#include "platform/window_manager.h"
#include "res/resource_ids.h"
#include "tests/recording_midi_system.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTimer>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable failures for Qt's geometry types.
static void PrintTo(const QPoint& point, std::ostream* out)
{
    *out << "(" << point.x() << ", " << point.y() << ")";
}
static void PrintTo(const QSize& size, std::ostream* out) { *out << size.width() << " x " << size.height(); }

namespace {

// X11 and Wayland give Qt the evdev code plus 8 as the native scan code.
constexpr unsigned kNativeOffset = 8;

// The evdev codes of the keys that play piano keys 0 to 47, as the Linux input layer names
// them: the same physical keys as the make codes the panel looks for.
// clang-format off
constexpr unsigned kPlayingKeyEvdev[48] = {
    KEY_F1,  KEY_GRAVE, KEY_F2, KEY_1,     KEY_F3,        KEY_2,     KEY_F4,         KEY_F5, KEY_TAB, KEY_F6, KEY_Q,     KEY_F7,
    KEY_W,   KEY_3,     KEY_E,  KEY_4,     KEY_R,         KEY_5,     KEY_T,          KEY_Y,  KEY_7,   KEY_U,  KEY_8,     KEY_I,
    KEY_O,   KEY_0,     KEY_P,  KEY_MINUS, KEY_LEFTBRACE, KEY_EQUAL, KEY_RIGHTBRACE, KEY_Z,  KEY_S,   KEY_X,  KEY_D,     KEY_C,
    KEY_V,   KEY_G,     KEY_B,  KEY_H,     KEY_N,         KEY_J,     KEY_M,          KEY_COMMA, KEY_L, KEY_DOT, KEY_SEMICOLON, KEY_SLASH,
};
// clang-format on

constexpr int kFirstNote = 29;
constexpr int kC4 = 60;
constexpr int kE5 = 76;

DWORD NoteOn(int note) { return KeyNoteMessage(note, false, true); }
DWORD NoteOff(int note) { return KeyNoteMessage(note, false, false); }

QImage BitmapResource(const char* name)
{
    HANDLE bitmap = LoadImageA(AfxGetResourceHandle(), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    const QImage* image = DibImage(static_cast<HBITMAP>(bitmap));
    QImage copy = image != nullptr ? image->convertToFormat(QImage::Format_RGB32) : QImage();
    DeleteObject(static_cast<HBITMAP>(bitmap));
    return copy;
}

// How many pixels of two pictures of the same size differ in colour.
int DifferentPixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return a.width() * a.height() + b.width() * b.height();
    int different = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            different += (a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF);
    return different;
}

QRect ToQRect(const CRect& rect) { return QRect(rect.left, rect.top, rect.Width(), rect.Height()); }

// Runs the event loop for a while, as the program's own loop would.
void RunEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds or the time runs out; says whether it held.
bool RunEventLoopUntil(const std::function<bool()>& done, int milliseconds = 2000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Every action of a menu tree, depth first, popups included.
void CollectActions(const QList<QAction*>& actions, std::vector<QAction*>& all)
{
    for (QAction* action : actions) {
        all.push_back(action);
        if (QMenu* popup = action->menu())
            CollectActions(popup->actions(), all);
    }
}

// Remembers the rectangles of the paint events a widget gets.
class PaintRecorder : public QObject {
public:
    std::vector<QRect> painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted.push_back(static_cast<QPaintEvent*>(event)->rect());
        return false;
    }
};

class QtHostTest : public ::testing::Test {
protected:
    std::unique_ptr<QtHost> host = std::make_unique<QtHost>();
    RecordingMidiSystem midi{{"Port A"}};
    std::unique_ptr<CPanelDlg> panel;

    void SetUp() override
    {
        m_previousHost = SetHost(host.get());
        m_previousMidi = SetMidiSystem(&midi);
        panel = std::make_unique<CPanelDlg>();
        WindowRegistry::Instance().SetMainWindow(panel.get());
        panel->Create();
        midi.ClearLog();
    }

    void TearDown() override
    {
        panel.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        SetMidiSystem(m_previousMidi);
        SetHost(m_previousHost);
        host.reset();
        QCoreApplication::processEvents();
    }

    QtTopLevel* Native() const { return host->NativeWindow(panel.get()); }
    QtCanvas* Canvas() const { return Native()->Canvas(); }
    QMenuBar* MenuBar() const { return Native()->MenuBar(); }
    std::vector<DWORD> Sent() const { return midi.Messages(midi.LastHandle()); }

    // ---- Keys, as the window system gives them to Qt ----
    bool Key(QEvent::Type type, unsigned evdev, int qtKey = 0,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {},
             bool autoRepeat = false)
    {
        QKeyEvent event(type, qtKey, modifiers, evdev + kNativeOffset, 0, 0, text, autoRepeat);
        QCoreApplication::sendEvent(Canvas(), &event);
        return event.isAccepted();
    }
    bool Press(unsigned evdev, int qtKey = 0, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
               const QString& text = {})
    {
        return Key(QEvent::KeyPress, evdev, qtKey, modifiers, text);
    }
    bool Release(unsigned evdev, int qtKey = 0, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                 const QString& text = {})
    {
        return Key(QEvent::KeyRelease, evdev, qtKey, modifiers, text);
    }

    // ---- Mouse, at client pixels ----
    void Mouse(QEvent::Type type, QPoint point, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        m_mouseTime += 20;
        QMouseEvent event(type, QPointF(point), Canvas()->mapToGlobal(QPointF(point)), button, held,
                          modifiers);
        event.setTimestamp(m_mouseTime);
        QCoreApplication::sendEvent(Canvas(), &event);
    }
    void MousePress(QPoint point) { Mouse(QEvent::MouseButtonPress, point, Qt::LeftButton, Qt::LeftButton); }
    void MouseRelease(QPoint point)
    {
        Mouse(QEvent::MouseButtonRelease, point, Qt::LeftButton, Qt::NoButton);
    }
    void MouseMove(QPoint point, Qt::MouseButtons held = Qt::NoButton)
    {
        Mouse(QEvent::MouseMove, point, Qt::NoButton, held);
    }
    void Click(const CWnd& window)
    {
        const QPoint centre = ToQRect(window.RectInParent()).center();
        MousePress(centre);
        MouseRelease(centre);
        m_mouseTime += 2000; // far from the next click
    }
    void PauseMouse() { m_mouseTime += 2000; }

    // ---- Menu bar ----
    std::vector<QAction*> AllActions() const
    {
        std::vector<QAction*> all;
        CollectActions(MenuBar()->actions(), all);
        return all;
    }
    QAction* Action(const QString& text) const
    {
        for (QAction* action : AllActions())
            if (action->text() == text)
                return action;
        return nullptr;
    }
    std::vector<std::string> CheckedTexts() const
    {
        std::vector<std::string> texts;
        for (QAction* action : AllActions())
            if (action->isChecked())
                texts.push_back(action->text().toStdString());
        return texts;
    }

    int ChordNotesOffCount() const
    {
        const std::vector<DWORD> sent = Sent();
        return static_cast<int>(
            std::count(sent.begin(), sent.end(), AllNotesOffMessage(midi::kChordChannel)));
    }

    QImage Grab() const { return Canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // The point of the client area where a window of the panel shows, and its top-left.
    static QPoint Centre(const CWnd& window) { return ToQRect(window.RectInParent()).center(); }

private:
    Host* m_previousHost = nullptr;
    MidiSystem* m_previousMidi = nullptr;
    ulong m_mouseTime = 10000;
};

// ---- The window and its pixels -------------------------------------------------------------

TEST_F(QtHostTest, ClientAreaIsTheRackUnderAVisibleMenuBar)
{
    ASSERT_NE(Native(), nullptr);
    EXPECT_TRUE(Native()->isVisible());
    EXPECT_EQ(Native()->windowTitle(), "Varnek");
    EXPECT_FALSE(Native()->windowIcon().isNull());
    EXPECT_TRUE(MenuBar()->isVisible());
    EXPECT_GT(MenuBar()->height(), 0);
    EXPECT_EQ(Canvas()->size(), QSize(600, 200));
    EXPECT_EQ(Canvas()->geometry().top(), MenuBar()->geometry().bottom() + 1);
    EXPECT_EQ(Native()->size(), QSize(600, 200 + MenuBar()->height()));

    // The layer's idea of the client area is where the canvas really is.
    CRect client;
    panel->GetClientRect(&client);
    EXPECT_EQ(client, CRect(0, 0, 600, 200));
    CPoint origin(0, 0);
    panel->ClientToScreen(&origin);
    EXPECT_EQ(Canvas()->mapToGlobal(QPoint(0, 0)), QPoint(origin.x, origin.y));
}

TEST_F(QtHostTest, PaintsTheRackWithTheKeysAtTheirPlaces)
{
    const QImage rack = BitmapResource("RACK");
    const QImage whiteUp = BitmapResource("WHITE_NOTE_U");
    const QImage blackUp = BitmapResource("BLACK_NOTE_U");
    ASSERT_EQ(rack.size(), QSize(600, 200));
    ASSERT_EQ(whiteUp.size(), QSize(20, 70));
    ASSERT_EQ(blackUp.size(), QSize(12, 45));
    const QImage shown = Grab();
    ASSERT_EQ(shown.size(), QSize(600, 200));

    // Each pixel shows the topmost window there: the rack itself or a key; the other controls
    // have their own tests.
    int rackPixels = 0;
    int keyPixels = 0;
    int wrong = 0;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 600; ++x) {
            CWnd* window = panel->ChildFromPoint({x, y});
            QRgb expected = 0;
            if (window == panel.get()) {
                expected = rack.pixel(x, y);
                ++rackPixels;
            } else if (auto* key = dynamic_cast<CPianoKey*>(window)) {
                const CRect place = key->RectInParent();
                expected = (key->m_bWhite ? whiteUp : blackUp).pixel(x - place.left, y - place.top);
                ++keyPixels;
            } else {
                continue;
            }
            wrong += (shown.pixel(x, y) & 0xFFFFFF) != (expected & 0xFFFFFF);
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(rackPixels, 600 * 100);
    EXPECT_EQ(keyPixels, 28 * 20 * 70);
    EXPECT_EQ(panel->m_keys[0].RectInParent(), CRect(20, 128, 40, 198));
    EXPECT_EQ(DifferentPixels(shown.copy(20, 128, 13, 70), whiteUp.copy(0, 0, 13, 70)), 0);
}

TEST_F(QtHostTest, AKeyPlayedRepaintsItsPlacePressed)
{
    PaintRecorder recorder;
    Canvas()->installEventFilter(&recorder);
    QCoreApplication::processEvents();
    recorder.painted.clear();

    Press(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    const QRect place = ToQRect(panel->m_keys[kC4 - kFirstNote].RectInParent());
    EXPECT_TRUE(RunEventLoopUntil([&] {
        return std::any_of(recorder.painted.begin(), recorder.painted.end(),
                           [&](const QRect& rect) { return rect.contains(place); });
    }));
    // Its left 13 columns lie under no black key.
    const QImage whiteDown = BitmapResource("WHITE_NOTE_D");
    const QRect uncovered(place.topLeft(), QSize(13, 70));
    EXPECT_EQ(DifferentPixels(Grab().copy(uncovered), whiteDown.copy(0, 0, 13, 70)), 0);
    EXPECT_GT(DifferentPixels(whiteDown, BitmapResource("WHITE_NOTE_U")), 0);
    Canvas()->removeEventFilter(&recorder);
}

// ---- Keys ----------------------------------------------------------------------------------

TEST_F(QtHostTest, KeyEventsPlayByTheirNativeScanCode)
{
    EXPECT_TRUE(Press(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z"));
    EXPECT_EQ(Sent(), std::vector<DWORD>{NoteOn(kC4)});
    EXPECT_TRUE(Release(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z"));
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kC4), NoteOff(kC4)}));
}

TEST_F(QtHostTest, EveryPlayingKeyAndTheChordKeysAreFoundByTheirEvdevCode)
{
    for (int k = 0; k < 48; ++k) {
        midi.ClearLog();
        Press(kPlayingKeyEvdev[k]);
        Release(kPlayingKeyEvdev[k]);
        EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kFirstNote + k), NoteOff(kFirstNote + k)}))
            << "piano key " << k;
    }
    Press(KEY_F12, Qt::Key_F12);
    Release(KEY_F12, Qt::Key_F12);
    EXPECT_EQ(panel->m_nKeyOffset, 1);
    Press(KEY_F11, Qt::Key_F11);
    Press(KEY_F11, Qt::Key_F11);
    Release(KEY_F11, Qt::Key_F11);
    EXPECT_EQ(panel->m_nKeyOffset, -1);
}

TEST_F(QtHostTest, AHeldKeysRepeatsGiveOneNoteOnAndOneNoteOff)
{
    Key(QEvent::KeyPress, KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    for (int repeat = 0; repeat < 10; ++repeat) {
        Key(QEvent::KeyRelease, KEY_Z, Qt::Key_Z, Qt::NoModifier, "z", true);
        Key(QEvent::KeyPress, KEY_Z, Qt::Key_Z, Qt::NoModifier, "z", true);
    }
    EXPECT_EQ(Sent(), std::vector<DWORD>{NoteOn(kC4)});
    Key(QEvent::KeyRelease, KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kC4), NoteOff(kC4)}));
}

TEST_F(QtHostTest, TheKeyInZsPlacePlaysC4WhateverTheLayoutCallsIt)
{
    // German and French layouts put Y and W where a US keyboard has Z.
    Press(KEY_Z, Qt::Key_Y, Qt::NoModifier, "y");
    Release(KEY_Z, Qt::Key_Y, Qt::NoModifier, "y");
    Press(KEY_Z, Qt::Key_W, Qt::NoModifier, "w");
    Release(KEY_Z, Qt::Key_W, Qt::NoModifier, "w");
    // And the key a German layout calls Z sits where the US Y is: C3.
    Press(KEY_Y, Qt::Key_Z, Qt::NoModifier, "z");
    Release(KEY_Y, Qt::Key_Z, Qt::NoModifier, "z");
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kC4), NoteOff(kC4), NoteOn(kC4), NoteOff(kC4), NoteOn(48),
                                          NoteOff(48)}));
}

TEST_F(QtHostTest, TheKeypadSlashPlaysE5)
{
    Press(KEY_KPSLASH, Qt::Key_Slash, Qt::KeypadModifier, "/");
    Release(KEY_KPSLASH, Qt::Key_Slash, Qt::KeypadModifier, "/");
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kE5), NoteOff(kE5)}));
}

TEST_F(QtHostTest, AltCombinationsAreLeftToTheMenuBarAndF10OpensItsFirstMenu)
{
    EXPECT_FALSE(Press(KEY_Z, Qt::Key_Z, Qt::AltModifier, "z"));
    EXPECT_FALSE(Press(KEY_LEFTALT, Qt::Key_Alt));
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Press(KEY_F10, Qt::Key_F10));
    auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->title(), "Play &Thru");
    open->close();
    EXPECT_TRUE(Sent().empty());
    // Keys the panel does not map are still its own.
    EXPECT_TRUE(Press(KEY_ESC, Qt::Key_Escape));
    EXPECT_TRUE(Press(KEY_ENTER, Qt::Key_Return));
    EXPECT_TRUE(panel->IsWindow());
}

TEST_F(QtHostTest, TheKeyMenusShortcutsAreShownAndLeaveF11AndF12ToThePanel)
{
    EXPECT_EQ(Action("Key &Up ")->shortcut(), QKeySequence(Qt::Key_F12));
    EXPECT_EQ(Action("Key &Down ")->shortcut(), QKeySequence(Qt::Key_F11));
    // The panel knows F11 by its scan code, whatever Qt calls the key; a live shortcut of the
    // active window would take the key Qt calls F12 and raise the chord key instead.
    Native()->activateWindow();
    ASSERT_TRUE(RunEventLoopUntil([&] { return Native()->isActiveWindow(); }));
    Press(KEY_F11, Qt::Key_F12);
    Release(KEY_F11, Qt::Key_F12);
    EXPECT_EQ(panel->m_nKeyOffset, -1);
}

TEST_F(QtHostTest, ReleasingAKeyWhileAltIsHeldEndsItsNote)
{
    Press(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    Release(KEY_Z, Qt::Key_Z, Qt::AltModifier, "z");
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kC4), NoteOff(kC4)}));
}

TEST_F(QtHostTest, AMenuTakesTheKeysHeldOnTheKeyboardAndTheMouseReleaseItReceives)
{
    Native()->activateWindow();
    ASSERT_TRUE(RunEventLoopUntil([&] { return Native()->isActiveWindow(); }));
    Press(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    MousePress(Centre(panel->m_btnStyle[1])); // Waltz: pushed, and it captures
    Press(KEY_F10, Qt::Key_F10);
    auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kC4), NoteOff(kC4)}));
    EXPECT_EQ(CWnd::GetCapture(), &panel->m_btnStyle[1]);

    // The open menu has the pointer: the release goes to it, lets go of the capture and
    // clicks nothing on the panel.
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), open->mapToGlobal(QPointF(2, 2)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(open, &release);
    open->close();
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    EXPECT_EQ(panel->m_nStyle, 0);
}

TEST_F(QtHostTest, LosingActivationReleasesTheKeysHeldOnTheKeyboard)
{
    Native()->activateWindow();
    ASSERT_TRUE(RunEventLoopUntil([&] { return Native()->isActiveWindow(); }));
    Press(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    Press(KEY_C, Qt::Key_C, Qt::NoModifier, "c");

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(RunEventLoopUntil([&] { return !Native()->isActiveWindow(); }));
    const std::vector<DWORD> sent = Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), NoteOff(kC4)), 1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), NoteOff(64)), 1);

    // Their key-ups, arriving later, send nothing more.
    Release(KEY_Z, Qt::Key_Z, Qt::NoModifier, "z");
    Release(KEY_C, Qt::Key_C, Qt::NoModifier, "c");
    EXPECT_EQ(Sent().size(), 4u);
}

// ---- Mouse ---------------------------------------------------------------------------------

TEST_F(QtHostTest, MousePressAndReleaseOnAKeyPlayIt)
{
    const QPoint f1 = Centre(panel->m_keys[0]) + QPoint(-4, 25); // below the black keys
    MousePress(f1);
    EXPECT_EQ(Sent(), std::vector<DWORD>{NoteOn(kFirstNote)});
    MouseRelease(f1);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(kFirstNote), NoteOff(kFirstNote)}));
}

TEST_F(QtHostTest, GlidingWithTheButtonHeldPlaysEveryKeyCrossed)
{
    const QPoint f1(25, 190);
    const QPoint g1(45, 190);
    const QPoint a1(65, 190);
    MousePress(f1);
    MouseMove(g1, Qt::LeftButton);
    MouseMove(a1, Qt::LeftButton);
    MouseRelease(a1);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(29), NoteOn(31), NoteOn(33), NoteOff(33), NoteOff(29),
                                          NoteOff(31)}));
}

TEST_F(QtHostTest, QtsDoubleClickIsAPressThatTheLayerJudges)
{
    // Qt gives press, release, double-click, release for two quick clicks: its double-click is
    // one press, which a key sounds like any other.
    const QPoint f1(25, 190);
    MousePress(f1);
    MouseRelease(f1);
    Mouse(QEvent::MouseButtonDblClick, f1, Qt::LeftButton, Qt::LeftButton);
    MouseRelease(f1);
    MousePress(f1);
    MouseRelease(f1);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{NoteOn(29), NoteOff(29), NoteOn(29), NoteOff(29), NoteOn(29),
                                          NoteOff(29)}));
}

TEST_F(QtHostTest, TheCursorFollowsTheWindowUnderThePointer)
{
    MouseMove(QPoint(25, 190));
    EXPECT_EQ(Canvas()->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(Canvas()->cursor().hotSpot(), QPoint(3, 4));
    MouseMove(QPoint(300, 10));
    EXPECT_EQ(Canvas()->cursor().shape(), Qt::ArrowCursor);
}

// ---- Menu bar ------------------------------------------------------------------------------

TEST_F(QtHostTest, TheMenuBarShowsTheMenusTextsAndCheckMarks)
{
    QStringList titles;
    for (QAction* action : MenuBar()->actions())
        titles << action->text();
    EXPECT_EQ(titles, (QStringList{"Play &Thru", "&Instrument", "&Backing", "&Key", "&Help"}));

    EXPECT_EQ(CheckedTexts(),
              (std::vector<std::string>{"&Midi Mapper", "Piano", "Acoustic grand piano", "&None"}));
    // An unchecked item shows no box at all.
    for (QAction* action : AllActions())
        EXPECT_EQ(action->isCheckable(), action->isChecked()) << action->text().toStdString();

    QMenu* playThru = MenuBar()->actions()[0]->menu();
    ASSERT_NE(playThru, nullptr);
    ASSERT_EQ(playThru->actions().size(), 3);
    EXPECT_TRUE(playThru->actions()[1]->isSeparator());
    EXPECT_EQ(playThru->actions()[2]->text(), "Port A");

    ASSERT_NE(Action("Key &Up "), nullptr);
    ASSERT_NE(Action("Key &Down "), nullptr);
    EXPECT_EQ(Action("Percussion Map")->menu(), nullptr);
    EXPECT_EQ(Action("Strings")->menu()->actions().size(), 8);
}

TEST_F(QtHostTest, TriggeringAnActionRunsItsCommand)
{
    Action("&Rock")->trigger();
    EXPECT_EQ(panel->m_nStyle, 2);
    EXPECT_TRUE(Action("&Rock")->isChecked());
    EXPECT_FALSE(Action("&None")->isChecked());
    EXPECT_EQ(Sent(), (std::vector<DWORD>{AllNotesOffMessage(midi::kChordChannel),
                                          AllNotesOffMessage(midi::kDrumChannel)}));

    Action("Violin")->trigger();
    EXPECT_EQ(panel->m_nProgram, 40u);
    EXPECT_EQ(CheckedTexts(), (std::vector<std::string>{"&Midi Mapper", "Strings", "Violin", "&Rock"}));

    Action("Key &Up ")->trigger();
    EXPECT_EQ(panel->m_nKeyOffset, 1);

    Action("Port A")->trigger();
    EXPECT_EQ(midi.DeviceOf(midi.LastHandle()), 0);
    EXPECT_TRUE(Action("Port A")->isChecked());
    EXPECT_FALSE(Action("&Midi Mapper")->isChecked());
}

TEST_F(QtHostTest, TheMenuButtonHidesTheMenuBarAndShowsItAgain)
{
    const QPoint rackOnScreen = Canvas()->mapToGlobal(QPoint(0, 0));
    const qsizetype actionCount = static_cast<qsizetype>(AllActions().size());

    Click(panel->m_btnMenu);
    EXPECT_EQ(panel->GetMenu(), nullptr);
    EXPECT_FALSE(MenuBar()->isVisible());
    EXPECT_TRUE(Native()->isVisible());
    EXPECT_TRUE(Native()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Native()->size(), QSize(600, 200));
    EXPECT_EQ(Canvas()->mapToGlobal(QPoint(0, 0)), rackOnScreen);

    Click(panel->m_btnMenu);
    EXPECT_EQ(panel->GetMenu(), &panel->m_menu);
    EXPECT_TRUE(MenuBar()->isVisible());
    EXPECT_TRUE(Native()->isVisible());
    EXPECT_FALSE(Native()->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(Canvas()->size(), QSize(600, 200));
    EXPECT_EQ(Canvas()->mapToGlobal(QPoint(0, 0)), rackOnScreen);
    EXPECT_EQ(static_cast<qsizetype>(AllActions().size()), actionCount);
    EXPECT_EQ(CheckedTexts(),
              (std::vector<std::string>{"&Midi Mapper", "Piano", "Acoustic grand piano", "&None"}));
    Action("&Waltz")->trigger();
    EXPECT_EQ(panel->m_nStyle, 1);
}

TEST_F(QtHostTest, RebuildingTheMenuBarDoesNotPileUpOldMenus)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const qsizetype menus = MenuBar()->findChildren<QMenu*>().size();
    for (int toggle = 0; toggle < 6; ++toggle)
        Click(panel->m_btnMenu);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(MenuBar()->findChildren<QMenu*>().size(), menus);
}

// ---- Help dialogs --------------------------------------------------------------------------

TEST(QtTemplateDialogTest, KeyCapsWithOneLineAndWithTwoStartTheirTextOnTheSameLine)
{
    QtTemplateDialog dialog(g_dlgKeyboardMapping, nullptr);
    const QImage shown = dialog.grab().toImage();
    // The first row of text pixels inside a label, its raised frame left out.
    const auto firstTextRow = [&](const char* text) {
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->text() != QString::fromUtf8(text))
                continue;
            const QRect inside = label->contentsRect().translated(label->pos());
            for (int y = inside.top(); y <= inside.bottom(); ++y)
                for (int x = inside.left(); x <= inside.right(); ++x)
                    if (qGray(shown.pixel(x, y)) < 100)
                        return y;
        }
        return -1;
    };
    EXPECT_GT(firstTextRow("6"), 0);
    EXPECT_EQ(firstTextRow("6"), firstTextRow("7\nC#"));
    EXPECT_EQ(firstTextRow("Esc"), firstTextRow("F1\nF"));
}

// ---- Posted messages and timers ------------------------------------------------------------

TEST_F(QtHostTest, PostedMessagesWaitForTheEventLoop)
{
    panel->PostMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(ID_KEY_UP), 0), 0);
    EXPECT_EQ(panel->m_nKeyOffset, 0);
    EXPECT_TRUE(RunEventLoopUntil([&] { return panel->m_nKeyOffset == 1; }));
}

TEST_F(QtHostTest, AWakeUpPendingWhenTheHostEndsIsDropped)
{
    panel.reset();
    auto other = std::make_unique<QtHost>();
    SetHost(other.get());
    WindowRegistry::Instance().Post({nullptr, WM_COMMAND, 0, 0});
    SetHost(host.get());
    other.reset();
    // The wake-up must not reach the host that is gone; the message waits for the next one.
    QCoreApplication::processEvents();
    EXPECT_TRUE(WindowRegistry::Instance().HasPosted());
    WindowManager::Instance().ProcessPosted();
}

TEST_F(QtHostTest, TangoTicksOnTheRealTimer)
{
    Action("&Tango")->trigger();
    midi.ClearLog();
    QElapsedTimer clock;
    clock.start();
    RunEventLoop(1000);
    const qint64 elapsed = clock.elapsed();
    // Coarse bounds only: a busy machine delays ticks, but never brings them early.
    EXPECT_GE(ChordNotesOffCount(), 6);
    EXPECT_LE(ChordNotesOffCount(), elapsed / 75 + 1);

    Action("&None")->trigger();
    midi.ClearLog();
    RunEventLoop(300);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(QtHostTest, TimersEndWithTheWindow)
{
    Action("&Tango")->trigger();
    panel.reset();
    midi.ClearLog();
    RunEventLoop(250);
    EXPECT_TRUE(midi.AllMessages().empty());
}

} // namespace
