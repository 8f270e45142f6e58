#include "math/zr_fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "math/fp_types.h"

namespace {

using Fft1d = void (*)(const int32_t*, const int32_t*, int32_t*, int32_t*);
using Fft2d = void (*)(const int32_t*, int32_t*, int32_t*);
using Ifft2d = void (*)(const int32_t*, const int32_t*, int32_t*, int32_t*);
using cd = std::complex<double>;

struct Size {
    int n;
    Fft1d fft;
    Fft2d forward;
    Ifft2d inverse;
};

const Size kSizes[] = {
    {16, zr_fftn16, zr_fftn2d16, zr_fftni2d16},
    {32, zr_fftn32, zr_fftn2d32, zr_fftni2d32},
    {64, zr_fftn64, zr_fftn2d64, zr_fftni2d64},
    {128, zr_fftn128, zr_fftn2d128, zr_fftni2d128},
};

cd unit_root(int k, int n, int sign) {
    const double a = sign * 2 * std::numbers::pi * (k % n) / n;
    return {std::cos(a), std::sin(a)};
}

// Floating-point 1-D DFT with the transforms' scaling: (1/N) sum x[n] e^(-2 pi i n k / N).
std::vector<cd> dft(const std::vector<cd>& x, int sign, double scale) {
    const int n = static_cast<int>(x.size());
    std::vector<cd> out(n);
    for (int k = 0; k < n; ++k) {
        cd sum = 0;
        for (int t = 0; t < n; ++t) sum += x[t] * unit_root(t * k, n, sign);
        out[k] = sum * scale;
    }
    return out;
}

std::vector<int32_t> random_values(std::mt19937& rng, size_t count, int32_t amplitude) {
    std::uniform_int_distribution<int32_t> dist(-amplitude, amplitude);
    std::vector<int32_t> v(count);
    for (auto& x : v) x = dist(rng);
    return v;
}

// Twiddle constants in steps of 1/1024 (a relative error below 1/1024 over
// all stages, reached only by coherent signals) and the per-stage rounding:
// far below what a wrongly combined stage produces (about amplitude / 4).
double tolerance(int32_t amplitude) { return 8 + amplitude / 1024.0; }

}  // namespace

TEST(Fft1d, AgreesWithFloatingPointDft) {
    std::mt19937 rng(17);
    for (const Size& s : kSizes) {
        for (int32_t amplitude : {100, 5000, 1 << 18}) {
            for (int trial = 0; trial < 20; ++trial) {
                const auto re = random_values(rng, s.n, amplitude);
                const auto im = random_values(rng, s.n, amplitude);
                std::vector<int32_t> out_re(s.n), out_im(s.n);
                s.fft(re.data(), im.data(), out_re.data(), out_im.data());
                std::vector<cd> x(s.n);
                for (int i = 0; i < s.n; ++i) x[i] = cd(re[i], im[i]);
                const auto expected = dft(x, -1, 1.0 / s.n);
                for (int k = 0; k < s.n; ++k)
                    ASSERT_LE(std::abs(cd(out_re[k], out_im[k]) - expected[k]), tolerance(amplitude))
                        << "N " << s.n << " bin " << k << " amplitude " << amplitude;
            }
        }
    }
}

TEST(Fft1d, SingleFrequenciesLandInTheirBins) {
    // A pure tone excites every twiddle site of every stage.
    for (const Size& s : kSizes) {
        for (int f = 0; f < s.n; ++f) {
            std::vector<int32_t> re(s.n), im(s.n), out_re(s.n), out_im(s.n);
            for (int t = 0; t < s.n; ++t) {
                const cd v = 100000.0 * unit_root(t * f, s.n, 1);
                re[t] = static_cast<int32_t>(std::lround(v.real()));
                im[t] = static_cast<int32_t>(std::lround(v.imag()));
            }
            s.fft(re.data(), im.data(), out_re.data(), out_im.data());
            for (int k = 0; k < s.n; ++k) {
                const double expected = k == f ? 100000.0 : 0.0;
                ASSERT_NEAR(out_re[k], expected, tolerance(100000)) << "N " << s.n << " f " << f << " k " << k;
                ASSERT_NEAR(out_im[k], 0, tolerance(100000)) << "N " << s.n << " f " << f << " k " << k;
            }
        }
    }
}

