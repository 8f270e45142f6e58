#include "imaging/bal_fft_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Image = std::vector<uint8_t>;

bal_status identity_callback(int32_t*, int32_t*, uint32_t, uint8_t*, uint32_t, void*) { return BAL_OK; }

bal_status refuse_callback(int32_t*, int32_t*, uint32_t, uint8_t*, uint32_t, void*) { return BAL_UNSUPPORTED; }

// Replaces the block by a constant: the spectrum keeps only a DC term, whose
// value the context's counter picks (one grey level per block visited).
struct ConstantBlocks {
    int calls = 0;
    int32_t levels[8] = {40, 200, 90, 160, 60, 220, 120, 30};
};

bal_status constant_block_callback(int32_t* re, int32_t* im, uint32_t b, uint8_t*, uint32_t,
                                   void* context) {
    auto* state = static_cast<ConstantBlocks*>(context);
    const uint32_t n = b * (b / 2 + 1);
    std::fill(re, re + n, 0);
    std::fill(im, im + n, 0);
    // The inverse divides by B^2; the pixel conversion maps (p - 128) * 4096 / B^2 back to p.
    re[0] = (state->levels[state->calls++ % 8] - 128) * 4096;
    return BAL_OK;
}

Image smooth_random_image(uint32_t rows, uint32_t cols, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0, 6.28);
    const double p1 = phase(rng), p2 = phase(rng);
    Image img(size_t{rows} * cols);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            img[y * cols + x] = static_cast<uint8_t>(
                128 + 50 * std::sin(0.7 * x + 0.3 * y + p1) + 30 * std::cos(0.2 * x - 0.5 * y + p2) +
                std::uniform_int_distribution<int>(-20, 20)(rng));
    return img;
}

int max_abs_difference(const Image& a, const Image& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

}  // namespace

TEST(FftBlockFilter, WorkSizesMatchTheAreaLayout) {
    EXPECT_EQ(bal_filter_fft_worksize(16), 3012u);
    EXPECT_EQ(bal_filter_fft_worksize(32), 11652u);
    EXPECT_EQ(bal_filter_fft_worksize(64), 45828u);
    EXPECT_EQ(bal_filter_fft_worksize(128), 181764u);
}

// An unchanged spectrum gives the image back at its own contrast for every
// block size, up to the rounding of the fixed-point transforms (128 included).
TEST(FftBlockFilter, IdentityCallbackReturnsTheImageForEveryBlockSize) {
    for (uint32_t block : {16u, 32u, 64u, 128u}) {
        SCOPED_TRACE(block);
        const uint32_t rows = 176, cols = 136;
        const Image src = smooth_random_image(rows, cols, block);
        Image dst(src.size(), 0);
        EXPECT_EQ(bal_filter_fft_blocks_simple(dst.data(), src.data(), rows, cols, block,
                                               block / 2, 0, identity_callback, nullptr),
                  BAL_OK);
        double mean_error = 0, src_energy = 0, dst_energy = 0;
        for (size_t i = 0; i < src.size(); ++i) {
            mean_error += std::abs(src[i] - dst[i]);
            src_energy += (src[i] - 128.0) * (src[i] - 128.0);
            dst_energy += (dst[i] - 128.0) * (dst[i] - 128.0);
        }
        mean_error /= src.size();
        // Unit gain: the contrast around 128 comes back whole (128-pixel
        // blocks included, whose transforms alone would return a quarter).
        EXPECT_NEAR(std::sqrt(dst_energy / src_energy), 1.0, 0.03);
        // The 128-point pair keeps a quarter of a grey level less precision.
        EXPECT_LE(max_abs_difference(src, dst), block <= 32 ? 1 : block == 64 ? 3 : 20);
        EXPECT_LE(mean_error, block == 128 ? 3.0 : 0.5);
    }
}

TEST(FftBlockFilter, BlocksOwnTheirAreaFromTheMiddleOfTheOverlap) {
    // rows 65, B 64, overlap 32: two block rows, the second flush at row 1,
    // owning rows 33..64; one block column.
    const uint32_t rows = 65, cols = 64;
    const Image src(size_t{rows} * cols, 128);
    Image dst(src.size(), 0);
    std::vector<uint8_t> work(bal_filter_fft_worksize(64));
    ConstantBlocks state;
    ASSERT_EQ(bal_filter_fft_blocks(dst.data(), src.data(), rows, cols, 64, 32, work.data(),
                                    static_cast<uint32_t>(work.size()), constant_block_callback,
                                    &state),
              BAL_OK);
    EXPECT_EQ(state.calls, 2);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            ASSERT_EQ(dst[y * cols + x], y < 33 ? 40 : 200) << y << "," << x;
}

