// The chord key: stepping up and down with wrap-around, the twelve lamps, direct choice by
// clicking a lamp, the menu and F11/F12, and the chord notes the backing then plays.

#include "tests/panel_fixture.h"

#include <algorithm>
#include <vector>

namespace {

constexpr UINT kKeyUp = 32917;
constexpr UINT kKeyDown = 32918;
constexpr UINT kRock = 32910;
constexpr UINT kTango = 32914;
constexpr UINT kWaltz = 32909;
constexpr UINT kLampOfE = 1015;
constexpr UINT kLampOfF = 1004;
constexpr UINT kLampOfD = 1013;
constexpr int kKeyPopup = 3;
constexpr int kScanF11 = 87;
constexpr int kScanF12 = 88;

DWORD Chord(int note) { return DWORD(0x91) | DWORD(note) << 8 | DWORD(63) << 16; }
bool IsChordNote(DWORD message) { return (message & 0xFF) == 0x91; }

class ChordKeyTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        StartAndForget();
    }

    int Offset() const { return panel->m_nKeyOffset; }
    CRackButton& Lamp(int offset) { return Panel().m_btnKeyLed[static_cast<size_t>(offset + 7)]; }

    // The offsets whose lamps are lit, lowest first.
    std::vector<int> LitLamps() const
    {
        std::vector<int> lit;
        for (int i = 0; i < 12; ++i)
            if (panel->m_btnKeyLed[static_cast<size_t>(i)].m_bOn)
                lit.push_back(i - 7);
        return lit;
    }

    void ExpectKey(int offset)
    {
        EXPECT_EQ(Offset(), offset);
        EXPECT_EQ(LitLamps(), std::vector<int>{offset});
    }

    std::vector<DWORD> ChordNotes() const
    {
        std::vector<DWORD> notes;
        for (const DWORD message : Sent())
            if (IsChordNote(message))
                notes.push_back(message);
        return notes;
    }
};

TEST_F(ChordKeyTest, StartsInCWithItsLampLit) { ExpectKey(0); }

TEST_F(ChordKeyTest, UpAndDownStepOneSemitoneAndWrapBetweenEAndF)
{
    Command(kKeyUp);
    ExpectKey(1);
    Command(kKeyDown);
    Command(kKeyDown);
    ExpectKey(-1);

    Command(kLampOfE);
    ExpectKey(4);
    Command(kKeyUp);
    ExpectKey(-7); // E goes up to F
    Command(kKeyDown);
    ExpectKey(4); // and F down to E
}

TEST_F(ChordKeyTest, TwelveStepsEitherWayReturnToTheStartingKey)
{
    for (const UINT start : {1004u, 1008u, 1011u, 1015u}) {
        Command(start);
        const int offset = int(start) - 1011;
        for (const UINT step : {kKeyUp, kKeyDown}) {
            std::vector<int> visited;
            for (int i = 0; i < 12; ++i) {
                Command(step);
                visited.push_back(Offset());
                EXPECT_EQ(LitLamps().size(), 1u);
            }
            ExpectKey(offset);
            // Every key was passed on the way.
            std::sort(visited.begin(), visited.end());
            EXPECT_EQ(std::unique(visited.begin(), visited.end()), visited.end()) << start;
        }
    }
}

TEST_F(ChordKeyTest, ExactlyOneLampIsLitAfterAnyMixOfChoices)
{
    const UINT sequence[] = {kKeyUp, 1006, kKeyDown, kKeyDown, 1015,     kKeyUp,   kKeyUp,
                             1011,   1011, kKeyDown, 1004,     kKeyDown, kKeyDown, 1009};
    int expected = 0;
    for (const UINT command : sequence) {
        Command(command);
        if (command == kKeyUp)
            expected = expected == 4 ? -7 : expected + 1;
        else if (command == kKeyDown)
            expected = expected == -7 ? 4 : expected - 1;
        else
            expected = int(command) - 1011;
        ExpectKey(expected);
    }
    EXPECT_TRUE(Sent().empty()) << "a change of key sends nothing of its own";
}

