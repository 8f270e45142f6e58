#include "imaging/bal_expand_fft.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_border_block.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_fft_filter.h"
#include "imaging/bal_histogram.h"
#include "math/lib_memory.h"

namespace {

constexpr uint32_t kFrameMargin = 8;     // work frame margin on every side
constexpr uint32_t kMaxGrowth = 16;      // the frame may exceed the source by this much
constexpr uint32_t kBlock = 32;          // FFT block size
constexpr uint32_t kOverlap = 16;        // FFT block overlap
constexpr uint32_t kSourcePercent = 1;   // stretch limits of the source
constexpr uint32_t kBorderPercent = 20;  // stretch limits of the synthesised border
constexpr uint8_t kCheckerWhite = 255;
constexpr uint32_t kRim = 2;      // source rows and columns blended at each edge
constexpr uint32_t kMinSide = 2;  // the blend needs two source rows and columns
constexpr uint64_t kMaxWorkPixels = 0x7FFFFFFF;

// Where the source sits inside the work image, and how large that is.
struct placement {
    uint32_t work_rows;
    uint32_t work_cols;
    uint32_t top;     // first source row in the work image
    uint32_t left;    // first source column
    uint32_t bottom;  // one past the last source row
    uint32_t right;   // one past the last source column
};

bool sizes_supported(uint32_t rows, uint32_t cols, uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                     uint32_t col_offset) {
    if (rows < kMinSide || cols < kMinSide) return false;
    if (uint64_t{row_offset} + rows > dst_rows || uint64_t{col_offset} + cols > dst_cols) return false;
    if (uint64_t{dst_rows} > uint64_t{rows} + kMaxGrowth || uint64_t{dst_cols} > uint64_t{cols} + kMaxGrowth)
        return false;
    const uint64_t work = (uint64_t{dst_rows} + 2 * kFrameMargin) * (uint64_t{dst_cols} + 2 * kFrameMargin);
    return work <= kMaxWorkPixels;
}

// Checkerboard (255 where row + column is even, else 0) with the source
// copied in at its place.
void fill_work_image(const uint8_t* src, uint32_t rows, uint32_t cols, const placement& p, uint8_t* work) {
    for (uint32_t y = 0; y < p.work_rows; ++y) {
        uint8_t* row = work + size_t{y} * p.work_cols;
        for (uint32_t x = 0; x < p.work_cols; ++x) row[x] = ((x + y) & 1u) == 0 ? kCheckerWhite : 0;
    }
    for (uint32_t y = 0; y < rows; ++y)
        std::memcpy(work + size_t{p.top + y} * p.work_cols + p.left, src + size_t{y} * cols, cols);
}

void count_span(const uint8_t* row, uint32_t from, uint32_t to, uint32_t* hist) {
    for (uint32_t x = from; x < to; ++x) ++hist[row[x]];
}

// Histogram of the border inside the dst frame (work rows and columns 8 ..
// size + 7) outside the source; returns the number of pixels counted.
uint32_t border_histogram(const uint8_t* out, const placement& p, uint32_t* hist) {
    std::memset(hist, 0, 256 * sizeof(uint32_t));
    const uint32_t frame_bottom = p.work_rows - kFrameMargin;
    const uint32_t frame_right = p.work_cols - kFrameMargin;
    for (uint32_t y = kFrameMargin; y < frame_bottom; ++y) {
        const uint8_t* row = out + size_t{y} * p.work_cols;
        if (y < p.top || y >= p.bottom) {
            count_span(row, kFrameMargin, frame_right, hist);
        } else {
            count_span(row, kFrameMargin, p.left, hist);
            count_span(row, p.right, frame_right, hist);
        }
    }
    return (frame_bottom - kFrameMargin) * (frame_right - kFrameMargin) -
           (p.bottom - p.top) * (p.right - p.left);
}

// Brings the filtered frame from the border's contrast to the source's.
void match_source_contrast(const uint8_t* src, uint32_t rows, uint32_t cols, const placement& p,
                           uint8_t* out) {
    uint8_t source_lo = 0, source_hi = 0;
    bal_find_stretch_limits(src, static_cast<int32_t>(rows), static_cast<int32_t>(cols), kSourcePercent,
                            &source_lo, &source_hi);
    uint32_t hist[256];
    if (border_histogram(out, p, hist) == 0) return;  // no border: limits would be meaningless
    uint8_t border_lo = 0, border_hi = 0;
    bal_find_stretch_limits_from_hist(hist, kBorderPercent, &border_lo, &border_hi);
    bal_stretch_from_limits_to(out, static_cast<int32_t>(p.work_rows), static_cast<int32_t>(p.work_cols),
                               border_lo, border_hi, source_lo, source_hi, out);
}

// Outermost source row or column: a quarter of the source.
inline uint8_t blend_edge(uint8_t s, uint8_t o) { return static_cast<uint8_t>((s + 3u * o) >> 2); }
// Second row or column: three quarters of the source.
inline uint8_t blend_inner(uint8_t s, uint8_t o) { return static_cast<uint8_t>((o + 3u * s) >> 2); }

void blend_row(const uint8_t* s, uint8_t* o, uint32_t cols, bool edge) {
    for (uint32_t x = 0; x < cols; ++x) o[x] = edge ? blend_edge(s[x], o[x]) : blend_inner(s[x], o[x]);
}

// Restores the source's inner part and blends its two-pixel rim into the
// filtered border, rows first, then columns (corners take both).
void restore_source(const uint8_t* src, uint32_t rows, uint32_t cols, const placement& p, uint8_t* out) {
    auto out_row = [&](uint32_t y) { return out + size_t{p.top + y} * p.work_cols + p.left; };
    auto src_row = [&](uint32_t y) { return src + size_t{y} * cols; };
    if (rows > 2 * kRim && cols > 2 * kRim)
        for (uint32_t y = kRim; y < rows - kRim; ++y)
            std::memcpy(out_row(y) + kRim, src_row(y) + kRim, cols - 2 * kRim);

    blend_row(src_row(0), out_row(0), cols, true);
    blend_row(src_row(1), out_row(1), cols, false);
    blend_row(src_row(rows - 2), out_row(rows - 2), cols, false);
    blend_row(src_row(rows - 1), out_row(rows - 1), cols, true);
    for (uint32_t y = 0; y < rows; ++y) {
        const uint8_t* s = src_row(y);
        uint8_t* o = out_row(y);
        o[0] = blend_edge(s[0], o[0]);
        o[1] = blend_inner(s[1], o[1]);
        o[cols - 2] = blend_inner(s[cols - 2], o[cols - 2]);
        o[cols - 1] = blend_edge(s[cols - 1], o[cols - 1]);
    }
}

}  // namespace

