#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "fp_test_data.h"
#include "imaging/bal_blur.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_gabor.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_orientation.h"
#include "imaging/bal_orientation_ops.h"
#include "imaging/bal_quality.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_wavelength.h"
#include "math/fp_types.h"
#include "math/zr_fft.h"

namespace {

#include "imaging/bal_gabor_kernels.inc"

constexpr double kPi = 3.14159265358979323846;

// ---------------------------------------------------------------------------
// Stored kernels

std::vector<uint8_t> decode_kernel(const uint8_t* code) {
    std::vector<uint8_t> gains;
    for (uint8_t h = *code++; h != 0; h = *code++) {
        const uint32_t count = h & 127u;
        for (uint32_t k = 0; k < count; ++k) gains.push_back((h & 0x80) ? *code++ : 0);
    }
    return gains;
}

struct KernelTable {
    uint32_t n;
    const uint8_t* codes;
    const uint16_t* offsets;
    size_t bytes;
};

const KernelTable kTable16{16, kGaborKernels16, kGaborKernelOffsets16, sizeof(kGaborKernels16)};
const KernelTable kTable32{32, kGaborKernels32, kGaborKernelOffsets32, sizeof(kGaborKernels32)};

std::vector<uint8_t> kernel(const KernelTable& t, uint32_t wc, uint32_t f) {
    return decode_kernel(t.codes + t.offsets[wc * 9 + f]);
}

TEST(GaborKernelTable, EveryKernelCodesTheWholeHalfSpectrumBackToBack) {
    for (const KernelTable* t : {&kTable16, &kTable32}) {
        const size_t gains = size_t(t->n) * (t->n / 2 + 1);
        for (uint32_t i = 0; i < 99; ++i) {
            const uint8_t* code = t->codes + t->offsets[i];
            EXPECT_EQ(decode_kernel(code).size(), gains) << "N " << t->n << " kernel " << i;
            // The kernel's end byte is the last byte before the next kernel.
            const size_t end = i + 1 < 99 ? t->offsets[i + 1] : t->bytes;
            EXPECT_EQ(t->codes[end - 1], 0) << "N " << t->n << " kernel " << i;
        }
    }
}

// Rows given for wavelength 10, class 0: the 32-point kernel's rows 0..3 at
// v = 0..9 (the rest of those rows 0, rows 29..31 repeating 3..1) and the
// 16-point kernel's rows 0..4 (rows 5..11 zero, rows 12..15 repeating 4..1).
TEST(GaborKernelTable, ListedRowsOfWavelengthTenComeOutClose) {
    const int listed32[4][10] = {{71, 98, 157, 197, 178, 115, 53, 18, 4, 1},
                                 {67, 93, 148, 185, 167, 108, 50, 17, 4, 1},
                                 {56, 77, 124, 155, 140, 90, 42, 14, 3, 1},
                                 {41, 57, 92, 114, 103, 67, 31, 10, 2, 0}};
    const int listed16[5][9] = {{28, 58, 137, 197, 168, 85, 26, 5, 1},
                                {22, 46, 107, 155, 132, 67, 20, 4, 1},
                                {11, 22, 52, 75, 64, 33, 10, 2, 0},
                                {3, 7, 16, 22, 19, 10, 3, 1, 0},
                                {1, 1, 3, 4, 4, 2, 1, 0, 0}};
    const auto k32 = kernel(kTable32, 5, 0);
    const auto k16 = kernel(kTable16, 5, 0);
    int worst32 = 0, worst16 = 0;
    for (int t = 0; t < 4; ++t) {
        for (int v = 0; v < 10; ++v) worst32 = std::max(worst32, std::abs(k32[t * 17 + v] - listed32[t][v]));
        for (int v = 10; v < 17; ++v) EXPECT_EQ(k32[t * 17 + v], 0) << "row " << t << " v " << v;
    }
    for (int t = 1; t < 4; ++t)
        for (int v = 0; v < 17; ++v) EXPECT_EQ(k32[(32 - t) * 17 + v], k32[t * 17 + v]);
    for (int t = 0; t < 5; ++t)
        for (int v = 0; v < 9; ++v) worst16 = std::max(worst16, std::abs(k16[t * 9 + v] - listed16[t][v]));
    for (int t = 5; t < 12; ++t)
        for (int v = 0; v < 9; ++v) EXPECT_EQ(k16[t * 9 + v], 0) << "row " << t << " v " << v;
    for (int t = 1; t < 5; ++t)
        for (int v = 0; v < 9; ++v) EXPECT_EQ(k16[(16 - t) * 9 + v], k16[t * 9 + v]);
    // Measured: 32-point at most 1 (a single entry, row 3 v 0), 16-point 0.
    EXPECT_LE(worst32, 1);
    EXPECT_LE(worst16, 1);
    RecordProperty("largest_difference_32", worst32);
    RecordProperty("largest_difference_16", worst16);
}

// The same lobe model evaluated in double precision with libm: every stored
// gain of all 198 kernels lies within one step of it.
double model_gain(uint32_t n, uint32_t wc, uint32_t f, int u, int v) {
    const double lambda = wc + 5.0, radius = 32.0 / lambda, phi = kPi * f / 16.0;
    const double su = std::sin(phi), sv = std::cos(phi);
    const double across = n == 16 ? 1.385 : 17.3 / lambda, along = n == 16 ? 1.44 : 2.885;
    const double peak = n == 16 ? 198.75 : 197.5;
    double total = 0;
    for (int sign : {1, -1})
        for (int shift_u : {-1, 0, 1})
            for (int shift_v : {-1, 0, 1}) {
                const double du = u + shift_u * double(n) - sign * radius * su;
                const double dv = v + shift_v * double(n) - sign * radius * sv;
                const double a = du * su + dv * sv, b = dv * su - du * sv;
                total += std::exp(-a * a / (2 * across * across) - b * b / (2 * along * along));
            }
    return std::min(peak * total, 255.0);
}

TEST(GaborKernelTable, AllKernelsFollowTheLobeModel) {
    for (const KernelTable* t : {&kTable16, &kTable32})
        for (uint32_t wc = 0; wc < 11; ++wc)
            for (uint32_t f = 0; f < 9; ++f) {
                const auto gains = kernel(*t, wc, f);
                const uint32_t cols = t->n / 2 + 1;
                for (uint32_t u = 0; u < t->n; ++u)
                    for (uint32_t v = 0; v < cols; ++v)
                        ASSERT_NEAR(gains[u * cols + v], model_gain(t->n, wc, f, int(u), int(v)), 1.0)
                            << "N " << t->n << " wavelength " << wc + 5 << " class " << f << " (" << u
                            << ", " << v << ")";
            }
}

// ---------------------------------------------------------------------------
// Filters

constexpr uint32_t kRows = 176, kCols = 96, kBlock = 12;
constexpr uint32_t kBlockRows = 14, kBlockCols = 8;

enum class Form { k16Step1, k16Step2, k32 };

const char* form_name(Form form) {
    return form == Form::k32 ? "32-point" : (form == Form::k16Step1 ? "16-point step 1" : "16-point step 2");
}

// Per-pixel inputs of one filter run with constant fields unless set.
struct FilterCase {
    uint32_t rows = kRows, cols = kCols;
    std::vector<uint8_t> image, wavelength, orientation, quality, mask;
    uint32_t block_rows = kBlockRows, block_cols = kBlockCols, block = kBlock;

