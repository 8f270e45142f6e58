#include "imaging/bal_blur.h"

#include <type_traits>

#include "imaging/bal_status.h"

namespace {

// 32-bit sum of the pixel type's sign: signed sums divide toward zero,
// unsigned ones round down.
template <class T>
using sum32_t = std::conditional_t<std::is_signed_v<T>, int32_t, uint32_t>;

// Calls f(has_above, has_below) with both flags as compile-time constants, so
// that the per-row kernels drop the missing rows without per-pixel tests.
template <class F>
void with_row_neighbours(const void* above, const void* below, F&& f) {
    if (above && below)
        f(std::true_type{}, std::true_type{});
    else if (above)
        f(std::true_type{}, std::false_type{});
    else if (below)
        f(std::false_type{}, std::true_type{});
    else
        f(std::false_type{}, std::false_type{});
}

// ---- box blur ---------------------------------------------------------------

template <class T, bool Up, bool Down>
void box_row(const T* up, const T* mid, const T* down, uint32_t cols, T* out) {
    using S = sum32_t<T>;
    constexpr S kRowsIn = 1 + Up + Down;
    auto column = [&](uint32_t x) {
        S s = S(mid[x]);
        if constexpr (Up) s += S(up[x]);
        if constexpr (Down) s += S(down[x]);
        return s;
    };
    if (cols == 1) {
        out[0] = T(column(0) / kRowsIn);
        return;
    }
    out[0] = T((column(0) + column(1)) / (2 * kRowsIn));
    if constexpr (std::is_same_v<T, uint8_t> && Up && Down) {
        // The most used case, written so that it vectorises: nine bytes sum
        // to at most 2295, which 16-bit lanes hold.
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const uint16_t sum = uint16_t(up[x - 1] + up[x] + up[x + 1] + mid[x - 1] + mid[x] + mid[x + 1] +
                                          down[x - 1] + down[x] + down[x + 1]);
            out[x] = uint8_t(sum / 9);
        }
    } else {
        S left = column(0), centre = column(1);
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const S right = column(x + 1);
            out[x] = T((left + centre + right) / (3 * kRowsIn));
            left = centre;
            centre = right;
        }
    }
    out[cols - 1] = T((column(cols - 2) + column(cols - 1)) / (2 * kRowsIn));
}

template <class T>
void box_row_any(const T* up, const T* mid, const T* down, uint32_t cols, T* out) {
    with_row_neighbours(up, down, [&](auto has_up, auto has_down) {
        box_row<T, decltype(has_up)::value, decltype(has_down)::value>(up, mid, down, cols, out);
    });
}

template <class T>
bal_status box_blur(const T* src, uint32_t rows, uint32_t cols, T* dst) {
    return bal_for_each_row_buffered(src, rows, cols, dst, [cols](const T* up, const T* mid, const T* down, T* out) {
        box_row_any(up, mid, down, cols, out);
    });
}

// ---- binomial blur ------------------------------------------------------------

// Divisors of one output row of the 1-2-1 x 1-2-1 kernel, by column position.
template <class S>
struct RowDivisors {
    S single;  // the only column of a one-column image
    S first;   // column 0
    S inner;   // columns 1 .. cols-2
    S last;    // column cols-1
};

template <class T, bool Up, bool Down>
void binomial_row(const T* up, const T* mid, const T* down, uint32_t cols, const RowDivisors<sum32_t<T>>& div,
                  T* out) {
    using S = sum32_t<T>;
    auto column = [&](uint32_t x) {
        S s = 2 * S(mid[x]);
        if constexpr (Up) s += S(up[x]);
        if constexpr (Down) s += S(down[x]);
        return s;
    };
    if (cols == 1) {
        out[0] = T(2 * column(0) / div.single);
        return;
    }
    S left = column(0), centre = column(1);
    out[0] = T((2 * left + centre) / div.first);
    for (uint32_t x = 1; x + 1 < cols; ++x) {
        const S right = column(x + 1);
        out[x] = T((left + 2 * centre + right) / div.inner);
        left = centre;
        centre = right;
    }
    out[cols - 1] = T((left + 2 * centre) / div.last);
}

