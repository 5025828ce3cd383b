// Figures for the MIDI layer: how long the built-in synth takes to open, what one short
// message into it costs, the audio buffer latency it asked for and got, and how far into its
// first block a key's note becomes audible.
#include "bench/sample_statistics.h"
#include "platform/midi_out.h"
#include "sound/desktop_midi_system.h"
#include "sound/fluid_synth_output.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

namespace {

constexpr const char* kFluidR3 = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

void ReportBuffers(benchmark::State& state, const FluidSynthOutput& synth)
{
    state.counters["configured_ms"] = synth.ConfiguredBuffer().Milliseconds();
    state.counters["granted_ms"] = synth.GrantedBuffer().Milliseconds();
    state.counters["granted_period"] = synth.GrantedBuffer().periodSize;
    state.counters["granted_periods"] = synth.GrantedBuffer().periods;
    state.counters["rate"] = synth.SampleRate();
    state.SetLabel(synth.AudioDriver().empty() ? "no audio driver" : synth.AudioDriver());
}

void OpenSynth(benchmark::State& state, FluidSynthOutput::Sink sink)
{
    if (!std::filesystem::exists(kFluidR3)) {
        state.SkipWithError("FluidR3_GM.sf2 is not installed");
        return;
    }
    FluidSynthOutput synth(sink);
    synth.SetSoundfonts({kFluidR3});
    for (auto _ : state) {
        if (!synth.Open()) {
            state.SkipWithError("the synth does not open here (no audio output?)");
            return;
        }
        state.PauseTiming();
        ReportBuffers(state, synth);
        synth.Close();
        state.ResumeTiming();
    }
}

// The whole open as the program does it: soundfont, synth and audio driver.
void BM_OpenSynthWithAudio(benchmark::State& state) { OpenSynth(state, FluidSynthOutput::Sink::AudioDevice); }
BENCHMARK(BM_OpenSynthWithAudio)->Unit(benchmark::kMillisecond)->Iterations(10);

// The part of it that does not depend on the machine's sound server.
void BM_OpenSynthOffline(benchmark::State& state) { OpenSynth(state, FluidSynthOutput::Sink::Offline); }
BENCHMARK(BM_OpenSynthOffline)->Unit(benchmark::kMillisecond)->Iterations(10);

// A key pressed and released: note on and note off alternately, through midiOutShortMsg to the
// default route. Every few hundred messages the audio thread is given time to play them, so
// that each send finds room in the queue; "refused" counts those that did not.
void BM_ShortMsgIntoSynth(benchmark::State& state)
{
    DesktopMidiSystem system;
    MidiSystem* previous = SetMidiSystem(&system);
    HMIDIOUT handle = nullptr;
    if (midiOutOpen(&handle, MIDI_MAPPER, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        SetMidiSystem(previous);
        state.SkipWithError("the default route does not open here (no audio output?)");
        return;
    }
    // The program change every open is followed by; it reads the piano's samples.
    midiOutShortMsg(handle, 0xC0);
    DWORD velocity = 127;
    int sent = 0;
    int refused = 0;
    for (auto _ : state) {
        if (++sent % 256 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto start = std::chrono::steady_clock::now();
        const MMRESULT result = midiOutShortMsg(handle, 0x90 | 60 << 8 | velocity << 16);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        refused += result != MMSYSERR_NOERROR;
        velocity ^= 127;
    }
    state.counters["refused"] = refused;
    midiOutClose(handle);
    SetMidiSystem(previous);
}
BENCHMARK(BM_ShortMsgIntoSynth)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(5000)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// The same straight into a synth rendered offline. Between messages the synth renders a
// period, as its audio thread would, so that released voices end instead of piling up; only
// the sends are timed.
void BM_ShortMsgIntoOfflineSynth(benchmark::State& state)
{
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    if (!synth.Open()) {
        state.SkipWithError("no GM soundfont installed");
        return;
    }
    synth.Send(0xC0);
    DWORD velocity = 127;
    for (auto _ : state) {
        synth.Render(FluidSynthOutput::kPeriodSize);
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(synth.Send(0x90 | 60 << 8 | velocity << 16));
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        velocity ^= 127;
    }
}
BENCHMARK(BM_ShortMsgIntoOfflineSynth)
    ->Unit(benchmark::kMicrosecond)
    ->UseManualTime()
    ->Iterations(20000)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// A note starts on the first frame of the block after its note on; how soon it is heard
// depends on the instrument. The keys the audio benchmark plays (C4 to C5 at full velocity)
// are rendered offline one at a time, each after the last has died away: the first frame that
// passes -50 dBFS, the audio benchmark's threshold. The piano of FluidR3 fades in over 8 ms,
// as its soundfont says, so that lies tens of frames in.
void BM_NoteOnsetFrames(benchmark::State& state)
{
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({kFluidR3});
    if (!std::filesystem::exists(kFluidR3) || !synth.Open()) {
        state.SkipWithError("FluidR3_GM.sf2 is not installed");
        return;
    }
    constexpr int kScale[] = {60, 62, 64, 65, 67, 69, 71, 72};
    const float heard = std::pow(10.0f, -50.0f / 20.0f);
    const int decay = int(3 * synth.SampleRate()); // the note and the reverb die away
    std::vector<double> audible;
    for (auto _ : state) {
        for (const int note : kScale) {
            synth.Render(decay);
            synth.Send(0x7F0090 | std::uint32_t(note) << 8);
            const std::vector<float> sound = synth.Render(FluidSynthOutput::kPeriodSize * 4);
            synth.Send(0x000090 | std::uint32_t(note) << 8);
            const auto loud = std::find_if(sound.begin(), sound.end(),
                                           [heard](float sample) { return std::fabs(sample) >= heard; });
            audible.push_back(double((loud - sound.begin()) / 2));
        }
    }
    state.counters["audible_min_frame"] = Percentile(audible, 0.0);
    state.counters["audible_median_frame"] = Percentile(audible, 0.5);
    state.counters["audible_max_frame"] = Percentile(audible, 1.0);
}
BENCHMARK(BM_NoteOnsetFrames)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