    FilterCase(uint8_t lambda, uint8_t orient, uint8_t q = 100)
        : image(kRows * kCols, 128),
          wavelength(kRows * kCols, lambda),
          orientation(kRows * kCols, orient),
          quality(kRows * kCols, q),
          mask(kBlockRows * kBlockCols, 1) {}

    std::vector<int8_t> run(Form form, bal_status* status = nullptr) const {
        std::vector<int8_t> dst(size_t(rows) * cols, 99);
        const bal_status s =
            form == Form::k32
                ? bal_gabor_filter_32(image.data(), int32_t(rows), cols, wavelength.data(), orientation.data(),
                                      mask.data(), quality.data(), int32_t(block_rows), int32_t(block_cols), block,
                                      dst.data())
                : bal_gabor_filter_16(image.data(), rows, cols, wavelength.data(), orientation.data(), mask.data(),
                                      nullptr, int32_t(block_rows), int32_t(block_cols), block, dst.data(),
                                      form == Form::k16Step1 ? 1 : 2);
        if (status)
            *status = s;
        else
            EXPECT_EQ(s, BAL_OK);
        return dst;
    }
};

// Grating across the gradient direction of orientation byte o (o - 128 in
// 1/256 turns from the column axis towards increasing row index): the value
// at (y, x) is cos(2 pi (x cos t + y sin t) / period), ridges running across t.
std::vector<double> grating(uint8_t orientation, double period) {
    const double t = (int(orientation) - 128) * 2 * kPi / 256;
    std::vector<double> g(kRows * kCols);
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x)
            g[y * kCols + x] = std::cos(2 * kPi * (x * std::cos(t) + y * std::sin(t)) / period);
    return g;
}

