// The MIDI output port: every message's bytes, the start-up sequence, the device menu, opening
// and closing with their retries and waits, and the silence sent before a device is let go.

#include "midi/midi_messages.h"
#include "res/resource_ids.h"
#include "tests/panel_fixture.h"

#include <string>

namespace {

struct Bytes {
    BYTE status, data1, data2;
};

Bytes Unpack(DWORD message)
{
    EXPECT_EQ(message >> 24, 0u);
    return {BYTE(message & 0xFF), BYTE((message >> 8) & 0xFF), BYTE((message >> 16) & 0xFF)};
}

#define EXPECT_BYTES(message, s, d1, d2)                                                                     \
    do {                                                                                                     \
        const Bytes got = Unpack(message);                                                                   \
        EXPECT_EQ(got.status, s);                                                                            \
        EXPECT_EQ(got.data1, d1);                                                                            \
        EXPECT_EQ(got.data2, d2);                                                                            \
    } while (false)

const DWORD kAllNotesOffEverywhere[] = {AllNotesOffMessage(0), AllNotesOffMessage(1), AllNotesOffMessage(9)};

std::vector<std::string> OpenAttempts(int device, int failures)
{
    static constexpr const char* kWaits[] = {"sleep 800", "sleep 1200", "sleep 1600", "sleep 2000"};
    std::vector<std::string> calls;
    for (int attempt = 0; attempt < failures; ++attempt) {
        calls.push_back("open " + std::to_string(device));
        calls.push_back(kWaits[attempt]);
    }
    if (failures < 4)
        calls.push_back("open " + std::to_string(device));
    return calls;
}

std::string CloseCall(std::uintptr_t handle) { return "close " + std::to_string(handle); }

// ---- Encodings ------------------------------------------------------------------------------------

TEST(MidiMessageTest, EveryMessageKindByItsBytes)
{
    struct Row {
        const char* what;
        DWORD message;
        Bytes bytes;
    };
    // clang-format off
    const Row rows[] = {
        {"key on, lowest",            KeyNoteMessage(29, false, true),  {0x90, 29, 127}},
        {"key on, middle C",          KeyNoteMessage(60, false, true),  {0x90, 60, 127}},
        {"key off, middle C",         KeyNoteMessage(60, false, false), {0x90, 60, 0}},
        {"key on, highest",           KeyNoteMessage(76, false, true),  {0x90, 76, 127}},
        {"drum pad 29",               KeyNoteMessage(29, true, true),   {0x99, 77, 127}},
        {"drum pad 29 off",           KeyNoteMessage(29, true, false),  {0x99, 77, 0}},
        {"drum pad 34",               KeyNoteMessage(34, true, true),   {0x99, 82, 127}},
        {"drum pad 34 off",           KeyNoteMessage(34, true, false),  {0x99, 82, 0}},
        {"drum pad 35",               KeyNoteMessage(35, true, true),   {0x99, 35, 127}},
        {"drum pad 76 off",           KeyNoteMessage(76, true, false),  {0x99, 76, 0}},
        {"program 0, channel 1",      ProgramChangeMessage(0, 0),       {0xC0, 0, 0}},
        {"program 40, channel 2",     ProgramChangeMessage(1, 40),      {0xC1, 40, 0}},
        {"program 127, channel 1",    ProgramChangeMessage(0, 127),     {0xC0, 127, 0}},
        {"chord tone 0 in C",         ChordNoteMessage(0, 0),           {0x91, 48, 63}},
        {"chord tone 0 in F",         ChordNoteMessage(0, -7),          {0x91, 41, 63}},
        {"lowest chord note",         ChordNoteMessage(-12, -7),        {0x91, 29, 63}},
        {"highest chord note",        ChordNoteMessage(7, 4),           {0x91, 59, 63}},
        {"drum note",                 DrumNoteMessage(35),              {0x99, 35, 95}},
        {"drum note, unchanged",      DrumNoteMessage(81),              {0x99, 81, 95}},
        {"keys all notes off",        AllNotesOffMessage(0),            {0xB0, 123, 0}},
        {"chord notes off",           AllNotesOffMessage(1),            {0xB1, 123, 0}},
        {"drum notes off",            AllNotesOffMessage(9),            {0xB9, 123, 0}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_BYTES(row.message, row.bytes.status, row.bytes.data1, row.bytes.data2);
    }
    EXPECT_EQ(AllNotesOffMessage(1), 31665u);
    EXPECT_EQ(AllNotesOffMessage(9), 31673u);
}

class MidiPortTest : public PanelTest {
protected:
    void Settle() { WindowManager::Instance().ProcessPosted(); }
    void CommandAndSettle(UINT id)
    {
        Command(id);
        Settle();
    }
    CMenu& PlayThru() { return *Panel().m_menu.GetSubMenu(0); }
    std::vector<UINT> CheckedDevices()
    {
        std::vector<UINT> checked;
        for (UINT id = ID_MIDI_MAPPER; id <= ID_DEVICE_LAST; ++id)
            if (PlayThru().GetMenuState(id, MF_BYCOMMAND) != 0xFFFFFFFF &&
                (PlayThru().GetMenuState(id, MF_BYCOMMAND) & MF_CHECKED))
                checked.push_back(id);
        return checked;
    }
    bool KeysHold(HMIDIOUT handle)
    {
        for (const CPianoKey& key : Panel().m_keys)
            if (key.m_hMidiOut != handle)
                return false;
        return true;
    }
    static HMIDIOUT Handle(std::uintptr_t number) { return reinterpret_cast<HMIDIOUT>(number); }
};

TEST_F(MidiPortTest, PanelAndKeysSendByTheTable)
{
    StartAndForget();
    Panel().SendChordNote(0);
    Panel().m_nKeyOffset = -7;
    Panel().SendChordNote(0);
    Panel().SendChordNote(7);
    Panel().ChordNotesOff();
    Panel().SendDrumNote(42);
    Panel().DrumNotesOff();
    Panel().SendProgramChange(13);
    Panel().SendProgramChange(128); // the percussion map has no program
    const std::vector<DWORD> expected = {0x3F3091, 0x3F2991, 0x3F3091, 0x7BB1,
                                         0x5F2A99, 0x7BB9,   0x0DC0,   0x0DC1};
    EXPECT_EQ(Sent(), expected);
}

TEST_F(MidiPortTest, EveryKeyPlaysItsNoteAndTheLowestSixAreRaisedOnTheDrumChannel)
{
    StartAndForget();
    for (int i = 0; i < CPanelDlg::kKeyCount; ++i) {
        for (const bool percussion : {false, true}) {
            SCOPED_TRACE(testing::Message() << "key " << i << (percussion ? " drums" : ""));
            midi.ClearLog();
            CPianoKey& key = Panel().m_keys[i];
            key.m_bPercussion = percussion ? TRUE : FALSE;
            key.NoteOn();
            key.NoteOff();
            const int note = 29 + i;
            const int sent = percussion && note <= 34 ? note + 48 : note;
            const BYTE status = percussion ? 0x99 : 0x90;
            ASSERT_EQ(Sent().size(), 2u);
            EXPECT_BYTES(Sent()[0], status, sent, 127);
            EXPECT_BYTES(Sent()[1], status, sent, 0);
        }
    }
}

// ---- Start-up ------------------------------------------------------------------------------------

TEST_F(MidiPortTest, StartUpOpensTheMapperOnceAndSendsProgramZeroTwice)
{
    Start();
    EXPECT_EQ(midi.Calls(), (std::vector<std::string>{"open -1"}));
    const std::vector<DWORD> expected = {0x00C0, 0x00C1, 0x00C0, 0x00C1};
    EXPECT_EQ(midi.AllMessages().size(), expected.size());
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(Panel().m_hMidiOut, Handle(midi.LastHandle()));
    EXPECT_TRUE(KeysHold(Panel().m_hMidiOut));
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_MIDI_MAPPER}));
    EXPECT_EQ(Panel().m_nDevice, -1);
    EXPECT_TRUE(host.messageBoxes.empty());
}

