// Fixed-point helpers of the liveness code: 8-bit-angle sine and cosine,
// arctangent, rounded square root, small integer helpers, and the liveness
// error word.
//
// Angles are 8-bit: 256 steps a turn, counter-clockwise from the positive
// x axis. Sines and cosines are Q14 (16384 = 1.0). All functions are pure
// except nex_error / nex_error_q, which touch the calling thread's error word.
#pragma once

#include <cstdint>

// round(16384 sin(2 pi angle / 256)), from the rounded quarter-wave table
// mirrored into the other quadrants; -16384..16384.
[[nodiscard]] int32_t nex_sin(uint8_t angle);
// nex_sin(angle + 64).
[[nodiscard]] int32_t nex_cos(uint8_t angle);

// Angle of the vector (x, y) in 0..256 (256 stands for 0 and comes out for
// vectors just below the positive x axis; callers reduce modulo 256); 0 for
// (0, 0). The vector is folded into the first octant and the ratio
// smaller / larger is rounded to 1/32 (64-bit intermediate, no overflow for
// any input; both magnitudes are shifted right by 6 when the smaller exceeds
// 0x3FFFFFF), then mapped to 0..32 by a piecewise-linear correction. The
// result is within one step of the rounded true angle.
[[nodiscard]] int32_t nex_arctan(int32_t x, int32_t y);

// Square root rounded to nearest (halves cannot occur): the digit-by-digit
// floor root, plus 1 when the remainder exceeds it. nex_sqrt(0xFFFFFFFF) is
// 65536.
[[nodiscard]] uint32_t nex_sqrt(uint32_t value);

// |value|; INT32_MIN gives INT32_MIN (two's-complement wrap).
[[nodiscard]] int32_t nex_abs(int32_t value);

// (a - b) folded into -127..128 modulo 256.
[[nodiscard]] int32_t nex_angle_difference(int32_t a, int32_t b);

// a modulo b in 0..b-1 for b > 0 (a negative remainder has b added). b must
// not be 0.
[[nodiscard]] int32_t mod(int32_t a, int32_t b);

// The liveness error word. Each thread has its own; the scoring pipeline
// clears it at the start of every call, and a stage that fails sets it (the
// network run sets 3 when its scratch allocation fails).
// nex_error sets the word and returns the value; nex_error_q reads it.
uint32_t nex_error(uint32_t code);
[[nodiscard]] uint32_t nex_error_q();

// Error word value set when an allocation of a stage fails.
constexpr uint32_t NEX_ERROR_NO_MEMORY = 3;
