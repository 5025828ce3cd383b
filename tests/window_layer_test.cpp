// The window layer on the test host: which window a mouse message reaches and with what,
// double-clicks, sent and posted messages, timers, cursors, the owner-drawn button, the menu
// model and control take-over.

#include "platform/button.h"
#include "platform/dialog.h"
#include "platform/menu.h"
#include "platform/window_manager.h"
#include "tests/test_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <string>
#include <vector>

namespace {

constexpr UINT kHitClient = 1;
constexpr UINT kFirstPosted = 0x0401;
constexpr UINT kSecondPosted = 0x0402;
constexpr UINT kThirdPosted = 0x0403;
constexpr UINT kSent = 0x0404;

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    CPoint Point() const { return PointFromLParam(lParam); }
};

// A window that keeps every message it gets (painting and creation aside), can run a hook on
// each, and answers the cursor question when it is given a cursor.
class ProbeWindow : public CWnd {
public:
    std::vector<Received> received;
    std::function<void(UINT, WPARAM)> onMessage;
    int cursor = -1;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_PAINT && message != WM_CREATE && message != WM_SHOWWINDOW &&
            message != WM_DESTROY) {
            received.push_back({message, wParam, lParam});
            if (onMessage)
                onMessage(message, wParam);
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

    std::vector<Received> Mouse() const
    {
        return Only(
            {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_MOUSEMOVE, WM_RBUTTONDOWN, WM_RBUTTONUP});
    }
    std::vector<Received> Only(std::initializer_list<UINT> messages) const
    {
        std::vector<Received> kept;
        for (const Received& r : received)
            if (std::find(messages.begin(), messages.end(), r.message) != messages.end())
                kept.push_back(r);
        return kept;
    }
    std::vector<UINT> MessageKinds() const
    {
        std::vector<UINT> kinds;
        for (const Received& r : Mouse())
            kinds.push_back(r.message);
        return kinds;
    }
    const Received& Last() const { return received.back(); }

protected:
    BOOL OnSetCursor(CWnd*, UINT, UINT) override
    {
        if (cursor < 0)
            return FALSE;
        ::SetCursor(cursor);
        return TRUE;
    }
};

class WindowLayerTest : public ::testing::Test {
protected:
    TestHost host;
    ProbeWindow top;
    std::list<ProbeWindow> children;

    void SetUp() override
    {
        // No caption and no menu bar: the client area is the whole window, at (100, 50).
        ASSERT_TRUE(top.CreateTopLevel("Probe", WS_POPUP, 0, CRect(100, 50, 400, 250), nullptr));
        top.ShowWindow(1);
    }

    ProbeWindow& Child(const CRect& rect, CWnd* parent = nullptr, UINT id = 0)
    {
        ProbeWindow& child = children.emplace_back();
        child.Create(nullptr, "child", WS_CHILD | WS_VISIBLE, rect, parent ? parent : &top, id);
        return child;
    }

    void Later(std::uint64_t ms = 1000) { host.Advance(ms); }
};

// ---- Hit testing and capture -----------------------------------------------------------------

TEST_F(WindowLayerTest, PressGoesToTheTopmostVisibleWindowUnderThePointInItsOwnCoordinates)
{
    ProbeWindow& first = Child({10, 10, 110, 110});
    ProbeWindow& second = Child({50, 50, 150, 150});
    ProbeWindow& inner = Child({20, 20, 40, 40}, &second);

    host.Press(&top, {60, 60}); // both overlap here: the earlier one lies on top
    host.Release(&top, {60, 60});
    ASSERT_EQ(first.Mouse().size(), 2u);
    EXPECT_EQ(first.Mouse()[0].message, WM_LBUTTONDOWN);
    EXPECT_EQ(first.Mouse()[0].Point(), CPoint(50, 50));
    EXPECT_TRUE(second.Mouse().empty());

    Later();
    host.Move(&top, {120, 120}); // only the second covers this point
    EXPECT_EQ(second.Last().message, WM_MOUSEMOVE);
    EXPECT_EQ(second.Last().Point(), CPoint(70, 70));

    host.Move(&top, {75, 75}); // inside the second's child, under the first
    EXPECT_EQ(first.Last().Point(), CPoint(65, 65));
    EXPECT_TRUE(inner.Mouse().empty());

    first.ShowWindow(0); // hidden windows take no mouse
    host.Move(&top, {75, 75});
    ASSERT_FALSE(inner.Mouse().empty());
    EXPECT_EQ(inner.Last().Point(), CPoint(5, 5));

    host.Move(&top, {250, 180}); // no child here: the window itself
    EXPECT_EQ(top.Last().message, WM_MOUSEMOVE);
    EXPECT_EQ(top.Last().Point(), CPoint(250, 180));
}

