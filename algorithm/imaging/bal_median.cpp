#include "imaging/bal_median.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "imaging/bal_blur.h"

namespace {

// Mean of the two middle values of an even window.
template <class T>
T middle_mean(T a, T b) {
    if constexpr (std::is_signed_v<T>)
        return T((int64_t(a) + int64_t(b)) / 2);
    else
        return T((uint64_t(a) + uint64_t(b)) >> 1);
}

// Median of c (1..9) values, sorted in place by insertion.
template <class T>
T median_of(T* v, int c) {
    for (int i = 1; i < c; ++i)
        for (int j = i; j > 0 && v[j] < v[j - 1]; --j) std::swap(v[j], v[j - 1]);
    return c % 2 ? v[c / 2] : middle_mean(v[c / 2 - 1], v[c / 2]);
}

template <class T>
inline void sort2(T& a, T& b) {
    const T lo = std::min(a, b);
    b = std::max(a, b);
    a = lo;
}

template <class T>
inline T median3(T a, T b, T c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Median of nine from the three sorted columns: the middle of the largest
// minimum, the median of the medians and the smallest maximum.
template <class T>
inline T median9(T a0, T a1, T a2, T b0, T b1, T b2, T c0, T c1, T c2) {
    sort2(a0, a1), sort2(a1, a2), sort2(a0, a1);
    sort2(b0, b1), sort2(b1, b2), sort2(b0, b1);
    sort2(c0, c1), sort2(c1, c2), sort2(c0, c1);
    return median3(std::max(std::max(a0, b0), c0), median3(a1, b1, c1), std::min(std::min(a2, b2), c2));
}

// Median of the clipped 3x3 window of column x over the present rows.
template <class T>
T clipped_window_median(const T* up, const T* mid, const T* down, uint32_t cols, uint32_t x) {
    T v[9] = {};
    int c = 0;
    const uint32_t x0 = x > 0 ? x - 1 : x, x1 = x + 1 < cols ? x + 1 : x;
    for (const T* row : {up, mid, down})
        if (row)
            for (uint32_t xx = x0; xx <= x1; ++xx) v[c++] = row[xx];
    return median_of(v, c);
}

template <class T>
void square_median_row(const T* up, const T* mid, const T* down, uint32_t cols, T* out) {
    if (!up || !down) {
        for (uint32_t x = 0; x < cols; ++x) out[x] = clipped_window_median(up, mid, down, cols, x);
        return;
    }
    out[0] = clipped_window_median(up, mid, down, cols, 0);
    // Branch-free inner columns, which the compiler can vectorise.
    for (uint32_t x = 1; x + 1 < cols; ++x)
        out[x] = median9(up[x - 1], mid[x - 1], down[x - 1], up[x], mid[x], down[x], up[x + 1], mid[x + 1],
                         down[x + 1]);
    out[cols - 1] = clipped_window_median(up, mid, down, cols, cols - 1);
}

template <class T>
int32_t square_median(const T* src, int32_t rows, int32_t cols, T* dst) {
    if (rows <= 0 || cols <= 0) return BAL_OK;
    if (rows == 1 || cols == 1) {
        std::memmove(dst, src, size_t(rows) * size_t(cols) * sizeof(T));
        return BAL_OK;
    }
    const uint32_t width = uint32_t(cols);
    return int32_t(bal_for_each_row_buffered(src, uint32_t(rows), width, dst,
                                             [width](const T* up, const T* mid, const T* down, T* out) {
                                                 square_median_row(up, mid, down, width, out);
                                             }));
}

template <class T>
int32_t cross_median(const T* src, uint32_t rows, uint32_t cols, T* dst) {
    return int32_t(bal_for_each_row_buffered(src, rows, cols, dst, [cols](const T* up, const T* mid, const T* down,
                                                                          T* out) {
        for (uint32_t x = 0; x < cols; ++x) {
            T v[5] = {};
            int c = 0;
            v[c++] = mid[x];
            if (up) v[c++] = up[x];
            if (down) v[c++] = down[x];
            if (x > 0) v[c++] = mid[x - 1];
            if (x + 1 < cols) v[c++] = mid[x + 1];
            out[x] = median_of(v, c);
        }
    }));
}

}  // namespace

int32_t bal_median_uint8(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    return square_median(src, rows, cols, dst);
}
int32_t bal_median_int8(const int8_t* src, int32_t rows, int32_t cols, int8_t* dst) {
    return square_median(src, rows, cols, dst);
}
int32_t bal_median_uint16(const uint16_t* src, int32_t rows, int32_t cols, uint16_t* dst) {
    return square_median(src, rows, cols, dst);
}
int32_t bal_median_int16(const int16_t* src, int32_t rows, int32_t cols, int16_t* dst) {
    return square_median(src, rows, cols, dst);
}
int32_t bal_median_uint32(const uint32_t* src, int32_t rows, int32_t cols, uint32_t* dst) {
    return square_median(src, rows, cols, dst);
}
int32_t bal_median_int32(const int32_t* src, int32_t rows, int32_t cols, int32_t* dst) {
    return square_median(src, rows, cols, dst);
}

int32_t bal_median_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return cross_median(src, rows, cols, dst);
}
int32_t bal_median_small_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst) {
    return cross_median(src, rows, cols, dst);
}
int32_t bal_median_small_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst) {
    return cross_median(src, rows, cols, dst);
}
int32_t bal_median_small_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst) {
    return cross_median(src, rows, cols, dst);
}
int32_t bal_median_small_uint32(const uint32_t* src, uint32_t rows, uint32_t cols, uint32_t* dst) {
    return cross_median(src, rows, cols, dst);
}
int32_t bal_median_small_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst) {
    return cross_median(src, rows, cols, dst);
}

void bal_median_pixel(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t y, uint32_t x, uint8_t* dst) {
    if (y < 1 || x < 1 || uint64_t(y) + 1 >= rows || uint64_t(x) + 1 >= cols) return;
    const uint8_t* mid = src + size_t(y) * cols;
    dst[size_t(y) * cols + x] = clipped_window_median(mid - cols, mid, mid + cols, cols, x);
}
