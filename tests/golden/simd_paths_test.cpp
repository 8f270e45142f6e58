// The vector paths of the image library give exactly the scalar reference's
// integers: on random blocks over the whole input range the transforms meet
// (wrapping included), and on windows of real captures; so do the ridge
// wavelength fields measured eight blocks at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "fp_test_data.h"
#include "imaging/bal_fft_lanes.h"
#include "imaging/bal_kernels3x3.h"
#include "imaging/bal_median.h"
#include "imaging/bal_orientation_ops.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_wavelength.h"
#include "match/fourier/zr_fourier_internal.h"
#include "math/zr_fft.h"

namespace {

constexpr uint32_t kLanes = BAL_FFT_LANES;
constexpr uint32_t kPixels = 32 * 32;
constexpr uint32_t kHalf = BAL_FFT32_HALF_COLUMNS;

// A 32-byte aligned int32 buffer, as the lane transforms take.
class Aligned {
public:
    explicit Aligned(size_t n, int32_t fill = 0)
        : data_(static_cast<int32_t*>(std::aligned_alloc(BAL_FFT_ALIGNMENT, n * sizeof(int32_t)))), size_(n) {
        std::fill(data_, data_ + n, fill);
    }
    ~Aligned() { std::free(data_); }
    Aligned(const Aligned&) = delete;
    Aligned& operator=(const Aligned&) = delete;
    int32_t* data() const { return data_; }
    int32_t& operator[](size_t i) { return data_[i]; }
    int32_t operator[](size_t i) const { return data_[i]; }
    int32_t* begin() { return data_; }
    int32_t* end() { return data_ + size_; }

private:
    int32_t* data_;
    size_t size_;
};

struct Spectra {
    Aligned re, im;
};

void run(const Aligned& in, uint32_t columns, bal_simd_path path, Spectra& s) {
    bal_fft2d32_lanes(in.data(), columns, s.re.data(), s.im.data(), path);
}

// Lane b of every path equals zr_fftn2d32 of block b, column by column.
void expect_all_paths_match(const Aligned& in, uint32_t columns) {
    std::vector<int32_t> block(kPixels), re(32 * kHalf), im(32 * kHalf);
    for (bal_simd_path path : {bal_simd_path::scalar, bal_simd_path::portable, bal_simd_path::avx2,
                               bal_simd_path::automatic}) {
        SCOPED_TRACE(int(path));
        Spectra s{Aligned(32 * columns * kLanes, 0x5A5A5A5A), Aligned(32 * columns * kLanes, 0x5A5A5A5A)};
        run(in, columns, path, s);
        for (uint32_t b = 0; b < kLanes; ++b) {
            for (uint32_t i = 0; i < kPixels; ++i) block[i] = in[i * kLanes + b];
            zr_fftn2d32(block.data(), re.data(), im.data());
            for (uint32_t u = 0; u < 32; ++u)
                for (uint32_t v = 0; v < columns; ++v) {
                    const size_t at = (size_t(u) * columns + v) * kLanes + b;
                    ASSERT_EQ(re[u * kHalf + v], s.re[at]) << "block " << b << " bin " << u << "," << v;
                    ASSERT_EQ(im[u * kHalf + v], s.im[at]) << "block " << b << " bin " << u << "," << v;
                }
        }
    }
}

TEST(SimdPaths, LaneTransformsEqualTheScalarTransformOnRandomBlocks) {
    std::mt19937 rng(20261211);
    const struct {
        int32_t lo, hi;
    } ranges[] = {
        {-255 * 248 * 248 / 16, 255 * 248 * 248 / 16},  // windowed pixels, as the wavelength field makes
        {-2, 2},                                        // rounding of tiny values
        {INT32_MIN, INT32_MAX},                         // wrapping sums and products
    };
    for (const auto& r : ranges) {
        std::uniform_int_distribution<int32_t> value(r.lo, r.hi);
        for (uint32_t columns : {1u, 9u, 16u, 17u}) {
            SCOPED_TRACE(std::to_string(r.lo) + " columns " + std::to_string(columns));
            Aligned in(kPixels * kLanes);
            for (int32_t& v : in) v = value(rng);
            expect_all_paths_match(in, columns);
        }
    }
}

TEST(SimdPaths, LaneTransformsEqualTheScalarTransformOnRealWindows) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    ASSERT_GE(paths.size(), kLanes);
    // Eight 32 x 32 windows from different captures, mean removed and
    // weighted by a triangle as the ridge-wavelength measurement does.
    Aligned in(kPixels * kLanes);
    for (uint32_t b = 0; b < kLanes; ++b) {
        const fp_test::GreyImage g = fp_test::read_pgm(paths[b * (paths.size() / kLanes)]);
        ASSERT_GE(g.rows, 32u);
        const uint32_t top = 40 + 7 * b, left = 20 + 3 * b;
        int32_t sum = 0;
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x) sum += g.pixels[(top + y) * g.cols + left + x];
        const int32_t mean = sum / int32_t(kPixels);
        const auto weight = [](uint32_t i) { return int32_t(i < 16 ? i : 31 - i) * 16; };
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                in[(y * 32 + x) * kLanes + b] =
                    weight(y) * weight(x) * (int32_t(g.pixels[(top + y) * g.cols + left + x]) - mean) / 16;
    }
    for (uint32_t columns : {9u, 17u}) expect_all_paths_match(in, columns);
}

