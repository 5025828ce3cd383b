#include "sound/pulse_audio_stream.h"

#include "sound/realtime_priority.h"
#include "sound/silent_block.h"

#include <pulse/pulseaudio.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kChannels = 2;
constexpr std::size_t kFrameBytes = kChannels * sizeof(float);
// Longest the first connection may take before the caller tries another output.
constexpr long kOpenTimeoutUs = 3'000'000;
// How often a lost server is looked for again.
constexpr long kRetryUs = 250'000;
// How many retries a connection still on its way is waited for: three seconds.
constexpr int kPatientRetries = 12;
// The most one request renders at a time; a server asks for far less.
constexpr int kMostFramesAtOnce = 8192;

struct timeval In(long microseconds)
{
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, pa_usec_t(microseconds));
    return when;
}

int RoundUpToBlock(int frames, int block) { return std::max(block, (frames + block - 1) / block * block); }

} // namespace

PulseAudioStream::PulseAudioStream(std::string name, Buffer wanted, Renderer render)
    : m_name(std::move(name)), m_wanted(wanted), m_render(std::move(render)),
      m_scratch(std::size_t(kMostFramesAtOnce) * kChannels)
{
    if (m_wanted.stepFrames <= 0)
        m_wanted.stepFrames = m_wanted.blockFrames;
}

PulseAudioStream::~PulseAudioStream() { Close(); }

bool PulseAudioStream::Open()
{
    Close();
    m_loop = pa_threaded_mainloop_new();
    if (m_loop) // its thread renders the stream's sound, as the synth's other render threads do
        pa_threaded_mainloop_set_name(m_loop, "varnek-synth-rt");
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!m_loop || m_wakeFd < 0) {
        Close();
        return false;
    }
    m_api = pa_threaded_mainloop_get_api(m_loop);
    pa_threaded_mainloop_lock(m_loop);
    m_openFailed = false;
    bool playing = false;
    if (pa_threaded_mainloop_start(m_loop) >= 0 && Connect()) {
        const auto onWake = [](pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto read_ = read(fd, &count, sizeof count);
            static_cast<PulseAudioStream*>(self)->Resume();
        };
        m_wakeEvent = m_api->io_new(m_api, m_wakeFd, PA_IO_EVENT_INPUT, onWake, this);
        const struct timeval deadline = In(kOpenTimeoutUs);
        m_openTimeout = m_api->time_new(m_api, &deadline, &PulseAudioStream::OnOpenTimeout, this);
        while (!m_playing.load() && !m_openFailed)
            pa_threaded_mainloop_wait(m_loop);
        m_api->time_free(m_openTimeout);
        m_openTimeout = nullptr;
        playing = m_playing.load();
        m_reconnects = playing;
    }
    pa_threaded_mainloop_unlock(m_loop);
    if (!playing)
        Close();
    return playing;
}

void PulseAudioStream::Close()
{
    if (m_loop) {
        pa_threaded_mainloop_lock(m_loop);
        m_reconnects = false;
        Disconnect();
        if (m_retry)
            m_api->time_free(m_retry);
        if (m_wakeEvent)
            m_api->io_free(m_wakeEvent);
        m_retry = nullptr;
        m_wakeEvent = nullptr;
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }
    m_loop = nullptr;
    m_api = nullptr;
    if (m_wakeFd >= 0)
        close(m_wakeFd);
    m_wakeFd = -1;
    m_resting.store(false);
    std::lock_guard granted(m_grantedMutex);
    m_granted = {};
}

// The sender says that sound is on its way before it looks whether the stream rests, and the
// stream rests before it looks whether sound is on its way: one of the two always sees the
// other, so a message is never left waiting for a stream that is not there. While the stream
// plays silence the sender wakes it too, so that the first sound skips the queued silence.
void PulseAudioStream::Wake()
{
    m_soundPending.store(true);
    if ((m_resting.load() || m_queueSilent.load()) && m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_wakeFd, &one, sizeof one);
    }
}

PulseAudioStream::Buffer PulseAudioStream::Granted() const
{
    std::lock_guard granted(m_grantedMutex);
    return m_granted;
}

bool PulseAudioStream::Connect()
{
    m_context = pa_context_new(m_api, m_name.c_str());
    if (!m_context)
        return false;
    pa_context_set_state_callback(m_context, &PulseAudioStream::OnContextState, this);
    // A desktop without a server stays without one: the program never starts a daemon.
    return pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
}

