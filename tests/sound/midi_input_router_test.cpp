#include "sound/midi_input_router.h"

#include "sound/loop_watch.h"
#include "sound/midi_short_message.h"
#include "sound/own_alsa_ports.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Routes that record what went where; the route open now can be switched. Inputs send from
// threads of their own.
struct Routes : MidiInputRouter::Route {
    std::uintptr_t open = 1;
    std::vector<std::pair<std::uintptr_t, std::uint32_t>> sent;
    std::mutex mutex;
    MidiInputRouter* router = nullptr; // told of everything sent, as the system tells it

    std::uintptr_t SendOnRoute(std::uint32_t message) override
    {
        SendTo(open, message);
        return open;
    }
    void SendTo(std::uintptr_t route, std::uint32_t message) override
    {
        std::lock_guard lock(mutex);
        sent.emplace_back(route, message);
        if (router)
            router->Sent(message);
    }
    // Waits up to two seconds for `message` to have gone to `route`.
    bool Saw(std::pair<std::uintptr_t, std::uint32_t> wanted)
    {
        for (int wait = 0; wait < 200; ++wait) {
            {
                std::lock_guard lock(mutex);
                if (std::find(sent.begin(), sent.end(), wanted) != sent.end())
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

struct Heard : MidiInputListener {
    std::vector<std::string> told;
    void KeysChanged() override
    {
        if (told.empty() || told.back() != "keys")
            told.push_back("keys");
    }
    void ProgramChosen(int program) override { told.push_back("program " + std::to_string(program)); }
    void ChordKeyChosen(int note) override { told.push_back("chord " + std::to_string(note)); }
};

std::pair<std::uintptr_t, std::uint32_t> At(std::uintptr_t route, std::uint32_t message)
{
    return {route, message};
}
using Sent = std::vector<std::pair<std::uintptr_t, std::uint32_t>>;

class MidiInputRouterTest : public testing::Test {
protected:
    MidiInputRouterTest()
    {
        router.SetListener(&heard);
        routes.router = &router;
    }

    void Receive(std::vector<std::uint8_t> bytes)
    {
        router.Receive(MidiInputRouter::kJackInput, bytes.data(), bytes.size());
    }
    // The panel's mouse takes a key, its note-on sent on `route`.
    void MouseHolds(int note, std::uintptr_t route)
    {
        ASSERT_TRUE(keys.Press(note, HeldKeys::Source::Mouse()));
        keys.Sounded(note, {0, std::uint8_t(note), route, true});
    }

    Routes routes;
    Heard heard;
    HeldKeys keys;
    MidiInputRouter router{routes, keys};
};

} // namespace

// A note ends where it began, on the channel, note and route its note-on used, whatever the
// percussion map or the route did meanwhile; ending the input ends its notes and its sustain.
TEST_F(MidiInputRouterTest, EveryNoteEndsWhereItBegan)
{
    router.SetRule({InputRule::kPercussionMap, false});
    Receive({0x95, 30, 99});  // percussion: note 30 plays 78 on channel 10
    Receive({0xB3, 64, 127}); // sustain, on the drum channel
    router.SetRule({0, false});
    routes.open = 2;
    Receive({0x90, 30, 0});  // not the note-on's channel: nothing held there
    Receive({0x85, 30, 64}); // its note-off goes where it began
    Receive({0x91, 60, 1});
    Receive({0x91, 60, 2}); // again without a note-off: it sounds already
    Receive({0xB0, 74, 5}); // not a controller a player uses
    Receive({0xF8});        // clock
    router.EndNotes(MidiInputRouter::kJackInput);
    EXPECT_EQ(routes.sent, (Sent{At(1, 0x634E99), At(1, 0x7F40B9), At(1, 0x004E99), At(2, 0x013C90),
                                 At(2, 0x003C90), At(1, 0x0040B9)}));
    EXPECT_EQ(heard.told, std::vector<std::string>{"keys"});
    EXPECT_FALSE(keys.IsDown(30));
    EXPECT_FALSE(keys.IsDown(60));
}

TEST_F(MidiInputRouterTest, WhileABackingPlaysTheLeftHandNamesTheChord)
{
    router.SetRule({0, true});
    Receive({0x90, 40, 90}); // E2: names E, sounds nothing, and is drawn down
    EXPECT_TRUE(keys.IsDown(40));
    Receive({0x80, 40, 0});
    Receive({0x90, 41, 90}); // F2 sounds
    EXPECT_EQ(routes.sent, (Sent{At(1, 0x5A2990)}));
    EXPECT_EQ(heard.told, (std::vector<std::string>{"chord 40", "keys"}));
}

// A key held by the mouse and a controller at once sounds once; whichever lets go first ends
// nothing, and the last ends the note where its note-on went. All Notes Off from the controller
// lets go of its keys.
TEST_F(MidiInputRouterTest, AKeyEndsWhenItsLastHolderLetsGo)
{
    MouseHolds(60, 5);
    Receive({0x90, 60, 90});
    Receive({0x80, 60, 0});
    EXPECT_TRUE(keys.IsDown(60)) << "the mouse still holds it";
    Receive({0x90, 60, 90});
    EXPECT_EQ(keys.LetGo(60, HeldKeys::Source::Mouse()), std::nullopt);
    Receive({0x80, 60, 0});
    EXPECT_EQ(routes.sent, (Sent{At(5, 0x003C90)}));

    Receive({0x90, 62, 90});
    MouseHolds(64, 5);
    Receive({0x92, 64, 90});
    Receive({0xB4, 123, 0});
    EXPECT_FALSE(keys.IsDown(62));
    EXPECT_TRUE(keys.IsDown(64));
    EXPECT_FALSE(keys.IsHeldByInput(64, MidiInputRouter::kJackInput));
    Receive({0x82, 62, 0}); // already let go
    EXPECT_EQ(routes.sent, (Sent{At(5, 0x003C90), At(1, 0x5A3E90), At(1, 0x007BB0)}));
}

// Nothing that repeats what the output has already goes out again: the instrument chosen, a
// controller's value, a key held, a command with nothing between (on other channels than the
// output's, so that none of it is taken for an echo). Malformed messages are dropped, not
// filled in.
TEST_F(MidiInputRouterTest, RepeatsAddNothingAndMalformedMessagesAreDropped)
{
    router.SetRule({5, false});
    Receive({0xC0, 5});
    for (int round = 0; round < 3; ++round) {
        Receive({0xC3, 7});
        Receive({0xB2, 1, 64});
        Receive({0xE4, 0, 80});
        Receive({0xD1, 33});
        Receive({0x95, 60, 100});
    }
    for (int round = 0; round < 3; ++round)
        Receive({0xB6, 123, 0});
    Receive({0xB0, 7});
    Receive({0xE0});
    Receive({0x90, 0xF8, 60});
    Receive({0xB0, 7, 0x90});
    Receive({0xC0, 1, 2});
    EXPECT_EQ(routes.sent, (Sent{At(1, 0x07C0), At(1, 0x07C1), At(1, 0x4001B0), At(1, 0x5000E0),
                                 At(1, 0x21D0), At(1, 0x643C90), At(1, 0x7BB0)}));
    EXPECT_EQ(heard.told, (std::vector<std::string>{"program 7", "keys"}));
}

// What comes back through a loop went out a moment ago: it is not played again, however often
// the loop brings it back, not even a note and its end in one cycle, so the loop is never fed;
// it is noticed once. The controller plays on meanwhile.
TEST_F(MidiInputRouterTest, WhatComesBackThroughALoopIsNotPlayedAgain)
{
    Receive({0x90, 60, 100});
    Receive({0x80, 60, 0});
    Receive({0xB0, 123, 0});
    Receive({0xC0, 9});
    const Sent played = routes.sent;
    ASSERT_EQ(played.size(), 5u);
    for (int round = 0; round < 5; ++round) {
        for (const auto& [route, message] : played) {
            const MidiShortMessage back = MidiShortMessage::Unpack(message);
            router.Receive(MidiInputRouter::kJackInput, back.bytes.data(), back.length);
        }
    }
    EXPECT_EQ(routes.sent, played);
    EXPECT_TRUE(router.TakeNoticedLoop(MidiInputRouter::kJackInput));
    EXPECT_FALSE(router.TakeNoticedLoop(MidiInputRouter::kJackInput)) << "told once";
    Receive({0x90, 62, 100});
    EXPECT_EQ(routes.sent.back(), At(1, 0x643E90));
}

// An echo later than the window is taken for one only once a loop is known, and then once for
// each time the message went out; a note-off in either form is the same note-off.
TEST(LoopWatch, ALateEchoIsKnownOnlyOnceALoopIs)
{
    using namespace std::chrono_literals;
    LoopWatch watch;
    watch.Sent(0x643C90);
    watch.Sent(0x003C90);
    EXPECT_TRUE(watch.CameBack(0x403C80, 50ms, false));
    EXPECT_FALSE(watch.CameBack(0x643C90, 0us, false));
    EXPECT_TRUE(watch.CameBack(0x643C90, 0us, true));
    EXPECT_FALSE(watch.CameBack(0x643C90, 0us, true)) << "awaited back once";
    EXPECT_FALSE(watch.CameBack(0x653C90, 50ms, true)) << "never sent";
}

// Another thread's request to end the notes is served on the input's own thread, which alone
// touches what the input holds, and the request waits for it.
TEST_F(MidiInputRouterTest, EndingAllNotesWaitsForTheInputsOwnThread)
{
    std::atomic<bool> rung{false};
    std::atomic<bool> stop{false};
    router.Attend(MidiInputRouter::kJackInput, [&] { rung.store(true); });
    Receive({0x90, 60, 100});
    Receive({0xB0, 64, 127});
    std::thread input([&] {
        while (!stop.load()) {
            if (rung.exchange(false))
                router.Serve(MidiInputRouter::kJackInput);
            std::this_thread::yield();
        }
    });
    router.EndAllNotes();
    EXPECT_FALSE(keys.IsDown(60));
    EXPECT_EQ(routes.sent, (Sent{At(1, 0x643C90), At(1, 0x7F40B0), At(1, 0x003C90), At(1, 0x0040B0)}));
    stop.store(true);
    input.join();
    router.Leave(MidiInputRouter::kJackInput);
}

// The ALSA half of Varnek's own ports, through the same router as JACK's: one client with both
// ports; a note played into the input plays through the route, what is sent reaches the
// output's subscribers, and the input's unsubscription ends what it held.
TEST_F(MidiInputRouterTest, OwnAlsaPortsPlayWhatComesInAndCarryWhatIsSent)
{
    if (access("/dev/snd/seq", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no ALSA sequencer here (/dev/snd/seq is missing, the kernel has no ALSA): "
                        "the own ALSA ports are tested on a machine that has one";
    const auto own = OwnAlsaPorts::Open(router);
    ASSERT_TRUE(own);
    snd_seq_t* seq = nullptr;
    ASSERT_GE(snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    const int probe = snd_seq_create_simple_port(
        seq, "probe", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    ASSERT_GE(snd_seq_connect_to(seq, probe, own->Client(), own->InputPort()), 0);
    ASSERT_GE(snd_seq_connect_from(seq, probe, own->Client(), own->OutputPort()), 0);

    snd_seq_event_t note;
    snd_seq_ev_clear(&note);
    snd_seq_ev_set_source(&note, probe);
    snd_seq_ev_set_subs(&note);
    snd_seq_ev_set_direct(&note);
    snd_seq_ev_set_noteon(&note, 3, 60, 100);
    ASSERT_GE(snd_seq_event_output_direct(seq, &note), 0);
    EXPECT_TRUE(routes.Saw(At(1, 0x643C90)));

    ASSERT_TRUE(own->Send(0x7F4590));
    pollfd fd{};
    snd_seq_poll_descriptors(seq, &fd, 1, POLLIN);
    ASSERT_GT(poll(&fd, 1, 2000), 0);
    snd_seq_event_t* heardOut = nullptr;
    ASSERT_GE(snd_seq_event_input(seq, &heardOut), 0);
    EXPECT_EQ(heardOut->type, SND_SEQ_EVENT_NOTEON);
    EXPECT_EQ(heardOut->data.note.note, 69);

    snd_seq_disconnect_to(seq, probe, own->Client(), own->InputPort());
    EXPECT_TRUE(routes.Saw(At(1, 0x003C90)));
    snd_seq_close(seq);
}