TEST_F(WindowLayerTest, CaptureTakesEveryMouseMessageWithPointsInItsClientAreaAlsoOutside)
{
    ProbeWindow& holder = Child({10, 10, 110, 110});
    ProbeWindow& nested = Child({20, 20, 40, 40}, &holder);
    ProbeWindow& other = Child({150, 10, 250, 110});

    holder.SetCapture();
    host.Press(&top, {200, 50});
    host.Move(&top, {290, 190});
    host.Move(&top, {2, 3});
    host.Release(&top, {200, 50});
    EXPECT_TRUE(other.Mouse().empty());
    const auto got = holder.Mouse();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0].Point(), CPoint(190, 40));
    EXPECT_EQ(got[1].Point(), CPoint(280, 180));
    EXPECT_EQ(got[2].Point(), CPoint(-8, -7)); // negative coordinates survive the packing
    EXPECT_EQ(got[3].message, WM_LBUTTONUP);

    nested.SetCapture();
    host.Move(&top, {0, 0});
    EXPECT_EQ(nested.Last().Point(), CPoint(-30, -30));

    CWnd::ReleaseCapture();
    host.Move(&top, {200, 50});
    EXPECT_EQ(other.Last().Point(), CPoint(50, 40));
}

// ---- Double-clicks -----------------------------------------------------------------------------

TEST_F(WindowLayerTest, SecondQuickPressOnTheSameWindowIsADoubleClickAndTheThirdAPressAgain)
{
    ProbeWindow& window = Child({10, 10, 110, 110});
    host.Click(&top, {50, 50});
    host.Advance(100);
    host.Click(&top, {51, 49});
    host.Advance(100);
    host.Click(&top, {51, 49});
    const std::vector<UINT> expected = {WM_LBUTTONDOWN, WM_LBUTTONUP,   WM_LBUTTONDBLCLK,
                                        WM_LBUTTONUP,   WM_LBUTTONDOWN, WM_LBUTTONUP};
    EXPECT_EQ(window.MessageKinds(), expected);
    EXPECT_EQ(window.Mouse()[2].Point(), CPoint(41, 39));
}

TEST_F(WindowLayerTest, PressesOnDifferentWindowsSlowOrFarApartArePlainPresses)
{
    ProbeWindow& left = Child({10, 10, 110, 110});
    ProbeWindow& right = Child({110, 10, 210, 110});

    host.Click(&top, {109, 50});
    host.Advance(50);
    host.Click(&top, {110, 50}); // near and soon, but another window
    host.Advance(50);
    host.Click(&top, {109, 50}); // and back again
    EXPECT_EQ(left.MessageKinds(),
              (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP}));
    EXPECT_EQ(right.MessageKinds(), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP}));

    left.received.clear();
    Later();
    host.Click(&top, {50, 50});
    host.Advance(501); // too late
    host.Click(&top, {50, 50});
    host.Advance(100);
    host.Click(&top, {53, 50}); // too far
    host.Advance(100);
    host.Click(&top, {53, 50}); // a pair at last
    EXPECT_EQ(left.MessageKinds(),
              (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN,
                                 WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}));
}

