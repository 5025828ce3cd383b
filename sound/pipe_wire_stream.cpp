#include "sound/pipe_wire_stream.h"

#include "sound/realtime_priority.h"
#include "sound/silent_block.h"
#include "sound/tell_user.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/dict.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

namespace {

constexpr int kChannels = 2;
constexpr std::uint32_t kFrameBytes = kChannels * sizeof(float);
// Longest the first connection may take before the caller tries another output.
constexpr int kOpenTimeoutSeconds = 3;
// How often a lost server is looked for again.
constexpr long kRetryUs = 250'000;
// How many retries a connection still on its way is waited for: three seconds.
constexpr int kPatientRetries = 12;
// A server that does not tell its rate runs at PipeWire's default one.
constexpr double kDefaultGraphRate = 48000;

void InitPipeWireOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// The client's configuration, which names the modules that speak to the server, comes with
// PipeWire's own programs (pipewire-bin), not with its library: the library finds it where
// PIPEWIRE_CONFIG_DIR says, else in the user's, the system's or the package's folder.
constexpr const char* kClientConfiguration = "client-rt.conf";

bool ClientConfigurationInstalled()
{
    std::vector<std::string> folders;
    if (const char* named = std::getenv("PIPEWIRE_CONFIG_DIR")) {
        folders.push_back(named);
    } else {
        if (const char* config = std::getenv("XDG_CONFIG_HOME"))
            folders.push_back(std::string(config) + "/pipewire");
        else if (const char* home = std::getenv("HOME"))
            folders.push_back(std::string(home) + "/.config/pipewire");
        folders.insert(folders.end(), {"/etc/pipewire", "/usr/share/pipewire"});
    }
    return std::any_of(folders.begin(), folders.end(),
                       [](const std::string& folder) { return Exists(folder + "/" + kClientConfiguration); });
}

timespec In(long microseconds) { return {microseconds / 1'000'000, microseconds % 1'000'000 * 1000}; }

} // namespace

PipeWireStream::PipeWireStream(Identity identity, Buffer latency, Renderer render)
    : m_identity(std::move(identity)), m_latency(latency), m_render(std::move(render)),
      m_scratch(std::size_t(latency.quantumFrames) * kChannels),
      m_logGranted(std::getenv("VARNEK_LOG_AUDIO") != nullptr &&
                   std::strcmp(std::getenv("VARNEK_LOG_AUDIO"), "1") == 0)
{
    InitPipeWireOnce();
}

PipeWireStream::~PipeWireStream() { Close(); }

// The library itself looks where PIPEWIRE_REMOTE names, else for the socket pipewire-0 in the
// user's runtime folder. Without its configuration the library cannot connect and says so in
// lines of its own; a server in a sandbox may be reached that way, or by its PulseAudio
// service, so one line says which package is missing and the next output is tried.
bool PipeWireStream::ServerMayRun()
{
    bool socket = false;
    if (std::getenv("PIPEWIRE_REMOTE") != nullptr)
        socket = true;
    else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
        socket = Exists(std::string(runtime) + "/pipewire-0");
    else
        socket = Exists("/run/user/" + std::to_string(getuid()) + "/pipewire-0");
    if (!socket)
        return false;
    if (ClientConfigurationInstalled())
        return true;
    static std::once_flag told;
    std::call_once(told, [] {
        TellUser(std::string("PipeWire's client configuration (") + kClientConfiguration +
                 ") is not installed: install pipewire-bin for the shortest delay; playing through another "
                 "output");
    });
    return false;
}

