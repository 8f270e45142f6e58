// Sensor windows cut from whole fingerprint impressions, as a small sensor of
// a given geometry would see the finger: the window is placed around the
// impression's foreground centre (plus a jitter), taken at the sensor's
// resolution (the 500-dpi source is enlarged for 650-dpi sensors) and padded
// with the impression's background where it runs past the image. Integer
// arithmetic throughout, so the same inputs give the same windows everywhere.
// Shared by the score-model trainer and the tests of every preset.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fp_test_data.h"

namespace fp_test {

inline constexpr uint16_t kSourceDpi = 500;
inline constexpr int kForegroundBlock = 16;
// A block is foreground when its variance is at least this share (in per
// cent) of the 90th-percentile block variance.
inline constexpr int kForegroundVariancePercent = 25;
inline constexpr int kForegroundPercentile = 90;

// Window geometry of a sensor: rows x cols at dpi.
struct SensorGeometry {
    const char* name;  // the preset names' geometry, e.g. "192x80"
    uint16_t rows;
    uint16_t cols;
    uint16_t dpi;  // 500 or 650
};

// The sensors of the presets, by the geometry in the preset names. The 192x80
// family is the exported sensor, 176 rows x 96 columns; the 192x56 strip is
// taken the same way up (192 rows); the swipe sensor's image is 396 rows of
// 144 columns; the 100x100, 115x115, 192x56 and 80x64 sensors are at 650 dpi.
inline constexpr SensorGeometry kSensorGeometries[] = {
    {"100x100", 100, 100, 650}, {"115x115", 115, 115, 650}, {"130x130", 130, 130, 500},
    {"144x396", 396, 144, 500}, {"160x160", 160, 160, 500}, {"192x192", 192, 192, 500},
    {"192x56", 192, 56, 650},   {"192x80", 176, 96, 500},   {"80x64", 80, 64, 650},
};

// The sensor of a geometry name ("192x80") or preset name
// ("gen_192x80_hybridhr_create"); none when unknown.
inline const SensorGeometry* sensor_geometry(const std::string& name) {
    const std::string key = name.rfind("gen_", 0) == 0 ? name.substr(4, name.find('_', 4) - 4) : name;
    for (const SensorGeometry& g : kSensorGeometries)
        if (key == g.name) return &g;
    return nullptr;
}

// Where the finger is in an impression: centre of the foreground blocks, and
// the mean grey value of the background blocks (255 when every block is
// foreground).
struct Foreground {
    int centre_row = 0;
    int centre_col = 0;
    uint8_t background = 255;
};

inline Foreground find_foreground(const GreyImage& img) {
    const int block_rows = int(img.rows) / kForegroundBlock, block_cols = int(img.cols) / kForegroundBlock;
    std::vector<int64_t> variance(size_t(block_rows) * size_t(block_cols));
    std::vector<int64_t> mean(variance.size());
    constexpr int64_t kPixels = int64_t(kForegroundBlock) * kForegroundBlock;
    for (int br = 0; br < block_rows; ++br)
        for (int bc = 0; bc < block_cols; ++bc) {
            int64_t sum = 0, squares = 0;
            for (int r = 0; r < kForegroundBlock; ++r)
                for (int c = 0; c < kForegroundBlock; ++c) {
                    const int64_t p = img.pixels[size_t(br * kForegroundBlock + r) * img.cols +
                                                 size_t(bc * kForegroundBlock + c)];
                    sum += p;
                    squares += p * p;
                }
            const size_t i = size_t(br) * size_t(block_cols) + size_t(bc);
            variance[i] = (squares * kPixels - sum * sum) / (kPixels * kPixels);
            mean[i] = sum / kPixels;
        }
    Foreground out{int(img.rows) / 2, int(img.cols) / 2, 255};
    if (variance.empty()) return out;
    std::vector<int64_t> sorted = variance;
    std::sort(sorted.begin(), sorted.end());
    const int64_t level = sorted[(sorted.size() - 1) * kForegroundPercentile / 100] * kForegroundVariancePercent / 100;
    int64_t rows = 0, cols = 0, count = 0, background_sum = 0, background_count = 0;
    for (int br = 0; br < block_rows; ++br)
        for (int bc = 0; bc < block_cols; ++bc) {
            const size_t i = size_t(br) * size_t(block_cols) + size_t(bc);
            if (variance[i] >= level && variance[i] > 0) {
                rows += br * kForegroundBlock + kForegroundBlock / 2;
                cols += bc * kForegroundBlock + kForegroundBlock / 2;
                ++count;
            } else {
                background_sum += mean[i];
                ++background_count;
            }
        }
    if (count > 0) out = {int(rows / count), int(cols / count), 255};
    if (background_count > 0) out.background = uint8_t(background_sum / background_count);
    return out;
}

// Source pixels a window side of n sensor pixels covers (n x 500 / dpi,
// rounded).
inline int source_extent(int n, uint16_t dpi) { return (n * kSourceDpi + dpi / 2) / dpi; }

// The window of the geometry centred at (centre_row, centre_col) of the
// 500-dpi image, clamped inside the image where it fits and centred on it
// where it does not (the rest is background), resampled bilinearly (8-bit
// fixed point, rounded) to rows x cols when the sensor is not at 500 dpi.
inline std::vector<uint8_t> cut_window(const GreyImage& img, const Foreground& fg, const SensorGeometry& g,
                                       int centre_row, int centre_col) {
    const int src_rows = source_extent(g.rows, g.dpi), src_cols = source_extent(g.cols, g.dpi);
    auto origin = [](int centre, int extent, int size) {
        if (extent >= size) return (size - extent) / 2;  // negative: padded
        return std::clamp(centre - extent / 2, 0, size - extent);
    };
    const int top = origin(centre_row, src_rows, int(img.rows));
    const int left = origin(centre_col, src_cols, int(img.cols));
    auto source = [&](int r, int c) -> int {
        r = std::clamp(r, 0, src_rows - 1);
        c = std::clamp(c, 0, src_cols - 1);
        const int y = top + r, x = left + c;
        if (y < 0 || x < 0 || y >= int(img.rows) || x >= int(img.cols)) return fg.background;
        return img.pixels[size_t(y) * img.cols + size_t(x)];
    };
    std::vector<uint8_t> out(size_t(g.rows) * g.cols);
    constexpr int kFraction = 256;
    for (int r = 0; r < g.rows; ++r) {
        // Source position of the pixel centre, in 1/256 pixel: (r + 1/2) src / rows - 1/2.
        const int y = std::max(0, ((2 * r + 1) * src_rows * kFraction) / (2 * g.rows) - kFraction / 2);
        const int y0 = y / kFraction, fy = y % kFraction;
        for (int c = 0; c < g.cols; ++c) {
            const int x = std::max(0, ((2 * c + 1) * src_cols * kFraction) / (2 * g.cols) - kFraction / 2);
            const int x0 = x / kFraction, fx = x % kFraction;
            const int top_row = source(y0, x0) * (kFraction - fx) + source(y0, x0 + 1) * fx;
            const int bottom_row = source(y0 + 1, x0) * (kFraction - fx) + source(y0 + 1, x0 + 1) * fx;
            const int value = top_row * (kFraction - fy) + bottom_row * fy;
            constexpr int kWhole = kFraction * kFraction;
            out[size_t(r) * g.cols + size_t(c)] = uint8_t((value + kWhole / 2) / kWhole);
        }
    }
    return out;
}

// Deterministic jitter source: FNV-1a of a key, then xorshift32.
inline uint32_t window_seed(const std::string& key) {
    uint32_t h = 2166136261u;
    for (unsigned char ch : key) h = (h ^ ch) * 16777619u;
    return h != 0 ? h : 1u;
}
inline uint32_t xorshift32(uint32_t* state) {
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return *state = x;
}
// Uniform in -span..span.
inline int jitter(uint32_t* state, int span) {
    return span <= 0 ? 0 : int(xorshift32(state) % uint32_t(2 * span + 1)) - span;
}

// Window of the impression for one placement key: foreground centre moved by
// up to 1 / divisor of the window's source extent each way.
inline std::vector<uint8_t> jittered_window(const GreyImage& img, const Foreground& fg, const SensorGeometry& g,
                                            const std::string& key, int divisor) {
    uint32_t state = window_seed(key);
    const int dr = jitter(&state, source_extent(g.rows, g.dpi) / divisor);
    const int dc = jitter(&state, source_extent(g.cols, g.dpi) / divisor);
    return cut_window(img, fg, g, fg.centre_row + dr, fg.centre_col + dc);
}

// Binary PGM with one comment line; false when it cannot be written.
inline bool write_pgm(const std::filesystem::path& path, const std::vector<uint8_t>& pixels, int rows, int cols,
                      const std::string& comment) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f == nullptr) return false;
    std::fprintf(f, "P5\n# %s\n%d %d\n255\n", comment.c_str(), cols, rows);
    const bool ok = std::fwrite(pixels.data(), 1, pixels.size(), f) == pixels.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace fp_test
