// Whether a send ever waits: one message a millisecond for a minute into the desktop MIDI
// system with Varnek's own ports open, as a player's keys would send them, once with no JACK
// server (where the ports look for one every second) and once with one. No route is open, so
// each message goes to Varnek's own outputs only, which is where a server could hold it up.
// Each send is timed on the monotonic clock; the figures are the worst send, the 99.99th
// percentile and how many took over a millisecond. Two minutes in all, so its name marks it
// slow.
#include "bench/sample_statistics.h"
#include "sound/desktop_midi_system.h"
#include "tests/sound/jack_dummy_server.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRun = std::chrono::seconds(60);
constexpr auto kPace = std::chrono::milliseconds(1);
// Long enough for the ports to open and, without a server, for the first look for one.
constexpr auto kSettle = std::chrono::seconds(2);

double Microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

// Sends a key's note on and off alternately, one a millisecond, and times each send.
std::vector<double> SendEveryMillisecond(MidiSystem& system)
{
    std::vector<double> took;
    took.reserve(std::size_t(kRun / kPace));
    std::uint32_t velocity = 127;
    const auto start = Clock::now();
    for (auto next = start; next < start + kRun; next += kPace) {
        std::this_thread::sleep_until(next);
        const auto before = Clock::now();
        system.Send(0, 0x90 | 60 << 8 | velocity << 16);
        took.push_back(Microseconds(Clock::now() - before));
        velocity ^= 127;
    }
    return took;
}

void BM_SlowSendEveryMillisecond(benchmark::State& state)
{
    const bool withJack = state.range(0) != 0;
    std::unique_ptr<JackDummyServer> server;
    const char* serverBefore = std::getenv("JACK_DEFAULT_SERVER");
    const std::string previousServer = serverBefore ? serverBefore : "";
    if (withJack) {
        server = JackDummyServer::Start();
        if (!server) {
            state.SkipWithError("jackd does not start here");
            return;
        }
    } else {
        // A server name nobody runs, so the ports keep looking for one.
        setenv("JACK_DEFAULT_SERVER", ("varnek-bench-none-" + std::to_string(getpid())).c_str(), 1);
    }
    for (auto _ : state) {
        const auto system = MakeDesktopMidiSystem(DefaultRoute::OpenWhenAsked, OwnPorts::Open);
        std::this_thread::sleep_for(kSettle);
        const std::vector<double> took = SendEveryMillisecond(*system);
        state.counters["sends"] = double(took.size());
        state.counters["worst_us"] = Percentile(took, 1.0);
        state.counters["p9999_us"] = Percentile(took, 0.9999);
        state.counters["median_us"] = Percentile(took, 0.5);
        state.counters["over_1ms"] =
            double(std::count_if(took.begin(), took.end(), [](double us) { return us > 1000; }));
    }
    state.SetLabel(withJack ? "JACK server running" : "no JACK server");
    if (!withJack && serverBefore)
        setenv("JACK_DEFAULT_SERVER", previousServer.c_str(), 1);
    else if (!withJack)
        unsetenv("JACK_DEFAULT_SERVER");
}
BENCHMARK(BM_SlowSendEveryMillisecond)
    ->ArgName("jack")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

} // namespace
