// Instrument selection: the marks in the "&Instrument" menu, the program changes, the percussion
// map on the keys, the LED line and the knob kept in step, whichever way the choice is made.

#include "keys/key_scan_codes.h"
#include "midi/midi_messages.h"
#include "res/resource_ids.h"
#include "tests/panel_fixture.h"

#include <cmath>
#include <numbers>

namespace {

class InstrumentTest : public PanelTest {
protected:
    void Settle() { WindowManager::Instance().ProcessPosted(); }
    CMenu& Instruments() { return *Panel().m_menu.GetSubMenu(1); }

    // The positions 0..16 of the "&Instrument" popup that carry a mark.
    std::vector<int> MarkedEntries()
    {
        std::vector<int> marked;
        for (UINT position = 0; position <= 16; ++position)
            if (Instruments().GetMenuState(position, MF_BYPOSITION) & MF_CHECKED)
                marked.push_back(static_cast<int>(position));
        return marked;
    }
    // The program items 32777..32904 that carry a mark.
    std::vector<UINT> MarkedPrograms()
    {
        std::vector<UINT> marked;
        for (UINT id = ID_PROGRAM_FIRST; id < ID_PERCUSSION_MAP; ++id)
            if (Instruments().GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED)
                marked.push_back(id);
        return marked;
    }
    static std::vector<DWORD> ProgramChange(int program)
    {
        return {ProgramChangeMessage(0, program), ProgramChangeMessage(1, program)};
    }
    int PercussionKeys()
    {
        int count = 0;
        for (const CPianoKey& key : Panel().m_keys)
            count += key.m_bPercussion ? 1 : 0;
        return count;
    }
};

TEST_F(InstrumentTest, StartsOnTheAcousticGrandPianoInThePianoGroup)
{
    Start();
    EXPECT_EQ(MarkedEntries(), std::vector<int>{0});
    EXPECT_EQ(MarkedPrograms(), std::vector<UINT>{ID_PROGRAM_FIRST});
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 0:  Acoustic grand piano");
    EXPECT_EQ(Panel().m_nProgram, 0u);
    EXPECT_EQ(Panel().m_nGroup, 0u);
    EXPECT_EQ(PercussionKeys(), 0);
    EXPECT_EQ(Panel().m_knob.m_nPosition, 0);
    EXPECT_FALSE(WindowRegistry::Instance().HasPosted()); // the knob already stood at 0
}

TEST_F(InstrumentTest, ThePercussionMapTurnsEveryKeyIntoADrumPadAndSendsNoProgram)
{
    StartAndForget();
    Command(ID_PERCUSSION_MAP);
    Settle();
    EXPECT_EQ(PercussionKeys(), CPanelDlg::kKeyCount);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(MarkedEntries(), std::vector<int>{16});
    EXPECT_TRUE(MarkedPrograms().empty());
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 128:  Percussion Map");
    EXPECT_EQ(Panel().m_nGroup, 16u);
    EXPECT_EQ(Panel().m_knob.m_nPosition, 128);

    // Back to a program: the keys play notes again and the program is sent.
    Command(ID_PROGRAM_FIRST + 127);
    Settle();
    EXPECT_EQ(PercussionKeys(), 0);
    EXPECT_EQ(MarkedEntries(), std::vector<int>{15});
    EXPECT_EQ(MarkedPrograms(), std::vector<UINT>{ID_PROGRAM_FIRST + 127});
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 127:  Gunshot");
    const std::vector<DWORD> twice = {ProgramChangeMessage(0, 127), ProgramChangeMessage(1, 127),
                                      ProgramChangeMessage(0, 127), ProgramChangeMessage(1, 127)};
    EXPECT_EQ(Sent(), twice);
}

TEST_F(InstrumentTest, AMenuChoiceMovesTheKnobWhoseCommandRunsTheChoiceOnceMore)
{
    StartAndForget();
    ASSERT_NE(Panel().m_knob.m_nPosition, 40);
    Command(ID_PROGRAM_FIRST + 40); // "Violin"
    EXPECT_EQ(Sent(), ProgramChange(40));
    EXPECT_EQ(Panel().m_knob.m_nPosition, 40);
    const CPoint place = Panel().m_knob.PlaceForAngle(CProgramKnob::AngleOfPosition(40));
    const CRect dot = Panel().m_knob.RectInParent();
    EXPECT_EQ(CPoint(dot.left, dot.top), place);
    EXPECT_EQ(MarkedEntries(), std::vector<int>{5});
    EXPECT_EQ(MarkedPrograms(), std::vector<UINT>{ID_PROGRAM_FIRST + 40});
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 40:  Violin");
    ASSERT_TRUE(WindowRegistry::Instance().HasPosted());

    // The knob's command comes back after the current message and runs everything again.
    Panel().m_led.SetWindowText("stale");
    Settle();
    std::vector<DWORD> expected = ProgramChange(40);
    for (const DWORD message : ProgramChange(40))
        expected.push_back(message);
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 40:  Violin");
    EXPECT_EQ(Panel().m_knob.RectInParent(), dot); // left where it was
    EXPECT_FALSE(WindowRegistry::Instance().HasPosted());
}

TEST_F(InstrumentTest, ChoosingTheSelectedInstrumentAgainRunsItAgain)
{
    StartAndForget();
    Command(ID_PROGRAM_FIRST + 40);
    Settle();
    midi.ClearLog();
    Panel().m_led.SetWindowText("stale");
    Command(ID_PROGRAM_FIRST + 40);
    Settle();
    EXPECT_EQ(Sent(), ProgramChange(40));
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 40:  Violin");
    EXPECT_EQ(MarkedPrograms(), std::vector<UINT>{ID_PROGRAM_FIRST + 40});
}

TEST_F(InstrumentTest, EveryProgramShowsItsOwnMenuTextOnTheLed)
{
    StartAndForget();
    for (UINT program = 0; program <= 128; ++program) {
        Command(ID_PROGRAM_FIRST + program);
        Settle();
        char name[100];
        Panel().m_menu.GetMenuString(ID_PROGRAM_FIRST + program, name, sizeof name, MF_BYCOMMAND);
        EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM " + std::to_string(program) + ":  " + name);
        EXPECT_EQ(MarkedEntries(), std::vector<int>{static_cast<int>(program / 8)});
        ASSERT_EQ(MarkedPrograms().size(), program < 128 ? 1u : 0u);
    }
}

// The note-off goes to the channel and note of its note-on, both ways across the percussion
// map: encoded with the new sound it would leave the old note sounding.
TEST_F(InstrumentTest, AKeyHeldAcrossAChangeEndsTheNoteItStarted)
{
    StartAndForget();
    const int lowest = g_nKeyScanCode[0]; // key 0, note 29, drum pad 77
    host.KeyDown(Top(), lowest);
    Command(ID_PERCUSSION_MAP);
    Settle();
    EXPECT_TRUE(Panel().m_keys[0].m_bDown);
    host.KeyUp(Top(), lowest);
    EXPECT_EQ(Sent(),
              (std::vector<DWORD>{KeyNoteMessage(29, false, true), KeyNoteMessage(29, false, false)}));

    midi.ClearLog();
    host.KeyDown(Top(), lowest);
    Command(ID_PROGRAM_FIRST + 3);
    Settle();
    EXPECT_TRUE(Panel().m_keys[0].m_bDown);
    host.KeyUp(Top(), lowest);
    std::vector<DWORD> expected = {KeyNoteMessage(29, true, true)};
    for (int run = 0; run < 2; ++run)
        for (const DWORD message : ProgramChange(3))
            expected.push_back(message);
    expected.push_back(KeyNoteMessage(29, true, false));
    EXPECT_EQ(Sent(), expected);
}

TEST_F(InstrumentTest, AScreenReaderTurnsTheKnobByItsValueAsADragWould)
{
    StartAndForget();
    Panel().m_knob.SetAccessibleValue(10);
    EXPECT_EQ(Sent(), ProgramChange(10));
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 10:  Music box");
    EXPECT_EQ(Panel().m_knob.m_nPosition, 10);
    Panel().m_knob.SetAccessibleValue(10);
    EXPECT_EQ(Sent(), ProgramChange(10));
    // Beyond the last position it stops at the percussion map.
    Panel().m_knob.SetAccessibleValue(500);
    EXPECT_EQ(Panel().m_nProgram, 128u);
    EXPECT_EQ(Panel().m_knob.GetAccessibleValue().current, 128);
}

TEST_F(InstrumentTest, TurningTheKnobSelectsEachProgramOnceInOrder)
{
    StartAndForget();
    const CPoint centre = Panel().m_knob.m_ptCentre;
    const CRect dot = Panel().m_knob.RectInParent();
    const CPoint grab{2, 2};
    host.Press(Top(), {dot.left + grab.x, dot.top + grab.y});
    ASSERT_EQ(CWnd::GetCapture(), &Panel().m_knob);

    // The pointer goes round far from the centre, so rounding to pixels cannot skip a step:
    // each stop lies in the middle of the next position's arc.
    constexpr int kSteps = 12;
    constexpr double kReach = 100.0;
    for (int position = 1; position <= kSteps; ++position) {
        const double angle = (position + 0.5) * 2 * std::numbers::pi / 129;
        const CPoint pointer{centre.x + grab.x + static_cast<int>(std::lround(kReach * std::sin(angle))),
                             centre.y + grab.y + static_cast<int>(std::lround(kReach * std::cos(angle)))};
        host.Move(Top(), pointer);
        host.Move(Top(), pointer); // a second message at the same place changes nothing
    }
    host.Release(Top(), {0, 0});

    std::vector<DWORD> expected;
    for (int program = 1; program <= kSteps; ++program)
        for (const DWORD message : ProgramChange(program))
            expected.push_back(message);
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(Panel().m_nProgram, static_cast<UINT>(kSteps));
    EXPECT_EQ(Panel().m_knob.m_nPosition, kSteps);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 12:  Marimba");
    EXPECT_EQ(MarkedEntries(), std::vector<int>{1});
    EXPECT_FALSE(WindowRegistry::Instance().HasPosted());
    EXPECT_EQ(CWnd::GetCapture(), nullptr);
}

} // namespace

// A controller's program change has already been sent, in its place among the notes: the panel
// shows the choice as the menu would, without sending it again, ending the controller's notes
// or having the knob post it back; the instrument already chosen changes nothing.
TEST_F(InstrumentTest, AControllersProgramChangeIsShownAndNotSentAgain)
{
    StartAndForget();
    Panel().OnInstrument(ID_PERCUSSION_MAP);
    Settle();
    midi.ClearLog();
    const int endings = midi.InputEndings();
    midi.ControllerChooses(40);
    Settle();
    EXPECT_EQ(Panel().m_nProgram, 40u);
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 40:  Violin");
    EXPECT_EQ(MarkedPrograms(), std::vector<UINT>{ID_PROGRAM_FIRST + 40});
    EXPECT_EQ(Panel().m_knob.m_nPosition, 40);
    EXPECT_EQ(PercussionKeys(), 0);
    EXPECT_EQ(midi.Rule().program, 40);
    midi.ControllerChooses(40);
    Settle();
    EXPECT_TRUE(midi.AllMessages().empty());
    EXPECT_EQ(midi.InputEndings(), endings);
}
