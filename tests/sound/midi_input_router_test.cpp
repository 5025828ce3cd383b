#include "sound/midi_input_router.h"

#include "sound/own_alsa_ports.h"

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

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

    std::uintptr_t SendOnRoute(std::uint32_t message) override
    {
        SendTo(open, message);
        return open;
    }
    void SendTo(std::uintptr_t route, std::uint32_t message) override
    {
        std::lock_guard lock(mutex);
        sent.emplace_back(route, message);
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
    void NoteHeld(int note, bool down) override
    {
        told.push_back((down ? "down " : "up ") + std::to_string(note));
    }
    void ProgramChosen(int program) override { told.push_back("program " + std::to_string(program)); }
    void ChordKeyChosen(int note) override { told.push_back("chord " + std::to_string(note)); }
};

std::pair<std::uintptr_t, std::uint32_t> At(std::uintptr_t route, std::uint32_t message)
{
    return {route, message};
}

class MidiInputRouterTest : public testing::Test {
protected:
    MidiInputRouterTest() { router.SetListener(&heard); }

    void Receive(std::vector<std::uint8_t> bytes)
    {
        router.Receive(MidiInputRouter::kJackInput, bytes.data(), bytes.size());
    }

    Routes routes;
    Heard heard;
    MidiInputRouter router{routes};
};

} // namespace

// A note ends where it began, on the channel, note and route its note-on used, whatever the
// percussion map or the route did meanwhile; ending the input ends its notes and its sustain.
TEST_F(MidiInputRouterTest, EveryNoteEndsWhereItBegan)
{
    router.SetRule({true, false});
    Receive({0x95, 30, 99});  // percussion: note 30 plays 78 on channel 10
    Receive({0xB3, 64, 127}); // sustain, on the drum channel
    router.SetRule({false, false});
    routes.open = 2;
    Receive({0x90, 30, 0});  // not the note-on's channel: nothing held there
    Receive({0x85, 30, 64}); // its note-off goes where it began
    Receive({0x91, 60, 1});
    Receive({0x91, 60, 2}); // again without a note-off: the first one ends
    Receive({0xB0, 74, 5}); // not a controller a player uses
    Receive({0xF8});        // clock
    router.EndNotes(MidiInputRouter::kJackInput);
    EXPECT_EQ(routes.sent, (std::vector<std::pair<std::uintptr_t, std::uint32_t>>{
                               At(1, 0x634E99), At(1, 0x7F40B9), At(1, 0x004E99), At(2, 0x013C90),
                               At(2, 0x003C90), At(2, 0x023C90), At(2, 0x003C90), At(1, 0x0040B9)}));
    EXPECT_EQ(heard.told,
              (std::vector<std::string>{"down 30", "up 30", "down 60", "up 60", "down 60", "up 60"}));
}

TEST_F(MidiInputRouterTest, WhileABackingPlaysTheLeftHandNamesTheChord)
{
    router.SetRule({false, true});
    Receive({0x90, 40, 90}); // E2: names E, sounds nothing
    Receive({0x80, 40, 0});
    Receive({0x90, 41, 90}); // F2 sounds
    Receive({0xC2, 12});
    EXPECT_EQ(routes.sent, (std::vector<std::pair<std::uintptr_t, std::uint32_t>>{At(1, 0x5A2990)}));
    EXPECT_EQ(heard.told,
              (std::vector<std::string>{"chord 40", "down 40", "up 40", "down 41", "program 12"}));
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
