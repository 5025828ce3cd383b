// The piano keys on the whole panel: pressing, gliding and releasing with the mouse, the
// percussion encodings, double-clicks, the hand cursors, and where the keys stand.

#include "platform/gdi_objects.h"
#include "tests/panel_fixture.h"

#include <algorithm>
#include <array>

#include <vector>

namespace {

constexpr UINT kPercussionMapCommand = 32905;
constexpr int kCursorOpenHand = 138;
constexpr int kCursorPressingHand = 144;

DWORD Bytes(BYTE status, BYTE data1, BYTE data2)
{
    return DWORD(status) | DWORD(data1) << 8 | DWORD(data2) << 16;
}
DWORD KeyOn(int note) { return Bytes(0x90, BYTE(note), 127); }
DWORD KeyOff(int note) { return Bytes(0x90, BYTE(note), 0); }

bool IsBlack(int key)
{
    const int n = key % 12;
    return n == 1 || n == 3 || n == 5 || n == 8 || n == 10;
}

class PianoKeyTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        StartAndForget();
    }

    CPianoKey& Key(int k) { return Panel().m_keys[static_cast<size_t>(k)]; }

    // A point that only key k covers: white keys low down, under the black keys' ends.
    CPoint On(int k)
    {
        const CRect rect = Key(k).RectInParent();
        if (IsBlack(k))
            return {rect.left + 6, rect.top + 20};
        return {rect.left + 10, rect.top + 60};
    }

    void PressKey(int k) { host.Press(Top(), On(k)); }
    void ReleaseOver(int k) { host.Release(Top(), On(k)); }
    // As the menu does it: the command and whatever it posts run to the end.
    void Choose(UINT command) { WindowManager::Instance().MenuCommand(Top(), command); }
    int LastCursor() const { return host.cursors.empty() ? 0 : host.cursors.back(); }
};

TEST_F(PianoKeyTest, PressSoundsTheKeyAndReleaseSilencesIt)
{
    PressKey(19);
    EXPECT_EQ(Sent(), std::vector<DWORD>{KeyOn(48)});
    EXPECT_TRUE(Key(19).m_bDown);
    ReleaseOver(19);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(48), KeyOff(48)}));
    EXPECT_FALSE(Key(19).m_bDown);
}

TEST_F(PianoKeyTest, AScreenReadersPressSendsWhatAClickSends)
{
    host.KeyDown(Top(), 44); // C4 held from the computer keyboard
    host.Click(Top(), On(19));
    const std::vector<DWORD> click = Sent();
    host.KeyDown(Top(), 44);
    midi.ClearLog();
    WindowManager::Instance().PressLeftOn(&Key(19));
    EXPECT_TRUE(Key(19).m_bDown);
    WindowManager::Instance().ReleaseLeftFrom(&Key(19));
    EXPECT_EQ(Sent(), std::vector<DWORD>(click.begin() + 1, click.end()));
    EXPECT_TRUE(Key(31).m_bDown) << "the computer key holds C4 on, as after the click";
}

TEST_F(PianoKeyTest, GlideSoundsEveryKeyCrossedAndTheReleaseSilencesThemAll)
{
    // F2 is key 12, C3 key 19: a glide with the left button across the keys between.
    PressKey(12);
    for (int k = 13; k <= 19; ++k)
        host.Move(Top(), On(k));
    std::vector<DWORD> expected;
    for (int k = 12; k <= 19; ++k)
        expected.push_back(KeyOn(29 + k));
    EXPECT_EQ(Sent(), expected) << "no key is released while the button is held";
    for (int k = 12; k <= 19; ++k)
        EXPECT_TRUE(Key(k).m_bDown) << k;

    midi.ClearLog();
    ReleaseOver(19);
    // The key under the pointer first, then the panel releases the rest in key order.
    expected = {KeyOff(48)};
    for (int k = 12; k <= 18; ++k)
        expected.push_back(KeyOff(29 + k));
    EXPECT_EQ(Sent(), expected);
    for (int k = 0; k < 48; ++k)
        EXPECT_FALSE(Key(k).m_bDown) << k;
}

TEST_F(PianoKeyTest, MovingBackOverASoundingKeySendsNothing)
{
    PressKey(12);
    host.Move(Top(), On(14));
    host.Move(Top(), On(12));
    host.Move(Top(), On(14));
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(41), KeyOn(43)}));
}

