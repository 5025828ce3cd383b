// The panel's own controls: rack buttons (toggle at the completed click, the image table,
// double-clicks), the LED line (image, then green transparent text cut at its edge) and the
// program knob (places on its circle, directions read back, commands while dragging).

#include "platform/gdi_objects.h"
#include "tests/panel_fixture.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UINT kFourImageId = 501;
constexpr UINT kTwoImageId = 502;
constexpr UINT kLampId = 503;
constexpr UINT kKnobId = 148;
constexpr UINT kFirstProgramCommand = 32777;
constexpr int kCursorOpenHand = 138;
constexpr int kCursorPressingHand = 144;

constexpr DWORD kOwnerDrawn = WS_CHILD | WS_VISIBLE | BS_OWNERDRAW;
constexpr DialogControl kControls[] = {
    {DialogControlKind::Button, "four", kFourImageId, 0, 0, 10, 10, kOwnerDrawn, 0},
    {DialogControlKind::Button, "two", kTwoImageId, 0, 0, 10, 10, kOwnerDrawn, 0},
    {DialogControlKind::Button, "lamp", kLampId, 0, 0, 10, 10, kOwnerDrawn, 0},
};
// Away from the screen's origin, so that client and screen coordinates differ as they do on
// any desktop.
constexpr DialogTemplate kTestDialog{
    900, "Widgets", WS_POPUP | WS_VISIBLE, 0, 8, "MS Sans Serif", 40, 40, 280, 130, kControls};

// A parent for the widgets that records every command it receives, with the value the
// four-image button holds at that moment.
class WidgetParent : public CDialog {
public:
    struct Notice {
        UINT id;
        WORD code;
        int fourImageValue;
    };

    WidgetParent() : CDialog(kTestDialog) {}
    ~WidgetParent() override { DestroyWindow(); }

    BOOL OnInitDialog() override
    {
        fourImage.Place(20, 20, kFourImageId, this, "GREEN_ON_U", "GREEN_ON_D", "ALL_OFF_U", "ALL_OFF_D", 1);
        twoImage.Place(60, 20, kTwoImageId, this, "NORMAL_U", "NORMAL_D", nullptr, nullptr, 1);
        lamp.Place(100, 20, kLampId, this, "YELLOW_ON", nullptr, "YELLOW_OFF", nullptr, 0);
        knob.Create(nullptr, "Program", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                    CRect(299, 89, 0, 0), this, kKnobId);
        knob.SetGeometry(297, 87, 13, 0);
        return TRUE;
    }

    CRackButton fourImage;
    CRackButton twoImage;
    CRackButton lamp;
    CProgramKnob knob;
    std::vector<Notice> notices;

protected:
    BOOL OnCommand(WPARAM wParam, LPARAM) override
    {
        notices.push_back({LOWORD(wParam), HIWORD(wParam), fourImage.m_bOn});
        return TRUE;
    }
};

class WidgetTest : public ::testing::Test {
protected:
    TestHost host;
    std::unique_ptr<WidgetParent> parent;

    void SetUp() override
    {
        parent = std::make_unique<WidgetParent>();
        parent->Create();
    }

