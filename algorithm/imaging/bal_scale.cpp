#include "imaging/bal_scale.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

// ---------------------------------------------------------------------------
// Reduction by two

// Floor mean of each 2 x 2 block; rows and cols are the source sizes.
void mean_2x2_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    const uint32_t out_rows = rows >> 1;
    const uint32_t out_cols = cols >> 1;
    for (uint32_t i = 0; i < out_rows; ++i) {
        const uint8_t* top = src + static_cast<size_t>(2 * i) * cols;
        const uint8_t* bottom = top + cols;
        uint8_t* out = dst + static_cast<size_t>(i) * out_cols;
        for (uint32_t j = 0; j < out_cols; ++j) {
            const uint32_t sum = static_cast<uint32_t>(top[2 * j]) + top[2 * j + 1] +
                                 bottom[2 * j] + bottom[2 * j + 1];
            out[j] = static_cast<uint8_t>(sum >> 2);
        }
    }
}

// Division of a smoothed sum by its kernel weight: a floor for unsigned
// elements, truncation toward zero for signed ones.
template <typename T>
inline int32_t divide_weight(int32_t sum, int32_t weight) {
    if constexpr (std::is_signed_v<T>) {
        return sum / weight;
    } else {
        return static_cast<int32_t>(static_cast<uint32_t>(sum) / static_cast<uint32_t>(weight));
    }
}

// Horizontal 1-2-1 sums of one row; the ends drop the missing neighbour.
template <typename T>
void horizontal_binomial(const T* row, uint32_t cols, int32_t* out) {
    if (cols == 1) {
        out[0] = 2 * static_cast<int32_t>(row[0]);
        return;
    }
    out[0] = 2 * static_cast<int32_t>(row[0]) + row[1];
    for (uint32_t c = 1; c + 1 < cols; ++c) {
        out[c] = static_cast<int32_t>(row[c - 1]) + 2 * static_cast<int32_t>(row[c]) + row[c + 1];
    }
    out[cols - 1] = static_cast<int32_t>(row[cols - 2]) + 2 * static_cast<int32_t>(row[cols - 1]);
}

// Smoothed pixel (r, c) from the horizontal sums of rows r-1 (or none), r and
// r+1 (or none); the weight is the product of the horizontal and vertical
// weights that remain (16 inside, 12 on an edge, 9 in a corner).
template <typename T>
inline int32_t smoothed(const int32_t* above, const int32_t* here, const int32_t* below,
                        uint32_t c, int32_t weight_h) {
    int32_t sum = 2 * here[c];
    int32_t weight_v = 2;
    if (above != nullptr) {
        sum += above[c];
        ++weight_v;
    }
    if (below != nullptr) {
        sum += below[c];
        ++weight_v;
    }
    return divide_weight<T>(sum, weight_h * weight_v);
}