// Lane b of every inverse path equals zr_fftni2d32 of spectrum b on the rows
// asked for, and its work area the reference's.
void expect_inverse_paths_match(const Aligned& re, const Aligned& im, uint32_t first_pair, uint32_t pairs) {
    const size_t spectrum = 32 * kHalf;
    std::vector<int32_t> r(spectrum), i(spectrum), block(kPixels), work(spectrum);
    for (bal_simd_path path : {bal_simd_path::scalar, bal_simd_path::portable, bal_simd_path::avx2,
                               bal_simd_path::automatic}) {
        SCOPED_TRACE(int(path));
        Aligned out(kPixels * kLanes, 0x5A5A5A5A), out_work(spectrum * kLanes, 0x5A5A5A5A);
        bal_ifft2d32_lanes(re.data(), im.data(), first_pair, pairs, out.data(), out_work.data(), path);
        for (uint32_t b = 0; b < kLanes; ++b) {
            for (size_t k = 0; k < spectrum; ++k) {
                r[k] = re[k * kLanes + b];
                i[k] = im[k * kLanes + b];
            }
            zr_fftni2d32(r.data(), i.data(), block.data(), work.data());
            for (uint32_t y = 2 * first_pair; y < 2 * (first_pair + pairs); ++y)
                for (uint32_t x = 0; x < 32; ++x)
                    ASSERT_EQ(block[y * 32 + x], out[(y * 32 + x) * kLanes + b]) << "block " << b << " at " << y << "," << x;
            for (size_t k = 0; k < spectrum; ++k) ASSERT_EQ(work[k], out_work[k * kLanes + b]) << "work " << k;
        }
    }
}

TEST(SimdPaths, LaneInversesEqualTheScalarInverse) {
    std::mt19937 rng(1211);
    const struct {
        int32_t lo, hi;
        uint32_t first_pair, pairs;
    } cases[] = {
        {-(1 << 20), 1 << 20, 0, 16},      // every row
        {-(1 << 20), 1 << 20, 4, 8},       // the rows the Gabor tile reads
        {-3, 3, 15, 1},                    // rounding of tiny values, the last pair
        {INT32_MIN, INT32_MAX, 2, 5},      // wrapping
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lo) + " pairs " + std::to_string(c.first_pair) + "+" + std::to_string(c.pairs));
        std::uniform_int_distribution<int32_t> value(c.lo, c.hi);
        Aligned re(32 * kHalf * kLanes), im(32 * kHalf * kLanes);
        for (int32_t& v : re) v = value(rng);
        for (int32_t& v : im) v = value(rng);
        expect_inverse_paths_match(re, im, c.first_pair, c.pairs);
    }
}

