#include "extract/bal_minutiae_cleanup.h"

#include <cstddef>

#include "math/zr_trig.h"

namespace {

constexpr uint8_t kDuplicateAngle = 14;        // directions closer than this may merge
constexpr int32_t kDuplicateDistanceSq = 64;    // squared distance (8 pixels) at 500 dpi
constexpr int32_t kProjection = 5;             // pixels ahead of the ending
constexpr int32_t kEndSearchRadius = 51;       // largest ring searched for the end point
constexpr int32_t kFirstProbeStep = 10;        // pixels back to the second probe
constexpr int32_t kSecondProbeStep = 20;       // further back to the third probe
constexpr int32_t kSideStart = 3;              // nearest side distance at 500 dpi
constexpr int32_t kSideSpanPeriods = 3;        // farthest side distance in ridge periods
constexpr int32_t kRadiansHalfTurnQ16 = 205887;  // pi in Q16; an 8-bit angle a is a * this >> 7
constexpr uint8_t kSkeleton = 0;
constexpr uint8_t kDeleted = 1;

struct Pixel {
    int32_t row;
    int32_t col;
};

struct ImageSize {
    int32_t rows;
    int32_t cols;
    bool contains(Pixel p) const { return p.row >= 0 && p.row < rows && p.col >= 0 && p.col < cols; }
    size_t index(Pixel p) const {
        return static_cast<size_t>(p.row) * static_cast<size_t>(cols) + static_cast<size_t>(p.col);
    }
};

int32_t clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

void remove_at(minutia* minutiae, uint32_t& count, uint32_t i) {
    for (uint32_t k = i + 1; k < count; ++k) minutiae[k - 1] = minutiae[k];
    --count;
}

bool is_skeleton(const uint8_t* skeleton, ImageSize size, Pixel p) {
    return size.contains(p) && skeleton[size.index(p)] == kSkeleton;
}

bool is_end_point(const uint8_t* counts, ImageSize size, Pixel p) {
    return size.contains(p) && counts[size.index(p)] == 1;
}

// The first pixel of neighbour count 1 at the point or on the square rings
// around it (radius 1..51), in the ring order of the clean-up.
bool find_end_point(const uint8_t* counts, ImageSize size, Pixel from, Pixel& found) {
    if (is_end_point(counts, size, from)) {
        found = from;
        return true;
    }
    for (int32_t k = 1; k <= kEndSearchRadius; ++k)
        for (int32_t j = 0; j <= k; ++j) {
            const Pixel ring[8] = {
                {from.row - k, from.col + j}, {from.row + k, from.col + j},
                {from.row + j, from.col + k}, {from.row + j, from.col - k},
                {from.row - k, from.col - j}, {from.row + k, from.col - j},
                {from.row - j, from.col + k}, {from.row - j, from.col - k},
            };
            const int candidates = j > 0 ? 8 : 4;
            for (int c = 0; c < candidates; ++c)
                if (is_end_point(counts, size, ring[c])) {
                    found = ring[c];
                    return true;
                }
        }
    return false;
}

// A side search finds a skeleton pixel, or one whose left neighbour (right
// neighbour in column 0) is skeleton.
bool side_hit(const uint8_t* skeleton, ImageSize size, Pixel p) {
    if (!size.contains(p)) return false;
    if (skeleton[size.index(p)] == kSkeleton) return true;
    const Pixel beside = p.col == 0 ? Pixel{p.row, 1} : Pixel{p.row, p.col - 1};
    return is_skeleton(skeleton, size, beside);
}

struct SideDirection {
    int32_t sine;    // Q14
    int32_t cosine;  // Q14
};

SideDirection side_direction(uint8_t angle) {
    const int32_t radians = (static_cast<int32_t>(angle) * kRadiansHalfTurnQ16) >> 7;
    return {zr_sin_14(radians), zr_cos_14(radians)};
}

// True when skeleton lines lie on both sides of the probe within the
// distances first..last.
bool both_sides_found(const uint8_t* skeleton, ImageSize size, Pixel probe, uint8_t angle,
                      int32_t first, int32_t last) {
    const SideDirection sides[2] = {side_direction(static_cast<uint8_t>(angle - 64)),
                                    side_direction(static_cast<uint8_t>(angle + 64))};
    bool found[2] = {false, false};
    for (int32_t t = first; t <= last; ++t) {
        for (int s = 0; s < 2; ++s) {
            if (found[s]) continue;
            const int32_t dr = -(sides[s].sine * t) / 16384;
            const int32_t dc = (sides[s].cosine * t) / 16384;
            if (dr >= -1 && dr <= 1 && dc >= -1 && dc <= 1) continue;  // the probe's own line
            found[s] = side_hit(skeleton, size, Pixel{probe.row + dr, probe.col + dc});
        }
        if (found[0] && found[1]) return true;
    }
    return false;
}

// Whether a ridge ending keeps its place (see the header).
bool ending_is_inside(const minutia& m, const uint8_t* skeleton, const uint8_t* counts,
                      const uint8_t* ridge_period, ImageSize size, int32_t scale) {
    const int32_t sine = zr_sin_(m.angle);
    const int32_t cosine = zr_cos_(m.angle);
    const Pixel ahead{clamp(m.row - ((sine * kProjection) / scale >> 14), 0, size.rows - 1),
                      clamp(m.col + ((cosine * kProjection) / scale >> 14), 0, size.cols - 1)};
    Pixel probe{};
    if (!find_end_point(counts, size, ahead, probe)) return true;
    const int32_t period = ridge_period[size.index(probe)];
    const int32_t first = kSideStart / scale;
    const int32_t last = (kSideSpanPeriods * period) / scale;
    const int32_t steps[3] = {0, kFirstProbeStep, kSecondProbeStep};
    for (int32_t step : steps) {
        probe.col -= (cosine * step / scale) >> 14;
        probe.row += (sine * step / scale) >> 14;
        if (!size.contains(probe)) return false;
        if (both_sides_found(skeleton, size, probe, m.angle, first, last)) return true;
    }
    return false;
}

uint8_t recount_neighbours(const uint8_t* skeleton, ImageSize size, Pixel p) {
    uint8_t n = 0;
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx)
            if ((dy != 0 || dx != 0) && is_skeleton(skeleton, size, Pixel{p.row + dy, p.col + dx})) ++n;
    return n;
}

}  // namespace