// A key held from the keyboard and by the mouse at once sounds once, and ends only when both
// have let go, whichever goes first.
TEST_F(PianoKeyTest, KeyHeldFromTheKeyboardAndClickedSoundsOnceUntilBothLetGo)
{
    constexpr int kScanCodeY = 0x15; // plays C3, key 19
    host.KeyDown(Top(), kScanCodeY);
    PressKey(19);
    EXPECT_EQ(Sent(), std::vector<DWORD>{KeyOn(48)});
    ReleaseOver(19);
    EXPECT_TRUE(Key(19).m_bDown) << "the computer key still holds it";
    host.KeyUp(Top(), kScanCodeY);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(48), KeyOff(48)}));

    midi.ClearLog();
    PressKey(19);
    host.KeyDown(Top(), kScanCodeY);
    host.KeyUp(Top(), kScanCodeY);
    EXPECT_TRUE(Key(19).m_bDown) << "the mouse still holds it";
    ReleaseOver(19);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(48), KeyOff(48)}));
    EXPECT_FALSE(Key(19).m_bDown);
}

TEST_F(PianoKeyTest, ReleasingOverAKeySilencesTheMouseKeysAndLeavesTheKeyboardsOwn)
{
    constexpr int kScanCodeZ = 0x2C; // C4, key 31
    host.KeyDown(Top(), kScanCodeZ);
    PressKey(5);
    midi.ClearLog();
    ReleaseOver(5);
    EXPECT_EQ(Sent(), std::vector<DWORD>{KeyOff(34)});
    host.KeyUp(Top(), kScanCodeZ);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOff(34), KeyOff(60)}));
}

// The mouse, a computer key and a controller on one key, pressed and let go in every order:
// the key sounds once, with the velocity of whoever pressed it first, is drawn down while any
// holds it, and ends only when the last lets go.
TEST_F(PianoKeyTest, MouseComputerKeyAndControllerOnOneKeyEndWithTheLastHolder)
{
    constexpr int kC4 = 31;
    constexpr int kScanCodeZ = 0x2C;
    enum Hand { kMouse, kComputerKey, kController };
    const auto press = [&](Hand hand) {
        if (hand == kMouse)
            PressKey(kC4);
        else if (hand == kComputerKey)
            host.KeyDown(Top(), kScanCodeZ);
        else
            midi.ControllerPresses(60, 90);
    };
    const auto letGo = [&](Hand hand) {
        if (hand == kMouse)
            ReleaseOver(kC4);
        else if (hand == kComputerKey)
            host.KeyUp(Top(), kScanCodeZ);
        else
            midi.ControllerLetsGo(60);
    };
    std::array<Hand, 3> pressing = {kMouse, kComputerKey, kController};
    do {
        std::array<Hand, 3> lettingGo = {kMouse, kComputerKey, kController};
        do {
            SCOPED_TRACE(testing::Message() << "pressed " << pressing[0] << pressing[1] << pressing[2]
                                            << ", let go " << lettingGo[0] << lettingGo[1] << lettingGo[2]);
            midi.ClearLog();
            for (const Hand hand : pressing)
                press(hand);
            for (const Hand hand : lettingGo) {
                EXPECT_TRUE(Key(kC4).m_bDown);
                EXPECT_EQ(Sent().size(), 1u);
                letGo(hand);
            }
            EXPECT_FALSE(Key(kC4).m_bDown);
            const DWORD velocity = pressing[0] == kController ? 90 : 127;
            EXPECT_EQ(Sent(), (std::vector<DWORD>{Bytes(0x90, 60, BYTE(velocity)), KeyOff(60)}));
        } while (std::next_permutation(lettingGo.begin(), lettingGo.end()));
    } while (std::next_permutation(pressing.begin(), pressing.end()));
}

