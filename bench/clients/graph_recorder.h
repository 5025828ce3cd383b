#pragma once
// Records what a PipeWire sink plays, from its monitor, as a node of the graph itself: a
// capture stream rendered on PipeWire's real-time thread, asking for the same latency as the
// program measured, each buffer stamped with the graph's own clock (the cycle's time on
// CLOCK_MONOTONIC and its position in frames), so that no later guess is needed to date a
// sample. A passive recorder follows the graph without holding it: where nothing else plays,
// the graph may rest or change its quantum as it would without the recorder.

#include "bench/clients/graph_client.h"
#include "bench/clients/record_file.h"

#include <string>

class GraphRecorder : public GraphClient {
public:
    struct Options {
        std::string target = "null"; // the sink whose monitor is recorded
        bool passive = false;
        int latencyFrames = 128;
        int rate = 48000;
    };

    GraphRecorder(Options options, RecordFile& file) : m_options(std::move(options)), m_file(file) {}
    ~GraphRecorder() override { Stop(); }

    // Connects and waits until the stream is linked; false when no server answers in time.
    bool Start();

private:
    void Process(pw_buffer& buffer) override;

    Options m_options;
    RecordFile& m_file;
};
