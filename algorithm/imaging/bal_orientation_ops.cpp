#include "imaging/bal_orientation_ops.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <emmintrin.h>

#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

struct Offset {
    int8_t dy, dx;
};

// Nine pixels along the ridge for each of the eight orientation classes.
constexpr Offset kMeanWindow[8][9] = {
    {{-3, 0}, {-2, 0}, {-1, 0}, {0, -1}, {0, 0}, {0, 1}, {1, 0}, {2, 0}, {3, 0}},
    {{-3, 1}, {-2, 1}, {-1, 0}, {-1, 1}, {0, 0}, {1, -1}, {1, 0}, {2, -1}, {3, -1}},
    {{-2, 2}, {-1, 0}, {-1, 1}, {0, -1}, {0, 0}, {0, 1}, {1, -1}, {1, 0}, {2, -2}},
    {{-1, 1}, {-1, 2}, {-1, 3}, {0, -1}, {0, 0}, {0, 1}, {1, -3}, {1, -2}, {1, -1}},
    {{-1, 0}, {0, -3}, {0, -2}, {0, -1}, {0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}},
    {{-1, -3}, {-1, -2}, {-1, -1}, {0, -1}, {0, 0}, {0, 1}, {1, 1}, {1, 2}, {1, 3}},
    {{-2, -2}, {-1, -1}, {-1, 0}, {0, -1}, {0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 2}},
    {{-3, -1}, {-2, -1}, {-1, -1}, {-1, 0}, {0, 0}, {1, 0}, {1, 1}, {2, 1}, {3, 1}},
};

// Five pixels along the ridge for each orientation class.
constexpr Offset kMedianWindow[8][5] = {
    {{-2, 0}, {-1, 0}, {0, 0}, {1, 0}, {2, 0}},   {{-2, 1}, {-1, 0}, {0, 0}, {1, 0}, {2, -1}},
    {{-2, 2}, {-1, 1}, {0, 0}, {1, -1}, {2, -2}}, {{-1, 2}, {0, 1}, {0, 0}, {0, -1}, {1, -2}},
    {{0, -2}, {0, -1}, {0, 0}, {0, 1}, {0, 2}},   {{-1, -2}, {0, -1}, {0, 0}, {0, 1}, {1, 2}},
    {{-2, -2}, {-1, -1}, {0, 0}, {1, 1}, {2, 2}}, {{-2, -1}, {-1, 0}, {0, 0}, {1, 0}, {2, 1}},
};

// Eight classes of 16 orientation steps; 128 (vertical ridges) is class 0.
inline uint32_t orientation_class(uint8_t o) {
    const uint32_t folded = o <= 128 ? o : o - 128u;
    const uint32_t cls = (folded + 8) >> 4;
    return cls == 8 ? 0 : cls;
}

inline void sort2(uint8_t& a, uint8_t& b) {
    if (a > b) std::swap(a, b);
}

inline uint8_t median5(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint8_t e) {
    sort2(a, b);
    sort2(d, e);
    sort2(a, d);
    sort2(b, e);
    sort2(b, c);
    sort2(c, d);
    sort2(b, c);
    return c;
}

// Runs a window of `radius` rows above and below each pixel of the rows and
// columns radius .. n-1-radius. Rows up to the current one are read from a
// ring of radius + 1 copies taken before they are written, so dst may be src.
// row(r, orientation_row, dst_row, x0, x1) filters the pixels x0 .. x1-1 of
// one row, with r[dy] the source row dy rows away (dy = -radius .. radius).
template <int Radius, typename RowFn>
bal_status oriented_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                           const uint8_t* pixel_orientation, uint8_t* dst, RowFn row) {
    constexpr int64_t kSpan = 2 * Radius + 1;
    if (static_cast<int64_t>(rows) < kSpan || static_cast<int64_t>(cols) < kSpan) return BAL_OK;
    constexpr uint32_t kRing = Radius + 1;
    auto* ring = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(kRing) * cols));
    if (!ring) return BAL_NO_MEMORY;
    auto ring_row = [&](uint32_t y) { return ring + static_cast<size_t>(y % kRing) * cols; };
    for (uint32_t y = 0; y < static_cast<uint32_t>(Radius); ++y)
        std::memcpy(ring_row(y), src + static_cast<size_t>(y) * cols, cols);

    const uint8_t* window_rows[2 * Radius + 1];
    const uint32_t last_row = rows - Radius, last_col = cols - Radius;
    for (uint32_t y = Radius; y < last_row; ++y) {
        std::memcpy(ring_row(y), src + static_cast<size_t>(y) * cols, cols);
        for (int dy = -Radius; dy <= Radius; ++dy) {
            const uint32_t yy = y + dy;
            window_rows[dy + Radius] =
                dy <= 0 ? ring_row(yy) : src + static_cast<size_t>(yy) * cols;
        }
        row(window_rows + Radius, pixel_orientation + static_cast<size_t>(y) * cols,
            dst + static_cast<size_t>(y) * cols, static_cast<uint32_t>(Radius), last_col);
    }
    std::free(ring);
    return BAL_OK;
}

