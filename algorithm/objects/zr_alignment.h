// Rigid transform that maps one fingerprint onto another, in fixed point.
//
// A point p = (x, y) goes to (c x - s y + dx, s x + c y + dy). Translations are
// in 1/256 pixel at 500 dpi; the rotation is a 24-bit angle (0x1000000 a full
// turn, kept in 0..0xFFFFFF; an 8-bit angle a is held as a x 65536); c and s
// are its cosine and sine in Q13 (8191 is 1.0).
//
// Rounding: R8, R13, R16 and R21 divide by 2^8, 2^13, 2^16 and 2^21 rounding
// half away from zero ((v + 2^(n-1)) >> n for v >= 0, (v - 2^(n-1)) / 2^n
// truncated toward zero for v < 0). Intermediate products are 64-bit.
#pragma once

#include <cstdint>

struct zr_alignment {
    uint32_t ref_count;
    int32_t dx;         // 1/256 pixel at 500 dpi
    int32_t dy;
    uint32_t rotation;  // 24-bit angle
    int32_t sine;       // zr_sin_32(rotation) >> 18, Q13
    int32_t cosine;     // zr_cos_32(rotation) >> 18, Q13
    void (*destroy)(zr_alignment*);  // delete_alignment
};

// Constructors return a new alignment with one reference, or none when out
// of memory or refused.

// Offsets in pixels at 500 dpi, rotation an 8-bit angle.
zr_alignment* zr_alignment_create(int16_t dx, int16_t dy, uint8_t rotation);
// Offsets in pixels at dpi: v x 128000 / dpi rounded half away from zero.
// None when dpi < 1.
zr_alignment* zr_alignment_create_ex(int16_t dx, int16_t dy, uint8_t rotation, int16_t dpi);
// As _create_ex with 32-bit offsets and a 16-bit angle (rotation x 256 modulo
// 2^24). None when dpi < 1 or when an offset does not fit 32 bits.
zr_alignment* zr_alignment_create_hr(int32_t dx, int32_t dy, uint32_t rotation, int32_t dpi);
// Copy with one reference; none gives the identity.
zr_alignment* zr_alignment_copy(const zr_alignment* alignment);
zr_alignment* zr_alignment_retain(zr_alignment* alignment);
void zr_alignment_delete(zr_alignment* alignment);

// R8 of dx / dy: pixels at 500 dpi; 0 for a missing alignment.
int32_t zr_alignment_get_dx(const zr_alignment* alignment);
int32_t zr_alignment_get_dy(const zr_alignment* alignment);
// R16 of the rotation: an 8-bit angle, 256 for rotations just below a full
// turn; 0 for a missing alignment.
uint32_t zr_alignment_get_rotation(const zr_alignment* alignment);
// Offsets in pixels at dpi (offset x dpi / 128000, half away from zero, low 16
// bits) and the R16 rotation (low 8 bits); each output optional. Nothing for a
// missing alignment.
void zr_alignment_get(const zr_alignment* alignment, uint16_t* out_dx, uint16_t* out_dy,
                      uint8_t* out_rotation, int32_t dpi);
// As zr_alignment_get with 32-bit offsets; the rotation is R8 of the 24-bit
// angle (a 16-bit angle, 65536 for rotations just below a full turn).
void zr_alignment_get_hr(const zr_alignment* alignment, int32_t* out_dx, int32_t* out_dy,
                         uint32_t* out_rotation, int32_t dpi);
// The translation in pixels turned back by the rotation (8-bit angle cosine
// and sine in Q14, products shifted right arithmetically by 14).
int32_t zr_alignment_get_dx_prim(const zr_alignment* alignment);
int32_t zr_alignment_get_dy_prim(const zr_alignment* alignment);

// A after B (apply B, then A). None when either is missing or a translation
// of the result does not fit 32 bits.
zr_alignment* zr_alignment_multiply(const zr_alignment* a, const zr_alignment* b);
// B after A.
zr_alignment* zr_alignment_combine(const zr_alignment* a, const zr_alignment* b);
// The inverse transform; none for none.
zr_alignment* zr_alignment_inverse(const zr_alignment* a);
// A after the inverse of B; none when either is missing.
zr_alignment* zr_alignment_difference(const zr_alignment* a, const zr_alignment* b);

// Transforms the pixel (x, y) (R21 of the Q13 x 1/256 sums); each output
// optional, low 16 bits. Nothing for a missing alignment.
void zr_alignment_transform_point(const zr_alignment* alignment, int16_t x, int16_t y,
                                  int16_t* out_x, int16_t* out_y);
// The inverse transform of (x, y).
void zr_alignment_transform_point_inverse(const zr_alignment* alignment, int16_t x, int16_t y,
                                          int16_t* out_x, int16_t* out_y);
// Smallest and largest transformed x and y of the corners (0, 0), (0, height),
// (width, 0) and (width, height); every corner is (0, 0) without an alignment.
// Each output optional.
void zr_alignment_get_rectangle_extremes(const zr_alignment* alignment, int16_t width,
                                         int16_t height, int16_t* out_min_x, int16_t* out_max_x,
                                         int16_t* out_min_y, int16_t* out_max_y);
// Root mean square displacement in pixels between the corners of a width x
// height rectangle moved by A and by B; 0 when A and B are the same object,
// 0xFFFFFFFF when either is missing or a side is below 1. The mean square is
// saturated at 2^30 - 1 square pixels (result at most 32768).
uint32_t zr_alignment_distance(const zr_alignment* a, const zr_alignment* b, int16_t width,
                               int16_t height);
// 1 when |R16(rotation)| as a signed 8-bit angle is at most max_rotation and
// R8(dx)^2 + R8(dy)^2 is at most max_distance^2; 0 otherwise or when missing.
uint32_t zr_alignment_within_limits_single(const zr_alignment* alignment, uint16_t max_distance,
                                           uint8_t max_rotation);
// The same test on the difference of A and B: the signed 8-bit angle
// R16(B) - R16(A) and R8(A.dx - B.dx), R8(A.dy - B.dy).
uint32_t zr_alignment_within_limits(const zr_alignment* a, const zr_alignment* b,
                                    uint16_t max_distance, uint8_t max_rotation);

void delete_alignment(zr_alignment* alignment);