// Real spectra: the forward transforms of real windows, filtered by a
// band-pass weight as the Gabor filter does, come back as the scalar
// inverse gives them.
TEST(SimdPaths, LaneInversesEqualTheScalarInverseOnRealSpectra) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    ASSERT_GE(paths.size(), kLanes);
    Aligned re(32 * kHalf * kLanes), im(32 * kHalf * kLanes);
    std::vector<int32_t> window(kPixels), r(32 * kHalf), i(32 * kHalf);
    for (uint32_t b = 0; b < kLanes; ++b) {
        const fp_test::GreyImage g = fp_test::read_pgm(paths[b * 7]);
        for (uint32_t y = 0; y < 32; ++y)
            for (uint32_t x = 0; x < 32; ++x)
                window[y * 32 + x] = (int32_t(g.pixels[(60 + y) * g.cols + 30 + x]) - 128) * 8192;
        zr_fftn2d32(window.data(), r.data(), i.data());
        for (uint32_t u = 0; u < 32; ++u)
            for (uint32_t v = 0; v < kHalf; ++v) {
                const uint32_t d = std::min(u, 32 - u) + v;
                const int32_t gain = d >= 2 && d <= 8 ? 200 : 0;
                re[(u * kHalf + v) * kLanes + b] = (gain * r[u * kHalf + v]) >> 8;
                im[(u * kHalf + v) * kLanes + b] = (gain * i[u * kHalf + v]) >> 8;
            }
    }
    expect_inverse_paths_match(re, im, 4, 8);
}

// The spectral search's correlation sums: the SSE2 path against the scalar
// one on random canvases (orientations over the whole byte, including the
// -128 wrap; frequencies near and far; invalid cells), both lattice steps,
// ranges whose widths leave every tail length, and shifted probes.
TEST(SimdPaths, SpectralCorrelationEqualsTheScalarSums) {
    std::mt19937 rng(7);
    constexpr uint32_t kCols = 60, kRows = 50, kPad = 8, kStride = (kCols + kPad) * 2;
    std::vector<uint8_t> reference(kStride * kRows), probe(kStride * kRows);
    std::uniform_int_distribution<int> byte(0, 255), near(0, 40), coin(0, 9);
    for (int trial = 0; trial < 200; ++trial) {
        for (auto* canvas : {&reference, &probe})
            for (uint32_t y = 0; y < kRows; ++y)
                for (uint32_t x = 0; x < kCols + kPad; ++x) {
                    uint8_t* cell = canvas->data() + y * kStride + x * 2;
                    const bool valid = x < kCols && coin(rng) >= 3;
                    cell[0] = uint8_t(trial % 2 ? byte(rng) : 120 + near(rng));
                    cell[1] = valid ? uint8_t(trial % 3 ? 1 + near(rng) : 1 + byte(rng) % 255) : 0;
                }
        const int32_t dx = int32_t(trial % 9) - 4, dy = int32_t(trial % 7) - 3;
        const int32_t left = 4 + trial % 5, top = 3 + trial % 4;
        const int32_t right = std::min<int32_t>(left + trial % 41, kCols - 6);
        const int32_t bottom = std::min<int32_t>(top + trial % 33, kRows - 5);
        for (int32_t step : {1, 2}) {
            SCOPED_TRACE("trial " + std::to_string(trial) + " step " + std::to_string(step));
            const spectral_correlation a = spectral_correlate_lattice(
                {reference.data(), kStride, probe.data(), kStride, dx, dy, left, top, right, bottom, step}, false);
            const spectral_correlation b = spectral_correlate_lattice(
                {reference.data(), kStride, probe.data(), kStride, dx, dy, left, top, right, bottom, step}, true);
            ASSERT_EQ(a.sum, b.sum);
            ASSERT_EQ(a.pairs, b.pairs);
        }
    }
}

// A hand-counted case: orientations 127 and 255 differ by -128 (weight 0),
// 10 and 0 by 10 (weight 11); frequencies 5 and 25 by 20 (weight 1).
TEST(SimdPaths, SpectralCorrelationOfAHandCountedRow) {
    constexpr uint32_t kCols = 24, kStride = (kCols + 8) * 2;
    std::vector<uint8_t> reference(kStride, 0), probe(kStride, 0);
    for (uint32_t x = 0; x < kCols; ++x) {
        reference[2 * x] = x < 12 ? 10 : 127;
        reference[2 * x + 1] = 5;
        probe[2 * x] = x < 12 ? 0 : 255;
        probe[2 * x + 1] = x == 3 ? 0 : 25;  // cell 3 of the probe is invalid
    }
    for (bool vector : {false, true}) {
        const spectral_correlation c =
            spectral_correlate_lattice({reference.data(), kStride, probe.data(), kStride, 0, 0, 0, 0, 23, 0, 1}, vector);
        EXPECT_EQ(23u, c.pairs);
        EXPECT_EQ(11u * 11u, c.sum);
    }
}

}  // namespace

