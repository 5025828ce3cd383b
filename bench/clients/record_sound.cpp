// Records a sink's monitor into a file of dated blocks (see record_file.h) until SIGINT or
// SIGTERM, on PipeWire's graph or through PulseAudio:
//
//     varnek_record_sound --pipewire [--passive] [--latency 128] [--target null] FILE
//     varnek_record_sound --pulse [--source null.monitor] FILE
//
// It prints "recording" on standard output once the stream is linked, and on standard error
// what it counted when it ends.
#include "bench/clients/graph_recorder.h"
#include "bench/clients/pulse_recorder.h"
#include "bench/clients/record_file.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Arguments {
    bool pipeWire = true;
    GraphRecorder::Options graph;
    PulseRecorder::Options pulse;
    std::string path;
};

bool Parse(int argc, char** argv, Arguments& arguments)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--pipewire")
            arguments.pipeWire = true;
        else if (argument == "--pulse")
            arguments.pipeWire = false;
        else if (argument == "--passive")
            arguments.graph.passive = true;
        else if (argument == "--latency" && hasValue)
            arguments.graph.latencyFrames = std::atoi(argv[++i]);
        else if (argument == "--target" && hasValue)
            arguments.graph.target = argv[++i];
        else if (argument == "--source" && hasValue)
            arguments.pulse.source = argv[++i];
        else if (argument[0] != '-' && arguments.path.empty())
            arguments.path = argument;
        else
            return false;
    }
    return !arguments.path.empty() && arguments.graph.latencyFrames > 0;
}

// Blocks the ending signals in every thread, so that the main thread alone takes them.
sigset_t EndingSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

} // namespace

int main(int argc, char** argv)
{
    Arguments arguments;
    if (!Parse(argc, argv, arguments)) {
        std::fprintf(stderr,
                     "usage: %s --pipewire [--passive] [--latency FRAMES] [--target SINK] FILE\n"
                     "       %s --pulse [--source SOURCE] FILE\n",
                     argv[0], argv[0]);
        return 2;
    }
    const sigset_t signals = EndingSignals();
    RecordFile file(arguments.path);
    if (!file.IsOpen()) {
        std::perror(arguments.path.c_str());
        return 1;
    }
    std::unique_ptr<GraphRecorder> graph;
    std::unique_ptr<PulseRecorder> pulse;
    bool started = false;
    if (arguments.pipeWire) {
        graph = std::make_unique<GraphRecorder>(arguments.graph, file);
        started = graph->Start();
    } else {
        pulse = std::make_unique<PulseRecorder>(arguments.pulse, file);
        started = pulse->Start();
    }
    if (!started) {
        std::fprintf(stderr, "record_sound: no stream to record from\n");
        return 1;
    }
    std::printf("recording\n");
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    graph.reset();
    pulse.reset();
    std::fprintf(stderr, "record_sound: %llu blocks lost\n",
                 static_cast<unsigned long long>(file.LostBlocks()));
    return 0;
}
