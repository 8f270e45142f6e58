// STAND-IN until the liveness filters land: the 3 x 3 binomial smoothing of
// the liveness filters, declared with their signature. Remove this file and
// its .cpp once the real filters are merged.
#pragma once

#include <cstdint>

// Row pass, then column pass, in place from the values before each pass:
// inner (a + 2b + c) >> 2, first (3 first + second) >> 2, last
// (second-to-last + 3 last) >> 2. Nothing unless rows and cols are both 3 or
// more.
void gaussian_filter_3x3(uint8_t* image, int32_t rows, int32_t cols);