void PulseAudioStream::CreateStream()
{
    const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, std::uint32_t(m_wanted.sampleRate), kChannels};
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    m_stream = pa_stream_new_with_proplist(m_context, m_name.c_str(), &format, nullptr, properties);
    pa_proplist_free(properties);
    if (!m_stream) {
        Lost();
        return;
    }
    pa_stream_set_state_callback(m_stream, &PulseAudioStream::OnStreamState, this);
    pa_stream_set_write_callback(m_stream, &PulseAudioStream::OnWrite, this);
    pa_buffer_attr attributes;
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = std::uint32_t(m_wanted.targetFrames * kFrameBytes);
    // Playback starts with one block queued, and after an underrun goes on at once.
    attributes.prebuf = std::uint32_t(m_wanted.blockFrames * kFrameBytes);
    attributes.minreq = std::uint32_t(m_wanted.blockFrames * kFrameBytes);
    attributes.fragsize = std::uint32_t(-1);
    // The target is the whole latency, the server's share included; without this flag the
    // server adds its own buffer on top of it.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(m_stream, nullptr, &attributes, flags, nullptr, nullptr) < 0)
        Lost();
}

// Main loop thread, or the opening thread holding the loop's lock.
void PulseAudioStream::Disconnect()
{
    m_playing.store(false);
    DropStream();
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    m_context = nullptr;
    m_resting.store(false);
}

void PulseAudioStream::DropStream()
{
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    m_stream = nullptr;
    m_corked = false;
    m_silentFrames = 0;
    m_queueSilent.store(false);
}

// The server went away or refused us. Before the first success that ends the opening; after it
// the stream is torn down and made again from the retry timer, never from inside the library's
// own callback.
void PulseAudioStream::Lost()
{
    const bool wasPlaying = m_playing.exchange(false);
    if (!m_reconnects) {
        m_openFailed = true;
        pa_threaded_mainloop_signal(m_loop, 0);
        return;
    }
    // The first try comes at once; a server that is still away is asked again at the usual
    // pace rather than in a loop.
    m_patientRetries = 0;
    RetryIn(wasPlaying ? 0 : kRetryUs);
}

void PulseAudioStream::RetryIn(long microseconds)
{
    const struct timeval when = In(microseconds);
    if (m_retry)
        m_api->time_restart(m_retry, &when);
    else
        m_retry = m_api->time_new(m_api, &when, &PulseAudioStream::OnRetry, this);
}

void PulseAudioStream::OnRetry(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* stream = static_cast<PulseAudioStream*>(self);
    if (stream->m_playing.load() || !stream->m_reconnects)
        return;
    // Nothing is heard meanwhile, but what was sent is played, so notes end and none is left
    // to sound all at once when the server is back.
    stream->m_soundPending.store(false);
    stream->m_render(stream->m_scratch.data(), stream->m_wanted.blockFrames);
    if (stream->ShouldStartOver()) {
        stream->Disconnect();
        stream->Connect();
    }
    stream->RetryIn(kRetryUs);
}

// A server that has just come back may take a while to set the stream up (PipeWire waits for
// its session manager to link it), so a connection on its way is given a few seconds before
// it is made again.
bool PulseAudioStream::ShouldStartOver()
{
    const pa_context_state_t context = m_context ? pa_context_get_state(m_context) : PA_CONTEXT_FAILED;
    const bool streamOnItsWay = m_stream && PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream));
    const bool onItsWay = PA_CONTEXT_IS_GOOD(context) && (context != PA_CONTEXT_READY || streamOnItsWay);
    if (onItsWay && ++m_patientRetries < kPatientRetries)
        return false;
    m_patientRetries = 0;
    return true;
}

void PulseAudioStream::OnOpenTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self)
{
    auto* stream = static_cast<PulseAudioStream*>(self);
    stream->m_openFailed = true;
    pa_threaded_mainloop_signal(stream->m_loop, 0);
}

void PulseAudioStream::OnContextState(pa_context* context, void* self)
{
    auto* stream = static_cast<PulseAudioStream*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY) {
        // The answer is needed only when the stream first rests, seconds later: the stream
        // does not wait for it.
        if (pa_operation* asking = pa_context_get_server_info(context, &PulseAudioStream::OnServerInfo, self))
            pa_operation_unref(asking);
        stream->CreateStream();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        stream->Lost();
    }
}

// PipeWire's PulseAudio service calls itself "PulseAudio (on PipeWire x.y.z)".
void PulseAudioStream::OnServerInfo(pa_context*, const pa_server_info* server, void* self)
{
    auto* stream = static_cast<PulseAudioStream*>(self);
    stream->m_corksToRest = server && server->server_name && std::strstr(server->server_name, "PipeWire");
}

void PulseAudioStream::OnStreamState(pa_stream* s, void* self)
{
    auto* stream = static_cast<PulseAudioStream*>(self);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_READY) {
        // It is asked for whenever a stream becomes ready, on the thread that fills it.
        RaiseThisThreadToRealtimePriority();
        stream->NoteGranted();
        stream->m_playing.store(true);
        pa_threaded_mainloop_signal(stream->m_loop, 0);
    } else if (!PA_STREAM_IS_GOOD(state)) {
        stream->Lost();
    }
}