// The smoothing path: 3 x 3 binomial smoothing cut at the border, then the
// mean of each 2 x 2 block of smoothed pixels. Keeps the horizontal sums of
// the four source rows 2I-1 .. 2I+2 that output row I needs.
template <typename T>
bal_status scale_down_smoothed(const T* src, uint32_t rows, uint32_t cols, T* dst) {
    const uint32_t out_rows = rows >> 1;
    const uint32_t out_cols = cols >> 1;
    if (out_rows == 0 || out_cols == 0) {
        return BAL_OK;
    }
    const size_t bytes = static_cast<size_t>(cols) * sizeof(int32_t);
    int32_t* sums[4] = {static_cast<int32_t*>(std::malloc(bytes)),
                        static_cast<int32_t*>(std::malloc(bytes)),
                        static_cast<int32_t*>(std::malloc(bytes)),
                        static_cast<int32_t*>(std::malloc(bytes))};
    if (lib_memory_check(sums[0], sums[1], sums[2], sums[3], nullptr, nullptr, nullptr, 4) != lib_memory_result::all_present) {
        return BAL_NO_MEMORY;
    }
    // sums[0..3] hold source rows 2I-1, 2I, 2I+1, 2I+2.
    horizontal_binomial(src, cols, sums[1]);
    horizontal_binomial(src + cols, cols, sums[2]);
    for (uint32_t i = 0; i < out_rows; ++i) {
        const uint32_t r0 = 2 * i;
        if (r0 + 2 < rows) {
            horizontal_binomial(src + static_cast<size_t>(r0 + 2) * cols, cols, sums[3]);
        }
        const int32_t* above = r0 > 0 ? sums[0] : nullptr;
        const int32_t* below = r0 + 2 < rows ? sums[3] : nullptr;
        T* out = dst + static_cast<size_t>(i) * out_cols;
        for (uint32_t j = 0; j < out_cols; ++j) {
            const uint32_t c0 = 2 * j;
            const int32_t w0 = c0 > 0 ? 4 : 3;
            const int32_t w1 = c0 + 2 < cols ? 4 : 3;
            const int32_t sum = smoothed<T>(above, sums[1], sums[2], c0, w0) +
                                smoothed<T>(above, sums[1], sums[2], c0 + 1, w1) +
                                smoothed<T>(sums[1], sums[2], below, c0, w0) +
                                smoothed<T>(sums[1], sums[2], below, c0 + 1, w1);
            out[j] = static_cast<T>(divide_weight<T>(sum, 4));
        }
        // Rows 2I+1 and 2I+2 become rows 2I'-1 and 2I' of the next output row.
        int32_t* old0 = sums[0];
        int32_t* old1 = sums[1];
        sums[0] = sums[2];
        sums[1] = sums[3];
        sums[2] = old0;
        sums[3] = old1;
        if (r0 + 3 < rows) {
            horizontal_binomial(src + static_cast<size_t>(r0 + 3) * cols, cols, sums[2]);
        }
    }
    for (int32_t* buffer : sums) {
        std::free(buffer);
    }
    return BAL_OK;
}

// ---------------------------------------------------------------------------
// General resize

// Inputs up to this width blend the two source rows of an output row into a
// stack buffer first; wider ones are sampled pixel by pixel.
constexpr uint32_t kBlendRowMax = 1024;

// 16.16 bilinear sampling of an R x C input into dst, with 8-bit weights:
// dst = (a (256-ty)(256-tx) + b (256-ty) tx + c ty (256-tx) + d ty tx) >> 16,
// computed as the vertical blend v = top (256-ty) + bottom ty of each column
// followed by (v0 (256-tx) + v1 tx) >> 16, which is the same sum.
void bilinear_resample(const uint8_t* in, uint32_t in_rows, uint32_t in_cols, uint8_t* dst,
                       uint32_t dst_rows, uint32_t dst_cols) {
    const uint32_t step_r = ((in_rows - 1) << 16) / dst_rows;
    const uint32_t step_c = ((in_cols - 1) << 16) / dst_cols;
    // The sample never reaches the last row or column (q < (R - 1) << 16), so
    // the second neighbour exists whenever the input has two of them; a
    // single row or column is its own neighbour (its weight is then 0).
    const size_t next_row = in_rows > 1 ? in_cols : 0;
    const uint32_t next_col = in_cols > 1 ? 1 : 0;
    uint16_t blend[kBlendRowMax];
    uint32_t q = step_r >> 1;
    for (uint32_t i = 0; i < dst_rows; ++i, q += step_r) {
        const uint8_t* row0 = in + static_cast<size_t>(q >> 16) * in_cols;
        const uint8_t* row1 = row0 + next_row;
        const uint32_t ty = (q & 0xFFFFu) >> 8;
        uint8_t* out = dst + static_cast<size_t>(i) * dst_cols;
        uint32_t p = step_c >> 1;
        if (in_cols <= kBlendRowMax) {
            for (uint32_t x = 0; x < in_cols; ++x) {
                blend[x] = static_cast<uint16_t>(row0[x] * (256 - ty) + row1[x] * ty);
            }
            for (uint32_t j = 0; j < dst_cols; ++j, p += step_c) {
                const uint32_t x0 = p >> 16;
                const uint32_t tx = (p & 0xFFFFu) >> 8;
                out[j] = static_cast<uint8_t>(
                    (blend[x0] * (256 - tx) + blend[x0 + next_col] * tx) >> 16);
            }
            continue;
        }
        for (uint32_t j = 0; j < dst_cols; ++j, p += step_c) {
            const uint32_t x0 = p >> 16;
            const uint32_t tx = (p & 0xFFFFu) >> 8;
            const uint32_t top = row0[x0] * (256 - tx) + row0[x0 + next_col] * tx;
            const uint32_t bottom = row1[x0] * (256 - tx) + row1[x0 + next_col] * tx;
            out[j] = static_cast<uint8_t>((top * (256 - ty) + bottom * ty) >> 16);
        }
    }
}

