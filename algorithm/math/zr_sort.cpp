#include "math/zr_sort.h"

#include <cstring>

namespace {

// Gaps of the Shell sort, largest first, zero-terminated.
constexpr size_t kShellGaps[] = {1391376, 463792, 198768, 86961, 33936, 13776, 4592, 1968,
                                 861,     336,    112,    48,    21,    7,     3,     1,
                                 0};

void swap_words(unsigned char* a, unsigned char* b, size_t size) {
    for (size_t i = 0; i < size; i += 4) {
        uint32_t wa;
        uint32_t wb;
        std::memcpy(&wa, a + i, 4);
        std::memcpy(&wb, b + i, 4);
        std::memcpy(a + i, &wb, 4);
        std::memcpy(b + i, &wa, 4);
    }
}

void swap_bytes(unsigned char* a, unsigned char* b, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        const unsigned char t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

uint32_t wrap(int64_t v) { return static_cast<uint32_t>(v); }

}  // namespace

void zr_sort(void* base, size_t count, size_t size, zr_compare_fn compare) {
    auto* bytes = static_cast<unsigned char*>(base);
    const bool by_words = size % 4 == 0 && reinterpret_cast<uintptr_t>(base) % 4 == 0;
    for (const size_t* gap = kShellGaps; *gap != 0; ++gap) {
        const size_t h = *gap;
        if (count <= h) continue;
        for (size_t i = h; i < count; ++i) {
            for (size_t j = i; j >= h; j -= h) {
                unsigned char* left = bytes + (j - h) * size;
                unsigned char* right = bytes + j * size;
                if (compare(left, right) <= 0) break;
                if (by_words)
                    swap_words(left, right, size);
                else
                    swap_bytes(left, right, size);
            }
        }
    }
}

int32_t sort_score_ascending(const void* a, const void* b) {
    const int32_t x = *static_cast<const int32_t*>(a);
    const int32_t y = *static_cast<const int32_t*>(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int32_t sort_score_descending(const void* a, const void* b) { return sort_score_ascending(b, a); }

void sort_array(int32_t* values, int32_t n) {
    for (int32_t i = 0; i + 1 < n; ++i) {
        int32_t smallest = i;
        for (int32_t k = i + 1; k < n; ++k)
            if (values[k] < values[smallest]) smallest = k;
        const int32_t t = values[i];
        values[i] = values[smallest];
        values[smallest] = t;
    }
}

int32_t squared_dist(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    const uint32_t dx = wrap(static_cast<int64_t>(x1) - x2);
    const uint32_t dy = wrap(static_cast<int64_t>(y1) - y2);
    return static_cast<int32_t>(dx * dx + dy * dy);
}

int32_t sum_array(const int32_t* values, int32_t n) {
    uint32_t sum = 0;
    for (int32_t i = 0; i < n; ++i) sum += static_cast<uint32_t>(values[i]);
    return static_cast<int32_t>(sum);
}
