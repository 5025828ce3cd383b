#include "sound/fluid_synth_output.h"
#include "sound/output_limiter.h"
#include "sound/soundfont_file.h"
#include "tests/sound/soundfont_builder.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kRate = 48000;
constexpr int kPeriodFrames = FluidSynthOutput::kPeriodSize;

std::vector<float> LeftChannel(const std::vector<float>& interleaved)
{
    std::vector<float> left;
    for (std::size_t i = 0; i < interleaved.size(); i += 2)
        left.push_back(interleaved[i]);
    return left;
}

float Peak(const std::vector<float>& samples)
{
    float peak = 0;
    for (float s : samples)
        peak = std::max(peak, std::fabs(s));
    return peak;
}

// The fundamental by autocorrelation: the first lag whose correlation comes close to the best
// one, so that a strong second harmonic does not pass for the pitch.
double PitchOf(const std::vector<float>& samples)
{
    const int minLag = kRate / 2000;
    const int maxLag = kRate / 50;
    const int window = int(samples.size()) - maxLag;
    std::vector<double> correlation(maxLag + 1, 0.0);
    for (int lag = minLag; lag <= maxLag; ++lag) {
        for (int i = 0; i < window; ++i)
            correlation[lag] += double(samples[i]) * samples[i + lag];
    }
    const double best = *std::max_element(correlation.begin(), correlation.end());
    for (int lag = minLag + 1; lag < maxLag; ++lag) {
        const bool localMaximum =
            correlation[lag] >= correlation[lag - 1] && correlation[lag] >= correlation[lag + 1];
        if (localMaximum && correlation[lag] > 0.9 * best) {
            // Refine between samples with a parabola through the neighbours.
            const double a = correlation[lag - 1], b = correlation[lag], c = correlation[lag + 1];
            const double shift = 0.5 * (a - c) / (a - 2 * b + c);
            return kRate / (lag + shift);
        }
    }
    return 0;
}

// Samples live in anonymous memory, apart from the libraries' pages.
double AnonymousMemoryMb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("RssAnon:", 0) == 0)
            return std::stod(line.substr(8)) / 1024.0;
    }
    return 0;
}

std::string TempPath(const std::string& name)
{
    return testing::TempDir() + "varnek-" + name + "-" + std::to_string(getpid()) + ".sf2";
}

bool SoundfontInstalled()
{
    for (const auto& path : FluidSynthOutput::DefaultSoundfonts()) {
        if (std::filesystem::exists(path))
            return true;
    }
    return false;
}

class OfflineSynth : public testing::Test {
protected:
    void SetUp() override
    {
        if (!SoundfontInstalled())
            GTEST_SKIP() << "no GM soundfont installed";
        ASSERT_TRUE(synth.Open());
        ASSERT_EQ(synth.SampleRate(), kRate);
    }

    std::vector<float> RenderSeconds(double seconds)
    {
        return LeftChannel(synth.Render(int(seconds * kRate)));
    }

    FluidSynthOutput synth{FluidSynthOutput::Sink::Offline};
};

} // namespace

TEST_F(OfflineSynth, NoteA4SoundsAt440HzAndFallsSilentAfterItsNoteOff)
{
    EXPECT_LT(Peak(RenderSeconds(0.1)), 1e-6f);
    ASSERT_TRUE(synth.Send(0x007F4590)); // note on, A4, velocity 127
    RenderSeconds(0.05);
    const auto sound = RenderSeconds(0.25);
    EXPECT_GT(Peak(sound), 0.05f);
    EXPECT_NEAR(PitchOf(sound), 440.0, 440.0 * 0.01);

    ASSERT_TRUE(synth.Send(0x00004590)); // a note on with velocity 0 ends it
    RenderSeconds(3.0);
    EXPECT_LT(Peak(RenderSeconds(0.5)), 1e-3f);
}

TEST_F(OfflineSynth, DrumChannelSounds)
{
    ASSERT_TRUE(synth.Send(0x005F2699)); // channel 10, acoustic snare
    EXPECT_GT(Peak(RenderSeconds(0.3)), 0.05f);
}

