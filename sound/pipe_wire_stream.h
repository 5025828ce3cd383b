#pragma once
// A playback node of the program's own in a PipeWire graph: float stereo at the graph's rate,
// stating the latency it wants, so the graph runs in a quantum that fits it. The render function
// is called on PipeWire's real-time data thread, at every cycle, for exactly what the cycle asks
// for; nothing else happens on that thread but atomics and waking the stream's own main loop.
//
// PipeWire's PulseAudio service cannot run a client below its own least quantum (256 frames),
// which puts a floor of about 9 ms under a note; a node of our own gets the quantum it asks for.
//
// Silence costs nothing: after a few seconds of it the node goes inactive, so the graph stops
// asking it for sound (and may stop altogether), and Wake makes it active again.
//
// When the server goes away the stream keeps trying to connect again, a few times a second, and
// plays on by itself once a server answers; meanwhile the render function is still called now
// and then, so that whatever feeds it is consumed and nothing piles up.

#include <pipewire/core.h>
#include <pipewire/stream.h>
#include <spa/utils/hook.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct pw_context;
struct pw_thread_loop;
struct spa_io_position;
struct spa_source;

class PipeWireStream {
public:
    struct Identity {
        std::string name;     // the application and its node, as desktops show them
        std::string iconName; // the application's icon in the desktop's icon theme
    };
    struct Buffer {
        int quantumFrames = 0; // what the graph renders in one cycle
        double sampleRate = 0;
    };
    // Fills `frames` frames of interleaved stereo.
    using Renderer = std::function<void(float* interleaved, int frames)>;

    // `latency` is the quantum wanted at its rate; at another rate the same time is asked for.
    PipeWireStream(Identity identity, Buffer latency, Renderer render);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Whether PipeWire's own socket is there: where it is not, connecting is not even tried.
    static bool ServerMayRun();

    // Connects to the server and learns the graph's rate; false when no server answers.
    bool Connect();
    double GraphRate() const { return m_graphRate; }
    // Makes the node at `sampleRate` and waits until the graph plays it; false when it does not
    // within a few seconds. Nothing is retried before the first success.
    bool Play(double sampleRate);
    void Close();

    // Sound is coming: makes the node active again if it rests. Costs two atomic operations
    // when it plays; safe to call from one other thread while the stream runs.
    void Wake();

    // Connected to a server and taking sound; false while it waits for a server that went away.
    bool IsPlaying() const { return m_playing.load(); }

    // What the graph really runs: its quantum and rate; zero before the first cycle.
    Buffer Granted() const;

private:
    static void OnCoreInfo(void* self, const pw_core_info* info);
    static void OnCoreError(void* self, std::uint32_t id, int seq, int result, const char* message);
    static void OnStreamState(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void OnIoChanged(void* self, std::uint32_t id, void* area, std::uint32_t size);
    static void OnProcess(void* self);
    static void OnRest(void* self, std::uint64_t count);
    static void OnWake(void* self, std::uint64_t count);
    static void OnGranted(void* self, std::uint64_t count);
    static void OnRetry(void* self, std::uint64_t expirations);

    bool ConnectCore();
    bool CreateStream();
    void Disconnect();
    void Lost();
    void RetryIn(long microseconds);
    bool WaitUntil(const std::function<bool()>& done);
    void Process();
    void NoteGranted();
    void RestIfSilent(const float* samples, int frames);

    Identity m_identity;
    Buffer m_latency;
    Renderer m_render;
    std::vector<float> m_scratch; // for what is rendered while no server plays
    bool m_logGranted;            // VARNEK_LOG_AUDIO=1: a line on stderr whenever the graph's cycle changes
    double m_sampleRate = 0;
    double m_graphRate = 0;

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_coreListener{};
    spa_hook m_streamListener{};
    spa_source* m_restEvent = nullptr;
    spa_source* m_wakeEvent = nullptr;
    spa_source* m_grantedEvent = nullptr;
    spa_source* m_retry = nullptr;

    // Main loop thread, or the opening thread holding the loop's lock.
    bool m_reconnects = false; // after the first success, a lost server is waited for
    bool m_failed = false;
    bool m_broken = false; // lost since it last played: made again at the next retry
    int m_patientRetries = 0;

    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_resting{false}; // inactive, or about to be, while silent
    std::atomic<bool> m_soundPending{false};
    std::atomic<long> m_silentFrames{0};
    std::atomic<spa_io_position*> m_position{nullptr}; // the graph's clock and cycle
    std::atomic<int> m_quantum{0};
    std::atomic<int> m_rate{0};
};
