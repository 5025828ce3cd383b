#include "bench/clients/click_stream.h"

#include <spa/node/io.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace {

constexpr int kChannels = 2;
// A 1 kHz tone for 10 ms, starting at its crest so that the very first frame is loud.
constexpr double kClickHz = 1000;
constexpr double kClickSeconds = 0.01;
constexpr double kClickLevel = 0.3;

} // namespace

bool ClickStream::Start()
{
    const std::string latency = std::to_string(m_latencyFrames) + "/" + std::to_string(m_rate);
    pw_properties* properties = pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY,
                                                  "Playback", PW_KEY_MEDIA_ROLE, "Music", PW_KEY_NODE_NAME,
                                                  "key-click", PW_KEY_NODE_LATENCY, latency.c_str(), nullptr);
    return GraphClient::Start(properties, PW_DIRECTION_OUTPUT, m_rate, PW_STREAM_STATE_STREAMING);
}

void ClickStream::Process(pw_buffer& buffer)
{
    spa_data& data = buffer.buffer->datas[0];
    const std::uint32_t frameBytes = kChannels * sizeof(float);
    int frames = data.data ? int(data.maxsize / frameBytes) : 0;
    if (buffer.requested > 0)
        frames = std::min(frames, int(buffer.requested));
    if (m_clickPending.exchange(false)) {
        m_clickFrame = 0;
        if (const spa_io_position* position = Position())
            m_lastClickNsec.store(position->clock.nsec);
    }
    Render(static_cast<float*>(data.data), frames);
    data.chunk->offset = 0;
    data.chunk->stride = int(frameBytes);
    data.chunk->size = std::uint32_t(frames) * frameBytes;
}

void ClickStream::Render(float* interleaved, int frames)
{
    const int clickFrames = int(kClickSeconds * m_rate);
    for (int i = 0; i < frames; ++i) {
        float sample = 0;
        if (m_clickFrame >= 0) {
            sample = float(kClickLevel * std::cos(2 * M_PI * kClickHz * m_clickFrame / m_rate));
            if (++m_clickFrame >= clickFrames)
                m_clickFrame = -1;
        }
        interleaved[2 * i] = sample;
        interleaved[2 * i + 1] = sample;
    }
}
