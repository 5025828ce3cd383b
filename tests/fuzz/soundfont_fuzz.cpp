// Any bytes at all as a soundfont: the reader refuses them or takes them, never reading outside
// what it holds, and what it takes FluidSynth loads and plays, a chord rendering in far less
// than the time it lasts.

#include "sound/library_logs.h"
#include "sound/soundfont_file.h"
#include "tests/sound/soundfont_builder.h"

#include <fluidsynth.h>

#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

constexpr int kFrames = 4800;                // a tenth of a second
constexpr std::chrono::seconds kMostTime{1}; // to render them, sanitizers and all

// The tests' good soundfont, and one with more of every table and a loop played nearly as high
// as it may be, seed an empty corpus folder.
void Seed(const std::filesystem::path& folder)
{
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error) || !std::filesystem::is_empty(folder, error))
        return;
    SoundfontBuilder fuller;
    fuller.instrumentGenerators.push_back({51, 24});
    fuller.instrumentModulators.push_back({2, 52, 50});
    fuller.samples.resize(3, fuller.samples[0]);
    fuller.samples[0].loopEnd = fuller.samples[0].loopStart + 8;
    SoundfontBuilder().Write(folder / "good.sf2");
    fuller.Write(folder / "fuller.sf2");
}

void Play(const SoundfontFile& file)
{
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_synth_add_sfloader(synth, SoundfontFile::NewLoader(settings));
    if (fluid_synth_sfload(synth, file.LoaderName().c_str(), 1) != FLUID_FAILED) {
        for (int key : {21, 60, 64, 108})
            fluid_synth_noteon(synth, 0, key, 127);
        std::array<float, kFrames> left{}, right{};
        float* channels[] = {left.data(), right.data()};
        const auto start = std::chrono::steady_clock::now();
        fluid_synth_process(synth, kFrames, 2, channels, 2, channels);
        if (std::chrono::steady_clock::now() - start > kMostTime) {
            std::fprintf(stderr, "a tenth of a second took more than a second to render\n");
            std::abort();
        }
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
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
    std::string refusal;
    if (const auto soundfont = SoundfontFile::Open("/proc/self/fd/" + std::to_string(file), refusal))
        Play(*soundfont);
    return 0;
}
