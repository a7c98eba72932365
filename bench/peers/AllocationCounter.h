#pragma once

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>

// Counts every allocation of the process (malloc and with it operator new, in Vitrine and in the
// peers alike) when the program is built with VITRINE_COUNT_ALLOCATIONS; otherwise counts nothing
// and costs nothing, so that the timing build measures the plain allocator.
namespace bench {

struct AllocationCounter {
    static inline std::atomic<size_t> allocations{0};
    static inline std::atomic<size_t> bytes{0};

    // The allocations from its creation (or restart) to report, per iteration of the state.
    class Scope {
    public:
        Scope() { restart(); }
        void restart() {
            startAllocations = allocations.load(std::memory_order_relaxed);
            startBytes = bytes.load(std::memory_order_relaxed);
        }
        void report([[maybe_unused]] benchmark::State& state) const {
#ifdef VITRINE_COUNT_ALLOCATIONS
            const double madeAllocations =
                double(allocations.load(std::memory_order_relaxed) - startAllocations);
            const double madeBytes = double(bytes.load(std::memory_order_relaxed) - startBytes);
            state.counters["allocs"] =
                benchmark::Counter(madeAllocations, benchmark::Counter::kAvgIterations);
            state.counters["alloc_bytes"] =
                benchmark::Counter(madeBytes, benchmark::Counter::kAvgIterations);
#endif
        }

    private:
        size_t startAllocations = 0;
        size_t startBytes = 0;
    };
};

}  // namespace bench
