#include "extract/bal_singularities.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <emmintrin.h>

#include "math/lib_memory.h"
#include "math/zr_trig.h"

namespace {

#include "extract/bal_singularity_templates.inc"

constexpr uint8_t kMinimumQuality = 40;      // pixels at or below are not searched
constexpr uint8_t kMinimumStrength = 129;    // alternative search threshold
constexpr int32_t kWindowRadius = 4;         // 9 x 9 direction window
constexpr int32_t kTrigShift = 6;            // Q14 sine and cosine to Q8
constexpr int32_t kDeltaArmStep = 85;        // second delta angle a + 85
constexpr int32_t kDeltaArmStepBack = 86;    // third delta angle a - 86

struct PixelPosition {
    uint32_t row;
    uint32_t col;
};

// Orientation difference folded into -64..64.
int32_t folded_difference(uint8_t from, uint8_t to) {
    int32_t d = static_cast<int32_t>(to) - static_cast<int32_t>(from);
    if (d < -64) d += 128;
    if (d > 64) d -= 128;
    return d;
}

uint8_t class_of_sum(int32_t sum) {
    if (sum >= -1 && sum <= 1) return BAL_SINGULARITY_ORDINARY;
    if (sum >= 127 && sum <= 129) return BAL_SINGULARITY_CORE;
    if (sum >= 255 && sum <= 257) return BAL_SINGULARITY_WHORL;
    if (sum >= -129 && sum <= -127) return BAL_SINGULARITY_DELTA;
    return BAL_SINGULARITY_UNDETERMINED;
}

bool is_core_or_delta(uint8_t kind) {
    return bal_singularity_is_core(kind) || kind == BAL_SINGULARITY_DELTA;
}

// Direction of a singular point from the orientation of its 9 x 9 window
// (centre and positions outside the image left out).
uint8_t point_direction(const uint8_t* orientation, uint32_t rows, uint32_t cols,
                        PixelPosition at, uint8_t kind) {
    const bool core = bal_singularity_is_core(kind);
    const auto& weights_a = core ? kCoreTemplateA : kDeltaTemplateA;
    const auto& weights_b = core ? kCoreTemplateB : kDeltaTemplateB;
    int32_t sum_a = 0;
    int32_t sum_b = 0;
    int32_t samples = 0;
    for (int32_t dy = -kWindowRadius; dy <= kWindowRadius; ++dy) {
        const int64_t y = static_cast<int64_t>(at.row) + dy;
        if (y < 0 || y >= rows) continue;
        for (int32_t dx = -kWindowRadius; dx <= kWindowRadius; ++dx) {
            const int64_t x = static_cast<int64_t>(at.col) + dx;
            if ((dx == 0 && dy == 0) || x < 0 || x >= cols) continue;
            const uint8_t o = orientation[static_cast<size_t>(y) * cols + static_cast<size_t>(x)];
            const auto phi = static_cast<uint8_t>(2u * o - 128u);  // doubled ridge angle
            const int32_t c = zr_cos_(phi) >> kTrigShift;
            const int32_t s = zr_sin_(phi) >> kTrigShift;
            const int32_t a = weights_a[dy + kWindowRadius][dx + kWindowRadius];
            const int32_t b = weights_b[dy + kWindowRadius][dx + kWindowRadius];
            sum_a += b * c - s * a;
            sum_b += s * b + c * a;
            ++samples;
        }
    }
    const int32_t angle =
        samples == 0 ? 0 : static_cast<int8_t>(zr_atan2_(sum_a / samples, sum_b / samples));
    if (core) return static_cast<uint8_t>(angle + 64);
    // One third of the angle (171 / 512, floored) for a three-armed point.
    return static_cast<uint8_t>(((171 * angle) >> 9) + 106);
}

uint8_t quality_at(const uint8_t* quality, const bal_singularity& p) { return quality[p.index]; }

// Stable insertion sort, highest quality first.
void sort_by_quality(bal_singularity* points, uint32_t count, const uint8_t* quality) {
    for (uint32_t i = 1; i < count; ++i) {
        const bal_singularity moving = points[i];
        uint32_t j = i;
        while (j > 0 && quality_at(quality, points[j - 1]) < quality_at(quality, moving)) {
            points[j] = points[j - 1];
            --j;
        }
        points[j] = moving;
    }
}

bool not_below_neighbours(const uint8_t* strength, uint32_t cols, size_t index) {
    const uint8_t v = strength[index];
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
            const size_t n = index + static_cast<size_t>(static_cast<int64_t>(dy) * cols + dx);
            if (strength[n] > v) return false;
        }
    return true;
}