namespace {

// Image filters whose row loops were rewritten for vector lanes give the
// plain loops' bytes: on random images of awkward sizes (narrow, odd,
// few distinct values so that ties occur) and on every real capture.
struct FilterCase {
    uint32_t rows, cols;
    int lo, hi;
};

constexpr FilterCase kFilterCases[] = {
    {2, 2, 0, 255},  {2, 7, 0, 255},    {3, 3, 0, 255},   {5, 2, 0, 255},   {3, 17, 0, 255},
    {17, 33, 0, 255}, {31, 64, 120, 123}, {96, 176, 0, 255}, {40, 19, 0, 1}, {9, 250, 254, 255},
};

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed, int lo, int hi) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> value(lo, hi);
    std::vector<uint8_t> v(n);
    for (auto& p : v) p = uint8_t(value(rng));
    return v;
}

void expect_median_paths_match(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols) {
    std::vector<uint8_t> expected(src.size(), 0xA5), fast(src.size(), 0x5A);
    ASSERT_EQ(BAL_OK, bal_median_uint8_reference(src.data(), int32_t(rows), int32_t(cols), expected.data()));
    ASSERT_EQ(BAL_OK, bal_median_uint8(src.data(), int32_t(rows), int32_t(cols), fast.data()));
    EXPECT_EQ(expected, fast) << rows << " x " << cols;
    auto in_place = src;
    ASSERT_EQ(BAL_OK, bal_median_uint8(in_place.data(), int32_t(rows), int32_t(cols), in_place.data()));
    EXPECT_EQ(expected, in_place) << rows << " x " << cols << " in place";
}

void expect_sobel_paths_match(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols) {
    std::vector<int8_t> ex(src.size(), 0x55), ey(src.size(), 0x55), fx(src.size(), -0x55), fy(src.size(), -0x55);
    bal_sobel_2_reference(src.data(), rows, cols, ex.data(), ey.data());
    bal_sobel_2(src.data(), rows, cols, fx.data(), fy.data());
    EXPECT_EQ(ex, fx) << rows << " x " << cols;
    EXPECT_EQ(ey, fy) << rows << " x " << cols;
}

// The oriented mean and median against their pixel-by-pixel loops, into a
// separate image and in place.
void expect_oriented_paths_match(const std::vector<uint8_t>& src, const std::vector<uint8_t>& orientation,
                                 uint32_t rows, uint32_t cols) {
    using Filter = bal_status (*)(const uint8_t*, uint32_t, uint32_t, const uint8_t*, uint8_t*);
    const struct {
        Filter fast, reference;
        const char* name;
    } filters[] = {{bal_oriented_mean, bal_oriented_mean_reference, "mean"},
                   {bal_oriented_median, bal_oriented_median_reference, "median"}};
    for (const auto& f : filters) {
        std::vector<uint8_t> expected(src.size(), 0xA5), fast(src.size(), 0xA5);
        ASSERT_EQ(BAL_OK, f.reference(src.data(), rows, cols, orientation.data(), expected.data()));
        ASSERT_EQ(BAL_OK, f.fast(src.data(), rows, cols, orientation.data(), fast.data()));
        EXPECT_EQ(expected, fast) << f.name << " " << rows << " x " << cols;
        auto in_place = src;
        ASSERT_EQ(BAL_OK, f.fast(in_place.data(), rows, cols, orientation.data(), in_place.data()));
        auto expected_in_place = src;
        ASSERT_EQ(BAL_OK, f.reference(expected_in_place.data(), rows, cols, orientation.data(),
                                      expected_in_place.data()));
        EXPECT_EQ(expected_in_place, in_place) << f.name << " " << rows << " x " << cols << " in place";
    }
}