uint8_t mean_at(const uint8_t* const* r, uint32_t x, uint32_t cls) {
    uint32_t sum = 0;
    for (const Offset& o : kMeanWindow[cls]) sum += r[o.dy][x + o.dx];
    return static_cast<uint8_t>(sum / 9);
}

uint8_t median_at(const uint8_t* const* r, uint32_t x, uint32_t cls) {
    const Offset* w = kMedianWindow[cls];
    return median5(r[w[0].dy][x + w[0].dx], r[w[1].dy][x + w[1].dx], r[w[2].dy][x + w[2].dx],
                   r[w[3].dy][x + w[3].dx], r[w[4].dy][x + w[4].dx]);
}

// The row function of the plain loop: pixel(r, x, class) for each pixel.
template <uint8_t (*Pixel)(const uint8_t* const*, uint32_t, uint32_t)>
void pixel_row(const uint8_t* const* r, const uint8_t* orow, uint8_t* drow, uint32_t x0, uint32_t x1) {
    for (uint32_t x = x0; x < x1; ++x) drow[x] = Pixel(r, x, orientation_class(orow[x]));
}

// ---- Sixteen pixels at a time ----
//
// For each of the eight orientation classes present among sixteen pixels,
// the class's window is computed for all sixteen and kept where the pixel has
// that class; the results are those of the plain loop, pixel by pixel.

__m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// orientation_class of sixteen orientation bytes: fold by 128 above 128,
// (folded + 8) >> 4 (at most 136 >> 4, so no byte carries into the next
// under the 16-bit shift), class 8 as 0.
__m128i orientation_classes16(const uint8_t* orow) {
    const __m128i o = load16(orow);
    const __m128i above = _mm_cmpgt_epi8(_mm_xor_si128(o, _mm_set1_epi8(char(0x80))), _mm_setzero_si128());
    const __m128i folded = _mm_sub_epi8(o, _mm_and_si128(above, _mm_set1_epi8(char(0x80))));
    const __m128i shifted = _mm_srli_epi16(_mm_add_epi8(folded, _mm_set1_epi8(8)), 4);
    return _mm_and_si128(shifted, _mm_set1_epi8(7));
}

__m128i window_median16(const uint8_t* const* r, uint32_t x, uint32_t cls) {
    const Offset* w = kMedianWindow[cls];
    __m128i v[5];
    for (int k = 0; k < 5; ++k) v[k] = load16(r[w[k].dy] + x + w[k].dx);
    // median5's network.
    const auto sort2 = [&v](int i, int j) {
        const __m128i lo = _mm_min_epu8(v[i], v[j]);
        v[j] = _mm_max_epu8(v[i], v[j]);
        v[i] = lo;
    };
    sort2(0, 1);
    sort2(3, 4);
    sort2(0, 3);
    sort2(1, 4);
    sort2(1, 2);
    sort2(2, 3);
    sort2(1, 2);
    return v[2];
}

