#include "imaging/bal_rotate.h"

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "imaging/bal_status.h"
#include "math/zr_trig.h"

namespace {

constexpr int32_t kOne = 16384;  // 1.0 in Q14

struct rotation_frame {
    int32_t rows;
    int32_t cols;
    int32_t row_offset;
    int32_t col_offset;
};

inline int32_t min4(int32_t a, int32_t b, int32_t c, int32_t d) {
    int32_t m = a < b ? a : b;
    m = m < c ? m : c;
    return m < d ? m : d;
}

inline int32_t max4(int32_t a, int32_t b, int32_t c, int32_t d) {
    int32_t m = a > b ? a : b;
    m = m > c ? m : c;
    return m > d ? m : d;
}

// The output box of a free rotation: it covers the origin and the rotated
// corners (cols, 0), (0, rows) and (cols, rows), each coordinate a Q14
// product divided with truncation.
rotation_frame free_rotation_frame(int32_t rows, int32_t cols, uint8_t angle) {
    const int32_t c = zr_cos_(angle);
    const int32_t s = zr_sin_(angle);
    const int32_t x1 = (c * cols) / kOne;
    const int32_t x2 = (c * cols - s * rows) / kOne;
    const int32_t x3 = -((s * rows) / kOne);
    const int32_t y1 = (s * cols) / kOne;
    const int32_t y2 = (s * cols + c * rows) / kOne;
    const int32_t y3 = (c * rows) / kOne;
    const int32_t min_x = min4(x1, x2, x3, 0);
    const int32_t min_y = min4(y1, y2, y3, 0);
    return rotation_frame{max4(y1, y2, y3, 0) - min_y + 1, max4(x1, x2, x3, 0) - min_x + 1, -min_y,
                          -min_x};
}

void store_frame(const rotation_frame& frame, uint32_t* out_rows, uint32_t* out_cols,
                 int32_t* out_row_offset, int32_t* out_col_offset) {
    *out_rows = static_cast<uint32_t>(frame.rows);
    *out_cols = static_cast<uint32_t>(frame.cols);
    *out_row_offset = frame.row_offset;
    *out_col_offset = frame.col_offset;
}

// Bilinear sample with Q14 weights; the sum of products is formed in 64 bits
// and divided by 2^28 with truncation toward zero.
template <typename T>
struct bilinear_sampler {
    static bool inside(int32_t x, int32_t y, int32_t rows, int32_t cols) {
        return x >= 0 && y >= 0 && (x >> 14) + 1 < cols && (y >> 14) + 1 < rows;
    }
    static T sample(const T* src, int32_t cols, int32_t x, int32_t y) {
        const int64_t fx = x & (kOne - 1);
        const int64_t fy = y & (kOne - 1);
        const T* p = src + static_cast<size_t>(y >> 14) * cols + (x >> 14);
        const int64_t top = p[0] * (kOne - fx) + p[1] * fx;
        const int64_t bottom = p[cols] * (kOne - fx) + p[cols + 1] * fx;
        const int64_t sum = top * (kOne - fy) + bottom * fy;
        if constexpr (std::is_signed_v<T>) {
            return static_cast<T>(sum / (int64_t{1} << 28));
        } else {
            return static_cast<T>(sum >> 28);  // sum >= 0
        }
    }
};

template <typename T>
struct nearest_sampler {
    static bool inside(int32_t x, int32_t y, int32_t rows, int32_t cols) {
        return x >= 0 && y >= 0 && (x >> 14) < cols && (y >> 14) < rows;
    }
    static T sample(const T* src, int32_t cols, int32_t x, int32_t y) {
        return src[static_cast<size_t>(y >> 14) * cols + (x >> 14)];
    }
};

// Fills the output of a free rotation by mapping each output pixel back into
// the source: X = x c' - y s', Y = x s' + y c' with c', s' of the opposite
// angle, stepped by c' and s' along a row. Pixels without a source keep fill.
template <typename T, typename Sampler>
void map_back(const T* src, int32_t rows, int32_t cols, uint8_t angle, const rotation_frame& frame,
              T fill, T* out) {
    const uint8_t back = static_cast<uint8_t>(-angle & 0xFF);
    const int32_t c = zr_cos_(back);
    const int32_t s = zr_sin_(back);
    std::memset(out, static_cast<uint8_t>(fill), static_cast<size_t>(frame.rows) * frame.cols);
    const int32_t x_start = -frame.col_offset;
    for (int32_t i = 0; i < frame.rows; ++i) {
        const int32_t y = i - frame.row_offset;
        int32_t sx = x_start * c - y * s;
        int32_t sy = x_start * s + y * c;
        T* row = out + static_cast<size_t>(i) * frame.cols;
        for (int32_t j = 0; j < frame.cols; ++j, sx += c, sy += s) {
            if (Sampler::inside(sx, sy, rows, cols)) {
                row[j] = Sampler::sample(src, cols, sx, sy);
            }
        }
    }
}

// Allocates and fills a free rotation; the sizes and offsets are stored
// before the allocation. Returns none when out of memory.
template <typename T, typename Sampler>
T* free_rotation(const T* src, int32_t rows, int32_t cols, uint8_t angle, T fill,
                 uint32_t* out_rows, uint32_t* out_cols, int32_t* out_row_offset,
                 int32_t* out_col_offset) {
    const rotation_frame frame = free_rotation_frame(rows, cols, angle);
    store_frame(frame, out_rows, out_cols, out_row_offset, out_col_offset);
    auto* out = static_cast<T*>(std::malloc(static_cast<size_t>(frame.rows) * frame.cols));
    if (out != nullptr) {
        map_back<T, Sampler>(src, rows, cols, angle, frame, fill, out);
    }
    return out;
}

// Exact quarter turn (angle a multiple of 64) through the flip modes.
uint8_t* quarter_turn(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t angle,
                      uint32_t* out_rows, uint32_t* out_cols, int32_t* out_row_offset,
                      int32_t* out_col_offset) {
    const auto r = static_cast<int32_t>(rows);
    const auto c = static_cast<int32_t>(cols);
    uint32_t mode = BAL_FLIP_COPY;
    rotation_frame frame{r, c, 0, 0};
    switch (angle) {
    case 64:
        mode = BAL_FLIP_QUARTER_CW;
        frame = rotation_frame{c, r, 0, r - 1};
        break;
    case 128:
        mode = BAL_FLIP_HALF_TURN;
        frame = rotation_frame{r, c, r - 1, c - 1};
        break;
    case 192:
        mode = BAL_FLIP_QUARTER_CCW;
        frame = rotation_frame{c, r, c - 1, 0};
        break;
    default:
        break;
    }
    store_frame(frame, out_rows, out_cols, out_row_offset, out_col_offset);
    auto* out = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(rows) * cols));
    if (out != nullptr) {
        bal_image_flip(src, r, c, mode, out);
    }
    return out;
}

