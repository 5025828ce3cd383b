#pragma once
// The built-in General MIDI synthesizer behind the default route: FluidSynth with the
// system's GM soundfont, played through PipeWire, PulseAudio, JACK or ALSA with a short buffer. Without
// an audio device (tests, benchmarks) it renders on request instead.
//
// Sends only queue the message; the audio thread plays what has arrived before it renders each
// block of 128 frames. A note on costs FluidSynth tens of microseconds and waits while a period renders, and
// the sending thread is the user interface. One sender at a time.
//
// Opening reads the soundfont's structure and the piano's samples, and plays a note of the piano:
// a soundfont is taken only if FluidSynth makes it sound, in less time than it lasts. Rendering
// keeps to that budget as it plays: two blocks in a row that take more work than they last
// silence the channels that made them slow, and the sender says so once. Other samples are read when a
// channel first uses them, on the sending thread: the program a program change names, or else the General
// MIDI default (the piano, the standard kit on channel 10). The last two programs chosen stay loaded; older
// ones are let go, so browsing the instruments does not fill the memory, and their samples are freed on the
// sending thread too, once nothing plays them. While samples load, the audio thread leaves the queue alone
// rather than wait for the synth.

#include "sound/callback_target.h"
#include "sound/midi_message_queue.h"
#include "sound/midi_port.h"
#include "sound/output_limiter.h"

#include <fluidsynth/types.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class AlsaPcmStream;
class JackServerWatch;
class SoundfontFile;
class PipeWireStream;
class PulseAudioStream;

class FluidSynthOutput : public MidiPort {
public:
    enum class Sink {
        AudioDevice, // plays through the first audio driver that opens
        Offline,     // opens no audio driver; Render pulls the sound
    };

    // An audio buffer as period size x periods at a sample rate. A PulseAudio server need not
    // grant a whole number of periods.
    struct AudioBuffer {
        int periodSize = 0;
        double periods = 0;
        double sampleRate = 0;
        double Milliseconds() const;
    };

    // Leaves a single loud note well below full scale; the limiter holds what a chord adds.
    static constexpr double kGain = 0.9;
    static constexpr double kPreferredSampleRate = 48000;
    // The block the synth renders, and on PulseAudio the least the server asks for at a time.
    static constexpr int kPeriodSize = 128;
    // ALSA's and JACK's buffers are two periods. PulseAudio gets a target of about 6 ms and
    // keeps it whatever the number of blocks.
    static constexpr int kPeriods = 2;
    static constexpr int kPulseTargetFrames = 288;

    explicit FluidSynthOutput(Sink sink = Sink::AudioDevice);
    ~FluidSynthOutput() override;
    FluidSynthOutput(const FluidSynthOutput&) = delete;
    FluidSynthOutput& operator=(const FluidSynthOutput&) = delete;

    // The usual places of a GM soundfont, in order of preference.
    static std::vector<std::string> DefaultSoundfonts();
    // PipeWire and PulseAudio (which PipeWire desktops serve too) through streams of our own,
    // JACK, then ALSA.
    static std::vector<std::string> DefaultAudioDrivers();
    void SetSoundfonts(std::vector<std::string> paths) { m_soundfontCandidates = std::move(paths); }
    void SetAudioDrivers(std::vector<std::string> drivers) { m_driverCandidates = std::move(drivers); }

    // Loads the first soundfont that loads and starts the first audio driver that opens. On
    // failure nothing is left behind and the result is false.
    bool Open();
    void Close();
    bool IsOpen() const { return m_synth != nullptr; }
    // After a failed Open, the cause in a line for the user: no soundfont, one that cannot be
    // played, or no audio output, with what to do about it.
    const std::string& WhyItDidNotOpen() const { return m_whyNotOpen; }
    // The lines of the soundfonts the last Open passed over, each saying why.
    const std::vector<std::string>& SetAsideSoundfonts() const { return m_setAside; }

    // Note on (velocity 0 is a note off), note off, control change, program change, channel
    // pressure and pitch bend; false for anything else, and for a note-on the queue refuses in
    // a flood (its note-off is then dropped too; no ending is ever refused).
    bool Send(std::uint32_t message) override;
    // The audio output plays; false while PipeWire or PulseAudio is being looked for again
    // or for a sound card (their streams come back by themselves), or once the JACK server it
    // played through has gone.
    bool IsConnected() const override;

    // Offline only: plays what was sent, then the next `frames` frames of sound, interleaved
    // left and right; the second into the caller's buffer, as an audio thread renders.
    std::vector<float> Render(int frames);
    void Render(float* interleaved, int frames);