// Sums of nine bytes are at most 2295, in 16 bits. (sum * 7282) >> 16 is
// sum / 9 (truncated) for each of them: 9 * 7282 = 2^16 + 2, so the product
// is sum / 9 + 2 sum / (9 * 2^16), whose excess stays below 1/9 for
// sum < 2^16 / 2, while the fraction of sum / 9 is at most 8/9.
__m128i window_mean16(const uint8_t* const* r, uint32_t x, uint32_t cls) {
    const __m128i zero = _mm_setzero_si128();
    __m128i lo = zero, hi = zero;
    for (const Offset& o : kMeanWindow[cls]) {
        const __m128i v = load16(r[o.dy] + x + o.dx);
        lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
        hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
    }
    const __m128i ninth = _mm_set1_epi16(7282);
    return _mm_packus_epi16(_mm_mulhi_epu16(lo, ninth), _mm_mulhi_epu16(hi, ninth));
}

template <__m128i (*Window16)(const uint8_t* const*, uint32_t, uint32_t),
          uint8_t (*Pixel)(const uint8_t* const*, uint32_t, uint32_t)>
void vector_row(const uint8_t* const* r, const uint8_t* orow, uint8_t* drow, uint32_t x0, uint32_t x1) {
    uint32_t x = x0;
    for (; x + 16 <= x1; x += 16) {
        const __m128i classes = orientation_classes16(orow + x);
        __m128i out = _mm_setzero_si128();
        for (uint32_t cls = 0; cls < 8; ++cls) {
            const __m128i in_class = _mm_cmpeq_epi8(classes, _mm_set1_epi8(char(cls)));
            if (_mm_movemask_epi8(in_class) == 0) continue;
            out = _mm_or_si128(out, _mm_and_si128(in_class, Window16(r, x, cls)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(drow + x), out);
    }
    // The last pixels as the last sixteen of the row when there are that
    // many: the ones done twice come out the same, as the window rows are
    // never the row written.
    if (x < x1 && x1 - x0 >= 16) return vector_row<Window16, Pixel>(r, orow, drow, x1 - 16, x1);
    pixel_row<Pixel>(r, orow, drow, x, x1);
}

// Doubled-angle unit vector of an orientation byte.
inline int32_t doubled_cos(uint8_t o) { return zr_cos_(static_cast<uint8_t>(2u * o)); }
inline int32_t doubled_sin(uint8_t o) { return zr_sin_(static_cast<uint8_t>(2u * o)); }

// Direction 0..127 of a doubled-angle vector.
inline uint8_t direction_of(int32_t s, int32_t c) {
    return static_cast<uint8_t>((static_cast<uint32_t>(zr_atan2_(s, c)) & 0xFF) >> 1);
}

// Weighted sums over a neighbourhood of one block.
struct WeightedSums {
    int32_t w = 0, v = 0, c = 0, s = 0, k = 0;
    void add(int32_t kernel, uint8_t weight, uint8_t value, uint8_t orientation) {
        const int32_t kw = kernel * weight;
        w += kw;
        v += kw * value;
        c += kw * doubled_cos(orientation);
        s += kw * doubled_sin(orientation);
        k += kernel;
    }
    uint8_t value() const { return static_cast<uint8_t>(static_cast<uint32_t>(v) / w); }
    uint8_t orientation() const { return direction_of(s / w, c / w); }
};

// Kernel weight of a neighbour at (dy, dx): 4 centre, 2 edge, 1 corner.
inline int32_t kernel_weight(int dy, int dx) { return 4 >> ((dy != 0) + (dx != 0)); }

}  // namespace

bal_status bal_oriented_mean(const uint8_t* src, uint32_t rows, uint32_t cols,
                             const uint8_t* pixel_orientation, uint8_t* dst) {
    return oriented_filter<3>(src, rows, cols, pixel_orientation, dst, vector_row<window_mean16, mean_at>);
}

bal_status bal_oriented_median(const uint8_t* src, uint32_t rows, uint32_t cols,
                               const uint8_t* pixel_orientation, uint8_t* dst) {
    return oriented_filter<2>(src, rows, cols, pixel_orientation, dst, vector_row<window_median16, median_at>);
}

bal_status bal_oriented_mean_reference(const uint8_t* src, uint32_t rows, uint32_t cols,
                                       const uint8_t* pixel_orientation, uint8_t* dst) {
    return oriented_filter<3>(src, rows, cols, pixel_orientation, dst, pixel_row<mean_at>);
}

bal_status bal_oriented_median_reference(const uint8_t* src, uint32_t rows, uint32_t cols,
                                         const uint8_t* pixel_orientation, uint8_t* dst) {
    return oriented_filter<2>(src, rows, cols, pixel_orientation, dst, pixel_row<median_at>);
}

uint32_t bal_orientation_difference(void* minutiae, uint32_t count,
                                    const uint8_t* pixel_orientation, uint32_t rows, uint32_t cols,
                                    uint8_t scale) {
    if (!minutiae || !pixel_orientation || scale == 0) return count;
    constexpr size_t kRecord = 8;
    auto* records = static_cast<uint8_t*>(minutiae);
    const int32_t step = 15 / scale;
    uint32_t i = 0;
    while (i < count) {
        uint8_t* rec = records + static_cast<size_t>(i) * kRecord;
        int16_t y, x;
        std::memcpy(&y, rec, 2);
        std::memcpy(&x, rec + 2, 2);
        const uint8_t a = rec[4];
        if (y < 0 || x < 0 || static_cast<uint32_t>(y) >= rows ||
            static_cast<uint32_t>(x) >= cols) {
            ++i;
            continue;
        }
        const uint8_t o = pixel_orientation[static_cast<size_t>(y) * cols + x];
        uint8_t d1 = static_cast<uint8_t>(64 - o);
        if (zr_angle_difference(d1, a) > 64) d1 = static_cast<uint8_t>(192 - o);

        auto y2 = static_cast<int16_t>(y - (step * zr_sin_(d1)) / 16384);
        auto x2 = static_cast<int16_t>(x + (zr_cos_(d1) * step) / 16384);
        y2 = static_cast<int16_t>(std::clamp<int32_t>(y2, 0, static_cast<int32_t>(rows) - 1));
        x2 = static_cast<int16_t>(std::clamp<int32_t>(x2, 0, static_cast<int32_t>(cols) - 1));
        const uint8_t o2 = pixel_orientation[static_cast<size_t>(y2) * cols + x2];
        uint8_t d2 = static_cast<uint8_t>(192 - o2);
        if (zr_angle_difference(d2, a) > 64) d2 = static_cast<uint8_t>(64 - o2);

        const uint32_t deviation = std::min(zr_angle_difference(d1, a), zr_angle_difference(d2, a));
        uint32_t bend = zr_angle_difference(d1, d2);
        if (bend > 64) bend = 128 - bend;
        if (deviation > ((bend * 3) >> 3) + 12) {
            std::memmove(rec, rec + kRecord, static_cast<size_t>(count - i - 1) * kRecord);
            --count;
        } else {
            ++i;
        }
    }
    return count;
}

bal_status bal_orientation_blur_weighted(uint8_t* orientation, uint8_t* values, uint8_t* weights,
                                         const uint8_t* block_mask, uint32_t block_rows,
                                         uint32_t block_cols) {
    const size_t n = static_cast<size_t>(block_rows) * block_cols;
    if (n == 0) return BAL_OK;
    auto* new_orientation = static_cast<uint8_t*>(std::malloc(n));
    auto* new_values = static_cast<uint8_t*>(std::malloc(n));
    auto* new_weights = static_cast<uint8_t*>(std::malloc(n));
    if (lib_memory_check(new_orientation, new_values, new_weights, nullptr, nullptr, nullptr,
                         nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    std::memcpy(new_orientation, orientation, n);
    std::memcpy(new_values, values, n);
    std::memcpy(new_weights, weights, n);
    for (uint32_t r = 0; r < block_rows; ++r) {
        for (uint32_t c = 0; c < block_cols; ++c) {
            const size_t b = static_cast<size_t>(r) * block_cols + c;
            if (block_mask[b] == 0 || values[b] == 0) continue;
            WeightedSums sums;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int64_t rr = static_cast<int64_t>(r) + dy,
                                  cc = static_cast<int64_t>(c) + dx;
                    if (rr < 0 || cc < 0 || rr >= block_rows || cc >= block_cols) continue;
                    const size_t nb = static_cast<size_t>(rr) * block_cols + cc;
                    sums.add(kernel_weight(dy, dx), weights[nb], values[nb], orientation[nb]);
                }
            }
            if (sums.w == 0) continue;
            new_values[b] = sums.value();
            new_orientation[b] = sums.orientation();
            new_weights[b] = static_cast<uint8_t>(sums.w / sums.k);
        }
    }
    std::memcpy(orientation, new_orientation, n);
    std::memcpy(values, new_values, n);
    std::memcpy(weights, new_weights, n);
    std::free(new_orientation);
    std::free(new_values);
    std::free(new_weights);
    return BAL_OK;
}

bal_status bal_orientation_replace_null_values(uint8_t* orientation, uint8_t* values,
                                               uint8_t* weights, uint32_t block_rows,
                                               uint32_t block_cols) {
    const size_t n = static_cast<size_t>(block_rows) * block_cols;
    if (n == 0) return BAL_OK;
    // Filling spreads at least one block per pass while it makes progress, so
    // this bound is never reached by a field that can still change usefully.
    const uint64_t max_passes = 2ull * (block_rows + block_cols) + 16;
    for (uint64_t pass = 0; pass < max_passes; ++pass) {
        auto* new_weights = static_cast<uint8_t*>(std::malloc(n));
        if (!new_weights) return BAL_NO_MEMORY;
        std::memcpy(new_weights, weights, n);
        uint32_t filled = 0, unfilled = 0;
        bool changed = false;
        for (uint32_t r = 0; r < block_rows; ++r) {
            for (uint32_t c = 0; c < block_cols; ++c) {
                const size_t b = static_cast<size_t>(r) * block_cols + c;
                if (values[b] != 0) continue;
                WeightedSums sums;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        if (dy == 0 && dx == 0) continue;
                        const int64_t rr = static_cast<int64_t>(r) + dy;
                        const int64_t cc = static_cast<int64_t>(c) + dx;
                        if (rr < 0 || cc < 0 || rr >= block_rows || cc >= block_cols) continue;
                        const size_t nb = static_cast<size_t>(rr) * block_cols + cc;
                        sums.add(kernel_weight(dy, dx), weights[nb], values[nb], orientation[nb]);
                    }
                }
                if (sums.w == 0) {
                    ++unfilled;
                    continue;
                }
                const uint8_t v = sums.value(), o = sums.orientation();
                const auto w = static_cast<uint8_t>(sums.w / (sums.k + 4));
                changed |= v != values[b] || o != orientation[b] || w != weights[b];
                values[b] = v;
                orientation[b] = o;
                new_weights[b] = w;
                ++filled;
            }
        }
        std::memcpy(weights, new_weights, n);
        std::free(new_weights);
        if (unfilled == 0 || filled == 0 || !changed) break;
    }
    return BAL_OK;
}