// ---------------------------------------------------------------------------
// Block field to pixels

// Fills the margins around the interpolated area rows [h, area_end_r) and
// columns [h, area_end_c): left and right of each area row its first and last
// area pixel, above and below the area copies of its first and last row.
template <typename T>
void replicate_margins(T* dst, int32_t dst_rows, int32_t dst_cols, int32_t h, int32_t area_end_r,
                       int32_t area_end_c) {
    const int32_t first_r = h < dst_rows ? h : dst_rows;
    const int32_t last_r = area_end_r < dst_rows ? area_end_r : dst_rows;
    const int32_t first_c = h < dst_cols ? h : dst_cols;
    const int32_t last_c = area_end_c < dst_cols ? area_end_c : dst_cols;
    if (first_r >= last_r || first_c >= last_c) {
        return;
    }
    for (int32_t r = first_r; r < last_r; ++r) {
        T* row = dst + static_cast<size_t>(r) * dst_cols;
        for (int32_t c = 0; c < first_c; ++c) {
            row[c] = row[first_c];
        }
        for (int32_t c = last_c; c < dst_cols; ++c) {
            row[c] = row[last_c - 1];
        }
    }
    const size_t row_bytes = static_cast<size_t>(dst_cols) * sizeof(T);
    const T* top = dst + static_cast<size_t>(first_r) * dst_cols;
    for (int32_t r = 0; r < first_r; ++r) {
        std::memcpy(dst + static_cast<size_t>(r) * dst_cols, top, row_bytes);
    }
    const T* bottom = dst + static_cast<size_t>(last_r - 1) * dst_cols;
    for (int32_t r = last_r; r < dst_rows; ++r) {
        std::memcpy(dst + static_cast<size_t>(r) * dst_cols, bottom, row_bytes);
    }
}

// Visits the squares between four neighbouring field values: square (r, c)
// starts at pixel (h + r s, h + c s) and is cut to dst. fill(r, c, y0, x0,
// t_end, u_end) writes t_end columns by u_end rows; the margins outside every
// square then repeat the nearest filled row or column.
template <typename T, typename Fill>
void scale_up_squares(uint32_t rows, uint32_t cols, int32_t s, T* dst, int32_t dst_rows,
                      int32_t dst_cols, Fill fill) {
    if (rows < 2 || cols < 2 || s <= 0 || dst_rows <= 0 || dst_cols <= 0) {
        return;
    }
    const int32_t h = s >> 1;
    for (uint32_t r = 0; r + 1 < rows; ++r) {
        const int32_t y0 = h + static_cast<int32_t>(r) * s;
        const int32_t u_end = y0 + s <= dst_rows ? s : dst_rows - y0;
        if (u_end <= 0) {
            break;
        }
        for (uint32_t c = 0; c + 1 < cols; ++c) {
            const int32_t x0 = h + static_cast<int32_t>(c) * s;
            const int32_t t_end = x0 + s <= dst_cols ? s : dst_cols - x0;
            if (t_end <= 0) {
                break;
            }
            fill(r, c, y0, x0, t_end, u_end);
        }
    }
    replicate_margins(dst, dst_rows, dst_cols, h, h + static_cast<int32_t>(rows - 1) * s,
                      h + static_cast<int32_t>(cols - 1) * s);
}

