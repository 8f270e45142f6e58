// The storage writer interface through which encoders emit a record, and its
// in-memory implementation: a fixed-capacity buffer reserved once with the
// exact total size and then filled by appending.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Releases a buffer handed out by a writer; called with its release context.
using zr_release_fn = void (*)(void* context);

// A pair of operations over an opaque context, supplied by the caller of an
// encoder.
struct zr_storage_writer {
    // Called once before any write with the exact record size. Hands out the
    // buffer the record ends up in, whether it is const (the flag arrives
    // preset to 1) and how to release it (arriving as none). BAL_OK or a status.
    bal_status (*reserve)(void* context, uint32_t size, uint8_t** data, int32_t* is_const, zr_release_fn* release,
                          void** release_context);
    // Appends n bytes; write(context, nullptr, 0) marks the end. BAL_OK or a status.
    bal_status (*write)(void* context, const uint8_t* bytes, uint32_t n);
};

// State of the memory writer; the caller provides it zeroed.
struct heap_buffer {
    uint8_t* data;      // the buffer
    uint32_t capacity;  // bytes reserved
    uint32_t used;      // bytes written so far
};

// Allocates size bytes and hands them out with const flag 1, free_mem as the
// release operation and the buffer as its context; the outputs are written
// even when the allocation fails (then with a null buffer, so releasing it is
// harmless). BAL_OK, or BAL_NO_MEMORY when the buffer cannot be allocated.
[[nodiscard]] bal_status heap_reserve(heap_buffer* state, uint32_t size, uint8_t** data, int32_t* is_const, zr_release_fn* release,
                                      void** release_context);

// Appends n bytes at state->used. BAL_BUFFER_FULL when they do not fit, with
// nothing written; a write of 0 bytes always succeeds.
[[nodiscard]] bal_status heap_write(heap_buffer* state, const uint8_t* bytes, uint32_t n);

// Frees a buffer from the C heap; null is ignored.
void free_mem(void* pointer);

// {heap_reserve, heap_write} over a heap_buffer context.
extern const zr_storage_writer heap_storage_writer;