// ---- Flags -------------------------------------------------------------------------------------

TEST_F(WindowLayerTest, MouseFlagsDescribeButtonsAndModifiersAfterTheEvent)
{
    ProbeWindow& window = Child({10, 10, 110, 110});
    host.Press(&top, {50, 50}, MK_LBUTTON, MK_SHIFT);
    host.Move(&top, {51, 50}, MK_CONTROL);
    host.Press(&top, {51, 50}, MK_RBUTTON);
    host.Release(&top, {51, 50}, MK_LBUTTON, MK_SHIFT | MK_CONTROL);
    host.Release(&top, {51, 50}, MK_RBUTTON);
    host.Move(&top, {52, 50});
    const auto got = window.Mouse();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].wParam, WPARAM(MK_LBUTTON | MK_SHIFT));
    EXPECT_EQ(got[1].wParam, WPARAM(MK_LBUTTON | MK_CONTROL));
    EXPECT_EQ(got[2].message, WM_RBUTTONDOWN);
    EXPECT_EQ(got[2].wParam, WPARAM(MK_LBUTTON | MK_RBUTTON));
    EXPECT_EQ(got[3].message, WM_LBUTTONUP);
    EXPECT_EQ(got[3].wParam, WPARAM(MK_RBUTTON | MK_SHIFT | MK_CONTROL)); // the left bit is gone
    EXPECT_EQ(got[4].message, WM_RBUTTONUP);
    EXPECT_EQ(got[4].wParam, WPARAM(0));
    EXPECT_EQ(got[5].wParam, WPARAM(0));
}

// ---- Sent and posted messages -----------------------------------------------------------------

TEST_F(WindowLayerTest, SentMessagesRunInsideTheSenderAndPostedOnesAfterItInOrder)
{
    std::vector<std::string> journal;
    top.onMessage = [&](UINT message, WPARAM) {
        switch (message) {
        case WM_LBUTTONDOWN:
            journal.push_back("press begins");
            top.PostMessage(kFirstPosted);
            top.PostMessage(kSecondPosted);
            top.SendMessage(kSent);
            journal.push_back("press ends");
            break;
        case kSent:
            journal.push_back("sent");
            break;
        case kFirstPosted:
            journal.push_back("first");
            top.PostMessage(kThirdPosted); // queued behind the second
            break;
        case kSecondPosted:
            journal.push_back("second");
            break;
        case kThirdPosted:
            journal.push_back("third");
            break;
        default:
            break;
        }
    };
    host.Press(&top, {5, 5});
    EXPECT_EQ(journal,
              (std::vector<std::string>{"press begins", "sent", "press ends", "first", "second", "third"}));
    EXPECT_FALSE(WindowRegistry::Instance().HasPosted());
}

TEST_F(WindowLayerTest, MessagesPostedToADestroyedWindowAreDropped)
{
    ProbeWindow& window = Child({10, 10, 110, 110});
    window.PostMessage(kFirstPosted);
    window.DestroyWindow();
    // The same object made into a window again is a new window: the old message is not its.
    ASSERT_TRUE(window.Create(nullptr, "again", WS_CHILD | WS_VISIBLE, {10, 10, 110, 110}, &top, 0));
    window.received.clear();
    host.Move(&top, {200, 150});
    EXPECT_TRUE(window.Only({kFirstPosted}).empty());
    EXPECT_FALSE(WindowRegistry::Instance().HasPosted());
}

// ---- Timers ------------------------------------------------------------------------------------

