#include "bench/allocation_counter.h"

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

void Counted() { g_allocations.fetch_add(1, std::memory_order_relaxed); }
} // namespace

std::uint64_t AllocationCounter::Count() { return g_allocations.load(std::memory_order_relaxed); }

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