TEST_F(PianoKeyTest, PercussionMapPlaysTheLowKeysAsHighDrums)
{
    Choose(kPercussionMapCommand);
    midi.ClearLog();
    // Key 0 (F1, note 29) has no drum of its own and plays 77; key 6 (B1, 35) plays itself.
    PressKey(0);
    ReleaseOver(0);
    PressKey(6);
    ReleaseOver(6);
    PressKey(5); // A#1, note 34, the highest of the raised keys
    ReleaseOver(5);
    const std::vector<DWORD> expected = {Bytes(0x99, 77, 127), Bytes(0x99, 77, 0),   Bytes(0x99, 35, 127),
                                         Bytes(0x99, 35, 0),   Bytes(0x99, 82, 127), Bytes(0x99, 82, 0)};
    EXPECT_EQ(Sent(), expected);

    // Any melodic instrument plays the keys' own notes on channel 1 again.
    Choose(32777 + 40);
    midi.ClearLog();
    PressKey(0);
    ReleaseOver(0);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(29), KeyOff(29)}));
}

TEST_F(PianoKeyTest, ReleaseAfterAChangeOfInstrumentEndsTheNoteThatSounds)
{
    PressKey(0);
    Choose(kPercussionMapCommand);
    midi.ClearLog();
    ReleaseOver(0);
    EXPECT_EQ(Sent(), std::vector<DWORD>{KeyOff(29)});
}

TEST_F(PianoKeyTest, ClickOnABlackKeyWhereItOverlapsAWhiteKeyPlaysOnlyTheBlackKey)
{
    // F#1 (key 1) covers the right edge of F1 (key 0) and the left edge of G1 (key 2).
    const CRect black = Key(1).RectInParent();
    const CRect leftWhite = Key(0).RectInParent();
    const CRect rightWhite = Key(2).RectInParent();
    const CPoint overLeft{black.left + 1, black.top + 5};
    const CPoint overRight{black.right - 1, black.bottom - 1};
    ASSERT_TRUE(leftWhite.PtInRect(overLeft));
    ASSERT_TRUE(rightWhite.PtInRect(overRight));

    host.Press(Top(), overLeft);
    host.Release(Top(), overLeft);
    host.Advance(1000);
    host.Press(Top(), overRight);
    host.Release(Top(), overRight);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(30), KeyOff(30), KeyOn(30), KeyOff(30)}));
}

TEST_F(PianoKeyTest, QuickClicksOnOneKeyEachSoundLikeAnyPress)
{
    for (int click = 0; click < 3; ++click) {
        PressKey(7);
        EXPECT_TRUE(Key(7).m_bDown) << "click " << click;
        ReleaseOver(7);
        host.Advance(100);
    }
    EXPECT_EQ(Sent(),
              (std::vector<DWORD>{KeyOn(36), KeyOff(36), KeyOn(36), KeyOff(36), KeyOn(36), KeyOff(36)}));
}

TEST_F(PianoKeyTest, ClicksFarApartOrOnOtherKeysAreOrdinaryPresses)
{
    PressKey(7);
    ReleaseOver(7);
    host.Advance(600); // longer than the double-click time
    PressKey(7);
    ReleaseOver(7);
    host.Advance(100);
    PressKey(9); // soon, but another key
    ReleaseOver(9);
    EXPECT_EQ(Sent(),
              (std::vector<DWORD>{KeyOn(36), KeyOff(36), KeyOn(36), KeyOff(36), KeyOn(38), KeyOff(38)}));
}

TEST_F(PianoKeyTest, ShiftGlideWithoutAButtonKeepsKeysSoundingUntilTheNextLeftRelease)
{
    host.Move(Top(), On(12), MK_SHIFT);
    host.Move(Top(), On(14), MK_SHIFT);
    host.Move(Top(), On(16), MK_CONTROL);
    host.Move(Top(), On(17)); // no button, no Shift: nothing
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(41), KeyOn(43), KeyOn(45)}));

    // A left release on the panel's background with Shift held keeps them sounding.
    host.Press(Top(), {300, 20});
    host.Release(Top(), {300, 20}, MK_LBUTTON, MK_SHIFT);
    EXPECT_EQ(Sent().size(), 3u);

    host.Advance(1000);
    PressKey(30);
    ReleaseOver(30);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(41), KeyOn(43), KeyOn(45), KeyOn(59), KeyOff(59), KeyOff(41),
                                          KeyOff(43), KeyOff(45)}));
}