// Up-scaling of a byte field by block, into the full-size image and into
// images cut short or left with margins on either side.
void expect_upscale_paths_match(const std::vector<uint8_t>& field, uint32_t rows, uint32_t cols, int32_t block) {
    const int32_t full_rows = int32_t(rows) * block, full_cols = int32_t(cols) * block;
    const struct {
        int32_t rows, cols;
    } outputs[] = {{full_rows, full_cols}, {full_rows - block - 1, full_cols - 3}, {full_rows + 5, full_cols + block},
                   {block / 2, full_cols}, {full_rows, 1}};
    for (const auto& o : outputs) {
        if (o.rows <= 0 || o.cols <= 0) continue;
        const size_t n = size_t(o.rows) * size_t(o.cols);
        std::vector<uint8_t> expected(n, 0xA5), fast(n, 0xA5);
        bal_scale_up_bilinear_uint8_reference(field.data(), rows, cols, block, expected.data(), o.rows, o.cols);
        bal_scale_up_bilinear_uint8(field.data(), rows, cols, block, fast.data(), o.rows, o.cols);
        EXPECT_EQ(expected, fast) << rows << " x " << cols << " by " << block << " into " << o.rows << " x " << o.cols;
    }
}

TEST(SimdPaths, ImageFiltersEqualThePlainLoopsOnRandomImages) {
    uint32_t seed = 3000;
    for (const FilterCase& c : kFilterCases) {
        const auto src = random_bytes(size_t(c.rows) * c.cols, seed++, c.lo, c.hi);
        expect_median_paths_match(src, c.rows, c.cols);
        expect_sobel_paths_match(src, c.rows, c.cols);
        // Orientations at random (every class, and the folds at 0, 128, 136
        // and 255) and in broad bands (few classes a row).
        expect_oriented_paths_match(src, random_bytes(src.size(), seed++, 0, 255), c.rows, c.cols);
        std::vector<uint8_t> bands(src.size());
        for (size_t i = 0; i < bands.size(); ++i) bands[i] = uint8_t((i / c.cols) * 7 + (i % c.cols) / 5);
        expect_oriented_paths_match(src, bands, c.rows, c.cols);
        if (c.rows <= 40 && c.cols <= 40)
            for (int32_t block : {1, 2, 7, 12, 16}) expect_upscale_paths_match(src, c.rows, c.cols, block);
    }
}

TEST(SimdPaths, ImageFiltersEqualThePlainLoopsOnRealCaptures) {
    FP_REQUIRE_CAPTURES();
    for (const auto& path : fp_test::capture_paths()) {
        SCOPED_TRACE(path.string());
        const fp_test::GreyImage g = fp_test::read_pgm(path);
        expect_median_paths_match(g.pixels, g.rows, g.cols);
        expect_sobel_paths_match(g.pixels, g.rows, g.cols);
        // Orientations that turn slowly across the capture.
        std::vector<uint8_t> orientation(g.pixels.size());
        for (size_t i = 0; i < orientation.size(); ++i)
            orientation[i] = uint8_t((i / g.cols) / 3 + (i % g.cols) / 2);
        expect_oriented_paths_match(g.pixels, orientation, g.rows, g.cols);
        // The 12 x 12 block means of the capture, brought back to pixels.
        const uint32_t br = g.rows / 12, bc = g.cols / 12;
        std::vector<uint8_t> means(size_t(br) * bc);
        for (uint32_t i = 0; i < br; ++i)
            for (uint32_t j = 0; j < bc; ++j) {
                uint32_t sum = 0;
                for (uint32_t y = 0; y < 12; ++y)
                    for (uint32_t x = 0; x < 12; ++x) sum += g.pixels[(i * 12 + y) * g.cols + j * 12 + x];
                means[i * bc + j] = uint8_t(sum / 144);
            }
        expect_upscale_paths_match(means, br, bc, 12);
    }
}

}  // namespace

