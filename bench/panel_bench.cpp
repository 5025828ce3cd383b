// Figures for the panel on the real Qt host: a full repaint, one backing tick, the time from a
// key or mouse event given to the host to the MIDI bytes leaving, and the memory the panel
// takes without a synthesizer.
#include "bench/allocation_counter.h"
#include "bench/panel_on_qt_host.h"
#include "bench/quiet_midi_system.h"
#include "bench/resident_memory.h"
#include "bench/sample_statistics.h"
#include "platform/qt/qt_canvas.h"
#include "platform/window_manager.h"
#include "res/resource_ids.h"

#include <QCoreApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT kTango = ID_STYLE_FIRST + 6;
constexpr unsigned kNativeScanCodeZ = 44 + 8; // evdev code + 8, as X11 and Wayland give it

double Microseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::micro>(duration).count();
}

// The whole client area painted into an image, as the canvas paints on an expose.
void BM_PaintWholePanel(benchmark::State& state)
{
    QuietMidiSystem midi;
    PanelOnQtHost setup(midi);
    QImage image(600, 200, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&image);
        CDC dc(&painter);
        WindowManager::Instance().Paint(&setup.Panel(), dc, CRect(0, 0, 600, 200));
    }
    benchmark::DoNotOptimize(image.constBits());
}
BENCHMARK(BM_PaintWholePanel)->Unit(benchmark::kMicrosecond);

bool AllocationsAreCounted()
{
    const std::uint64_t before = AllocationCounter::Count();
    std::vector<int> probe(64);
    benchmark::DoNotOptimize(probe.data());
    return AllocationCounter::Count() > before;
}

// One step of the busiest backing, Tango: two All Notes Off, up to two chord tones and three
// drum notes, into a MIDI system whose send does nothing.
void BM_BackingTick(benchmark::State& state)
{
    QuietMidiSystem midi;
    PanelOnQtHost setup(midi);
    setup.Command(kTango);
    setup.Panel().SendMessage(WM_TIMER, 0, 0); // anything done once only is done now
    if (!AllocationsAreCounted()) {
        state.SkipWithError("allocations are not counted in this build");
        return;
    }
    const std::uint64_t before = AllocationCounter::Count();
    for (auto _ : state)
        setup.Panel().SendMessage(WM_TIMER, 0, 0);
    const std::uint64_t allocations = AllocationCounter::Count() - before;
    state.counters["allocs_per_tick"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    setup.Command(ID_STYLE_FIRST);
}
BENCHMARK(BM_BackingTick)->Unit(benchmark::kNanosecond);

// From an input event handed to the canvas to the first MIDI byte it causes. Each iteration
// sends one event, alternately one that sounds a key and one that ends it; between events
// the event loop runs (repaints included) outside the measured time.
template <typename SendInput> void MeasureInputToMidi(benchmark::State& state, SendInput sendInput)
{
    QuietMidiSystem midi;
    Clock::time_point sentAt;
    bool sent = false;
    midi.OnSend([&](DWORD) {
        if (!sent)
            sentAt = Clock::now();
        sent = true;
    });
    PanelOnQtHost setup(midi);
    std::vector<double> latencies;
    latencies.reserve(100000);
    bool press = true;
    for (auto _ : state) {
        sent = false;
        const Clock::time_point start = Clock::now();
        sendInput(setup, press);
        if (!sent) {
            state.SkipWithError("the event sent no MIDI message");
            return;
        }
        const double latency = Microseconds(sentAt - start);
        latencies.push_back(latency);
        state.SetIterationTime(latency / 1e6);
        press = !press;
        QCoreApplication::processEvents();
    }
    state.counters["median_us"] = Percentile(latencies, 0.5);
    state.counters["p99_us"] = Percentile(latencies, 0.99);
    state.counters["max_us"] = Percentile(latencies, 1.0);
}

void BM_KeyEventToMidi(benchmark::State& state)
{
    MeasureInputToMidi(state, [](PanelOnQtHost& setup, bool press) {
        QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Z, Qt::NoModifier,
                        kNativeScanCodeZ, 0, 0, "z");
        QCoreApplication::sendEvent(setup.Canvas(), &event);
    });
}
BENCHMARK(BM_KeyEventToMidi)->Unit(benchmark::kMicrosecond)->UseManualTime();

void BM_MouseEventToMidi(benchmark::State& state)
{
    // Presses a second apart, so none is taken for half of a double-click.
    ulong timestamp = 0;
    MeasureInputToMidi(state, [&timestamp](PanelOnQtHost& setup, bool press) {
        const QPointF onF1(25, 190);
        timestamp += 500;
        QMouseEvent event(press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, onF1,
                          setup.Canvas()->mapToGlobal(onF1), Qt::LeftButton,
                          press ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        event.setTimestamp(timestamp);
        QCoreApplication::sendEvent(setup.Canvas(), &event);
    });
}
BENCHMARK(BM_MouseEventToMidi)->Unit(benchmark::kMicrosecond)->UseManualTime();

// The resident memory of this process with the panel up on the Qt host and no synthesizer,
// and how much of it the panel added. Meaningful when run alone, first in its process:
//   varnek_bench --benchmark_filter=PanelResidentMemory
void BM_PanelResidentMemory(benchmark::State& state)
{
    for (auto _ : state) {
        const double before = ReadResidentMemory().total;
        QuietMidiSystem midi;
        PanelOnQtHost setup(midi);
        setup.Canvas()->repaint();
        QCoreApplication::processEvents();
        const double after = ReadResidentMemory().total;
        state.counters["rss_mb"] = after;
        state.counters["panel_mb"] = after - before;
    }
}
BENCHMARK(BM_PanelResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