uint8_t to_pixel(double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); }

double correlation_in_mask(const std::vector<int8_t>& a, const std::vector<double>& b, const FilterCase& c) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    double n = 0;
    for (uint32_t y = 0; y < c.block_rows * c.block; ++y)
        for (uint32_t x = 0; x < c.block_cols * c.block; ++x) {
            if (!c.mask[(y / c.block) * c.block_cols + x / c.block]) continue;
            const double p = a[y * c.cols + x], q = b[y * c.cols + x];
            sa += p, sb += q, saa += p * p, sbb += q * q, sab += p * q, n += 1;
        }
    const double cov = sab / n - sa / n * sb / n;
    return cov / std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
}

// A ring of background blocks around the finger blocks.
void mask_out_border_blocks(FilterCase& c) {
    for (uint32_t r = 0; r < c.block_rows; ++r)
        for (uint32_t k = 0; k < c.block_cols; ++k)
            if (r == 0 || k == 0 || r + 1 == c.block_rows || k + 1 == c.block_cols) c.mask[r * c.block_cols + k] = 0;
}

struct GratingCase {
    Form form;
    uint8_t wavelength;
    uint8_t orientation;
};

// With step 1 the 16-point kernels still count their bins per 32 pixels, so
// the byte lambda tunes them to ridges lambda / 2 pixels apart.
double grating_period(const GratingCase& g) {
    return g.form == Form::k16Step1 ? g.wavelength / 2.0 : g.wavelength;
}

TEST(GaborFilter, NoisyGratingComesOutCloseToTheCleanGrating) {
    const GratingCase cases[] = {
        {Form::k32, 7, 128},       {Form::k32, 9, 144},       {Form::k32, 10, 160},
        {Form::k32, 12, 64},       {Form::k32, 8, 96},        {Form::k32, 15, 116},
        {Form::k32, 11, 190},      {Form::k16Step2, 8, 128},  {Form::k16Step2, 10, 160},
        {Form::k16Step2, 12, 100}, {Form::k16Step2, 14, 72},  {Form::k16Step1, 12, 128},
        {Form::k16Step1, 14, 150}, {Form::k16Step1, 16, 104},
    };
    for (const auto& g : cases) {
        FilterCase c(g.wavelength, g.orientation);
        mask_out_border_blocks(c);
        const auto clean = grating(g.orientation, grating_period(g));
        std::mt19937 rng(g.wavelength * 256 + g.orientation);
        std::normal_distribution<double> noise(0.0, 40.0);
        for (size_t i = 0; i < clean.size(); ++i) c.image[i] = to_pixel(128 + 60 * clean[i] + noise(rng));
        const auto out = c.run(g.form);
        EXPECT_GE(correlation_in_mask(out, clean, c), 0.9)
            << form_name(g.form) << " wavelength " << int(g.wavelength) << " orientation " << int(g.orientation);
    }
}

// Ridges of full contrast (0 and 255) drive the filter past the i8 range;
// the output saturates instead of wrapping to the opposite sign.
TEST(GaborFilter, StrongRidgesSaturateWithoutFlippingSign) {
    for (Form form : {Form::k32, Form::k16Step1}) {
        const uint8_t wavelength = form == Form::k32 ? 10 : 12;
        FilterCase c(wavelength, 128, 100);
        const auto clean = grating(128, form == Form::k32 ? 10.0 : 6.0);
        for (size_t i = 0; i < clean.size(); ++i) c.image[i] = clean[i] >= 0 ? 255 : 0;
        const auto out = c.run(form);
        int saturated = 0, flipped = 0;
        for (uint32_t y = 0; y < kBlockRows * kBlock; ++y)
            for (uint32_t x = 0; x < kCols; ++x) {
                const size_t i = y * kCols + x;
                saturated += out[i] == 127 || out[i] == -128;
                if (std::abs(clean[i]) > 0.5 && (out[i] > 0) != (clean[i] > 0)) ++flipped;
            }
        EXPECT_GT(saturated, 100) << form_name(form);
        EXPECT_EQ(flipped, 0) << form_name(form);
    }
}