bal_status bal_orientation_replace_perpendicular_orientations(uint8_t* field, const void* unused,
                                                              uint32_t block_rows,
                                                              uint32_t block_cols) {
    (void)unused;
    const size_t n = static_cast<size_t>(block_rows) * block_cols;
    if (n == 0) return BAL_OK;
    auto* out = static_cast<uint8_t*>(std::malloc(n));
    if (!out) return BAL_NO_MEMORY;
    std::memcpy(out, field, n);
    auto at = [&](uint32_t r, uint32_t c) {
        return field[static_cast<size_t>(r) * block_cols + c];
    };
    // Writes the pair's average into the copy when the pair agrees and the
    // centre departs from it; later calls for the same block overwrite.
    auto apply_pair = [&](uint32_t r, uint32_t c, uint8_t a, uint8_t b) {
        if (zr_direction_difference(a, b) >= 17) return;
        const uint8_t m = zr_direction_average(a, b);
        if (zr_direction_difference(m, at(r, c)) > 20)
            out[static_cast<size_t>(r) * block_cols + c] = m;
    };
    const uint32_t last_row = block_rows - 1, last_col = block_cols - 1;
    for (uint32_t c = 1; c + 1 < block_cols; ++c) {
        apply_pair(0, c, at(0, c - 1), at(0, c + 1));
        apply_pair(last_row, c, at(last_row, c - 1), at(last_row, c + 1));
    }
    if (block_rows > 2) {
        for (uint32_t r = 1; r < last_row; ++r) {
            apply_pair(r, 0, at(r - 1, 0), at(r + 1, 0));
            apply_pair(r, last_col, at(r - 1, last_col), at(r + 1, last_col));
        }
        for (uint32_t r = 1; r < last_row; ++r) {
            for (uint32_t c = 1; c < last_col; ++c) {
                apply_pair(r, c, at(r, c - 1), at(r, c + 1));
                apply_pair(r, c, at(r - 1, c), at(r + 1, c));
            }
        }
    }
    std::memcpy(field, out, n);
    std::free(out);
    return BAL_OK;
}

