#include "liveness/nex_math.h"

#include "math/zr_roots.h"
#include "math/zr_trig_tables.h"

namespace {

constexpr uint8_t kQuarterTurn = 64;
constexpr uint8_t kHalfTurn = 128;
constexpr uint32_t kArctanShiftLimit = 0x3FFFFFF;
constexpr uint32_t kArctanShift = 6;
constexpr int32_t kOctantSteps = 32;

thread_local uint32_t t_error_word = 0;

// Octant angle 0..32 of the Q5 ratio t = smaller / larger (0..32): a
// piecewise-linear correction of t towards the arctangent.
int32_t octant_angle(int32_t t) {
    if (t <= 12) return t + (t >= 2) + (t >= 6) + (t > 10);
    return t + (t < 31) + (t < 27) + (t < 22);
}

uint32_t magnitude(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    return v < 0 ? 0u - u : u;
}

}  // namespace

int32_t nex_sin(uint8_t angle) {
    const uint8_t in_half = angle % kHalfTurn;
    const uint8_t index = in_half <= kQuarterTurn ? in_half : static_cast<uint8_t>(kHalfTurn - in_half);
    const int32_t v = zr_sin_table_8_rounded[index];
    return angle < kHalfTurn ? v : -v;
}

int32_t nex_cos(uint8_t angle) { return nex_sin(static_cast<uint8_t>(angle + kQuarterTurn)); }

int32_t nex_arctan(int32_t x, int32_t y) {
    if (x == 0 && y == 0) return 0;
    const uint32_t ax = magnitude(x);
    const uint32_t ay = magnitude(y);
    uint32_t larger = ax > ay ? ax : ay;
    uint32_t smaller = ax > ay ? ay : ax;
    if (smaller > kArctanShiftLimit) {
        larger >>= kArctanShift;
        smaller >>= kArctanShift;
    }
    const uint64_t ratio =
        (static_cast<uint64_t>(smaller) * kOctantSteps + larger / 2) / larger;
    int32_t a = octant_angle(static_cast<int32_t>(ratio));
    if (ay > ax) a = 2 * kOctantSteps - a;
    if (x >= 0 && y >= 0) return a;
    if (x < 0 && y >= 0) return kHalfTurn - a;
    if (x < 0) return kHalfTurn + a;
    return 256 - a;
}

uint32_t nex_sqrt(uint32_t value) { return static_cast<uint32_t>(zr_sqrt_nearest_64(value)); }

int32_t nex_abs(int32_t value) { return static_cast<int32_t>(magnitude(value)); }

int32_t nex_angle_difference(int32_t a, int32_t b) {
    const uint32_t d = (static_cast<uint32_t>(a) - static_cast<uint32_t>(b)) & 0xFFu;
    return d > kHalfTurn ? static_cast<int32_t>(d) - 256 : static_cast<int32_t>(d);
}

int32_t mod(int32_t a, int32_t b) {
    const int32_t r = a % b;
    return r < 0 ? r + b : r;
}

uint32_t nex_error(uint32_t code) {
    t_error_word = code;
    return code;
}

uint32_t nex_error_q() { return t_error_word; }