// ---- The device menu --------------------------------------------------------------------------------

TEST_F(MidiPortTest, WithoutDevicesThePlayThruMenuHoldsOnlyTheMapper)
{
    midi.SetDevices({});
    Start();
    ASSERT_EQ(PlayThru().GetMenuItemCount(), 1);
    EXPECT_EQ(PlayThru().GetMenuItemID(0), ID_MIDI_MAPPER);
}

TEST_F(MidiPortTest, DevicesFollowASeparatorWithIdsByTheirIndex)
{
    midi.SetDevices({"Port A", "Unreadable", "Port C", "A name far longer than thirty-one characters"});
    midi.FailDeviceName(1);
    Start();
    CMenu& menu = PlayThru();
    ASSERT_EQ(menu.GetMenuItemCount(), 5);
    EXPECT_EQ(menu.GetMenuState(1, MF_BYPOSITION) & MF_SEPARATOR, MF_SEPARATOR);
    const UINT ids[] = {ID_DEVICE_FIRST, ID_DEVICE_FIRST + 2, ID_DEVICE_FIRST + 3};
    const char* const names[] = {"Port A", "Port C", "A name far longer than thirty-o"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(menu.GetMenuItemID(2 + k), ids[k]);
        char text[64];
        menu.GetMenuString(ids[k], text, sizeof text, MF_BYCOMMAND);
        EXPECT_STREQ(text, names[k]);
        EXPECT_EQ(menu.GetMenuState(ids[k], MF_BYCOMMAND), 0u);
    }
    EXPECT_EQ(menu.GetMenuState(ID_DEVICE_FIRST + 1, MF_BYCOMMAND), 0xFFFFFFFF);

    // The device after the unreadable one opens as itself.
    midi.ClearLog();
    CommandAndSettle(ID_DEVICE_FIRST + 2);
    EXPECT_EQ(midi.DeviceOf(midi.LastHandle()), 2);
    EXPECT_EQ(Panel().m_nDevice, 2);
}

