#include "sound/rt_midi_ports.h"

#include "sound/jack_server_watch.h"
#include "tests/sound/jack_server_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

struct NameCase {
    PortApi api;
    const char* listed;
    const char* shown;
};

// clang-format off
const NameCase kNames[] = {
    // api             as RtMidi lists it                                   as the menu shows it
    {PortApi::Alsa, "Midi Through:Midi Through Port-0 14:0",               "Midi Through Port-0"},
    {PortApi::Alsa, "USB Keystation:USB Keystation MIDI 1 20:0",           "USB Keystation MIDI 1"},
    {PortApi::Alsa, "FLUID Synth (1234):Synth input port (1234:0) 128:0",  "FLUID Synth (1234):Synth input"},
    {PortApi::Jack, "midi-monitor:input",                                  "midi-monitor:input"},
    {PortApi::Jack, "a2j:Midi Through [14] (playback): Midi Through Port-0", "a2j:Midi Through [14] (playback"},
};
// clang-format on

std::vector<std::string> ListedNames(RtMidiPorts& ports)
{
    std::vector<std::string> names;
    std::string name;
    for (std::size_t i = 0; i < ports.DeviceCount(); ++i) {
        EXPECT_TRUE(ports.DeviceName(i, name));
        names.push_back(name);
    }
    return names;
}

class JackPorts : public JackServerTest {
protected:
    JackPorts() : JackServerTest("ports-test") {}
};

} // namespace

TEST(RtMidiPortNames, AreShortenedForTheMenu)
{
    for (const NameCase& c : kNames) {
        const std::string shown = RtMidiPorts::MenuName(c.api, c.listed);
        EXPECT_EQ(shown, c.shown);
        EXPECT_LE(shown.size(), 31u);
    }
}

TEST(RtMidiPortNames, OurOwnClientsAreRecognised)
{
    EXPECT_TRUE(RtMidiOutputPort::IsPlayThruPort("Varnek Play Thru:MIDI out"));
    EXPECT_TRUE(RtMidiOutputPort::IsPlayThruPort("Varnek Play Thru-01:MIDI out"));
    EXPECT_FALSE(RtMidiOutputPort::IsPlayThruPort("Varnek:MIDI out"));
    EXPECT_FALSE(RtMidiOutputPort::IsPlayThruPort("midi-monitor:Varnek Play Thru"));
}

// Between two readings of the machine's ports, a port keeps its place, a gone one leaves a gap
// that is filled last and never while its device is open, and one that comes back under its
// name (ALSA gives it a new address) takes its place again.
TEST(PortSlotsTest, PortsKeepTheirPlaceByName)
{
    using Port = PortSlots::Port;
    const auto names = [](const PortSlots& slots) {
        std::vector<std::string> shown;
        for (std::size_t i = 0; i < slots.Count(); ++i)
            shown.push_back(slots.At(i) ? slots.At(i)->name : "-");
        return shown;
    };
    PortSlots slots;
    slots.Update({{PortApi::Alsa, "Synth:in 128:0"}, {PortApi::Jack, "mon:in"}});
    EXPECT_EQ(names(slots), (std::vector<std::string>{"Synth:in 128:0", "mon:in"}));

    slots.Update({{PortApi::Jack, "new:in"}, {PortApi::Jack, "mon:in"}});
    EXPECT_EQ(names(slots), (std::vector<std::string>{"-", "mon:in", "new:in"}));

    slots.Update({{PortApi::Jack, "mon:in"}, {PortApi::Alsa, "Synth:in 129:0"}, {PortApi::Jack, "new:in"}});
    EXPECT_EQ(names(slots), (std::vector<std::string>{"Synth:in 129:0", "mon:in", "new:in"}));

    // The synth goes while its device is open; places never used are filled first, then the
    // places of gone ports, but not the open one's.
    std::vector<Port> others = {{PortApi::Jack, "mon:in"}, {PortApi::Jack, "new:in"}};
    for (int i = 0; i < 5; ++i)
        others.push_back({PortApi::Jack, "q:" + std::to_string(i)});
    slots.Update(others);
    EXPECT_EQ(slots.Count(), PortSlots::kSlots);
    others.erase(others.begin());
    others.push_back({PortApi::Jack, "r:0"});
    others.push_back({PortApi::Jack, "r:1"});
    slots.Update(others, std::bitset<PortSlots::kSlots>().set(0));
    EXPECT_EQ(slots.At(0), nullptr);
    EXPECT_EQ(slots.At(1)->name, "r:0");
    EXPECT_EQ(slots.At(7)->name, "q:4");
}

TEST_F(JackPorts, ListsAtMostEightAndNotOurOwn)
{
    auto own = JackTestClient::Open("Varnek");
    ASSERT_TRUE(own);
    ASSERT_TRUE(own->AddMidiInput("MIDI in"));
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(client->AddMidiInput("in" + std::to_string(i)));

    RtMidiPorts ports({PortApi::Jack},
                      [](PortApi, const std::string& name) { return name == "Varnek:MIDI in"; });
    const auto names = ListedNames(ports);
    ASSERT_EQ(names.size(), RtMidiPorts::kMaxPorts);
    for (const auto& name : names)
        EXPECT_EQ(name.rfind("ports-test:in", 0), 0u) << name;
}

TEST_F(JackPorts, TheListStaysUntilReadAgainAndAnEntryNeverOpensAnotherPort)
{
    ASSERT_TRUE(client->AddMidiInput("first"));
    ASSERT_TRUE(client->AddMidiInput("second"));
    RtMidiPorts ports({PortApi::Jack});
    ASSERT_EQ(ListedNames(ports), (std::vector<std::string>{"ports-test:first", "ports-test:second"}));

    // "second" now stands first in JACK's list, where "first" was.
    ASSERT_TRUE(client->RemovePort("first"));
    ASSERT_TRUE(client->AddMidiInput("third"));
    EXPECT_EQ(ListedNames(ports), (std::vector<std::string>{"ports-test:first", "ports-test:second"}));
    EXPECT_EQ(ports.Open(0), nullptr);
    EXPECT_EQ(client->Ports("^Varnek.*", 0), std::vector<std::string>{});

    auto second = ports.Open(1);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->Send(0x007F3C90));
    EXPECT_EQ(ports.Open(2), nullptr);

    // Read again: "first" leaves a gap, "third" comes after "second", each opens as itself.
    ports.Refresh();
    std::string name;
    EXPECT_FALSE(ports.DeviceName(0, name));
    ASSERT_EQ(ports.DeviceCount(), 3u);
    ASSERT_TRUE(ports.DeviceName(2, name));
    EXPECT_EQ(name, "ports-test:third");
    EXPECT_NE(ports.Open(2), nullptr);
}

// The port list and the synth share one JACK client while its server runs; once the server
// has gone, nothing stale is handed out.
TEST_F(JackPorts, OneWatchServesWhileItsServerRunsAndANewServerGetsItsOwn)
{
    const auto first = JackServerWatch::Connect();
    ASSERT_TRUE(first);
    EXPECT_EQ(JackServerWatch::Connect(), first);

    client.reset();
    server->Stop();
    for (int i = 0; i < 500 && !first->ServerGone(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(first->ServerGone());
    EXPECT_EQ(JackServerWatch::Connect(), nullptr);
    EXPECT_TRUE(first->MidiInputPorts().empty());

    server.reset();
    server = JackDummyServer::Start();
    ASSERT_TRUE(server);
    const auto second = JackServerWatch::Connect();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    EXPECT_FALSE(second->ServerGone());
}