TEST_F(OfflineSynth, AllNotesOffSilencesTheChordChannel)
{
    for (std::uint32_t note : {48, 52, 55})
        ASSERT_TRUE(synth.Send(0x003F0091 | note << 8)); // chord on channel 2, velocity 63
    EXPECT_GT(Peak(RenderSeconds(0.3)), 0.02f);
    ASSERT_TRUE(synth.Send(0x00007BB1));
    RenderSeconds(3.0);
    EXPECT_LT(Peak(RenderSeconds(0.5)), 1e-3f);
}

// A held piano note dies away; a held organ note does not.
TEST_F(OfflineSynth, ProgramChangeSelectsAnotherInstrument)
{
    auto sustain = [this] {
        synth.Send(0x007F4590);
        const float early = Peak(RenderSeconds(0.3));
        RenderSeconds(2.0);
        const float late = Peak(RenderSeconds(0.3));
        synth.Send(0x00004590);
        RenderSeconds(3.0);
        return late / early;
    };
    const float piano = sustain();
    ASSERT_TRUE(synth.Send(0x000013C0)); // program 19: church organ
    const float organ = sustain();
    EXPECT_LT(piano, 0.5f);
    EXPECT_GT(organ, 0.7f);
}

// Samples of instruments chosen long ago are let go, and read again when one comes back.
TEST_F(OfflineSynth, BrowsingTheInstrumentsKeepsFewLoadedAndAnyPlaysAgain)
{
    auto choose = [this](std::uint32_t program) {
        ASSERT_TRUE(synth.Send(0x000000C0 | program << 8));
        ASSERT_TRUE(synth.Send(0x000000C1 | program << 8));
        RenderSeconds(0.01);
    };
    choose(0);
    [[maybe_unused]] const double before = AnonymousMemoryMb();
    for (std::uint32_t program = 1; program < 48; ++program)
        choose(program);
#if !defined(__SANITIZE_ADDRESS__) // which holds on to what is freed, to catch a late use of it
    // Every one of them kept would take well over a hundred megabytes.
    EXPECT_LT(AnonymousMemoryMb() - before, 40.0);
#endif

    choose(19); // the church organ holds its note
    synth.Send(0x007F4590);
    const float early = Peak(RenderSeconds(0.3));
    RenderSeconds(2.0);
    EXPECT_GT(Peak(RenderSeconds(0.3)), 0.7f * early);
}

TEST_F(OfflineSynth, RefusesWhatItDoesNotPlay)
{
    EXPECT_FALSE(synth.Send(0x00004000)); // no status byte
    EXPECT_FALSE(synth.Send(0x000000F0)); // system exclusive
    EXPECT_FALSE(synth.Send(0x0000F8E0)); // a pitch bend with a clock for its first byte
}

// A controller's pitch bend reaches the synth: a full bend up plays A4 two semitones higher,
// and channel pressure is taken too.
TEST_F(OfflineSynth, PitchBendMovesTheNoteTwoSemitones)
{
    const auto pitchBentBy = [this](std::uint32_t bend) {
        EXPECT_TRUE(synth.Send(bend));
        EXPECT_TRUE(synth.Send(0x006400D0));
        synth.Send(0x007F4590);
        RenderSeconds(0.05);
        const double pitch = PitchOf(LeftChannel(synth.Render(kRate / 4)));
        synth.Send(0x00004590);
        RenderSeconds(1.5);
        return pitch;
    };
    const double straight = pitchBentBy(0x004000E0);
    const double bent = pitchBentBy(0x007F7FE0);
    EXPECT_NEAR(12 * std::log2(bent / straight), 2.0, 0.1);
}

// Nothing renders: messages wait, and past what the queue holds they are refused at once
// instead of blocking the sender until the audio thread comes back.
TEST_F(OfflineSynth, SendsNeverWaitForTheAudioThread)
{
    ASSERT_TRUE(synth.Send(0x00004590)); // the channel's first message brings its program along
    RenderSeconds(0.01);
    std::size_t accepted = 0;
    while (accepted < 10000 && synth.Send(0x007F4590 ^ (accepted & 1) << 22))
        ++accepted;
    EXPECT_EQ(accepted, MidiMessageQueue::kDefaultCapacity);
    RenderSeconds(0.01);
    EXPECT_TRUE(synth.Send(0x00004590));
}

