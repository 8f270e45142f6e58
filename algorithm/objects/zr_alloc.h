// Heap allocation of the object layer. Records and buffers are freed with the
// C library's free(). A test seam makes allocations fail on demand, so that
// the clean-up paths of constructors can be exercised.
#pragma once

#include <cstddef>
#include <cstdint>

// malloc() / calloc() unless the test seam says this allocation fails (then
// none).
void* zr_malloc(size_t size);
void* zr_calloc(size_t count, size_t size);

// Test seam, not part of the library's interface: the next `successes`
// allocations through zr_malloc / zr_calloc succeed and every later one fails,
// until the seam is called again; a negative value turns failures off.
void zr_alloc_fail_after(int32_t successes);
