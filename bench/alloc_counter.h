// A counting global allocator for the benchmarks: every operator new in the
// process bumps one counter, so a benchmark can show how many allocations a
// piece of work takes. Include from exactly one source file per program.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace bench_alloc {

inline std::atomic<uint64_t> g_allocations{0};

inline uint64_t Count()
{
    return g_allocations.load(std::memory_order_relaxed);
}

} // namespace bench_alloc

[[gnu::noinline]] void* operator new(std::size_t size)
{
    bench_alloc::g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

[[gnu::noinline]] void* operator new[](std::size_t size)
{
    return operator new(size);
}

[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}

[[gnu::noinline]] void operator delete[](void* p) noexcept
{
    std::free(p);
}

[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
