// The real program started on a virtual X display, with a JACK server on its dummy driver so
// that its built-in synthesizer opens at once: the time from exec to its window mapped and to
// its first whole frame on the screen, and its resident memory once it is up. Ten runs of
// about three seconds each, so its name marks it slow: --benchmark_filter=-Slow skips it.
// Where Debian's vmpk is installed, the same figures for it stand beside ours as a yardstick.
#include "bench/resident_memory.h"
#include "bench/sample_statistics.h"
#include "bench/virtual_display.h"
#include "bench/x_screen_probe.h"
#include "tests/sound/jack_dummy_server.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <jack/jack.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A program to start and the title of the window it shows.
struct Program {
    std::vector<std::string> command;
    std::string title;
};
constexpr auto kGiveUp = 15s;
constexpr auto kSettle = 1500ms;
constexpr auto kPollPause = 2ms; // leaves the program the processor while it starts
constexpr auto kRest = 1s;

std::string ProgramPath() { return QCoreApplication::applicationDirPath().toStdString() + "/../varnek"; }
constexpr const char* kPeerPath = "/usr/bin/vmpk";

Program Varnek() { return {{ProgramPath()}, "Varnek"}; }
// The peer keeps its settings in its home folder: a fresh one each run of the benchmark, so it
// starts as on a new desktop.
Program Peer(const std::string& home)
{
    return {{"env", "HOME=" + home, kPeerPath}, "Virtual MIDI Piano Keyboard"};
}

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

std::unique_ptr<ChildProcess> StartProgram(const VirtualDisplay& display, const Program& program)
{
    std::vector<std::string> argv{"env", "DISPLAY=" + display.Name(), "QT_QPA_PLATFORM=xcb"};
    argv.insert(argv.end(), program.command.begin(), program.command.end());
    return ChildProcess::Start(argv);
}

// Ports on the JACK server other than its own: the synthesizer's audio outputs, once it is open.
int ClientPortsOnJack()
{
    jack_status_t status{};
    jack_client_t* client = jack_client_open("varnek-bench-probe", JackNoStartServer, &status);
    if (client == nullptr)
        return 0;
    int count = 0;
    if (const char** ports = jack_get_ports(client, nullptr, nullptr, 0)) {
        for (const char** port = ports; *port != nullptr; ++port)
            count += std::strncmp(*port, "system:", 7) != 0;
        jack_free(ports);
    }
    jack_client_close(client);
    return count;
}

struct StartUp {
    double visibleMs = 0;
    double firstFrameMs = 0;
    ResidentMemory resident;
    int synthPorts = 0;
};

class StartUpTimer {
public:
    StartUpTimer(const VirtualDisplay& display, XScreenProbe& screen, Program program)
        : m_display(display), m_screen(screen), m_program(std::move(program))
    {
    }

    // A run whose settled window becomes the picture the timed runs wait for.
    bool TakeReference()
    {
        auto program = StartProgram(m_display, m_program);
        std::uint32_t window = 0;
        const auto deadline = Clock::now() + kGiveUp;
        while (program && window == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(kPollPause);
            window = m_screen.FindVisibleWindow(m_program.title);
        }
        if (window == 0)
            return false;
        std::this_thread::sleep_for(kSettle);
        m_reference = m_screen.Pixels(window);
        CloseAndRest(*program, window);
        return !m_reference.empty();
    }

