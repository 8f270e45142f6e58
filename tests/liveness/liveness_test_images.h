// Constructed images for the liveness map, mask and feature tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace liveness_test {

// A plain sinusoidal grating: grey 128 + amplitude cos(2 pi d / period),
// d the distance along the normal, whose 8-bit angle (256 a turn, from the
// column axis towards the row axis) is `normal`. Dark ridges lie where the
// cosine is -1, so the ridge lines run at normal + 64.
inline std::vector<uint8_t> grating(int32_t rows, int32_t cols, double normal, double period,
                                    double amplitude = 100.0, double phase = 0.0) {
    std::vector<uint8_t> px(static_cast<size_t>(rows) * cols);
    const double theta = 2.0 * std::numbers::pi * normal / 256.0;
    for (int32_t r = 0; r < rows; ++r)
        for (int32_t c = 0; c < cols; ++c) {
            const double d = c * std::cos(theta) + r * std::sin(theta);
            const double v = 128.0 + amplitude * std::cos(2.0 * std::numbers::pi * d / period + phase);
            px[static_cast<size_t>(r) * cols + c] = static_cast<uint8_t>(std::lround(v));
        }
    return px;
}

// Ridge orientation code (1..128) of a grating with this normal angle.
inline int32_t ridge_code(int32_t normal) {
    const int32_t code = ((normal + 64) % 128 + 128) % 128;
    return code == 0 ? 128 : code;
}

// Distance between two orientation codes on the half circle (0..64).
inline int32_t code_distance(int32_t a, int32_t b) {
    const int32_t d = ((a - b) % 128 + 128) % 128;
    return d > 64 ? 128 - d : d;
}

}  // namespace liveness_test
