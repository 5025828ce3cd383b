// Playing from the computer keyboard: the 48 keys by scan code, held keys, F11 and F12, keys
// that must never reach the dialog, system keys, and releasing held keys when the panel loses
// the focus of the desktop.

#include "keys/key_scan_codes.h"
#include "tests/panel_fixture.h"

#include <set>
#include <vector>

namespace {

DWORD Bytes(BYTE status, BYTE data1, BYTE data2)
{
    return DWORD(status) | DWORD(data1) << 8 | DWORD(data2) << 16;
}
DWORD KeyOn(int note) { return Bytes(0x90, BYTE(note), 127); }
DWORD KeyOff(int note) { return Bytes(0x90, BYTE(note), 0); }

// The physical keys of a US keyboard that play piano keys 0 to 47, written out by key name
// and set-1 make code, one octave (F to E) to a line.
// clang-format off
constexpr int kPlayedBy[48] = {
    // F1  `   F2  1   F3  2   F4  F5  Tab F6  Q   F7
       59, 41, 60,  2, 61,  3, 62, 63, 15, 64, 16, 65,
    // W   3   E   4   R   5   T   Y   7   U   8   I
       17,  4, 18,  5, 19,  6, 20, 21,  8, 22,  9, 23,
    // O   0   P   -   [   =   ]   Z   S   X   D   C
       24, 11, 25, 12, 26, 13, 27, 44, 31, 45, 32, 46,
    // V   G   B   H   N   J   M   ,   L   .   ;   /
       47, 34, 48, 35, 49, 36, 50, 51, 38, 52, 39, 53,
};
// clang-format on

constexpr int kScanF11 = 87;
constexpr int kScanF12 = 88;
constexpr int kScanW = 17;     // F2, key 12
constexpr int kScanE = 18;     // G2, key 14
constexpr int kScanSlash = 53; // E5, key 47

class KeyboardTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        StartAndForget();
    }

    CPianoKey& Key(int k) { return Panel().m_keys[static_cast<size_t>(k)]; }
    CPoint On(int k) const
    {
        const CRect rect = panel->m_keys[static_cast<size_t>(k)].RectInParent();
        return {rect.left + 10, rect.top + 60}; // white keys only
    }
    void Deactivate() { WindowManager::Instance().Activated(Top(), false); }
};

TEST(KeyScanCodes, TableHoldsFortyEightDistinctCodesOfTheUsLayout)
{
    std::set<int> distinct;
    for (int k = 0; k < kPlayingKeyCount; ++k) {
        EXPECT_EQ(g_nKeyScanCode[k], kPlayedBy[k]) << "piano key " << k;
        distinct.insert(g_nKeyScanCode[k]);
    }
    EXPECT_EQ(distinct.size(), 48u);
    EXPECT_EQ(distinct.count(kScanF11) + distinct.count(kScanF12), 0u);
}

TEST_F(KeyboardTest, EveryMappedKeyPlaysItsPianoKeyWhileHeld)
{
    for (int k = 0; k < 48; ++k) {
        midi.ClearLog();
        EXPECT_TRUE(host.KeyDown(Top(), kPlayedBy[k]));
        EXPECT_TRUE(Key(k).m_bDown) << k;
        EXPECT_TRUE(host.KeyUp(Top(), kPlayedBy[k]));
        EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(29 + k), KeyOff(29 + k)})) << "piano key " << k;
    }
}

TEST_F(KeyboardTest, KeysPlayTogetherAndReleaseOneByOne)
{
    host.KeyDown(Top(), kScanW);
    host.KeyDown(Top(), kScanE);
    host.KeyUp(Top(), kScanW);
    EXPECT_TRUE(Key(14).m_bDown);
    host.KeyUp(Top(), kScanE);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(41), KeyOn(43), KeyOff(41), KeyOff(43)}));
}

TEST_F(KeyboardTest, HeldKeySendsOneNoteOnHoweverOftenItRepeats)
{
    host.KeyDown(Top(), kScanW);
    for (int i = 0; i < 20; ++i)
        host.KeyDown(Top(), kScanW, false, true);
    EXPECT_EQ(Sent(), std::vector<DWORD>{KeyOn(41)});
    host.KeyUp(Top(), kScanW);
    host.KeyUp(Top(), kScanW);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(41), KeyOff(41)}));
}