// Orientation, wavelength and quality bytes that share a class give the same
// output on the same image; neighbouring classes differ.
struct ClassProbe {
    enum Field { kOrientation, kWavelength, kQuality } field;
    uint8_t a, b;
    bool same;
};

TEST(GaborFilter, ClassBoundariesOfOrientationWavelengthAndQuality) {
    std::mt19937 rng(5);
    std::vector<uint8_t> noise_image(kRows * kCols);
    for (auto& p : noise_image) p = uint8_t(rng());
    const ClassProbe probes[] = {
        // o' = 124..128 and 1..3 are class 0; 132 is class 1; 123 is class 15.
        {ClassProbe::kOrientation, 124, 128, true},  {ClassProbe::kOrientation, 128, 131, true},
        {ClassProbe::kOrientation, 131, 132, false}, {ClassProbe::kOrientation, 132, 139, true},
        {ClassProbe::kOrientation, 123, 124, false}, {ClassProbe::kOrientation, 116, 123, true},
        {ClassProbe::kOrientation, 64, 192, true},   {ClassProbe::kOrientation, 3, 131, true},
        {ClassProbe::kWavelength, 0, 5, true},       {ClassProbe::kWavelength, 5, 6, false},
        {ClassProbe::kWavelength, 15, 255, true},    {ClassProbe::kWavelength, 14, 15, false},
        {ClassProbe::kQuality, 0, 30, true},         {ClassProbe::kQuality, 30, 31, false},
        {ClassProbe::kQuality, 31, 75, true},        {ClassProbe::kQuality, 75, 76, false},
        {ClassProbe::kQuality, 76, 255, true},
    };
    for (const auto& p : probes) {
        std::vector<int8_t> outs[2];
        for (int k = 0; k < 2; ++k) {
            const uint8_t value = k == 0 ? p.a : p.b;
            FilterCase c(p.field == ClassProbe::kWavelength ? value : 9,
                         p.field == ClassProbe::kOrientation ? value : 140,
                         p.field == ClassProbe::kQuality ? value : 100);
            c.image = noise_image;
            outs[k] = c.run(Form::k32);
        }
        EXPECT_EQ(outs[0] == outs[1], p.same)
            << "field " << int(p.field) << " values " << int(p.a) << " and " << int(p.b);
    }
}

double energy(const std::vector<int8_t>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0, [](double s, int8_t x) { return s + double(x) * x; });
}

// Quality bands 1 and 2 apply the kernel two and three times: a narrower
// pass band lets less of a noise image through.
TEST(GaborFilter, PoorerQualityBandsPassLessNoise) {
    std::mt19937 rng(11);
    FilterCase good(10, 128, 200), fair(10, 128, 50), poor(10, 128, 10);
    for (auto& p : good.image) p = uint8_t(rng());
    fair.image = poor.image = good.image;
    const double e0 = energy(good.run(Form::k32)), e1 = energy(fair.run(Form::k32)),
                 e2 = energy(poor.run(Form::k32));
    EXPECT_GT(e0, e1 * 1.2);
    EXPECT_GT(e1, e2 * 1.2);
}

// Classes 9..15 use the kernel of 16 - class with mirrored rows: filtering an
// image with class 15 equals filtering its upside-down copy with class 1 and
// turning the result back (the tiles of 176 rows map onto each other).
TEST(GaborFilter, MirroredClassesMatchTheFlippedImage) {
    std::mt19937 rng(3);
    for (Form form : {Form::k32, Form::k16Step1}) {
        FilterCase down(9, 120), up(9, 136);  // classes 15 and 1
        for (auto& p : down.image) p = uint8_t(rng());
        for (uint32_t y = 0; y < kRows; ++y)
            std::copy_n(&down.image[y * kCols], kCols, &up.image[(kRows - 1 - y) * kCols]);
        down.block_rows = up.block_rows = 15;  // the whole height, symmetric
        down.mask.assign(15 * kBlockCols, 1);
        up.mask = down.mask;
        const auto a = down.run(form), b = up.run(form);
        int worst = 0;
        for (uint32_t y = 0; y < kRows; ++y)
            for (uint32_t x = 0; x < kCols; ++x)
                worst = std::max(worst, std::abs(a[y * kCols + x] - b[(kRows - 1 - y) * kCols + x]));
        EXPECT_LE(worst, 1) << form_name(form);
    }
}

