// Fixed-point angles and trigonometry: table lookups with fixed quantisation,
// folding into the first quadrant, and averages and differences of angles
// that wrap. All functions are pure and read only the constant tables.
//
// Units: 8-bit angle (256 a turn), direction (128 steps a half turn),
// 16-bit angle (65536 a turn), radians Q16 (2 pi = 411774), 24-bit angle
// (0x1000000 a turn). Sines and cosines are Q14 (16384 = 1.0) except the
// 24-bit ones, which are Q31 (2147483647 = 1.0).
#pragma once

#include <cstdint>

// 8-bit angle, floored quarter-sine table.
int32_t zr_sin_(uint8_t angle);
int32_t zr_cos_(uint8_t angle);

// 16-bit angle (low 16 bits of the argument), rounded to steps of 64 units.
int32_t zr_sin14_(uint32_t angle);
int32_t zr_cos14_(uint32_t angle);

// Angle in radians Q16.
int32_t zr_sin_14(int32_t radians);
int32_t zr_cos_14(int32_t radians);

// 24-bit angle (low 24 bits of the argument), Q31 result, interpolated.
int32_t zr_sin_32(int32_t angle);
int32_t zr_cos_32(int32_t angle);

// Arctangent of a Q7 ratio (128 = 1.0) as an 8-bit angle in -64..64.
int32_t zr_atan_(int32_t ratio);

// 8-bit angle of the vector (x, y); only the low 8 bits are meaningful.
int32_t zr_atan2_(int32_t y, int32_t x);

// 24-bit angle of the vector (x, y), in 0..0x1000000.
int32_t zr_atan2_32(int32_t y, int32_t x);

// Mean of two 8-bit angles on the short side of the circle.
uint8_t zr_angle_average(uint8_t a, uint8_t b);
// Unsigned difference of two 8-bit angles, 0..128.
uint8_t zr_angle_difference(uint8_t a, uint8_t b);
// (b - a) modulo 256 read as a signed byte.
int8_t zr_angle_difference_signed(uint8_t a, uint8_t b);

// The same for directions 0..127 (undirected lines, a half turn).
uint8_t zr_direction_average(uint8_t a, uint8_t b);
uint8_t zr_direction_difference(uint8_t a, uint8_t b);
int8_t zr_direction_difference_signed(uint8_t a, uint8_t b);

// Nearest integer to value / 16384, halves away from zero.
int32_t zr_round14_(int32_t value);

// Positive half sine wave over positions 0..128 (Q14), rounded table; 0 beyond 128.
int32_t sine_curve(uint8_t position);