TEST_F(KeyboardTest, HeldF12StepsTheChordKeyOnEveryRepeat)
{
    host.KeyDown(Top(), kScanF12);
    EXPECT_EQ(Panel().m_nKeyOffset, 1);
    host.KeyDown(Top(), kScanF12, false, true);
    host.KeyDown(Top(), kScanF12, false, true);
    EXPECT_EQ(Panel().m_nKeyOffset, 3);
    host.KeyUp(Top(), kScanF12);
    EXPECT_EQ(Panel().m_nKeyOffset, 3) << "the key-up does nothing";

    for (int i = 0; i < 5; ++i)
        host.KeyDown(Top(), kScanF11, false, i > 0);
    EXPECT_EQ(Panel().m_nKeyOffset, -2);
    EXPECT_TRUE(Sent().empty()) << "moving the chord key sends nothing";
}

TEST_F(KeyboardTest, KeypadSlashPlaysE5LikeTheSlashKey)
{
    EXPECT_TRUE(host.KeyDown(Top(), kScanSlash, true));
    EXPECT_TRUE(host.KeyUp(Top(), kScanSlash, true));
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(76), KeyOff(76)}));
}

TEST_F(KeyboardTest, EveryKeyMessageIsConsumedSoNoneEndsThePanelOrPressesAButton)
{
    // A click gives a button the focus, so the keys go to it first.
    ClickOn(Panel().m_btnProgramUp);
    ASSERT_EQ(CWnd::GetFocus(), &Panel().m_btnProgramUp);
    midi.ClearLog();
    struct Code {
        int scan;
        bool extended;
    };
    // Tab, Enter, Esc, Space, the arrows, keypad Enter, and keys that play nothing (6, A, F8).
    const Code keys[] = {{15, false}, {28, false}, {1, false}, {57, false}, {72, true},  {75, true},
                         {77, true},  {80, true},  {28, true}, {7, false},  {30, false}, {66, false}};
    for (const Code& key : keys) {
        EXPECT_TRUE(host.KeyDown(Top(), key.scan, key.extended)) << key.scan;
        EXPECT_TRUE(host.KeyUp(Top(), key.scan, key.extended)) << key.scan;
    }
    EXPECT_FALSE(Panel().HasEnded());
    EXPECT_TRUE(Panel().IsWindow());
    EXPECT_EQ(Panel().m_nProgram, 1u) << "no further click of the focused button";
    EXPECT_TRUE(host.templateDialogs.empty());
    // Tab plays C#2 and lets it go; nothing else sounds.
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOn(37), KeyOff(37)}));
}

TEST_F(KeyboardTest, SystemKeysAreLeftToTheMenuBar)
{
    KeyInput altW;
    altW.scanCode = kScanW;
    altW.system = true;
    EXPECT_FALSE(WindowManager::Instance().Key(Top(), altW));
    altW.down = false;
    EXPECT_FALSE(WindowManager::Instance().Key(Top(), altW));
    KeyInput f10;
    f10.scanCode = 68;
    f10.system = true;
    EXPECT_FALSE(WindowManager::Instance().Key(Top(), f10));
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(Key(12).m_bDown);
}

