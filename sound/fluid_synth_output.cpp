#include "sound/fluid_synth_output.h"

#include "sound/abandon.h"
#include "sound/alsa_pcm_stream.h"
#include "sound/jack_server_watch.h"
#include "sound/library_logs.h"
#include "sound/midi_short_message.h"
#include "sound/pipe_wire_stream.h"
#include "sound/pulse_audio_stream.h"
#include "sound/soundfont_file.h"
#include "sound/tell_user.h"
#include "sound/thread_name.h"

#include <fluidsynth.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <system_error>

namespace {

constexpr const char* kSoundfontFolder = "/usr/share/sounds/sf2";
constexpr const char* kSoundfontNames[] = {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"};
constexpr const char* kOtherSoundfontsFolder = "/usr/share/soundfonts/";

constexpr int kDrumChannel = 9;
constexpr int kDrumBank = 128;
constexpr int kPianoBank = 0;
constexpr int kPianoProgram = 0;
// The instrument chosen and the one before it: going back and forth between two costs no
// reading, and a third lets go of the oldest.
constexpr std::ptrdiff_t kKeptInstruments = 2;

// A client can read the server's period size but not how many periods it keeps; JACK's
// backends double-buffer by default.
constexpr int kJackPeriods = 2;

// What the piano plays when a soundfont is tried: A4 at full velocity, for a fifth of a second,
// which must reach above -60 dBFS.
constexpr int kTriedKey = 69;
constexpr double kTriedSeconds = 0.2;
constexpr float kAudible = 1e-3f;

// The CPU time the calling thread has had: a render is judged by the work it took, not by the
// time a busy machine kept the thread from its core.
double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

// A thread held up (a page fault, a virtual machine's host running something else, whose time
// counts as the thread's) loses a few milliseconds, up to about 20; sixteen blocks of 128 frames
// last over 40.
constexpr double kHeldUpAtMost = 16;

// Above -100 dBFS: the reverb never quite falls to zero.
bool AnySound(const float* samples, int frames)
{
    constexpr float kSilence = 1e-5f;
    return std::any_of(samples, samples + frames, [](float sample) { return std::fabs(sample) > kSilence; });
}

std::vector<std::string> SoundfontsIn(const std::filesystem::path& folder)
{
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".sf2")
            found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

FluidSynthOutput::AudioBuffer FluidSynthOutput::ConfiguredBuffer() const
{
    if (m_pipeWire)
        return {int(kPeriodSize * m_sampleRate / kPreferredSampleRate), 1, m_sampleRate};
    if (m_pulse)
        return {kPeriodSize, double(kPulseTargetFrames) / kPeriodSize, m_sampleRate};
    return {kPeriodSize, kPeriods, m_sampleRate};
}

FluidSynthOutput::AudioBuffer FluidSynthOutput::GrantedBuffer() const
{
    if (m_pipeWire) {
        const PipeWireStream::Buffer granted = m_pipeWire->Granted();
        return granted.quantumFrames > 0 ? AudioBuffer{granted.quantumFrames, 1, granted.sampleRate}
                                         : AudioBuffer{};
    }
    if (m_alsa) {
        const AlsaPcmStream::Buffer granted = m_alsa->Granted();
        return {granted.periodFrames, double(granted.periods), granted.sampleRate};
    }
    if (!m_pulse)
        return m_granted;
    const PulseAudioStream::Buffer granted = m_pulse->Granted();
    if (granted.blockFrames <= 0)
        return {};
    return {granted.blockFrames, double(granted.targetFrames) / granted.blockFrames, granted.sampleRate};
}

// A PipeWire or PulseAudio stream whose server has gone waits for it to come back and plays
// again by itself; until then the synth counts as cut off, so that choosing it again opens it
// anew, through whatever output there is now.
bool FluidSynthOutput::IsConnected() const
{
    return m_synth && !(m_jack && m_jack->ServerGone()) && !(m_pulse && !m_pulse->IsPlaying()) &&
           !(m_pipeWire && !m_pipeWire->IsPlaying()) && !(m_alsa && !m_alsa->IsPlaying());
}

double FluidSynthOutput::AudioBuffer::Milliseconds() const
{
    return sampleRate > 0 ? 1000.0 * periodSize * periods / sampleRate : 0;
}

FluidSynthOutput::FluidSynthOutput(Sink sink)
    : m_sink(sink), m_soundfontCandidates(DefaultSoundfonts()), m_driverCandidates(DefaultAudioDrivers())
{
}

FluidSynthOutput::~FluidSynthOutput() { Close(); }

std::vector<std::string> FluidSynthOutput::DefaultSoundfonts()
{
    std::vector<std::string> paths;
    for (const char* name : kSoundfontNames)
        paths.push_back(std::string(kSoundfontFolder) + "/" + name);
    for (auto& path : SoundfontsIn(kOtherSoundfontsFolder))
        paths.push_back(std::move(path));
    return paths;
}

std::vector<std::string> FluidSynthOutput::DefaultAudioDrivers()
{
    return {"pipewire", "pulseaudio", "jack", "alsa"};
}

bool FluidSynthOutput::Open()
{
    Close();
    SilenceSoundLibraryLogs();
    m_queue.Clear();
    m_limiter.Reset();
    m_settings = new_fluid_settings();
    // Finding the JACK server takes as long as reading the soundfont, so both go on at once.
    // The watch found stays the one in use while this holds it, and the driver takes it.
    std::future<std::shared_ptr<JackServerWatch>> jackAhead;
    if (WillTryJack())
        jackAhead = std::async(std::launch::async, [] {
            NameThisThread("varnek-jackseek");
            return JackServerWatch::Connect();
        });
    const bool synthReady = m_settings && CreateSynth(kPreferredSampleRate);
    const std::shared_ptr<JackServerWatch> jack = jackAhead.valid() ? jackAhead.get() : nullptr;
    if (synthReady && (m_sink == Sink::Offline || StartAudio()))
        return true;
    m_whyNotOpen = WhyNotOpen();
    Close();
    return false;
}

void FluidSynthOutput::Close()
{
    StopAudio();
    DeleteSynth();
    if (m_settings)
        delete_fluid_settings(m_settings);
    m_settings = nullptr;
    m_jack.reset();
    m_driver.clear();
    m_granted = {};
}

void FluidSynthOutput::ConfigureSettings(double sampleRate)
{
    fluid_settings_setnum(m_settings, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(m_settings, "synth.gain", kGain);
    // The chorus adds up to 16 dB to some lead presets and little else.
    fluid_settings_setint(m_settings, "synth.chorus.active", 0);
    // Samples are loaded when a preset is first chosen: opening takes a few tens of
    // milliseconds and a fraction of the memory instead of reading the whole soundfont.
    fluid_settings_setint(m_settings, "synth.dynamic-sample-loading", 1);
    fluid_settings_setint(m_settings, "audio.period-size", kPeriodSize);
    fluid_settings_setint(m_settings, "audio.periods", kPeriods);
    // Unconnected JACK ports play to nobody.
    fluid_settings_setint(m_settings, "audio.jack.autoconnect", 1);
    fluid_settings_setstr(m_settings, "audio.jack.id", "Varnek Synth");
}

bool FluidSynthOutput::CreateSynth(double sampleRate)
{
    m_sampleRate = sampleRate;
    ConfigureSettings(sampleRate);
    m_synth = new_fluid_synth(m_settings);
    if (!m_synth)
        return false;
    m_voices.assign(std::size_t(fluid_synth_get_polyphony(m_synth)), nullptr);
    return LoadSoundfont();
}

void FluidSynthOutput::DeleteSynth()
{
    if (m_synth)
        delete_fluid_synth(m_synth);
    m_synth = nullptr;
    m_soundfontFile.reset();
    m_soundfont.clear();
    m_soundfontId = -1;
    m_channelHasSound = {};
    m_chosen = {};
    m_keptPrograms.clear();
    m_lettingGo.clear();
    m_toldSamplesCannotBeRead = false;
    m_toldTooSlow = false;
    m_silencedForTime.store(0);
}

bool FluidSynthOutput::LoadSoundfont()
{
    // The synth reads the file it opened through our loader, which it tries before its own.
    fluid_synth_add_sfloader(m_synth, SoundfontFile::NewLoader(m_settings));
    m_setAside.clear();
    for (const auto& path : m_soundfontCandidates) {
        // A file that breaks the format's rules is refused before FluidSynth parses it, which
        // would complain on the terminal or worse.
        std::string refusal;
        if (auto file = SoundfontFile::Open(path, refusal)) {
            if (PlaysThePiano(std::move(file)))
                return true;
            refusal = SoundfontFile::Damaged(path);
        }
        if (!refusal.empty())
            m_setAside.push_back(refusal);
    }
    return false;
}

// FluidSynth loads the soundfont and reads all the piano's samples, and the piano sounds as it
// renders, or the soundfont is let go for the next. The piano is what a channel plays first, so
// its samples are read now rather than at the first note.
bool FluidSynthOutput::PlaysThePiano(std::unique_ptr<SoundfontFile> file)
{
    const int id = fluid_synth_sfload(m_synth, file->LoaderName().c_str(), 0);
    if (id == FLUID_FAILED)
        return false;
    m_soundfontId = id;
    m_soundfontFile = std::move(file);
    if (KeepLoaded({kPianoBank, kPianoProgram}) && PianoSoundsInTime()) {
        m_soundfont = m_soundfontFile->Path();
        return true;
    }
    fluid_synth_sfunload(m_synth, id, 0);
    m_keptPrograms.clear();
    m_soundfontFile.reset();
    m_soundfontId = -1;
    return false;
}

// Only FluidSynth knows what its piano sounds like, so it plays a note, here before any audio
// output runs: it must be heard, and take less work than it lasts. The note is judged whole: a
// block of it may take longer when the thread was held up (a page fault, a virtual machine whose
// host ran something else meanwhile counts that time as the thread's), while a piano too costly
// to play is so in every block. The reverb
// stays out of it, so that nothing of the note is left to sound later.
bool FluidSynthOutput::PianoSoundsInTime()
{
    fluid_synth_reverb_on(m_synth, -1, 0);
    fluid_synth_program_select(m_synth, 0, m_soundfontId, kPianoBank, kPianoProgram);
    double start = ThreadCpuSeconds(); // the note-on counts with the first block
    fluid_synth_noteon(m_synth, 0, kTriedKey, 127);
    float peak = 0;
    double work = 0;
    for (int done = 0; work <= kTriedSeconds && done < kTriedSeconds * m_sampleRate; done += kPeriodSize) {
        m_blockLeft.fill(0.0f);
        m_blockRight.fill(0.0f);
        float* channels[] = {m_blockLeft.data(), m_blockRight.data()};
        fluid_synth_process(m_synth, kPeriodSize, 2, channels, 2, channels);
        const double end = ThreadCpuSeconds();
        work += end - start;
        start = end;
        for (float sample : m_blockLeft)
            peak = std::max(peak, std::fabs(sample));
    }
    // The note ends for good only in the block after it is silenced.
    fluid_synth_all_sounds_off(m_synth, 0);
    float* channels[] = {m_blockLeft.data(), m_blockRight.data()};
    fluid_synth_process(m_synth, kPeriodSize, 2, channels, 2, channels);
    fluid_synth_unset_program(m_synth, 0);
    fluid_synth_reverb_on(m_synth, -1, 1);
    return work <= kTriedSeconds && peak > kAudible;
}

std::string FluidSynthOutput::WhyNotOpen() const
{
    if (m_soundfontId >= 0)
        return "no audio output: no PipeWire, PulseAudio or JACK server and no ALSA device";
    if (!m_setAside.empty())
        return m_setAside.front();
    return std::string("no General MIDI soundfont found in ") + kSoundfontFolder +
           " \u2014 install fluid-soundfont-gm";
}

// A PulseAudio (or PipeWire) server listens on a socket in the user's runtime folder, or
// where PULSE_SERVER says. Without one, asking the library costs tens of milliseconds at
// every start for nothing.
static bool PulseServerMayRun()
{
    if (std::getenv("PULSE_SERVER") != nullptr)
        return true;
    std::error_code error;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
        return std::filesystem::exists(std::string(runtime) + "/pulse/native", error);
    return std::filesystem::exists("/run/user/" + std::to_string(getuid()) + "/pulse/native", error);
}

// A JACK driver whose server has gone is left as it is, with the target of its calls: its
// process thread may still be rendering, or be woken by a new server of the same name.
void FluidSynthOutput::StopAudio()
{
    m_pipeWire.reset();
    m_pulse.reset();
    m_alsa.reset();
    if (m_audio && m_jack && m_jack->ServerGone()) {
        m_audioTarget->LetGo();
        Abandon(m_audio);
        Abandon(m_audioTarget.release());
    } else if (m_audio) {
        delete_fluid_audio_driver(m_audio);
    }
    m_audio = nullptr;
    m_audioTarget.reset();
}

// JACK comes after PipeWire and PulseAudio, which are tried only where their servers may run.
bool FluidSynthOutput::WillTryJack() const
{
    const auto offered = [this](const char* driver) {
        return std::find(m_driverCandidates.begin(), m_driverCandidates.end(), driver) !=
               m_driverCandidates.end();
    };
    return m_sink == Sink::AudioDevice && offered("jack") &&
           !(offered("pulseaudio") && PulseServerMayRun()) &&
           !(offered("pipewire") && PipeWireStream::ServerMayRun());
}

bool FluidSynthOutput::StartAudio()
{
    for (const auto& driver : m_driverCandidates) {
        const bool opened = driver == "pipewire"     ? TryPipeWire()
                            : driver == "pulseaudio" ? TryPulse()
                            : driver == "jack"       ? TryJack()
                            : driver == "alsa"       ? TryAlsa()
                                                     : TryDriver(driver);
        if (opened)
            return true;
        // A synth that could not be made again at a server's rate has nothing left to play.
        if (!m_synth || m_soundfontId < 0)
            return false;
    }
    return false;
}

bool FluidSynthOutput::TryDriver(const std::string& driver)
{
    if (fluid_settings_setstr(m_settings, "audio.driver", driver.c_str()) == FLUID_FAILED)
        return false;
    m_audioTarget = std::make_unique<CallbackTarget<FluidSynthOutput>>(this);
    m_driverThreadUnnamed = true;
    m_audio = new_fluid_audio_driver2(m_settings, &FluidSynthOutput::RenderPeriod, m_audioTarget.get());
    if (!m_audio) {
        m_audioTarget.reset();
        return false;
    }
    m_driver = driver;
    m_granted = ConfiguredBuffer(); // FluidSynth does not tell what ALSA granted
    return true;
}

// FluidSynth's JACK driver starts a server when none runs, which hangs for seconds where it
// cannot, so it is tried only while a server is already there. The synth then has to run at
// the server's rate.
bool FluidSynthOutput::TryJack()
{
    m_jack = JackServerWatch::Connect();
    if (!m_jack)
        return false;
    const double serverRate = m_jack->SampleRate();
    if (!AtRate(serverRate) || !TryDriver("jack")) {
        m_jack.reset();
        return false;
    }
    m_granted = {int(m_jack->BufferSize()), kJackPeriods, serverRate};
    return true;
}

// A synth made for another rate is made again at this one.
bool FluidSynthOutput::AtRate(double sampleRate)
{
    if (sampleRate == m_sampleRate)
        return true;
    DeleteSynth();
    return CreateSynth(sampleRate);
}

// PipeWire's PulseAudio service runs its clients in cycles of at least 256 frames, which puts
// about 9 ms between a key and its sound; a node of our own asks the graph for 128 frames and
// is rendered in the cycle itself. The synth runs at the graph's rate.
bool FluidSynthOutput::TryPipeWire()
{
    if (!PipeWireStream::ServerMayRun())
        return false;
    m_pipeWire = std::make_unique<PipeWireStream>(
        PipeWireStream::Identity{"Varnek", "varnek"},
        PipeWireStream::Buffer{kPeriodSize, kPreferredSampleRate},
        [this](float* interleaved, int frames) { RenderInterleaved(interleaved, frames); });
    if (!m_pipeWire->Connect() || !AtRate(m_pipeWire->GraphRate()) || !m_pipeWire->Play(m_sampleRate)) {
        m_pipeWire.reset();
        return false;
    }
    m_driver = "pipewire";
    return true;
}

// FluidSynth's own PulseAudio driver asks the server for a single period, which leaves less
// than one block queued: it underruns all the time and wakes both processes hundreds of times
// a second even in silence. Our own stream states a target of about 6 ms in blocks of 128
// frames, and rests while nothing sounds.
bool FluidSynthOutput::TryPulse()
{
    if (!PulseServerMayRun())
        return false;
    const PulseAudioStream::Buffer wanted{kPeriodSize, kPulseTargetFrames, m_sampleRate,
                                          fluid_synth_get_internal_bufsize(m_synth)};
    m_pulse = std::make_unique<PulseAudioStream>(
        "Varnek", wanted, [this](float* interleaved, int frames) { RenderInterleaved(interleaved, frames); });
    if (!m_pulse->Open()) {
        m_pulse.reset();
        return false;
    }
    m_driver = "pulseaudio";
    return true;
}

// FluidSynth's own ALSA driver plays only on "default", which is no card at all where card 0
// is a MIDI keyboard's, and does not come back when its card goes. Our own stream plays on the
// first card that can play, in periods of 128 frames, and finds a card again by itself.
bool FluidSynthOutput::TryAlsa()
{
    const AlsaPcmStream::Buffer wanted{kPeriodSize, kPeriods, m_sampleRate};
    m_alsa = std::make_unique<AlsaPcmStream>(
        wanted, [this](float* interleaved, int frames) { RenderInterleaved(interleaved, frames); });
    if (!m_alsa->Open()) {
        m_alsa.reset();
        return false;
    }
    m_driver = "alsa";
    return true;
}

bool FluidSynthOutput::Queue(std::uint32_t message)
{
    if (!m_queue.Push(message))
        return false;
    if (m_pipeWire)
        m_pipeWire->Wake();
    if (m_pulse)
        m_pulse->Wake();
    if (m_alsa)
        m_alsa->Wake();
    return true;
}

bool FluidSynthOutput::Send(std::uint32_t message)
{
    if (!m_synth)
        return false;
    if (m_silencedForTime.load(std::memory_order_relaxed) != 0)
        TellSilencedForTime();
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    switch (decoded.IsValid() ? decoded.Kind() : 0) {
    case 0x80:
    case 0x90:
    case 0xB0:
    case 0xD0:
    case 0xE0:
        // A channel used before any program change plays what a General MIDI device starts
        // with: the piano, or the standard kit on the drum channel.
        if (!m_channelHasSound[decoded.Channel()] && !ChooseProgram(decoded.Channel(), 0))
            return false;
        return Queue(message);
    case 0xC0:
        return ChooseProgram(decoded.Channel(), decoded.Data1());
    default:
        return false;
    }
}

// The program's samples are read here, on the sender's thread, so that the audio thread finds
// them loaded when it plays the change.
bool FluidSynthOutput::ChooseProgram(int channel, int number)
{
    const Program program{channel == kDrumChannel ? kDrumBank : 0, number};
    {
        std::lock_guard loading(m_loading);
        const bool loaded = KeepLoaded(program);
        UnpinWhatIsNoLongerHeard();
        if (!loaded) {
            // Its samples could not be read: the change is not played, so the audio thread
            // never tries to read them, and the channel keeps the program it had, loaded.
            m_channelHasSound[channel] = true;
            return false;
        }
    }
    // A full queue keeps the latest change aside, never refusing it.
    if (!Queue(std::uint32_t(0xC0 | channel) | std::uint32_t(number) << 8))
        return false;
    m_chosen[channel] = program;
    m_channelHasSound[channel] = true;
    return true;
}

// Pinned programs stay loaded whatever the channels do. A program's samples that cannot all be
// read, because the file was cut short or changed on disk, leave the program out.
bool FluidSynthOutput::KeepLoaded(const Program& program)
{
    const auto kept = std::find(m_keptPrograms.begin(), m_keptPrograms.end(), program);
    if (kept != m_keptPrograms.end()) {
        std::rotate(kept, kept + 1, m_keptPrograms.end());
        return true;
    }
    const auto leaving = std::find_if(m_lettingGo.begin(), m_lettingGo.end(),
                                      [&program](const LettingGo& old) { return old.program == program; });
    if (leaving != m_lettingGo.end()) {
        m_lettingGo.erase(leaving);
    } else {
        const unsigned failedReads = m_soundfontFile->FailedSampleReads();
        if (fluid_synth_pin_preset(m_synth, m_soundfontId, program.bank, program.number) != FLUID_OK)
            return false;
        if (m_soundfontFile->FailedSampleReads() != failedReads) {
            fluid_synth_unpin_preset(m_synth, m_soundfontId, program.bank, program.number);
            TellSamplesCannotBeRead();
            return false;
        }
    }
    m_keptPrograms.push_back(program);
    LetGoOfTheOldest();
    return true;
}

// Beyond the two latest instruments, the oldest is let go. Drum kits are never let go: the
// backing plays one all the time.
void FluidSynthOutput::LetGoOfTheOldest()
{
    const auto instrument = [](const Program& kept) { return kept.bank != kDrumBank; };
    while (std::count_if(m_keptPrograms.begin(), m_keptPrograms.end(), instrument) > kKeptInstruments) {
        const auto oldest = std::find_if(m_keptPrograms.begin(), m_keptPrograms.end(), instrument);
        m_lettingGo.push_back({*oldest, std::nullopt, std::nullopt});
        m_keptPrograms.erase(oldest);
    }
}

// Unpinned, a program whose samples nothing else holds has them freed by FluidSynth at once, on
// the thread that unpins it. So a program let go stays pinned until nothing can need them: else
// the audio thread would free them, when it plays the change away from the program or ends the
// last voice that sounded it.
void FluidSynthOutput::UnpinWhatIsNoLongerHeard()
{
    for (auto old = m_lettingGo.begin(); old != m_lettingGo.end();) {
        if (NoLongerHeard(*old)) {
            fluid_synth_unpin_preset(m_synth, m_soundfontId, old->program.bank, old->program.number);
            old = m_lettingGo.erase(old);
        } else {
            ++old;
        }
    }
}

// No channel has the program, the audio thread has played the changes away from it, and the
// voices that sounded then have ended. Voices are numbered in the order they start, and none
// started later plays the program.
bool FluidSynthOutput::NoLongerHeard(LettingGo& old)
{
    if (std::find(m_chosen.begin(), m_chosen.end(), old.program) != m_chosen.end()) {
        old.heardUntil.reset();
        old.lastVoice.reset();
        return false;
    }
    if (!old.heardUntil)
        old.heardUntil = m_queue.Pushed();
    if (m_queue.Played() < *old.heardUntil)
        return false;
    if (!old.lastVoice) {
        old.lastVoice = NewestVoiceUpTo(UINT_MAX);
        return !old.lastVoice;
    }
    return !NewestVoiceUpTo(*old.lastVoice);
}

// The newest sounding voice numbered `id` or below, if any.
std::optional<unsigned> FluidSynthOutput::NewestVoiceUpTo(unsigned id)
{
    fluid_synth_get_voicelist(m_synth, m_voices.data(), int(m_voices.size()), -1);
    std::optional<unsigned> newest;
    for (const fluid_voice_t* voice : m_voices) {
        if (!voice)
            break;
        const unsigned number = fluid_voice_get_id(voice);
        if (number <= id && (!newest || number > *newest))
            newest = number;
    }
    return newest;
}

// Said once; while a soundfont is still being tried, a failed read sets it aside instead.
void FluidSynthOutput::TellSamplesCannotBeRead()
{
    if (m_toldSamplesCannotBeRead || m_soundfont.empty())
        return;
    m_toldSamplesCannotBeRead = true;
    TellUser("the soundfont " + m_soundfont +
             " was cut short or changed while Varnek ran, so instruments not loaded yet cannot be chosen "
             "\u2014 restart Varnek, and reinstall fluid-soundfont-gm if they still cannot");
}

// Said once, naming the program of a channel the audio thread silenced.
void FluidSynthOutput::TellSilencedForTime()
{
    const unsigned channels = m_silencedForTime.exchange(0);
    if (m_toldTooSlow || channels == 0)
        return;
    m_toldTooSlow = true;
    int channel = 0;
    while (!(channels >> channel & 1u))
        ++channel;
    const Program program = m_chosen[channel].value_or(Program{channel == kDrumChannel ? kDrumBank : 0, 0});
    TellUser("the soundfont " + m_soundfont + " took longer to play than its sound lasts (bank " +
             std::to_string(program.bank) + ", program " + std::to_string(program.number) + ", channel " +
             std::to_string(channel + 1) + "), so the notes that made it slow were silenced");
}

// While the sender loads samples it holds the synth for tens of milliseconds; the messages
// then wait for a later period instead of the audio thread waiting for the synth.
void FluidSynthOutput::PlayQueued()
{
    std::unique_lock loading(m_loading, std::try_to_lock);
    if (loading.owns_lock())
        m_queue.Drain([this](std::uint32_t message) { Play(message); });
}

void FluidSynthOutput::Play(std::uint32_t message)
{
    const MidiShortMessage decoded = MidiShortMessage::Unpack(message);
    const int channel = decoded.Channel();
    switch (decoded.Kind()) {
    case 0x80:
        fluid_synth_noteoff(m_synth, channel, decoded.Data1());
        break;
    case 0x90: // FluidSynth takes velocity 0 as the note off it is
        fluid_synth_noteon(m_synth, channel, decoded.Data1(), decoded.Data2());
        if (decoded.Data2() != 0)
            m_startedThisBlock |= 1u << channel;
        break;
    case 0xB0:
        fluid_synth_cc(m_synth, channel, decoded.Data1(), decoded.Data2());
        break;
    case 0xC0:
        fluid_synth_program_change(m_synth, channel, decoded.Data1());
        break;
    case 0xD0:
        fluid_synth_channel_pressure(m_synth, channel, decoded.Data1());
        break;
    case 0xE0:
        fluid_synth_pitch_bend(m_synth, channel, decoded.Data1() | decoded.Data2() << 7);
        break;
    }
}

// Called by FluidSynth's JACK or ALSA driver for every period; silence once we have let go of
// the driver.
int FluidSynthOutput::RenderPeriod(void* target, int frames, int effectCount, float* effects[],
                                   int outputCount, float* outputs[])
{
    int result = FLUID_OK;
    const bool reached =
        static_cast<CallbackTarget<FluidSynthOutput>*>(target)->Reach([&](FluidSynthOutput& output) {
            result = output.RenderDriverPeriod(frames, effectCount, effects, outputCount, outputs);
        });
    if (!reached) {
        for (int i = 0; i < outputCount; ++i)
            std::fill_n(outputs[i], frames, 0.0f);
    }
    return result;
}

// Drivers that keep no separate effect buffers get the reverb mixed into the output. The
// driver's thread is the library's own, and named here as it first renders.
int FluidSynthOutput::RenderDriverPeriod(int frames, int effectCount, float* effects[], int outputCount,
                                         float* outputs[])
{
    if (m_driverThreadUnnamed) {
        NameThisThread("varnek-synth-rt");
        m_driverThreadUnnamed = false;
    }
    const int result = effects ? ProcessBlock(frames, effectCount, effects, outputCount, outputs)
                               : ProcessBlock(frames, outputCount, outputs, outputCount, outputs);
    if (outputCount >= 2)
        m_limiter.Process(outputs[0], outputs[1], frames);
    return result;
}

// One block within its time: the messages that arrived before it are played, then it is
// rendered. Two blocks in a row that took more work than they last silence the channels that
// began a note in them, or every channel when none did, and the sender says so; one such block
// alone is the thread held up, not the sound's cost, unless it took far longer than a hold-up
// does, and then it silences them at once. A voice that costs that much costs it in
// every block, so the next block is in time again. The thread's CPU time is read only while
// something sounds or is to be played.
int FluidSynthOutput::ProcessBlock(int frames, int effectCount, float* effects[], int outputCount,
                                   float* outputs[])
{
    SilenceTheSlow();
    const bool timed = m_lastBlockSounded || m_queue.Pushed() != m_queue.Played();
    const double start = timed ? ThreadCpuSeconds() : 0;
    PlayQueued();
    const int result = fluid_synth_process(m_synth, frames, effectCount, effects, outputCount, outputs);
    const double work = timed ? ThreadCpuSeconds() - start : 0;
    const double length = frames / m_sampleRate;
    const bool slow = work > length;
    if ((slow && m_lastBlockSlow) || work > kHeldUpAtMost * length) {
        const unsigned started = m_startedThisBlock | m_startedLastBlock;
        m_slowChannels |= started != 0 ? started : 0xFFFFu;
        m_silencedForTime.fetch_or(m_slowChannels, std::memory_order_relaxed);
        SilenceTheSlow();
    }
    m_lastBlockSlow = slow;
    m_startedLastBlock = m_startedThisBlock;
    m_startedThisBlock = 0;
    m_lastBlockSounded = outputCount > 0 && AnySound(outputs[0], frames);
    return result;
}

// Like every call into the synth from the audio thread, only while the sender is not loading
// samples, which holds the synth for tens of milliseconds; else in the next block.
void FluidSynthOutput::SilenceTheSlow()
{
    if (m_slowChannels == 0)
        return;
    std::unique_lock loading(m_loading, std::try_to_lock);
    if (!loading.owns_lock())
        return;
    for (int channel = 0; channel < 16; ++channel) {
        if (m_slowChannels >> channel & 1u)
            fluid_synth_all_sounds_off(m_synth, channel);
    }
    m_slowChannels = 0;
}

// Block by block, each after the messages that arrived before it, so a note waits for no more
// than one block however much the server asks for at once.
void FluidSynthOutput::RenderInterleaved(float* interleaved, int frames)
{
    for (int done = 0; done < frames; done += kPeriodSize) {
        const int block = std::min(kPeriodSize, frames - done);
        m_blockLeft.fill(0.0f); // the synth adds its sound to what the buffers hold
        m_blockRight.fill(0.0f);
        float* channels[] = {m_blockLeft.data(), m_blockRight.data()};
        ProcessBlock(block, 2, channels, 2, channels);
        m_limiter.Process(m_blockLeft.data(), m_blockRight.data(), block);
        float* out = interleaved + std::ptrdiff_t(done) * 2;
        for (int i = 0; i < block; ++i) {
            out[2 * i] = m_blockLeft[i];
            out[2 * i + 1] = m_blockRight[i];
        }
    }
}

std::vector<float> FluidSynthOutput::Render(int frames)
{
    if (!m_synth || m_sink != Sink::Offline || frames <= 0)
        return {};
    std::vector<float> samples(std::size_t(frames) * 2);
    Render(samples.data(), frames);
    return samples;
}

void FluidSynthOutput::Render(float* interleaved, int frames)
{
    if (m_synth && m_sink == Sink::Offline && frames > 0)
        RenderInterleaved(interleaved, frames);
}
