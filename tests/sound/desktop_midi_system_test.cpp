#include "sound/desktop_midi_system.h"

#include "sound/fluid_synth_output.h"
#include "tests/sound/child_process.h"
#include "tests/sound/jack_dummy_server.h"
#include "tests/sound/jack_test_client.h"
#include "tests/sound/wait_until.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr const char* kDumpClient = "varnek-dump";
// What the test's own client sends jack_midi_dump until it shows that it reads its port: a
// message no test sends (All Notes Off on channel 16).
const std::vector<int> kProbe = {0xBF, 0x7B, 0x00};

// The bytes of one line of jack_midi_dump's output, "   0: 90 45 7f note on ...".
std::vector<int> BytesOfDumpLine(const std::string& line)
{
    std::vector<int> bytes;
    const auto colon = line.find(':');
    if (colon == std::string::npos)
        return bytes;
    std::istringstream words(line.substr(colon + 1));
    std::string word;
    while (words >> word && word.size() == 2 && std::isxdigit(word[0]) && std::isxdigit(word[1]))
        bytes.push_back(std::stoi(word, nullptr, 16));
    return bytes;
}

class DesktopMidiOnJack : public testing::Test {
protected:
    void SetUp() override
    {
        if (!JackDummyServer::Available() || !ChildProcess::OnPath("jack_midi_dump"))
            GTEST_SKIP() << "jackd or jack_midi_dump is not installed";
        server = JackDummyServer::Start();
        ASSERT_TRUE(server);
        observer = JackTestClient::Open("observer");
        ASSERT_TRUE(observer);
        ASSERT_TRUE(StartDump()) << "jack_midi_dump " << (dump && dump->HasEnded() ? "ended" : "runs")
                                 << " but never showed the probe";
        system = std::make_unique<DesktopMidiSystem>();
    }
    void TearDown() override
    {
        system.reset();
        dump.reset();
        observer.reset();
        server.reset();
    }

    // jack_midi_dump lists its port before it reads it: it is ready once a probe sent to the
    // port comes out of it. Probes sent before that are lost; one is sent every 100 ms.
    bool StartDump()
    {
        // Line-buffered, or the dump would reach us only when it ends.
        dump = ChildProcess::Start({"stdbuf", "-oL", "jack_midi_dump", kDumpClient});
        if (!dump)
            return false;
        const std::string input = std::string(kDumpClient) + ":input";
        const std::vector<std::uint8_t> probe(kProbe.begin(), kProbe.end());
        return WaitUntil(
            [&] { return !dump->HasEnded() && observer->SendMidi(input, probe) && ProbeCameOut(); });
    }

    // Whether a probe has come out of jack_midi_dump within 100 ms.
    bool ProbeCameOut()
    {
        for (auto line = dump->ReadLine(100ms); line; line = dump->ReadLine(0ms)) {
            if (BytesOfDumpLine(*line) == kProbe)
                return true;
        }
        return false;
    }

    // Opens the device that jack_midi_dump offers on `on`, found by its menu name; 0 when
    // there is none.
    std::uintptr_t OpenDump() { return OpenDump(*system); }
    static std::uintptr_t OpenDump(MidiSystem& on)
    {
        std::uintptr_t handle = 0;
        if (const auto device = DumpDevice(on))
            EXPECT_TRUE(on.Open(int(*device), handle));
        else
            ADD_FAILURE() << "jack_midi_dump's port is not in the device list";
        return handle;
    }

    static std::optional<unsigned> DumpDevice(MidiSystem& on)
    {
        on.RefreshDevices();
        std::string name;
        for (unsigned device = 0; device < on.DeviceCount(); ++device) {
            if (on.DeviceName(device, name) && name == std::string(kDumpClient) + ":input")
                return device;
        }
        return std::nullopt;
    }

    std::vector<std::vector<int>> ReadDumped(std::size_t count)
    {
        std::vector<std::vector<int>> messages;
        while (messages.size() < count) {
            const auto line = dump->ReadLine(10s);
            if (!line)
                break;
            const auto bytes = BytesOfDumpLine(*line);
            if (!bytes.empty() && bytes != kProbe) // a probe may come late
                messages.push_back(bytes);
        }
        return messages;
    }

    std::unique_ptr<JackDummyServer> server;
    std::unique_ptr<JackTestClient> observer;
    std::unique_ptr<ChildProcess> dump;
    std::unique_ptr<DesktopMidiSystem> system;
};

} // namespace

TEST_F(DesktopMidiOnJack, SendsReachThePortAsExactlyTheirBytes)
{
    const std::uintptr_t handle = OpenDump();
    ASSERT_NE(handle, 0u);
    // The server shows a new connection to other clients from its next cycle on.
    EXPECT_TRUE(WaitUntil([&] { return system->IsConnected(handle); }));
    for (std::uint32_t message : {0x007F3C90u, 0x00000FC0u, 0x00007BB9u, 0x00003C90u})
        EXPECT_TRUE(system->Send(handle, message));
    const std::vector<std::vector<int>> expected = {
        {0x90, 0x3C, 0x7F}, {0xC0, 0x0F}, {0xB9, 0x7B, 0x00}, {0x90, 0x3C, 0x00}};
    EXPECT_EQ(ReadDumped(expected.size()), expected);

    EXPECT_TRUE(system->Close(handle));
    EXPECT_TRUE(WaitUntil([&] { return observer->Ports("^Varnek", 0).empty(); }));
}

