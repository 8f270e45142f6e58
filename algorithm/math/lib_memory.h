// The library's single out-of-memory path for scratch buffers.
#pragma once

#include <cstdint>

// Passes (0) when each of the first n pointers is non-null (all seven when
// n >= 7). Otherwise frees every non-null pointer among all seven, p1 to p7,
// and returns 9; the caller must not use or free any of them afterwards.
int32_t lib_memory_check(void* p1, void* p2, void* p3, void* p4, void* p5, void* p6, void* p7,
                         uint8_t n);
