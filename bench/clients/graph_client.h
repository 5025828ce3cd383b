#pragma once
// A stream of the benchmark's own in a PipeWire graph, float stereo, rendered or recorded on
// PipeWire's real-time thread: what the recorder and the click have in common. A subclass
// handles each cycle's buffer; the graph's position (its clock) is there while it does.

#include <pipewire/pipewire.h>

#include <atomic>

struct spa_io_position;

class GraphClient {
public:
    GraphClient();
    virtual ~GraphClient();
    GraphClient(const GraphClient&) = delete;
    GraphClient& operator=(const GraphClient&) = delete;

    // Connects a stream with `properties` (taken over) and waits until it reaches `ready`, or
    // for a few seconds at most; false when it does not.
    bool Start(pw_properties* properties, pw_direction direction, int rate, pw_stream_state ready);
    void Stop();

protected:
    // The data thread, at every cycle: the buffer is dequeued and queued again around it.
    virtual void Process(pw_buffer& buffer) = 0;
    const spa_io_position* Position() const { return m_position.load(); }

private:
    static void OnStateChanged(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void OnIoChanged(void* self, std::uint32_t id, void* area, std::uint32_t size);
    static void OnProcess(void* self);

    pw_thread_loop* m_loop = nullptr;
    pw_stream* m_stream = nullptr;
    spa_hook m_listener{};
    pw_stream_state m_ready = PW_STREAM_STATE_STREAMING;
    std::atomic<bool> m_reached{false};
    std::atomic<bool> m_failed{false};
    std::atomic<spa_io_position*> m_position{nullptr};
};
