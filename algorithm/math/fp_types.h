// Low-level types shared by every layer of the algorithm library: the pixel
// element types and the half-spectrum layout of the 2-D FFTs.
#pragma once

#include <cstddef>
#include <cstdint>

// Pixel element types, named after the function suffixes.
using bal_uint8 = uint8_t;
using bal_int8 = int8_t;
using bal_uint16 = uint16_t;
using bal_int16 = int16_t;
using bal_uint32 = uint32_t;
using bal_int32 = int32_t;

// Half spectrum of an N x N real block: N rows of N/2 + 1 complex values,
// real and imaginary parts in two separate i32 arrays, row stride N/2 + 1.
// Element (u, v) holds vertical frequency u (0..N-1) and horizontal v (0..N/2).
constexpr uint32_t bal_half_spectrum_cols(uint32_t n) { return n / 2 + 1; }
constexpr uint32_t bal_half_spectrum_size(uint32_t n) { return n * (n / 2 + 1); }
constexpr uint32_t bal_half_spectrum_index(uint32_t n, uint32_t u, uint32_t v) {
    return u * (n / 2 + 1) + v;
}
