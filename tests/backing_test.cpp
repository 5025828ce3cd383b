// The backing player on the virtual clock: when its ticks come, what each tick sends, how a
// change of style silences and restarts it, the style buttons and menu marks, and the tables
// of every style against the score.

#include "backing/backing_patterns.h"
#include "backing/backing_player.h"
#include "tests/panel_fixture.h"

#include <vector>

namespace {

constexpr UINT kNone = 32908;
constexpr UINT kWaltz = 32909;
constexpr UINT kRock = 32910;
constexpr UINT kChaCha = 32912;
constexpr UINT kTango = 32914;
constexpr UINT kDisco = 32915;
constexpr int kBackingPopup = 2;

DWORD Bytes(BYTE status, BYTE data1, BYTE data2)
{
    return DWORD(status) | DWORD(data1) << 8 | DWORD(data2) << 16;
}
const DWORD kChordOff = Bytes(0xB1, 123, 0);
const DWORD kDrumOff = Bytes(0xB9, 123, 0);
DWORD Chord(int note) { return Bytes(0x91, BYTE(note), 63); }
DWORD Drum(int note) { return Bytes(0x99, BYTE(note), 95); }

struct StyleShape {
    UINT command;
    unsigned periodMs;
    int cycle;
};
constexpr StyleShape kShapes[] = {
    {32909, 800, 3},  {32910, 300, 8}, {32911, 150, 32}, {32912, 300, 16},
    {32913, 150, 32}, {32914, 75, 64}, {32915, 150, 32},
};

class BackingTest : public PanelTest {
protected:
    void SetUp() override
    {
        PanelTest::SetUp();
        StartAndForget();
    }

    void Choose(UINT command) { Command(command); }

    // Lets one period pass and returns what that tick sent.
    std::vector<DWORD> Tick(unsigned periodMs)
    {
        midi.ClearLog();
        host.Advance(periodMs);
        return Sent();
    }

    bool TimerRunning() const { return host.TimerRunning(panel.get(), 0); }
    std::uint64_t NextTickIn() const { return host.TimerDue(panel.get(), 0) - host.Now(); }

    std::vector<UINT> CheckedStyles() const
    {
        std::vector<UINT> checked;
        CMenu* backing = panel->m_menu.GetSubMenu(kBackingPopup);
        for (UINT id = kNone; id <= kDisco; ++id)
            if (backing->GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED)
                checked.push_back(id);
        return checked;
    }

    std::vector<int> LitStyleButtons() const
    {
        std::vector<int> lit;
        for (int s = 0; s < 8; ++s)
            if (panel->m_btnStyle[static_cast<size_t>(s)].m_bOn)
                lit.push_back(s);
        return lit;
    }
};

TEST_F(BackingTest, StartsSilentWithNoneChosen)
{
    EXPECT_EQ(CheckedStyles(), std::vector<UINT>{kNone});
    EXPECT_EQ(LitStyleButtons(), std::vector<int>{0});
    EXPECT_FALSE(TimerRunning());
    host.Advance(5000);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(BackingTest, WaltzSoundsNothingAtOnceThenPlaysItsStepsEvery800Ms)
{
    Choose(kWaltz);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, kDrumOff})) << "only silence at the choice";
    midi.ClearLog();
    host.Advance(799);
    EXPECT_TRUE(Sent().empty());

    const std::vector<DWORD> step0 = {kChordOff, Chord(48), kDrumOff, Drum(41), Drum(57)};
    const std::vector<DWORD> step12 = {kChordOff, Chord(55), Chord(53), kDrumOff, Drum(53)};
    midi.ClearLog();
    host.Advance(1);
    EXPECT_EQ(Sent(), step0);
    EXPECT_EQ(Tick(800), step12);
    EXPECT_EQ(Tick(800), step12);
    EXPECT_EQ(Tick(800), step0);
    EXPECT_EQ(Tick(800), step12);
}

