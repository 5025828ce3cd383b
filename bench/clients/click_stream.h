#pragma once
// The least a program can do between a key and its sound on PipeWire: a playback node at the
// same latency as Varnek's own (128 frames at 48 kHz), rendered on PipeWire's real-time thread,
// that starts a click at the first frame of the first cycle after it was told of a key. It
// never rests, so the graph keeps its quantum.

#include "bench/clients/graph_client.h"

#include <atomic>
#include <cstdint>

class ClickStream : public GraphClient {
public:
    ClickStream(int latencyFrames, int rate) : m_latencyFrames(latencyFrames), m_rate(rate) {}
    ~ClickStream() override { Stop(); }

    // Connects and waits until the graph plays the node; false when it does not in time.
    bool Start();
    // A key went down: the next cycle begins with a click. Safe from any thread.
    void Click() { m_clickPending.store(true); }
    // The graph's time (CLOCK_MONOTONIC) of the cycle the last click began in, 0 before one.
    std::uint64_t LastClickCycleNsec() const { return m_lastClickNsec.load(); }

private:
    void Process(pw_buffer& buffer) override;
    void Render(float* interleaved, int frames);

    int m_latencyFrames;
    int m_rate;
    std::atomic<bool> m_clickPending{false};
    std::atomic<std::uint64_t> m_lastClickNsec{0};
    int m_clickFrame = -1; // the data thread's: where in the click it is, or -1 between clicks
};
