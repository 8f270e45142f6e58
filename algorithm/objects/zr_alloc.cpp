#include "objects/zr_alloc.h"

#include <atomic>
#include <cstdlib>

namespace {

// Allocations still allowed before failures start; negative: never fail.
std::atomic<int32_t> g_allocations_left{-1};

bool allocation_allowed() {
    int32_t left = g_allocations_left.load(std::memory_order_relaxed);
    while (left > 0) {
        if (g_allocations_left.compare_exchange_weak(left, left - 1, std::memory_order_relaxed))
            return true;
    }
    return left < 0;
}

}  // namespace

void* zr_malloc(size_t size) { return allocation_allowed() ? std::malloc(size) : nullptr; }

void* zr_calloc(size_t count, size_t size) {
    return allocation_allowed() ? std::calloc(count, size) : nullptr;
}

void zr_alloc_fail_after(int32_t successes) {
    g_allocations_left.store(successes, std::memory_order_relaxed);
}