TEST_F(ChordKeyTest, ClickingALampChoosesItsKeyAndClickingTheLitLampKeepsIt)
{
    ClickOn(Lamp(-5));
    ExpectKey(-5);
    ClickOn(Lamp(-5));
    ExpectKey(-5);
    // A quick second click arrives as a double-click and chooses the same key again.
    host.Click(Top(), Centre(Lamp(2)));
    host.Advance(100);
    host.Click(Top(), Centre(Lamp(2)));
    ExpectKey(2);
}

TEST_F(ChordKeyTest, MenuItemsAndFunctionKeysReachTheSameSteps)
{
    CMenu* keyMenu = Panel().m_menu.GetSubMenu(kKeyPopup);
    ASSERT_NE(keyMenu, nullptr);
    EXPECT_EQ(keyMenu->GetMenuItemID(0), kKeyUp);
    EXPECT_EQ(keyMenu->GetMenuItemID(1), kKeyDown);

    WindowManager::Instance().MenuCommand(Top(), kKeyUp);
    ExpectKey(1);
    host.KeyDown(Top(), kScanF12);
    host.KeyUp(Top(), kScanF12);
    ExpectKey(2);
    WindowManager::Instance().MenuCommand(Top(), kKeyDown);
    host.KeyDown(Top(), kScanF11);
    host.KeyUp(Top(), kScanF11);
    host.KeyDown(Top(), kScanF11);
    ExpectKey(-1);
    Command(kLampOfF);
    host.KeyDown(Top(), kScanF11);
    ExpectKey(4);
    host.KeyDown(Top(), kScanF12);
    ExpectKey(-7);
}

TEST_F(ChordKeyTest, ChoiceWhileRockPlaysTakesEffectAtTheNextStep)
{
    Command(kRock);
    host.Advance(300 * 7); // steps 0 to 6
    midi.ClearLog();
    ClickOn(Lamp(2)); // D; the click's second lets steps 7 and 0 play, then more
    ASSERT_EQ(Offset(), 2);
    const std::vector<DWORD> notes = ChordNotes();
    ASSERT_GE(notes.size(), 2u);
    EXPECT_EQ(notes[0], Chord(50 - 7)) << "step 7's -7 in D";
    EXPECT_EQ(notes[1], Chord(50)) << "step 0 sounds D, 50, instead of C, 48";
}

TEST_F(ChordKeyTest, KeyOfDReachesRockStepZeroExactly)
{
    Command(kRock);
    Command(kLampOfD);
    midi.ClearLog();
    host.Advance(300);
    EXPECT_EQ(ChordNotes(), std::vector<DWORD>{Chord(50)});
}

TEST_F(ChordKeyTest, LowestAndHighestChordNotes)
{
    // In F, Tango's first step sounds the root and the octave below it: 41 and 29.
    Command(kLampOfF);
    Command(kTango);
    midi.ClearLog();
    host.Advance(75);
    EXPECT_EQ(ChordNotes(), (std::vector<DWORD>{Chord(41), Chord(29)}));

    // In E, Waltz's second step sounds 7 and 5 above the root: 59 and 57.
    Command(kLampOfE);
    Command(kWaltz);
    Panel().m_nStep = 1;
    midi.ClearLog();
    host.Advance(800);
    EXPECT_EQ(ChordNotes(), (std::vector<DWORD>{Chord(59), Chord(57)}));
}

TEST_F(ChordKeyTest, SoundingChordKeepsItsPitchUntilTheNextTick)
{
    Command(kWaltz);
    host.Advance(800);
    midi.ClearLog();
    Command(kKeyUp);
    EXPECT_TRUE(Sent().empty());
    host.Advance(800);
    EXPECT_EQ(ChordNotes(), (std::vector<DWORD>{Chord(56), Chord(54)}));
}

} // namespace