// ---- Eight pixels at a time ----

// folded_difference of eight pairs in 16-bit lanes: d = to - from, + 128 when
// below -64, then - 128 when above 64 (each once, as the scalar steps).
__m128i folded_differences8(__m128i from, __m128i to) {
    __m128i d = _mm_sub_epi16(to, from);
    d = _mm_add_epi16(d, _mm_and_si128(_mm_cmplt_epi16(d, _mm_set1_epi16(-64)), _mm_set1_epi16(128)));
    return _mm_sub_epi16(d, _mm_and_si128(_mm_cmpgt_epi16(d, _mm_set1_epi16(64)), _mm_set1_epi16(128)));
}

__m128i load_orientations8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

// Whether the pixels row, x .. x + 7 classify as a core, whorl or delta
// (|sum| in 127..129 or sum in 255..257; sums of eight differences of at
// most 255 fit 16 bits), one byte (1 or 0) each into flags[x ..].
void mark_core_or_delta8(const uint8_t* orientation, size_t cols, size_t index, uint8_t* flags) {
    const uint8_t* up = orientation + index - cols - 1;
    const uint8_t* mid = orientation + index - 1;
    const uint8_t* down = orientation + index + cols - 1;
    // The closed loop of neighbours, clockwise from the upper left.
    const __m128i loop[9] = {load_orientations8(up),       load_orientations8(up + 1),
                             load_orientations8(up + 2),   load_orientations8(mid + 2),
                             load_orientations8(down + 2), load_orientations8(down + 1),
                             load_orientations8(down),     load_orientations8(mid),
                             load_orientations8(up)};
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) sum = _mm_add_epi16(sum, folded_differences8(loop[k], loop[k + 1]));
    const auto within = [](__m128i v, int16_t lo, int16_t hi) {
        return _mm_andnot_si128(_mm_or_si128(_mm_cmplt_epi16(v, _mm_set1_epi16(lo)), _mm_cmpgt_epi16(v, _mm_set1_epi16(hi))),
                                _mm_set1_epi16(-1));
    };
    const __m128i magnitude = _mm_max_epi16(sum, _mm_sub_epi16(_mm_setzero_si128(), sum));
    const __m128i hit = _mm_or_si128(within(magnitude, 127, 129), within(sum, 255, 257));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(flags), _mm_packs_epi16(_mm_and_si128(hit, _mm_set1_epi16(1)), hit));
}

// The core-or-delta flags of the interior pixels 1 .. cols-2 of a row, eight
// at a time, the last eight overlapping the ones before when the row is not
// a multiple of eight.
void mark_core_or_delta_row(const uint8_t* orientation, uint32_t cols, uint32_t row, uint8_t* flags) {
    const size_t start = static_cast<size_t>(row) * cols;
    const uint32_t last = cols - 2;
    if (last < 8) {
        for (uint32_t col = 1; col <= last; ++col)
            flags[col] = is_core_or_delta(bal_classify_singularity(orientation, cols, uint32_t(start + col)));
        return;
    }
    for (uint32_t col = 1;; col += 8) {
        const uint32_t at = std::min(col, last - 7);
        mark_core_or_delta8(orientation, cols, start + at, flags + at);
        if (at == last - 7) break;
    }
}

}  // namespace

uint8_t bal_classify_singularity(const uint8_t* orientation, uint32_t cols, uint32_t index) {
    const size_t c = cols;
    const size_t i = index;
    // The closed loop of neighbours, clockwise from the upper left.
    const size_t loop[9] = {i - c - 1, i - c, i - c + 1, i + 1, i + c + 1,
                            i + c,     i + c - 1, i - 1, i - c - 1};
    int32_t sum = 0;
    for (int k = 0; k < 8; ++k) sum += folded_difference(orientation[loop[k]], orientation[loop[k + 1]]);
    return class_of_sum(sum);
}