void bal_irregularity(const uint8_t* orientation, uint32_t rows, uint32_t cols, uint8_t* out) {
    if (rows < 3 || cols < 3) return;
    const size_t n = static_cast<size_t>(rows) * cols;
    auto* dx = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* dy = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    if (lib_memory_check(dx, dy, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) return;
    for (size_t i = 0; i < n; ++i) {
        dx[i] = static_cast<int16_t>(doubled_cos(orientation[i]));
        dy[i] = static_cast<int16_t>(doubled_sin(orientation[i]));
    }
    bal_irregularity_dx_dy(dx, dy, rows, cols, out);
    std::free(dx);
    std::free(dy);
}

void bal_irregularity_dx_dy(const int16_t* dx, const int16_t* dy, uint32_t rows, uint32_t cols,
                            uint8_t* out) {
    if (rows < 3 || cols < 3) return;
    auto cell = [&](uint32_t y, uint32_t x) {
        const uint32_t y0 = y > 0 ? y - 1 : 0, y1 = y + 1 < rows ? y + 1 : y;
        const uint32_t x0 = x > 0 ? x - 1 : 0, x1 = x + 1 < cols ? x + 1 : x;
        int32_t sx = 0, sy = 0;
        for (uint32_t i = y0; i <= y1; ++i) {
            for (uint32_t j = x0; j <= x1; ++j) {
                sx += dx[static_cast<size_t>(i) * cols + j];
                sy += dy[static_cast<size_t>(i) * cols + j];
            }
        }
        const int32_t X = sx >> 2, Y = sy >> 2;
        const uint32_t len2 = static_cast<uint32_t>(X * X) + static_cast<uint32_t>(Y * Y);
        const uint32_t q_len = zr_sqrt_24_5(len2) * 256u;
        const bool inner = y > 0 && x > 0 && y + 1 < rows && x + 1 < cols;
        const uint32_t q = inner ? (q_len + 144) / 288 : (q_len + 96) / 192;
        return static_cast<uint8_t>(0u - q);
    };
    auto at = [&](uint32_t y, uint32_t x) -> uint8_t& {
        return out[static_cast<size_t>(y) * cols + x];
    };
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < cols; ++x) {
            const bool corner = (y == 0 || y + 1 == rows) && (x == 0 || x + 1 == cols);
            if (!corner) at(y, x) = cell(y, x);
        }
    }
    const uint32_t ly = rows - 1, lx = cols - 1;
    at(0, 0) = static_cast<uint8_t>((at(0, 1) + at(1, 0)) >> 1);
    at(0, lx) = static_cast<uint8_t>((at(0, lx - 1) + at(1, lx)) >> 1);
    at(ly, 0) = static_cast<uint8_t>((at(ly, 1) + at(ly - 1, 0)) >> 1);
    at(ly, lx) = static_cast<uint8_t>((at(ly, lx - 1) + at(ly - 1, lx)) >> 1);
}

int32_t arctan45(int32_t den, int32_t num) {
    if (num > 0x3FFFFFF) {
        num >>= 6;
        den >>= 6;
    }
    if (den == 0) return num <= 0 ? 0 : 32;
    const int32_t q = (num * 32 + (den >> 1)) / den;
    if (q <= 12) return q + (q > 1) + (q > 5) + (q > 10);
    return q + (q <= 30) + (q <= 26) + (q <= 21);
}
