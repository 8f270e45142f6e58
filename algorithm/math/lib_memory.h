// The library's single out-of-memory path for scratch buffers.
#pragma once

#include <cstdint>

// Outcome of lib_memory_check; callers turn missing_freed into their own
// out-of-memory status.
enum class lib_memory_result : uint8_t {
    all_present,    // every checked pointer is set; nothing was freed
    missing_freed,  // a checked pointer is null; all seven have been freed
};

// all_present when each of the first n pointers is non-null (all seven when
// n >= 7). Otherwise frees every non-null pointer among all seven, p1 to p7,
// and returns missing_freed; the caller must not use or free any of them
// afterwards.
[[nodiscard]] lib_memory_result lib_memory_check(void* p1, void* p2, void* p3, void* p4, void* p5,
                                                 void* p6, void* p7, uint8_t n);