TEST_F(MidiPortTest, AtMostEightDevicesAreListedSoNoneTakesAnInstrumentId)
{
    midi.SetDevices({"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "D8", "D9"});
    Start();
    CMenu& menu = PlayThru();
    ASSERT_EQ(menu.GetMenuItemCount(), 10); // the mapper, a separator and eight devices
    for (int d = 0; d < 8; ++d)
        EXPECT_EQ(menu.GetMenuItemID(2 + d), ID_DEVICE_FIRST + static_cast<UINT>(d));
    EXPECT_EQ(menu.GetMenuState(ID_PROGRAM_FIRST, MF_BYCOMMAND), 0xFFFFFFFF);
    // The first instrument is still the first instrument.
    char text[64];
    Panel().m_menu.GetMenuString(ID_PROGRAM_FIRST, text, sizeof text, MF_BYCOMMAND);
    EXPECT_STREQ(text, "Acoustic grand piano");
}

// Ports come and go while the program runs: each time "Play Thru" opens, its items are those of
// the device list then. A device keeps its number while its port is there, so each item keeps
// its id and the open device its check mark.
TEST_F(MidiPortTest, OpeningPlayThruReadsTheDevicesAgainKeepingIdsAndTheMark)
{
    midi.SetDevices({"Port A", "Port B"});
    Start();
    CommandAndSettle(ID_DEVICE_FIRST + 1);
    const auto openPlayThru = [this] {
        WindowManager::Instance().MenuPopupOpening(&Panel(), &PlayThru(), 0);
    };
    const auto items = [this] {
        std::vector<std::pair<UINT, std::string>> shown;
        for (const CMenu::Item& item : PlayThru().Items())
            shown.emplace_back(item.id, item.text);
        return shown;
    };
    using Items = std::vector<std::pair<UINT, std::string>>;

    // Port A has gone, leaving its number unused, and Port C has come.
    midi.SetDevices({"Port A", "Port B", "Port C"});
    midi.FailDeviceName(0);
    openPlayThru();
    EXPECT_EQ(items(), (Items{{ID_MIDI_MAPPER, "&Midi Mapper"},
                              {0, ""},
                              {ID_DEVICE_FIRST + 1, "Port B"},
                              {ID_DEVICE_FIRST + 2, "Port C"}}));
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_DEVICE_FIRST + 1}));
    midi.ClearLog();
    CommandAndSettle(ID_DEVICE_FIRST + 2);
    EXPECT_EQ(midi.DeviceOf(midi.LastHandle()), 2);
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_DEVICE_FIRST + 2}));

    // Every port gone: the mapper alone, without a separator, and no mark left on a ghost.
    midi.SetDevices({});
    openPlayThru();
    EXPECT_EQ(items(), (Items{{ID_MIDI_MAPPER, "&Midi Mapper"}}));
    EXPECT_TRUE(CheckedDevices().empty());
}

