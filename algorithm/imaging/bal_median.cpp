#include "imaging/bal_median.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "imaging/bal_blur.h"
#include "imaging/bal_status.h"

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

// Mean of the middle pair of four values: the larger of the pair minima and
// the smaller of the pair maxima.
template <class T>
inline T median4(T a, T b, T c, T d) {
    return middle_mean(std::max(std::min(a, b), std::min(c, d)), std::min(std::max(a, b), std::max(c, d)));
}

// Mean of the middle pair of six values, through a 12-comparator sorting network.
template <class T>
inline T median6(T v0, T v1, T v2, T v3, T v4, T v5) {
    sort2(v0, v5), sort2(v1, v3), sort2(v2, v4), sort2(v1, v2), sort2(v3, v4), sort2(v0, v3);
    sort2(v2, v5), sort2(v0, v1), sort2(v2, v3), sort2(v4, v5), sort2(v1, v2), sort2(v3, v4);
    return middle_mean(v2, v3);
}

// First or last row of an image of at least two rows and columns: windows of
// two rows, six values inside and four at the corners.
template <class T>
void two_row_median_row(const T* a, const T* b, uint32_t cols, T* out) {
    out[0] = median4(a[0], a[1], b[0], b[1]);
    for (uint32_t x = 1; x + 1 < cols; ++x) out[x] = median6(a[x - 1], a[x], a[x + 1], b[x - 1], b[x], b[x + 1]);
    out[cols - 1] = median4(a[cols - 2], a[cols - 1], b[cols - 2], b[cols - 1]);
}

template <class T>
void square_median_row(const T* up, const T* mid, const T* down, uint32_t cols, T* out) {
    if (!up || !down) {
        two_row_median_row(up ? up : mid, up ? mid : down, cols, out);
        return;
    }
    out[0] = median6(up[0], mid[0], down[0], up[1], mid[1], down[1]);
    // Branch-free inner columns, which the compiler can vectorise.
    for (uint32_t x = 1; x + 1 < cols; ++x)
        out[x] = median9(up[x - 1], mid[x - 1], down[x - 1], up[x], mid[x], down[x], up[x + 1], mid[x + 1],
                         down[x + 1]);
    out[cols - 1] = median6(up[cols - 2], mid[cols - 2], down[cols - 2], up[cols - 1], mid[cols - 1], down[cols - 1]);
}

template <class T>
bal_status square_median(const T* src, int32_t rows, int32_t cols, T* dst) {
    if (rows <= 0 || cols <= 0) return BAL_OK;
    if (rows == 1 || cols == 1) {
        std::memmove(dst, src, size_t(rows) * size_t(cols) * sizeof(T));
        return BAL_OK;
    }
    const uint32_t width = uint32_t(cols);
    return bal_for_each_row_buffered(src, uint32_t(rows), width, dst,
                                     [width](const T* up, const T* mid, const T* down, T* out) {
                                         square_median_row(up, mid, down, width, out);
                                     });
}

// Sorts the vertical triple of every column of a row window into lo, md and hi.
template <class T>
void sort_columns(const T* up, const T* mid, const T* down, uint32_t cols, T* lo, T* md, T* hi) {
    for (uint32_t x = 0; x < cols; ++x) {
        T a = up[x], b = mid[x], c = down[x];
        sort2(a, b), sort2(b, c), sort2(a, b);
        lo[x] = a;
        md[x] = b;
        hi[x] = c;
    }
}

// As square_median_row, with each column sorted once and shared by the three
// windows that contain it; sorted holds three rows of cols values.
template <class T>
void square_median_row_sorted(const T* up, const T* mid, const T* down, uint32_t cols, T* sorted, T* out) {
    if (!up || !down) {
        two_row_median_row(up ? up : mid, up ? mid : down, cols, out);
        return;
    }
    T* lo = sorted;
    T* md = lo + cols;
    T* hi = md + cols;
    sort_columns(up, mid, down, cols, lo, md, hi);
    out[0] = median6(up[0], mid[0], down[0], up[1], mid[1], down[1]);
    // Values are loaded first: min and max of the array elements themselves
    // would select addresses and keep the loop scalar.
    for (uint32_t x = 1; x + 1 < cols; ++x) {
        const T l0 = lo[x - 1], l1 = lo[x], l2 = lo[x + 1];
        const T m0 = md[x - 1], m1 = md[x], m2 = md[x + 1];
        const T h0 = hi[x - 1], h1 = hi[x], h2 = hi[x + 1];
        out[x] = median3(std::max(std::max(l0, l1), l2), median3(m0, m1, m2), std::min(std::min(h0, h1), h2));
    }
    out[cols - 1] = median6(up[cols - 2], mid[cols - 2], down[cols - 2], up[cols - 1], mid[cols - 1], down[cols - 1]);
}