    CWnd* Top() { return parent.get(); }
    static CPoint Centre(const CWnd& window)
    {
        const CRect rect = window.RectInParent();
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    static const QImage& Picture(const CDib& dib) { return *DibImage(static_cast<HBITMAP>(dib)); }

    // True when the window's place in a frame shows exactly the picture.
    static bool Shows(const QImage& frame, const CWnd& window, const QImage& picture)
    {
        const CRect rect = window.RectInParent();
        if (rect.Width() != picture.width() || rect.Height() != picture.height())
            return false;
        for (int y = 0; y < rect.Height(); ++y)
            for (int x = 0; x < rect.Width(); ++x)
                if ((frame.pixel(rect.left + x, rect.top + y) & 0xFFFFFF) != (picture.pixel(x, y) & 0xFFFFFF))
                    return false;
        return true;
    }
    bool ShowsNow(const CWnd& window, const CDib& dib)
    {
        return Shows(host.Render(Top()), window, Picture(dib));
    }

    std::vector<UINT> KnobCommands() const
    {
        std::vector<UINT> ids;
        for (const auto& notice : parent->notices)
            if (notice.id >= kFirstProgramCommand)
                ids.push_back(notice.id - kFirstProgramCommand);
        return ids;
    }

    CPoint KnobPlace() const { return parent->knob.RectInParent().TopLeft(); }
    void PlaceKnob(int position) { parent->knob.SetGeometry(297, 87, 13, position); }
    void ProcessPosted() { WindowManager::Instance().ProcessPosted(); }
};

// ---- Rack buttons -------------------------------------------------------------------------

TEST_F(WidgetTest, ButtonsTakeTheirPlaceAndTheSizeOfTheirFirstImage)
{
    EXPECT_EQ(parent->fourImage.RectInParent(), CRect(20, 20, 50, 32));
    EXPECT_EQ(parent->twoImage.RectInParent(), CRect(60, 20, 90, 32));
    EXPECT_EQ(parent->lamp.RectInParent(), CRect(100, 20, 109, 24));
    EXPECT_TRUE(parent->fourImage.m_bHasOffDown);
    EXPECT_FALSE(parent->twoImage.m_bHasOffUp);
    EXPECT_FALSE(parent->lamp.m_bHasOnDown);
}

TEST_F(WidgetTest, CompletedClickTogglesAtTheReleaseBeforeTheParentHearsOfIt)
{
    CRackButton& button = parent->fourImage;
    host.Press(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 1) << "nothing changes at the press";
    EXPECT_TRUE(parent->notices.empty());
    host.Release(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 0);
    ASSERT_EQ(parent->notices.size(), 1u);
    EXPECT_EQ(parent->notices[0].id, kFourImageId);
    EXPECT_EQ(parent->notices[0].code, BN_CLICKED);
    EXPECT_EQ(parent->notices[0].fourImageValue, 0) << "the parent already sees the new value";

    host.Advance(1000);
    host.Click(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 1);
    ASSERT_EQ(parent->notices.size(), 2u);
    EXPECT_EQ(parent->notices[1].fourImageValue, 1);
}

TEST_F(WidgetTest, ReleaseAwayFromTheButtonNeitherTogglesNorClicks)
{
    CRackButton& button = parent->fourImage;
    host.Press(Top(), Centre(button));
    EXPECT_TRUE(ShowsNow(button, button.m_imgOnDown));
    host.Move(Top(), {200, 150});
    EXPECT_TRUE(ShowsNow(button, button.m_imgOnUp)) << "drawn not pressed while the pointer is off";
    host.Release(Top(), {200, 150});
    EXPECT_EQ(button.m_bOn, 1);
    EXPECT_TRUE(parent->notices.empty());
    EXPECT_TRUE(ShowsNow(button, button.m_imgOnUp));
}

TEST_F(WidgetTest, PointerBackOverTheButtonBeforeTheReleaseCompletesTheClick)
{
    CRackButton& button = parent->fourImage;
    host.Press(Top(), Centre(button));
    host.Move(Top(), {200, 150});
    host.Move(Top(), Centre(button));
    EXPECT_TRUE(ShowsNow(button, button.m_imgOnDown));
    host.Release(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 0);
    EXPECT_EQ(parent->notices.size(), 1u);
}

TEST_F(WidgetTest, FourImageButtonShowsItsValueAndWhetherItIsPressed)
{
    CRackButton& button = parent->fourImage;
    for (const int value : {1, 0}) {
        button.m_bOn = value;
        EXPECT_TRUE(ShowsNow(button, value ? button.m_imgOnUp : button.m_imgOffUp)) << value;
        host.Press(Top(), Centre(button));
        EXPECT_TRUE(ShowsNow(button, value ? button.m_imgOnDown : button.m_imgOffDown)) << value;
        host.Release(Top(), {200, 150}); // away: no toggle
        host.Advance(1000);
    }
}

TEST_F(WidgetTest, TwoImagePushButtonShowsItsDownImageWhilePressedWhateverItsValue)
{
    CRackButton& button = parent->twoImage;
    for (const int value : {1, 0}) {
        button.m_bOn = value;
        EXPECT_TRUE(ShowsNow(button, button.m_imgOnUp)) << value;
        host.Press(Top(), Centre(button));
        EXPECT_TRUE(ShowsNow(button, button.m_imgOnDown)) << value;
        host.Release(Top(), {200, 150});
        host.Advance(1000);
    }
}

TEST_F(WidgetTest, LampShowsOnlyItsValue)
{
    CRackButton& lamp = parent->lamp;
    for (const int value : {1, 0}) {
        lamp.m_bOn = value;
        const CDib& image = value ? lamp.m_imgOnUp : lamp.m_imgOffUp;
        EXPECT_TRUE(ShowsNow(lamp, image)) << value;
        host.Press(Top(), Centre(lamp));
        EXPECT_TRUE(ShowsNow(lamp, image)) << "pressing changes nothing visible, value " << value;
        host.Release(Top(), {200, 150});
        host.Advance(1000);
    }
}

TEST_F(WidgetTest, PushedButtonWithoutTheFocusIsDrawnNotPressed)
{
    CRackButton& button = parent->fourImage;
    host.Press(Top(), Centre(button));
    ASSERT_EQ(button.SendMessage(BM_GETSTATE) & (BST_PUSHED | BST_FOCUS), LRESULT(BST_PUSHED | BST_FOCUS));
    parent->twoImage.SetFocus();
    EXPECT_EQ(button.SendMessage(BM_GETSTATE) & (BST_PUSHED | BST_FOCUS), LRESULT(BST_PUSHED));
    EXPECT_TRUE(ShowsNow(button, button.m_imgOnUp));
    // Still pushed, so the release over it completes the click.
    host.Release(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 0);
}

TEST_F(WidgetTest, SecondPressOfADoubleClickNotifiesDoubleClickWithoutToggle)
{
    CRackButton& button = parent->fourImage;
    host.Click(Top(), Centre(button));
    host.Advance(100);
    host.Press(Top(), Centre(button));
    EXPECT_TRUE(ShowsNow(button, button.m_imgOffUp)) << "the double-click does not push the button";
    host.Release(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 0) << "one toggle, from the first click";
    ASSERT_EQ(parent->notices.size(), 2u);
    EXPECT_EQ(parent->notices[0].code, BN_CLICKED);
    EXPECT_EQ(parent->notices[1].id, kFourImageId);
    EXPECT_EQ(parent->notices[1].code, BN_DOUBLECLICKED);
    EXPECT_EQ(parent->notices[1].fourImageValue, 0);

    // The third quick press is a press again and completes a click.
    host.Advance(100);
    host.Click(Top(), Centre(button));
    EXPECT_EQ(button.m_bOn, 1);
    EXPECT_EQ(parent->notices.size(), 3u);
}

TEST_F(WidgetTest, AScreenReadersPressesAreClicksNeverADoubleClick)
{
    CRackButton& button = parent->fourImage;
    for (int press = 1; press <= 2; ++press) {
        WindowManager::Instance().PressLeftOn(&button);
        EXPECT_EQ(button.GetState() & BST_PUSHED, BST_PUSHED);
        WindowManager::Instance().ReleaseLeftFrom(&button);
        EXPECT_EQ(button.m_bOn, press % 2 == 1 ? 0 : 1);
        EXPECT_EQ(parent->notices.size(), static_cast<size_t>(press));
    }
}

class PanelWidgetTest : public PanelTest {};

TEST_F(PanelWidgetTest, MenuButtonHasFlippedItsLightWhenThePanelHidesTheMenuBar)
{
    Start();
    ASSERT_NE(Panel().GetMenu(), nullptr);
    ClickOn(Panel().m_btnMenu);
    EXPECT_EQ(Panel().GetMenu(), nullptr);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 0);
    ClickOn(Panel().m_btnMenu);
    EXPECT_NE(Panel().GetMenu(), nullptr);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 1);
}

