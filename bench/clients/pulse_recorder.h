#pragma once
// Records what a PulseAudio sink plays, from its monitor source, and dates every piece by the
// server's own timing information: its latest snapshot of how far the source had recorded at
// which moment, turned from the wall clock to CLOCK_MONOTONIC. Nothing is fitted over the
// recording, so a piece the server drops does not shift the dates of those after it.

#include "bench/clients/record_file.h"

#include <pulse/pulseaudio.h>

#include <cstdint>
#include <string>

class PulseRecorder {
public:
    struct Options {
        std::string source = "null.monitor";
        int fragmentFrames = 128;
        int rate = 48000;
    };

    PulseRecorder(Options options, RecordFile& file);
    ~PulseRecorder();
    PulseRecorder(const PulseRecorder&) = delete;
    PulseRecorder& operator=(const PulseRecorder&) = delete;

    // Connects and waits until the stream records; false when no server answers in time.
    bool Start();
    void Stop();

private:
    static void OnContextState(pa_context* context, void* self);
    static void OnStreamState(pa_stream* stream, void* self);
    static void OnRead(pa_stream* stream, std::size_t bytes, void* self);
    bool Connect();
    bool WaitUntilReady();
    void Read();
    std::uint64_t FirstFrameNsec() const;

    Options m_options;
    RecordFile& m_file;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::uint64_t m_framesRead = 0;
};