TEST(FftBlockFilter, BlockCountsCoverTheImageWithTheRequestedOverlap) {
    // 176 x 96 with B = 32 and overlap 16: 10 block rows and 5 block columns.
    const uint32_t rows = 176, cols = 96;
    const Image src(size_t{rows} * cols, 100);
    Image dst(src.size());
    std::vector<uint8_t> work(bal_filter_fft_worksize(32));
    ConstantBlocks state;
    ASSERT_EQ(bal_filter_fft32_blocks(dst.data(), src.data(), rows, cols, 16, work.data(),
                                      static_cast<uint32_t>(work.size()), constant_block_callback,
                                      &state),
              BAL_OK);
    EXPECT_EQ(state.calls, 50);
}

TEST(FftBlockFilter, StatusCodes) {
    const uint32_t rows = 64, cols = 64;
    const Image src = smooth_random_image(rows, cols, 7);
    Image dst(src.size(), 77);
    std::vector<uint8_t> work(bal_filter_fft_worksize(64) + 8);
    const uint32_t work_size = bal_filter_fft_worksize(64);
    auto run = [&](uint32_t block, const uint8_t* from, uint8_t* to, uint8_t* area,
                   uint32_t size) {
        return bal_filter_fft_blocks(to, from, rows, cols, block, 32, area, size,
                                     identity_callback, nullptr);
    };
    EXPECT_EQ(run(48, src.data(), dst.data(), work.data(), work_size), BAL_UNSUPPORTED);
    EXPECT_EQ(run(128, src.data(), dst.data(), work.data(), work_size), BAL_BAD_ARGUMENT);
    EXPECT_EQ(run(64, dst.data(), dst.data(), work.data(), work_size), BAL_BAD_ARGUMENT);
    EXPECT_EQ(run(64, src.data(), dst.data(), work.data(), 64 * 64 - 1), BAL_FFT_WORK_TOO_SMALL);
    EXPECT_EQ(run(64, src.data(), dst.data(), work.data(), 64 * 64 + 100), BAL_FFT_WORK_TOO_SMALL);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 77; }));
    // Any alignment of the work area works with the documented size.
    for (uint32_t offset = 0; offset < 4; ++offset)
        EXPECT_EQ(run(64, src.data(), dst.data(), work.data() + offset, work_size), BAL_OK);

    EXPECT_EQ(bal_filter_fft_blocks(dst.data(), src.data(), rows, cols, 64, 32, work.data(),
                                    work_size, refuse_callback, nullptr),
              BAL_UNSUPPORTED);
}

TEST(FftBlockFilter, PaddingDriverLeavesDestinationUntouchedOnFailure) {
    const uint32_t rows = 40, cols = 30;
    const Image src = smooth_random_image(rows, cols, 3);
    Image dst(src.size(), 5);
    EXPECT_EQ(bal_filter_fft_blocks_simple(dst.data(), src.data(), rows, cols, 64, 32, 4,
                                           refuse_callback, nullptr),
              BAL_UNSUPPORTED);
    EXPECT_EQ(bal_filter_fft_blocks_simple(dst.data(), src.data(), rows, cols, 48, 32, 4,
                                           identity_callback, nullptr),
              BAL_UNSUPPORTED);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 5; }));
}

TEST(FftBlockFilter, InPlaceEqualsSeparateBuffers) {
    const uint32_t rows = 96, cols = 96;
    const Image src = smooth_random_image(rows, cols, 11);
    std::vector<uint8_t> kernel(64 * 33);
    for (size_t i = 0; i < kernel.size(); ++i) kernel[i] = static_cast<uint8_t>(i * 37);
    for (uint32_t pad : {0u, 4u}) {
        Image separate(src.size());
        Image in_place = src;
        ASSERT_EQ(bal_filter_fft_blocks_simple(separate.data(), src.data(), rows, cols, 64, 32,
                                               pad, bal_filter_fft_convolution, kernel.data()),
                  BAL_OK);
        ASSERT_EQ(bal_filter_fft_blocks_simple(in_place.data(), in_place.data(), rows, cols, 64,
                                               32, pad, bal_filter_fft_convolution,
                                               kernel.data()),
                  BAL_OK);
        EXPECT_EQ(separate, in_place) << "pad " << pad;
    }
}