// Brute-force reference: every output sample is filtered on its own, with
// the kernel decoded in full, the row mirror of classes 9..15 applied by
// index, and the quotient truncated toward zero by magnitude.
std::vector<int8_t> reference_filter(const FilterCase& c, Form form) {
    const int n = form == Form::k32 ? 32 : 16, step = form == Form::k16Step2 ? 2 : 1;
    const int samples = n / 2, margin = n / 4, tile = samples * step, cols_h = n / 2 + 1;
    const int divisor = form == Form::k32 ? 8 : 32;
    const KernelTable& table = form == Form::k32 ? kTable32 : kTable16;
    const int rows = int(c.rows), cols = int(c.cols);
    std::vector<uint8_t> image = c.image;
    if (step == 2) {
        EXPECT_EQ(bal_blur_weighted_uint8(c.image.data(), c.rows, c.cols, image.data()), BAL_OK);
    }
    const auto in_mask = [&](int y, int x) {
        const uint32_t by = uint32_t(y) / c.block, bx = uint32_t(x) / c.block;
        return by < c.block_rows && bx < c.block_cols && c.mask[by * c.block_cols + bx] != 0;
    };
    std::vector<int8_t> dst(size_t(rows) * cols, 0);
    std::vector<int32_t> window(n * n), re(n * cols_h), im(n * cols_h), fre(n * cols_h), fim(n * cols_h),
        out(n * n), work(n * cols_h);
    for (int top = 0; top < rows; top += tile)
        for (int left = 0; left < cols; left += tile) {
            const int last = tile - 1, mid = tile / 2;
            if (!in_mask(top, left) && !in_mask(top, left + last) && !in_mask(top + last, left) &&
                !in_mask(top + last, left + last) && !in_mask(top + mid, left + mid))
                continue;
            for (int i = 0; i < n; ++i)
                for (int j = 0; j < n; ++j) {
                    const int y = top + (i - margin) * step, x = left + (j - margin) * step;
                    const bool inside = y >= 0 && y < rows && x >= 0 && x < cols;
                    window[i * n + j] = inside ? (int32_t(image[y * cols + x]) - 128) * 8192 : 0;
                }
            (n == 32 ? zr_fftn2d32 : zr_fftn2d16)(window.data(), re.data(), im.data());
            for (int i = 0; i < samples; ++i)
                for (int j = 0; j < samples; ++j) {
                    const int y = top + i * step, x = left + j * step;
                    if (y >= rows || x >= cols) continue;
                    const int o = c.orientation[y * cols + x];
                    const int oc = (((o <= 128 ? o : o - 128) + 4) / 8) % 16;
                    const int wc = std::clamp(int(c.wavelength[y * cols + x]) - 5, 0, 10);
                    const int q = c.quality[y * cols + x];
                    const int passes = form != Form::k32 ? 1 : (q >= 76 ? 1 : (q >= 31 ? 2 : 3));
                    const auto gains = kernel(table, uint32_t(wc), uint32_t(oc <= 8 ? oc : 16 - oc));
                    for (int u = 0; u < n; ++u)
                        for (int v = 0; v < cols_h; ++v) {
                            const int t = oc <= 8 ? u : (n - u) % n;  // spectrum row u = (n - t) mod n
                            const int32_t g = gains[t * cols_h + v];
                            int32_t r = re[u * cols_h + v], m = im[u * cols_h + v];
                            for (int p = 0; p < passes; ++p) r = (g * r) >> 8, m = (g * m) >> 8;
                            fre[u * cols_h + v] = r, fim[u * cols_h + v] = m;
                        }
                    (n == 32 ? zr_fftni2d32 : zr_fftni2d16)(fre.data(), fim.data(), out.data(), work.data());
                    const int32_t value = out[(i + margin) * n + j + margin];
                    const int32_t magnitude = (value < 0 ? -value : value) / divisor;
                    dst[y * cols + x] = int8_t(std::clamp(value < 0 ? -magnitude : magnitude, -128, 127));
                }
        }
    if (step == 2) {
        EXPECT_EQ(bal_blur_weighted_int8_upsample(dst.data(), c.rows, c.cols, dst.data()), BAL_OK);
    }
    return dst;
}

