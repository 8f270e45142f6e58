#include "imaging/bal_orientation.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_kernels3x3.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

// Window-shrink flags set on the neighbours of a masked-out block.
constexpr uint8_t kDropFirstRow = 1;
constexpr uint8_t kDropLastRow = 2;
constexpr uint8_t kDropFirstCol = 4;
constexpr uint8_t kDropLastCol = 8;

// Smoothing thresholds of the two passes over the doubled-angle vectors.
constexpr uint8_t kSmoothPassCoherence[2] = {255, 95};

bool grid_fits(uint32_t rows, uint32_t cols, uint32_t block_rows, uint32_t block_cols,
               uint32_t block) {
    if (block == 0) return false;
    return uint64_t{block_rows} * block <= rows && uint64_t{block_cols} * block <= cols;
}

// Minimum number of gradient pixels a block needs to be measured.
uint32_t energy_threshold(uint32_t block) { return (block * block * 5) / 100; }

// Products of one pixel row, zero where the squared gradient is at most 255.
struct RowProducts {
    int32_t* xy;
    int32_t* xx;
    int32_t* yy;
    int32_t* counted;
};

void row_products(const int8_t* rx, const int8_t* ry, uint32_t width, const RowProducts& out) {
    for (uint32_t x = 0; x < width; ++x) {
        const int32_t dx = rx[x], dy = ry[x];
        const int32_t xx = dx * dx, yy = dy * dy;
        const int32_t keep = -static_cast<int32_t>(xx + yy > 255);
        out.xy[x] = (dx * dy) & keep;
        out.xx[x] = xx & keep;
        out.yy[x] = yy & keep;
        out.counted[x] = -keep;
    }
}

// Sums the gradient products of every block over its (possibly shrunk)
// window, one pixel row at a time; rows holds 4 x block_cols*block values.
void accumulate_block_gradients(const int8_t* gx, const int8_t* gy, uint32_t cols,
                                const uint8_t* flags, uint32_t block_rows, uint32_t block_cols,
                                uint32_t block, int32_t* rows, int32_t* sum_xy, int32_t* sum_xx,
                                int32_t* sum_yy, int16_t* count) {
    const uint32_t width = block_cols * block;
    const RowProducts p{rows, rows + width, rows + 2 * width, rows + 3 * width};
    for (uint32_t br = 0; br < block_rows; ++br) {
        int32_t* bxy = sum_xy + static_cast<size_t>(br) * block_cols;
        int32_t* bxx = sum_xx + static_cast<size_t>(br) * block_cols;
        int32_t* byy = sum_yy + static_cast<size_t>(br) * block_cols;
        int16_t* bn = count + static_cast<size_t>(br) * block_cols;
        for (uint32_t bc = 0; bc < block_cols; ++bc) bxy[bc] = bxx[bc] = byy[bc] = bn[bc] = 0;
        for (uint32_t dy = 0; dy < block; ++dy) {
            const size_t y = static_cast<size_t>(br) * block + dy;
            row_products(gx + y * cols, gy + y * cols, width, p);
            for (uint32_t bc = 0; bc < block_cols; ++bc) {
                const uint8_t f = flags ? flags[static_cast<size_t>(br) * block_cols + bc] : 0;
                if ((dy == 0 && (f & kDropFirstRow)) || (dy + 1 == block && (f & kDropLastRow)))
                    continue;
                uint32_t x0 = bc * block, x1 = x0 + block;
                if (f & kDropFirstCol) ++x0;
                if (f & kDropLastCol) --x1;
                int32_t sxy = 0, sxx = 0, syy = 0, k = 0;
                for (uint32_t x = x0; x < x1; ++x) {
                    sxy += p.xy[x];
                    sxx += p.xx[x];
                    syy += p.yy[x];
                    k += p.counted[x];
                }
                bxy[bc] += sxy;
                bxx[bc] += sxx;
                byy[bc] += syy;
                bn[bc] = static_cast<int16_t>(bn[bc] + k);
            }
        }
    }
}

