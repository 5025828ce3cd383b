#include "bench/clients/graph_client.h"

#include "bench/clients/stereo_format.h"

#include <spa/node/io.h>

#include <cstdio>

namespace {

constexpr int kStartTimeoutSeconds = 5;

} // namespace

GraphClient::GraphClient() { pw_init(nullptr, nullptr); }

GraphClient::~GraphClient() { Stop(); }

bool GraphClient::Start(pw_properties* properties, pw_direction direction, int rate, pw_stream_state ready)
{
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &GraphClient::OnStateChanged;
        e.io_changed = &GraphClient::OnIoChanged;
        e.process = &GraphClient::OnProcess;
        return e;
    }();
    m_ready = ready;
    m_loop = pw_thread_loop_new("bench-client", nullptr);
    if (!m_loop || pw_thread_loop_start(m_loop) < 0) {
        pw_properties_free(properties);
        return false;
    }
    pw_thread_loop_lock(m_loop);
    // The real-time configuration puts the data thread at a real-time priority.
    pw_properties_set(properties, PW_KEY_CONFIG_NAME, "client-rt.conf");
    const char* name = pw_properties_get(properties, PW_KEY_NODE_NAME);
    m_stream = pw_stream_new_simple(pw_thread_loop_get_loop(m_loop), name ? name : "bench-client", properties,
                                    &events, this);
    bool started = m_stream != nullptr;
    if (started) {
        std::uint8_t space[512];
        const spa_pod* parameters[] = {StereoFloatFormat(space, rate)};
        const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                           PW_STREAM_FLAG_RT_PROCESS);
        started = pw_stream_connect(m_stream, direction, PW_ID_ANY, flags, parameters, 1) >= 0;
    }
    timespec deadline;
    pw_thread_loop_get_time(m_loop, &deadline, std::int64_t(kStartTimeoutSeconds) * SPA_NSEC_PER_SEC);
    while (started && !m_reached.load() && !m_failed.load()) {
        if (pw_thread_loop_timed_wait_full(m_loop, &deadline) < 0)
            break;
    }
    started = started && m_reached.load();
    pw_thread_loop_unlock(m_loop);
    return started;
}

void GraphClient::Stop()
{
    if (m_loop)
        pw_thread_loop_stop(m_loop);
    if (m_stream)
        pw_stream_destroy(m_stream);
    if (m_loop)
        pw_thread_loop_destroy(m_loop);
    m_stream = nullptr;
    m_loop = nullptr;
}

void GraphClient::OnStateChanged(void* self, pw_stream_state, pw_stream_state state, const char* error)
{
    auto* client = static_cast<GraphClient*>(self);
    std::fprintf(stderr, "bench-client: %s%s%s\n", pw_stream_state_as_string(state), error ? ": " : "",
                 error ? error : "");
    // Streaming counts as paused too: a stream passes through paused on its way.
    if (state == client->m_ready || state == PW_STREAM_STATE_STREAMING)
        client->m_reached.store(true);
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED)
        client->m_failed.store(true);
    pw_thread_loop_signal(client->m_loop, false);
}

void GraphClient::OnIoChanged(void* self, std::uint32_t id, void* area, std::uint32_t)
{
    if (id == SPA_IO_Position)
        static_cast<GraphClient*>(self)->m_position.store(static_cast<spa_io_position*>(area));
}

void GraphClient::OnProcess(void* self)
{
    auto* client = static_cast<GraphClient*>(self);
    if (pw_buffer* buffer = pw_stream_dequeue_buffer(client->m_stream)) {
        client->Process(*buffer);
        pw_stream_queue_buffer(client->m_stream, buffer);
    }
}