// A channel first used while the queue is full gets its program kept aside: the note is
// refused, and its next note sounds.
TEST_F(OfflineSynth, AChannelFirstUsedWhileTheQueueIsFullGetsItsSoundLater)
{
    ASSERT_TRUE(synth.Send(0x00004590));
    RenderSeconds(0.01);
    while (synth.Send(0x007F4590)) {
    }
    EXPECT_FALSE(synth.Send(0x003F3091)); // chord channel, C3
    RenderSeconds(0.01);
    ASSERT_TRUE(synth.Send(0x003F3091));
    EXPECT_GT(Peak(RenderSeconds(0.3)), 0.02f);
}

TEST_F(OfflineSynth, EveryKeyAtFullVelocityOverTheBackingStaysBelowFullScale)
{
    for (std::uint32_t note = 29; note <= 76; ++note)
        synth.Send(0x007F0090 | note << 8);
    for (std::uint32_t note : {48, 52, 55})
        synth.Send(0x003F0091 | note << 8);
    for (std::uint32_t note : {36, 38, 42, 49})
        synth.Send(0x005F0099 | note << 8);
    const float peak = Peak(synth.Render(2 * kRate));
    EXPECT_LT(peak, 1.0f);
    EXPECT_GT(peak, 0.3f);
}

double Dbfs(float level) { return 20.0 * std::log10(std::max(level, 1e-9f)); }

TEST_F(OfflineSynth, PianoA4AtFullVelocityPeaksBetweenMinus12AndMinus6Dbfs)
{
    ASSERT_TRUE(synth.Send(0x007F4590));
    const double peak = Dbfs(Peak(synth.Render(kRate)));
    EXPECT_GE(peak, -12.0);
    EXPECT_LE(peak, -6.0);
}

// Chorus on the lead presets and ten voices at once used to go far over full scale.
TEST_F(OfflineSynth, ATenNoteChordAtFullVelocityStaysUnderTheCeilingOnEveryProgramAndTheDrums)
{
    constexpr std::uint32_t kChord[] = {48, 52, 55, 60, 64, 67, 72, 76, 79, 84};
    constexpr std::uint32_t kKit[] = {35, 36, 38, 40, 42, 46, 49, 51, 55, 57};
    const auto chordPeak = [this](std::uint32_t channel, const std::uint32_t(&notes)[10]) {
        for (std::uint32_t note : notes)
            synth.Send(0x007F0090 | channel | note << 8);
        const float peak = Peak(synth.Render(kRate / 4));
        synth.Send(0x000078B0 | channel); // all sound off before the next one
        synth.Render(kPeriodFrames);
        return peak;
    };
    float loudest = 0;
    for (std::uint32_t program = 0; program < 128; ++program) {
        ASSERT_TRUE(synth.Send(0x000000C0 | program << 8));
        const float peak = chordPeak(0, kChord);
        EXPECT_LT(Dbfs(peak), OutputLimiter::kCeilingDbfs) << "program " << program;
        loudest = std::max(loudest, peak);
    }
    EXPECT_LT(Dbfs(chordPeak(9, kKit)), OutputLimiter::kCeilingDbfs) << "drum kit";
    // The chords are loud enough to meet the limiter.
    EXPECT_GT(Dbfs(loudest), OutputLimiter::kKneeDbfs);
}

TEST(FluidSynthOutputOpen, FailsCleanlyWithoutALoadableSoundfont)
{
    const std::string garbage = TempPath("not-a-soundfont");
    std::ofstream(garbage) << "this is not RIFF data";
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({"/nonexistent/none.sf2", garbage});
    EXPECT_FALSE(synth.Open());
    EXPECT_FALSE(synth.IsOpen());
    EXPECT_TRUE(synth.Soundfont().empty());
    EXPECT_FALSE(synth.Send(0x007F4590));
    EXPECT_TRUE(synth.Render(64).empty());
    EXPECT_NE(synth.WhyItDidNotOpen().find(garbage + " is damaged"), std::string::npos);
    synth.SetSoundfonts({"/nonexistent/none.sf2"});
    EXPECT_FALSE(synth.Open());
    EXPECT_EQ(synth.WhyItDidNotOpen().rfind("no General MIDI soundfont found", 0), 0u);
    std::filesystem::remove(garbage);
}

