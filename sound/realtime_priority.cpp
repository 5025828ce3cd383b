#include "sound/realtime_priority.h"

#include <pthread.h>
#include <sched.h>

namespace {

// As FluidSynth's own audio threads ask for, and below the servers' real-time threads.
constexpr int kRealtimePriority = 60;

} // namespace

void RaiseThisThreadToRealtimePriority()
{
    sched_param priority{};
    priority.sched_priority = kRealtimePriority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
}