// ---- LED display --------------------------------------------------------------------------

class LedDisplayTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        StartAndForget();
    }

    CLedDisplay& Led() { return Panel().m_led; }
    QImage Frame() { return host.Render(Top()); }
    static bool IsPureGreen(QRgb pixel)
    {
        return qRed(pixel) == 0 && qGreen(pixel) == 255 && qBlue(pixel) == 0;
    }
    // Letters are smoothed at their edges, so most of their pixels mix green with the grey.
    static bool IsGreenish(QRgb pixel) { return qGreen(pixel) - std::max(qRed(pixel), qBlue(pixel)) > 80; }

    // The rows of the LED, from `left` to `right` (panel pixels), as they look in a frame.
    static std::vector<QRgb> Strip(const QImage& frame, int left, int right)
    {
        std::vector<QRgb> pixels;
        for (int y = 24; y < 39; ++y)
            for (int x = left; x < right; ++x)
                pixels.push_back(frame.pixel(x, y) & 0xFFFFFF);
        return pixels;
    }
};

TEST_F(LedDisplayTest, SitsOverTheDisplayWindowAtTheSizeOfItsImage)
{
    EXPECT_EQ(Led().RectInParent(), CRect(200, 24, 420, 39));
}

TEST_F(LedDisplayTest, EmptyTextDrawsOnlyTheImage)
{
    Led().SetWindowText("");
    const QImage frame = Frame();
    const QImage& image = *DibImage(static_cast<HBITMAP>(Led().m_image));
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 220; ++x)
            ASSERT_EQ(frame.pixel(200 + x, 24 + y) & 0xFFFFFF, image.pixel(x, y) & 0xFFFFFF) << x << "," << y;
    EXPECT_EQ(image.pixel(0, 0) & 0xFFFFFF, qRgb(60, 60, 60) & 0xFFFFFF);
}