template <class T>
void binomial_row_any(const T* up, const T* mid, const T* down, uint32_t cols,
                      const RowDivisors<sum32_t<T>>& div, T* out) {
    with_row_neighbours(up, down, [&](auto has_up, auto has_down) {
        binomial_row<T, decltype(has_up)::value, decltype(has_down)::value>(up, mid, down, cols, div, out);
    });
}

template <class T>
bal_status binomial_blur(const T* src, uint32_t rows, uint32_t cols, T* dst) {
    using S = sum32_t<T>;
    return bal_for_each_row_buffered(src, rows, cols, dst, [cols](const T* up, const T* mid, const T* down, T* out) {
        const S vertical = 2 + (up ? 1 : 0) + (down ? 1 : 0);  // the 1-2-1 weights left in this row
        const RowDivisors<S> div{S(vertical * 2), S(vertical * 3), S(vertical * 4), S(vertical * 3)};
        binomial_row_any(up, mid, down, cols, div, out);
    });
}

// ---- per-pixel weighted mean --------------------------------------------------

// Column sums of w*p are held in Column (wrapping there), added up in Window.
template <class T, class Column, class Window>
void with_weight_row(const T* up, const T* mid, const T* down, const uint8_t* w_up, const uint8_t* w_mid,
                     const uint8_t* w_down, uint32_t cols, T* out) {
    auto weighted = [&](uint32_t x) {
        return Column(Window(w_up[x]) * Window(up[x]) + Window(w_mid[x]) * Window(mid[x]) +
                      Window(w_down[x]) * Window(down[x]));
    };
    auto weights = [&](uint32_t x) { return uint16_t(w_up[x] + w_mid[x] + w_down[x]); };
    auto mean = [](Window sum, uint16_t total) { return total == 0 ? T(0) : T(sum / Window(total)); };
    if (cols == 1) {
        out[0] = mean(Window(weighted(0)), weights(0));
        return;
    }
    Column left = weighted(0), centre = weighted(1);
    uint16_t w_left = weights(0), w_centre = weights(1);
    out[0] = mean(Window(left) + Window(centre), uint16_t(w_left + w_centre));
    for (uint32_t x = 1; x + 1 < cols; ++x) {
        const Column right = weighted(x + 1);
        const uint16_t w_right = weights(x + 1);
        out[x] = mean(Window(left) + Window(centre) + Window(right), uint16_t(w_left + w_centre + w_right));
        left = centre;
        centre = right;
        w_left = w_centre;
        w_centre = w_right;
    }
    out[cols - 1] = mean(Window(left) + Window(centre), uint16_t(w_left + w_centre));
}

template <class T, class Column, class Window>
bal_status with_weight_blur(const T* src, uint32_t rows, uint32_t cols, const uint8_t* weight, T* dst) {
    uint32_t y = 0;
    return bal_for_each_row_buffered(src, rows, cols, dst, [&](const T* up, const T* mid, const T* down, T* out) {
        if (up && down) {
            const uint8_t* w_mid = weight + static_cast<size_t>(y) * cols;
            with_weight_row<T, Column, Window>(up, mid, down, w_mid - cols, w_mid, w_mid + cols, cols, out);
        } else {
            box_row_any(up, mid, down, cols, out);
        }
        ++y;
    });
}

// ---- masked mean at the fingerprint edge ----------------------------------------

