#include "objects/zr_alignment.h"

#include <cstdlib>
#include <limits>

#include "math/zr_roots.h"
#include "math/zr_trig.h"
#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

namespace {

constexpr uint32_t kFullTurn = 0x1000000;       // 24-bit angle of a full turn
constexpr uint32_t kAngleMask = kFullTurn - 1;
constexpr int32_t kTrigShift = 18;              // Q31 -> Q13
constexpr int64_t kSubpixelPerInch500 = 128000;  // 256 x 500: 1/256 pixel at 500 dpi per inch
constexpr uint32_t kSqrtInputLimit = (1u << 30) - 1;  // zr_sqrt_ ignores bits 30 and 31
constexpr int64_t kLargeDisplacement = int64_t{1} << 30;  // 1/256 pixel

// Division by 2^shift rounding half away from zero.
constexpr int64_t round_shift(int64_t v, unsigned shift) {
    const int64_t half = int64_t{1} << (shift - 1);
    return v >= 0 ? (v + half) >> shift : (v - half) / (int64_t{1} << shift);
}

constexpr int64_t r8(int64_t v) { return round_shift(v, 8); }
constexpr int64_t r13(int64_t v) { return round_shift(v, 13); }
constexpr int64_t r16(int64_t v) { return round_shift(v, 16); }
constexpr int64_t r21(int64_t v) { return round_shift(v, 21); }

// num / den rounding half away from zero (den > 0).
constexpr int64_t divide_rounded(int64_t num, int64_t den) {
    return num >= 0 ? (num + den / 2) / den : (num - den / 2) / den;
}

constexpr bool fits_i32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

struct point64 {
    int64_t x;
    int64_t y;
};

zr_alignment* make_alignment(int32_t dx, int32_t dy, uint32_t rotation) {
    auto* alignment = static_cast<zr_alignment*>(zr_calloc(1, sizeof(zr_alignment)));
    if (alignment == nullptr) return nullptr;
    alignment->ref_count = 1;
    alignment->dx = dx;
    alignment->dy = dy;
    alignment->rotation = rotation & kAngleMask;
    alignment->sine = zr_sin_32(int32_t(alignment->rotation)) >> kTrigShift;
    alignment->cosine = zr_cos_32(int32_t(alignment->rotation)) >> kTrigShift;
    alignment->destroy = delete_alignment;
    return alignment;
}

zr_alignment* make_alignment64(int64_t dx, int64_t dy, uint32_t rotation) {
    if (!fits_i32(dx) || !fits_i32(dy)) return nullptr;
    return make_alignment(int32_t(dx), int32_t(dy), rotation);
}

// Pixels at dpi to 1/256 pixel at 500 dpi.
constexpr int64_t offset_from_pixels(int64_t v, int64_t dpi) {
    return divide_rounded(v * kSubpixelPerInch500, dpi);
}

// 1/256 pixel at 500 dpi to pixels at dpi.
constexpr int64_t offset_to_pixels(int64_t v, int64_t dpi) {
    return divide_rounded(v * dpi, kSubpixelPerInch500);
}

// The pixel (x, y) moved by the alignment, in Q13 x 1/256 pixel.
point64 transform_q21(const zr_alignment* a, int64_t x, int64_t y) {
    const int64_t c = a->cosine, s = a->sine;
    return {(int64_t{a->dx} << 13) + c * (x * 256) - s * (y * 256),
            (int64_t{a->dy} << 13) + s * (x * 256) + c * (y * 256)};
}

// Signed 8-bit angle of the low 8 bits.
constexpr int32_t signed_angle8(int64_t angle) { return int8_t(uint8_t(uint64_t(angle) & 0xFF)); }

uint32_t within_limits(int64_t rotation8, int64_t dx_pixels, int64_t dy_pixels,
                       uint16_t max_distance, uint8_t max_rotation) {
    int32_t rotation = signed_angle8(rotation8);
    if (rotation < 0) rotation = -rotation;
    if (rotation > max_rotation) return 0;
    const int64_t max_sq = int64_t{max_distance} * max_distance;
    return dx_pixels * dx_pixels + dy_pixels * dy_pixels <= max_sq ? 1 : 0;
}

}  // namespace

void delete_alignment(zr_alignment* alignment) { std::free(alignment); }

zr_alignment* zr_alignment_create(int16_t dx, int16_t dy, uint8_t rotation) {
    return zr_alignment_create_ex(dx, dy, rotation, 500);
}

