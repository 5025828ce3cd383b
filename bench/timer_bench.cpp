// Tango's 75 ms ticks on the real Qt host: how far each period strays from 75 ms, and how far
// the pattern drifts over 200 periods. Takes 15 s, so its name marks it slow: skip it with
//   varnek_bench --benchmark_filter=-Slow
#include "bench/panel_on_qt_host.h"
#include "bench/quiet_midi_system.h"
#include "bench/sample_statistics.h"
#include "midi/midi_messages.h"
#include "res/resource_ids.h"

#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kTango = ID_STYLE_FIRST + 6;
constexpr double kTangoPeriodMs = 75;
constexpr std::size_t kTicks = 201; // 200 periods
constexpr int kGiveUpMs = 60000;

struct TickFigures {
    std::vector<double> deviations; // |period - 75 ms| of every period
    double meanPeriod = 0;
    double drift = 0;    // last tick - first - 75 ms × periods
    double lateSum = 0;  // what the periods longer than 75 ms added
    double earlySum = 0; // what the periods shorter than 75 ms took away
    int lateOver2ms = 0;
};

TickFigures Figures(const std::vector<Clock::time_point>& ticks)
{
    TickFigures figures;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        const double period = std::chrono::duration<double, std::milli>(ticks[i] - ticks[i - 1]).count();
        const double deviation = period - kTangoPeriodMs;
        figures.deviations.push_back(std::abs(deviation));
        figures.lateSum += std::max(deviation, 0.0);
        figures.earlySum += std::max(-deviation, 0.0);
        figures.lateOver2ms += deviation > 2;
    }
    const double periods = static_cast<double>(ticks.size() - 1);
    const double span = std::chrono::duration<double, std::milli>(ticks.back() - ticks.front()).count();
    figures.meanPeriod = span / periods;
    figures.drift = span - kTangoPeriodMs * periods;
    return figures;
}

// Each tick of a style begins with All Notes Off on the chord channel; its time is the tick's.
void BM_SlowTangoTicksOnQtHost(benchmark::State& state)
{
    QuietMidiSystem midi;
    std::vector<Clock::time_point> ticks;
    ticks.reserve(kTicks);
    QEventLoop loop;
    bool counting = false;
    midi.OnSend([&](DWORD message) {
        if (!counting || message != AllNotesOffMessage(midi::kChordChannel))
            return;
        ticks.push_back(Clock::now());
        if (ticks.size() == kTicks)
            loop.quit();
    });
    PanelOnQtHost setup(midi);
    for (auto _ : state) {
        setup.Command(kTango);
        counting = true;
        QTimer::singleShot(kGiveUpMs, &loop, &QEventLoop::quit);
        loop.exec();
        counting = false;
        setup.Command(ID_STYLE_FIRST);
    }
    if (ticks.size() < kTicks) {
        state.SkipWithError("the backing timer stopped ticking");
        return;
    }
    const TickFigures figures = Figures(ticks);
    state.counters["ticks"] = static_cast<double>(ticks.size());
    state.counters["mean_period_ms"] = figures.meanPeriod;
    state.counters["p99_dev_ms"] = Percentile(figures.deviations, 0.99);
    state.counters["max_dev_ms"] = Percentile(figures.deviations, 1.0);
    state.counters["drift_ms"] = figures.drift;
    state.counters["late_sum_ms"] = figures.lateSum;
    state.counters["early_sum_ms"] = figures.earlySum;
    state.counters["late_over_2ms"] = figures.lateOver2ms;
}
BENCHMARK(BM_SlowTangoTicksOnQtHost)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