// Per-pixel classes scattered at random over a full-contrast grating whose
// size is no multiple of the tile, with a partial mask: every output pixel
// equals the reference exactly (tile test pixels, window placement, class
// keys, mirrored rows, quality passes, truncating divisors 8 and 32).
TEST(GaborFilter, MatchesThePerPixelReferenceExactly) {
    std::mt19937 rng(21);
    for (Form form : {Form::k32, Form::k16Step1, Form::k16Step2}) {
        FilterCase c(9, 128);
        c.rows = 61, c.cols = 53, c.block_rows = 5, c.block_cols = 4;
        const size_t pixels = size_t(c.rows) * c.cols;
        c.image.resize(pixels), c.wavelength.resize(pixels), c.orientation.resize(pixels), c.quality.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            c.image[i] = (i % c.cols) % 10 < 5 ? 255 : 0;
            // Half of the pixels take the grating's own class, the rest any.
            const bool tuned = rng() % 2 == 0;
            c.orientation[i] = tuned ? 128 : uint8_t(rng());
            c.wavelength[i] = tuned ? (form == Form::k16Step1 ? 20 : 10) : uint8_t(rng() % 20);
            c.quality[i] = tuned ? 100 : uint8_t(rng() % 110);
        }
        c.mask.assign(20, 1);
        c.mask[0] = c.mask[7] = c.mask[13] = 0;
        const auto got = c.run(form), want = reference_filter(c, form);
        int mismatches = 0, negatives = 0;
        for (size_t i = 0; i < pixels; ++i) {
            mismatches += got[i] != want[i];
            negatives += want[i] < 0;
        }
        EXPECT_EQ(mismatches, 0) << form_name(form);
        EXPECT_GT(negatives, 100) << form_name(form);
    }
}

// A tile is filtered only when one of its corners or its centre lies in a
// mask block inside the grid; everything else stays 0.
TEST(GaborFilter, TilesOutsideTheMaskStayZero) {
    std::mt19937 rng(9);
    FilterCase c(9, 128);
    for (auto& p : c.image) p = uint8_t(rng());
    // Blocks of 4 pixels: block (1, 1) lies inside tile (0, 0) but none of the
    // five test pixels (0,0), (0,15), (15,0), (15,15), (8,8) falls in it.
    // Block (2, 6) holds the centre (8, 24) of tile (0, 16) only.
    c.block = 4;
    c.block_rows = 44;
    c.block_cols = 24;
    c.mask.assign(44 * 24, 0);
    c.mask[1 * 24 + 1] = 1;
    c.mask[2 * 24 + 6] = 1;
    const auto out = c.run(Form::k32);
    int nonzero_in_tile = 0;
    for (uint32_t y = 0; y < kRows; ++y)
        for (uint32_t x = 0; x < kCols; ++x) {
            const bool in_processed_tile = y < 16 && x >= 16 && x < 32;
            if (in_processed_tile)
                nonzero_in_tile += out[y * kCols + x] != 0;
            else
                ASSERT_EQ(out[y * kCols + x], 0) << "(" << y << ", " << x << ")";
        }
    EXPECT_GT(nonzero_in_tile, 200);

    // A grid smaller than the image: tiles below it are skipped.
    FilterCase small(9, 128);
    small.image = c.image;
    small.block_rows = 4;  // 48 rows of blocks
    small.mask.assign(4 * kBlockCols, 1);
    const auto cut = small.run(Form::k32);
    EXPECT_TRUE(std::all_of(cut.begin() + 48 * kCols, cut.end(), [](int8_t v) { return v == 0; }));
    EXPECT_TRUE(std::any_of(cut.begin(), cut.begin() + 48 * kCols, [](int8_t v) { return v != 0; }));
}