zr_alignment* zr_alignment_create_ex(int16_t dx, int16_t dy, uint8_t rotation, int16_t dpi) {
    return zr_alignment_create_hr(dx, dy, uint32_t(rotation) << 8, dpi);
}

zr_alignment* zr_alignment_create_hr(int32_t dx, int32_t dy, uint32_t rotation, int32_t dpi) {
    if (dpi < 1) return nullptr;
    return make_alignment64(offset_from_pixels(dx, dpi), offset_from_pixels(dy, dpi),
                            (rotation << 8) & kAngleMask);
}

zr_alignment* zr_alignment_copy(const zr_alignment* alignment) {
    if (alignment == nullptr) return make_alignment(0, 0, 0);
    return make_alignment(alignment->dx, alignment->dy, alignment->rotation);
}

zr_alignment* zr_alignment_retain(zr_alignment* alignment) { return zr_object_retain(alignment); }

void zr_alignment_delete(zr_alignment* alignment) { zr_object_delete(alignment); }

int32_t zr_alignment_get_dx(const zr_alignment* alignment) {
    return alignment ? int32_t(r8(alignment->dx)) : 0;
}

int32_t zr_alignment_get_dy(const zr_alignment* alignment) {
    return alignment ? int32_t(r8(alignment->dy)) : 0;
}

uint32_t zr_alignment_get_rotation(const zr_alignment* alignment) {
    return alignment ? uint32_t(r16(alignment->rotation)) : 0;
}

void zr_alignment_get(const zr_alignment* alignment, uint16_t* out_dx, uint16_t* out_dy,
                      uint8_t* out_rotation, int32_t dpi) {
    if (alignment == nullptr) return;
    if (out_dx) *out_dx = uint16_t(offset_to_pixels(alignment->dx, dpi));
    if (out_dy) *out_dy = uint16_t(offset_to_pixels(alignment->dy, dpi));
    if (out_rotation) *out_rotation = uint8_t(r16(alignment->rotation));
}

void zr_alignment_get_hr(const zr_alignment* alignment, int32_t* out_dx, int32_t* out_dy,
                         uint32_t* out_rotation, int32_t dpi) {
    if (alignment == nullptr) return;
    if (out_dx) *out_dx = int32_t(offset_to_pixels(alignment->dx, dpi));
    if (out_dy) *out_dy = int32_t(offset_to_pixels(alignment->dy, dpi));
    if (out_rotation) *out_rotation = uint32_t(r8(alignment->rotation));
}

int32_t zr_alignment_get_dx_prim(const zr_alignment* alignment) {
    if (alignment == nullptr) return 0;
    const uint8_t back = uint8_t(-r16(alignment->rotation));
    return int32_t((r8(alignment->dx) * zr_cos_(back) - r8(alignment->dy) * zr_sin_(back)) >> 14);
}

int32_t zr_alignment_get_dy_prim(const zr_alignment* alignment) {
    if (alignment == nullptr) return 0;
    const uint8_t back = uint8_t(-r16(alignment->rotation));
    return int32_t((r8(alignment->dx) * zr_sin_(back) + r8(alignment->dy) * zr_cos_(back)) >> 14);
}

zr_alignment* zr_alignment_multiply(const zr_alignment* a, const zr_alignment* b) {
    if (a == nullptr || b == nullptr) return nullptr;
    const int64_t c = a->cosine, s = a->sine;
    const int64_t dx = r13((int64_t{a->dx} << 13) + c * b->dx - s * b->dy);
    const int64_t dy = r13((int64_t{a->dy} << 13) + c * b->dy + s * b->dx);
    return make_alignment64(dx, dy, (a->rotation + b->rotation) & kAngleMask);
}

zr_alignment* zr_alignment_combine(const zr_alignment* a, const zr_alignment* b) {
    return zr_alignment_multiply(b, a);
}

zr_alignment* zr_alignment_inverse(const zr_alignment* a) {
    if (a == nullptr) return nullptr;
    const int64_t c = a->cosine, s = a->sine;
    const int64_t dx = r13(-c * a->dx - s * a->dy);
    const int64_t dy = r13(s * a->dx - c * a->dy);
    return make_alignment64(dx, dy, (kFullTurn - a->rotation) & kAngleMask);
}