TEST_F(DesktopMidiOnJack, HandlesAreDistinctAndClosedWithTheSystem)
{
    {
        DesktopMidiSystem own;
        const std::uintptr_t first = OpenDump(own);
        const std::uintptr_t second = OpenDump(own);
        ASSERT_NE(first, 0u);
        ASSERT_NE(second, 0u);
        EXPECT_NE(first, second);
        EXPECT_TRUE(own.Close(first));
        EXPECT_FALSE(own.Send(first, 0x007F3C90));
        EXPECT_TRUE(own.Send(second, 0x007F3C90));
        EXPECT_EQ(observer->Ports("^Varnek.*:MIDI out$", 0).size(), 1u);
    }
    EXPECT_TRUE(WaitUntil([&] { return observer->Ports("^Varnek.*:MIDI out$", 0).empty(); }));
}

TEST_F(DesktopMidiOnJack, APortWhoseClientVanishedTakesSendsHarmlessly)
{
    const std::uintptr_t handle = OpenDump();
    ASSERT_NE(handle, 0u);
    dump->Stop(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return observer->Ports(kDumpClient, 0).empty(); }));
    EXPECT_FALSE(system->IsConnected(handle));
    for (int i = 0; i < 5000; ++i)
        system->Send(handle, 0x007F3C90);

    // Reopening the vanished port by its entry fails rather than reaching another port.
    std::uintptr_t again = 0;
    EXPECT_FALSE(system->Open(0, again));
    EXPECT_TRUE(system->Close(handle));
}

// RtMidi's JACK output spins while its queue is full, and nothing empties the queue once the
// server is gone: far more messages than the queue holds must still pass at once.
TEST_F(DesktopMidiOnJack, AStoppedServerNeitherCrashesNorHangsSendsOrClose)
{
    const std::uintptr_t handle = OpenDump();
    ASSERT_NE(handle, 0u);
    FluidSynthOutput synth;
    synth.SetAudioDrivers({"jack"});
    const bool synthPlays = synth.Open();

    server->Stop();
    std::this_thread::sleep_for(200ms);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i)
        system->Send(handle, 0x007F3C90);
    EXPECT_FALSE(system->Send(handle, 0x007F3C90));
    EXPECT_FALSE(system->IsConnected(handle));
    EXPECT_TRUE(system->Close(handle));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);

    if (!synthPlays)
        return;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i)
        synth.Send(0x007F3C90);
    synth.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 900ms);
}

TEST_F(DesktopMidiOnJack, TheBuiltInSynthPlaysThroughJack)
{
    FluidSynthOutput synth;
    synth.SetAudioDrivers({"jack"});
    if (!synth.Open())
        GTEST_SKIP() << "no GM soundfont installed";
    EXPECT_EQ(synth.AudioDriver(), "jack");
    EXPECT_EQ(synth.GrantedBuffer().periodSize, 256);
    EXPECT_EQ(synth.SampleRate(), 48000);

    const auto outputs = observer->Ports("^Varnek Synth:", JackPortIsOutput);
    ASSERT_FALSE(outputs.empty());
    for (const auto& port : outputs)
        ASSERT_TRUE(observer->ListenTo(port));
    std::this_thread::sleep_for(100ms);
    EXPECT_LT(observer->Peak(), 1e-4f);
    synth.Send(0x007F4590);
    EXPECT_TRUE(WaitUntil([&] { return observer->Peak() > 0.05f; }));
}

// Everything played leaves Varnek's own output, also while no route is open: a musician who
// plays a DAW through Varnek does not depend on its synth or a Play Thru port.
TEST_F(DesktopMidiOnJack, TheOwnOutputCarriesWhatIsPlayedWithNoRouteOpen)
{
    system->OpenOwnPorts();
    // The ports are listed a moment before their client runs and is in use; and a cycle the
    // busy dummy server runs late loses what jack_midi_dump should have read in it. So each
    // message is sent until it shows.
    ASSERT_TRUE(
        WaitUntil([&] { return observer->Connect("Varnek:MIDI out", std::string(kDumpClient) + ":input"); }));
    const auto carried = [&](std::uint32_t message, const std::vector<int>& bytes) {
        return WaitUntil([&] {
            EXPECT_FALSE(system->Send(0, message));
            for (auto line = dump->ReadLine(100ms); line; line = dump->ReadLine(0ms)) {
                if (BytesOfDumpLine(*line) == bytes)
                    return true;
            }
            return false;
        });
    };
    EXPECT_TRUE(carried(0x007F3C90, {0x90, 0x3C, 0x7F}));
    EXPECT_TRUE(carried(0x00003C90, {0x90, 0x3C, 0x00}));
}