TEST_F(KeyboardTest, AltMWorksTheMenuButtonAlsoWithTheMenuBarHidden)
{
    KeyInput altM;
    altM.scanCode = 50; // M, which plays B4 without Alt
    altM.virtualKey = 'M';
    altM.system = true;
    // MENU clicked with the mouse hides the bar and keeps the focus.
    ClickOn(Panel().m_btnMenu);
    ASSERT_EQ(Panel().GetMenu(), nullptr);
    EXPECT_FALSE(WindowManager::Instance().Key(Top(), altM));
    EXPECT_NE(Panel().GetMenu(), nullptr);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 1);
    // Held, the key repeats; the bar stays.
    altM.previouslyDown = true;
    WindowManager::Instance().Key(Top(), altM);
    EXPECT_NE(Panel().GetMenu(), nullptr);
    altM.previouslyDown = false;
    WindowManager::Instance().Key(Top(), altM);
    EXPECT_EQ(Panel().GetMenu(), nullptr);
    EXPECT_EQ(Panel().m_btnMenu.m_bOn, 0);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(KeyboardTest, LosingTheFocusReleasesKeysHeldFromTheKeyboardOnly)
{
    host.KeyDown(Top(), kScanE); // key 14
    host.KeyDown(Top(), kScanW); // key 12
    host.Press(Top(), On(7));    // C2 held by the mouse
    midi.ClearLog();
    Deactivate();
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOff(41), KeyOff(43)}));
    EXPECT_TRUE(Key(7).m_bDown);

    // Their key-ups, should they come after all, send nothing more; the mouse key is released
    // by its own button.
    host.KeyUp(Top(), kScanW);
    host.KeyUp(Top(), kScanE);
    host.Release(Top(), On(7));
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOff(41), KeyOff(43), KeyOff(36)}));

    midi.ClearLog();
    Deactivate();
    WindowManager::Instance().Activated(Top(), true);
    EXPECT_TRUE(Sent().empty());

    // A popup or the menu bar taking the keyboard from the active window lets them go too.
    host.KeyDown(Top(), kScanE);
    midi.ClearLog();
    WindowManager::Instance().KeyboardLost(Top());
    EXPECT_EQ(Sent(), std::vector<DWORD>{KeyOff(43)});
    EXPECT_FALSE(Key(14).m_bDown);
}

TEST_F(KeyboardTest, KeyLetGoByTheMouseAndThenGlidedOntoIsTheMouseKeyWhenTheFocusGoes)
{
    host.KeyDown(Top(), kScanW); // F2, key 12, from the keyboard
    host.Press(Top(), On(7));
    host.Release(Top(), On(7)); // the computer key holds F2 on
    host.Advance(1000);
    host.Press(Top(), On(9));
    host.Move(Top(), On(12)); // F2, now held by the mouse too
    midi.ClearLog();
    Deactivate();
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Key(12).m_bDown);
    EXPECT_TRUE(Key(9).m_bDown);
    host.Release(Top(), On(12));
    EXPECT_EQ(Sent(), (std::vector<DWORD>{KeyOff(41), KeyOff(38)}));
}

TEST_F(KeyboardTest, ActivationAloneSendsNothing)
{
    WindowManager::Instance().Activated(Top(), true);
    Deactivate();
    EXPECT_TRUE(Sent().empty());
}

} // namespace

// The record every source of notes shares: a key sounds once whoever else presses it, ends
// only when its last holder lets go, and then ends the note its note-on used.
TEST(HeldKeysTest, AKeySoundsOnceAndEndsWithItsLastHolder)
{
    HeldKeys keys;
    const auto controller = HeldKeys::Source::Input(1, 3);
    EXPECT_TRUE(keys.Press(60, HeldKeys::Source::Mouse()));
    keys.Sounded(60, {9, 81, 7, true});
    EXPECT_FALSE(keys.Press(60, controller));
    EXPECT_FALSE(keys.Press(60, HeldKeys::Source::ComputerKey()));
    EXPECT_TRUE(keys.IsHeldByInput(60, 1));
    EXPECT_FALSE(keys.IsHeldByInput(60, 0));
    EXPECT_EQ(keys.LetGo(60, HeldKeys::Source::Mouse()), std::nullopt);
    EXPECT_EQ(keys.LetGo(60, HeldKeys::Source::Mouse()), std::nullopt) << "let go of twice";
    EXPECT_EQ(keys.LetGo(60, controller), std::nullopt);
    EXPECT_TRUE(keys.IsDown(60));
    EXPECT_EQ(keys.LetGo(60, HeldKeys::Source::ComputerKey()), (HeldKeys::Sounding{9, 81, 7, true}));
    EXPECT_FALSE(keys.IsDown(60));
    EXPECT_FALSE(keys.Press(128, HeldKeys::Source::Mouse())) << "no such key";
}