    const std::string& Soundfont() const { return m_soundfont; }
    const std::string& AudioDriver() const { return m_driver; }
    double SampleRate() const { return m_sampleRate; }
    // What was asked of the audio driver, and what it is known to have given: on PipeWire the
    // graph's quantum, on PulseAudio what the server granted, on JACK the server's period.
    AudioBuffer ConfiguredBuffer() const;
    AudioBuffer GrantedBuffer() const;

private:
    void ConfigureSettings(double sampleRate);
    bool CreateSynth(double sampleRate);
    void DeleteSynth();
    bool LoadSoundfont();
    bool PlaysThePiano(std::unique_ptr<SoundfontFile> file);
    bool PianoSoundsInTime();
    std::string WhyNotOpen() const;
    bool WillTryJack() const;
    bool StartAudio();
    void StopAudio();
    bool TryDriver(const std::string& driver);
    bool TryAlsa();
    bool TryJack();
    bool TryPipeWire();
    bool TryPulse();
    bool AtRate(double sampleRate);
    bool Queue(std::uint32_t message);
    struct Program {
        int bank = 0;
        int number = 0;
        bool operator==(const Program&) const = default;
    };
    // A program let go, pinned until nothing can need its samples any more.
    struct LettingGo {
        Program program;
        std::optional<std::size_t> heardUntil; // messages queued when no channel had it any more
        std::optional<unsigned> lastVoice;     // the newest voice that may sound it
    };
    bool ChooseProgram(int channel, int number);
    // Pins the program's samples in the synth; false when they cannot be read.
    bool KeepLoaded(const Program& program);
    void LetGoOfTheOldest();
    void UnpinWhatIsNoLongerHeard();
    bool NoLongerHeard(LettingGo& old);
    std::optional<unsigned> NewestVoiceUpTo(unsigned id);
    void TellSamplesCannotBeRead();
    void TellSilencedForTime();
    void PlayQueued();
    void Play(std::uint32_t message);
    int ProcessBlock(int frames, int effectCount, float* effects[], int outputCount, float* outputs[]);
    void SilenceTheSlow();
    void RenderInterleaved(float* interleaved, int frames);
    static int RenderPeriod(void* target, int frames, int effectCount, float* effects[], int outputCount,
                            float* outputs[]);
    int RenderDriverPeriod(int frames, int effectCount, float* effects[], int outputCount, float* outputs[]);

    Sink m_sink;
    std::vector<std::string> m_soundfontCandidates;
    std::vector<std::string> m_driverCandidates;
    fluid_settings_t* m_settings = nullptr;
    fluid_synth_t* m_synth = nullptr;
    fluid_audio_driver_t* m_audio = nullptr;
    std::unique_ptr<CallbackTarget<FluidSynthOutput>> m_audioTarget; // what m_audio calls
    bool m_driverThreadUnnamed = false; // until the driver's thread has named itself
    std::unique_ptr<PipeWireStream> m_pipeWire;
    std::unique_ptr<PulseAudioStream> m_pulse;
    std::unique_ptr<AlsaPcmStream> m_alsa;
    OutputLimiter m_limiter;
    std::array<float, kPeriodSize> m_blockLeft{}; // the audio thread's, for one block
    std::array<float, kPeriodSize> m_blockRight{};
    unsigned m_startedThisBlock = 0;            // the audio thread's: channels that began a note in the block
    bool m_lastBlockSounded = false;            // the audio thread's
    bool m_lastBlockSlow = false;               // the audio thread's
    unsigned m_startedLastBlock = 0;            // the audio thread's
    unsigned m_slowChannels = 0;                // the audio thread's: to be silenced for their work
    std::atomic<unsigned> m_silencedForTime{0}; // channels the audio thread silenced, to be told
    bool m_toldTooSlow = false;
    std::shared_ptr<JackServerWatch> m_jack; // while playing through JACK
    MidiMessageQueue m_queue;
    std::mutex m_loading;                            // held by the sender while samples load
    std::array<bool, 16> m_channelHasSound{};        // a program is chosen or loaded for it
    std::array<std::optional<Program>, 16> m_chosen; // the program each channel was sent last
    std::vector<Program> m_keptPrograms;             // pinned in the synth, the latest last
    std::vector<LettingGo> m_lettingGo;              // pinned still, the oldest first
    std::vector<fluid_voice_t*> m_voices;            // room for every voice the synth has
    bool m_toldSamplesCannotBeRead = false;
    int m_soundfontId = -1;
    std::unique_ptr<SoundfontFile> m_soundfontFile; // what the synth reads, while it lives
    std::string m_soundfont;
    std::vector<std::string> m_setAside;
    std::string m_whyNotOpen;
    std::string m_driver;
    double m_sampleRate = kPreferredSampleRate;
    AudioBuffer m_granted;
};
