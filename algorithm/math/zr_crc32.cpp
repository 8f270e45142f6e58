#include "math/zr_crc32.h"

#include "math/zr_crc32_table.h"

namespace {

inline uint32_t load_le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Byte by byte: state = (state >> 8) ^ T[(state ^ b) & 0xFF]. Eight bytes at a
// time give the same state through the tables of bytes followed by zeros.
uint32_t crc32_update(uint32_t state, const uint8_t* data, uint32_t length) {
    const auto& t = zr_crc32_tables;
    for (; length >= 8; length -= 8, data += 8) {
        const uint32_t lo = load_le32(data) ^ state;
        const uint32_t hi = load_le32(data + 4);
        state = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
                t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; length > 0; --length, ++data) state = (state >> 8) ^ t[0][(state ^ *data) & 0xFF];
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
