#include "objects/zr_storage_writer.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_status.h"

bal_status heap_reserve(heap_buffer* state, uint32_t size, uint8_t** data, int32_t* is_const, zr_release_fn* release,
                        void** release_context) {
    state->used = 0;
    // malloc(0) may return null; a zero-size record still gets a buffer.
    state->data = static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
    state->capacity = state->data ? size : 0;
    *data = state->data;
    *is_const = 1;
    *release = free_mem;
    *release_context = state->data;
    return state->data ? BAL_OK : BAL_NO_MEMORY;
}

bal_status heap_write(heap_buffer* state, const uint8_t* bytes, uint32_t n) {
    // Compared against the room left, so that used + n cannot wrap.
    if (n > state->capacity - state->used) return BAL_BUFFER_FULL;
    if (n == 0) return BAL_OK;
    std::memcpy(state->data + state->used, bytes, n);
    state->used += n;
    return BAL_OK;
}

void free_mem(void* pointer) {
    if (pointer) std::free(pointer);
}

const zr_storage_writer heap_storage_writer = {
    [](void* context, uint32_t size, uint8_t** data, int32_t* is_const, zr_release_fn* release,
       void** release_context) {
        return heap_reserve(static_cast<heap_buffer*>(context), size, data, is_const, release, release_context);
    },
    [](void* context, const uint8_t* bytes, uint32_t n) {
        return heap_write(static_cast<heap_buffer*>(context), bytes, n);
    },
};