TEST(GaborFilter, BadArgumentsAreRefused) {
    FilterCase c(9, 128);
    std::vector<int8_t> dst(kRows * kCols);
    const auto filter16 = [&](uint16_t step, uint32_t block) {
        return bal_gabor_filter_16(c.image.data(), kRows, kCols, c.wavelength.data(), c.orientation.data(),
                                   c.mask.data(), nullptr, kBlockRows, kBlockCols, block, dst.data(), step);
    };
    EXPECT_EQ(filter16(0, kBlock), BAL_BAD_ARGUMENT);
    EXPECT_EQ(filter16(3, kBlock), BAL_BAD_ARGUMENT);
    EXPECT_EQ(filter16(2, 0), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_gabor_filter_32(c.image.data(), kRows, kCols, c.wavelength.data(), c.orientation.data(),
                                  c.mask.data(), nullptr, kBlockRows, kBlockCols, kBlock, dst.data()),
              BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_gabor_filter_32(c.image.data(), -1, kCols, c.wavelength.data(), c.orientation.data(),
                                  c.mask.data(), c.quality.data(), kBlockRows, kBlockCols, kBlock, dst.data()),
              BAL_BAD_ARGUMENT);
}

// Real captures with the inputs extraction derives (whole blocks, segmentation,
// local normalisation, orientation, coherence quality, ridge smoothing, FFT
// wavelengths): inside the finger the filter output follows the ridge signal
// of its input (the input minus its 7 x 7 local mean). Measured minimum over
// the set: 0.65.
TEST(GaborFilter, RealCapturesFollowTheirRidges) {
    FP_REQUIRE_CAPTURES();
    int checked = 0;
    for (const auto& path : fp_test::capture_paths()) {
        const auto raw = fp_test::read_pgm(path);
        ASSERT_EQ(raw.rows, kRows);
        uint8_t* resized = nullptr;
        uint32_t r = 0, c = 0;
        int32_t row_offset = 0, col_offset = 0;
        ASSERT_EQ(bal_resize_block_size(raw.pixels.data(), kRows, kCols, kBlock, 0, &resized, &r, &c, &row_offset,
                                        &col_offset),
                  BAL_OK);
        const std::vector<uint8_t> image(resized, resized + r * c);
        std::free(resized);
        const uint32_t br = r / kBlock, bc = c / kBlock;
        std::vector<uint8_t> mask(br * bc), normalised(r * c), orientation(br * bc), coherence(br * bc),
            wavelength(br * bc), pixel_orientation(r * c), quality(r * c), median(r * c), smoothed(r * c),
            pixel_wavelength(r * c), local_mean(r * c);
        uint32_t s = bal_segment_image_scale(image.data(), r, c, br, bc, kBlock, mask.data(), 1);
        s |= bal_normalize_locally(image.data(), r, c, mask.data(), kBlock, br, bc, 150, 120, normalised.data());
        s |= bal_ridge_orientations_scale(normalised.data(), r, c, mask.data(), orientation.data(),
                                          coherence.data(), br, bc, kBlock, nullptr, 1);
        s |= bal_scale_up_orientation(orientation.data(), br, bc, kBlock, pixel_orientation.data(), r, c);
        s |= bal_quality_from_reliability(coherence.data(), mask.data(), br, bc, kBlock, quality.data(), r, c);
        s |= bal_oriented_median(normalised.data(), r, c, pixel_orientation.data(), median.data());
        s |= bal_oriented_mean(median.data(), r, c, pixel_orientation.data(), smoothed.data());
        s |= bal_ridge_wavelengths_fft(image.data(), nullptr, int32_t(r), int32_t(c), kBlock, 18, 5,
                                       orientation.data(), int32_t(br), bc, coherence.data(), wavelength.data(),
                                       nullptr, nullptr);
        bal_scale_up_bilinear_uint8(wavelength.data(), br, bc, int32_t(kBlock), pixel_wavelength.data(),
                                    int32_t(r), int32_t(c));
        ASSERT_EQ(s, 0u) << path;  // every status BAL_OK
        std::vector<int8_t> out(r * c);
        ASSERT_EQ(bal_gabor_filter_32(smoothed.data(), int32_t(r), c, pixel_wavelength.data(),
                                      pixel_orientation.data(), mask.data(), quality.data(), int32_t(br),
                                      int32_t(bc), kBlock, out.data()),
                  BAL_OK);
        local_mean = smoothed;
        for (int pass = 0; pass < 3; ++pass) EXPECT_EQ(BAL_OK, bal_blur_uint8(local_mean.data(), r, c, local_mean.data()));
        std::vector<double> ridges(r * c);
        for (size_t i = 0; i < ridges.size(); ++i) ridges[i] = double(smoothed[i]) - local_mean[i];
        FilterCase layout(9, 128);
        layout.rows = r, layout.cols = c, layout.block_rows = br, layout.block_cols = bc, layout.mask = mask;
        if (std::count(mask.begin(), mask.end(), 0) == std::ptrdiff_t(mask.size())) continue;
        EXPECT_GE(correlation_in_mask(out, ridges, layout), 0.5) << path;
        ++checked;
    }
    EXPECT_GT(checked, 100);
}