TEST(FluidSynthOutputOpen, TakesTheFirstSoundfontThatLoads)
{
    if (!SoundfontInstalled())
        GTEST_SKIP() << "no GM soundfont installed";
    std::vector<std::string> candidates = {"/nonexistent/none.sf2"};
    for (const auto& path : FluidSynthOutput::DefaultSoundfonts())
        candidates.push_back(path);
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts(candidates);
    ASSERT_TRUE(synth.Open());
    EXPECT_EQ(synth.Soundfont(), FluidSynthOutput::DefaultSoundfonts().front());
}

TEST(FluidSynthOutputOpen, FailsCleanlyWhenNoAudioDriverOpens)
{
    if (!SoundfontInstalled())
        GTEST_SKIP() << "no GM soundfont installed";
    FluidSynthOutput synth;
    synth.SetAudioDrivers({"no-such-driver"});
    EXPECT_FALSE(synth.Open());
    EXPECT_FALSE(synth.IsOpen());
    EXPECT_TRUE(synth.AudioDriver().empty());
    EXPECT_FALSE(synth.Send(0x007F4590));
    EXPECT_EQ(synth.WhyItDidNotOpen().rfind("no audio output", 0), 0u);
}

TEST(FluidSynthOutputOpen, WithoutPipeWiresClientConfigurationOneLineSaysSoAndTheNextOutputIsTried)
{
    if (!SoundfontInstalled())
        GTEST_SKIP() << "no GM soundfont installed";
    // A PipeWire socket, as a sandbox may offer one, and no client configuration anywhere.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("varnek-pw-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "config");
    std::ofstream(folder / "pipewire-0").put('\0');
    setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
    setenv("PIPEWIRE_CONFIG_DIR", (folder / "config").c_str(), 1);
    unsetenv("PIPEWIRE_REMOTE");

    FluidSynthOutput synth;
    synth.SetAudioDrivers({"pipewire", "no-such-driver"});
    testing::internal::CaptureStderr();
    EXPECT_FALSE(synth.Open());
    EXPECT_FALSE(synth.Open());
    const std::string told = testing::internal::GetCapturedStderr();
    std::filesystem::remove_all(folder);
    EXPECT_EQ(told.rfind("varnek: PipeWire's client configuration (client-rt.conf) is not installed", 0), 0u)
        << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
}

TEST(FluidSynthOutputBuffer, LatencyIsPeriodTimesPeriodsOverRate)
{
    const FluidSynthOutput::AudioBuffer buffer{128, 2, 48000};
    EXPECT_NEAR(buffer.Milliseconds(), 5.333, 0.001);
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    EXPECT_LE(synth.ConfiguredBuffer().Milliseconds(), 6.0);
}