bal_status bal_expand_image_fft(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                                uint32_t dst_cols, uint32_t row_offset, uint32_t col_offset, uint8_t* dst) {
    if (!sizes_supported(rows, cols, dst_rows, dst_cols, row_offset, col_offset)) return BAL_UNSUPPORTED;

    placement p{};
    p.work_rows = dst_rows + 2 * kFrameMargin;
    p.work_cols = dst_cols + 2 * kFrameMargin;
    p.top = row_offset + kFrameMargin;
    p.left = col_offset + kFrameMargin;
    p.bottom = p.top + rows;
    p.right = p.left + cols;

    const size_t work_pixels = size_t{p.work_rows} * p.work_cols;
    const uint32_t fft_work_size = bal_filter_fft_worksize(kBlock);
    uint8_t* work = static_cast<uint8_t*>(std::malloc(work_pixels));
    uint8_t* fft_work = static_cast<uint8_t*>(std::malloc(fft_work_size));
    uint8_t* out = static_cast<uint8_t*>(std::malloc(work_pixels));
    if (lib_memory_check(work, fft_work, out, nullptr, nullptr, nullptr, nullptr, 3) !=
        lib_memory_result::all_present)
        return BAL_NO_MEMORY;

    fill_work_image(src, rows, cols, p, work);
    const bal_status status = bal_filter_fft32_blocks(out, work, p.work_rows, p.work_cols, kOverlap, fft_work,
                                                      fft_work_size, process_border_block, nullptr);
    if (status == BAL_OK) {
        match_source_contrast(src, rows, cols, p, out);
        restore_source(src, rows, cols, p, out);
        bal_crop_image(out, p.work_rows, p.work_cols, dst_rows, dst_cols, static_cast<int32_t>(kFrameMargin),
                       static_cast<int32_t>(kFrameMargin), dst);
    }
    std::free(work);
    std::free(fft_work);
    std::free(out);
    return status;
}