bool PipeWireStream::Connect()
{
    Close();
    m_loop = pw_thread_loop_new("varnek-pipewire", nullptr);
    if (!m_loop || pw_thread_loop_start(m_loop) < 0) {
        Close();
        return false;
    }
    pw_thread_loop_lock(m_loop);
    pw_loop* loop = pw_thread_loop_get_loop(m_loop);
    m_restEvent = pw_loop_add_event(loop, &PipeWireStream::OnRest, this);
    m_wakeEvent = pw_loop_add_event(loop, &PipeWireStream::OnWake, this);
    m_grantedEvent = pw_loop_add_event(loop, &PipeWireStream::OnGranted, this);
    m_retry = pw_loop_add_timer(loop, &PipeWireStream::OnRetry, this);
    // The real-time configuration gives the data thread, where the stream renders, a real-time
    // priority where the system allows it.
    m_context = pw_context_new(loop, pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
    m_failed = false;
    const bool connected = m_context && ConnectCore() && WaitUntil([this] { return m_graphRate > 0; });
    pw_thread_loop_unlock(m_loop);
    if (!connected)
        Close();
    return connected;
}

bool PipeWireStream::Play(double sampleRate)
{
    if (!m_loop)
        return false;
    pw_thread_loop_lock(m_loop);
    m_sampleRate = sampleRate;
    m_failed = false;
    const bool playing = CreateStream() && WaitUntil([this] { return m_playing.load(); });
    m_reconnects = playing;
    pw_thread_loop_unlock(m_loop);
    if (!playing)
        Close();
    return playing;
}

void PipeWireStream::Close()
{
    if (m_loop) {
        pw_thread_loop_lock(m_loop);
        m_reconnects = false;
        Disconnect();
        pw_loop* loop = pw_thread_loop_get_loop(m_loop);
        for (spa_source* source : {m_restEvent, m_wakeEvent, m_grantedEvent, m_retry}) {
            if (source)
                pw_loop_destroy_source(loop, source);
        }
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
    }
    if (m_context)
        pw_context_destroy(m_context);
    if (m_loop)
        pw_thread_loop_destroy(m_loop);
    m_loop = nullptr;
    m_context = nullptr;
    m_restEvent = m_wakeEvent = m_grantedEvent = m_retry = nullptr;
    m_graphRate = 0;
    m_broken = false;
    m_patientRetries = 0;
    m_quantum.store(0);
    m_rate.store(0);
}

// The sender says that sound is on its way before it looks whether the node rests, and the
// node rests before it looks whether sound is on its way: one of the two always sees the
// other, so a message is never left waiting for a node that the graph no longer asks.
void PipeWireStream::Wake()
{
    m_soundPending.store(true);
    if (m_resting.load() && m_wakeEvent)
        pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_wakeEvent);
}

PipeWireStream::Buffer PipeWireStream::Granted() const { return {m_quantum.load(), double(m_rate.load())}; }

// Waits, holding the loop's lock, until `done` or a failure, at most a few seconds.
bool PipeWireStream::WaitUntil(const std::function<bool()>& done)
{
    timespec deadline;
    pw_thread_loop_get_time(m_loop, &deadline, std::int64_t(kOpenTimeoutSeconds) * SPA_NSEC_PER_SEC);
    while (!done() && !m_failed) {
        if (pw_thread_loop_timed_wait_full(m_loop, &deadline) < 0)
            break;
    }
    return done();
}

bool PipeWireStream::ConnectCore()
{
    static const pw_core_events events = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.info = &PipeWireStream::OnCoreInfo;
        e.error = &PipeWireStream::OnCoreError;
        return e;
    }();
    // A desktop without a server stays without one: where nobody listens this fails at once.
    m_core = pw_context_connect(m_context, nullptr, 0);
    if (!m_core)
        return false;
    pw_core_add_listener(m_core, &m_coreListener, &events, this);
    return true;
}