uint32_t bal_remove_duplicate_minutiae(minutia* minutiae, uint8_t count, uint8_t scale) {
    uint32_t n = count;
    if (!minutiae || n < 2 || scale == 0) return n;
    uint32_t first_other = 1;
    while (first_other < n && minutiae[first_other].type == minutiae[0].type) ++first_other;
    if (first_other == n) return n;
    const int64_t scale_factor = (scale * scale) % 256;
    uint32_t i = first_other;
    while (i < n) {
        bool merged = false;
        for (uint32_t j = 0; j < i; ++j) {
            minutia& earlier = minutiae[j];
            const minutia& later = minutiae[i];
            if (zr_angle_difference(earlier.angle, later.angle) >= kDuplicateAngle) continue;
            const int64_t dr = earlier.row - later.row;
            const int64_t dc = earlier.col - later.col;
            if ((dr * dr + dc * dc) * scale_factor >= kDuplicateDistanceSq) continue;
            earlier.row = static_cast<int16_t>((earlier.row + later.row) / 2);
            earlier.col = static_cast<int16_t>((earlier.col + later.col) / 2);
            earlier.angle = zr_angle_average(earlier.angle, later.angle);
            earlier.type = ZR_MINUTIA_BIFURCATION;
            remove_at(minutiae, n, i);
            merged = true;
            break;
        }
        if (!merged) ++i;  // after a merge the next minutia has moved into place i
    }
    return n;
}

uint32_t bal_remove_edge_endpoints(minutia* minutiae, uint32_t count, const uint8_t* skeleton,
                                   const uint8_t* counts, const uint8_t* ridge_period,
                                   uint32_t rows, uint32_t cols, uint8_t scale) {
    if (!minutiae || !skeleton || !counts || !ridge_period || scale == 0 || rows == 0 || cols == 0 ||
        rows > INT32_MAX || cols > INT32_MAX)
        return count;
    const ImageSize size{static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
    uint32_t i = 0;
    while (i < count) {
        if (minutiae[i].type == ZR_MINUTIA_ENDING &&
            !ending_is_inside(minutiae[i], skeleton, counts, ridge_period, size, scale))
            remove_at(minutiae, count, i);
        else
            ++i;
    }
    return count;
}

uint32_t bal_remove_low_variance_minutiae(minutia* minutiae, uint32_t count, const uint8_t* image,
                                          uint32_t rows, uint32_t cols) {
    if (!minutiae || !image) return count;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const minutia& m = minutiae[i];
        const bool inside = m.row >= 0 && m.col >= 0 && static_cast<uint32_t>(m.row) < rows &&
                            static_cast<uint32_t>(m.col) < cols;
        if (inside && image[static_cast<size_t>(m.row) * cols + static_cast<size_t>(m.col)] != 0)
            minutiae[kept++] = m;
    }
    return kept;
}

void bal_remove_skeleton_pixel(uint8_t* skeleton, uint8_t* counts, uint32_t rows, uint32_t cols,
                               uint32_t row, uint32_t col) {
    if (!skeleton || !counts || row >= rows || col >= cols || rows > INT32_MAX || cols > INT32_MAX)
        return;
    const ImageSize size{static_cast<int32_t>(rows), static_cast<int32_t>(cols)};
    const Pixel centre{static_cast<int32_t>(row), static_cast<int32_t>(col)};
    skeleton[size.index(centre)] = kDeleted;
    counts[size.index(centre)] = 0;
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
            const Pixel p{centre.row + dy, centre.col + dx};
            if (!is_skeleton(skeleton, size, p)) continue;
            uint8_t& n = counts[size.index(p)];
            if (n == 0) continue;
            n = n == 2 ? recount_neighbours(skeleton, size, p) : static_cast<uint8_t>(n - 1);
        }
}
