// Pseudo-random generators whose state the caller owns and passes in, so that
// runs are repeatable and no global state exists.
#pragma once

#include <cstdint>

// Linear congruential step (state * 1664525 + 1013904223); returns the new state.
uint16_t zr_rand_u16(uint32_t* state);
uint32_t zr_rand_u32(uint32_t* state);

// Xorshift64* (the state must not be 0: a zero state stays zero).
uint64_t zr_rand_xorshift64star(uint64_t* state);
// The low 20 bits of the xorshift64* output, 0..0xFFFFF.
uint32_t zr_rand_xorshift20star(uint64_t* state);
// A value in lo..hi (lo <= hi) by multiply-shift reduction of the low 32 bits
// of the xorshift64* output; the full range 0..0xFFFFFFFF returns them unreduced.
uint32_t zr_randint_uint32(uint64_t* state, uint32_t lo, uint32_t hi);