TEST_F(BackingTest, EveryStyleTicksAtItsPeriodAndWrapsAfterItsCycle)
{
    for (const StyleShape& shape : kShapes) {
        Choose(shape.command);
        EXPECT_EQ(NextTickIn(), shape.periodMs) << shape.command;
        Panel().m_nStep = 0;
        std::vector<std::vector<DWORD>> firstCycle;
        for (int step = 0; step < shape.cycle; ++step) {
            firstCycle.push_back(Tick(shape.periodMs));
            EXPECT_EQ(firstCycle.back().front(), kChordOff) << shape.command << " step " << step;
        }
        EXPECT_EQ(Panel().m_nStep, 0u) << shape.command;
        for (int step = 0; step < shape.cycle; ++step)
            EXPECT_EQ(Tick(shape.periodMs), firstCycle[static_cast<size_t>(step)])
                << shape.command << " step " << step;
        // Between ticks nothing happens.
        midi.ClearLog();
        host.Advance(shape.periodMs - 1);
        EXPECT_TRUE(Sent().empty()) << shape.command;
        host.Advance(1);
    }
}

TEST_F(BackingTest, RockStepSevenSendsDrumNoteZeroAndRestStepsStillSilence)
{
    Choose(kRock);
    std::vector<std::vector<DWORD>> ticks;
    for (int step = 0; step < 8; ++step)
        ticks.push_back(Tick(300));
    EXPECT_EQ(ticks[7], (std::vector<DWORD>{kChordOff, Chord(41), kDrumOff, Drum(0), Drum(53)}));
    EXPECT_EQ(ticks[1], (std::vector<DWORD>{kChordOff, kDrumOff, Drum(53)})) << "a step of chord rests";
}

TEST_F(BackingTest, TangoSoundsOnSixteenOfItsSixtyFourSteps)
{
    Choose(kTango);
    std::vector<int> sounding;
    for (int step = 0; step < 64; ++step) {
        const std::vector<DWORD> sent = Tick(75);
        if (sent.size() > 2)
            sounding.push_back(step);
        else
            EXPECT_EQ(sent, (std::vector<DWORD>{kChordOff, kDrumOff})) << step;
    }
    const std::vector<int> expected = {0, 8, 16, 24, 28, 29, 30, 31, 32, 40, 48, 56, 60, 61, 62, 63};
    EXPECT_EQ(sounding, expected);
}

TEST_F(BackingTest, FullestStepsSendSevenMessagesInTheirOrder)
{
    Choose(kTango);
    EXPECT_EQ(Tick(75),
              (std::vector<DWORD>{kChordOff, Chord(48), Chord(36), kDrumOff, Drum(40), Drum(41), Drum(57)}));

    Choose(kChaCha);
    Panel().m_nStep = 0;
    std::vector<std::vector<DWORD>> ticks;
    for (int step = 0; step < 16; ++step)
        ticks.push_back(Tick(300));
    const std::vector<DWORD> fullest = {kChordOff, Chord(43), Chord(52), kDrumOff,
                                        Drum(38),  Drum(41),  Drum(48)};
    EXPECT_EQ(ticks[6], fullest);
    EXPECT_EQ(ticks[14], fullest);
    for (int step = 0; step < 16; ++step) {
        if (step != 6 && step != 14) {
            EXPECT_LT(ticks[static_cast<size_t>(step)].size(), 7u) << step;
        }
    }
}

TEST_F(BackingTest, ChoosingTheCurrentStyleSendsNothingAndKeepsThePhase)
{
    Choose(kRock);
    host.Advance(400); // one tick, and 100 ms into the next period
    midi.ClearLog();
    Choose(kRock);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(NextTickIn(), 200u);
    EXPECT_EQ(CheckedStyles(), std::vector<UINT>{kRock});
    EXPECT_EQ(LitStyleButtons(), std::vector<int>{2});
    host.Advance(200);
    EXPECT_EQ(Sent().size(), 3u) << "Rock step 1 at its old time";
}