namespace {

// The Poincare search (see bal_find_singularities_poincare); flags_row
// (cols bytes) receives, when vector is set, each row's core-or-delta flags
// before the row is scanned, so that only flagged pixels are classified.
bal_status poincare_search(const uint8_t* orientation, const uint8_t* quality, uint32_t rows, uint32_t cols,
                           bal_singularity* points, uint32_t* count, uint32_t max_count, bool vector) {
    if (!orientation || !quality || !points || !count) return BAL_BAD_ARGUMENT;
    *count = 0;
    if (rows < 3 || cols < 3) return BAL_OK;
    auto* current = static_cast<uint8_t*>(std::malloc(cols));
    auto* previous = static_cast<uint8_t*>(std::calloc(cols, 1));
    auto* flags = static_cast<uint8_t*>(std::malloc(cols));
    if (lib_memory_check(current, previous, flags, nullptr, nullptr, nullptr, nullptr, 3) !=
        lib_memory_result::all_present)
        return BAL_NO_MEMORY;

    uint32_t found = 0;
    for (uint32_t row = 1; row + 1 < rows && found < max_count; ++row) {
        std::memset(current, 0, cols);
        if (vector) mark_core_or_delta_row(orientation, cols, row, flags);
        for (uint32_t col = 1; col + 1 < cols && found < max_count; ++col) {
            const size_t index = static_cast<size_t>(row) * cols + col;
            if (quality[index] <= kMinimumQuality || previous[col] != 0 || (vector && flags[col] == 0)) continue;
            const uint8_t kind = bal_classify_singularity(orientation, cols, static_cast<uint32_t>(index));
            if (!is_core_or_delta(kind)) continue;
            bal_singularity& p = points[found++];
            p = bal_singularity{static_cast<uint32_t>(index), kind, 0, {0, 0}};
            p.direction = point_direction(orientation, rows, cols, PixelPosition{row, col}, kind);
            current[col - 1] = current[col] = current[col + 1] = 1;
            ++col;  // the right neighbour belongs to this point
        }
        std::swap(current, previous);
    }
    std::free(current);
    std::free(previous);
    std::free(flags);
    sort_by_quality(points, found, quality);
    *count = found;
    return BAL_OK;
}

}  // namespace

bal_status bal_find_singularities_poincare(const uint8_t* orientation, const uint8_t* quality,
                                           uint32_t rows, uint32_t cols,
                                           bal_singularity* points, uint32_t* count,
                                           uint32_t max_count) {
    return poincare_search(orientation, quality, rows, cols, points, count, max_count, true);
}

bal_status bal_find_singularities_poincare_reference(const uint8_t* orientation, const uint8_t* quality,
                                                     uint32_t rows, uint32_t cols, bal_singularity* points,
                                                     uint32_t* count, uint32_t max_count) {
    return poincare_search(orientation, quality, rows, cols, points, count, max_count, false);
}

bal_status bal_find_singularities(const uint8_t* strength, const uint8_t* orientation,
                                  uint32_t rows, uint32_t cols, bal_singularity* points,
                                  uint32_t* count, uint32_t max_count) {
    if (!strength || !orientation || !points || !count) return BAL_BAD_ARGUMENT;
    *count = 0;
    if (rows < 3 || cols < 3) return BAL_OK;
    uint32_t found = 0;
    for (uint32_t row = 1; row + 1 < rows; ++row)
        for (uint32_t col = 1; col + 1 < cols; ++col) {
            if (found >= max_count) {
                *count = found;
                return BAL_OK;
            }
            const size_t index = static_cast<size_t>(row) * cols + col;
            if (strength[index] < kMinimumStrength || !not_below_neighbours(strength, cols, index))
                continue;
            const uint8_t kind = bal_classify_singularity(orientation, cols, static_cast<uint32_t>(index));
            if (!is_core_or_delta(kind)) continue;
            points[found++] = bal_singularity{static_cast<uint32_t>(index), kind, 0, {0, 0}};
        }
    *count = found;
    return BAL_OK;
}

void bal_convert_singularities(const bal_singularity* points, uint32_t count, uint32_t cols,
                               zr_reference_points* cores, zr_reference_points* deltas) {
    if (cores) cores->count = 0;
    if (deltas) deltas->count = 0;
    if (!points || cols == 0) return;
    for (uint32_t i = 0; i < count; ++i) {
        const bal_singularity& p = points[i];
        zr_reference_points* block = nullptr;
        if (bal_singularity_is_core(p.kind)) block = cores;
        else if (p.kind == BAL_SINGULARITY_DELTA) block = deltas;
        if (!block || block->count >= ZR_MAX_REFERENCE_POINTS) continue;
        zr_reference_point& out = block->points[block->count++];
        out.row = static_cast<uint16_t>(p.index / cols);
        out.col = static_cast<uint16_t>(p.index % cols);
        out.valid = 1;
        if (bal_singularity_is_core(p.kind)) {
            out.angles[0] = p.direction;
            out.angles[1] = out.angles[2] = 0;
        } else {
            out.angles[0] = p.direction;
            out.angles[1] = static_cast<uint8_t>(p.direction + kDeltaArmStep);
            out.angles[2] = static_cast<uint8_t>(p.direction - kDeltaArmStepBack);
        }
    }
}
