// Small helpers of the image object tests: random pixels, a counting decoder
// and a loop that runs an operation under every allocation failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "objects/zr_alloc.h"
#include "objects/zr_image.h"

namespace image_test {

inline std::vector<uint8_t> random_pixels(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> px(n);
    for (auto& p : px) p = uint8_t(rng());
    return px;
}

inline std::vector<uint8_t> pixels_of(zr_image* image) {
    const uint8_t* p = zr_image_get_pixels(image);
    return p ? std::vector<uint8_t>(p, p + zr_image_get_nbr_of_pixels(image))
             : std::vector<uint8_t>();
}

inline std::vector<uint8_t> mask_of(const zr_image* image) {
    const zr_image_mask* m = zr_image_get_mask(image);
    return m ? std::vector<uint8_t>(m->pixels, m->pixels + size_t(m->rows) * m->cols)
             : std::vector<uint8_t>();
}

// A decoder over a pixel vector that counts its calls and checks that every
// read stays inside the image.
struct counting_source {
    std::vector<uint8_t> pixels;
    uint16_t rows = 0;
    uint16_t cols = 0;
    int opens = 0;
    int reads = 0;
    int releases = 0;
    uint64_t pixels_read = 0;
    bool fail_open = false;
};

inline uint32_t counting_open(void* source, uint32_t, uint32_t, uint64_t, void** handle,
                              uint16_t* rows, uint16_t* cols, uint16_t* vdpi, uint16_t* hdpi,
                              uint32_t* impression) {
    auto* s = static_cast<counting_source*>(source);
    ++s->opens;
    if (s->fail_open) return 1;
    *handle = s;
    *rows = s->rows;
    *cols = s->cols;
    *vdpi = 500;
    *hdpi = 500;
    *impression = 7;
    return 0;
}

inline void counting_release(void* handle) { ++static_cast<counting_source*>(handle)->releases; }

inline void counting_read(void* handle, uint32_t row, uint32_t col, uint32_t n_rows,
                          uint32_t n_cols, uint32_t stride, uint8_t* dst) {
    auto* s = static_cast<counting_source*>(handle);
    ++s->reads;
    EXPECT_LE(row + n_rows, s->rows);
    EXPECT_LE(col + n_cols, s->cols);
    if (row + n_rows > s->rows || col + n_cols > s->cols) return;
    for (uint32_t r = 0; r < n_rows; ++r)
        for (uint32_t c = 0; c < n_cols; ++c)
            dst[size_t(r) * stride + c] = s->pixels[size_t(row + r) * s->cols + col + c];
    s->pixels_read += uint64_t(n_rows) * n_cols;
}

inline const zr_image_decoder kCountingDecoder{counting_open, counting_release, counting_read};

// Runs make() with the first k allocations allowed, k = 0, 1, ... until it
// succeeds; every failed attempt must give none (and, under the sanitizers,
// leak nothing). Returns the number of failing attempts.
template <class T>
int expect_clean_failures(const std::function<T*()>& make, void (*destroy)(T*)) {
    for (int32_t k = 0; k < 64; ++k) {
        zr_alloc_fail_after(k);
        T* made = make();
        zr_alloc_fail_after(-1);
        if (made != nullptr) {
            destroy(made);
            return k;
        }
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

}  // namespace image_test
