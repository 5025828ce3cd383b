// Debian builds FluidSynth with OpenMP, and every block the synth renders with its reverb on
// opens a parallel region to run the effects, asking for as many threads as the synth has
// cores: one, for ours. For a team of one thread, GNU OpenMP allocates the team and frees it
// again in every region, and wakes its barriers twice with a system call, so the audio thread
// allocated once and made two futex calls per block, in silence too, whatever OMP_NUM_THREADS
// said. A region of one thread is the same work as running its body once: constructs met
// outside any team (its loop and barrier) take the one thread as the whole team, which is what
// OpenMP defines for them. So this program's GOMP_parallel, found by the dynamic linker before
// the library's, runs such a region in place and hands every other one to GNU OpenMP.
//
// The executable exports the definition because the FluidSynth library it links against asks
// for it; CMake makes sure it is linked in.

#include <dlfcn.h>

extern "C" void GOMP_parallel(void (*body)(void*), void* data, unsigned threads, unsigned flags)
{
    using ParallelRegion = void (*)(void (*)(void*), void*, unsigned, unsigned);
    if (threads != 1) {
        static const auto openMp = reinterpret_cast<ParallelRegion>(dlsym(RTLD_NEXT, "GOMP_parallel"));
        if (openMp) {
            openMp(body, data, threads, flags);
            return;
        }
    }
    body(data);
}