namespace {

// A private copy of the installed soundfont, and a second name for the same file, so that the
// test can replace, remove and cut short the file the synth opened.
class SoundfontCopy {
public:
    SoundfontCopy() : m_path(TempPath("soundfont")), m_otherName(m_path + ".link")
    {
        std::filesystem::copy_file(FluidSynthOutput::DefaultSoundfonts().front(), m_path,
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::create_hard_link(m_path, m_otherName);
    }
    ~SoundfontCopy()
    {
        std::filesystem::remove(m_path);
        std::filesystem::remove(m_otherName);
    }
    const std::string& Path() const { return m_path; }
    void ReplaceWith(const std::string& text) const
    {
        const std::string next = m_path + ".new";
        std::ofstream(next) << text;
        std::filesystem::rename(next, m_path);
    }
    void Remove() const { std::filesystem::remove(m_path); }
    void CutTo(double fraction) const
    {
        std::filesystem::resize_file(m_otherName,
                                     std::uintmax_t(fraction * std::filesystem::file_size(m_otherName)));
    }

private:
    std::string m_path;
    std::string m_otherName;
};

} // namespace

// A package upgrade replaces or removes the soundfont while the synth plays from it, or a file
// is cut short: instruments chosen afterwards still come from the file the synth opened, or
// cannot be chosen, and what was loaded plays on, the backing with it.
TEST(FluidSynthOutputSoundfont, TheFileOpenedStaysTheFileRead)
{
    if (!SoundfontInstalled())
        GTEST_SKIP() << "no GM soundfont installed";
    const SoundfontCopy copy;
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({copy.Path()});
    ASSERT_TRUE(synth.Open());
    const auto play = [&synth](std::uint32_t program) {
        synth.Send(0x000000C0 | program << 8);
        synth.Send(0x007F4590);
        const float peak = Peak(LeftChannel(synth.Render(kRate / 5)));
        synth.Send(0x00004590);
        return peak;
    };
    ASSERT_GT(play(0), 0.02f);

    copy.ReplaceWith("not a soundfont any more");
    EXPECT_GT(play(19), 0.02f);
    copy.Remove();
    EXPECT_GT(play(40), 0.02f);

    const auto backing = [&synth] {
        synth.Send(0x003F3091); // a chord tone and a drum
        synth.Send(0x005F2699);
        const float peak = Peak(LeftChannel(synth.Render(kRate / 5)));
        synth.Send(0x00003091);
        return peak;
    };
    ASSERT_GT(backing(), 0.02f);

    testing::internal::CaptureStderr();
    copy.CutTo(0.4);
    for (std::uint32_t program = 41; program < 128; program += 3)
        EXPECT_GT(play(program), 0.02f) << program; // the channel keeps the instrument it had
    EXPECT_GT(backing(), 0.02f);
    EXPECT_GT(play(40), 0.02f); // still loaded from before, and the loss said once, naming the file
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(told.rfind("varnek: the soundfont " + copy.Path() + " was cut short or changed", 0), 0u)
        << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1);
}

TEST(FluidSynthOutputSoundfont, ADamagedSoundfontIsRefusedForTheNext)
{
    if (!SoundfontInstalled())
        GTEST_SKIP() << "no GM soundfont installed";
    const std::string installed = FluidSynthOutput::DefaultSoundfonts().front();
    const std::string cut = TempPath("cut");
    {
        // The start of the file, as a download or a copy cut short leaves it.
        std::ifstream in(installed, std::ios::binary);
        std::vector<char> start(1 << 20);
        in.read(start.data(), std::streamsize(start.size()));
        std::ofstream(cut, std::ios::binary).write(start.data(), std::streamsize(start.size()));
    }
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({cut, installed});
    ASSERT_TRUE(synth.Open());
    EXPECT_EQ(synth.Soundfont(), installed);
    std::filesystem::remove(cut);
}