TEST_F(LedDisplayTest, TextIsWrittenInGreenOverTheImageFromTheTopLeftCorner)
{
    std::vector<std::string> trace;
    SetGdiTrace(&trace);
    const QImage frame = Frame();
    SetGdiTrace(nullptr);

    const std::string text = "TextOut 0,0 \"PROGRAM 0:  Acoustic grand piano\" colour 0x00FF00 mode 1";
    const auto textLine = std::find(trace.begin(), trace.end(), text);
    ASSERT_NE(textLine, trace.end());
    // The image went down just before, whole and through DrawDib.
    const auto drawing =
        std::find_if(std::make_reverse_iterator(textLine), trace.rend(), [](const std::string& line) {
            return line.rfind("DrawDibDraw", 0) == 0 || line.rfind("BitBlt", 0) == 0 ||
                   line.rfind("TextOut", 0) == 0;
        });
    ASSERT_NE(drawing, trace.rend());
    EXPECT_EQ(*drawing, "DrawDibDraw 0,0 -1x-1 flags 0x200");

    int pureGreens = 0;
    int greens = 0;
    int greys = 0;
    int leftmost = 600;
    int topmost = 200;
    for (int y = 24; y < 39; ++y) {
        for (int x = 200; x < 420; ++x) {
            const QRgb pixel = frame.pixel(x, y);
            pureGreens += IsPureGreen(pixel) ? 1 : 0;
            if (IsGreenish(pixel)) {
                ++greens;
                leftmost = std::min(leftmost, x);
                topmost = std::min(topmost, y);
            }
            if ((pixel & 0xFFFFFF) == (qRgb(60, 60, 60) & 0xFFFFFF))
                ++greys;
        }
    }
    EXPECT_GT(pureGreens, 0);
    EXPECT_GT(greens, 100);
    EXPECT_GT(greys, 220 * 15 / 2) << "the image shows between the letters";
    EXPECT_LE(leftmost, 203);
    EXPECT_LE(topmost, 28);
}