TEST_F(BackingTest, ClickOnTheLitStyleButtonLeavesItLitAndTheTicksUntouched)
{
    CRackButton& rock = Panel().m_btnStyle[2];
    ClickOn(rock);
    ASSERT_EQ(Panel().m_nStyle, 2);
    midi.ClearLog();
    const std::uint64_t due = host.TimerDue(panel.get(), 0);
    host.Click(Top(), Centre(rock));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(host.TimerDue(panel.get(), 0), due);
    EXPECT_EQ(LitStyleButtons(), std::vector<int>{2});
    EXPECT_EQ(CheckedStyles(), std::vector<UINT>{kRock});
}

TEST_F(BackingTest, NoneSilencesBothChannelsAndStopsTheTicks)
{
    Choose(kDisco);
    host.Advance(150 * 5);
    const UINT step = Panel().m_nStep;
    midi.ClearLog();
    Choose(kNone);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, kDrumOff}));
    EXPECT_FALSE(TimerRunning());
    midi.ClearLog();
    host.Advance(10000);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Panel().m_nStep, step);
    EXPECT_EQ(CheckedStyles(), std::vector<UINT>{kNone});
    EXPECT_EQ(LitStyleButtons(), std::vector<int>{0});
}

TEST_F(BackingTest, ChangeOfStyleSilencesAtOnceAndRestartsThePeriod)
{
    Choose(kWaltz);
    host.Advance(500);
    midi.ClearLog();
    Choose(kRock);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, kDrumOff}));
    EXPECT_EQ(NextTickIn(), 300u);
    midi.ClearLog();
    host.Advance(299);
    EXPECT_TRUE(Sent().empty()) << "the Waltz tick that was due at 800 ms never comes";
    host.Advance(1);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, Chord(48), kDrumOff, Drum(41), Drum(53)}));
}

TEST_F(BackingTest, TimerOfAnotherIdLeavesTheBackingAlone)
{
    Choose(kRock);
    host.Advance(300);
    midi.ClearLog();
    const UINT step = Panel().m_nStep;
    WindowManager::Instance().Timer(Top(), 7);
    WindowManager::Instance().Timer(Top(), 1);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Panel().m_nStep, step);
}

TEST_F(BackingTest, FirstTickAfterALongerStyleReadsWithinTheNewCycle)
{
    Choose(kTango);
    host.Advance(75 * 10);
    ASSERT_EQ(Panel().m_nStep, 10u);
    Choose(kWaltz);
    midi.ClearLog();
    host.Advance(800);
    // Step 10 of Tango's count is step 1 of Waltz's three.
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, Chord(55), Chord(53), kDrumOff, Drum(53)}));
    EXPECT_EQ(Panel().m_nStep, 2u);

    // From the top of Tango's count as well: step 63 is Waltz's step 0.
    Choose(kTango);
    Panel().m_nStep = 63;
    Choose(kWaltz);
    midi.ClearLog();
    host.Advance(800);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, Chord(48), kDrumOff, Drum(41), Drum(57)}));
    EXPECT_EQ(Panel().m_nStep, 1u);
}

TEST_F(BackingTest, WithoutAnOpenPortTheStepsStillKeepTime)
{
    midi.FailOpens(0);
    Command(32769); // device 0 will not open: no port at all
    ASSERT_EQ(Panel().m_hMidiOut, nullptr);
    Choose(kRock);
    host.Advance(300 * 3);
    EXPECT_EQ(Panel().m_nStep, 3u);
}

TEST_F(BackingTest, ChangeOfDeviceKeepsTheBeatAndPlaysOnThroughTheNewPort)
{
    Choose(kRock);
    host.Advance(400);
    const std::uintptr_t oldPort = midi.LastHandle();
    const std::uint64_t due = host.TimerDue(panel.get(), 0);
    Command(32769); // device 0
    ASSERT_NE(midi.LastHandle(), oldPort);
    EXPECT_EQ(host.TimerDue(panel.get(), 0), due);
    midi.ClearLog();
    host.Advance(200);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, kDrumOff, Drum(53)})) << "Rock step 1";
    EXPECT_TRUE(midi.Messages(oldPort).empty());
}

