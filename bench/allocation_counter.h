#pragma once
// Counts the heap allocations of the whole benchmark program. The C library's allocation
// functions are replaced (in allocation_counter.cpp) by ones that count, then hand over to
// glibc's own: operator new, Qt's containers and C code all allocate through them. The count is
// kept for each thread too, so that a test can tell what an audio thread allocated.

#include <sys/types.h>

#include <cstdint>

class AllocationCounter {
public:
    // Allocations made since the program started, on every thread.
    static std::uint64_t Count();
    // Allocations made so far by the thread with this kernel id (gettid), or by threads that
    // had it before.
    static std::uint64_t CountOnThread(pid_t thread);
};
