// The audio threads' promise: rendering allocates nothing, whatever is played, on the thread
// that renders for PipeWire and PulseAudio as on FluidSynth's own JACK driver, and neither does
// the JACK cycle of Varnek's own MIDI ports. An allocation there can wait on the allocator's lock
// for as long as another thread holds it.

#include "bench/allocation_counter.h"
#include "sound/desktop_midi_system.h"
#include "sound/fluid_synth_output.h"
#include "tests/sound/jack_server_test.h"
#include "tests/sound/wait_until.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = FluidSynthOutput::kPeriodSize;

// What a player does in a few seconds: notes and chords on three channels, their ends, a
// program change on the way and the drums.
const std::uint32_t kPlaying[] = {
    0x007F4590, 0x003F3091, 0x003F3491, 0x005F2499, 0x00004590, 0x000013C0, 0x007F4890,
    0x000040B0, 0x007F4B90, 0x00004890, 0x00004B90, 0x00003091, 0x00003491, 0x00007BB0,
};

// The kernel id of the thread of this process with this name, once there is one.
std::optional<pid_t> ThreadNamed(const std::string& name)
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm == name)
            return pid_t(std::stoi(task.path().filename()));
    }
    return std::nullopt;
}

} // namespace

// Each message is sent, its programs' samples read, on this thread; then only the blocks that
// play it are counted.
TEST(AudioThread, RenderingForPipeWireAndPulseAudioAllocatesNothing)
{
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    if (!synth.Open())
        GTEST_SKIP() << "no GM soundfont installed";
    std::array<float, 2 * kBlock> block{};
    const auto render = [&](double seconds) {
        for (int done = 0; done < seconds * kRate; done += kBlock)
            synth.Render(block.data(), kBlock);
    };
    for (std::uint32_t message : kPlaying) // every program and its samples loaded once
        synth.Send(message);
    render(0.5);

    const pid_t self = gettid();
    std::uint64_t allocations = 0;
    for (std::uint32_t message : kPlaying) {
        ASSERT_TRUE(synth.Send(message));
        const std::uint64_t before = AllocationCounter::CountOnThread(self);
        render(0.2);
        allocations += AllocationCounter::CountOnThread(self) - before;
    }
    EXPECT_EQ(allocations, 0u);
}

namespace {

class AudioThreadOnJack : public JackServerTest {
protected:
    AudioThreadOnJack() : JackServerTest("test-client") {}
};

} // namespace

TEST_F(AudioThreadOnJack, FluidSynthsJackDriverAllocatesNothing)
{
    JackTestClient* listener = client.get();
    FluidSynthOutput synth;
    synth.SetAudioDrivers({"jack"});
    if (!synth.Open())
        GTEST_SKIP() << "no GM soundfont installed";
    for (const auto& port : listener->Ports("^Varnek Synth:", JackPortIsOutput))
        ASSERT_TRUE(listener->ListenTo(port));
    const auto sounds = [&] {
        listener->ResetPeak();
        return WaitUntil([&] { return listener->Peak() > 0.02f; });
    };
    for (std::uint32_t message : kPlaying)
        synth.Send(message);
    ASSERT_TRUE(synth.Send(0x007F4590));
    ASSERT_TRUE(sounds());
    const std::optional<pid_t> audioThread = ThreadNamed("varnek-synth-rt");
    ASSERT_TRUE(audioThread) << "the driver's thread has no name of its own";

    const std::uint64_t before = AllocationCounter::CountOnThread(*audioThread);
    for (std::uint32_t message : kPlaying)
        ASSERT_TRUE(synth.Send(message));
    ASSERT_TRUE(synth.Send(0x007F4590));
    ASSERT_TRUE(sounds());
    EXPECT_EQ(AllocationCounter::CountOnThread(*audioThread), before);
}

namespace {

// Counts the notes Varnek's own input takes and lets go of.
struct NotesHeard : MidiInputListener {
    std::atomic<int> count{0};
    void KeysChanged() override { ++count; }
    void ProgramChosen(int) override {}
    void ChordKeyChosen(int) override {}
};

} // namespace

// A controller's notes come in and everything played goes out, through the JACK cycle.
TEST_F(AudioThreadOnJack, TheOwnPortsJackCycleAllocatesNothing)
{
    JackTestClient* controller = client.get();
    NotesHeard heard;
    DesktopMidiSystem system;
    system.ListenToInput(&heard);
    system.OpenOwnPorts();
    const auto playBoth = [&](int notes) {
        const int before = heard.count.load();
        for (int note = 0; note < notes; ++note) {
            system.Send(0, 0x007F3C90 ^ std::uint32_t(note & 1) << 22);
            const std::uint8_t velocity = note & 1 ? 0x00 : 0x7F; // a key pressed and let go
            if (!WaitUntil([&] { return controller->SendMidi("Varnek:MIDI in", {0x90, 0x45, velocity}); }))
                return false;
        }
        return WaitUntil([&] { return heard.count.load() >= before + notes; });
    };
    ASSERT_TRUE(playBoth(2));
    const std::optional<pid_t> cycleThread = ThreadNamed("varnek-midi-rt");
    ASSERT_TRUE(cycleThread) << "the JACK cycle's thread has no name of its own";

    const std::uint64_t before = AllocationCounter::CountOnThread(*cycleThread);
    ASSERT_TRUE(playBoth(50));
    EXPECT_EQ(AllocationCounter::CountOnThread(*cycleThread), before);
}
