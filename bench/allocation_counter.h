#pragma once
// Counts the heap allocations of the whole benchmark program. The C library's allocation
// functions are replaced (in allocation_counter.cpp) by ones that count, then hand over to
// glibc's own: operator new, Qt's containers and C code all allocate through them.

#include <cstdint>

class AllocationCounter {
public:
    // Allocations made since the program started, on every thread.
    static std::uint64_t Count();
};
