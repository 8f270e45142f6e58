#include "match/linked_cluster/lc_math.h"

#include <cstdlib>

#include "match/linked_cluster/lc_tables.h"
#include "math/zr_roots.h"

namespace {

constexpr uint32_t kQuarterTurn = 64;
constexpr uint32_t kRoundedRootLimit = 16384;  // roots below this are rounded
constexpr int32_t kByteRange = 255;

}  // namespace

uint8_t lc_angle_difference(uint8_t a, uint8_t b) {
    const uint32_t d = uint32_t(a - b) & 0xFFu;
    return uint8_t(d > 128 ? 256 - d : d);
}

uint8_t lc_angle_difference_signed(uint8_t a, uint8_t b) { return uint8_t(b - a); }

uint8_t lc_angle_average(uint8_t a, uint8_t b) {
    const uint32_t mean = (uint32_t(a) + b) / 2;
    const bool far_apart = std::abs(int32_t(a) - int32_t(b)) > 127;
    return uint8_t(far_apart ? mean - 128 : mean);
}

int32_t lc_sin_(uint8_t angle) {
    const uint32_t quadrant = angle / kQuarterTurn;
    const uint32_t step = angle % kQuarterTurn;
    const int32_t magnitude = (quadrant & 1u) ? lc_sin_table[kQuarterTurn - step] : lc_sin_table[step];
    return quadrant >= 2 ? -magnitude : magnitude;
}

int32_t lc_cos_(uint8_t angle) { return lc_sin_(uint8_t(angle + kQuarterTurn)); }

uint8_t lc_atan2f_(int32_t y, int32_t x) {
    if (x == 0) return y > 0 ? 64 : (y < 0 ? 192 : 0);
    const uint64_t ax = uint64_t(std::llabs(int64_t(x)));
    const uint64_t ay = uint64_t(std::llabs(int64_t(y)));
    const bool x_major = ax >= ay;
    const uint64_t major = x_major ? ax : ay;
    const uint64_t minor = x_major ? ay : ax;
    const uint32_t octant_angle = lc_atan_table[(128 * minor + major / 2) / major];
    // Angle within the quadrant, 0..64.
    const uint32_t t = x_major ? octant_angle : 64 - octant_angle;
    uint32_t angle;
    if (x > 0) {
        angle = y >= 0 ? t : 256 - t;
    } else {
        angle = y >= 0 ? 128 - t : 128 + t;
    }
    return uint8_t(angle);
}

uint32_t lc_sqrt_32(uint32_t value) { return zr_sqrt_32(value); }

uint32_t lc_sqrt16_(uint16_t value) {
    const uint32_t root = lc_sqrt_32(value);
    // Rounds up when value lies above (root + 1/2)^2 = root^2 + root + 1/4.
    if (value < kRoundedRootLimit && value - root * root > root) return root + 1;
    return root;
}

int32_t lc_div_round_away(int32_t value, int32_t divisor) {
    return value >= 0 ? (value + divisor / 2) / divisor : -((-value + divisor / 2) / divisor);
}

void lc_scale_to_byte_range(int32_t* cos_sum, int32_t* sin_sum) {
    const int64_t c = std::llabs(int64_t(*cos_sum));
    const int64_t s = std::llabs(int64_t(*sin_sum));
    const int64_t m = c > s ? c : s;
    if (m <= kByteRange) return;
    *cos_sum = int32_t((int64_t(*cos_sum) * kByteRange + m / 2) / m);
    *sin_sum = int32_t((int64_t(*sin_sum) * kByteRange + m / 2) / m);
}
