#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "imaging/bal_border_block.h"
#include "imaging/bal_expand_fft.h"
#include "imaging/bal_fft_filter.h"
#include "imaging/bal_histogram.h"

namespace {

using Image = std::vector<uint8_t>;

// Ridges at an angle with some noise, as a fingerprint window.
Image ridge_image(uint32_t rows, uint32_t cols, uint32_t seed) {
    Image img(size_t{rows} * cols);
    srand(seed);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            img[y * cols + x] =
                static_cast<uint8_t>(120 + 70 * std::sin(0.55 * x + 0.35 * y) + (rand() % 21) - 10);
    return img;
}

struct Frame {
    uint32_t dst_rows, dst_cols, row_offset, col_offset;
};

// The operation step by step from its description, with the bottom and right
// border bands given by the caller and the stretch optional.
Image reference_expand(const Image& src, uint32_t rows, uint32_t cols, const Frame& f, uint32_t bottom_band,
                       uint32_t right_band, bool stretch) {
    const uint32_t wr = f.dst_rows + 16, wc = f.dst_cols + 16;
    Image work(size_t{wr} * wc);
    for (uint32_t y = 0; y < wr; ++y)
        for (uint32_t x = 0; x < wc; ++x) work[y * wc + x] = (x + y) % 2 == 0 ? 255 : 0;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            work[(f.row_offset + 8 + y) * wc + f.col_offset + 8 + x] = src[y * cols + x];
    Image out(work.size());
    std::vector<uint8_t> fft(bal_filter_fft_worksize(32));
    EXPECT_EQ(BAL_OK, bal_filter_fft32_blocks(out.data(), work.data(), wr, wc, 16, fft.data(),
                                              uint32_t(fft.size()), process_border_block, nullptr));
    if (stretch) {
        uint8_t slo = 0, shi = 0, blo = 0, bhi = 0;
        bal_find_stretch_limits(src.data(), int32_t(rows), int32_t(cols), 1, &slo, &shi);
        uint32_t hist[256] = {};
        for (uint32_t y = 8; y < f.dst_rows + 8; ++y)
            for (uint32_t x = 8; x < f.dst_cols + 8; ++x) {
                const bool band_row = y < f.row_offset + 8 || y >= bottom_band;
                const bool band_col = x < f.col_offset + 8 || x >= right_band;
                if (band_row || band_col) ++hist[out[y * wc + x]];
            }
        bal_find_stretch_limits_from_hist(hist, 20, &blo, &bhi);
        bal_stretch_from_limits_to(out.data(), int32_t(wr), int32_t(wc), blo, bhi, slo, shi, out.data());
    }
    auto o = [&](uint32_t y, uint32_t x) -> uint8_t& {
        return out[(f.row_offset + 8 + y) * wc + f.col_offset + 8 + x];
    };
    auto s = [&](uint32_t y, uint32_t x) { return uint32_t(src[y * cols + x]); };
    if (rows > 4)
        for (uint32_t y = 2; y <= rows - 3; ++y)
            for (uint32_t x = 2; x + 2 < cols; ++x) o(y, x) = uint8_t(s(y, x));
    for (uint32_t x = 0; x < cols; ++x) {
        o(0, x) = uint8_t((s(0, x) + 3 * o(0, x)) >> 2);
        o(1, x) = uint8_t((o(1, x) + 3 * s(1, x)) >> 2);
        o(rows - 2, x) = uint8_t((o(rows - 2, x) + 3 * s(rows - 2, x)) >> 2);
        o(rows - 1, x) = uint8_t((s(rows - 1, x) + 3 * o(rows - 1, x)) >> 2);
    }
    for (uint32_t y = 0; y < rows; ++y) {
        o(y, 0) = uint8_t((s(y, 0) + 3 * o(y, 0)) >> 2);
        o(y, 1) = uint8_t((o(y, 1) + 3 * s(y, 1)) >> 2);
        o(y, cols - 2) = uint8_t((o(y, cols - 2) + 3 * s(y, cols - 2)) >> 2);
        o(y, cols - 1) = uint8_t((3 * o(y, cols - 1) + s(y, cols - 1)) >> 2);
    }
    Image dst(size_t{f.dst_rows} * f.dst_cols);
    for (uint32_t y = 0; y < f.dst_rows; ++y)
        for (uint32_t x = 0; x < f.dst_cols; ++x) dst[y * f.dst_cols + x] = out[(y + 8) * wc + x + 8];
    return dst;
}

}  // namespace