namespace {

constexpr std::uint16_t kVelocity = 2; // a modulator source: note-on velocity, linear

// Counts the samples FluidSynth frees elsewhere [0] and while the offline synth renders [1], that
// is on its audio thread.
int g_frees[2] = {};
bool g_rendering = false;

void CountFrees(int, const char* message, void*)
{
    if (std::strncmp(message, "Unloading sample", 16) == 0)
        ++g_frees[g_rendering];
}

// The sine's one sample once more, unlooped: a zone of its own for every key plays it briefly.
const SoundfontBuilder::Sample kShortSine = {0, SoundfontBuilder::kPoints, 0, 0, 44100, 1};

// A piano that sounds briefly at every key, and at `key` also plays the looped sine 60 octaves
// up, from a zone with its root 60 keys below and 12 semitones a key: FluidSynth goes round the
// loop hundreds of thousands of times for each sample of sound.
void SlowAt(SoundfontBuilder& f, std::int16_t key)
{
    f.instrumentGenerators = {
        {43, std::int16_t(key | key << 8)}, {54, 1}, {56, 1200}, {58, std::int16_t(key - 60)}};
    f.samples.push_back(kShortSine);
    f.zoneForEverySample = true;
}

// One soundfont for each rule of the reader, and for what FluidSynth refuses as it plays the piano.
// clang-format off
const std::pair<const char*, void (*)(SoundfontBuilder&)> kHostileSoundfonts[] = {
    {"a modulator aimed at no generator",     [](auto& f) { f.instrumentModulators.push_back({kVelocity, 200, 100}); }},
    {"a modulator from no controller",        [](auto& f) { f.instrumentModulators.push_back({5, 48, 100}); }},
    {"a modulator's unknown transform",       [](auto& f) { f.instrumentModulators.push_back({kVelocity, 48, 100, 1}); }},
    {"velocity adding 960 semitones",         [](auto& f) { f.instrumentModulators.push_back({kVelocity, 51, 960}); }},
    {"a coarse tune of 30000 semitones",      [](auto& f) { f.instrumentGenerators.push_back({51, 30000}); }},
    {"a sample rate of 0xFFFFFFFF",           [](auto& f) { f.samples[0].rate = 0xFFFFFFFF; }},
    {"the only sample past the data",         [](auto& f) { f.samples[0].end = 2 * SoundfontBuilder::kPoints; }},
    {"a compressed sample",                   [](auto& f) { f.samples[0].type = 0x11; }},
    {"an instrument that is not there",       [](auto& f) { f.instrument = 1; }},
    {"a sample that is not there",            [](auto& f) { f.sample = 1; }},
    {"generator indices that fall",           [](auto& f) { f.firstGenerator = 2; }},
    {"no presets",                            [](auto& f) { f.hasPreset = false; }},
    {"no piano",                              [](auto& f) { f.program = 1; }},
    {"a piano in a sound ROM",                [](auto& f) { f.samples[0].type = 0x8001; }},
    {"a piano 144 dB down",                   [](auto& f) { f.instrumentGenerators.push_back({48, 1440}); }},
    {"a piano too slow at A4",                [](auto& f) { SlowAt(f, 69); }},
    {"100,000 tiny chunks after the samples", [](auto& f) { f.chunksAfterSamples = 100000; }},
    {"a 600 MB comment",                      [](auto& f) { f.commentBytes = 600 << 20; }},
    {"1.2 GB of sample points in a hole",     [](auto& f) { f.holePoints = 600'000'000; f.samples[0].end += f.holePoints; }},
    {"a name of 300 bytes",                   [](auto& f) { f.name.resize(300, 'x'); }},
    {"65,537 samples",                        [](auto& f) { f.samples.resize(65537, f.samples[0]); }},
    {"65,534 zones naming 65,534 samples",    [](auto& f) { f.samples.resize(65534, {0, 1, 0, 0, 44100, 1}); f.zoneForEverySample = true; }},
    {"SoundFont 3",                           [](auto& f) { f.majorVersion = 3; }},
};
// clang-format on

} // namespace

TEST(FluidSynthOutputSoundfont, EachHostileSoundfontIsRefusedByNameAndTheGoodOneBesideItPlays)
{
    const std::string good = TempPath("good");
    const std::string hostile = TempPath("hostile");
    ASSERT_TRUE(SoundfontBuilder().Write(good));
    for (const auto& [what, spoil] : kHostileSoundfonts) {
        SoundfontBuilder soundfont;
        spoil(soundfont);
        ASSERT_TRUE(soundfont.Write(hostile)) << what;
        FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
        synth.SetSoundfonts({hostile, good});
        ASSERT_TRUE(synth.Open()) << what;
        EXPECT_EQ(synth.Soundfont(), good) << what;
        EXPECT_EQ(synth.SetAsideSoundfonts(), std::vector{SoundfontFile::Damaged(hostile)}) << what;
    }
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({good});
    ASSERT_TRUE(synth.Open());
    ASSERT_TRUE(synth.Send(0x007F4590));
    EXPECT_NEAR(PitchOf(LeftChannel(synth.Render(kRate / 4))), 441.0, 441.0 * 0.01);
    std::filesystem::remove(good);
    std::filesystem::remove(hostile);
}

// What only FluidSynth can judge, it judges as it plays: loops however short, as in Debian's other
// General MIDI soundfont, TimGM6mb, whose samples have loops of five points.
TEST(FluidSynthOutputSoundfont, WhatFluidSynthPlaysIsTaken)
{
    const std::string shortLoop = TempPath("short-loop");
    SoundfontBuilder soundfont;
    soundfont.samples[0].loopEnd = soundfont.samples[0].loopStart + 2;
    ASSERT_TRUE(soundfont.Write(shortLoop));
    std::vector<std::string> soundfonts = {shortLoop};
    const std::string timGm = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (std::filesystem::exists(timGm))
        soundfonts.push_back(timGm);
    for (const auto& path : soundfonts) {
        FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
        synth.SetSoundfonts({path});
        ASSERT_TRUE(synth.Open()) << synth.WhyItDidNotOpen();
        ASSERT_TRUE(synth.Send(0x007F4590));
        EXPECT_GT(Peak(synth.Render(kRate / 4)), 0.05f) << path;
    }
    std::filesystem::remove(shortLoop);
}