zr_alignment* zr_alignment_difference(const zr_alignment* a, const zr_alignment* b) {
    if (a == nullptr || b == nullptr) return nullptr;
    zr_alignment* inverse = zr_alignment_inverse(b);
    zr_alignment* difference = zr_alignment_multiply(a, inverse);
    zr_alignment_delete(inverse);
    return difference;
}

void zr_alignment_transform_point(const zr_alignment* alignment, int16_t x, int16_t y,
                                  int16_t* out_x, int16_t* out_y) {
    if (alignment == nullptr) return;
    const point64 p = transform_q21(alignment, x, y);
    if (out_x) *out_x = int16_t(r21(p.x));
    if (out_y) *out_y = int16_t(r21(p.y));
}

void zr_alignment_transform_point_inverse(const zr_alignment* alignment, int16_t x, int16_t y,
                                          int16_t* out_x, int16_t* out_y) {
    if (alignment == nullptr) return;
    const int64_t c = alignment->cosine, s = alignment->sine;
    const int64_t dx = alignment->dx, dy = alignment->dy;
    const int64_t xs = int64_t{x} * 256, ys = int64_t{y} * 256;
    if (out_x) *out_x = int16_t(r21(s * ys + c * xs - (c * dx + s * dy)));
    if (out_y) *out_y = int16_t(r21(c * ys - s * xs - (c * dy - s * dx)));
}

void zr_alignment_get_rectangle_extremes(const zr_alignment* alignment, int16_t width,
                                         int16_t height, int16_t* out_min_x, int16_t* out_max_x,
                                         int16_t* out_min_y, int16_t* out_max_y) {
    const int16_t corners[4][2] = {{0, 0}, {0, height}, {width, 0}, {width, height}};
    int16_t min_x = 32767, max_x = -32768, min_y = 32767, max_y = -32768;
    for (const auto& corner : corners) {
        int16_t x = 0, y = 0;
        zr_alignment_transform_point(alignment, corner[0], corner[1], &x, &y);
        if (x < min_x) min_x = x;
        if (x > max_x) max_x = x;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    if (out_min_x) *out_min_x = min_x;
    if (out_max_x) *out_max_x = max_x;
    if (out_min_y) *out_min_y = min_y;
    if (out_max_y) *out_max_y = max_y;
}

uint32_t zr_alignment_distance(const zr_alignment* a, const zr_alignment* b, int16_t width,
                               int16_t height) {
    if (a == nullptr || b == nullptr || width < 1 || height < 1) return 0xFFFFFFFFu;
    if (a == b) return 0;
    const int16_t corners[4][2] = {{0, 0}, {0, height}, {width, 0}, {width, height}};
    uint64_t sum = 0;
    bool saturated = false;
    for (const auto& corner : corners) {
        const point64 pa = transform_q21(a, corner[0], corner[1]);
        const point64 pb = transform_q21(b, corner[0], corner[1]);
        const int64_t ddx = r13(pa.x) - r13(pb.x);
        const int64_t ddy = r13(pa.y) - r13(pb.y);
        // One displacement of 2^30 or more alone passes the root's input limit;
        // below it the eight squares cannot overflow 64 bits.
        if (ddx <= -kLargeDisplacement || ddx >= kLargeDisplacement ||
            ddy <= -kLargeDisplacement || ddy >= kLargeDisplacement) {
            saturated = true;
            break;
        }
        sum += uint64_t(ddx * ddx) + uint64_t(ddy * ddy);
    }
    const uint64_t mean_square = sum >> 18;
    if (saturated || mean_square > kSqrtInputLimit) return zr_sqrt_(kSqrtInputLimit);
    return zr_sqrt_(uint32_t(mean_square));
}

uint32_t zr_alignment_within_limits_single(const zr_alignment* alignment, uint16_t max_distance,
                                           uint8_t max_rotation) {
    if (alignment == nullptr) return 0;
    return within_limits(r16(alignment->rotation), r8(alignment->dx), r8(alignment->dy),
                         max_distance, max_rotation);
}

uint32_t zr_alignment_within_limits(const zr_alignment* a, const zr_alignment* b,
                                    uint16_t max_distance, uint8_t max_rotation) {
    if (a == nullptr || b == nullptr) return 0;
    return within_limits(r16(b->rotation) - r16(a->rotation), r8(int64_t{a->dx} - b->dx),
                         r8(int64_t{a->dy} - b->dy), max_distance, max_rotation);
}
