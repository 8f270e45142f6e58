// Integer square roots, a Q8 exponential, the integer base-2 logarithm and a
// count of leading zero bits. The root variants differ in input range and
// rounding and are not interchangeable; every result is exact.
#pragma once

#include <cstdint>

// Nearest integer to sqrt(x mod 2^30) (bits 31 and 30 ignored), 0..32768.
uint32_t zr_sqrt_(uint32_t x);
// With y the low 16 bits: nearest integer to sqrt(y) for y < 16384, else floor(sqrt(y)).
uint32_t zr_sqrt_16(uint32_t x);
// floor(sqrt(x >> 14)), 0..511.
uint32_t zr_sqrt_24_5(uint32_t x);
// floor(sqrt(x)), 0..65535.
uint32_t zr_sqrt_32(uint32_t x);
// Nearest integer to sqrt(x) over the whole 64-bit range, 0..2^32 (ties
// cannot occur for integers).
uint64_t zr_sqrt_nearest_64(uint64_t x);

// Q8 approximation of 256 e^(x / 256): INT32_MAX for x >= 4071, 0 for x < -8388608.
int32_t zr_exp_8(int32_t x);

// floor(log2 x) for x >= 1; 0 for x = 0.
uint32_t zr_log2_32(uint32_t x);
// Number of leading zero bits; 32 for x = 0.
uint32_t zr_clz32(uint32_t x);
