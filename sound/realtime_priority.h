#pragma once
// An audio stream plays in time only if the thread that feeds it runs when the server asks, and a
// note after a silence sounds at once only if the thread that wakes the stream runs at once; on
// a busy machine both take a real-time priority, as FluidSynth's own audio threads ask for.

// Gives the calling thread a real-time priority where the system allows it; without the right
// to one, the thread keeps its normal priority.
void RaiseThisThreadToRealtimePriority();