// Bilinear up-scaling of a field of a linear element type. Each square is
// filled column by column, the numerator growing by (bottom - top) per row.
template <typename T>
void scale_up_linear(const T* field, uint32_t rows, uint32_t cols, int32_t s, T* dst,
                     int32_t dst_rows, int32_t dst_cols) {
    const int32_t s2 = s * s;
    scale_up_squares(rows, cols, s, dst, dst_rows, dst_cols,
                     [&](uint32_t r, uint32_t c, int32_t y0, int32_t x0, int32_t t_end,
                         int32_t u_end) {
                         const T* frow0 = field + static_cast<size_t>(r) * cols;
                         const T* frow1 = frow0 + cols;
                         const int32_t a = frow0[c], b = frow0[c + 1];
                         const int32_t cc = frow1[c], d = frow1[c + 1];
                         for (int32_t t = 0; t < t_end; ++t) {
                             const int32_t top = (s - t) * a + t * b;
                             const int32_t bottom = (s - t) * cc + t * d;
                             const int32_t delta = bottom - top;
                             int32_t numerator = s * top;
                             T* out = dst + static_cast<size_t>(y0) * dst_cols + x0 + t;
                             for (int32_t u = 0; u < u_end; ++u, numerator += delta) {
                                 *out = static_cast<T>(numerator / s2);
                                 out += dst_cols;
                             }
                         }
                     });
}

// Running quotient and remainder by s * s of one band row's numerators, with
// their per-row steps; four arrays of the band width.
struct BandRow {
    int32_t* quotient;
    int32_t* remainder;
    int32_t* step_quotient;
    int32_t* step_remainder;
};

// Sets up the band of field rows r and r + 1 over the interpolated columns
// [h, x_end): pixel x of square c at offset t starts at numerator s * top and
// grows by bottom - top per row, split into whole steps of s * s and a
// remainder in [0, s * s) (floor division).
void start_band(const uint8_t* field, uint32_t r, uint32_t cols, int32_t s, int32_t h, int32_t x_end,
                const BandRow& band) {
    const int32_t s2 = s * s;
    const uint8_t* frow0 = field + static_cast<size_t>(r) * cols;
    const uint8_t* frow1 = frow0 + cols;
    int32_t x = h;
    for (uint32_t c = 0; x < x_end; ++c) {
        const int32_t a = frow0[c], b = frow0[c + 1];
        const int32_t cc = frow1[c], d = frow1[c + 1];
        for (int32_t t = 0; t < s && x < x_end; ++t, ++x) {
            const int32_t top = (s - t) * a + t * b;
            const int32_t delta = (s - t) * cc + t * d - top;
            int32_t dq = delta / s2, dr = delta % s2;
            if (dr < 0) {
                dr += s2;
                --dq;
            }
            band.quotient[x - h] = top / s;  // s * top / s2, top >= 0
            band.remainder[x - h] = (top % s) * s;
            band.step_quotient[x - h] = dq;
            band.step_remainder[x - h] = dr;
        }
    }
}