template <class T, class S>
bal_status fingerprint_edge_blur(const T* src, const uint8_t* mask, uint32_t rows, uint32_t cols, T* dst) {
    if (rows == 0 || cols == 0) return BAL_OK;
    const size_t n = static_cast<size_t>(rows) * cols;
    if (n > SIZE_MAX / sizeof(T)) return BAL_NO_MEMORY;  // no buffer of that size can exist
    T* result = static_cast<T*>(std::malloc(n * sizeof(T)));
    if (lib_memory_check(result, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    std::memcpy(result, src, n * sizeof(T));
    for (uint32_t y = 0; y < rows; ++y) {
        const uint32_t y0 = y > 0 ? y - 1 : 0, y1 = y + 1 < rows ? y + 1 : y;
        for (uint32_t x = 0; x < cols; ++x) {
            const uint32_t x0 = x > 0 ? x - 1 : 0, x1 = x + 1 < cols ? x + 1 : x;
            S sum = 0;
            uint32_t inside = 0;
            for (uint32_t yy = y0; yy <= y1; ++yy)
                for (uint32_t xx = x0; xx <= x1; ++xx) {
                    const size_t i = static_cast<size_t>(yy) * cols + xx;
                    if (mask[i]) {
                        sum = S(sum + S(src[i]));
                        ++inside;
                    }
                }
            // A mask pixel with its full window in the image and in the mask keeps its value.
            if (inside == 9 || inside == 0) continue;
            result[static_cast<size_t>(y) * cols + x] = T(sum / S(inside));
        }
    }
    std::memcpy(dst, result, n * sizeof(T));
    std::free(result);
    return BAL_OK;
}

}  // namespace

bal_status bal_blur_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return box_blur(src, rows, cols, dst);
}
bal_status bal_blur_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst) {
    return box_blur(src, rows, cols, dst);
}
bal_status bal_blur_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst) {
    return box_blur(src, rows, cols, dst);
}
bal_status bal_blur_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst) {
    return box_blur(src, rows, cols, dst);
}
bal_status bal_blur_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst) {
    return box_blur(src, rows, cols, dst);
}

bal_status bal_blur_weighted_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return binomial_blur(src, rows, cols, dst);
}
bal_status bal_blur_weighted_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst) {
    return binomial_blur(src, rows, cols, dst);
}
bal_status bal_blur_weighted_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst) {
    return binomial_blur(src, rows, cols, dst);
}
bal_status bal_blur_weighted_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst) {
    return binomial_blur(src, rows, cols, dst);
}
bal_status bal_blur_weighted_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst) {
    return binomial_blur(src, rows, cols, dst);
}

bal_status bal_blur_weighted_int8_upsample(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst) {
    const bool rows_odd = rows & 1, cols_odd = cols & 1;
    const int32_t last_col = cols_odd ? 4 : 2;
    const int32_t last_row = rows_odd ? 4 : 2;
    const int32_t last_pixel = rows_odd && cols_odd ? 4 : (rows_odd || cols_odd ? 2 : 1);
    const RowDivisors<int32_t> upper{last_col, 4, 4, last_col};
    const RowDivisors<int32_t> bottom{last_pixel, last_row, last_row, last_pixel};
    return bal_for_each_row_buffered(src, rows, cols, dst,
                                     [&](const int8_t* up, const int8_t* mid, const int8_t* down, int8_t* out) {
                                         binomial_row_any(up, mid, down, cols, down ? upper : bottom, out);
                                     });
}

bal_status bal_blur_with_weight_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                      uint8_t* dst) {
    return with_weight_blur<uint8_t, uint16_t, uint32_t>(src, rows, cols, weight, dst);
}
bal_status bal_blur_with_weight_int8(const int8_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                     int8_t* dst) {
    return with_weight_blur<int8_t, int16_t, int32_t>(src, rows, cols, weight, dst);
}
bal_status bal_blur_with_weight_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                       uint16_t* dst) {
    return with_weight_blur<uint16_t, uint32_t, uint32_t>(src, rows, cols, weight, dst);
}
bal_status bal_blur_with_weight_int16(const int16_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                      int16_t* dst) {
    return with_weight_blur<int16_t, int32_t, int32_t>(src, rows, cols, weight, dst);
}
bal_status bal_blur_with_weight_int32(const int32_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                      int32_t* dst) {
    return with_weight_blur<int32_t, int64_t, int64_t>(src, rows, cols, weight, dst);
}
bal_status bal_blur_with_weight_uint32(const uint32_t* src, uint32_t rows, uint32_t cols, const uint8_t* weight,
                                       uint32_t* dst) {
    return with_weight_blur<uint32_t, uint64_t, uint64_t>(src, rows, cols, weight, dst);
}

bal_status bal_blur_fingerprint_edge_uint8(const uint8_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                           uint8_t* dst) {
    return fingerprint_edge_blur<uint8_t, uint16_t>(src, mask, rows, cols, dst);
}
bal_status bal_blur_fingerprint_edge_int8(const int8_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                          int8_t* dst) {
    return fingerprint_edge_blur<int8_t, int16_t>(src, mask, rows, cols, dst);
}
bal_status bal_blur_fingerprint_edge_uint16(const uint16_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                            uint16_t* dst) {
    return fingerprint_edge_blur<uint16_t, uint32_t>(src, mask, rows, cols, dst);
}
bal_status bal_blur_fingerprint_edge_int16(const int16_t* src, const uint8_t* mask, uint32_t rows, uint32_t cols,
                                           int16_t* dst) {
    return fingerprint_edge_blur<int16_t, int32_t>(src, mask, rows, cols, dst);
}