// ---- Choosing a device -------------------------------------------------------------------------------

TEST_F(MidiPortTest, ChoosingTheCheckedDeviceDoesNothing)
{
    StartAndForget();
    CommandAndSettle(ID_MIDI_MAPPER);
    EXPECT_TRUE(midi.Calls().empty());
    EXPECT_TRUE(midi.AllMessages().empty());
}

// A server that restarted or a port that went away leaves the device open but reaching no one:
// choosing its checked item then opens it again, and the instrument comes back.
TEST_F(MidiPortTest, ChoosingTheCheckedDeviceReopensItWhenItsConnectionHasGone)
{
    StartAndForget();
    CommandAndSettle(ID_PROGRAM_FIRST + 40);
    const std::uintptr_t mapper = midi.LastHandle();
    midi.Disconnect(mapper);
    midi.ClearLog();

    CommandAndSettle(ID_MIDI_MAPPER);
    const std::uintptr_t again = midi.LastHandle();
    EXPECT_EQ(midi.Calls(), (std::vector<std::string>{CloseCall(mapper), "open -1"}));
    EXPECT_EQ(midi.Messages(again),
              (std::vector<DWORD>{ProgramChangeMessage(0, 40), ProgramChangeMessage(1, 40)}));
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_MIDI_MAPPER}));
    EXPECT_TRUE(KeysHold(Handle(again)));
}

TEST_F(MidiPortTest, ADeviceChangeSilencesClosesOpensMovesTheMarkAndRestoresTheProgram)
{
    StartAndForget();
    CommandAndSettle(ID_PROGRAM_FIRST + 40);
    const std::uintptr_t mapper = midi.LastHandle();
    midi.ClearLog();

    CommandAndSettle(ID_DEVICE_FIRST + 1);
    const std::uintptr_t port = midi.LastHandle();
    ASSERT_NE(port, mapper);
    EXPECT_EQ(midi.Calls(), (std::vector<std::string>{CloseCall(mapper), "open 1"}));
    // The silence went out while the old device was still open.
    EXPECT_EQ(midi.Messages(mapper),
              std::vector<DWORD>(std::begin(kAllNotesOffEverywhere), std::end(kAllNotesOffEverywhere)));
    EXPECT_EQ(midi.RejectedSends(), 0);
    EXPECT_EQ(midi.Messages(port),
              (std::vector<DWORD>{ProgramChangeMessage(0, 40), ProgramChangeMessage(1, 40)}));
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_DEVICE_FIRST + 1}));
    EXPECT_EQ(Panel().m_nDevice, 1);
    EXPECT_TRUE(KeysHold(Handle(port)));
    EXPECT_EQ(midi.OpenCount(), 1u);
}

TEST_F(MidiPortTest, ADeviceChangeWithThePercussionMapSendsNoProgramChange)
{
    StartAndForget();
    CommandAndSettle(ID_PERCUSSION_MAP);
    midi.ClearLog();
    CommandAndSettle(ID_DEVICE_FIRST);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_DEVICE_FIRST}));
}