// The stream keeps queued what the server asks for: PulseAudio grants less than the target,
// having spent the rest on the sink's own buffer. PipeWire's PulseAudio service raises the
// block to its own least (256 frames by default) and runs its graph in cycles of that block:
// at each cycle it takes a whole block, or plays silence if less is queued, and the stream has
// until the next cycle to put one back however much it keeps. So there the stream keeps whole
// blocks of the server's only, as many as fit in its target and at least one: what it queued
// beyond them would be latency and no safety.
void PulseAudioStream::NoteGranted()
{
    const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(m_stream);
    const pa_sample_spec* format = pa_stream_get_sample_spec(m_stream);
    if (!attributes || !format)
        return;
    const int serverBlock = std::max(1, int(attributes->minreq / kFrameBytes));
    const int serverBuffer = int(attributes->tlength / kFrameBytes);
    m_bufferFrames = serverBuffer;
    const int wholeBlocks = std::max(serverBlock, m_wanted.targetFrames / serverBlock * serverBlock);
    m_queueFrames = serverBlock > m_wanted.blockFrames ? std::min(serverBuffer, wholeBlocks) : serverBuffer;
    std::lock_guard granted(m_grantedMutex);
    m_granted = {serverBlock, m_queueFrames, double(format->rate)};
}

void PulseAudioStream::OnWrite(pa_stream*, std::size_t bytes, void* self)
{
    static_cast<PulseAudioStream*>(self)->Fill(bytes);
}

// The server may ask for its whole buffer; the stream tops its queue up to the level it keeps,
// in whole steps, so the synth renders only whole blocks of its own and no note waits inside
// one. A sink that plays in pieces of its own (PulseAudio's null sink takes 3 ms at a time)
// asks at every piece for what it took: topped up by whole 128-frame blocks the queue would
// stand 64 frames above its level on average, by 64-frame steps 32.
void PulseAudioStream::Fill(std::size_t bytes)
{
    const int queued = m_bufferFrames - int(bytes / kFrameBytes);
    const int missing = m_queueFrames - queued;
    if (missing > 0)
        Write(RoundUpToBlock(missing, m_wanted.stepFrames), PA_SEEK_RELATIVE);
}

// Renders `frames` frames and queues them at `seek`, then goes on behind them.
void PulseAudioStream::Write(int frames, pa_seek_mode_t seek)
{
    while (frames > 0) {
        const int now = std::min(frames, kMostFramesAtOnce / m_wanted.stepFrames * m_wanted.stepFrames);
        m_soundPending.store(false);
        m_render(m_scratch.data(), now);
        pa_stream_write(m_stream, m_scratch.data(), std::size_t(now) * kFrameBytes, nullptr, 0, seek);
        RestIfSilent(m_scratch.data(), now);
        frames -= now;
        seek = PA_SEEK_RELATIVE;
    }
}

void PulseAudioStream::RestIfSilent(const float* samples, int frames)
{
    if (!IsSilentBlock(samples, std::size_t(frames) * kChannels)) {
        // Also when a request already on its way meets a stream that has just begun to rest.
        m_silentFrames = 0;
        m_queueSilent.store(false);
        m_resting.store(false);
        return;
    }
    m_silentFrames += frames;
    if (m_silentFrames >= long(kQueueSilentAfterSeconds * m_wanted.sampleRate))
        m_queueSilent.store(true);
    if (m_resting.load() || m_silentFrames < long(kRestAfterSilenceSeconds * m_wanted.sampleRate))
        return;
    m_resting.store(true);
    if (m_soundPending.load()) {
        m_resting.store(false);
        return;
    }
    if (m_corksToRest)
        Cork(true);
    else // not from inside the server's request, which is still writing to the stream
        pa_mainloop_api_once(m_api, &PulseAudioStream::OnRest, this);
}

void PulseAudioStream::OnRest(pa_mainloop_api*, void* self)
{
    auto* stream = static_cast<PulseAudioStream*>(self);
    if (stream->m_resting.load() && stream->m_playing.load())
        stream->DropStream();
}

// Sound is coming after a silence. A stream that was let go is made again, and its first
// block is the new sound. Otherwise the silence still queued would play ahead of the new
// sound, so the sound is written over it from where playback stands (before a corked stream
// plays again): the server has it at hand at once, and the queue keeps its length.
void PulseAudioStream::Resume()
{
    if (!m_playing.load())
        return;
    m_resting.store(false);
    if (!m_stream) {
        CreateStream();
        return;
    }
    // Sound may have been rendered since the sender woke us; it is not written over.
    if (m_queueSilent.load())
        Write(RoundUpToBlock(m_queueFrames, m_wanted.stepFrames), PA_SEEK_RELATIVE_ON_READ);
    if (m_corked)
        Cork(false);
}

void PulseAudioStream::Cork(bool cork)
{
    m_corked = cork;
    if (pa_operation* operation = pa_stream_cork(m_stream, cork ? 1 : 0, nullptr, nullptr))
        pa_operation_unref(operation);
}