namespace {

// Every output of the ridge-wavelength field, by path.
struct WavelengthFields {
    std::vector<uint8_t> quality, wavelength, frequency;
    std::vector<int8_t> angle;
    bool operator==(const WavelengthFields&) const = default;
};

WavelengthFields wavelength_fields(const std::vector<uint8_t>& src, const uint8_t* mask, int32_t rows, int32_t cols,
                                   uint32_t block, bal_simd_path path) {
    const int32_t block_rows = rows / int32_t(block);
    const uint32_t block_cols = uint32_t(cols) / block;
    const size_t n = size_t(block_rows) * block_cols;
    WavelengthFields f{std::vector<uint8_t>(n, 77), std::vector<uint8_t>(n, 0xEE), std::vector<uint8_t>(n, 0xEE),
                       std::vector<int8_t>(n, -3)};
    EXPECT_EQ(BAL_OK, bal_ridge_wavelengths_fft(src.data(), mask, rows, cols, block, 18, 5, nullptr, block_rows,
                                                block_cols, f.quality.data(), f.wavelength.data(),
                                                f.frequency.data(), f.angle.data(), path));
    return f;
}

void expect_wavelength_paths_match(const std::vector<uint8_t>& src, const uint8_t* mask, int32_t rows, int32_t cols,
                                   uint32_t block) {
    const WavelengthFields expected = wavelength_fields(src, mask, rows, cols, block, bal_simd_path::scalar);
    for (bal_simd_path path : {bal_simd_path::portable, bal_simd_path::avx2, bal_simd_path::automatic}) {
        const WavelengthFields fast = wavelength_fields(src, mask, rows, cols, block, path);
        EXPECT_EQ(expected.quality, fast.quality) << rows << " x " << cols << " block " << block << " path " << int(path);
        EXPECT_EQ(expected.wavelength, fast.wavelength) << rows << " x " << cols << " block " << block;
        EXPECT_EQ(expected.frequency, fast.frequency) << rows << " x " << cols << " block " << block;
        EXPECT_EQ(expected.angle, fast.angle) << rows << " x " << cols << " block " << block;
    }
}

// Noise over the whole byte range and over two values (large powers,
// flat spectra, ties among the responses), ridges with noise, images
// narrower and shorter than a window, and masks that leave gaps.
TEST(SimdPaths, WavelengthFieldsEqualTheReferenceOnRandomImages) {
    const struct {
        int32_t rows, cols;
        uint32_t block;
        int lo, hi;
        bool masked;
    } cases[] = {
        {96, 176, 12, 0, 255, false}, {96, 176, 4, 0, 255, true}, {50, 70, 4, 0, 1, false},
        {40, 40, 6, 254, 255, true},  {20, 45, 4, 0, 255, false}, {31, 33, 12, 0, 255, true},
        {8, 8, 4, 0, 255, false},     {120, 96, 4, 100, 160, true},
    };
    uint32_t seed = 4100;
    for (const auto& c : cases) {
        auto src = random_bytes(size_t(c.rows) * size_t(c.cols), seed++, c.lo, c.hi);
        std::vector<uint8_t> mask;
        if (c.masked) mask = random_bytes(src.size(), seed++, 0, 255);
        expect_wavelength_paths_match(src, c.masked ? mask.data() : nullptr, c.rows, c.cols, c.block);
        // Ridges of a few periods and directions under the same noise.
        for (size_t i = 0; i < src.size(); ++i) {
            const int32_t y = int32_t(i / size_t(c.cols)), x = int32_t(i % size_t(c.cols));
            const int ridge = ((x * (1 + int(seed % 3)) + y * 2) / 4) % 2 ? 60 : -60;
            src[i] = uint8_t(std::clamp(int(src[i]) / 4 + 96 + ridge, 0, 255));
        }
        expect_wavelength_paths_match(src, c.masked ? mask.data() : nullptr, c.rows, c.cols, c.block);
    }
}

// On the real captures with the coarse and the fine block sizes, with a
// mask that drops the outer blocks.
TEST(SimdPaths, WavelengthFieldsEqualTheReferenceOnRealCaptures) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    for (size_t k = 0; k < paths.size(); k += 4) {
        SCOPED_TRACE(paths[k].string());
        const fp_test::GreyImage g = fp_test::read_pgm(paths[k]);
        const auto rows = int32_t(g.rows), cols = int32_t(g.cols);
        std::vector<uint8_t> mask(g.pixels.size(), 0);
        for (int32_t y = 24; y + 24 < rows; ++y)
            for (int32_t x = 12; x + 12 < cols; ++x) mask[size_t(y) * size_t(cols) + size_t(x)] = 255;
        expect_wavelength_paths_match(g.pixels, nullptr, rows, cols, 12);
        expect_wavelength_paths_match(g.pixels, mask.data(), rows, cols, 4);
    }
}