TEST_F(MidiPortTest, PowerAndCloseSilenceTheDeviceBeforeClosingIt)
{
    for (const bool power : {true, false}) {
        SCOPED_TRACE(power ? "power" : "close request");
        panel.reset();
        StartAndForget();
        const std::uintptr_t port = midi.LastHandle();
        if (power)
            ClickOn(Panel().m_btnPower);
        else
            WindowManager::Instance().CloseRequested(Top());
        ASSERT_TRUE(Panel().HasEnded());
        EXPECT_EQ(midi.Calls(), (std::vector<std::string>{CloseCall(port)}));
        EXPECT_EQ(midi.Messages(port),
                  std::vector<DWORD>(std::begin(kAllNotesOffEverywhere), std::end(kAllNotesOffEverywhere)));
        EXPECT_EQ(midi.RejectedSends(), 0);
        EXPECT_FALSE(midi.IsOpen(port));
    }
}

// ---- Failures ----------------------------------------------------------------------------------------

TEST_F(MidiPortTest, ADeviceThatNeverOpensCostsFourAttemptsFourWaitsAndOneMessageBox)
{
    StartAndForget();
    midi.FailOpens(1);
    const std::uintptr_t mapper = midi.LastHandle();
    const std::uint64_t before = host.Now();
    CommandAndSettle(ID_DEVICE_FIRST + 1);

    std::vector<std::string> expected = {CloseCall(mapper)};
    for (const std::string& call : OpenAttempts(1, 4))
        expected.push_back(call);
    EXPECT_EQ(midi.Calls(), expected);
    EXPECT_EQ(midi.TotalSleep(), 5600u);
    EXPECT_EQ(host.Now() - before, 5600u);

    ASSERT_EQ(host.messageBoxes.size(), 1u);
    const auto& box = host.messageBoxes[0];
    EXPECT_EQ(box.text,
              "Can't open specified MIDI out device, \nplease change to another by 'Play Thru' menu. ");
    EXPECT_EQ(box.caption, "Warring");
    EXPECT_EQ(box.type, MB_OK);
    EXPECT_EQ(box.owner, Top());

    EXPECT_EQ(Panel().m_hMidiOut, nullptr);
    EXPECT_TRUE(KeysHold(nullptr));
    EXPECT_EQ(Panel().m_nDevice, -1);
    EXPECT_EQ(midi.OpenCount(), 0u);

    // Silence until another device opens: nothing reaches any port.
    const std::size_t sent = midi.AllMessages().size();
    Panel().m_keys[30].NoteOn();
    Panel().m_keys[30].NoteOff();
    CommandAndSettle(ID_PROGRAM_FIRST + 5);
    CommandAndSettle(ID_STYLE_FIRST + 2);
    host.Advance(1000);
    EXPECT_EQ(midi.AllMessages().size(), sent);
}

TEST_F(MidiPortTest, AfterAFailedOpenNoItemIsCheckedAndThePreviousOneOpensAgain)
{
    StartAndForget();
    CommandAndSettle(ID_DEVICE_FIRST);
    CommandAndSettle(ID_PROGRAM_FIRST + 9);
    midi.FailOpens(1);
    CommandAndSettle(ID_DEVICE_FIRST + 1);
    EXPECT_TRUE(CheckedDevices().empty());
    EXPECT_EQ(Panel().m_nDevice, 0); // the index stays, though that device is closed now
    EXPECT_EQ(midi.OpenCount(), 0u);
    midi.ClearLog();

    CommandAndSettle(ID_DEVICE_FIRST);
    EXPECT_EQ(midi.Calls(), (std::vector<std::string>{"open 0"})); // nothing open, nothing to close
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_DEVICE_FIRST}));
    EXPECT_EQ(Sent(), (std::vector<DWORD>{ProgramChangeMessage(0, 9), ProgramChangeMessage(1, 9)}));
    EXPECT_TRUE(KeysHold(Handle(midi.LastHandle())));
    EXPECT_EQ(host.messageBoxes.size(), 1u);
}

