#include "imaging/bal_binary_pack.h"

#include <cstddef>
#include <cstring>

namespace {

// Bytes of one packed row: ceil(cols / 8) without overflow.
uint32_t packed_stride(uint32_t cols) { return (cols >> 3) + ((cols & 7) != 0); }

}  // namespace

void bal_binary_8bit_to_1bit(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    const uint32_t stride = packed_stride(cols);
    std::memset(dst, 0, size_t(rows) * stride);
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* row = src + size_t(y) * cols;
        uint8_t* packed = dst + size_t(y) * stride;
        for (uint32_t x = 0; x < cols; ++x) packed[x >> 3] |= uint8_t(row[x] << (7 - (x & 7)));
    }
}

void bal_binary_1bit_to_8bit(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    const uint32_t stride = packed_stride(cols);
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* packed = src + size_t(y) * stride;
        uint8_t* row = dst + size_t(y) * cols;
        for (uint32_t x = 0; x < cols; ++x) row[x] = (packed[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

void bal_binarize_scale_down_2(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    const uint32_t half_rows = rows / 2, half_cols = cols / 2;
    for (uint32_t y = 0; y < half_rows; ++y)
        for (uint32_t x = 0; x < half_cols; ++x) dst[size_t(y) * half_cols + x] = src[size_t(2 * y) * cols + 2 * x];
}
