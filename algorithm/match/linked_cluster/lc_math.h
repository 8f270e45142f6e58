// Angle, trigonometry and square-root operations of the linked-cluster
// matcher. They are the matcher's own (its tables and rounding rules differ
// from the general fixed-point maths) and are exact integer operations.
// Angles are bytes of 256 units a turn; trigonometric values are Q14
// (16384 is 1.0).
#pragma once

#include <cstdint>

// Circular distance of two angles, 0..128.
uint8_t lc_angle_difference(uint8_t a, uint8_t b);
// b - a modulo 256.
uint8_t lc_angle_difference_signed(uint8_t a, uint8_t b);
// Mean of two angles on the circle: (a + b) / 2, less 128 (modulo 256) when
// the plain values differ by more than 127.
uint8_t lc_angle_average(uint8_t a, uint8_t b);

// Sine and cosine in Q14 from the quarter-wave table of truncated values,
// mirrored for the other quadrants (so sin 64 = 16384, sin 192 = -16384).
int32_t lc_sin_(uint8_t angle);
int32_t lc_cos_(uint8_t angle);

// The angle of the vector (x, y), 0..255: the first-octant table entry at
// (128 minor + major / 2) / major, placed in its octant. (0, 0) gives 0;
// x = 0 gives 64 for y > 0 and 192 for y < 0. Exact for any 32-bit inputs.
uint8_t lc_atan2f_(int32_t y, int32_t x);

// Integer square root of a 16-bit value: rounded to nearest below 16384,
// truncated from 16384 up (2 -> 1, 3 -> 2, 31 -> 6, 65535 -> 255).
uint32_t lc_sqrt16_(uint16_t value);
// floor(sqrt(value)) of any 32-bit value.
uint32_t lc_sqrt_32(uint32_t value);

// value / divisor rounded half away from zero (divisor > 0, |value| < 2^30).
int32_t lc_div_round_away(int32_t value, int32_t divisor);
// Scales a vector so that its larger component magnitude is at most 255:
// each component s becomes (s * 255 + m / 2) / m (truncating division) when
// that magnitude m exceeds 255; unchanged otherwise. In place.
void lc_scale_to_byte_range(int32_t* cos_sum, int32_t* sin_sum);