TEST_F(WindowLayerTest, TimersFireAtTheirPeriodUntilKilledAndRestartFromNow)
{
    std::vector<std::uint64_t> fired;
    std::vector<WPARAM> ids;
    top.onMessage = [&](UINT message, WPARAM wParam) {
        if (message == WM_TIMER) {
            fired.push_back(host.Now());
            ids.push_back(wParam);
        }
    };
    const std::uint64_t start = host.Now();
    top.SetTimer(0, 100, nullptr);
    host.Advance(99);
    EXPECT_TRUE(fired.empty());
    host.Advance(1);
    host.Advance(250);
    EXPECT_EQ(fired, (std::vector<std::uint64_t>{start + 100, start + 200, start + 300}));
    EXPECT_EQ(ids, (std::vector<WPARAM>{0, 0, 0}));

    // Setting a running timer again starts its period over from now, at the new length.
    host.Advance(40); // now start + 390
    top.SetTimer(0, 300, nullptr);
    fired.clear();
    host.Advance(600);
    EXPECT_EQ(fired, (std::vector<std::uint64_t>{start + 690, start + 990}));

    top.KillTimer(0);
    fired.clear();
    host.Advance(1000);
    EXPECT_TRUE(fired.empty());
}

TEST_F(WindowLayerTest, TwoTimersInterleaveByTheirDueTimes)
{
    std::vector<WPARAM> ids;
    top.onMessage = [&](UINT message, WPARAM wParam) {
        if (message == WM_TIMER)
            ids.push_back(wParam);
    };
    top.SetTimer(1, 75, nullptr);
    top.SetTimer(2, 200, nullptr);
    host.Advance(400);
    EXPECT_EQ(ids, (std::vector<WPARAM>{1, 1, 2, 1, 1, 1, 2}));
}

// ---- Cursors -----------------------------------------------------------------------------------

TEST_F(WindowLayerTest, TheWindowUnderThePointerChoosesTheCursorUnlessTheMouseIsCaptured)
{
    ProbeWindow& hand = Child({10, 10, 110, 110});
    hand.cursor = 138;
    ProbeWindow& plain = Child({150, 10, 250, 110});

    host.Move(&top, {50, 50});
    ASSERT_FALSE(host.cursors.empty());
    EXPECT_EQ(host.cursors.back(), 138);
    const Received asked = hand.Only({WM_SETCURSOR}).back();
    EXPECT_EQ(asked.wParam, reinterpret_cast<WPARAM>(&hand));
    EXPECT_EQ(LOWORD(static_cast<WPARAM>(asked.lParam)), kHitClient);
    EXPECT_EQ(HIWORD(static_cast<WPARAM>(asked.lParam)), WM_MOUSEMOVE);

    host.Move(&top, {200, 50}); // a window that does not answer gets the arrow
    EXPECT_EQ(host.cursors.back(), 0);
    host.Press(&top, {50, 50});
    EXPECT_EQ(host.cursors.back(), 138);
    EXPECT_EQ(HIWORD(static_cast<WPARAM>(hand.Only({WM_SETCURSOR}).back().lParam)), WM_LBUTTONDOWN);

    hand.SetCapture();
    host.cursors.clear();
    hand.received.clear();
    plain.received.clear();
    host.Move(&top, {200, 50});
    host.Release(&top, {200, 50});
    EXPECT_TRUE(host.cursors.empty());
    EXPECT_TRUE(hand.Only({WM_SETCURSOR}).empty());
    EXPECT_TRUE(plain.Only({WM_SETCURSOR}).empty());

    CWnd::ReleaseCapture();
    host.Move(&top, {200, 50});
    ASSERT_EQ(host.cursors.size(), 1u);
    EXPECT_EQ(host.cursors.back(), 0);
}

// ---- The owner-drawn button --------------------------------------------------------------------

class ButtonTest : public WindowLayerTest {
protected:
    static constexpr UINT kId = 42;
    CButton button;

    void SetUp() override
    {
        WindowLayerTest::SetUp();
        ASSERT_TRUE(button.Create("BUTTON", "Push", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, {20, 20, 80, 40},
                                  &top, kId));
    }