// ---------------------------------------------------------------------------
// Enhancement for the image object

// Presence looks only at the centre 256 x 192 of the block-cropped image:
// a 300 x 240 image with strong texture in its outer 20 pixels but a uniform
// centre shows no finger.
TEST(GaborEnhanceQuality, UniformCentreShowsNoFingerAndFillsWhite) {
    constexpr uint32_t rows = 300, cols = 240;
    std::mt19937 rng(2);
    std::vector<uint8_t> src(rows * cols, 90);
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x)
            if (y < 20 || y >= rows - 20 || x < 20 || x >= cols - 20) src[y * cols + x] = uint8_t(rng());
    std::vector<uint8_t> dst(100 * 50, 7);
    EXPECT_EQ(bal_enhance_quality(src.data(), rows, cols, 100, 50, dst.data()), BAL_OK);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 255; }));

    // The same texture reaching into the centre is a finger.
    for (uint32_t y = 100; y < 200; ++y)
        for (uint32_t x = 60; x < 180; ++x) src[y * cols + x] = uint8_t(rng());
    EXPECT_EQ(bal_enhance_quality(src.data(), rows, cols, 100, 50, dst.data()), BAL_OK);
    EXPECT_FALSE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 255; }));
}

// A block-cropped side below 16 pixels leaves no room for a presence block:
// no finger, however strong the texture (12 x 40 stays 12 x 36 after the crop).
TEST(GaborEnhanceQuality, CentreBelowOnePresenceBlockShowsNoFinger) {
    std::mt19937 rng(4);
    std::vector<uint8_t> src(12 * 40), dst(30 * 20, 7);
    for (auto& p : src) p = uint8_t(rng());
    EXPECT_EQ(bal_enhance_quality(src.data(), 12, 40, 30, 20, dst.data()), BAL_OK);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 255; }));
}

TEST(GaborEnhanceQuality, ImageSmallerThanOneBlockIsRefused) {
    std::vector<uint8_t> src(11 * 40, 100), dst(11 * 40, 7);
    EXPECT_EQ(bal_enhance_quality(src.data(), 11, 40, 11, 40, dst.data()), BAL_BAD_ARGUMENT);
    EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](uint8_t v) { return v == 7; }));
}

// Global normalisation is one affine grey map for the whole finger (with
// clamping), so the enhanced capture keeps following the capture itself.
TEST(GaborEnhanceQuality, RealCapturesAreNormalisedAndRescaled) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    ASSERT_FALSE(paths.empty());
    int checked = 0;
    for (size_t i = 0; i < paths.size() && checked < 8; i += std::max<size_t>(1, paths.size() / 8)) {
        const auto img = fp_test::read_pgm(paths[i]);
        ASSERT_EQ(img.rows, kRows);
        // 176 rows are cut to 168 (4 off the top); scaled to 168 x 96 the result
        // lines up with source rows 4..171.
        std::vector<uint8_t> dst(168 * kCols, 7);
        ASSERT_EQ(bal_enhance_quality(img.pixels.data(), img.rows, img.cols, 168, kCols, dst.data()), BAL_OK);
        const auto [lo, hi] = std::minmax_element(dst.begin(), dst.end());
        EXPECT_GT(*hi - *lo, 100) << paths[i];  // a finger, not the white fill
        double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
        const double n = double(dst.size());
        for (size_t k = 0; k < dst.size(); ++k) {
            const double a = dst[k], b = img.pixels[k + 4 * kCols];
            sa += a, sb += b, saa += a * a, sbb += b * b, sab += a * b;
        }
        const double corr = (sab / n - sa / n * sb / n) /
                            std::sqrt((saa / n - sa / n * sa / n) * (sbb / n - sb / n * sb / n));
        EXPECT_GT(corr, 0.8) << paths[i];
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

}  // namespace
