#include "platform/midi_out.h"

#include "tests/recording_midi_system.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

namespace {

class MidiOutCalls : public testing::Test {
protected:
    void SetUp() override { m_previous = SetMidiSystem(&system); }
    void TearDown() override { SetMidiSystem(m_previous); }

    HMIDIOUT OpenOrFail(UINT device)
    {
        HMIDIOUT handle = nullptr;
        EXPECT_EQ(midiOutOpen(&handle, device, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return handle;
    }

    RecordingMidiSystem system{{"Synth A", "Synth B"}};

private:
    MidiSystem* m_previous = nullptr;
};

} // namespace

TEST_F(MidiOutCalls, MapperOpensTheDefaultRouteAndHandlesAreDistinct)
{
    const HMIDIOUT first = OpenOrFail(MIDI_MAPPER);
    const HMIDIOUT second = OpenOrFail(1);
    EXPECT_NE(first, nullptr);
    EXPECT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(system.DeviceOf(RecordingMidiSystem::Number(first)), -1);
    EXPECT_EQ(system.DeviceOf(RecordingMidiSystem::Number(second)), 1);
}

TEST_F(MidiOutCalls, MessagesReachTheirOwnHandleInOrder)
{
    const HMIDIOUT a = OpenOrFail(0);
    const HMIDIOUT b = OpenOrFail(1);
    EXPECT_EQ(midiOutShortMsg(a, 0x007F3C90), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(b, 0x00000FC0), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(a, 0x00003C90), MMSYSERR_NOERROR);
    EXPECT_EQ(system.Messages(a), (std::vector<DWORD>{0x007F3C90, 0x00003C90}));
    EXPECT_EQ(system.Messages(b), (std::vector<DWORD>{0x00000FC0}));
}

TEST_F(MidiOutCalls, ClosedNullAndForeignHandlesAreRefusedWithoutHarm)
{
    const HMIDIOUT handle = OpenOrFail(0);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutShortMsg(handle, 0x007F3C90), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutClose(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutShortMsg(nullptr, 0x007F3C90), MMSYSERR_INVALHANDLE);
    const auto foreign = reinterpret_cast<HMIDIOUT>(std::uintptr_t(0xDEAD));
    EXPECT_EQ(midiOutClose(foreign), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutShortMsg(foreign, 0x007F3C90), MMSYSERR_INVALHANDLE);
    EXPECT_TRUE(system.Messages(handle).empty());
}

TEST_F(MidiOutCalls, FailedOpenGivesAnErrorAndNoHandle)
{
    system.FailOpens(0, 1);
    HMIDIOUT handle = reinterpret_cast<HMIDIOUT>(std::uintptr_t(7));
    EXPECT_NE(midiOutOpen(&handle, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(midiOutOpen(&handle, 2, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutOpen(nullptr, 0, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutOpen(&handle, 0, 0x1234, 0, 0x30000), MMSYSERR_INVALFLAG);
    EXPECT_EQ(system.Calls(), (std::vector<std::string>{"open 0"}));
    EXPECT_NE(OpenOrFail(0), nullptr);
}

TEST_F(MidiOutCalls, FailedCloseIsReportedAndKeepsTheHandleOpen)
{
    const HMIDIOUT handle = OpenOrFail(MIDI_MAPPER);
    system.FailCloses(handle, 1);
    EXPECT_NE(midiOutClose(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(handle, 0x00000FC0), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
}

TEST_F(MidiOutCalls, CapabilitiesCarryTheNameCutTo31Characters)
{
    system.SetDevices({"Short", std::string(40, 'x'), "Unreadable"});
    system.FailDeviceName(2);
    EXPECT_EQ(midiOutGetNumDevs(), 3u);

    MIDIOUTCAPSA caps;
    std::memset(&caps, 0x55, sizeof caps);
    ASSERT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Short");
    ASSERT_EQ(midiOutGetDevCapsA(1, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname), std::string(31, 'x'));

    EXPECT_NE(midiOutGetDevCapsA(2, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutGetDevCapsA(3, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(midiOutGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
    EXPECT_EQ(midiOutGetDevCapsA(0, &caps, sizeof caps - 1), MMSYSERR_INVALPARAM);
}

TEST_F(MidiOutCalls, SleepGoesToTheSystem)
{
    DWORD virtualClock = 0;
    system.OnSleep([&](DWORD ms) { virtualClock += ms; });
    const auto start = std::chrono::steady_clock::now();
    Sleep(800);
    Sleep(1200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(virtualClock, 2000u);
    EXPECT_EQ(system.TotalSleep(), 2000u);
    EXPECT_EQ(system.Calls(), (std::vector<std::string>{"sleep 800", "sleep 1200"}));
}

TEST(MidiOutWithoutSystem, NoDevicesNothingOpensAndSleepStillSleeps)
{
    MidiSystem* previous = SetMidiSystem(nullptr);
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
    MIDIOUTCAPSA caps;
    EXPECT_NE(midiOutGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    HMIDIOUT handle = nullptr;
    EXPECT_NE(midiOutOpen(&handle, MIDI_MAPPER, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(handle, nullptr);
    const auto stale = reinterpret_cast<HMIDIOUT>(std::uintptr_t(1));
    EXPECT_EQ(midiOutShortMsg(stale, 0x007F3C90), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(midiOutClose(stale), MMSYSERR_INVALHANDLE);

    const auto start = std::chrono::steady_clock::now();
    Sleep(30);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    SetMidiSystem(previous);
}

TEST(MidiOutWithoutSystem, SetMidiSystemHandsBackThePreviousOne)
{
    RecordingMidiSystem first;
    RecordingMidiSystem second;
    MidiSystem* original = SetMidiSystem(&first);
    EXPECT_EQ(SetMidiSystem(&second), &first);
    EXPECT_EQ(CurrentMidiSystem(), &second);
    SetMidiSystem(original);
}