    std::vector<WPARAM> Notifications() const
    {
        std::vector<WPARAM> codes;
        for (const Received& r : top.Only({WM_COMMAND})) {
            EXPECT_EQ(LOWORD(r.wParam), kId);
            EXPECT_EQ(r.lParam, reinterpret_cast<LPARAM>(&button));
            codes.push_back(HIWORD(r.wParam));
        }
        return codes;
    }
    UINT State() { return static_cast<UINT>(button.SendMessage(BM_GETSTATE)); }
};

TEST_F(ButtonTest, PressPushesFocusesAndCapturesAndReleaseOverItClicksOnce)
{
    EXPECT_EQ(State(), 0u);
    host.Press(&top, {30, 30});
    EXPECT_EQ(State(), BST_PUSHED | BST_FOCUS);
    EXPECT_EQ(CWnd::GetCapture(), &button);
    EXPECT_TRUE(Notifications().empty());

    host.Release(&top, {31, 30});
    EXPECT_EQ(State(), BST_FOCUS);
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    EXPECT_EQ(Notifications(), (std::vector<WPARAM>{BN_CLICKED}));
}

TEST_F(ButtonTest, PushedOnlyWhileThePointerIsOverItAndNoClickWhenReleasedOff)
{
    host.Press(&top, {30, 30});
    host.Move(&top, {200, 150});
    EXPECT_EQ(State() & BST_PUSHED, 0u);
    host.Move(&top, {79, 39});
    EXPECT_EQ(State() & BST_PUSHED, BST_PUSHED);
    host.Move(&top, {80, 39}); // the right edge is outside
    EXPECT_EQ(State() & BST_PUSHED, 0u);
    host.Release(&top, {200, 150});
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    EXPECT_TRUE(Notifications().empty());

    // Going back over it before the release still clicks.
    Later();
    host.Press(&top, {30, 30});
    host.Move(&top, {200, 150});
    host.Move(&top, {30, 30});
    host.Release(&top, {30, 30});
    EXPECT_EQ(Notifications(), (std::vector<WPARAM>{BN_CLICKED}));
}

TEST_F(ButtonTest, DoubleClickNotifiesInsteadOfPushing)
{
    host.Click(&top, {30, 30});
    host.Advance(100);
    host.Press(&top, {30, 30});
    EXPECT_EQ(State() & BST_PUSHED, 0u);
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
    host.Release(&top, {30, 30});
    EXPECT_EQ(Notifications(), (std::vector<WPARAM>{BN_CLICKED, BN_DOUBLECLICKED}));

    host.Advance(100);
    host.Press(&top, {30, 30}); // the third press is a press again
    EXPECT_EQ(State() & BST_PUSHED, BST_PUSHED);
    host.Release(&top, {30, 30});
    EXPECT_EQ(Notifications(), (std::vector<WPARAM>{BN_CLICKED, BN_DOUBLECLICKED, BN_CLICKED}));
}

// ---- The menu model ----------------------------------------------------------------------------

constexpr MenuTemplateItem kDeep[] = {{"Deep", 30, {}}};
constexpr MenuTemplateItem kFile[] = {
    {"&Open", 10, {}},
    {nullptr, 0, {}},
    {"Sub", 0, kDeep},
    {"E&xit\tAlt+F4", 11, {}},
};
constexpr MenuTemplateItem kView[] = {{"&Zoom", 20, {}}};
constexpr MenuTemplateItem kBar[] = {{"&File", 0, kFile}, {"&View", 0, kView}};
constexpr UINT kNoItem = 0xFFFFFFFF;