bal_status bal_blur_edge_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t margin, uint8_t fill,
                               uint8_t* dst) {
    if (margin == 0) return BAL_OK;
    // 64-bit bounds: a margin of half the width or more puts every column in
    // the frame instead of wrapping the skip over the interior.
    auto in_band = [margin](uint32_t i, uint32_t n) { return i < margin || uint64_t(i) + margin >= n; };
    uint32_t y = 0;
    return bal_for_each_row_buffered(src, rows, cols, dst, [&](const uint8_t* up, const uint8_t* mid,
                                                               const uint8_t* down, uint8_t* out) {
        const bool whole_row = in_band(y++, rows);
        const uint8_t* window_rows[3] = {up, mid, down};
        for (uint32_t x = 0; x < cols; ++x) {
            if (!whole_row && !in_band(x, cols)) {
                x = cols - margin - 1;  // jump over the interior (cols > 2 * margin here)
                continue;
            }
            uint32_t sum = 0, missing = 0;
            for (const uint8_t* r : window_rows) {
                if (!r) {
                    missing += 3;
                    continue;
                }
                sum += r[x];
                if (x > 0) sum += r[x - 1]; else ++missing;
                if (x + 1 < cols) sum += r[x + 1]; else ++missing;
            }
            out[x] = uint8_t((sum + missing * fill) / 9);
        }
    });
}

void bal_blur_selective_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t radius, uint8_t threshold,
                              uint8_t* dst) {
    const uint64_t padded_rows = uint64_t(rows) + 2u * radius;
    const uint64_t padded_cols = uint64_t(cols) + 2u * radius;
    if (padded_rows > UINT32_MAX || padded_cols > UINT32_MAX || padded_rows * padded_cols > UINT32_MAX) return;
    const size_t stride = static_cast<size_t>(padded_cols);
    uint8_t* padded = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(padded_rows * padded_cols)));
    if (!padded) return;
    std::memset(padded, 255, static_cast<size_t>(padded_rows * padded_cols));
    for (uint32_t y = 0; y < rows; ++y)
        std::memcpy(padded + (y + size_t(radius)) * stride + radius, src + size_t(y) * cols, cols);
    const uint32_t side = 2u * radius + 1;
    for (uint32_t y = 0; y < rows; ++y) {
        for (uint32_t x = 0; x < cols; ++x) {
            const uint8_t* window = padded + size_t(y) * stride + x;  // top-left of the window
            const int centre = window[size_t(radius) * stride + radius];
            uint32_t sum = 0, count = 0;
            for (uint32_t wy = 0; wy < side; ++wy) {
                const uint8_t* line = window + wy * stride;
                for (uint32_t wx = 0; wx < side; ++wx) {
                    const int v = line[wx];
                    const int diff = v > centre ? v - centre : centre - v;
                    if (diff <= threshold) {
                        sum += uint32_t(v);
                        ++count;
                    }
                }
            }
            dst[size_t(y) * cols + x] = uint8_t(sum / count);
        }
    }
    std::free(padded);
}

bal_status bal_blur_vertically_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t row_select,
                                     uint8_t* dst) {
    uint32_t y = 0;
    return bal_for_each_row_buffered(src, rows, cols, dst, [&](const uint8_t* up, const uint8_t* mid,
                                                               const uint8_t* down, uint8_t* out) {
        const bool selected = (row_select >> (y++ & 1)) & 1;
        for (uint32_t x = 0; x < cols; ++x) {
            uint32_t v = mid[x];
            if (selected) {
                if (up && down)
                    v = (up[x] + 2u * mid[x] + down[x]) / 4;
                else if (down)
                    v = (mid[x] + down[x]) / 2u;
                else if (up)
                    v = (up[x] + mid[x]) / 2u;
            }
            out[x] = uint8_t(v);
        }
    });
}
