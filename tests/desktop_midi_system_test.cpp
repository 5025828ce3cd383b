#include "platform/midi/desktop_midi_system.h"

#include "platform/midi/fluid_synth_output.h"
#include "tests/child_process.h"
#include "tests/jack_dummy_server.h"
#include "tests/jack_test_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr const char* kDumpClient = "varnek-dump";

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

template <typename Condition> bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = 15s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
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
                                 << " but shows no port";
        system = std::make_unique<DesktopMidiSystem>();
        previous = SetMidiSystem(system.get());
        // With other tests' JACK servers starting and stopping beside this one, a client's
        // connection now and then fails; a list taken then lacks the JACK ports, so a new
        // system takes it again.
        for (int attempt = 0; attempt < 4 && !DumpDevice(); ++attempt) {
            std::this_thread::sleep_for(200ms);
            system = std::make_unique<DesktopMidiSystem>();
            SetMidiSystem(system.get());
        }
    }
    void TearDown() override
    {
        SetMidiSystem(previous);
        system.reset();
        dump.reset();
        observer.reset();
        server.reset();
    }

    // Like our own clients, jack_midi_dump's connection now and then fails while other tests'
    // servers start or stop; it then ends at once and is started again.
    bool StartDump()
    {
        const auto dumpPortShows = [&] {
            return !observer->Ports(std::string("^") + kDumpClient + ":", 0).empty();
        };
        for (int attempt = 0; attempt < 4; ++attempt) {
            // Line-buffered, or the dump would reach us only when it ends.
            dump = ChildProcess::Start({"stdbuf", "-oL", "jack_midi_dump", kDumpClient});
            if (!dump)
                return false;
            if (WaitUntil([&] { return dumpPortShows() || dump->HasEnded(); }) && dumpPortShows())
                return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }

    // Opens the device that jack_midi_dump offers, found by its menu name.
    HMIDIOUT OpenDump()
    {
        if (const auto device = DumpDevice())
            return OpenDevice(*device);
        ADD_FAILURE() << "jack_midi_dump's port is not in the device list";
        return nullptr;
    }

    static std::optional<UINT> DumpDevice()
    {
        MIDIOUTCAPSA caps;
        for (UINT device = 0; device < midiOutGetNumDevs(); ++device) {
            if (midiOutGetDevCapsA(device, &caps, sizeof caps) == MMSYSERR_NOERROR &&
                std::string(caps.szPname) == std::string(kDumpClient) + ":input")
                return device;
        }
        return std::nullopt;
    }

    static HMIDIOUT OpenDevice(UINT device)
    {
        HMIDIOUT handle = nullptr;
        EXPECT_EQ(midiOutOpen(&handle, device, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        return handle;
    }

    std::vector<std::vector<int>> ReadDumped(std::size_t count)
    {
        std::vector<std::vector<int>> messages;
        while (messages.size() < count) {
            const auto line = dump->ReadLine(10s);
            if (!line)
                break;
            const auto bytes = BytesOfDumpLine(*line);
            if (!bytes.empty())
                messages.push_back(bytes);
        }
        return messages;
    }

    std::unique_ptr<JackDummyServer> server;
    std::unique_ptr<JackTestClient> observer;
    std::unique_ptr<ChildProcess> dump;
    std::unique_ptr<DesktopMidiSystem> system;
    MidiSystem* previous = nullptr;
};

} // namespace

TEST_F(DesktopMidiOnJack, SendsReachThePortAsExactlyTheirBytes)
{
    const HMIDIOUT handle = OpenDump();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(midiOutIsConnected(handle));
    for (DWORD message : {0x007F3C90u, 0x00000FC0u, 0x00007BB9u, 0x00003C90u})
        EXPECT_EQ(midiOutShortMsg(handle, message), MMSYSERR_NOERROR);
    const std::vector<std::vector<int>> expected = {
        {0x90, 0x3C, 0x7F}, {0xC0, 0x0F}, {0xB9, 0x7B, 0x00}, {0x90, 0x3C, 0x00}};
    EXPECT_EQ(ReadDumped(expected.size()), expected);

    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaitUntil([&] { return observer->Ports("^Varnek", 0).empty(); }));
}

TEST_F(DesktopMidiOnJack, HandlesAreDistinctAndClosedWithTheSystem)
{
    {
        DesktopMidiSystem own;
        SetMidiSystem(&own);
        const HMIDIOUT first = OpenDump();
        const HMIDIOUT second = OpenDump();
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        EXPECT_EQ(midiOutClose(first), MMSYSERR_NOERROR);
        EXPECT_EQ(midiOutShortMsg(first, 0x007F3C90), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(midiOutShortMsg(second, 0x007F3C90), MMSYSERR_NOERROR);
        EXPECT_EQ(observer->Ports("^Varnek.*:MIDI out$", 0).size(), 1u);
        SetMidiSystem(system.get());
    }
    EXPECT_TRUE(WaitUntil([&] { return observer->Ports("^Varnek.*:MIDI out$", 0).empty(); }));
}

TEST_F(DesktopMidiOnJack, APortWhoseClientVanishedTakesSendsHarmlessly)
{
    const HMIDIOUT handle = OpenDump();
    ASSERT_NE(handle, nullptr);
    dump->Stop(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return observer->Ports(kDumpClient, 0).empty(); }));
    EXPECT_FALSE(midiOutIsConnected(handle));
    for (int i = 0; i < 5000; ++i)
        midiOutShortMsg(handle, 0x007F3C90);

    // Reopening the vanished port by its entry fails rather than reaching another port.
    HMIDIOUT again = reinterpret_cast<HMIDIOUT>(std::uintptr_t(1));
    EXPECT_NE(midiOutOpen(&again, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
}

// RtMidi's JACK output spins while its queue is full, and nothing empties the queue once the
// server is gone: far more messages than the queue holds must still pass at once.
TEST_F(DesktopMidiOnJack, AStoppedServerNeitherCrashesNorHangsSendsOrClose)
{
    const HMIDIOUT handle = OpenDump();
    ASSERT_NE(handle, nullptr);
    FluidSynthOutput synth;
    synth.SetAudioDrivers({"jack"});
    const bool synthPlays = synth.Open();

    server->Stop();
    std::this_thread::sleep_for(200ms);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i)
        midiOutShortMsg(handle, 0x007F3C90);
    EXPECT_EQ(midiOutShortMsg(handle, 0x007F3C90), MMSYSERR_INVALHANDLE);
    EXPECT_FALSE(midiOutIsConnected(handle));
    EXPECT_EQ(midiOutClose(handle), MMSYSERR_NOERROR);
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

    const auto outputs = observer->Ports("^Varnek:", JackPortIsOutput);
    ASSERT_FALSE(outputs.empty());
    for (const auto& port : outputs)
        ASSERT_TRUE(observer->ListenTo(port));
    std::this_thread::sleep_for(100ms);
    EXPECT_LT(observer->Peak(), 1e-4f);
    synth.Send(0x007F4590);
    EXPECT_TRUE(WaitUntil([&] { return observer->Peak() > 0.05f; }));
}
