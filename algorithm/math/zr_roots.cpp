#include "math/zr_roots.h"

#include <cstdint>

#include "math/zr_exp_table.h"

namespace {

// Restoring digit-by-digit square root over the low 2 * pairs bits of value,
// most significant pair first: floor(sqrt(value)).
inline uint32_t digit_root(uint32_t value, int pairs) {
    const uint32_t bits = pairs >= 16 ? value : value & ((1u << (2 * pairs)) - 1u);
    if (bits == 0) return 0;
    // Leading pairs of zeros leave the root and the remainder at 0: the
    // digits start at the highest pair that holds a 1.
    const int top = (31 - __builtin_clz(bits)) & ~1;
    uint32_t remainder = 0;
    uint32_t root = 0;
    for (int shift = top; shift >= 0; shift -= 2) {
        remainder = (remainder << 2) | ((value >> shift) & 3u);
        const uint32_t trial = (root << 2) | 1u;
        // Without a branch: the digit is 1 exactly when the trial fits.
        const uint32_t digit = remainder >= trial ? 1u : 0u;
        remainder -= trial & (0u - digit);
        root = (root << 1) | digit;
    }
    return root;
}

// Nearest integer to sqrt(y) from floor(sqrt(4y)), for 4y < 2^32.
inline uint32_t rounded_root(uint32_t y, int pairs) { return (digit_root(y << 2, pairs) + 1) >> 1; }

}  // namespace

uint32_t zr_sqrt_(uint32_t x) { return rounded_root(x & 0x3FFFFFFFu, 16); }

uint32_t zr_sqrt_16(uint32_t x) {
    const uint32_t y = x & 0xFFFFu;
    return y < 16384 ? rounded_root(y, 8) : digit_root(y, 8);
}

uint32_t zr_sqrt_24_5(uint32_t x) { return digit_root(x >> 14, 9); }

uint32_t zr_sqrt_32(uint32_t x) { return digit_root(x, 16); }

uint64_t zr_sqrt_nearest_64(uint64_t x) {
    // Restoring root two bits a step from the top; the remainder x - root^2
    // then decides the rounding: it exceeds root exactly when
    // sqrt(x) > root + 1/2.
    uint64_t root = 0;
    uint64_t remainder = x;
    uint64_t bit = uint64_t{1} << 62;
    while (bit > x) bit >>= 2;
    while (bit != 0) {
        if (remainder >= root + bit) {
            remainder -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
        bit >>= 2;
    }
    return remainder > root ? root + 1 : root;
}

int32_t zr_exp_8(int32_t x) {
    // Outside the domain the shift or the result would overflow.
    if (x >= 4071) return INT32_MAX;
    if (x < -8388608) return 0;
    const int32_t t = (x << 8) / 177;  // base-2 logarithm of the result, Q8
    const int32_t k = t >> 8;
    const int32_t f = t - k * 256;
    if (k < -16) return 0;
    const int32_t v = zr_exp2_table_q8[f >> 2];
    return k > 0 ? v << k : v >> -k;
}

uint32_t zr_log2_32(uint32_t x) {
    uint32_t n = 0;
    if (x & 0xFFFF0000u) {
        x >>= 16;
        n += 16;
    }
    if (x & 0xFF00u) {
        x >>= 8;
        n += 8;
    }
    if (x & 0xF0u) {
        x >>= 4;
        n += 4;
    }
    if (x & 0xCu) {
        x >>= 2;
        n += 2;
    }
    if (x & 0x2u) n += 1;
    return n;
}

uint32_t zr_clz32(uint32_t x) {
    if (x == 0) return 32;
    uint32_t n = 0;
    if (x < 0x10000u) {
        x <<= 16;
        n += 16;
    }
    if (x < 0x1000000u) {
        x <<= 8;
        n += 8;
    }
    if (x < 0x10000000u) {
        x <<= 4;
        n += 4;
    }
    if (x < 0x40000000u) {
        x <<= 2;
        n += 2;
    }
    if (x < 0x80000000u) n += 1;
    return n;
}
