// Shared helpers of the extraction tests: running bal_extract on a copy of
// an image, synthetic gratings, and minutiae comparisons.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

#include "extract/bal_extract.h"
#include "math/zr_trig.h"

namespace extract_test {

// What one extraction left in its container, copied out.
struct Result {
    bal_status status = BAL_OK;
    std::vector<minutia> minutiae;
    zr_template_container header{};  // pointers cleared
    std::vector<uint8_t> orientation;
    std::vector<uint8_t> frequency;
    std::vector<uint8_t> orientation_fine;
    std::vector<uint8_t> frequency_fine;
    std::vector<uint8_t> zonal;
    std::vector<uint8_t> binarized;
};

// Requests for the optional features of the container.
struct Request {
    uint32_t flags = 0;
    uint8_t max_minutiae = 255;
    uint8_t order = BAL_ORDER_ROW;
    bool fields = false;       // orientation and frequency fields
    bool fine_fields = false;  // with their fine grids
    bool zonal = false;
    bool binarized = false;
    bool singular_points = false;
    const uint8_t* valid_mask = nullptr;
    bal_feature_callback callback1 = nullptr;
    bal_feature_callback callback2 = nullptr;
};

inline std::vector<uint8_t> copy_of(const uint8_t* p, size_t n) {
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>{};
}

inline Result run(const std::vector<uint8_t>& pixels, uint32_t rows, uint32_t cols,
                  const Request& request = {}) {
    Result out;
    zr_template_container* c = zr_template_container_alloc();
    if (!c) {
        out.status = BAL_NO_MEMORY;
        return out;
    }
    c->flags = request.flags;
    c->minutiae.max_minutiae = request.max_minutiae;
    c->minutiae.order = request.order;
    const uint32_t field_flags =
        request.fields ? (ZR_FEATURE_ENABLE | (request.fine_fields ? ZR_FIELD_FINE : 0)) : 0;
    c->orientation.flags = field_flags;
    c->frequency.flags = field_flags;
    c->zonal_quality.enable = request.zonal ? ZR_FEATURE_ENABLE : 0;
    c->binarized_flags = request.binarized ? ZR_BINARIZED_KEEP : 0;
    c->cores.enable = c->deltas.enable = request.singular_points ? ZR_FEATURE_ENABLE : 0;
    std::vector<uint8_t> copy = pixels;
    out.status = bal_extract(copy.data(), request.valid_mask, rows, cols, c, request.callback1,
                             request.callback2);
    out.minutiae.assign(c->minutiae.minutiae, c->minutiae.minutiae + c->minutiae.count);
    const size_t blocks = size_t{c->orientation.block_rows} * c->orientation.block_cols;
    out.orientation = copy_of(c->orientation.values, blocks);
    out.frequency = copy_of(c->frequency.values, blocks);
    out.orientation_fine = copy_of(c->orientation.fine, 9 * blocks);
    out.frequency_fine = copy_of(c->frequency.fine, 9 * blocks);
    out.zonal = copy_of(c->zonal_quality.cells,
                        size_t{c->zonal_quality.field_rows} * c->zonal_quality.field_cols);
    out.binarized = copy_of(c->binarized, size_t{c->binarized_rows} * c->binarized_cols);
    out.header = *c;
    out.header.orientation.values = out.header.orientation.fine = nullptr;
    out.header.frequency.values = out.header.frequency.fine = nullptr;
    out.header.zonal_quality.cells = nullptr;
    out.header.binarized = nullptr;
    zr_template_container_free(c);
    return out;
}

// 128 + 100 cos(2 pi x / period + phase(y, x)), rows x cols.
template <typename Phase>
std::vector<uint8_t> grating(uint32_t rows, uint32_t cols, double period, Phase phase) {
    std::vector<uint8_t> px(size_t{rows} * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            px[size_t{y} * cols + x] = static_cast<uint8_t>(std::lround(
                128 + 100 * std::cos(2 * std::numbers::pi * x / period + phase(y, x))));
    return px;
}

inline int32_t squared_distance(const minutia& a, const minutia& b) {
    const int32_t dr = a.row - b.row, dc = a.col - b.col;
    return dr * dr + dc * dc;
}

// True when `list` holds a minutia within `radius` pixels of m whose
// direction differs by at most `angle` steps.
inline bool has_near(const std::vector<minutia>& list, const minutia& m, int32_t radius,
                     uint8_t angle) {
    for (const minutia& o : list)
        if (squared_distance(o, m) <= radius * radius &&
            zr_angle_difference(o.angle, m.angle) <= angle)
            return true;
    return false;
}

}  // namespace extract_test