void mirror_rows(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* in = src + static_cast<size_t>(r) * cols;
        uint8_t* out = dst + static_cast<size_t>(r) * cols;
        for (int32_t c = 0; c < cols; ++c) {
            out[c] = in[cols - 1 - c];
        }
    }
}

void reverse_rows(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    if (cols <= 0) {
        return;
    }
    for (int32_t r = 0; r < rows; ++r) {
        std::memcpy(dst + static_cast<size_t>(r) * cols,
                    src + static_cast<size_t>(rows - 1 - r) * cols, static_cast<size_t>(cols));
    }
}

void reverse_pixels(const uint8_t* src, int32_t count, uint8_t* dst) {
    for (int32_t k = 0; k < count; ++k) {
        dst[k] = src[count - 1 - k];
    }
}

// dst(c, rows-1-r) = src(r, c): output row c reads source column c upwards.
void quarter_clockwise(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    for (int32_t c = 0; c < cols; ++c) {
        uint8_t* out = dst + static_cast<size_t>(c) * rows;
        const uint8_t* in = src + static_cast<size_t>(rows - 1) * cols + c;
        for (int32_t k = 0; k < rows; ++k, in -= cols) {
            out[k] = *in;
        }
    }
}

// dst(cols-1-c, r) = src(r, c): output row k reads source column cols-1-k
// downwards.
void quarter_counter_clockwise(const uint8_t* src, int32_t rows, int32_t cols, uint8_t* dst) {
    for (int32_t k = 0; k < cols; ++k) {
        uint8_t* out = dst + static_cast<size_t>(k) * rows;
        const uint8_t* in = src + (cols - 1 - k);
        for (int32_t r = 0; r < rows; ++r, in += cols) {
            out[r] = *in;
        }
    }
}

}  // namespace

