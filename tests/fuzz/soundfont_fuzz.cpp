// Any bytes at all as a soundfont: the reader refuses them or takes them, never reading outside
// what it holds, and what it takes the built-in synth plays within its time: no two blocks in a
// row take more work to render than they last.

#include "sound/fluid_synth_output.h"
#include "sound/library_logs.h"
#include "tests/sound/soundfont_builder.h"

#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace {

constexpr int kBlock = FluidSynthOutput::kPeriodSize;
constexpr int kBlocks = 40; // a tenth of a second

// The seeds of an empty corpus folder: the tests' good soundfont, one with more of every table
// and a short loop, and one for each place where FluidSynth's way of playing a soundfont is easy
// to get wrong, each playing its loop as high as the shape allows.
void Seed(const std::filesystem::path& folder)
{
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error) || !std::filesystem::is_empty(folder, error))
        return;
    using Shape = void (*)(SoundfontBuilder&);
    const SoundfontBuilder::Sample secondSample = {500, 1000, 600, 602, 192000, 1};
    // clang-format off
    const std::pair<const char*, Shape> shapes[] = {
        {"good",                    [](SoundfontBuilder&) {}},
        {"fuller",                  [](SoundfontBuilder& f) {
                                        f.instrumentGenerators.push_back({51, 24});
                                        f.instrumentModulators.push_back({2, 52, 50});
                                        f.samples.resize(3, f.samples[0]);
                                        f.samples[0].loopEnd = f.samples[0].loopStart + 8; }},
        {"scale-tuning-pivot",      [](SoundfontBuilder& f) {
                                        f.instrumentGenerators = {{43, 60 | 60 << 8}, {54, 1}, {56, 1200}, {58, 0}}; }},
        {"key-range-not-first",     [](SoundfontBuilder& f) {
                                        f.instrumentGenerators = {{54, 1}, {56, 1200}, {43, 60 | 60 << 8}, {58, 0}}; }},
        {"key-range-in-global-zone",[](SoundfontBuilder& f) {
                                        f.globalInstrumentGenerators = {{43, 60 | 60 << 8}};
                                        f.instrumentGenerators = {{54, 1}, {56, 1200}, {58, 0}}; }},
        {"after-the-sample",        [](SoundfontBuilder& f) {
                                        f.instrumentGenerators = {{54, 1}, {43, 60 | 60 << 8}};
                                        f.generatorsAfterSample = {{56, 1200}, {58, 0}}; }},
        {"first-or-last-sample",    [](SoundfontBuilder& f) {
                                        f.instrumentGenerators = {{54, 1}, {51, 120}};
                                        f.generatorsAfterSample = {{53, 1}}; }},
        {"loop-offset-modulators",  [](SoundfontBuilder& f) {
                                        f.instrumentGenerators = {{54, 1}, {51, 120}};
                                        f.instrumentModulators = {{2, 3, -798}, {3, 2, 700}}; }},
        {"loop-offsets-past-end",   [](SoundfontBuilder& f) {
                                        f.instrumentGenerators = {{54, 1}, {51, 120}, {2, 898}, {3, 2000}}; }},
    };
    // clang-format on
    for (const auto& [name, shape] : shapes) {
        SoundfontBuilder soundfont;
        soundfont.samples.push_back(secondSample);
        shape(soundfont);
        soundfont.Write(folder / (std::string(name) + ".sf2"));
    }
}

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// A chord over the whole keyboard, a tenth of a second of it block by block.
void Play(FluidSynthOutput& synth)
{
    for (std::uint32_t key : {21, 60, 64, 108, 127})
        synth.Send(0x007F0090 | key << 8);
    std::array<float, 2 * kBlock> block{};
    bool lastOverran = false;
    for (int done = 0; done < kBlocks; ++done) {
        const double start = ThreadCpuSeconds();
        synth.Render(block.data(), kBlock);
        const bool overran = ThreadCpuSeconds() - start > double(kBlock) / synth.SampleRate();
        if (overran && lastOverran) {
            std::fprintf(stderr, "two blocks in a row took more work than they last\n");
            std::abort();
        }
        lastOverran = overran;
    }
}

} // namespace

// The corpus folder comes last on the command line.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    SilenceSoundLibraryLogs();
    Seed((*argv)[*argc - 1]);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The input as a file in memory, which the reader opens by its name under /proc.
    static const int file = memfd_create("soundfont", MFD_CLOEXEC);
    if (ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != ssize_t(size))
        std::abort();
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({"/proc/self/fd/" + std::to_string(file)});
    if (synth.Open())
        Play(synth);
    return 0;
}
