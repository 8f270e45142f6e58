#include "imaging/bal_kernels3x3.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_status.h"
#include "math/lib_memory.h"

namespace {

// Sobel over the inner pixels; writes gx and / or gy (either may be null).
// Fewer than three rows or columns leave no inner pixel.
void sobel(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx, int8_t* gy) {
    const size_t n = size_t(rows) * cols;
    if (n == 0) return;
    if (gx) std::memset(gx, 0, n);
    if (gy) std::memset(gy, 0, n);
    if (rows < 3 || cols < 3) return;
    for (uint32_t y = 1; y + 1 < rows; ++y) {
        const uint8_t* up = src + size_t(y - 1) * cols;
        const uint8_t* mid = up + cols;
        const uint8_t* down = mid + cols;
        const size_t row = size_t(y) * cols;
        // Column values of x-1, x and x+1 carried along the row.
        int32_t c0 = up[0] + 2 * mid[0] + down[0], c1 = up[1] + 2 * mid[1] + down[1];
        int32_t d0 = down[0] - up[0], d1 = down[1] - up[1];
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const int32_t c2 = up[x + 1] + 2 * mid[x + 1] + down[x + 1];
            const int32_t d2 = down[x + 1] - up[x + 1];
            if (gx) gx[row + x] = int8_t((c2 - c0) / 8);
            if (gy) gy[row + x] = int8_t((d0 + 2 * d1 + d2) / 8);
            c0 = c1;
            c1 = c2;
            d0 = d1;
            d1 = d2;
        }
    }
}

// The same gradients as sobel, each pixel formed from its own window so that
// the row loops carry no value and run in 16-bit lanes (every sum fits:
// |column difference| <= 1020, weighted row sum <= 1020).
void sobel_rows(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx, int8_t* gy) {
    for (uint32_t y = 1; y + 1 < rows; ++y) {
        const uint8_t* up = src + size_t(y - 1) * cols;
        const uint8_t* mid = up + cols;
        const uint8_t* down = mid + cols;
        int8_t* ox = gx + size_t(y) * cols;
        int8_t* oy = gy + size_t(y) * cols;
        ox[0] = ox[cols - 1] = 0;
        oy[0] = oy[cols - 1] = 0;
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const int16_t right = int16_t(up[x + 1] + 2 * mid[x + 1] + down[x + 1]);
            const int16_t left = int16_t(up[x - 1] + 2 * mid[x - 1] + down[x - 1]);
            const int16_t vertical = int16_t((down[x - 1] - up[x - 1]) + 2 * (down[x] - up[x]) +
                                             (down[x + 1] - up[x + 1]));
            ox[x] = int8_t(int16_t(right - left) / 8);
            oy[x] = int8_t(vertical / 8);
        }
    }
}

}  // namespace

void bal_sobel_2(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx, int8_t* gy) {
    if (gx == nullptr || gy == nullptr || rows < 3 || cols < 3) {
        sobel(src, rows, cols, gx, gy);
        return;
    }
    std::memset(gx, 0, cols);
    std::memset(gy, 0, cols);
    sobel_rows(src, rows, cols, gx, gy);
    std::memset(gx + size_t(rows - 1) * cols, 0, cols);
    std::memset(gy + size_t(rows - 1) * cols, 0, cols);
}

void bal_sobel_2_reference(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx, int8_t* gy) {
    sobel(src, rows, cols, gx, gy);
}

void bal_sobel_horizontal(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gx) {
    sobel(src, rows, cols, gx, nullptr);
}

void bal_sobel_vertical(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* gy) {
    sobel(src, rows, cols, nullptr, gy);
}

void bal_laplace(const uint8_t* src, uint32_t rows, uint32_t cols, int8_t* dst) {
    if (rows == 0 || cols == 0) return;
    std::memset(dst, 0, size_t(rows) * cols);
    if (rows < 3 || cols < 3) return;
    for (uint32_t y = 1; y + 1 < rows; ++y) {
        const uint8_t* mid = src + size_t(y) * cols;
        const uint8_t* up = mid - cols;
        const uint8_t* down = mid + cols;
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const int32_t v = 4 * mid[x] - up[x] - down[x] - mid[x - 1] - mid[x + 1];
            dst[size_t(y) * cols + x] = int8_t(v / 8);
        }
    }
}

bal_status bal_sharpen_uint8(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t amount, uint8_t* dst) {
    if (rows == 0 || cols == 0) return BAL_OK;
    const size_t n = size_t(rows) * cols;
    if (n > SIZE_MAX / sizeof(int16_t)) return BAL_NO_MEMORY;  // no buffer of that size can exist
    int16_t* detail = static_cast<int16_t*>(std::malloc(n * sizeof(int16_t)));
    if (lib_memory_check(detail, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    // detail = 12 p - S, S the neighbour sum with coordinates clamped into the image.
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* mid = src + size_t(y) * cols;
        const uint8_t* up = y > 0 ? mid - cols : mid;
        const uint8_t* down = y + 1 < rows ? mid + cols : mid;
        for (uint32_t x = 0; x < cols; ++x) {
            const uint32_t l = x > 0 ? x - 1 : x, r = x + 1 < cols ? x + 1 : x;
            const int32_t s = 2 * (up[x] + down[x] + mid[l] + mid[r]) + up[l] + up[r] + down[l] + down[r];
            detail[size_t(y) * cols + x] = int16_t(12 * mid[x] - s);
        }
    }
    for (size_t i = 0; i < n; ++i) {
        const int32_t v = src[i] + detail[i] * int32_t(amount) / 128;
        dst[i] = uint8_t(std::clamp(v, 0, 255));
    }
    std::free(detail);
    return BAL_OK;
}

void bal_filter_3x3(const uint8_t* src, int32_t rows, int32_t cols, const int8_t kernel[9], uint8_t* dst) {
    if (rows <= 0 || cols <= 0) return;
    std::memset(dst, 0, size_t(rows) * size_t(cols));
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            int32_t sum = 0;
            int32_t norm = 0;
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const int32_t yy = y + dy, xx = x + dx;
                    if (yy < 0 || xx < 0 || yy >= rows || xx >= cols) continue;
                    const int32_t k = kernel[(dy + 1) * 3 + dx + 1];
                    sum += k * src[size_t(yy) * size_t(cols) + size_t(xx)];
                    norm += k < 0 ? -k : k;
                }
            // A clipped kernel without weight leaves the cleared pixel at 0.
            if (norm != 0) dst[size_t(y) * size_t(cols) + size_t(x)] = uint8_t(sum / norm);
        }
}

void bal_filter_max(uint8_t* data, int32_t length, int32_t block) {
    if (length <= 0 || block <= 0) return;
    for (int32_t start = 0; start < length; start += std::min(block, length - start)) {
        const int32_t end = start + std::min(block, length - start);
        const uint8_t largest = *std::max_element(data + start, data + end);
        std::fill(data + start, data + end, largest);
    }
}

void bal_set_pixel(uint8_t* image, uint16_t rows, uint16_t cols, uint16_t row, uint16_t col, uint8_t value) {
    if (row < rows && col < cols) image[size_t(row) * cols + col] = value;
}
