#include "math/zr_random.h"

namespace {

uint32_t lcg_step(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state;
}

uint64_t xorshift_step(uint64_t* state) {
    uint64_t s = *state;
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    *state = s;
    return s;
}

}  // namespace

uint16_t zr_rand_u16(uint32_t* state) { return static_cast<uint16_t>(lcg_step(state)); }

uint32_t zr_rand_u32(uint32_t* state) { return lcg_step(state); }

uint64_t zr_rand_xorshift64star(uint64_t* state) { return xorshift_step(state) * 0x2545F4914F6CDD1Dull; }

uint32_t zr_rand_xorshift20star(uint64_t* state) {
    return static_cast<uint32_t>((xorshift_step(state) * 843037u) & 0xFFFFFu);
}

uint32_t zr_randint_uint32(uint64_t* state, uint32_t lo, uint32_t hi) {
    const uint32_t r = static_cast<uint32_t>(xorshift_step(state)) * 1332534557u;
    const uint32_t width = hi - lo + 1u;
    // A width of 0 means the full 32-bit range: every value is already in it.
    if (width == 0) return r;
    return lo + static_cast<uint32_t>((static_cast<uint64_t>(r) * width) >> 32);
}