TEST(Fft1d, ConstantsAndImpulses) {
    for (const Size& s : kSizes) {
        const int n = s.n;
        std::vector<int32_t> zero(n, 0), re(n), out_re(n), out_im(n);
        std::vector<int32_t> expected_re(n, 0);

        re.assign(n, 777);
        s.fft(re.data(), zero.data(), out_re.data(), out_im.data());
        expected_re[0] = 777;
        EXPECT_EQ(out_re, expected_re) << n;
        EXPECT_EQ(out_im, zero) << n;

        re.assign(n, 0);
        re[0] = n;
        s.fft(re.data(), zero.data(), out_re.data(), out_im.data());
        EXPECT_EQ(out_re, std::vector<int32_t>(n, 1)) << n;
        EXPECT_EQ(out_im, zero) << n;

        re[0] = -1;  // the shifts round towards minus infinity
        s.fft(re.data(), zero.data(), out_re.data(), out_im.data());
        EXPECT_EQ(out_re, std::vector<int32_t>(n, -1)) << n;
        EXPECT_EQ(out_im, zero) << n;

        // Large constants pass the exact right-angle sites without overflow.
        re.assign(n, 1 << 28);
        s.fft(re.data(), zero.data(), out_re.data(), out_im.data());
        expected_re[0] = 1 << 28;
        EXPECT_EQ(out_re, expected_re) << n;
        EXPECT_EQ(out_im, zero) << n;
    }
}

TEST(Fft2d, ForwardAgreesWithFloatingPointDft) {
    std::mt19937 rng(23);
    for (const Size& s : kSizes) {
        const int n = s.n;
        const int h = static_cast<int>(bal_half_spectrum_cols(n));
        // Pixel values times 4096 around 128, as the image filters feed them.
        const int32_t amplitude = 128 * 4096;
        const auto block = random_values(rng, n * n, amplitude);
        const auto block_copy = block;
        std::vector<int32_t> re(n * h, -7), im(n * h, -7);
        s.forward(block.data(), re.data(), im.data());
        EXPECT_EQ(block, block_copy) << "the block is not changed";

        // Rows, then columns, each with a 1/N scale.
        std::vector<std::vector<cd>> rows(n);
        for (int y = 0; y < n; ++y) {
            std::vector<cd> row(block.begin() + y * n, block.begin() + (y + 1) * n);
            rows[y] = dft(row, -1, 1.0 / n);
        }
        for (int v = 0; v < h; ++v) {
            std::vector<cd> column(n);
            for (int u = 0; u < n; ++u) column[u] = rows[u][v];
            const auto expected = dft(column, -1, 1.0 / n);
            for (int u = 0; u < n; ++u) {
                const uint32_t at = bal_half_spectrum_index(n, u, v);
                ASSERT_LE(std::abs(cd(re[at], im[at]) - expected[u]), tolerance(amplitude))
                    << "N " << n << " (" << u << ", " << v << ")";
            }
        }
    }
}

TEST(Fft2d, InverseAgreesWithFloatingPointDft) {
    std::mt19937 rng(29);
    for (const Size& s : kSizes) {
        const int n = s.n;
        const int h = n / 2 + 1;
        const int32_t amplitude = 1 << 19;
        // A random half spectrum of a real block: columns 0 and N/2 are
        // conjugate-symmetric in u and real at u = 0 and u = N/2.
        auto re = random_values(rng, n * h, amplitude);
        auto im = random_values(rng, n * h, amplitude);
        for (int v : {0, n / 2}) {
            for (int u = 1; u < n / 2; ++u) {
                re[(n - u) * h + v] = re[u * h + v];
                im[(n - u) * h + v] = -im[u * h + v];
            }
            im[v] = 0;
            im[(n / 2) * h + v] = 0;
        }
        const auto re_copy = re, im_copy = im;
        std::vector<int32_t> block(n * n), work(n * h);
        s.inverse(re.data(), im.data(), block.data(), work.data());
        EXPECT_EQ(re, re_copy);
        EXPECT_EQ(im, im_copy);

        // The full spectrum by conjugate symmetry, then the inverse DFT / N^2.
        auto full = [&](int u, int v) {
            if (v <= n / 2) return cd(re[u * h + v], im[u * h + v]);
            const int uu = (n - u) % n, vv = n - v;
            return cd(re[uu * h + vv], -im[uu * h + vv]);
        };
        std::vector<std::vector<cd>> columns(n, std::vector<cd>(n));  // [v][y]
        for (int v = 0; v < n; ++v) {
            std::vector<cd> column(n);
            for (int u = 0; u < n; ++u) column[u] = full(u, v);
            columns[v] = dft(column, 1, 1.0 / n);
        }
        for (int y = 0; y < n; ++y) {
            std::vector<cd> row(n);
            for (int v = 0; v < n; ++v) row[v] = columns[v][y];
            const auto expected = dft(row, 1, 1.0 / n);
            for (int x = 0; x < n; ++x) {
                ASSERT_NEAR(expected[x].imag(), 0, 1e-6);
                ASSERT_NEAR(block[y * n + x], expected[x].real(), tolerance(amplitude))
                    << "N " << n << " (" << y << ", " << x << ")";
            }
        }
    }
}