void bal_image_flip(const uint8_t* src, int32_t rows, int32_t cols, uint32_t mode, uint8_t* dst) {
    // The half turn reverses rows * cols pixels and tests only that count.
    if (mode != BAL_FLIP_HALF_TURN && rows < 1) {
        return;
    }
    switch (mode) {
    case BAL_FLIP_MIRROR_ROWS:
        mirror_rows(src, rows, cols, dst);
        break;
    case BAL_FLIP_REVERSE_ROWS:
        reverse_rows(src, rows, cols, dst);
        break;
    case BAL_FLIP_HALF_TURN:
        if (rows * cols >= 1) {
            reverse_pixels(src, rows * cols, dst);
        }
        break;
    case BAL_FLIP_QUARTER_CW:
        quarter_clockwise(src, rows, cols, dst);
        break;
    case BAL_FLIP_QUARTER_CCW:
        quarter_counter_clockwise(src, rows, cols, dst);
        break;
    default:
        if (cols > 0) {
            std::memcpy(dst, src, static_cast<size_t>(rows) * static_cast<size_t>(cols));
        }
        break;
    }
}

void bal_image_rotate(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t angle,
                      uint8_t** out_image, uint32_t* out_rows, uint32_t* out_cols,
                      int32_t* out_row_offset, int32_t* out_col_offset) {
    if ((angle & 63) == 0) {
        *out_image = quarter_turn(src, rows, cols, angle, out_rows, out_cols, out_row_offset,
                                  out_col_offset);
        return;
    }
    *out_image = free_rotation<uint8_t, bilinear_sampler<uint8_t>>(
        src, static_cast<int32_t>(rows), static_cast<int32_t>(cols), angle, uint8_t{255}, out_rows,
        out_cols, out_row_offset, out_col_offset);
}

void bal_image_rotate_int8(const int8_t* src, uint32_t rows, uint32_t cols, uint8_t angle,
                           int8_t** out_image, uint32_t* out_rows, uint32_t* out_cols,
                           int32_t* out_row_offset, int32_t* out_col_offset) {
    *out_image = free_rotation<int8_t, bilinear_sampler<int8_t>>(
        src, static_cast<int32_t>(rows), static_cast<int32_t>(cols), angle, int8_t{0}, out_rows,
        out_cols, out_row_offset, out_col_offset);
}

bal_status bal_image_rotate_nearest_neighbour_uint8(const uint8_t* src, uint32_t rows,
                                                    uint32_t cols, uint32_t angle, uint8_t fill,
                                                    uint8_t** out_image, uint32_t* out_rows,
                                                    uint32_t* out_cols, int32_t* out_row_offset,
                                                    int32_t* out_col_offset) {
    const auto a = static_cast<uint8_t>(angle & 0xFF);
    uint8_t* out;
    if ((a & 63) == 0) {
        out = quarter_turn(src, rows, cols, a, out_rows, out_cols, out_row_offset, out_col_offset);
    } else {
        out = free_rotation<uint8_t, nearest_sampler<uint8_t>>(
            src, static_cast<int32_t>(rows), static_cast<int32_t>(cols), a, fill, out_rows,
            out_cols, out_row_offset, out_col_offset);
    }
    *out_image = out;
    return out != nullptr ? BAL_OK : BAL_NO_MEMORY;
}

bal_status bal_image_rotate_nearest_neighbour_int8(const int8_t* src, int32_t rows, int32_t cols,
                                                   uint8_t angle, int8_t fill, int8_t** out_image,
                                                   uint32_t* out_rows, uint32_t* out_cols,
                                                   int32_t* out_row_offset,
                                                   int32_t* out_col_offset) {
    int8_t* out = free_rotation<int8_t, nearest_sampler<int8_t>>(
        src, rows, cols, angle, fill, out_rows, out_cols, out_row_offset, out_col_offset);
    *out_image = out;
    return out != nullptr ? BAL_OK : BAL_NO_MEMORY;
}
