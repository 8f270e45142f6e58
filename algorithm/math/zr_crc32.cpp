#include "math/zr_crc32.h"

#include "math/zr_crc32_table.h"

namespace {

uint32_t crc32_update(uint32_t state, const uint8_t* data, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) state = (state >> 8) ^ zr_crc32_table[(state ^ data[i]) & 0xFFu];
    return state;
}

}  // namespace

uint32_t zr_crc32(const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0) return 0;
    return ~crc32_update(0xFFFFFFFFu, data, length);
}

void zr_crc32_init_state(uint32_t* state) { *state = 0xFFFFFFFFu; }

void zr_crc32_compute(const uint8_t* data, uint32_t length, uint32_t* state) {
    if (data == nullptr || length == 0) return;
    *state = crc32_update(*state, data, length);
}

uint32_t zr_crc32_get(const uint32_t* state) { return ~*state; }