// Byte field to pixels with the quotients of scale_up_linear, formed row by
// row from running quotients and remainders instead of one division per
// pixel. Every numerator of a byte field is >= 0, so its floor quotient is
// the truncated one. Returns false, having written nothing, when the band
// arrays cannot be had.
bool scale_up_linear_rows_uint8(const uint8_t* field, uint32_t rows, uint32_t cols, int32_t s, uint8_t* dst,
                                int32_t dst_rows, int32_t dst_cols) {
    if (rows < 2 || cols < 2 || s <= 0 || dst_rows <= 0 || dst_cols <= 0) return true;
    const int32_t h = s >> 1;
    const int32_t area_end_r = h + static_cast<int32_t>(rows - 1) * s;
    const int32_t area_end_c = h + static_cast<int32_t>(cols - 1) * s;
    const int32_t x_end = area_end_c < dst_cols ? area_end_c : dst_cols;
    const int32_t y_end = area_end_r < dst_rows ? area_end_r : dst_rows;
    if (x_end > h && y_end > h) {
        const size_t width = static_cast<size_t>(x_end - h);
        auto* arrays = static_cast<int32_t*>(std::malloc(4 * width * sizeof(int32_t)));
        if (arrays == nullptr) return false;
        const BandRow band{arrays, arrays + width, arrays + 2 * width, arrays + 3 * width};
        const int32_t s2 = s * s;
        for (uint32_t r = 0; r + 1 < rows; ++r) {
            const int32_t y0 = h + static_cast<int32_t>(r) * s;
            if (y0 >= y_end) break;
            start_band(field, r, cols, s, h, x_end, band);
            const int32_t band_end = y0 + s < y_end ? y0 + s : y_end;
            for (int32_t y = y0; y < band_end; ++y) {
                uint8_t* out = dst + static_cast<size_t>(y) * dst_cols + h;
                for (size_t i = 0; i < width; ++i) {
                    out[i] = static_cast<uint8_t>(band.quotient[i]);
                    const int32_t rem = band.remainder[i] + band.step_remainder[i];
                    const int32_t carry = rem >= s2 ? 1 : 0;
                    band.remainder[i] = rem - carry * s2;
                    band.quotient[i] += band.step_quotient[i] + carry;
                }
            }
        }
        std::free(arrays);
    }
    replicate_margins(dst, dst_rows, dst_cols, h, area_end_r, area_end_c);
    return true;
}

// Step k of s from angle v towards angle w the shorter way around the circle
// (through the wrap at a difference of exactly 128).
inline uint8_t cyclic_step(uint32_t v, uint32_t w, uint32_t k, uint32_t s) {
    const uint32_t n = v > w ? v - w : w - v;
    uint32_t moved;
    if (n <= 127) {
        const uint32_t d = (k * n) / s;
        moved = w > v ? v + d : v - d;
    } else {
        const uint32_t d = (k * (256 - n)) / s;
        moved = w > v ? v - d : v + d;
    }
    return static_cast<uint8_t>(moved & 0xFFu);
}

}  // namespace

void bal_scale_bilinear(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst,
                        uint32_t dst_rows, uint32_t dst_cols) {
    if (rows == 0 || cols == 0 || dst_rows == 0 || dst_cols == 0) {
        return;
    }
    if (dst_rows == rows && dst_cols == cols) {
        std::memcpy(dst, src, static_cast<size_t>(rows) * cols);
        return;
    }
    if (rows == 2 * dst_rows && cols == 2 * dst_cols) {
        mean_2x2_uint8(src, rows, cols, dst);
        return;
    }
    const uint8_t* in = src;
    uint8_t* owned = nullptr;
    uint32_t in_rows = rows;
    uint32_t in_cols = cols;
    // Halve while both sides stay above twice the target. Should a halving
    // fail for want of memory, the last input at hand is interpolated.
    while (in_rows > 2 * dst_rows && in_cols > 2 * dst_cols) {
        const uint32_t half_rows = in_rows >> 1;
        const uint32_t half_cols = in_cols >> 1;
        auto* half = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(half_rows) * half_cols));
        if (half == nullptr) {
            break;
        }
        if (bal_scale_down_bilinear_2_uint8(in, in_rows, in_cols, half) != BAL_OK) {
            std::free(half);
            break;
        }
        std::free(owned);
        owned = half;
        in = half;
        in_rows = half_rows;
        in_cols = half_cols;
        if (in_rows <= 2 * dst_rows || in_cols <= 2 * dst_cols) {
            break;
        }
    }
    bilinear_resample(in, in_rows, in_cols, dst, dst_rows, dst_cols);
    std::free(owned);
}

