// The ALSA half on a machine that has it (tools/alsa_vm): the built-in synth on a sound card
// with no sound server, and Play Thru to the sequencer's ports. CTest runs these there only.

#include "sound/desktop_midi_system.h"
#include "sound/fluid_synth_output.h"
#include "sound/rt_midi_ports.h"
#include "tests/sound/alsa_machine.h"
#include "tests/sound/wait_until.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace alsa_machine;
using namespace std::chrono_literals;

namespace {

class OnAlsaMachine : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(IsHere()) << "no ALSA sequencer, virtual MIDI ports and loopback card here: run these "
                                 "tests through tools/alsa_vm (ctest -L alsa)";
    }
};

std::vector<std::string> MenuNames(RtMidiPorts& ports)
{
    std::vector<std::string> names;
    std::string name;
    for (std::size_t device = 0; device < ports.DeviceCount(); ++device)
        names.push_back(ports.DeviceName(device, name) ? name : "-");
    return names;
}

using AlsaSynth = OnAlsaMachine;
using AlsaPlayThru = OnAlsaMachine;
using AlsaOwnPorts = OnAlsaMachine;

} // namespace

// Card 0 is MIDI only, as a USB keyboard's is: the synth plays on card 1, in periods of 128
// frames; when the card goes it counts as cut off, and once the card is back it plays there
// again by itself.
TEST_F(AlsaSynth, PlaysOnTheFirstCardThatCanAndComesBackWithIt)
{
    FluidSynthOutput synth;
    synth.SetAudioDrivers({"alsa"});
    ASSERT_TRUE(synth.Open()) << synth.WhyItDidNotOpen();
    EXPECT_EQ(synth.AudioDriver(), "alsa");
    const FluidSynthOutput::AudioBuffer granted = synth.GrantedBuffer();
    EXPECT_EQ(granted.periodSize, FluidSynthOutput::kPeriodSize);
    EXPECT_EQ(granted.periods, FluidSynthOutput::kPeriods);
    EXPECT_EQ(granted.sampleRate, FluidSynthOutput::kPreferredSampleRate);
    {
        LoopbackRecording recording;
        ASSERT_TRUE(synth.Send(0x7F4590));
        EXPECT_TRUE(recording.HearsSound(2s));
    }

    Plug(Card::Loopback, false);
    EXPECT_TRUE(WaitUntil([&] { return !synth.IsConnected(); }, 5s));
    Plug(Card::Loopback, true);
    EXPECT_TRUE(WaitUntil([&] { return synth.IsConnected(); }, 5s));
    LoopbackRecording recording;
    ASSERT_TRUE(synth.Send(0x004590));
    ASSERT_TRUE(synth.Send(0x7F4890));
    EXPECT_TRUE(recording.HearsSound(2s));
}

// The list shows the sequencer's ports in its own order, under the names its clients give them;
// a port plays with exactly the bytes sent; when its card goes, the open port is cut off and
// takes sends harmlessly, and when the card comes back each port takes its place again.
TEST_F(AlsaPlayThru, ListsTheSequencersPortsAndPlaysExactlyTheBytes)
{
    RtMidiPorts ports({PortApi::Alsa});
    const std::vector<std::string> listed = {
        "Midi Through Port-0", "Virtual Raw MIDI 0-0:VirMIDI 0-", "Virtual Raw MIDI 0-1:VirMIDI 0-",
        "Virtual Raw MIDI 0-2:VirMIDI 0-", "Virtual Raw MIDI 0-3:VirMIDI 0-"};
    EXPECT_EQ(MenuNames(ports), listed);

    auto port = ports.Open(3);
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->IsConnected());
    {
        RawMidi heard(2);
        ASSERT_TRUE(heard.IsOpen());
        for (const std::uint32_t message : {0x7F3C90u, 0x2807C0u, 0x0040B1u, 0x001C9Au, 0x004000E0u})
            EXPECT_TRUE(port->Send(message));
        EXPECT_EQ(heard.Read(14), (std::vector<std::uint8_t>{0x90, 0x3C, 0x7F, 0xC0, 0x07, 0xB1, 0x40, 0x00,
                                                             0x9A, 0x1C, 0x00, 0xE0, 0x00, 0x40}));
    } // a card goes only once its devices are closed

    Plug(Card::VirtualMidi, false);
    EXPECT_TRUE(WaitUntil([&] { return !port->IsConnected(); }, 5s));
    port->Send(0x003C90);
    ports.Refresh(std::bitset<RtMidiPorts::kMaxPorts>().set(3));
    EXPECT_EQ(MenuNames(ports), (std::vector<std::string>{"Midi Through Port-0"}));
    Plug(Card::VirtualMidi, true);
    EXPECT_TRUE(WaitUntil(
        [&] {
            ports.Refresh();
            return MenuNames(ports) == listed;
        },
        5s));
}

// A controller whose card goes (a USB keyboard unplugged) ends the notes it holds and releases
// its sustain, on the route its notes went to; Varnek's own ports are never offered in Play Thru.
TEST_F(AlsaOwnPorts, AControllerWhoseCardGoesEndsItsNotes)
{
    const auto system = MakeDesktopMidiSystem(DefaultRoute::OpenWhenAsked, OwnPorts::Open);
    SequencerListener patchbay;
    int varnek = -1;
    ASSERT_TRUE(WaitUntil([&] { return (varnek = patchbay.ClientNamed("Varnek")) >= 0; }, 5s));
    system->RefreshDevices();
    int midiThrough = -1;
    std::string name;
    for (unsigned device = 0; device < system->DeviceCount(); ++device) {
        ASSERT_TRUE(system->DeviceName(device, name));
        EXPECT_EQ(name.find("Varnek"), std::string::npos) << name;
        if (name == "Midi Through Port-0")
            midiThrough = int(device);
    }
    std::uintptr_t route = 0;
    ASSERT_TRUE(system->Open(midiThrough, route));
    ASSERT_TRUE(patchbay.ListenTo(patchbay.ClientNamed("Midi Through"), 0));
    constexpr int kControllerClient = 16;
    ASSERT_TRUE(patchbay.Connect(kControllerClient, 0, varnek, 0));
    {
        RawMidi controller(0);
        controller.Write({0x92, 60, 100});
        controller.Write({0xB2, 64, 127});
        EXPECT_EQ(patchbay.Read(6), (std::vector<std::uint8_t>{0x90, 60, 100, 0xB0, 64, 127}));
    }
    Plug(Card::VirtualMidi, false);
    EXPECT_EQ(patchbay.Read(6), (std::vector<std::uint8_t>{0x90, 60, 0, 0xB0, 64, 0}));
    Plug(Card::VirtualMidi, true);
    system->Close(route);
}