// The coarse and fine fields measured together (the windows they share
// measured once) give the two scalar calls' fields, on grids whose windows
// line up (12 in 3, 6 in 3, 14 in 7) and on grids where they do not (8 in 2,
// 10 in 3).
TEST(SimdPaths, CoarseAndFineFieldsTogetherEqualTheTwoReferenceCalls) {
    std::vector<fp_test::GreyImage> images;
    if (fp_test::have_captures()) {
        const auto paths = fp_test::capture_paths();
        for (size_t k = 1; k < paths.size(); k += 32) images.push_back(fp_test::read_pgm(paths[k]));
    }
    fp_test::GreyImage noise;
    noise.rows = 70, noise.cols = 90;
    noise.pixels = random_bytes(size_t(noise.rows) * noise.cols, 4200, 0, 255);
    images.push_back(noise);
    const struct {
        uint32_t block, divisions;
    } grids[] = {{12, 3}, {6, 3}, {14, 7}, {8, 2}, {10, 3}};
    for (const auto& g : images) {
        const auto rows = int32_t(g.rows), cols = int32_t(g.cols);
        std::vector<uint8_t> mask(g.pixels.size());
        for (size_t i = 0; i < mask.size(); ++i) mask[i] = (i / size_t(cols)) % 50 < 40 ? 255 : 0;
        for (const auto& grid : grids) {
            SCOPED_TRACE(testing::Message() << rows << " x " << cols << " block " << grid.block << " in " << grid.divisions);
            const int32_t block_rows = rows / int32_t(grid.block);
            const uint32_t block_cols = uint32_t(cols) / grid.block;
            const uint32_t fine = grid.block / grid.divisions;
            const WavelengthFields coarse = wavelength_fields(g.pixels, mask.data(), rows, cols, grid.block, bal_simd_path::scalar);
            // The fine call has no quality or wavelength output.
            const int32_t fine_rows = int32_t(grid.divisions) * block_rows;
            const uint32_t fine_cols = grid.divisions * block_cols;
            const size_t cells = size_t(fine_rows) * fine_cols;
            std::vector<uint8_t> fine_frequency(cells, 0xEE);
            std::vector<int8_t> fine_angle(cells, -3);
            ASSERT_EQ(BAL_OK, bal_ridge_wavelengths_fft(g.pixels.data(), mask.data(), rows, cols, fine, 18, 5, nullptr,
                                                        fine_rows, fine_cols, nullptr, nullptr, fine_frequency.data(),
                                                        fine_angle.data(), bal_simd_path::scalar));
            for (bal_simd_path path : {bal_simd_path::portable, bal_simd_path::avx2, bal_simd_path::scalar}) {
                const size_t n = size_t(block_rows) * block_cols;
                WavelengthFields both{std::vector<uint8_t>(n, 77), std::vector<uint8_t>(n, 0xEE),
                                      std::vector<uint8_t>(n, 0xEE), std::vector<int8_t>(n, -3)};
                std::vector<uint8_t> frequency(cells, 0xEE);
                std::vector<int8_t> angle(cells, -3);
                ASSERT_EQ(BAL_OK, bal_ridge_wavelengths_fft_coarse_fine(
                                      g.pixels.data(), mask.data(), rows, cols, grid.block, grid.divisions, 18, 5,
                                      block_rows, block_cols, both.quality.data(), both.wavelength.data(),
                                      both.frequency.data(), both.angle.data(), frequency.data(), angle.data(), path));
                EXPECT_TRUE(coarse == both) << "path " << int(path);
                EXPECT_EQ(fine_frequency, frequency) << "path " << int(path);
                EXPECT_EQ(fine_angle, angle) << "path " << int(path);
            }
        }
    }
    uint8_t byte = 0;
    int8_t angle = 0;
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_ridge_wavelengths_fft_coarse_fine(&byte, nullptr, 1, 1, 12, 0, 18, 5, 0, 0, nullptr,
                                                                      nullptr, nullptr, nullptr, &byte, &angle));
}

}  // namespace