bal_status bal_scale_down_bilinear_2_uint8(const uint8_t* src, uint32_t rows, uint32_t cols,
                                           uint8_t* dst) {
    if ((rows & 1) == 0 && (cols & 1) == 0) {
        mean_2x2_uint8(src, rows, cols, dst);
        return BAL_OK;
    }
    return scale_down_smoothed(src, rows, cols, dst);
}

bal_status bal_scale_down_bilinear_2_int8(const int8_t* src, uint32_t rows, uint32_t cols,
                                          int8_t* dst) {
    return scale_down_smoothed(src, rows, cols, dst);
}

bal_status bal_scale_down_bilinear_2_uint16(const uint16_t* src, uint32_t rows, uint32_t cols,
                                            uint16_t* dst) {
    return scale_down_smoothed(src, rows, cols, dst);
}

bal_status bal_scale_down_bilinear_2_int16(const int16_t* src, uint32_t rows, uint32_t cols,
                                           int16_t* dst) {
    return scale_down_smoothed(src, rows, cols, dst);
}

void bal_scale_up_bilinear_uint8(const uint8_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                 uint8_t* dst, int32_t dst_rows, int32_t dst_cols) {
    if (!scale_up_linear_rows_uint8(field, rows, cols, block, dst, dst_rows, dst_cols))
        scale_up_linear(field, rows, cols, block, dst, dst_rows, dst_cols);
}

void bal_scale_up_bilinear_uint8_reference(const uint8_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                           uint8_t* dst, int32_t dst_rows, int32_t dst_cols) {
    scale_up_linear(field, rows, cols, block, dst, dst_rows, dst_cols);
}

void bal_scale_up_bilinear_int8(const int8_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                int8_t* dst, int32_t dst_rows, int32_t dst_cols) {
    scale_up_linear(field, rows, cols, block, dst, dst_rows, dst_cols);
}

void bal_scale_up_bilinear_uint16(const uint16_t* field, uint32_t rows, uint32_t cols,
                                  int32_t block, uint16_t* dst, int32_t dst_rows,
                                  int32_t dst_cols) {
    scale_up_linear(field, rows, cols, block, dst, dst_rows, dst_cols);
}

void bal_scale_up_bilinear_int16(const int16_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                 int16_t* dst, int32_t dst_rows, int32_t dst_cols) {
    scale_up_linear(field, rows, cols, block, dst, dst_rows, dst_cols);
}

void bal_scale_up_bilinear_cyclic(const uint8_t* field, uint32_t rows, uint32_t cols,
                                  int32_t block, uint8_t* dst, int32_t dst_rows,
                                  int32_t dst_cols) {
    const int32_t s = block;
    scale_up_squares(rows, cols, s, dst, dst_rows, dst_cols,
                     [&](uint32_t r, uint32_t c, int32_t y0, int32_t x0, int32_t t_end,
                         int32_t u_end) {
                         const uint8_t* frow0 = field + static_cast<size_t>(r) * cols;
                         const uint8_t* frow1 = frow0 + cols;
                         for (int32_t t = 0; t < t_end; ++t) {
                             const uint8_t top = cyclic_step(frow0[c], frow0[c + 1], t, s);
                             const uint8_t bottom = cyclic_step(frow1[c], frow1[c + 1], t, s);
                             uint8_t* out = dst + static_cast<size_t>(y0) * dst_cols + x0 + t;
                             for (int32_t u = 0; u < u_end; ++u) {
                                 *out = cyclic_step(top, bottom, u, s);
                                 out += dst_cols;
                             }
                         }
                     });
}

