// In-place general sort with a caller-supplied comparison, score comparisons
// for it, and small array helpers.
#pragma once

#include <cstddef>
#include <cstdint>

// Positive when left must come after right, zero or negative otherwise.
using zr_compare_fn = int32_t (*)(const void* left, const void* right);

// Shell sort in place, ascending by compare; not stable, no allocation.
void zr_sort(void* base, size_t count, size_t size, zr_compare_fn compare);

// Comparisons of two i32 scores: -1, 0 or 1.
int32_t sort_score_ascending(const void* a, const void* b);
int32_t sort_score_descending(const void* a, const void* b);

// Selection sort of n values, ascending; counts below 2 leave the array untouched.
void sort_array(int32_t* values, int32_t n);

// (x1 - x2)^2 + (y1 - y2)^2 in wrapping 32-bit arithmetic.
int32_t squared_dist(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// Wrapping 32-bit sum of the first n values; 0 when n < 1.
int32_t sum_array(const int32_t* values, int32_t n);