// A note that takes more work to render than it lasts is silenced in the block that took it, and
// that is said once; the rest of the instrument plays on.
TEST(FluidSynthOutputSoundfont, ANoteTooSlowToRenderIsSilencedAndToldOnce)
{
    const std::string slow = TempPath("slow");
    SoundfontBuilder soundfont;
    SlowAt(soundfont, 60);
    ASSERT_TRUE(soundfont.Write(slow));
    FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
    synth.SetSoundfonts({slow});
    ASSERT_TRUE(synth.Open());
    testing::internal::CaptureStderr();
    for (int time = 0; time < 2; ++time) {
        ASSERT_TRUE(synth.Send(0x007F3C90)); // middle C, held
        synth.Render(kRate / 2);
        EXPECT_LT(Peak(synth.Render(kRate / 5)), 1e-3f) << "middle C sounds on";
        synth.Send(0x00003C90);
    }
    ASSERT_TRUE(synth.Send(0x007F4590));
    EXPECT_GT(Peak(synth.Render(kRate / 5)), 0.02f);
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(told.rfind("varnek: the soundfont " + slow + " took longer to play than its sound lasts", 0),
              0u)
        << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1);
    std::filesystem::remove(slow);
}

// What stands at a soundfont's place instead of a file that can be read is named, and a FIFO
// there does not hold the open.
TEST(FluidSynthOutputSoundfont, WhatStandsInASoundfontsPlaceIsNamed)
{
    const std::string good = TempPath("good");
    const std::string place = TempPath("place");
    ASSERT_TRUE(SoundfontBuilder().Write(good));
    const auto setAsideAs = [&](const std::string& line) {
        FluidSynthOutput synth(FluidSynthOutput::Sink::Offline);
        synth.SetSoundfonts({place, good});
        EXPECT_TRUE(synth.Open());
        std::filesystem::remove(place);
        return synth.SetAsideSoundfonts().size() == 1 && synth.SetAsideSoundfonts()[0].rfind(line, 0) == 0;
    };
    ASSERT_EQ(mkfifo(place.c_str(), 0600), 0);
    EXPECT_TRUE(setAsideAs("the soundfont " + place + " is not a regular file"));
    ASSERT_EQ(symlink(place.c_str(), place.c_str()), 0);
    EXPECT_TRUE(setAsideAs("the soundfont link " + place + " leads round in a loop"));
    ASSERT_EQ(symlink((place + ".gone").c_str(), place.c_str()), 0);
    EXPECT_TRUE(
        setAsideAs("the soundfont link " + place + " leads to " + place + ".gone, which does not exist"));
    ASSERT_TRUE(SoundfontBuilder().Write(place));
    ASSERT_EQ(chmod(place.c_str(), 0), 0);
    if (access(place.c_str(), R_OK) != 0) { // root reads it all the same
        EXPECT_TRUE(setAsideAs("the soundfont " + place + " cannot be read: Permission denied"));
    }
    std::filesystem::remove(place);
    std::filesystem::remove(good);
}

// Instruments let go, while their notes still sound and before the audio thread has played the
// change away from them, have their samples freed on the sending thread, never while rendering.
TEST_F(OfflineSynth, SamplesLetGoAreNeverFreedOnTheAudioThread)
{
    fluid_set_log_function(FLUID_DBG, CountFrees, nullptr);
    const auto render = [this](double seconds) {
        g_rendering = true;
        RenderSeconds(seconds);
        g_rendering = false;
    };
    for (std::uint32_t program = 1; program < 24; program += 2) {
        synth.Send(0x007F4590);
        render(0.05);
        synth.Send(0x00004590);
        synth.Send(0x000000C0 | program << 8);
        synth.Send(0x000000C0 | (program + 1) << 8);
        render(0.2);
    }
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    EXPECT_EQ(g_frees[true], 0);
    EXPECT_GT(g_frees[false], 0);
}