bal_status bal_scale_up_bilinear_pad_uint8(const uint8_t* field, uint32_t rows, uint32_t cols,
                                           uint32_t block, uint8_t pad, uint8_t* dst,
                                           uint32_t dst_rows, uint32_t dst_cols) {
    const uint32_t frame_rows = rows + 2;
    const uint32_t frame_cols = cols + 2;
    const uint32_t work_rows = dst_rows + 2 * block;
    const uint32_t work_cols = dst_cols + 2 * block;
    auto* frame = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(frame_rows) * frame_cols));
    auto* work = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(work_rows) * work_cols));
    if (lib_memory_check(frame, work, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present) {
        return BAL_NO_MEMORY;
    }
    std::memset(frame, pad, static_cast<size_t>(frame_rows) * frame_cols);
    for (uint32_t r = 0; r < rows; ++r) {
        std::memcpy(frame + static_cast<size_t>(r + 1) * frame_cols + 1,
                    field + static_cast<size_t>(r) * cols, cols);
    }
    bal_scale_up_bilinear_uint8(frame, frame_rows, frame_cols, static_cast<int32_t>(block), work,
                                static_cast<int32_t>(work_rows), static_cast<int32_t>(work_cols));
    for (uint32_t r = 0; r < dst_rows; ++r) {
        std::memcpy(dst + static_cast<size_t>(r) * dst_cols,
                    work + static_cast<size_t>(r + block) * work_cols + block, dst_cols);
    }
    std::free(frame);
    std::free(work);
    return BAL_OK;
}

void bal_scale_nearest_neighbour_uint8(const uint8_t* src, uint32_t rows, uint32_t cols,
                                       uint8_t* dst, uint32_t dst_rows, uint32_t dst_cols) {
    for (uint32_t i = 0; i < dst_rows; ++i) {
        const uint8_t* in = src + static_cast<size_t>((i * rows) / dst_rows) * cols;
        uint8_t* out = dst + static_cast<size_t>(i) * dst_cols;
        for (uint32_t j = 0; j < dst_cols; ++j) {
            out[j] = in[(j * cols) / dst_cols];
        }
    }
}

void bal_scale_blocks_nearest_neighbour(const uint8_t* src, uint32_t rows, uint32_t cols,
                                        uint32_t den, uint8_t* dst, uint32_t dst_rows,
                                        uint32_t dst_cols, uint32_t num) {
    if (den == 0) {
        return;
    }
    for (uint32_t i = 0; i < dst_rows; ++i) {
        const uint32_t sr = (i * num) / den;
        uint8_t* out = dst + static_cast<size_t>(i) * dst_cols;
        for (uint32_t j = 0; j < dst_cols; ++j) {
            const uint32_t sc = (j * num) / den;
            out[j] = (sr < rows && sc < cols) ? src[static_cast<size_t>(sr) * cols + sc] : 0;
        }
    }
}

uint8_t* bal_scale_up_blocks(const uint8_t* field, int32_t rows, uint32_t cols, uint32_t block,
                             uint32_t* out_rows, uint32_t* out_cols) {
    if (rows < 0) {
        return nullptr;
    }
    const uint32_t height = static_cast<uint32_t>(rows) * block;
    const uint32_t width = cols * block;
    const size_t bytes = static_cast<size_t>(height) * width;
    auto* out = static_cast<uint8_t*>(std::malloc(bytes > 0 ? bytes : 1));
    if (out == nullptr) {
        return nullptr;
    }
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* in = field + static_cast<size_t>(i / block) * cols;
        uint8_t* row = out + static_cast<size_t>(i) * width;
        for (uint32_t j = 0; j < width; ++j) {
            row[j] = in[j / block];
        }
    }
    if (out_rows != nullptr) {
        *out_rows = height;
    }
    if (out_cols != nullptr) {
        *out_cols = width;
    }
    return out;
}
