#include "math/zr_trig.h"

#include "math/zr_trig_tables.h"

namespace {

constexpr int32_t kRadiansQuarter = 102943;  // pi / 2 in Q16
constexpr int32_t kRadiansHalf = 205887;     // pi in Q16
constexpr int32_t kRadiansTurn = 411774;     // 2 pi in Q16

constexpr uint32_t magnitude(int32_t v) {
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

// Q7 ratio n / d for 0 <= n <= d, d > 0; the second form keeps the product in 32 bits.
constexpr uint32_t ratio_q7(uint32_t n, uint32_t d) {
    return n <= 0xFFFFFFu ? (n * 128u) / d : n / (d >> 7);
}

}  // namespace

int32_t zr_sin_(uint8_t a) {
    if (a <= 64) return zr_sin_table_8[a];
    if (a <= 128) return zr_sin_table_8[128 - a];
    if (a <= 192) return -zr_sin_table_8[a - 128];
    return -zr_sin_table_8[256 - a];
}

int32_t zr_cos_(uint8_t a) { return zr_sin_(static_cast<uint8_t>(a + 64)); }

namespace {

// The 16-bit sine after the rounding offset has been added: u in 0..65535.
int32_t sin14_folded(uint32_t u) {
    if (u <= 16384) {
        const uint32_t i = u >> 6;
        return i == 256 ? 16384 : zr_sin_table_fine[i];
    }
    if (u <= 32768) return zr_sin_table_fine[(32768 - u) >> 6];
    if (u <= 49152) {
        uint32_t i = (u - 32768) >> 6;
        if (i == 256) i = 255;
        return -zr_sin_table_fine[i];
    }
    return -zr_sin_table_fine[(65536 - u) >> 6];
}

}  // namespace

int32_t zr_sin14_(uint32_t a) { return sin14_folded((a + 32) & 0xFFFF); }

int32_t zr_cos14_(uint32_t a) { return sin14_folded((16416 - a) & 0xFFFF); }

int32_t zr_sin_14(int32_t r) {
    const int32_t m = static_cast<int32_t>(magnitude(r) % kRadiansTurn);
    int32_t d;
    bool negative;
    if (m <= kRadiansQuarter) {
        d = m;
        negative = false;
    } else if (m <= kRadiansHalf) {
        d = kRadiansHalf - m;
        negative = false;
    } else if (m - kRadiansHalf <= kRadiansQuarter) {
        d = m - kRadiansHalf;
        negative = true;
    } else {
        d = kRadiansTurn - m;
        negative = true;
    }
    const int32_t value = zr_sin_table_fine[(255 * d + 128) / kRadiansQuarter];
    return (negative != (r < 0)) ? -value : value;
}

int32_t zr_cos_14(int32_t r) {
    return zr_sin_14(static_cast<int32_t>(static_cast<uint32_t>(kRadiansQuarter) - static_cast<uint32_t>(r)));
}

int32_t zr_sin_32(int32_t a) {
    uint32_t u = static_cast<uint32_t>(a) & 0xFFFFFFu;
    int64_t sign = 1;
    if (u > 0x800000u) {
        u -= 0x800000u;
        sign = -1;
    }
    if (u > 0x400000u) u = 0x800000u - u;
    const uint32_t i = u >> 14;
    const int64_t f = u & 0x3FFF;
    const int64_t base = zr_sin_table_q31[i];
    const int64_t step = static_cast<int64_t>(zr_sin_table_q31[i + 1]) - base;
    return static_cast<int32_t>(sign * (base + (f * step) / 16383));
}

int32_t zr_cos_32(int32_t a) {
    return zr_sin_32(static_cast<int32_t>(static_cast<uint32_t>(a) + 0x400000u));
}

int32_t zr_atan_(int32_t t) {
    if (t >= 0) return t <= 128 ? zr_atan_table_8[t] : 64 - zr_atan_table_8[16384 / t];
    const uint32_t m = magnitude(t);
    return m <= 128 ? -zr_atan_table_8[m] : zr_atan_table_8[16384u / m] - 64;
}

int32_t zr_atan2_(int32_t y, int32_t x) {
    if (x == 0) return y > 0 ? 64 : (y < 0 ? -64 : 0);
    const uint32_t ax = magnitude(x);
    const uint32_t ay = magnitude(y);
    const int32_t alpha = ax >= ay ? zr_atan_table_8[ratio_q7(ay, ax)]
                                   : 64 - zr_atan_table_8[ratio_q7(ax, ay)];
    if (x > 0) return y > 0 ? alpha : -alpha;
    return y < 0 ? alpha - 128 : -128 - alpha;
}

int32_t zr_atan2_32(int32_t y, int32_t x) {
    int64_t p = y;
    int64_t q = x;
    int64_t offset = 0;
    int64_t sign = 1;
    while (!(0 <= p && p <= q)) {
        if (p < 0) {
            offset += sign * 0x800000;
            p = -p;
            q = -q;
        } else if (q < 0) {
            offset += sign * 0x800000;
            q = -q;
            sign = -sign;
        } else {
            offset += sign * 0x400000;
            sign = -sign;
            const int64_t t = p;
            p = q;
            q = t;
        }
    }
    if (p == 0 && q == 0) return static_cast<int32_t>(offset);
    while (p > 0x400000) {
        p >>= 1;
        q >>= 1;
    }
    const int64_t n = p * 256;
    const int64_t i = n / q;
    const int64_t r = n - i * q;
    const int64_t base = zr_atan_table_24[i];
    const int64_t step = zr_atan_table_24[i + 1] - base;
    return static_cast<int32_t>(offset + sign * (base + (r * step) / q));
}

uint8_t zr_angle_average(uint8_t a, uint8_t b) {
    const int d = a > b ? a - b : b - a;
    const int mean = (a + b) >> 1;
    return static_cast<uint8_t>(d < 128 ? mean : mean + 128);
}

uint8_t zr_angle_difference(uint8_t a, uint8_t b) {
    const int d = a > b ? a - b : b - a;
    return static_cast<uint8_t>(d < 128 ? d : 256 - d);
}

int8_t zr_angle_difference_signed(uint8_t a, uint8_t b) {
    return static_cast<int8_t>(static_cast<uint8_t>(b - a));
}

uint8_t zr_direction_average(uint8_t a, uint8_t b) {
    const int d = a > b ? a - b : b - a;
    if (d <= 63) return static_cast<uint8_t>((a + b) >> 1);
    return static_cast<uint8_t>(((a + b + 128) >> 1) & 127);
}

uint8_t zr_direction_difference(uint8_t a, uint8_t b) {
    const int d = a > b ? a - b : b - a;
    return static_cast<uint8_t>(d <= 63 ? d : 128 - d);
}

int8_t zr_direction_difference_signed(uint8_t a, uint8_t b) {
    const int e = b - a;
    if (e >= 64) return static_cast<int8_t>(e - 128);
    if (e <= -64) return static_cast<int8_t>(e + 128);
    return static_cast<int8_t>(e);
}

int32_t zr_round14_(int32_t v) {
    // The sum is formed in 64 bits so that values near the int32 limits keep their sign.
    const int64_t wide = v;
    if (wide >= 0) return static_cast<int32_t>((wide + 8192) >> 14);
    return static_cast<int32_t>(-((8192 - wide) >> 14));
}

int32_t sine_curve(uint8_t p) {
    if (p <= 64) return zr_sin_table_8_rounded[p];
    if (p <= 128) return zr_sin_table_8_rounded[128 - p];
    return 0;
}
