#pragma once
// A playback stream of the program's own on a PulseAudio server, or on PipeWire's PulseAudio
// service: float stereo, with the buffer stated to the server (a short target and the block the
// sound is rendered in), filled by a render function on the thread of libpulse's threaded main
// loop. A stream that states its buffer gets it: PulseAudio keeps no more than the target, and
// PipeWire runs its graph in a quantum that fits it.
//
// Silence costs nothing: after a few seconds of it the stream rests, so neither the server nor
// the program wakes up for it, and Wake brings it back. On PulseAudio it rests by letting go of
// its stream on the server, as a corked stream would still hold the server's sink to its short
// buffer and wake it hundreds of times a second; the connection stays, so the next sound needs
// only a new stream. On PipeWire's service a corked stream costs nothing, and a new one would
// wait 20-30 ms for the session manager to link it, so there it corks. Whenever the stream has
// queued nothing but silence, the first sound after it is written over that silence from where
// playback stands, so it does not wait behind the queue.
//
// When the server goes away the stream keeps trying to connect again, a few times a second, and
// plays on by itself once a server answers; meanwhile the render function is still called now
// and then, so that whatever feeds it is consumed and nothing piles up.

#include <pulse/def.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct pa_context;
struct pa_io_event;
struct pa_mainloop_api;
struct pa_server_info;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

class PulseAudioStream {
public:
    struct Buffer {
        int blockFrames = 0;  // the least the server asks for at a time
        int targetFrames = 0; // what is kept queued ahead of playback
        double sampleRate = 0;
        // What the renderer makes in one piece (a synth's own block); the queue is topped up in
        // whole pieces of it. Rendered by the piece, anything beyond the target is sound
        // already made that a new note waits behind, so the finer the piece the less a note
        // waits. Zero: the block.
        int stepFrames = 0;
    };
    // Fills `frames` frames of interleaved stereo, always a whole number of steps.
    using Renderer = std::function<void(float* interleaved, int frames)>;

    // Longer than anything the server holds of the stream: all it has queued is silence.
    static constexpr double kQueueSilentAfterSeconds = 0.05;

    PulseAudioStream(std::string name, Buffer wanted, Renderer render);
    ~PulseAudioStream();
    PulseAudioStream(const PulseAudioStream&) = delete;
    PulseAudioStream& operator=(const PulseAudioStream&) = delete;

    // Connects and starts playing; false when no server answers within a few seconds or the
    // server refuses the stream. Nothing is retried before the first success.
    bool Open();
    void Close();

    // Sound is coming: makes the stream again if it rests, and lets it skip the silence it has
    // queued. Costs three atomic operations when it plays; safe to call from one other thread
    // while the stream runs.
    void Wake();

    // Connected to a server and taking sound; false while it waits for a server that went away.
    bool IsPlaying() const { return m_playing.load(); }

    // What the server granted: its block, and how much of its buffer the stream keeps queued;
    // zero before the stream first plays.
    Buffer Granted() const;

private:
    static void OnContextState(pa_context* context, void* self);
    static void OnServerInfo(pa_context* context, const pa_server_info* server, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void OnRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void OnOpenTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);

    bool Connect();
    void CreateStream();
    void Disconnect();
    void Lost();
    void RetryIn(long microseconds);
    bool ShouldStartOver();
    void Fill(std::size_t bytes);
    void Write(int frames, pa_seek_mode_t seek);
    void DropStream();
    void RestIfSilent(const float* samples, int frames);
    static void OnRest(pa_mainloop_api*, void* self);
    void Resume();
    void Cork(bool cork);
    void NoteGranted();

    std::string m_name;
    Buffer m_wanted;
    Renderer m_render;
    std::vector<float> m_scratch;

    pa_threaded_mainloop* m_loop = nullptr;
    pa_mainloop_api* m_api = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_retry = nullptr;
    pa_time_event* m_openTimeout = nullptr;
    pa_io_event* m_wakeEvent = nullptr;
    int m_wakeFd = -1;

    // Main loop thread only.
    bool m_reconnects = false; // after the first success, a lost server is waited for
    bool m_openFailed = false;
    long m_silentFrames = 0;
    int m_bufferFrames = 0;     // the server's buffer
    int m_queueFrames = 0;      // how much of it the stream keeps filled
    int m_patientRetries = 0;   // retries the connection under way has been waited for
    bool m_corksToRest = false; // on PipeWire, once the server has said its name
    bool m_corked = false;

    std::atomic<bool> m_playing{false};     // connected and taking sound
    std::atomic<bool> m_resting{false};     // let go of its stream while silent
    std::atomic<bool> m_queueSilent{false}; // the server has nothing but silence queued
    std::atomic<bool> m_soundPending{false};
    mutable std::mutex m_grantedMutex;
    Buffer m_granted;
};