// The sensor image centred in a frame 16 larger: the bands of the literal
// formula (from WR - (offset + 8) on), the inner part unchanged.
TEST(ExpandImageFft, CentredEvenMarginFollowsTheFormula) {
    const uint32_t rows = 176, cols = 96;
    const Image src = ridge_image(rows, cols, 1);
    const Frame f{192, 112, 8, 8};
    Image dst(size_t{f.dst_rows} * f.dst_cols, 7);
    ASSERT_EQ(BAL_OK, bal_expand_image_fft(src.data(), rows, cols, f.dst_rows, f.dst_cols, f.row_offset,
                                           f.col_offset, dst.data()));
    const uint32_t wr = f.dst_rows + 16, wc = f.dst_cols + 16;
    EXPECT_EQ(dst,
              reference_expand(src, rows, cols, f, wr - (f.row_offset + 8), wc - (f.col_offset + 8), true));
    for (uint32_t y = 2; y < rows - 2; ++y)
        for (uint32_t x = 2; x < cols - 2; ++x)
            ASSERT_EQ(src[y * cols + x], dst[(y + 8) * f.dst_cols + x + 8]) << y << "," << x;

    // The border is real texture at the source's contrast, not a flat fill.
    uint8_t lo = 255, hi = 0;
    for (uint32_t x = 0; x < f.dst_cols; ++x) {
        lo = std::min(lo, dst[x]);
        hi = std::max(hi, dst[x]);
    }
    EXPECT_GT(hi - lo, 40);
}

// Off-centre sources: the bottom and right bands start right after the
// source, so no source pixel enters the border histogram; a frame without
// any border pixel skips the stretch and keeps the source's own grey levels.
TEST(ExpandImageFft, OffCentreAndBorderlessFrames) {
    struct Case {
        uint32_t rows, cols;
        Frame f;
    };
    const Case cases[] = {
        {40, 36, {48, 44, 0, 0}},   // all border at the bottom and right
        {40, 36, {48, 44, 8, 8}},   // all at the top and left
        {40, 36, {56, 52, 3, 11}},  // uneven
        {50, 40, {50, 40, 0, 0}},   // no border at all
        {33, 2, {40, 18, 5, 16}},   // two columns, no inner part
        {2, 40, {18, 56, 16, 0}},   // two rows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols << " in " << c.f.dst_rows << "x"
                                        << c.f.dst_cols << " at " << c.f.row_offset << "," << c.f.col_offset);
        const Image src = ridge_image(c.rows, c.cols, c.rows * 7 + c.cols);
        Image dst(size_t{c.f.dst_rows} * c.f.dst_cols);
        const bal_status status = bal_expand_image_fft(src.data(), c.rows, c.cols, c.f.dst_rows, c.f.dst_cols,
                                                       c.f.row_offset, c.f.col_offset, dst.data());
        if (c.f.dst_rows + 16 < 32 || c.f.dst_cols + 16 < 32) {
            EXPECT_EQ(BAL_BAD_ARGUMENT, status);  // below one FFT block
            continue;
        }
        ASSERT_EQ(BAL_OK, status);
        const bool border = c.f.dst_rows > c.rows || c.f.dst_cols > c.cols;
        EXPECT_EQ(dst, reference_expand(src, c.rows, c.cols, c.f, c.f.row_offset + 8 + c.rows,
                                        c.f.col_offset + 8 + c.cols, border));
    }
}

// Every refused size gives 13 and leaves dst alone; a frame below one FFT
// block gives the filter's 14, also without writing.
TEST(ExpandImageFft, RefusedSizesLeaveTheOutputAlone) {
    struct Case {
        uint32_t rows, cols, dst_rows, dst_cols, row_offset, col_offset;
        bal_status expected;
    };
    const uint32_t big = 0xFFFFFFFFu;
    const Case cases[] = {
        {1, 40, 16, 48, 0, 0, BAL_UNSUPPORTED},   // one row
        {40, 1, 48, 16, 0, 0, BAL_UNSUPPORTED},   // one column
        {0, 0, 16, 16, 0, 0, BAL_UNSUPPORTED},    // empty
        {40, 40, 30, 40, 0, 0, BAL_UNSUPPORTED},  // frame smaller than the source
        {40, 40, 48, 48, 9, 0, BAL_UNSUPPORTED},  // source past the bottom
        {40, 40, 48, 48, 0, 9, BAL_UNSUPPORTED},  // source past the right
        {40, 40, 57, 48, 0, 0, BAL_UNSUPPORTED},  // frame more than 16 larger
        {40, 40, 48, 57, 0, 0, BAL_UNSUPPORTED},
        {40, 40, 48, 48, big, 0, BAL_UNSUPPORTED},  // offset sums wrap in 32 bits
        {40, 40, 48, 48, 0, big - 39, BAL_UNSUPPORTED},
        {big, 40, big, 48, 0, 0, BAL_UNSUPPORTED},  // frame too large
        {10, 40, 12, 48, 1, 4, BAL_BAD_ARGUMENT},   // frame of 28 rows: below one block
    };
    const Image src = ridge_image(40, 40, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rows << "x" << c.cols << " in " << c.dst_rows << "x"
                                        << c.dst_cols << " at " << c.row_offset << "," << c.col_offset);
        Image dst(64 * 64, 0xA5);
        EXPECT_EQ(c.expected, bal_expand_image_fft(src.data(), c.rows, c.cols, c.dst_rows, c.dst_cols,
                                                   c.row_offset, c.col_offset, dst.data()));
        EXPECT_EQ(Image(64 * 64, 0xA5), dst);
    }
}