TEST(FftBlockFilter, ConvolutionCallbacksWeightEveryEntry) {
    struct Case {
        int32_t v;
        uint8_t k;
        int32_t plain, scaled, inverted;
    };
    const Case cases[] = {
        {1000, 255, 1000, 999, 3},     {1000, 0, 3, 0, 1000},  {-1000, 0, -4, 0, -1000},
        {256, 255, 256, 256, 1},       {-256, 255, -256, -256, -1}, {1000, 128, 503, 501, 500},
        {-1, 255, -1, -1, -1},         {0, 17, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "v=" << c.v << " k=" << int{c.k});
        std::vector<uint8_t> kernel(16 * 9, c.k);
        auto apply = [&](bal_spectrum_callback cb) {
            std::vector<int32_t> re(16 * 9, c.v), im(16 * 9, c.v);
            EXPECT_EQ(cb(re.data(), im.data(), 16, nullptr, 0, kernel.data()), BAL_OK);
            EXPECT_EQ(re, im);
            return re[16 * 9 - 1];
        };
        EXPECT_EQ(apply(bal_filter_fft_convolution), c.plain);
        EXPECT_EQ(apply(bal_filter_fft_convolution_new), c.scaled);
        EXPECT_EQ(apply(bal_filter_fft_inverted_convolution), c.inverted);
    }
    EXPECT_EQ(highpass_filter_process(nullptr, nullptr, 64, nullptr, 0, nullptr), BAL_UNSUPPORTED);
    EXPECT_EQ(lowpass_filter_process(nullptr, nullptr, 64, nullptr, 0, nullptr), BAL_UNSUPPORTED);
}

// The kernel samples a radial band-pass: a Gaussian low cut (sigma = low_cut
// cycles/mm) and a raised-cosine high cut between high_cut -+ high_width.
TEST(CreateFilter, FollowsTheFloatingPointBandPassModel) {
    for (int32_t resolution : {250, 500, 508, 1000}) {
        SCOPED_TRACE(resolution);
        uint8_t* kernel = create_filter(resolution, 201, 0, 1280, 512);
        ASSERT_NE(kernel, nullptr);
        EXPECT_EQ(kernel[0], 0);
        int worst = 0;
        for (int ky = 0; ky < 64; ++ky) {
            for (int kx = 0; kx <= 32; ++kx) {
                if (ky >= 1 && ky < 32) {
                    EXPECT_EQ(kernel[ky * 33 + kx], kernel[(64 - ky) * 33 + kx]);
                }
                const int fy = ky <= 32 ? ky : ky - 64;
                const double f = std::sqrt(double(kx * kx + fy * fy)) / 64 * resolution / 25.4;
                const double sigma = 201.0 / 256;
                double h = 1 - std::exp(-f * f / (2 * sigma * sigma));
                if (f >= 7) {
                    h = 0;
                } else if (f > 3) {
                    h *= 0.5 * (1 + std::cos(M_PI * (f - 3) / 4));
                }
                worst = std::max(worst, std::abs(kernel[ky * 33 + kx] - int(std::lround(255 * h))));
            }
        }
        // Quantisation of the profile to whole bins (a quarter of a kernel step).
        EXPECT_LE(worst, resolution <= 500 ? 12 : 24);
        std::free(kernel);
    }
}

TEST(CreateFilter, RaisedCosineLowCutAndHardHighCut) {
    // Low cut 2 cycles/mm with width 1, high cut 6 cycles/mm with width 0.
    uint8_t* kernel = create_filter(500, 512, 256, 1536, 0);
    ASSERT_NE(kernel, nullptr);
    // One kernel step is 500 / 25.4 / 64 = 0.31 cycle/mm: frequencies well
    // inside the band pass fully, those outside are stopped.
    auto at = [&](int kx) { return int{kernel[kx]}; };
    EXPECT_EQ(at(0), 0);
    EXPECT_EQ(at(2), 0);        // 0.79 cycles/mm
    EXPECT_GE(at(12), 250);     // 4.7 cycles/mm
    EXPECT_EQ(at(20), 0);       // 7.9 cycles/mm
    std::free(kernel);
}

TEST(RenderFft, DcTermLandsInTheCentre) {
    for (uint32_t b : {16u, 32u}) {
        std::vector<int32_t> re(b * (b / 2 + 1), 0), im(re.size(), 0);
        re[0] = 256 * 200;
        std::vector<uint8_t> img(b * b, 9);
        bal_render_fft(img.data(), re.data(), im.data(), b);
        for (uint32_t i = 0; i < b * b; ++i)
            EXPECT_EQ(img[i], i == (b / 2) * b + b / 2 ? 200 : 0);
    }
}

TEST(RenderFft, NegativeHorizontalFrequenciesShowTheConjugate) {
    const uint32_t b = 16, stride = b / 2 + 1;
    std::vector<int32_t> re(b * stride, 0), im(re.size(), 0);
    re[3 * stride + 2] = 256 * 50;      // (ky 3, kx 2)
    im[3 * stride + 2] = -256 * 20;
    std::vector<uint8_t> img(b * b);
    bal_render_fft(img.data(), re.data(), im.data(), b);
    EXPECT_EQ(img[(3 + 8) * b + (2 + 8)], 70);
    EXPECT_EQ(img[(-3 + 8) * b + (-2 + 8)], 70);  // the mirrored conjugate
    EXPECT_EQ(std::count(img.begin(), img.end(), 0), int(b * b) - 2);
}