TEST(MenuModelTest, ItemsAreFoundByCommandThroughNestedPopupsAndByPosition)
{
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(kBar));
    CMenu* file = menu.GetSubMenu(0);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetMenuItemCount(), 4);
    EXPECT_EQ(file->GetMenuItemID(0), 10u);
    EXPECT_EQ(file->GetMenuItemID(2), kNoItem); // a popup has no command
    EXPECT_EQ(file->GetMenuState(1, MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
    EXPECT_EQ(menu.GetSubMenu(2), nullptr);

    EXPECT_EQ(menu.GetMenuState(30, MF_BYCOMMAND), 0u); // two levels down, no mark
    EXPECT_EQ(menu.GetMenuState(99, MF_BYCOMMAND), kNoItem);
    EXPECT_EQ(menu.GetMenuState(0, MF_BYCOMMAND), kNoItem); // popups and separators have no id
    EXPECT_EQ(file->GetMenuState(4, MF_BYPOSITION), kNoItem);

    char text[32];
    EXPECT_EQ(menu.GetMenuString(11, text, sizeof text, MF_BYCOMMAND), 12);
    EXPECT_STREQ(text, "E&xit\tAlt+F4");
    EXPECT_EQ(menu.GetMenuString(1, text, sizeof text, MF_BYPOSITION), 5);
    EXPECT_STREQ(text, "&View");
    EXPECT_EQ(menu.GetMenuString(11, text, 4, MF_BYCOMMAND), 3);
    EXPECT_STREQ(text, "E&x");
    EXPECT_EQ(menu.GetMenuString(99, text, sizeof text, MF_BYCOMMAND), 0);
}

TEST(MenuModelTest, CheckMarksByCommandAndByPositionReportThePreviousState)
{
    CMenu menu;
    menu.LoadMenu(kBar);
    CMenu* file = menu.GetSubMenu(0);
    CMenu* deep = file->GetSubMenu(2);

    EXPECT_EQ(menu.CheckMenuItem(30, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
    EXPECT_EQ(deep->GetMenuState(0, MF_BYPOSITION) & MF_CHECKED, MF_CHECKED);
    EXPECT_EQ(menu.CheckMenuItem(30, MF_BYCOMMAND | MF_CHECKED), MF_CHECKED);
    EXPECT_EQ(menu.CheckMenuItem(30, MF_BYCOMMAND | MF_UNCHECKED), MF_CHECKED);
    EXPECT_EQ(menu.GetMenuState(30, MF_BYCOMMAND) & MF_CHECKED, 0u);

    // A popup's title takes a mark by position, and its items keep theirs.
    file->CheckMenuItem(2, MF_BYPOSITION | MF_CHECKED);
    EXPECT_EQ(file->GetMenuState(2, MF_BYPOSITION), MF_CHECKED | MF_POPUP);
    EXPECT_EQ(menu.GetMenuState(30, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(menu.CheckMenuItem(77, MF_BYCOMMAND | MF_CHECKED), kNoItem);
    EXPECT_EQ(file->CheckMenuItem(9, MF_BYPOSITION | MF_CHECKED), kNoItem);
}

TEST(MenuModelTest, AppendedItemsAreFoundLikeLoadedOnes)
{
    CMenu menu;
    menu.LoadMenu(kBar);
    CMenu* view = menu.GetSubMenu(1);
    view->AppendMenu(MF_SEPARATOR);
    view->AppendMenu(MF_STRING | MF_ENABLED | MF_UNCHECKED, 21, "Port A");
    EXPECT_EQ(view->GetMenuItemCount(), 3);
    EXPECT_EQ(view->GetMenuItemID(2), 21u);
    EXPECT_EQ(menu.GetMenuState(21, MF_BYCOMMAND), 0u);
    menu.CheckMenuItem(21, MF_BYCOMMAND | MF_CHECKED);
    EXPECT_EQ(view->GetMenuState(2, MF_BYPOSITION), MF_CHECKED);
    char text[16];
    menu.GetMenuString(21, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "Port A");
}

TEST_F(WindowLayerTest, AnAttachedMenuTellsTheHostOfRealChangesOnly)
{
    CMenu menu;
    menu.LoadMenu(kBar);
    ASSERT_TRUE(top.SetMenu(&menu));
    const int bars = host.menuBarChanges;
    menu.CheckMenuItem(30, MF_BYCOMMAND | MF_CHECKED);
    EXPECT_EQ(host.menuItemChanges, 1);
    menu.CheckMenuItem(30, MF_BYCOMMAND | MF_CHECKED); // no change, nothing to tell
    EXPECT_EQ(host.menuItemChanges, 1);
    menu.GetSubMenu(0)->AppendMenu(MF_STRING, 12, "More");
    EXPECT_EQ(host.menuBarChanges, bars + 1);

    top.SetMenu(nullptr);
    menu.CheckMenuItem(30, MF_BYCOMMAND | MF_UNCHECKED); // detached: the model alone changes
    EXPECT_EQ(host.menuItemChanges, 1);
    EXPECT_EQ(menu.GetMenuState(30, MF_BYCOMMAND), 0u);
    top.SetMenu(nullptr);
}

// ---- Taking over controls ------------------------------------------------------------------------

TEST_F(WindowLayerTest, TakingOverAControlKeepsItsPlaceAmongItsSiblings)
{
    CWnd first, second, third;
    first.Create(nullptr, "one", WS_CHILD | WS_VISIBLE, {10, 10, 60, 60}, &top, 1);
    second.Create(nullptr, "two", WS_CHILD | WS_VISIBLE, {40, 40, 90, 90}, &top, 2);
    third.Create(nullptr, "three", WS_CHILD | WS_VISIBLE, {70, 70, 120, 120}, &top, 3);

    ProbeWindow taker;
    ASSERT_TRUE(taker.SubclassDlgItem(2, &top));
    EXPECT_EQ(top.Children(), (std::vector<CWnd*>{&first, &taker, &third}));
    EXPECT_EQ(top.GetDlgItem(2), &taker);
    EXPECT_EQ(taker.RectInParent(), CRect(40, 40, 90, 90));
    EXPECT_EQ(taker.WindowText(), "two");
    EXPECT_FALSE(second.IsWindow());
    EXPECT_FALSE(ProbeWindow().SubclassDlgItem(2, &second));

    host.Move(&top, {80, 80}); // over the third too, but the taker lies above it
    ASSERT_FALSE(taker.Mouse().empty());
    EXPECT_EQ(taker.Last().Point(), CPoint(40, 40));
    host.Move(&top, {50, 50}); // under the first
    EXPECT_EQ(taker.Mouse().size(), 1u);
}

// A dialog class of the program's own builds its template's controls in order, the first on top,
// and a control it takes over stays in that order.
class OwnDialog : public CDialog {
public:
    using CDialog::CDialog;
};

using enum DialogControlKind;
constexpr DialogControl kOwnControls[] = {
    {Button, "First", 11, 0, 0, 40, 20, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0},
    {Button, "Second", 12, 10, 10, 40, 20, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0},
    {Button, "Third", 13, 20, 20, 40, 20, WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, 0},
};
constexpr DialogTemplate kOwnTemplate = {900, "Own", WS_POPUP, 0,  8,           "MS Sans Serif",
                                         0,   0,     100,      60, kOwnControls};

TEST(DialogTemplateTest, ControlsKeepTemplateOrderAlsoWhenTakenOver)
{
    TestHost host;
    OwnDialog dialog(kOwnTemplate);
    ASSERT_TRUE(dialog.Create());
    ASSERT_EQ(dialog.Children().size(), 3u);
    EXPECT_EQ(dialog.Children()[0]->GetDlgCtrlID(), 11u);
    EXPECT_EQ(dialog.Children()[2]->GetDlgCtrlID(), 13u);

    CButton taken;
    ASSERT_TRUE(taken.SubclassDlgItem(12, &dialog));
    EXPECT_EQ(dialog.Children()[1], &taken);
    EXPECT_EQ(dialog.Children()[0]->GetDlgCtrlID(), 11u);
    EXPECT_EQ(dialog.Children()[2]->GetDlgCtrlID(), 13u);
    taken.DestroyWindow();
    dialog.DestroyWindow();
}

} // namespace