TEST(Fft2d, RoundTripReturnsTheBlockDividedByNSquared) {
    std::mt19937 rng(31);
    for (const Size& s : kSizes) {
        const int n = s.n;
        const int h = n / 2 + 1;
        auto block = random_values(rng, n * n, 128 * 4096);
        std::vector<int32_t> re(n * h), im(n * h), back(n * n), work(n * h);
        s.forward(block.data(), re.data(), im.data());
        s.inverse(re.data(), im.data(), back.data(), work.data());
        // Each pass's shifts round down: up to about one unit a pass, plus the
        // spectrum's own rounding spread over the block.
        double low = 0, high = 0;
        for (int i = 0; i < n * n; ++i) {
            const double error = back[i] - block[i] / double(n * n);
            low = std::min(low, error);
            high = std::max(high, error);
        }
        EXPECT_GE(low, -6.0) << n;
        EXPECT_LE(high, 3.0) << n;
    }
}

TEST(Fft2d, ConstantBlock) {
    for (const Size& s : kSizes) {
        const int n = s.n;
        const int h = n / 2 + 1;
        std::vector<int32_t> block(n * n, 1600), re(n * h), im(n * h), back(n * n), work(n * h);
        s.forward(block.data(), re.data(), im.data());
        std::vector<int32_t> expected(n * h, 0);
        expected[0] = 1600;
        EXPECT_EQ(re, expected) << n;
        EXPECT_EQ(im, std::vector<int32_t>(n * h, 0)) << n;
        s.inverse(re.data(), im.data(), back.data(), work.data());
        EXPECT_EQ(back, std::vector<int32_t>(n * n, 1600 / (n * n))) << n;  // 6 for 16 x 16

    }
    // The 16 x 16 inverse of a constant 1600 spectrum gives 6 everywhere.
    std::vector<int32_t> re(16 * 9, 0), im(16 * 9, 0), back(256), work(16 * 9);
    re[0] = 1600;
    zr_fftni2d16(re.data(), im.data(), back.data(), work.data());
    EXPECT_EQ(back, std::vector<int32_t>(256, 6));
}

namespace {

// Regression guard: hashes of the exact outputs of tools/gen_fft.py's model (a
// Python interpreter of the stage plan, per-site constants and rounding, the
// truncating row split and the index-reversed inverse) for seeded inputs; see
// `gen_fft.py --golden`. The same script writes the kernels, so the hashes
// only catch an unintended change of any output bit; the floating-point DFT
// tests above are what says the transforms are right. On a mismatch the test
// names the first value that leaves the DFT's tolerance, or says that all of
// them are still within it (a change of rounding only).
struct Golden {
    int n;
    uint64_t fft1d;     // out_re then out_im
    uint64_t forward;   // spec_re then spec_im
    uint64_t inverse;   // block then work
};
const Golden kGolden[] = {
    {16, 0xDCEDB9FA9FB3DC99ull, 0x77CB59DC66AA56B9ull, 0x38AD554FAA8D7110ull},
    {32, 0x1C9D55FD3ACA452Eull, 0x7C54077D08EDCAB9ull, 0x49DCAF5CB094226Aull},
    {64, 0x974C64FDAB660BC7ull, 0xB553E5122373B3E1ull, 0xB73B8D0367C6AEABull},
    {128, 0x60169A6A97AAB84Eull, 0xF245CF2000FEEA19ull, 0xC441C3C7CD37B752ull},
};

uint64_t value_hash(const std::vector<int32_t>& a, const std::vector<int32_t>& b) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (const auto* v : {&a, &b})
        for (int32_t x : *v) h = (h ^ static_cast<uint32_t>(x)) * 0x100000001B3ull;
    return h;
}

// The first index whose value lies farther than `limit` from the expected
// one, as a message.
std::string first_departure(const std::vector<cd>& got, const std::vector<cd>& expected,
                            double limit) {
    for (size_t i = 0; i < got.size(); ++i)
        if (std::abs(got[i] - expected[i]) > limit) {
            std::ostringstream out;
            out << "first value off the floating-point DFT: index " << i << ", " << got[i]
                << " against " << expected[i];
            return out.str();
        }
    return "every value is within the floating-point DFT's tolerance (a rounding change)";
}