TEST_F(MidiPortTest, AFailedStartLeavesEveryItemUncheckedAndTheMapperCanBeChosen)
{
    midi.FailOpens(-1, 4);
    Start();
    EXPECT_EQ(host.messageBoxes.size(), 1u);
    EXPECT_TRUE(CheckedDevices().empty());
    EXPECT_EQ(Panel().m_led.WindowText(), "PROGRAM 0:  Acoustic grand piano"); // set-up went on
    EXPECT_TRUE(midi.AllMessages().empty());
    midi.ClearLog();
    CommandAndSettle(ID_MIDI_MAPPER);
    EXPECT_EQ(midi.Calls(), (std::vector<std::string>{"open -1"}));
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_MIDI_MAPPER}));
}

TEST_F(MidiPortTest, AnOpenThatSucceedsOnALaterAttemptWaitsOnlyForTheFailures)
{
    StartAndForget();
    midi.FailOpens(1, 2);
    const std::uintptr_t mapper = midi.LastHandle();
    CommandAndSettle(ID_DEVICE_FIRST + 1);
    std::vector<std::string> expected = {CloseCall(mapper)};
    for (const std::string& call : OpenAttempts(1, 2))
        expected.push_back(call);
    EXPECT_EQ(midi.Calls(), expected);
    EXPECT_EQ(midi.TotalSleep(), 2000u);
    EXPECT_TRUE(host.messageBoxes.empty());
    EXPECT_EQ(CheckedDevices(), (std::vector<UINT>{ID_DEVICE_FIRST + 1}));
}

TEST_F(MidiPortTest, AFailingCloseIsRetriedUpToFourTimesWithoutWaiting)
{
    struct Case {
        int failures;
        int closes;
    };
    for (const Case c : {Case{2, 3}, Case{3, 4}, Case{RecordingMidiSystem::kAlways, 4}}) {
        SCOPED_TRACE(c.failures);
        panel.reset();
        StartAndForget();
        const std::uintptr_t mapper = midi.LastHandle();
        midi.FailCloses(mapper, c.failures);
        CommandAndSettle(ID_DEVICE_FIRST);
        std::vector<std::string> expected(static_cast<size_t>(c.closes), CloseCall(mapper));
        expected.push_back("open 0");
        EXPECT_EQ(midi.Calls(), expected);
        EXPECT_EQ(midi.TotalSleep(), 0u);
        EXPECT_EQ(Panel().m_hMidiOut, Handle(midi.LastHandle()));
        midi.FailCloses(mapper, 0);
    }
}

TEST_F(MidiPortTest, ClosingAtTheEndRetriesOnceAfterHalfASecond)
{
    struct Case {
        int failures;
        std::vector<std::string> (*calls)(std::uintptr_t);
        DWORD slept;
    };
    const Case cases[] = {
        {0, [](std::uintptr_t h) { return std::vector<std::string>{CloseCall(h)}; }, 0},
        {1,
         [](std::uintptr_t h) {
             return std::vector<std::string>{CloseCall(h), "sleep 500", CloseCall(h)};
         },
         500},
        {RecordingMidiSystem::kAlways,
         [](std::uintptr_t h) {
             return std::vector<std::string>{CloseCall(h), "sleep 500", CloseCall(h)};
         },
         500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failures);
        panel.reset();
        StartAndForget();
        const std::uintptr_t port = midi.LastHandle();
        midi.FailCloses(port, c.failures);
        ClickOn(Panel().m_btnPower);
        EXPECT_TRUE(Panel().HasEnded());
        EXPECT_EQ(Panel().ModalResult(), 1);
        EXPECT_EQ(midi.Calls(), c.calls(port));
        EXPECT_EQ(midi.TotalSleep(), c.slept);
        midi.FailCloses(port, 0);
    }
}

} // namespace