TEST_F(LedDisplayTest, TextWiderThanTheDisplayIsCutAtItsRightEdge)
{
    Led().SetWindowText("");
    const QImage plain = Frame();
    Led().SetWindowText(std::string(120, 'W').c_str());
    const QImage full = Frame();
    EXPECT_NE(Strip(full, 400, 420), Strip(plain, 400, 420)) << "the text reaches the edge";
    EXPECT_EQ(Strip(full, 420, 442), Strip(plain, 420, 442)) << "and nothing of it lies beyond";
}

TEST_F(LedDisplayTest, PressingTheDisplayChangesNothing)
{
    const QImage before = Frame();
    host.Press(Top(), {300, 30});
    EXPECT_EQ(Strip(Frame(), 200, 420), Strip(before, 200, 420));
    host.Release(Top(), {300, 30});
    EXPECT_EQ(Strip(Frame(), 200, 420), Strip(before, 200, 420));
    EXPECT_EQ(Led().WindowText(), "PROGRAM 0:  Acoustic grand piano");
    EXPECT_TRUE(Sent().empty());
}

// ---- Program knob -------------------------------------------------------------------------

TEST_F(WidgetTest, KnobDotIsFivePixelsSquare) { EXPECT_EQ(parent->knob.RectInParent().Size(), CSize(5, 5)); }

TEST_F(WidgetTest, KnobPositionsSitOnTheirCircle)
{
    const std::pair<int, CPoint> places[] = {
        {0, {297, 100}}, {1, {298, 100}}, {2, {298, 100}},   {32, {310, 87}},
        {64, {297, 74}}, {96, {284, 87}}, {128, {296, 100}},
    };
    for (const auto& [position, place] : places) {
        PlaceKnob(position);
        EXPECT_EQ(KnobPlace(), place) << position;
    }
    std::set<std::pair<int, int>> distinct;
    for (int position = 0; position <= 128; ++position) {
        PlaceKnob(position);
        distinct.insert({KnobPlace().x, KnobPlace().y});
    }
    EXPECT_EQ(distinct.size(), 87u);
    EXPECT_TRUE(parent->notices.empty()) << "setting the geometry sends no command";
}

TEST_F(WidgetTest, KnobDirectionsGiveTheirPositions)
{
    const struct {
        double dx, dy;
        int position;
    } directions[] = {
        {0, 13, 0}, {13, 0, 32}, {0, -13, 64}, {-13, 0, 96}, {-1, 13, 127}, {-0.001, 13, 128}, {1, 13, 1},
    };
    for (const auto& d : directions)
        EXPECT_EQ(CProgramKnob::PositionOfDirection(d.dx, d.dy), d.position) << d.dx << "," << d.dy;
    EXPECT_EQ(CProgramKnob::PositionOfDirection(0, 0), -1);
}

TEST_F(WidgetTest, KnobReadsItsOwnAngleBackOneLowerFromPosition65On)
{
    for (int position = 65; position <= 128; ++position) {
        const double angle = CProgramKnob::AngleOfPosition(position);
        EXPECT_EQ(CProgramKnob::PositionOfDirection(13 * std::sin(angle), 13 * std::cos(angle)), position - 1)
            << position;
    }
}

