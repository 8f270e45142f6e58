#include "math/lib_memory.h"

#include <gtest/gtest.h>

#include <cstdlib>

// Under AddressSanitizer a buffer that is freed twice or leaked fails the run,
// so these cases also check which buffers the check frees.
TEST(LibMemoryCheck, PassesWhenTheCheckedPointersAreSet) {
    EXPECT_EQ(lib_memory_check(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), lib_memory_result::all_present);
    void* a = std::malloc(4);
    void* b = std::malloc(4);
    void* c = std::malloc(4);
    EXPECT_EQ(lib_memory_check(a, b, c, nullptr, nullptr, nullptr, nullptr, 3), lib_memory_result::all_present);
    std::free(a);
    std::free(b);
    std::free(c);
}

TEST(LibMemoryCheck, FailureFreesEveryBufferIncludingUncheckedOnes) {
    void* p1 = std::malloc(8);
    void* p5 = std::malloc(8);
    EXPECT_EQ(lib_memory_check(p1, nullptr, nullptr, nullptr, p5, nullptr, nullptr, 2), lib_memory_result::missing_freed);
    void* all[7];
    for (auto& p : all) p = std::malloc(1);
    std::free(all[6]);
    all[6] = nullptr;
    EXPECT_EQ(lib_memory_check(all[0], all[1], all[2], all[3], all[4], all[5], all[6], 200), lib_memory_result::missing_freed);
}
