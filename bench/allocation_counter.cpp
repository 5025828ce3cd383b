#include "bench/allocation_counter.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>

// glibc's allocator under its own names: what a program that replaces malloc hands over to.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* memory);
}

namespace {
std::atomic<std::uint64_t> g_allocations{0};

// One thread's count. A thread takes a free slot at its first allocation and keeps it; the
// slots outnumber the threads a test or a benchmark ever starts.
struct ThreadSlot {
    std::atomic<pid_t> thread{0};
    std::atomic<std::uint64_t> allocations{0};
};
std::array<ThreadSlot, 4096> g_threads;
ThreadSlot g_overflow; // shared by threads that found every slot taken
thread_local ThreadSlot* t_slot = nullptr;

ThreadSlot* SlotOfThisThread()
{
    const pid_t self = gettid();
    for (ThreadSlot& slot : g_threads) {
        pid_t free = 0;
        if (slot.thread.compare_exchange_strong(free, self, std::memory_order_relaxed))
            return &slot;
    }
    return &g_overflow;
}

void Counted()
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (!t_slot)
        t_slot = SlotOfThisThread();
    t_slot->allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

std::uint64_t AllocationCounter::Count() { return g_allocations.load(std::memory_order_relaxed); }

std::uint64_t AllocationCounter::CountOnThread(pid_t thread)
{
    std::uint64_t count = 0;
    for (const ThreadSlot& slot : g_threads) {
        if (slot.thread.load(std::memory_order_relaxed) == thread)
            count += slot.allocations.load(std::memory_order_relaxed);
    }
    return count;
}

extern "C" {
void* malloc(std::size_t size) noexcept
{
    Counted();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    Counted();
    return __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) noexcept
{
    Counted();
    return __libc_realloc(memory, size);
}

void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    Counted();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    Counted();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** memory, std::size_t alignment, std::size_t size) noexcept
{
    Counted();
    *memory = __libc_memalign(alignment, size);
    return *memory != nullptr ? 0 : ENOMEM;
}

void free(void* memory) noexcept { __libc_free(memory); }
}
