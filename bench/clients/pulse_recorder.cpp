#include "bench/clients/pulse_recorder.h"

#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr std::size_t kFrameBytes = RecordFile::kChannels * sizeof(float);

std::int64_t Nsec(clockid_t clock)
{
    timespec now;
    clock_gettime(clock, &now);
    return std::int64_t(now.tv_sec) * 1'000'000'000 + std::int64_t(now.tv_nsec);
}

// The server stamps its timing with the wall clock; the dates are on the monotonic one.
std::int64_t RealtimeMinusMonotonicNsec() { return Nsec(CLOCK_REALTIME) - Nsec(CLOCK_MONOTONIC); }

} // namespace

PulseRecorder::PulseRecorder(Options options, RecordFile& file) : m_options(std::move(options)), m_file(file)
{
}

PulseRecorder::~PulseRecorder() { Stop(); }

bool PulseRecorder::Start()
{
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop || pa_threaded_mainloop_start(m_loop) < 0)
        return false;
    pa_threaded_mainloop_lock(m_loop);
    const bool started = Connect() && WaitUntilReady();
    pa_threaded_mainloop_unlock(m_loop);
    return started;
}

void PulseRecorder::Stop()
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_stream) {
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    if (m_context) {
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_stream = nullptr;
    m_context = nullptr;
    m_loop = nullptr;
}

bool PulseRecorder::Connect()
{
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "bench-recorder");
    if (!m_context)
        return false;
    pa_context_set_state_callback(m_context, &PulseRecorder::OnContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    while (pa_context_get_state(m_context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
            return false;
        pa_threaded_mainloop_wait(m_loop);
    }
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(m_options.rate), RecordFile::kChannels};
    m_stream = pa_stream_new(m_context, "bench-recorder", &spec, nullptr);
    if (!m_stream)
        return false;
    pa_stream_set_state_callback(m_stream, &PulseRecorder::OnStreamState, this);
    pa_stream_set_read_callback(m_stream, &PulseRecorder::OnRead, this);
    pa_buffer_attr attributes;
    std::memset(&attributes, 0xff, sizeof attributes);
    attributes.fragsize = std::uint32_t(m_options.fragmentFrames * kFrameBytes);
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                         PA_STREAM_AUTO_TIMING_UPDATE);
    return pa_stream_connect_record(m_stream, m_options.source.c_str(), &attributes, flags) >= 0;
}

bool PulseRecorder::WaitUntilReady()
{
    while (pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            return false;
        pa_threaded_mainloop_wait(m_loop);
    }
    return true;
}

void PulseRecorder::OnContextState(pa_context*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseRecorder*>(self)->m_loop, 0);
}

void PulseRecorder::OnStreamState(pa_stream*, void* self)
{
    pa_threaded_mainloop_signal(static_cast<PulseRecorder*>(self)->m_loop, 0);
}

void PulseRecorder::OnRead(pa_stream*, std::size_t, void* self) { static_cast<PulseRecorder*>(self)->Read(); }

// The server's latest timing snapshot says how far the monitor had recorded at a moment: to the
// write index of the stream, plus what was still in the source and on its way. A monitor
// records what its sink mixes as it mixes it, which is the moment a sample is dated by here, as
// on PipeWire's graph; when the sink will play it (what the stream's own time tells, the sink's
// latency later) depends on the sound card and is left out, as it is there.
std::uint64_t PulseRecorder::FirstFrameNsec() const
{
    const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
    if (!timing || timing->write_index_corrupt)
        return 0;
    const double recordedUs = 1e6 * double(timing->write_index) / double(kFrameBytes) / m_options.rate +
                              double(timing->transport_usec) + double(timing->source_usec);
    const double snapshotNsec = double(timing->timestamp.tv_sec) * 1e9 +
                                double(timing->timestamp.tv_usec) * 1e3 -
                                double(RealtimeMinusMonotonicNsec());
    const double firstFrameUs = 1e6 * double(m_framesRead) / m_options.rate;
    return std::uint64_t(snapshotNsec + 1000.0 * (firstFrameUs - recordedUs));
}

void PulseRecorder::Read()
{
    const void* data = nullptr;
    std::size_t bytes = 0;
    while (pa_stream_readable_size(m_stream) > 0 && pa_stream_peek(m_stream, &data, &bytes) >= 0 &&
           bytes > 0) {
        RecordFile::Block block;
        block.flags = RecordFile::kDated;
        block.cycleNsec = FirstFrameNsec();
        block.position = m_framesRead;
        block.rate = std::uint32_t(m_options.rate);
        block.frames = std::uint32_t(bytes / kFrameBytes);
        block.duration = block.frames;
        if (data) {
            m_file.Append(block, static_cast<const float*>(data));
        } else {
            // A hole in the recording: the server lost what would have been here.
            const std::vector<float> silence(std::size_t(block.frames) * RecordFile::kChannels, 0.0f);
            block.flags |= RecordFile::kHole;
            m_file.Append(block, silence.data());
        }
        m_framesRead += block.frames;
        pa_stream_drop(m_stream);
    }
}
