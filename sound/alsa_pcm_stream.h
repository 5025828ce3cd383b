#pragma once
// A playback stream straight on an ALSA sound card, for a machine where no sound server runs:
// float stereo at the rate asked for, in short periods, filled by a render function on a thread
// of this object's own.
//
// It plays on the first card that can play. A USB keyboard or MIDI interface often brings a
// card of its own with no sound output at all, which may well be card 0 and so the card behind
// "default"; the cards are therefore tried in order, each through ALSA's plug layer (which
// converts the format and the rate where the card cannot take ours) and straight, without the
// mixing layer "default" may add with its own, much longer, periods. "default" comes last, for
// a card that another program holds.
//
// Silence costs nothing: after a few seconds of it the stream stops the card and sleeps until
// Wake. When the card goes (unplugged, its driver unloaded) the stream looks for a card that
// plays a few times a second and plays on by itself once there is one; meanwhile the render
// function is still called now and then, so that whatever feeds it is consumed.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct _snd_pcm;

class AlsaPcmStream {
public:
    struct Buffer {
        int periodFrames = 0;
        int periods = 0;
        double sampleRate = 0;
    };
    // Fills `frames` frames of interleaved stereo.
    using Renderer = std::function<void(float* interleaved, int frames)>;

    AlsaPcmStream(Buffer wanted, Renderer render);
    ~AlsaPcmStream();
    AlsaPcmStream(const AlsaPcmStream&) = delete;
    AlsaPcmStream& operator=(const AlsaPcmStream&) = delete;

    // The devices to try, in order: each card's playback devices, then "default".
    static std::vector<std::string> PlaybackDevices();

    // Opens the first device that plays and starts the stream; false when none does. Nothing
    // is retried before the first success.
    bool Open();

    // Sound is coming: starts the card again if the stream rests. Costs one atomic load while
    // it plays; safe from one other thread.
    void Wake();

    // Playing on a card; false while the stream looks for one again.
    bool IsPlaying() const { return m_playing.load(); }
    // What the card granted, and the device it plays on; empty before the stream first plays.
    Buffer Granted() const;
    std::string Device() const;

private:
    _snd_pcm* OpenFirstDevice();
    _snd_pcm* OpenDevice(const std::string& device);
    void Run();
    bool PlayPeriod();
    void Rest();
    void WaitForACard();
    void Lost();

    Buffer m_wanted;
    Renderer m_render;
    std::vector<float> m_period;

    // The stream's thread only, once it runs.
    _snd_pcm* m_pcm = nullptr;
    long m_silentFrames = 0;

    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_resting{false};
    std::atomic<bool> m_soundPending{false}; // sent since the stream rendered last
    mutable std::mutex m_mutex;              // the fields below, and the waits of the stream's thread
    std::condition_variable m_wake;
    bool m_stopping = false;
    Buffer m_granted;
    std::string m_device;
    std::thread m_thread;
};