TEST_F(WidgetTest, KnobDraggedInTheFourDirectionsSelectsTheQuarters)
{
    // From position 0, grabbed 2 pixels into the dot, the pointer goes 13 pixels from the
    // circle's lowest point in each direction.
    const struct {
        int dx, dy;
        UINT position;
    } drags[] = {{13, -13, 32}, {0, -26, 64}, {-13, -13, 96}};
    for (const auto& drag : drags) {
        PlaceKnob(0);
        parent->notices.clear();
        const CPoint grab{297 + 2, 100 + 2};
        host.Press(Top(), grab);
        host.Move(Top(), {grab.x + drag.dx, grab.y + drag.dy});
        host.Release(Top(), {grab.x + drag.dx, grab.y + drag.dy});
        EXPECT_EQ(KnobCommands(), std::vector<UINT>{drag.position});
        EXPECT_EQ(parent->knob.m_nPosition, int(drag.position));
        host.Advance(1000);
    }
}

TEST_F(WidgetTest, KnobPressAndReleaseWithoutMovingSendsNothing)
{
    PlaceKnob(20);
    const CPoint dot = Centre(parent->knob);
    host.Press(Top(), dot);
    EXPECT_TRUE(parent->knob.m_bPressed);
    host.Release(Top(), dot);
    EXPECT_FALSE(parent->knob.m_bPressed);
    EXPECT_TRUE(parent->notices.empty());
    EXPECT_EQ(parent->knob.m_nPosition, 20);
}

TEST_F(WidgetTest, KnobDragWithinOneStepSendsNothing)
{
    const CPoint grab{299, 102};
    host.Press(Top(), grab);
    // Straight out from the centre, and slightly to the right of it but far out.
    host.Move(Top(), {grab.x, grab.y + 5});
    host.Move(Top(), {grab.x + 1, grab.y + 28});
    host.Move(Top(), {grab.x, grab.y - 13}); // onto the centre: no direction at all
    host.Move(Top(), grab);
    host.Release(Top(), grab);
    EXPECT_TRUE(parent->notices.empty());
    EXPECT_EQ(parent->knob.m_nPosition, 0);
    EXPECT_EQ(KnobPlace(), CPoint(297, 100));
}

TEST_F(WidgetTest, KnobIgnoresMovesWithoutTheLeftButton)
{
    host.Move(Top(), {299, 102});
    host.Move(Top(), {310, 90});
    host.Press(Top(), {299, 102}, MK_RBUTTON);
    host.Move(Top(), {320, 80});
    host.Release(Top(), {320, 80}, MK_RBUTTON);
    EXPECT_TRUE(parent->notices.empty());
    EXPECT_EQ(parent->knob.m_nPosition, 0);
}

TEST_F(WidgetTest, KnobTurnsUnderAPointerThatArrivesWithTheLeftButtonHeld)
{
    // The press lands on the parent; the dot turns all the same when the pointer reaches it.
    host.Press(Top(), {200, 150});
    host.Move(Top(), {299, 102});
    EXPECT_EQ(parent->knob.m_nPosition, 2);
    EXPECT_EQ(KnobCommands(), std::vector<UINT>{2});
    host.Release(Top(), {299, 102});
}

TEST_F(WidgetTest, KnobLetsGoWhenHidden)
{
    host.Press(Top(), {299, 102});
    ASSERT_TRUE(parent->knob.m_bPressed);
    parent->knob.ShowWindow(0);
    EXPECT_FALSE(parent->knob.m_bPressed);
    parent->knob.ShowWindow(1);
    EXPECT_EQ(parent->knob.RectInParent().Size(), CSize(5, 5));
    host.Release(Top(), {299, 102});
}

TEST_F(WidgetTest, KnobSendsOneCommandForEveryStepOfADragAroundTheCircle)
{
    const CPoint grab{299, 102};
    host.Press(Top(), grab);
    int changes = 0;
    int previous = parent->knob.m_nPosition;
    for (int degree = 1; degree <= 360; ++degree) {
        const double angle = degree * 3.14159265358979 / 180;
        const CPoint to{grab.x + int(std::lround(20 * std::sin(angle))),
                        grab.y - 13 + int(std::lround(20 * std::cos(angle)))};
        const size_t before = parent->notices.size();
        host.Move(Top(), to);
        const int now = parent->knob.m_nPosition;
        if (now != previous) {
            ++changes;
            ASSERT_EQ(parent->notices.size(), before + 1) << degree;
            EXPECT_EQ(parent->notices.back().id, kFirstProgramCommand + UINT(now)) << degree;
        } else {
            EXPECT_EQ(parent->notices.size(), before) << degree;
        }
        previous = now;
    }
    host.Release(Top(), grab);
    EXPECT_GT(changes, 100) << "a full turn passes nearly every position";
}

