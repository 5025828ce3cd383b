// The front panel's set-up and life on the test host: its size and place, where every control
// sits, dragging the bare rack, the keys that never close it, the two ways it ends, painting.

#include "keys/key_scan_codes.h"
#include "midi/midi_messages.h"
#include "platform/gdi_objects.h"
#include "res/resource_ids.h"
#include "tests/panel_fixture.h"

#include <algorithm>

namespace {

CRect OuterRect(CWnd& window)
{
    CRect rect;
    window.GetWindowRect(&rect);
    return rect;
}

bool Contains(const std::vector<int>& values, int value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

// ---- Size and place ------------------------------------------------------------------------------

TEST_F(PanelTest, ClientAreaIsTheRackUnderCaptionAndMenuBar)
{
    Start();
    CRect client;
    Panel().GetClientRect(&client);
    EXPECT_EQ(client, CRect(0, 0, 600, 200));
    const CRect outer = OuterRect(Panel());
    EXPECT_EQ(outer.Width(), 606);
    EXPECT_EQ(outer.Height(), 240);
    EXPECT_EQ(Panel().GetMenu(), &Panel().m_menu);
    EXPECT_EQ(Panel().WindowText(), "Varnek");
    EXPECT_EQ(Panel().GetStyle() & WS_MAXIMIZEBOX, 0u);
    EXPECT_EQ(Panel().GetStyle() & WS_CAPTION, WS_CAPTION);
    EXPECT_NE(Panel().m_hIcon, nullptr);
    EXPECT_EQ(Panel().GetIcon(TRUE), Panel().m_hIcon);
    EXPECT_EQ(Panel().GetIcon(FALSE), Panel().m_hIcon);
    EXPECT_EQ(reinterpret_cast<HICON>(Panel().SendMessage(WM_QUERYDRAGICON)), Panel().m_hIcon);
}

TEST_F(PanelTest, CentresOnTheWorkAreaAndStaysInsideIt)
{
    struct Case {
        const char* what;
        CRect work;
        CPoint topLeft;
    };
    // The window is 606 x 240.
    const Case cases[] = {
        {"a taskbar below", {0, 0, 1024, 728}, {209, 244}},
        {"a panel to the left", {300, 0, 1024, 768}, {359, 264}},
        {"a panel to the right", {0, 0, 700, 768}, {47, 264}},
        {"a panel above", {0, 300, 1024, 768}, {209, 414}},
        {"too narrow: the left edge wins", {300, 0, 800, 728}, {300, 244}},
        {"too low: the top edge wins", {0, 100, 1024, 300}, {209, 100}},
        {"off the origin", {100, 50, 1124, 818}, {309, 314}},
        {"odd size", {0, 0, 1025, 769}, {209, 264}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.workArea = c.work;
        panel.reset();
        Start();
        EXPECT_EQ(OuterRect(Panel()), CRect(c.topLeft.x, c.topLeft.y, c.topLeft.x + 606, c.topLeft.y + 240));
    }
}

// ---- Controls ------------------------------------------------------------------------------------

TEST_F(PanelTest, ButtonsLampsAndLedStandAtTheirPlacesInTheirImageSizes)
{
    Start();
    struct Place {
        UINT id;
        int x, y, cx, cy;
    };
    // clang-format off
    const Place places[] = {
        {1000,  36,  53, 30, 12}, {1001, 537,  32, 30, 12}, {1002, 537,  53, 30, 12}, {1003, 537,  74, 30, 12},
        {1024, 274,  81,  6, 15}, {1025, 319,  81,  6, 15},
        {1004,  23, 122,  9,  4}, {1005,  35, 122,  9,  4}, {1006,  45, 122,  9,  4}, {1007,  55, 122,  9,  4},
        {1008,  65, 122,  9,  4}, {1009,  75, 122,  9,  4}, {1010,  87, 122,  9,  4}, {1011, 103, 122,  9,  4},
        {1012, 115, 122,  9,  4}, {1013, 125, 122,  9,  4}, {1014, 135, 122,  9,  4}, {1015, 147, 122,  9,  4},
        {1016, 174,  64, 30, 12}, {1017, 158,  80, 30, 12}, {1018, 158,  96, 30, 12}, {1019, 174, 112, 30, 12},
        {1020, 396,  64, 30, 12}, {1021, 412,  80, 30, 12}, {1022, 412,  96, 30, 12}, {1023, 396, 112, 30, 12},
        {1028, 200,  24, 220, 15},
    };
    // clang-format on
    for (const Place& p : places) {
        SCOPED_TRACE(p.id);
        CWnd* control = Panel().GetDlgItem(p.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->RectInParent(), CRect(p.x, p.y, p.x + p.cx, p.y + p.cy));
        EXPECT_TRUE(control->IsWindowVisible());
    }
    EXPECT_EQ(Panel().GetDlgItem(1000), &Panel().m_btnPower);
    EXPECT_EQ(Panel().GetDlgItem(1025), &Panel().m_btnProgramUp);
    EXPECT_EQ(Panel().GetDlgItem(1011), &Panel().m_btnKeyLed[7]);
    EXPECT_EQ(Panel().GetDlgItem(1023), &Panel().m_btnStyle[7]);
    EXPECT_EQ(Panel().GetDlgItem(1028), &Panel().m_led);

    // Lit at set-up: Power, Menu, the two normal buttons, the program buttons, C and None.
    for (const CRackButton* lit : {&Panel().m_btnPower, &Panel().m_btnMenu, &Panel().m_btnHotKey,
                                   &Panel().m_btnAbout, &Panel().m_btnProgramDown, &Panel().m_btnProgramUp})
        EXPECT_EQ(lit->m_bOn, 1);
    for (int lamp = 0; lamp < CPanelDlg::kKeyLampCount; ++lamp)
        EXPECT_EQ(Panel().m_btnKeyLed[lamp].m_bOn, lamp == 7 ? 1 : 0) << lamp;
    for (int style = 0; style < CPanelDlg::kStyleCount; ++style)
        EXPECT_EQ(Panel().m_btnStyle[style].m_bOn, style == 0 ? 1 : 0) << style;
}

TEST_F(PanelTest, FortyEightKeysFromFOneToEFiveWithTheBlackKeysOnTop)
{
    Start();
    // One octave from F: left edges, and which keys are black.
    constexpr int kOctaveX[12] = {20, 33, 40, 53, 60, 73, 80, 100, 113, 120, 133, 140};
    constexpr bool kBlack[12] = {false, true,  false, true,  false, true,
                                 false, false, true,  false, true,  false};
    const auto& children = Panel().Children();
    size_t lowestBlack = 0;
    size_t highestWhite = children.size();
    for (int i = 0; i < CPanelDlg::kKeyCount; ++i) {
        SCOPED_TRACE(i);
        const CPianoKey& key = Panel().m_keys[i];
        const bool black = kBlack[i % 12];
        const int x = kOctaveX[i % 12] + 140 * (i / 12);
        const CSize size = black ? CSize(12, 45) : CSize(20, 70);
        EXPECT_EQ(key.RectInParent(), CRect(x, 128, x + size.cx, 128 + size.cy));
        EXPECT_EQ(key.GetDlgCtrlID(), 100u + i);
        EXPECT_EQ(key.WindowText(), black ? "Black Note" : "White Note");
        EXPECT_EQ(key.m_nNote, 29 + i);
        EXPECT_EQ(key.m_bWhite, black ? FALSE : TRUE);
        const size_t place =
            static_cast<size_t>(std::find(children.begin(), children.end(), &key) - children.begin());
        ASSERT_LT(place, children.size());
        if (black)
            lowestBlack = std::max(lowestBlack, place);
        else
            highestWhite = std::min(highestWhite, place);
    }
    EXPECT_LT(lowestBlack, highestWhite); // every black key lies above every white key

    // Where a black key covers a white one, the black key takes the mouse.
    for (int i = 0; i < CPanelDlg::kKeyCount; ++i) {
        if (!kBlack[i % 12])
            continue;
        const CRect black = Panel().m_keys[i].RectInParent();
        EXPECT_EQ(Panel().ChildFromPoint({black.left + 1, 170}), &Panel().m_keys[i]) << i;
        EXPECT_EQ(Panel().ChildFromPoint({black.left + 1, 180}), &Panel().m_keys[i - 1]) << i;
        EXPECT_EQ(Panel().ChildFromPoint({black.right - 1, 180}), &Panel().m_keys[i + 1]) << i;
    }
}

TEST_F(PanelTest, KnobDotSitsBelowTheKnobCentre)
{
    Start();
    EXPECT_EQ(Panel().GetDlgItem(148), &Panel().m_knob);
    EXPECT_EQ(Panel().m_knob.WindowText(), "Program");
    EXPECT_EQ(Panel().m_knob.RectInParent(), CRect(297, 100, 302, 105));
    EXPECT_EQ(Panel().m_knob.m_nPosition, 0);
}

// ---- Dragging ------------------------------------------------------------------------------------

constexpr CPoint kBareSurface{10, 10};

TEST_F(PanelTest, WithTheMenuBarShownTheBodyIsNotDragged)
{
    StartAndForget();
    ASSERT_EQ(Panel().ChildFromPoint(kBareSurface), &Panel());
    const CRect before = OuterRect(Panel());
    host.Press(Top(), kBareSurface);
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    EXPECT_FALSE(Contains(host.cursors, IDC_DRAG));
    host.Move(Top(), {60, 40});
    host.Move(Top(), {5, 90});
    EXPECT_EQ(OuterRect(Panel()), before);
    host.Release(Top(), {5, 90});
    EXPECT_EQ(OuterRect(Panel()), before);
}

TEST_F(PanelTest, TheBareRackFollowsThePointerByExactlyItsMovement)
{
    StartAndForget();
    ClickOn(Panel().m_btnMenu);
    ASSERT_EQ(Panel().GetMenu(), nullptr);
    const CRect start = OuterRect(Panel());

    host.Press(Top(), kBareSurface);
    EXPECT_EQ(CWnd::GetCapture(), &Panel());
    ASSERT_FALSE(host.cursors.empty());
    EXPECT_EQ(host.cursors.back(), IDC_DRAG);
    EXPECT_EQ(Panel().m_ptDragAnchor, kBareSurface);

    host.Move(Top(), {15, 7});
    CRect expected = start;
    expected.OffsetRect(5, -3);
    EXPECT_EQ(OuterRect(Panel()), expected);
    // The window moved under the pointer, so the pointer is back at the anchor: no move.
    host.Move(Top(), kBareSurface);
    EXPECT_EQ(OuterRect(Panel()), expected);
    host.Move(Top(), {8, 14});
    expected.OffsetRect(-2, 4);
    EXPECT_EQ(OuterRect(Panel()), expected);
    // Far outside the window, still captured.
    host.Move(Top(), {-290, 310});
    expected.OffsetRect(-300, 300);
    EXPECT_EQ(OuterRect(Panel()), expected);
    EXPECT_EQ(expected.Width(), 600);
    EXPECT_EQ(expected.Height(), 200);
    EXPECT_EQ(host.cursors.back(), IDC_DRAG); // the drag cursor stays while captured

    host.Release(Top(), kBareSurface);
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    EXPECT_EQ(Panel().m_ptDragAnchor.x, -1);
    host.Move(Top(), {40, 40}); // no button: nothing moves, the arrow returns
    EXPECT_EQ(OuterRect(Panel()), expected);
    EXPECT_EQ(host.cursors.back(), 0);

    // Grabbed again at once, where a double-click would be, it drags all the same.
    host.Advance(100);
    host.Press(Top(), kBareSurface);
    host.Move(Top(), {13, 10});
    expected.OffsetRect(3, 0);
    EXPECT_EQ(OuterRect(Panel()), expected);
    host.Release(Top(), kBareSurface);
}

TEST_F(PanelTest, AReleaseWithShiftKeepsTheDragAndTheSoundingKeys)
{
    StartAndForget();
    ClickOn(Panel().m_btnMenu);
    Panel().m_keys[10].NoteOn();
    Panel().m_keys[40].NoteOn();
    host.Press(Top(), kBareSurface);

    host.Release(Top(), kBareSurface, MK_LBUTTON, MK_SHIFT);
    EXPECT_EQ(CWnd::GetCapture(), &Panel());
    EXPECT_NE(Panel().m_ptDragAnchor.x, -1);
    EXPECT_TRUE(Panel().m_keys[10].m_bDown);
    EXPECT_TRUE(Panel().m_keys[40].m_bDown);
    EXPECT_EQ(Sent().size(), 2u);

    host.Release(Top(), kBareSurface); // flags 0 now
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    EXPECT_EQ(Panel().m_ptDragAnchor.x, -1);
    EXPECT_FALSE(Panel().m_keys[10].m_bDown);
    EXPECT_FALSE(Panel().m_keys[40].m_bDown);
    const std::vector<DWORD> expected = {KeyNoteMessage(39, false, true), KeyNoteMessage(69, false, true),
                                         KeyNoteMessage(39, false, false), KeyNoteMessage(69, false, false)};
    EXPECT_EQ(Sent(), expected);
}

TEST_F(PanelTest, ReleasingOverAKeySilencesTheMouseKeysButNotThoseHeldFromTheKeyboard)
{
    StartAndForget();
    host.KeyDown(Top(), g_nKeyScanCode[0]);
    host.KeyDown(Top(), g_nKeyScanCode[47]);
    host.Click(Top(), Centre(Panel().m_keys[24]));
    for (const CPianoKey& key : Panel().m_keys)
        EXPECT_EQ(key.m_bDown, key.m_nNote == 29 || key.m_nNote == 76) << key.m_nNote;
    host.KeyUp(Top(), g_nKeyScanCode[47]);
    host.KeyUp(Top(), g_nKeyScanCode[0]);
    const std::vector<DWORD> expected = {KeyNoteMessage(29, false, true),  KeyNoteMessage(76, false, true),
                                         KeyNoteMessage(53, false, true),  KeyNoteMessage(53, false, false),
                                         KeyNoteMessage(76, false, false), KeyNoteMessage(29, false, false)};
    EXPECT_EQ(Sent(), expected);
}

// ---- Keys that would close a dialog --------------------------------------------------------------

TEST_F(PanelTest, EscapeEnterSpaceAndTabNeverEndThePanel)
{
    StartAndForget();
    // Give a button the focus first: the keys must not click it either.
    ClickOn(Panel().m_btnHotKey);
    ASSERT_EQ(CWnd::GetFocus(), &Panel().m_btnHotKey);
    const std::size_t dialogs = host.templateDialogs.size();
    struct Key {
        int scanCode;
        bool extended;
    };
    const Key keys[] = {{0x01, false}, {0x1C, false}, {0x1C, true}, {0x39, false}, {0x0F, false}};
    for (const Key& key : keys) {
        SCOPED_TRACE(key.scanCode);
        EXPECT_TRUE(host.KeyDown(Top(), key.scanCode, key.extended));
        EXPECT_TRUE(host.KeyDown(Top(), key.scanCode, key.extended, true));
        EXPECT_TRUE(host.KeyUp(Top(), key.scanCode, key.extended));
        EXPECT_FALSE(Panel().HasEnded());
        EXPECT_TRUE(Panel().IsWindow());
    }
    EXPECT_EQ(host.templateDialogs.size(), dialogs);
}

// ---- Ending ------------------------------------------------------------------------------------

TEST_F(PanelTest, PowerEndsTheModalRunWithOneAfterClosingThePort)
{
    panel = std::make_unique<CPanelDlg>();
    WindowRegistry::Instance().SetMainWindow(panel.get());
    std::uintptr_t port = 0;
    host.onModal = [&](CWnd*) {
        port = midi.LastHandle();
        midi.ClearLog();
        ClickOn(Panel().m_btnPower);
    };
    EXPECT_EQ(Panel().DoModal(), 1);
    EXPECT_FALSE(Panel().IsWindow());
    EXPECT_FALSE(midi.IsOpen(port));
    EXPECT_EQ(midi.Calls(), (std::vector<std::string>{"close " + std::to_string(port)}));
    EXPECT_EQ(Panel().m_btnPower.m_bOn, 0); // its light flipped with the click
}

TEST_F(PanelTest, PowerWithNoPortOpenEndsAtOnce)
{
    midi.FailOpens(-1);
    StartAndForget();
    ASSERT_EQ(Panel().m_hMidiOut, nullptr);
    const std::uint64_t before = host.Now();
    host.Click(Top(), Centre(Panel().m_btnPower));
    EXPECT_TRUE(Panel().HasEnded());
    EXPECT_EQ(Panel().ModalResult(), 1);
    EXPECT_TRUE(midi.Calls().empty());
    EXPECT_EQ(host.Now(), before);
}

TEST_F(PanelTest, ACloseRequestClosesThePortAndEndsWithTwo)
{
    panel = std::make_unique<CPanelDlg>();
    WindowRegistry::Instance().SetMainWindow(panel.get());
    std::uintptr_t port = 0;
    host.onModal = [&](CWnd* dialog) {
        port = midi.LastHandle();
        WindowManager::Instance().CloseRequested(dialog);
    };
    EXPECT_EQ(Panel().DoModal(), 2);
    EXPECT_FALSE(midi.IsOpen(port));
    EXPECT_EQ(midi.OpenCount(), 0u);
}

TEST_F(PanelTest, ACloseRequestWhileTheBackingPlaysEndsItToo)
{
    StartAndForget();
    Command(ID_STYLE_FIRST + 2); // Rock
    host.Advance(1000);
    ASSERT_FALSE(Sent().empty());
    const std::uintptr_t port = midi.LastHandle();
    WindowManager::Instance().CloseRequested(Top());
    EXPECT_TRUE(Panel().HasEnded());
    EXPECT_EQ(Panel().ModalResult(), 2);
    EXPECT_FALSE(midi.IsOpen(port));
    // Ticks until the window goes play into a closed port and harm nothing.
    host.Advance(1000);
    panel.reset();
    EXPECT_EQ(midi.OpenCount(), 0u);
}

// ---- Painting ----------------------------------------------------------------------------------

TEST_F(PanelTest, PaintingShowsTheRackWhereNoControlCoversIt)
{
    Start();
    const QImage picture = host.Render(Top());
    ASSERT_EQ(picture.size(), QSize(600, 200));
    const QImage* rack = DibImage(Panel().m_dibRack);
    ASSERT_NE(rack, nullptr);
    for (const CPoint p :
         {CPoint{5, 5}, CPoint{450, 10}, CPoint{590, 150}, CPoint{5, 195}, CPoint{250, 110}}) {
        ASSERT_EQ(Panel().ChildFromPoint(p), &Panel());
        EXPECT_EQ(picture.pixel(p.x, p.y), rack->pixel(p.x, p.y)) << p.x << "," << p.y;
    }
}

TEST_F(PanelTest, AMinimisedPanelPaintsItsIconInTheMiddle)
{
    Start();
    host.minimized = true;
    std::vector<std::string> trace;
    SetGdiTrace(&trace);
    host.Render(Top());
    SetGdiTrace(nullptr);
    ASSERT_FALSE(trace.empty());
    // The panel paints before its children: its first drawing is the icon, not the rack.
    EXPECT_EQ(trace.front(), "DrawIcon 284,84");
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "DrawIcon 284,84"), 1);
}

} // namespace