TEST_F(BackingTest, PlaysOnWhileAHelpDialogIsOpen)
{
    Choose(kWaltz);
    midi.ClearLog();
    host.onTemplateDialog = [this](const DialogTemplate&) { host.Advance(1600); };
    Command(57664); // About
    EXPECT_EQ(host.templateDialogs.size(), 1u);
    EXPECT_EQ(Panel().m_nStep, 2u);
    EXPECT_EQ(Sent().size(), 10u);
}

TEST_F(BackingTest, DoubleClickOnAStyleButtonReachesTheStyleTwice)
{
    CRackButton& rock = Panel().m_btnStyle[2];
    host.Click(Top(), Centre(rock));
    ASSERT_EQ(Panel().m_nStyle, 2);
    // The menu picks another style between the two presses of the double-click...
    Choose(kWaltz);
    midi.ClearLog();
    host.Advance(100);
    host.Press(Top(), Centre(rock));
    // ...so the double-click notification alone brings Rock back.
    EXPECT_EQ(Panel().m_nStyle, 2);
    EXPECT_EQ(Sent(), (std::vector<DWORD>{kChordOff, kDrumOff}));
    host.Release(Top(), Centre(rock));
    EXPECT_EQ(LitStyleButtons(), std::vector<int>{2});
    EXPECT_EQ(CheckedStyles(), std::vector<UINT>{kRock});
}

TEST_F(BackingTest, MenuAndButtonsAlwaysMarkExactlyTheCurrentStyle)
{
    const UINT sequence[] = {kRock, kTango, kTango, kNone, kDisco, kWaltz, kNone, kNone, kChaCha};
    for (const UINT command : sequence) {
        Choose(command);
        EXPECT_EQ(CheckedStyles(), std::vector<UINT>{command});
        EXPECT_EQ(LitStyleButtons(), std::vector<int>{int(command - kNone)});
        EXPECT_EQ(Panel().m_nStyle, int(command - kNone));
    }
    for (int s = 7; s >= 0; --s) {
        ClickOn(Panel().m_btnStyle[static_cast<size_t>(s)]);
        EXPECT_EQ(CheckedStyles(), std::vector<UINT>{kNone + UINT(s)});
        EXPECT_EQ(LitStyleButtons(), std::vector<int>{s});
    }
}

// ---- The tables, as the score writes them: one line per slot, steps across ----------------

constexpr int _ = 99;

struct ScoreLine {
    int style;
    bool chord;
    int slot;
    int firstStep;
    std::vector<int> values;
};

