// Shared helpers of the filter tests: random images of a given type and the
// image sizes the brute-force comparisons run over.
#pragma once

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace filters_test {

struct Size {
    uint32_t rows;
    uint32_t cols;
};

// Odd and even sizes, the smallest the 3x3 filters accept, thin strips and the
// sensor's own size.
inline const std::vector<Size>& test_sizes() {
    static const std::vector<Size> sizes = {{2, 2}, {2, 3}, {3, 2}, {3, 3}, {4, 5}, {5, 4},
                                            {7, 6}, {8, 9}, {13, 16}, {176, 96}};
    return sizes;
}

// Values spread over [lo, hi] of T.
template <class T>
std::vector<T> random_image(size_t n, uint32_t seed, int64_t lo = std::numeric_limits<T>::min(),
                            int64_t hi = std::numeric_limits<T>::max()) {
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int64_t> dist(lo, hi);
    std::vector<T> v(n);
    for (auto& p : v) p = static_cast<T>(dist(rng));
    return v;
}

// Calls f(yy, xx) for every pixel of the 3x3 window of (y, x) inside the image.
template <class F>
void for_clipped_window(uint32_t rows, uint32_t cols, uint32_t y, uint32_t x, F&& f) {
    for (int64_t yy = int64_t(y) - 1; yy <= int64_t(y) + 1; ++yy)
        for (int64_t xx = int64_t(x) - 1; xx <= int64_t(x) + 1; ++xx)
            if (yy >= 0 && xx >= 0 && yy < rows && xx < cols) f(uint32_t(yy), uint32_t(xx));
}

}  // namespace filters_test

// Scratch allocations of 2^60 bytes and more fail with a null pointer in a
// plain build; AddressSanitizer aborts on them instead. g++ announces the
// sanitizer with __SANITIZE_ADDRESS__, clang through __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FP_ADDRESS_SANITIZER_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(FP_ADDRESS_SANITIZER_BUILD)
#define FP_REQUIRE_PLAIN_MALLOC() GTEST_SKIP() << "huge allocations abort under AddressSanitizer"
#else
#define FP_REQUIRE_PLAIN_MALLOC() (void)0
#endif