TEST_F(PianoKeyTest, RightAndMiddleButtonGlidesSoundTooAndOnlyALeftReleaseSilences)
{
    for (const UINT button : {MK_RBUTTON, MK_MBUTTON}) {
        midi.ClearLog();
        host.Press(Top(), On(20), button);
        EXPECT_TRUE(Sent().empty()) << "only the left button presses a key";
        host.Move(Top(), On(20));
        host.Move(Top(), On(21));
        host.Release(Top(), On(21), button);
        EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(49), KeyOn(50)}));
        host.Advance(1000);
        host.Press(Top(), {300, 20});
        host.Release(Top(), {300, 20});
        EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(49), KeyOn(50), KeyOff(49), KeyOff(50)}));
        host.Advance(1000);
    }
}

TEST_F(PianoKeyTest, CursorShowsWhetherTheKeyUnderThePointerIsDown)
{
    host.Move(Top(), On(3));
    EXPECT_EQ(LastCursor(), kCursorOpenHand);
    PressKey(3);
    EXPECT_EQ(LastCursor(), kCursorPressingHand);
    host.Move(Top(), On(3));
    EXPECT_EQ(LastCursor(), kCursorPressingHand);
    ReleaseOver(3);
    EXPECT_EQ(LastCursor(), kCursorOpenHand);
    host.Move(Top(), On(3));
    EXPECT_EQ(LastCursor(), kCursorOpenHand);

    // A key held from the computer keyboard shows the pressing hand too.
    host.KeyDown(Top(), 0x2C); // C4, key 31
    host.Move(Top(), On(31));
    EXPECT_EQ(LastCursor(), kCursorPressingHand);
    host.Move(Top(), On(32));
    EXPECT_EQ(LastCursor(), kCursorOpenHand);
}

TEST_F(PianoKeyTest, KeysStandInARowWithTheirImageSizes)
{
    int whiteLeft = 20;
    int lastWhiteLeft = 0;
    int whites = 0;
    for (int k = 0; k < 48; ++k) {
        const CRect rect = Key(k).RectInParent();
        if (IsBlack(k)) {
            // Thirteen pixels right of the white key just below it.
            EXPECT_EQ(rect, CRect(lastWhiteLeft + 13, 128, lastWhiteLeft + 25, 173)) << k;
            EXPECT_EQ(Key(k).WindowText(), "Black Note");
            EXPECT_FALSE(Key(k).m_bWhite);
        } else {
            EXPECT_EQ(rect, CRect(whiteLeft, 128, whiteLeft + 20, 198)) << k;
            EXPECT_EQ(Key(k).WindowText(), "White Note");
            EXPECT_TRUE(Key(k).m_bWhite);
            lastWhiteLeft = whiteLeft;
            whiteLeft += 20;
            ++whites;
        }
        EXPECT_EQ(Key(k).m_nNote, 29 + k);
        EXPECT_EQ(Key(k).GetDlgCtrlID(), 100u + UINT(k));
    }
    EXPECT_EQ(whites, 28);
    EXPECT_EQ(whiteLeft - 20, 560);
}

TEST_F(PianoKeyTest, KeysPaintFromTheirState)
{
    const auto imageOf = [](const CDib& dib) { return *DibImage(static_cast<HBITMAP>(dib)); };
    const auto shows = [this](int k, const QImage& expected) {
        const QImage frame = host.Render(Top());
        const CRect rect = Key(k).RectInParent();
        // The lower part of a white key, where no black key covers it.
        const int top = IsBlack(k) ? 0 : 46;
        for (int y = top; y < rect.Height(); ++y)
            for (int x = 0; x < rect.Width(); ++x)
                if ((frame.pixel(rect.left + x, rect.top + y) & 0xFFFFFF) !=
                    (expected.pixel(x, y) & 0xFFFFFF))
                    return false;
        return true;
    };
    EXPECT_TRUE(shows(2, imageOf(CPianoKey::s_dibWhiteUp)));
    EXPECT_TRUE(shows(3, imageOf(CPianoKey::s_dibBlackUp)));
    PressKey(2);
    EXPECT_TRUE(shows(2, imageOf(CPianoKey::s_dibWhiteDown)));
    host.Move(Top(), On(3));
    EXPECT_TRUE(shows(3, imageOf(CPianoKey::s_dibBlackDown)));
    ReleaseOver(3);
    EXPECT_TRUE(shows(2, imageOf(CPianoKey::s_dibWhiteUp)));
    EXPECT_TRUE(shows(3, imageOf(CPianoKey::s_dibBlackUp)));
}

} // namespace