std::vector<cd> complex_values(const std::vector<int32_t>& re, const std::vector<int32_t>& im) {
    std::vector<cd> out(re.size());
    for (size_t i = 0; i < re.size(); ++i) out[i] = cd(re[i], im.empty() ? 0 : im[i]);
    return out;
}

// Forward 2-D DFT of a real n x n block (rows, then columns, each / n) in the
// half-spectrum layout: index u * (n / 2 + 1) + v.
std::vector<cd> dft2d_half(const std::vector<int32_t>& block, int n) {
    const int h = n / 2 + 1;
    std::vector<std::vector<cd>> rows(n);
    for (int y = 0; y < n; ++y)
        rows[y] = dft(std::vector<cd>(block.begin() + y * n, block.begin() + (y + 1) * n), -1,
                      1.0 / n);
    std::vector<cd> out(size_t(n) * h);
    for (int v = 0; v < h; ++v) {
        std::vector<cd> column(n);
        for (int u = 0; u < n; ++u) column[u] = rows[u][v];
        const auto spectrum = dft(column, -1, 1.0 / n);
        for (int u = 0; u < n; ++u) out[size_t(u) * h + v] = spectrum[u];
    }
    return out;
}

// Inverse 2-D DFT (each pass / n) of a half spectrum of a real block.
std::vector<cd> idft2d_half(const std::vector<int32_t>& re, const std::vector<int32_t>& im, int n) {
    const int h = n / 2 + 1;
    auto full = [&](int u, int v) {
        if (v <= n / 2) return cd(re[u * h + v], im[u * h + v]);
        const int uu = (n - u) % n, vv = n - v;
        return cd(re[uu * h + vv], -im[uu * h + vv]);
    };
    std::vector<std::vector<cd>> columns(n);  // [v][y]
    for (int v = 0; v < n; ++v) {
        std::vector<cd> column(n);
        for (int u = 0; u < n; ++u) column[u] = full(u, v);
        columns[v] = dft(column, 1, 1.0 / n);
    }
    std::vector<cd> out(size_t(n) * n);
    for (int y = 0; y < n; ++y) {
        std::vector<cd> row(n);
        for (int v = 0; v < n; ++v) row[v] = columns[v][y];
        const auto values = dft(row, 1, 1.0 / n);
        for (int x = 0; x < n; ++x) out[size_t(y) * n + x] = cd(values[x].real(), 0);
    }
    return out;
}

}  // namespace

TEST(FftRegressionGuard, OutputsKeepTheirRecordedHashes) {
    for (const Golden& g : kGolden) {
        const Size& s = *std::find_if(std::begin(kSizes), std::end(kSizes), [&](const Size& z) { return z.n == g.n; });
        const int n = g.n;
        const int h = n / 2 + 1;
        uint32_t state = static_cast<uint32_t>(n);
        auto next = [&] { return state = state * 1664525u + 1013904223u; };
        std::vector<int32_t> re(n), im(n), out_re(n), out_im(n);
        for (auto& v : re) v = static_cast<int32_t>(next() >> 13) - (1 << 18);
        for (auto& v : im) v = static_cast<int32_t>(next() >> 13) - (1 << 18);
        s.fft(re.data(), im.data(), out_re.data(), out_im.data());
        if (value_hash(out_re, out_im) != g.fft1d)
            ADD_FAILURE() << "1-D, N " << n << ": output changed; "
                          << first_departure(complex_values(out_re, out_im),
                                             dft(complex_values(re, im), -1, 1.0 / n),
                                             tolerance(1 << 18));

        std::vector<int32_t> block(n * n), spec_re(n * h), spec_im(n * h), back(n * n), work(n * h);
        for (auto& v : block) v = (static_cast<int32_t>(next() >> 24) - 128) * 4096;
        s.forward(block.data(), spec_re.data(), spec_im.data());
        if (value_hash(spec_re, spec_im) != g.forward)
            ADD_FAILURE() << "2-D forward, N " << n << ": output changed; "
                          << first_departure(complex_values(spec_re, spec_im),
                                             dft2d_half(block, n), tolerance(128 * 4096));
        s.inverse(spec_re.data(), spec_im.data(), back.data(), work.data());
        if (value_hash(back, work) != g.inverse)
            ADD_FAILURE() << "2-D inverse, N " << n << ": output (block or work) changed; block's "
                          << first_departure(complex_values(back, {}),
                                             idft2d_half(spec_re, spec_im, n), tolerance(1 << 19));
    }
}