TEST_F(WidgetTest, KnobGrabbedAtOrAbove65AndMovedOntoTheGrabPointStepsDown)
{
    PlaceKnob(100);
    const CPoint grab = parent->knob.RectInParent().TopLeft();
    host.Press(Top(), {grab.x + 1, grab.y + 1});
    host.Move(Top(), {grab.x + 1, grab.y + 1});
    EXPECT_EQ(KnobCommands(), std::vector<UINT>{99});
    host.Release(Top(), {grab.x + 1, grab.y + 1});
}

TEST_F(WidgetTest, KnobSetPositionMovesAndPostsAlsoForTheCurrentPosition)
{
    PlaceKnob(32);
    parent->knob.SetPosition(32);
    EXPECT_TRUE(parent->notices.empty()) << "the command is posted, not sent";
    ProcessPosted();
    EXPECT_EQ(KnobCommands(), std::vector<UINT>{32});

    parent->notices.clear();
    parent->knob.SetPosition(64);
    ProcessPosted();
    EXPECT_EQ(KnobCommands(), std::vector<UINT>{64});
    EXPECT_EQ(KnobPlace(), CPoint(297, 74));
    EXPECT_EQ(parent->knob.m_nPosition, 64);
}

TEST_F(WidgetTest, KnobShowsTheHeldImageAndHandWhileGrabbed)
{
    const CPoint grab{299, 102};
    host.Move(Top(), grab);
    EXPECT_EQ(host.cursors.back(), kCursorOpenHand);
    EXPECT_TRUE(ShowsNow(parent->knob, CProgramKnob::s_dibKnobUp));
    host.Press(Top(), grab);
    EXPECT_EQ(host.cursors.back(), kCursorPressingHand);
    EXPECT_TRUE(ShowsNow(parent->knob, CProgramKnob::s_dibKnobDown));
    host.Release(Top(), grab);
    EXPECT_EQ(host.cursors.back(), kCursorOpenHand);
    EXPECT_TRUE(ShowsNow(parent->knob, CProgramKnob::s_dibKnobUp));
}

TEST_F(WidgetTest, KnobDoubleClickPressIsNotAGrabButTheDragGoesOn)
{
    const CPoint grab{299, 102};
    host.Click(Top(), grab);
    host.Advance(100);
    host.Press(Top(), grab); // a double-click: no capture, no held image
    EXPECT_FALSE(parent->knob.m_bPressed);
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    host.Move(Top(), {grab.x + 2, grab.y}); // still over the dot, left button held
    EXPECT_EQ(parent->knob.m_nPosition, 3);
    EXPECT_EQ(KnobCommands(), std::vector<UINT>{3});
}

TEST_F(PanelWidgetTest, KnobDragSelectsTheProgramsItPasses)
{
    StartAndForget();
    CProgramKnob& knob = Panel().m_knob;
    const CPoint grab{knob.RectInParent().left + 2, knob.RectInParent().top + 2};
    host.Press(Top(), grab);
    host.Move(Top(), {grab.x + 13, grab.y - 13});
    EXPECT_EQ(Panel().m_nProgram, 32u);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 32:  Acoustic bass");
    host.Release(Top(), {grab.x + 13, grab.y - 13});
    const std::vector<DWORD> expected = {0x20C0, 0x20C1};
    EXPECT_EQ(Sent(), expected);
}

} // namespace