// clang-format off
const ScoreLine kScore[] = {
    // Waltz
    {1, true,  0, 0, { 0,  7,  7}},
    {1, true,  1, 0, { _,  5,  5}},
    {1, false, 0, 0, {41, 53, 53}},
    {1, false, 1, 0, {57,  _,  _}},
    // Rock
    {2, true,  0, 0, { 0,  _,  _,  0,  0,  _,  _, -7}},
    {2, true,  1, 0, { _,  _,  _,  _,  _,  _,  _,  _}},
    {2, false, 0, 0, {41,  _, 40, 41, 41,  _, 40,  0}},
    {2, false, 1, 0, {53, 53, 53, 53, 53, 53, 53, 53}},
    // March
    {3, true,  0,  0, { 0, _,  _, _, -5, _,  _, _,  0, _,  _,  _, -5, _,  _, _}},
    {3, true,  0, 16, { 0, _,  _, _, -5, _,  _, _,  0, _, -5,  _, -3, _, -1, _}},
    {3, false, 0,  0, {41, _, 40, _, 41, _, 40, _, 41, _, 40,  _, 41, _, 40, _}},
    {3, false, 0, 16, {41, _, 40, _, 41, _, 40, _, 41, _, 40, 40, 40, _, 40, _}},
    // Cha-Cha
    {4, true,  0, 0, { 0,  _,  4,  _,  7,  _, -5,  _,  0,  _,  4,  _, -5,  _, -5,  _}},
    {4, true,  1, 0, { _,  _,  _,  _,  _,  _,  4,  _,  _,  _,  _,  _,  4,  4,  4,  _}},
    {4, false, 0, 0, {38, 57, 38, 57, 38, 57, 38, 57, 38, 57, 38, 57, 38, 38, 38, 57}},
    {4, false, 1, 0, {41,  _,  _,  _, 41,  _, 41, 41, 41,  _,  _,  _, 41,  _, 41, 41}},
    {4, false, 2, 0, { _,  _,  _,  _,  _,  _, 48,  _,  _,  _,  _,  _,  _,  _, 48,  _}},
    // Rumba
    {5, true,  0,  0, { 4, _,  _, _,  7, _,  _,  _,  0, _,  _,  _,  _, _,  _, _}},
    {5, true,  0, 16, { 7, _,  _, _, -5, _,  _,  _,  0, _,  _,  _,  _, _,  _, _}},
    {5, false, 0,  0, {41, _, 40, _, 40, _, 40,  _, 41, _, 40, 40, 40, _, 40, _}},
    {5, false, 0, 16, {41, _, 40, _, 40, _, 40, 57, 41, _, 40, 40, 40, _, 40, _}},
    // Tango
    {6, true,  0,  0, {  0, _, _, _, _, _, _, _,   0, _, _, _,  _, _,  _,  _}},
    {6, true,  0, 16, {  0, _, _, _, _, _, _, _,   0, _, _, _, -5, _,  _,  _}},
    {6, true,  0, 32, {  0, _, _, _, _, _, _, _,   0, _, _, _,  _, _,  _,  _}},
    {6, true,  0, 48, {  0, _, _, _, _, _, _, _,   0, _, _, _, -5, _,  _,  _}},
    {6, true,  1,  0, {-12, _, _, _, _, _, _, _, -12, _, _, _,  _, _,  _,  _}},
    {6, true,  1, 16, {-12, _, _, _, _, _, _, _, -12, _, _, _,  _, _,  _,  _}},
    {6, true,  1, 32, {-12, _, _, _, _, _, _, _, -12, _, _, _,  _, _,  _,  _}},
    {6, true,  1, 48, {-12, _, _, _, _, _, _, _, -12, _, _, _,  _, _,  _,  _}},
    {6, false, 0,  0, { 40, _, _, _, _, _, _, _,  40, _, _, _,  _, _,  _,  _}},
    {6, false, 0, 16, { 40, _, _, _, _, _, _, _,  40, _, _, _, 40, 40, 40, 40}},
    {6, false, 0, 32, { 40, _, _, _, _, _, _, _,  40, _, _, _,  _, _,  _,  _}},
    {6, false, 0, 48, { 40, _, _, _, _, _, _, _,  40, _, _, _, 40, 40, 40, 40}},
    {6, false, 1,  0, { 41, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 1, 16, {  _, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 1, 32, { 41, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 1, 48, {  _, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 2,  0, { 57, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 2, 16, {  _, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 2, 32, {  _, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    {6, false, 2, 48, {  _, _, _, _, _, _, _, _,   _, _, _, _,  _, _,  _,  _}},
    // Disco
    {7, true,  0,  0, { 0,  _,  _,  _,  _,  _, -5, -3,  0,  _,  0,  _,  0,  _,  _,  _}},
    {7, true,  0, 16, { 0,  _,  0,  _,  _,  _, -5, -3,  0,  _,  _,  _,  0,  _,  _,  _}},
    {7, true,  1,  0, { 4,  _,  _,  _,  _,  _,  4,  _,  4,  _,  4,  _,  _,  _,  _,  _}},
    {7, true,  1, 16, { 4,  _,  4,  _,  _,  _,  4,  4,  4,  _,  _,  _,  4,  _,  _,  _}},
    {7, false, 0,  0, {54, 54, 54, 54, 54,  _, 54,  _, 54, 54,  _, 54, 54,  _,  _,  _}},
    {7, false, 0, 16, {54,  _, 54,  _, 54,  _, 54, 54, 54, 54, 54, 54, 54,  _,  _,  _}},
    {7, false, 1,  0, {41,  _,  _,  _, 38,  _, 41, 41, 41, 41,  _, 41, 28,  _, 48,  _}},
    {7, false, 1, 16, {41,  _, 41,  _, 28,  _, 41, 41, 41,  _, 38, 38, 38,  _, 58,  _}},
};
// clang-format on

TEST(BackingPatterns, EveryTableMatchesTheScore)
{
    int entries = 0;
    for (const ScoreLine& line : kScore) {
        const BackingStyle& style = BackingStyleFor(line.style);
        ASSERT_LT(line.slot, line.chord ? style.chordSlots : style.drumSlots);
        for (size_t i = 0; i < line.values.size(); ++i) {
            const int step = line.firstStep + static_cast<int>(i);
            const int actual = line.chord ? style.Chord(step, line.slot) : style.Drum(step, line.slot);
            EXPECT_EQ(actual, line.values[i])
                << style.name << (line.chord ? " chord " : " drum ") << line.slot + 1 << " step " << step;
            ++entries;
        }
    }
    EXPECT_EQ(entries, 700) << "the score covers every entry of the fourteen tables";
}

TEST(BackingPatterns, ShapesAndPeriodsOfTheSevenStyles)
{
    const int chordSlots[] = {2, 2, 1, 2, 1, 2, 2};
    const int drumSlots[] = {2, 2, 1, 3, 1, 3, 2};
    for (int s = 1; s <= 7; ++s) {
        const BackingStyle& style = BackingStyleFor(s);
        EXPECT_EQ(style.cycle, kShapes[s - 1].cycle) << s;
        EXPECT_EQ(style.periodMs, kShapes[s - 1].periodMs) << s;
        EXPECT_EQ(style.chordSlots, chordSlots[s - 1]) << s;
        EXPECT_EQ(style.drumSlots, drumSlots[s - 1]) << s;
        EXPECT_EQ(style.periodMs * unsigned(style.cycle), s == 1 || s == 2 ? 2400u : 4800u) << s;
    }
}

} // namespace

// The player alone, without a panel: what one tick sends, and the chord key's wrap.
TEST(BackingPlayerTest, TicksIntoItsOutputAndWrapsTheChordKey)
{
    struct Recorder : BackingPlayer::Output {
        std::vector<int> sent; // chord tones as themselves, drums + 1000, offs as -1
        void ChordNotesOff() override { sent.push_back(-1); }
        void SendChordNote(int tone) override { sent.push_back(tone); }
        void DrumNotesOff() override { sent.push_back(-1); }
        void SendDrumNote(int note) override { sent.push_back(1000 + note); }
    } out;
    BackingPlayer player;
    player.Tick(out);
    EXPECT_TRUE(out.sent.empty());
    player.style = 6;  // Tango
    player.step = 130; // left over from a longer cycle: read as step 2
    player.Tick(out);
    EXPECT_EQ(out.sent, (std::vector<int>{-1, -1}));
    EXPECT_EQ(player.step, 3u);

    player.keyOffset = 4; // E
    player.ChordKeyUp();
    EXPECT_EQ(player.keyOffset, -7);
    EXPECT_EQ(player.KeyLamp(), 0);
    player.ChordKeyDown();
    EXPECT_EQ(player.keyOffset, 4);
}
