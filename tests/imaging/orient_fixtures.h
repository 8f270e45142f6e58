// Synthetic fingerprint-like images and float references shared by the
// orientation, normalisation and segmentation tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace orient_test {

constexpr double kPi = std::numbers::pi;

inline uint8_t clamp_byte(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// Sinusoidal grating whose grey-level gradient points at `phi` radians from
// the column axis towards increasing rows (ridges run across it).
inline std::vector<uint8_t> grating(uint32_t rows, uint32_t cols, double phi, double period,
                                    double mean = 128, double amplitude = 100) {
    std::vector<uint8_t> img(static_cast<size_t>(rows) * cols);
    const double c = std::cos(phi), s = std::sin(phi);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            img[static_cast<size_t>(y) * cols + x] =
                clamp_byte(mean + amplitude * std::cos(2 * kPi * (x * c + y * s) / period));
    return img;
}

// Orientation byte (64..191) of a gradient direction given in radians.
inline double orientation_byte(double phi) {
    double turns = phi / (2 * kPi) * 256.0;  // 1/256 turns
    turns = std::fmod(turns, 128.0);
    if (turns < 0) turns += 128.0;
    if (turns >= 64.0) turns -= 128.0;  // fold into -64..64
    return 128.0 + turns;
}

// Circular distance of two orientation bytes (period 128).
inline double orientation_distance(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 128.0);
    return d > 64.0 ? 128.0 - d : d;
}

// A textured, darker ellipse (ridges with period ~9 px) on a bright, noisy
// background; returns the image and fills `inside(y, x)` coverage per pixel.
struct Ellipse {
    double cy, cx, ry, rx;
    bool contains(double y, double x) const {
        const double dy = (y - cy) / ry, dx = (x - cx) / rx;
        return dy * dy + dx * dx <= 1.0;
    }
};

inline std::vector<uint8_t> finger_on_background(uint32_t rows, uint32_t cols, const Ellipse& e,
                                                 uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 6.0);
    std::vector<uint8_t> img(static_cast<size_t>(rows) * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            double v = 215 + noise(rng);
            if (e.contains(y, x)) {
                // Whorl-like ridges: rings around a point off the centre.
                const double r = std::hypot(y - e.cy * 0.9, x - e.cx * 1.05);
                v = 110 + 70 * std::cos(2 * kPi * r / 9.0) + noise(rng);
            }
            img[static_cast<size_t>(y) * cols + x] = clamp_byte(v);
        }
    return img;
}

// Number of 4-connected regions of non-zero cells, and whether the zero
// cells all connect (8-connected) to the grid border (no enclosed holes).
struct Topology {
    int regions = 0;
    bool holes = false;
};
inline Topology mask_topology(const std::vector<uint8_t>& m, uint32_t rows, uint32_t cols) {
    Topology t;
    std::vector<int> seen(m.size(), 0);
    auto flood = [&](size_t seed, bool foreground, bool eight) {
        std::vector<size_t> stack{seed};
        seen[seed] = 1;
        bool border = false;
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            const int y = static_cast<int>(i / cols), x = static_cast<int>(i % cols);
            if (y == 0 || x == 0 || y + 1 == static_cast<int>(rows) ||
                x + 1 == static_cast<int>(cols))
                border = true;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if ((!dy && !dx) || (!eight && dy && dx)) continue;
                    const int yy = y + dy, xx = x + dx;
                    if (yy < 0 || xx < 0 || yy >= static_cast<int>(rows) ||
                        xx >= static_cast<int>(cols))
                        continue;
                    const size_t j = static_cast<size_t>(yy) * cols + xx;
                    if (seen[j] || (m[j] != 0) != foreground) continue;
                    seen[j] = 1;
                    stack.push_back(j);
                }
        }
        return border;
    };
    for (size_t i = 0; i < m.size(); ++i)
        if (m[i] != 0 && !seen[i]) {
            ++t.regions;
            flood(i, true, false);
        }
    for (size_t i = 0; i < m.size(); ++i)
        if (m[i] == 0 && !seen[i] && !flood(i, false, true)) t.holes = true;
    return t;
}

}  // namespace orient_test