template <class T>
bal_status square_median_sorted(const T* src, int32_t rows, int32_t cols, T* dst) {
    if (rows <= 0 || cols <= 0) return BAL_OK;
    if (rows == 1 || cols == 1) {
        std::memmove(dst, src, size_t(rows) * size_t(cols) * sizeof(T));
        return BAL_OK;
    }
    const uint32_t width = uint32_t(cols);
    T* sorted = static_cast<T*>(std::malloc(3 * sizeof(T) * width));
    if (sorted == nullptr) return BAL_NO_MEMORY;
    const bal_status status = bal_for_each_row_buffered(
        src, uint32_t(rows), width, dst, [width, sorted](const T* up, const T* mid, const T* down, T* out) {
            square_median_row_sorted(up, mid, down, width, sorted, out);
        });
    std::free(sorted);
    return status;
}

template <class T>
bal_status cross_median(const T* src, uint32_t rows, uint32_t cols, T* dst) {
    return bal_for_each_row_buffered(src, rows, cols, dst, [cols](const T* up, const T* mid, const T* down,
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
    });
}

}  // namespace

bal_status bal_median_uint8(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    return square_median_sorted(src, rows, cols, dst);
}
bal_status bal_median_uint8_reference(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    return square_median(src, rows, cols, dst);
}
bal_status bal_median_int8(const int8_t* src, int32_t rows, int32_t cols, int8_t* dst) {
    return square_median(src, rows, cols, dst);
}
bal_status bal_median_uint16(const uint16_t* src, int32_t rows, int32_t cols, uint16_t* dst) {
    return square_median(src, rows, cols, dst);
}
bal_status bal_median_int16(const int16_t* src, int32_t rows, int32_t cols, int16_t* dst) {
    return square_median(src, rows, cols, dst);
}
bal_status bal_median_uint32(const uint32_t* src, int32_t rows, int32_t cols, uint32_t* dst) {
    return square_median(src, rows, cols, dst);
}
bal_status bal_median_int32(const int32_t* src, int32_t rows, int32_t cols, int32_t* dst) {
    return square_median(src, rows, cols, dst);
}

bal_status bal_median_small_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return cross_median(src, rows, cols, dst);
}
bal_status bal_median_small_int8(const int8_t* src, uint32_t rows, uint32_t cols, int8_t* dst) {
    return cross_median(src, rows, cols, dst);
}
bal_status bal_median_small_uint16(const uint16_t* src, uint32_t rows, uint32_t cols, uint16_t* dst) {
    return cross_median(src, rows, cols, dst);
}
bal_status bal_median_small_int16(const int16_t* src, uint32_t rows, uint32_t cols, int16_t* dst) {
    return cross_median(src, rows, cols, dst);
}
bal_status bal_median_small_uint32(const uint32_t* src, uint32_t rows, uint32_t cols, uint32_t* dst) {
    return cross_median(src, rows, cols, dst);
}
bal_status bal_median_small_int32(const int32_t* src, uint32_t rows, uint32_t cols, int32_t* dst) {
    return cross_median(src, rows, cols, dst);
}

void bal_median_pixel(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t y, uint32_t x, uint8_t* dst) {
    if (y < 1 || x < 1 || uint64_t(y) + 1 >= rows || uint64_t(x) + 1 >= cols) return;
    const uint8_t* up = src + size_t(y - 1) * cols + x;
    const uint8_t* mid = up + cols;
    const uint8_t* down = mid + cols;
    dst[size_t(y) * cols + x] = median9(up[-1], mid[-1], down[-1], up[0], mid[0], down[0], up[1], mid[1], down[1]);
}