// What desktops show of the stream: a music player named after the program, with its icon.
// The latency asked for is the same time at whatever rate the graph runs.
bool PipeWireStream::CreateStream()
{
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &PipeWireStream::OnStreamState;
        e.io_changed = &PipeWireStream::OnIoChanged;
        e.process = &PipeWireStream::OnProcess;
        return e;
    }();
    const char* name = m_identity.name.c_str();
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, name, PW_KEY_APP_ICON_NAME, m_identity.iconName.c_str(), PW_KEY_NODE_NAME, name,
        PW_KEY_NODE_DESCRIPTION, name, PW_KEY_MEDIA_NAME, name, nullptr);
    const int latencyFrames = int(std::lround(m_latency.quantumFrames * m_sampleRate / m_latency.sampleRate));
    pw_properties_setf(properties, PW_KEY_NODE_LATENCY, "%d/%u", latencyFrames, unsigned(m_sampleRate));
    m_stream = pw_stream_new(m_core, name, properties);
    if (!m_stream)
        return false;
    pw_stream_add_listener(m_stream, &m_streamListener, &events, this);

    spa_audio_info_raw format{};
    format.format = SPA_AUDIO_FORMAT_F32;
    format.rate = std::uint32_t(m_sampleRate);
    format.channels = kChannels;
    format.position[0] = SPA_AUDIO_CHANNEL_FL;
    format.position[1] = SPA_AUDIO_CHANNEL_FR;
    std::uint8_t space[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(space, sizeof space);
    const spa_pod* parameters[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
    m_silentFrames.store(0);
    m_resting.store(false);
    const auto flags =
        pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS);
    return pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, parameters, 1) >= 0;
}

// Main loop thread, or the opening thread holding the loop's lock. Once the stream is
// destroyed the data thread no longer calls it.
void PipeWireStream::Disconnect()
{
    m_playing.store(false);
    if (m_stream) {
        spa_hook_remove(&m_streamListener);
        pw_stream_destroy(m_stream);
    }
    m_stream = nullptr;
    m_position.store(nullptr);
    if (m_core) {
        spa_hook_remove(&m_coreListener);
        pw_core_disconnect(m_core);
    }
    m_core = nullptr;
    m_resting.store(false);
}

// The server went away or refused us. Before the first success that ends the opening; after it
// everything is torn down and made again from the retry timer, never from inside the library's
// own callback.
void PipeWireStream::Lost()
{
    const bool wasPlaying = m_playing.exchange(false);
    if (!m_reconnects) {
        m_failed = true;
        pw_thread_loop_signal(m_loop, false);
        return;
    }
    // The connection and the stream both report one loss: the retry is set once.
    if (m_broken)
        return;
    m_broken = true;
    // The first try comes at once; a server that is still away is asked again at the usual
    // pace rather than in a loop.
    RetryIn(wasPlaying ? 1 : kRetryUs);
}

void PipeWireStream::RetryIn(long microseconds)
{
    timespec when = In(microseconds);
    timespec once{};
    pw_loop_update_timer(pw_thread_loop_get_loop(m_loop), m_retry, &when, &once, false);
}

// A server that has just come back may take a while to link the stream (PipeWire waits for its
// session manager), so a connection on its way is given a few seconds before it is made again.
// Nothing is heard meanwhile, but what was sent is played, so notes end and none is left to
// sound all at once when the server is back; the synth is rendered here only while no stream
// exists, as the data thread renders it otherwise.
void PipeWireStream::OnRetry(void* self, std::uint64_t)
{
    auto* stream = static_cast<PipeWireStream*>(self);
    if (stream->m_playing.load() || !stream->m_reconnects)
        return;
    if (stream->m_broken || ++stream->m_patientRetries >= kPatientRetries) {
        stream->m_patientRetries = 0;
        stream->Disconnect();
        stream->m_soundPending.store(false);
        stream->m_render(stream->m_scratch.data(), stream->m_latency.quantumFrames);
        stream->m_broken = !(stream->ConnectCore() && stream->CreateStream());
    }
    stream->RetryIn(kRetryUs);
}

void PipeWireStream::OnCoreInfo(void* self, const pw_core_info* info)
{
    auto* stream = static_cast<PipeWireStream*>(self);
    // Later updates may come without the properties.
    const char* rate = info && info->props ? spa_dict_lookup(info->props, "default.clock.rate") : nullptr;
    if (rate && std::atof(rate) > 0)
        stream->m_graphRate = std::atof(rate);
    else if (stream->m_graphRate <= 0)
        stream->m_graphRate = kDefaultGraphRate;
    pw_thread_loop_signal(stream->m_loop, false);
}

// The connection itself broke (the server went away) or the server refused it.
void PipeWireStream::OnCoreError(void* self, std::uint32_t id, int, int, const char*)
{
    if (id == PW_ID_CORE)
        static_cast<PipeWireStream*>(self)->Lost();
}