    std::optional<StartUp> Run()
    {
        StartUp result;
        const Clock::time_point start = Clock::now();
        auto program = StartProgram(m_display, m_program);
        std::uint32_t window = 0;
        const auto deadline = start + kGiveUp;
        while (program && Clock::now() < deadline) {
            if (window == 0 && (window = m_screen.FindVisibleWindow(m_program.title)) != 0)
                result.visibleMs = Milliseconds(Clock::now() - start);
            if (window != 0 && m_screen.Pixels(window) == m_reference) {
                result.firstFrameMs = Milliseconds(Clock::now() - start);
                break;
            }
            std::this_thread::sleep_for(kPollPause);
        }
        if (result.firstFrameMs == 0)
            return std::nullopt;
        std::this_thread::sleep_for(kSettle);
        result.resident = ReadResidentMemory("/proc/" + std::to_string(program->Pid()) + "/status");
        result.synthPorts = ClientPortsOnJack();
        CloseAndRest(*program, window);
        return result;
    }

private:
    // Closes the window as a user would, so the program ends its JACK clients itself, then
    // waits a moment before the next start. A killed client, or one that has only just gone,
    // keeps the JACK server busy and delays the next start by up to a second and a half.
    void CloseAndRest(ChildProcess& program, std::uint32_t window)
    {
        m_screen.Close(window);
        const auto closing = Clock::now();
        while (!program.HasEnded() && Clock::now() - closing < kGiveUp)
            std::this_thread::sleep_for(kPollPause);
        std::this_thread::sleep_for(kRest);
    }

    const VirtualDisplay& m_display;
    XScreenProbe& m_screen;
    Program m_program;
    std::vector<std::uint8_t> m_reference;
};

void TimeStartUps(benchmark::State& state, const Program& program)
{
    if (!std::filesystem::exists(ProgramPath()) || !VirtualDisplay::Available() ||
        !JackDummyServer::Available()) {
        state.SkipWithError("needs the program built beside the benchmarks, Xvfb and jackd");
        return;
    }
    auto display = VirtualDisplay::Start();
    auto jack = JackDummyServer::Start();
    auto screen = display ? XScreenProbe::Connect(display->Name()) : nullptr;
    if (!display || !jack || !screen) {
        state.SkipWithError("no virtual display or JACK server came up");
        return;
    }
    StartUpTimer timer(*display, *screen, program);
    if (!timer.TakeReference()) {
        state.SkipWithError("the program showed no window");
        return;
    }
    std::vector<double> visible, firstFrame, resident, ownResident, proportional, ownProportional;
    int synthPorts = 0;
    for (auto _ : state) {
        const std::optional<StartUp> run = timer.Run();
        if (!run) {
            state.SkipWithError("the program did not show its panel");
            return;
        }
        state.SetIterationTime(run->firstFrameMs / 1000);
        visible.push_back(run->visibleMs);
        firstFrame.push_back(run->firstFrameMs);
        resident.push_back(run->resident.total);
        ownResident.push_back(run->resident.Own());
        proportional.push_back(run->resident.proportional);
        ownProportional.push_back(run->resident.ProportionalOwn());
        synthPorts = run->synthPorts;
    }
    state.counters["visible_median_ms"] = Percentile(visible, 0.5);
    state.counters["frame_median_ms"] = Percentile(firstFrame, 0.5);
    state.counters["frame_max_ms"] = Percentile(firstFrame, 1.0);
    state.counters["rss_median_mb"] = Percentile(resident, 0.5);
    // Without the shared memory: what is the program's own, whatever the JACK server maps in.
    state.counters["rss_own_median_mb"] = Percentile(ownResident, 0.5);
    state.counters["pss_median_mb"] = Percentile(proportional, 0.5);
    state.counters["pss_own_median_mb"] = Percentile(ownProportional, 0.5);
    state.counters["synth_jack_ports"] = synthPorts;
}

void BM_SlowStartToFirstFrame(benchmark::State& state) { TimeStartUps(state, Varnek()); }
BENCHMARK(BM_SlowStartToFirstFrame)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same on Debian's vmpk, when it is installed, as the figure to compare ours with.
void BM_SlowStartPeerVmpk(benchmark::State& state)
{
    if (!std::filesystem::exists(kPeerPath)) {
        state.SkipWithError("vmpk is not installed");
        return;
    }
    const std::filesystem::path home = std::filesystem::temp_directory_path() / "varnek-bench-peer-home";
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    TimeStartUps(state, Peer(home.string()));
    std::filesystem::remove_all(home);
}
BENCHMARK(BM_SlowStartPeerVmpk)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