// Flags the neighbours of every masked-out block so that their windows drop
// the pixel row or column next to it.
void mark_mask_neighbours(const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                          uint8_t* flags) {
    for (uint32_t r = 0; r < block_rows; ++r) {
        for (uint32_t c = 0; c < block_cols; ++c) {
            if (block_mask[r * block_cols + c] != 0) continue;
            if (c > 0) flags[r * block_cols + c - 1] |= kDropLastCol;
            if (c + 1 < block_cols) flags[r * block_cols + c + 1] |= kDropFirstCol;
            if (r > 0) flags[(r - 1) * block_cols + c] |= kDropLastRow;
            if (r + 1 < block_rows) flags[(r + 1) * block_cols + c] |= kDropFirstRow;
        }
    }
}

struct BlockMeans {
    int32_t xy, xx, yy;
};

// Means of the 3x3 block neighbourhood clipped to the grid, every block counted.
BlockMeans neighbourhood_means(const int32_t* mxy, const int32_t* mxx, const int32_t* myy,
                               uint32_t block_rows, uint32_t block_cols, uint32_t r, uint32_t c) {
    const uint32_t r0 = r > 0 ? r - 1 : 0, r1 = r + 1 < block_rows ? r + 1 : r;
    const uint32_t c0 = c > 0 ? c - 1 : 0, c1 = c + 1 < block_cols ? c + 1 : c;
    int32_t sxy = 0, sxx = 0, syy = 0, n = 0;
    for (uint32_t i = r0; i <= r1; ++i) {
        for (uint32_t j = c0; j <= c1; ++j) {
            const uint32_t b = i * block_cols + j;
            sxy += mxy[b];
            sxx += mxx[b];
            syy += myy[b];
            ++n;
        }
    }
    return {sxy / n, sxx / n, syy / n};
}

