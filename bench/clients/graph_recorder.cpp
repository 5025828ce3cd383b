#include "bench/clients/graph_recorder.h"

#include <spa/node/io.h>

#include <algorithm>
#include <string>

// Paused already means linked: a passive recorder whose graph rests is never streaming.
bool GraphRecorder::Start()
{
    const std::string latency =
        std::to_string(m_options.latencyFrames) + "/" + std::to_string(m_options.rate);
    pw_properties* properties = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Production",
        PW_KEY_NODE_NAME, "bench-recorder", PW_KEY_NODE_LATENCY, latency.c_str(), PW_KEY_STREAM_CAPTURE_SINK,
        "true", PW_KEY_TARGET_OBJECT, m_options.target.c_str(), PW_KEY_NODE_PASSIVE,
        m_options.passive ? "true" : "false", PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
    return GraphClient::Start(properties, PW_DIRECTION_INPUT, m_options.rate, PW_STREAM_STATE_PAUSED);
}

void GraphRecorder::Process(pw_buffer& buffer)
{
    const spa_data& data = buffer.buffer->datas[0];
    const spa_io_position* position = Position();
    if (!data.data || !data.chunk || !position)
        return;
    RecordFile::Block block;
    block.cycleNsec = position->clock.nsec;
    block.position = position->clock.position;
    block.duration = std::uint32_t(position->clock.duration);
    block.rate = position->clock.rate.denom;
    const std::uint32_t offset = std::min(data.chunk->offset, data.maxsize);
    const std::uint32_t size = std::min(data.chunk->size, data.maxsize - offset);
    block.frames = size / (RecordFile::kChannels * sizeof(float));
    m_file.Append(block,
                  reinterpret_cast<const float*>(static_cast<const std::uint8_t*>(data.data) + offset));
}