void PipeWireStream::OnStreamState(void* self, pw_stream_state, pw_stream_state state, const char*)
{
    auto* stream = static_cast<PipeWireStream*>(self);
    if (state == PW_STREAM_STATE_STREAMING) {
        // This thread makes the node active again when a note ends a silence.
        RaiseThisThreadToRealtimePriority();
        stream->m_broken = false;
        stream->m_patientRetries = 0;
        stream->m_playing.store(true);
        pw_thread_loop_signal(stream->m_loop, false);
    } else if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        stream->Lost();
    }
}

// The graph's position tells the quantum and rate of every cycle.
void PipeWireStream::OnIoChanged(void* self, std::uint32_t id, void* area, std::uint32_t)
{
    if (id == SPA_IO_Position)
        static_cast<PipeWireStream*>(self)->m_position.store(static_cast<spa_io_position*>(area));
}

void PipeWireStream::OnProcess(void* self) { static_cast<PipeWireStream*>(self)->Process(); }

// The data thread: renders exactly what the cycle asks for into the buffer the graph gave.
void PipeWireStream::Process()
{
    pw_buffer* buffer = pw_stream_dequeue_buffer(m_stream);
    if (!buffer)
        return;
    spa_data& data = buffer->buffer->datas[0];
    auto* samples = static_cast<float*>(data.data);
    int frames = samples ? int(data.maxsize / kFrameBytes) : 0;
    if (buffer->requested > 0)
        frames = std::min(frames, int(buffer->requested));
    if (frames > 0) {
        m_soundPending.store(false);
        m_render(samples, frames);
        RestIfSilent(samples, frames);
    }
    data.chunk->offset = 0;
    data.chunk->stride = int(kFrameBytes);
    data.chunk->size = std::uint32_t(frames) * kFrameBytes;
    pw_stream_queue_buffer(m_stream, buffer);
    NoteGranted();
}

// Told to the main loop's thread when it changes, which logs it where asked to.
void PipeWireStream::NoteGranted()
{
    const spa_io_position* position = m_position.load();
    if (!position)
        return;
    const int quantum = int(position->clock.duration);
    const int rate = int(position->clock.rate.denom);
    if (m_quantum.exchange(quantum) != quantum || m_rate.exchange(rate) != rate)
        pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_grantedEvent);
}

void PipeWireStream::OnGranted(void* self, std::uint64_t)
{
    auto* stream = static_cast<PipeWireStream*>(self);
    const Buffer granted = stream->Granted();
    if (stream->m_logGranted && granted.sampleRate > 0)
        std::fprintf(stderr, "varnek: audio: PipeWire graph, quantum %d frames at %.0f Hz (%.2f ms)\n",
                     granted.quantumFrames, granted.sampleRate,
                     1000.0 * granted.quantumFrames / granted.sampleRate);
}

void PipeWireStream::RestIfSilent(const float* samples, int frames)
{
    if (!IsSilentBlock(samples, std::size_t(frames) * kChannels)) {
        // Also when a cycle already on its way meets a node that has just begun to rest.
        m_silentFrames.store(0);
        m_resting.store(false);
        return;
    }
    const long silent = m_silentFrames.fetch_add(frames) + frames;
    if (m_resting.load() || silent < long(kRestAfterSilenceSeconds * m_sampleRate))
        return;
    m_resting.store(true);
    if (m_soundPending.load())
        m_resting.store(false);
    else
        pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_restEvent);
}

void PipeWireStream::OnRest(void* self, std::uint64_t)
{
    auto* stream = static_cast<PipeWireStream*>(self);
    if (stream->m_resting.load() && stream->m_stream && stream->m_playing.load())
        pw_stream_set_active(stream->m_stream, false);
}

// Sound is coming after a silence: the graph asks the node again from its next cycle on.
void PipeWireStream::OnWake(void* self, std::uint64_t)
{
    auto* stream = static_cast<PipeWireStream*>(self);
    if (!stream->m_resting.exchange(false))
        return;
    stream->m_silentFrames.store(0);
    if (stream->m_stream)
        pw_stream_set_active(stream->m_stream, true);
}