// Two smoothing passes over the unit vectors; pass k replaces the vectors of
// blocks whose (blurred, from pass 1 on) coherence is at most its threshold.
bal_status smooth_orientation_vectors(int16_t* cosine, int16_t* sine, const uint8_t* coherence,
                                      uint32_t block_rows, uint32_t block_cols) {
    const uint32_t n = block_rows * block_cols;
    auto* blur_cos = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* blur_sin = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* coh = static_cast<uint8_t*>(std::malloc(n));
    if (lib_memory_check(blur_cos, blur_sin, coh, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    std::memcpy(coh, coherence, n);
    bal_status status = BAL_OK;
    for (int pass = 0; pass < 2 && status == BAL_OK; ++pass) {
        if (pass == 1) status = bal_blur_uint8(coh, block_rows, block_cols, coh);
        if (status == BAL_OK) status = bal_blur_int16(cosine, block_rows, block_cols, blur_cos);
        if (status == BAL_OK) status = bal_blur_int16(sine, block_rows, block_cols, blur_sin);
        if (status != BAL_OK) break;
        for (uint32_t b = 0; b < n; ++b) {
            if (coh[b] <= kSmoothPassCoherence[pass]) {
                cosine[b] = blur_cos[b];
                sine[b] = blur_sin[b];
            }
        }
    }
    std::free(blur_cos);
    std::free(blur_sin);
    std::free(coh);
    return status;
}

bal_status coherence_field(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* coherence,
                           const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                           uint32_t block, uint32_t blur) {
    if (!src || !coherence || !grid_fits(rows, cols, block_rows, block_cols, block) ||
        block_rows == 0 || block_cols == 0)
        return BAL_BAD_ARGUMENT;
    const uint32_t n = block_rows * block_cols;
    auto* count = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* mxy = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    auto* mxx = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    auto* myy = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    if (lib_memory_check(count, mxy, mxx, myy, nullptr, nullptr, nullptr, 4) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_status status = bal_compute_gradients(src, rows, cols, block_mask, block_rows, block_cols,
                                            block, mxy, mxx, myy, count, blur);
    if (status == BAL_OK) {
        const int32_t t = static_cast<int32_t>(energy_threshold(block));
        for (uint32_t b = 0; b < n; ++b)
            coherence[b] = count[b] > t ? bal_block_coherence(mxy[b], mxx[b], myy[b]) : 0;
    }
    std::free(count);
    std::free(mxy);
    std::free(mxx);
    std::free(myy);
    if (status != BAL_OK) return status;
    return bal_blur_uint8(coherence, block_rows, block_cols, coherence);
}

}  // namespace

// (2 Sxy)^2 + (Sxx - Syy)^2 is at most E^2 for exact means; truncated means
// can push the ratio slightly above 1, so the result saturates at 255.
uint8_t bal_block_coherence(int32_t mean_xy, int32_t mean_xx, int32_t mean_yy) {
    const int32_t energy = mean_xx + mean_yy;
    if (energy <= 0) return 0;
    const auto a = static_cast<uint32_t>(2 * mean_xy);
    const auto b = static_cast<uint32_t>(mean_xx - mean_yy);
    const uint32_t len = zr_sqrt_(a * a + b * b);
    const uint32_t coh = (len * 255u) / static_cast<uint32_t>(energy);
    return coh > 255u ? uint8_t{255} : static_cast<uint8_t>(coh);
}

bal_status bal_compute_gradients(const uint8_t* src, uint32_t rows, uint32_t cols,
                                 const uint8_t* block_mask, uint32_t block_rows, uint32_t block_cols,
                                 uint32_t block, int32_t* mean_xy, int32_t* mean_xx, int32_t* mean_yy,
                                 int16_t* count, uint32_t blur) {
    if (!src || !mean_xy || !mean_xx || !mean_yy || !count ||
        !grid_fits(rows, cols, block_rows, block_cols, block))
        return BAL_BAD_ARGUMENT;
    const size_t pixels = static_cast<size_t>(rows) * cols;
    auto* copy = static_cast<uint8_t*>(std::malloc(pixels ? pixels : 1));
    auto* gx = static_cast<int8_t*>(std::malloc(pixels ? pixels : 1));
    auto* gy = static_cast<int8_t*>(std::malloc(pixels ? pixels : 1));
    if (lib_memory_check(copy, gx, gy, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    std::memcpy(copy, src, pixels);
    if (blur == 1) {
        const bal_status status = bal_blur_uint8(copy, rows, cols, copy);
        if (status != BAL_OK) {
            std::free(copy);
            std::free(gx);
            std::free(gy);
            return status;
        }
    }
    bal_sobel_2(copy, rows, cols, gx, gy);
    std::free(copy);

    const uint32_t n = block_rows * block_cols;
    auto* products =
        static_cast<int32_t*>(std::malloc((4 * size_t{block_cols} * block + 1) * sizeof(int32_t)));
    auto* flags = block_mask ? static_cast<uint8_t*>(std::calloc(n ? n : 1, 1)) : nullptr;
    if (lib_memory_check(products, gx, gy, flags, nullptr, nullptr, nullptr, block_mask ? 4 : 3) !=
        lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    if (flags) mark_mask_neighbours(block_mask, block_rows, block_cols, flags);
    accumulate_block_gradients(gx, gy, cols, flags, block_rows, block_cols, block, products,
                               mean_xy, mean_xx, mean_yy, count);
    std::free(products);
    std::free(flags);
    std::free(gx);
    std::free(gy);
    for (uint32_t b = 0; b < n; ++b) {
        const int32_t c = count[b];
        if (c > 0) {
            mean_xy[b] /= c;
            mean_xx[b] /= c;
            mean_yy[b] /= c;
        } else {
            mean_xy[b] = mean_xx[b] = mean_yy[b] = 0;
        }
    }
    return BAL_OK;
}

bal_status bal_ridge_orientations_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                        const uint8_t* block_mask, uint8_t* orientation,
                                        uint8_t* coherence, uint32_t block_rows, uint32_t block_cols,
                                        uint32_t block, int8_t* doubled_angle, uint32_t scale) {
    if (!src || !orientation || !coherence ||
        !grid_fits(rows, cols, block_rows, block_cols, block) || block_rows == 0 || block_cols == 0)
        return BAL_BAD_ARGUMENT;
    const uint32_t n = block_rows * block_cols;
    auto* count = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* cosine = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* sine = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    auto* mxy = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    auto* mxx = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    auto* myy = static_cast<int32_t*>(std::malloc(n * sizeof(int32_t)));
    if (lib_memory_check(count, cosine, sine, mxy, mxx, myy, nullptr, 6) != lib_memory_result::all_present) return BAL_NO_MEMORY;
    bal_status status = bal_compute_gradients(src, rows, cols, block_mask, block_rows, block_cols,
                                            block, mxy, mxx, myy, count, scale);
    if (status == BAL_OK) {
        const int32_t t = static_cast<int32_t>(energy_threshold(block));
        for (uint32_t r = 0; r < block_rows; ++r) {
            for (uint32_t c = 0; c < block_cols; ++c) {
                const uint32_t b = r * block_cols + c;
                if (block_mask && block_mask[b] == 0) {
                    coherence[b] = 0;
                    cosine[b] = sine[b] = 0;
                    if (doubled_angle) doubled_angle[b] = 0;
                    continue;
                }
                BlockMeans m{mxy[b], mxx[b], myy[b]};
                uint8_t coh = 0;
                if (m.xx + m.yy > 0 && count[b] > t) {
                    coh = bal_block_coherence(m.xy, m.xx, m.yy);
                    if (coh < 128) {
                        m = neighbourhood_means(mxy, mxx, myy, block_rows, block_cols, r, c);
                        coh = bal_block_coherence(m.xy, m.xx, m.yy);
                    }
                }
                coherence[b] = coh;
                const int32_t theta = zr_atan2_(2 * m.xy, m.xx - m.yy);
                if (doubled_angle) doubled_angle[b] = static_cast<int8_t>(theta & 0xFF);
                const auto rotated = static_cast<uint8_t>((theta - 128) & 0xFF);
                cosine[b] = static_cast<int16_t>(zr_cos_(rotated));
                sine[b] = static_cast<int16_t>(zr_sin_(rotated));
            }
        }
    }
    std::free(count);
    std::free(mxy);
    std::free(mxx);
    std::free(myy);
    if (status == BAL_OK)
        status = smooth_orientation_vectors(cosine, sine, coherence, block_rows, block_cols);
    if (status == BAL_OK) {
        for (uint32_t b = 0; b < n; ++b) {
            const uint32_t angle = static_cast<uint32_t>(zr_atan2_(sine[b], cosine[b])) & 0xFF;
            orientation[b] = static_cast<uint8_t>((angle >> 1) + 64);
        }
    }
    std::free(cosine);
    std::free(sine);
    if (status != BAL_OK) return status;
    return bal_blur_uint8(coherence, block_rows, block_cols, coherence);
}

bal_status bal_ridge_orientations(const uint8_t* src, uint32_t rows, uint32_t cols,
                                  const uint8_t* block_mask, uint8_t* orientation, uint8_t* coherence,
                                  uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                  int8_t* doubled_angle) {
    return bal_ridge_orientations_scale(src, rows, cols, block_mask, orientation, coherence,
                                        block_rows, block_cols, block, doubled_angle, 1);
}

bal_status bal_ridge_orientation_coherence_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint8_t* coherence, const uint8_t* block_mask,
                                                 uint32_t block_rows, uint32_t block_cols,
                                                 uint32_t block, uint32_t scale) {
    return coherence_field(src, rows, cols, coherence, block_mask, block_rows, block_cols, block,
                           scale);
}

bal_status bal_ridge_orientation_coherence(const uint8_t* src, uint32_t rows, uint32_t cols,
                                           uint8_t* coherence, const uint8_t* block_mask,
                                           uint32_t block_rows, uint32_t block_cols, uint32_t block) {
    return coherence_field(src, rows, cols, coherence, block_mask, block_rows, block_cols, block,
                           1);
}

bal_status bal_scale_up_orientation(const uint8_t* orientation, uint32_t block_rows,
                                    uint32_t block_cols, uint32_t block, uint8_t* dst, uint32_t rows,
                                    uint32_t cols) {
    if (!orientation || !dst || block == 0 || block_rows < 2 || block_cols < 2)
        return BAL_BAD_ARGUMENT;
    const uint32_t n = block_rows * block_cols;
    auto* doubled = static_cast<uint8_t*>(std::malloc(n));
    if (!doubled) return BAL_NO_MEMORY;
    for (uint32_t b = 0; b < n; ++b) doubled[b] = static_cast<uint8_t>(2u * orientation[b] - 128u);
    bal_scale_up_bilinear_cyclic(doubled, block_rows, block_cols, static_cast<int32_t>(block), dst,
                                 static_cast<int32_t>(rows), static_cast<int32_t>(cols));
    std::free(doubled);
    const size_t pixels = static_cast<size_t>(rows) * cols;
    for (size_t i = 0; i < pixels; ++i) dst[i] = static_cast<uint8_t>((dst[i] >> 1) + 64);
    return BAL_OK;
}
