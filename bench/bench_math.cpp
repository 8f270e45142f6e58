// Benchmarks of the fixed-point maths: the 2-D FFT pair that the image filters
// run per block, CRC-32 over a template-sized buffer, and the straight-line
// 1-D FFTs against a compact loop implementation with per-site tables that
// gives the same integer results.
#include <benchmark/benchmark.h>

#include <array>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

#include "math/zr_crc32.h"
#include "math/zr_fft.h"

namespace {

std::vector<int32_t> pixel_block(int n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int32_t> block(n * n);
    for (auto& v : block) v = (static_cast<int32_t>(rng() % 256) - 128) * 4096;
    return block;
}

void BM_Fft2d32ForwardInverse(benchmark::State& state) {
    constexpr int n = 32, h = n / 2 + 1;
    const auto block = pixel_block(n, 1);
    std::vector<int32_t> re(n * h), im(n * h), back(n * n), work(n * h);
    for (auto _ : state) {
        zr_fftn2d32(block.data(), re.data(), im.data());
        zr_fftni2d32(re.data(), im.data(), back.data(), work.data());
        benchmark::DoNotOptimize(back.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Fft2d32ForwardInverse);

void BM_Crc32Template(benchmark::State& state) {
    std::vector<uint8_t> data(20480);
    std::mt19937 rng(2);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    for (auto _ : state) benchmark::DoNotOptimize(zr_crc32(data.data(), static_cast<uint32_t>(data.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Crc32Template);

// ---------------------------------------------------------------------------
// The alternative to the generated straight-line code: one loop implementation
// for every size, reading each twiddle site's constants and rounding from a
// compile-time table. It computes the same integers (checked before timing).
namespace compact {

// round(1024 cos(2 pi j / 128)), j = 0..32.
constexpr int32_t kCos128[33] = {1024, 1023, 1019, 1013, 1004, 993, 980, 964, 946, 926, 903,
                                 878,  851,  822,  792,  759,  724, 688, 650, 610, 569, 526,
                                 483,  438,  392,  345,  297,  249, 200, 150, 100, 50,  0};

constexpr int32_t cos1024(int j) {
    j &= 127;
    const int m = j & 31;
    switch (j >> 5) {
        case 0: return kCos128[m];
        case 1: return -kCos128[32 - m];
        case 2: return -kCos128[m];
        default: return kCos128[32 - m];
    }
}
constexpr int32_t sin1024(int j) { return cos1024(j + 96); }

enum Kind : uint8_t { kGeneral, kExact0, kExact90, kExact180, kExact270 };

struct Site {
    int32_t c = 0, s = 0;
    uint8_t kind = kExact0;
    bool up_re = false, up_im = false;
};

struct Rounding {
    int k1, r;
    bool up_re, up_im;
};

template <int M, int R, size_t K>
constexpr std::array<Site, M> make_sites(const std::array<Rounding, K>& ups) {
    std::array<Site, M> sites{};
    for (int k1 = 0; k1 < M / R; ++k1) {
        for (int r = 0; r < R; ++r) {
            Site& s = sites[k1 * R + r];
            const int e = r * k1;
            if ((4 * e) % M == 0) {
                s.kind = static_cast<uint8_t>(kExact0 + (4 * e / M) % 4);
                continue;
            }
            s.kind = kGeneral;
            s.c = cos1024(e * 128 / M);
            s.s = sin1024(e * 128 / M);
            for (const Rounding& u : ups)
                if (u.k1 == k1 && u.r == r) {
                    s.up_re = u.up_re;
                    s.up_im = u.up_im;
                }
        }
    }
    return sites;
}

constexpr bool F = false, C = true;
constexpr auto kSites16 = make_sites<16, 4>(std::array<Rounding, 5>{
    {{1, 3, F, C}, {2, 3, F, C}, {3, 1, F, C}, {3, 2, F, C}, {3, 3, F, C}}});
constexpr auto kSites32R4 = make_sites<16, 4>(std::array<Rounding, 5>{
    {{1, 3, F, C}, {2, 3, C, F}, {3, 1, F, C}, {3, 2, F, C}, {3, 3, C, C}}});
constexpr auto kSites32R2 = make_sites<32, 2>(std::array<Rounding, 7>{
    {{5, 1, F, C}, {6, 1, F, C}, {7, 1, F, C}, {12, 1, F, C}, {13, 1, C, F}, {14, 1, C, F}, {15, 1, C, F}}});
constexpr auto kSites64A = make_sites<16, 4>(std::array<Rounding, 3>{{{2, 3, F, C}, {3, 2, F, C}, {3, 3, F, C}}});
constexpr auto kSites64B = make_sites<64, 4>(std::array<Rounding, 7>{
    {{8, 3, F, C}, {11, 3, C, C}, {12, 2, F, C}, {12, 3, C, C}, {13, 3, C, C}, {14, 3, C, C}, {15, 3, C, C}}});
constexpr auto kSites128R2 = make_sites<128, 2>(std::array<Rounding, 1>{{{48, 1, F, C}}});

inline int32_t shift10(int32_t sum, bool up) { return up ? -((-sum) >> 10) : sum >> 10; }

inline void twiddle(int32_t a, int32_t b, const Site& s, int32_t& zr, int32_t& zi) {
    switch (s.kind) {
        case kGeneral:
            zr = shift10(a * s.c + b * s.s, s.up_re);
            zi = shift10(b * s.c - a * s.s, s.up_im);
            break;
        case kExact0: zr = a, zi = b; break;
        case kExact90: zr = b, zi = -a; break;
        case kExact180: zr = -a, zi = -b; break;
        default: zr = -b, zi = a; break;
    }
}

constexpr int bit_reverse(int v, int bits) {
    int out = 0;
    for (int i = 0; i < bits; ++i, v >>= 1) out = (out << 1) | (v & 1);
    return out;
}

template <int N>
void first_stage(const int32_t* re, const int32_t* im, int32_t* xr, int32_t* xi) {
    constexpr int q = N / 4;
    constexpr int bits = std::countr_zero(static_cast<unsigned>(q));
    for (int r = 0; r < q; ++r) {
        const int32_t a0r = re[r], a0i = im[r], a1r = re[r + q], a1i = im[r + q];
        const int32_t a2r = re[r + 2 * q], a2i = im[r + 2 * q], a3r = re[r + 3 * q], a3i = im[r + 3 * q];
        const int p = 4 * bit_reverse(r, bits);
        xr[p] = (a0r + a1r + a2r + a3r) >> 2;
        xi[p] = (a0i + a1i + a2i + a3i) >> 2;
        xr[p + 1] = (a0r + a1i - a2r - a3i) >> 2;
        xi[p + 1] = (a0i - a1r - a2i + a3r) >> 2;
        xr[p + 2] = (a0r - a1r + a2r - a3r) >> 2;
        xi[p + 2] = (a0i - a1i + a2i - a3i) >> 2;
        xr[p + 3] = (a0r - a1i - a2r + a3i) >> 2;
        xi[p + 3] = (a0i + a1r - a2i - a3r) >> 2;
    }
}

template <int N, int M, bool Split>
void radix4(const int32_t* xr, const int32_t* xi, int32_t* dr, int32_t* di, const std::array<Site, M>& sites) {
    constexpr int L = M / 4;
    for (int base = 0; base < N; base += M) {
        for (int k1 = 0; k1 < L; ++k1) {
            const Site* s = &sites[k1 * 4];
            int32_t z0r, z0i, z1r, z1i, z2r, z2i, z3r, z3i;
            twiddle(xr[base + k1], xi[base + k1], s[0], z0r, z0i);
            twiddle(xr[base + L + k1], xi[base + L + k1], s[2], z2r, z2i);
            twiddle(xr[base + 2 * L + k1], xi[base + 2 * L + k1], s[1], z1r, z1i);
            twiddle(xr[base + 3 * L + k1], xi[base + 3 * L + k1], s[3], z3r, z3i);
            constexpr int pre = Split ? 1 : 0, post = Split ? 1 : 2;
            const int32_t Ar = (z0r + z2r) >> pre, Ai = (z0i + z2i) >> pre;
            const int32_t Br = (z0r - z2r) >> pre, Bi = (z0i - z2i) >> pre;
            const int32_t Cr = (z1r + z3r) >> pre, Ci = (z1i + z3i) >> pre;
            const int32_t Dr = (z1r - z3r) >> pre, Di = (z1i - z3i) >> pre;
            dr[base + k1] = (Ar + Cr) >> post;
            di[base + k1] = (Ai + Ci) >> post;
            dr[base + L + k1] = (Br + Di) >> post;
            di[base + L + k1] = (Bi - Dr) >> post;
            dr[base + 2 * L + k1] = (Ar - Cr) >> post;
            di[base + 2 * L + k1] = (Ai - Ci) >> post;
            dr[base + 3 * L + k1] = (Br - Di) >> post;
            di[base + 3 * L + k1] = (Bi + Dr) >> post;
        }
    }
}

template <int N, int M>
void radix2(const int32_t* xr, const int32_t* xi, int32_t* dr, int32_t* di, const std::array<Site, M>& sites) {
    constexpr int L = M / 2;
    for (int base = 0; base < N; base += M) {
        for (int k = 0; k < L; ++k) {
            const int32_t y0r = xr[base + k], y0i = xi[base + k];
            int32_t zr, zi;
            twiddle(xr[base + L + k], xi[base + L + k], sites[k * 2 + 1], zr, zi);
            dr[base + k] = (y0r + zr) >> 1;
            di[base + k] = (y0i + zi) >> 1;
            dr[base + L + k] = (y0r - zr) >> 1;
            di[base + L + k] = (y0i - zi) >> 1;
        }
    }
}

void fft16(const int32_t* re, const int32_t* im, int32_t* out_re, int32_t* out_im) {
    int32_t xr[16], xi[16];
    first_stage<16>(re, im, xr, xi);
    radix4<16, 16, true>(xr, xi, out_re, out_im, kSites16);
}

void fft32(const int32_t* re, const int32_t* im, int32_t* out_re, int32_t* out_im) {
    int32_t xr[32], xi[32];
    first_stage<32>(re, im, xr, xi);
    radix4<32, 16, false>(xr, xi, xr, xi, kSites32R4);
    radix2<32, 32>(xr, xi, out_re, out_im, kSites32R2);
}

void fft64(const int32_t* re, const int32_t* im, int32_t* out_re, int32_t* out_im) {
    int32_t xr[64], xi[64];
    first_stage<64>(re, im, xr, xi);
    radix4<64, 16, true>(xr, xi, xr, xi, kSites64A);
    radix4<64, 64, true>(xr, xi, out_re, out_im, kSites64B);
}

void fft128(const int32_t* re, const int32_t* im, int32_t* out_re, int32_t* out_im) {
    int32_t xr[128], xi[128];
    first_stage<128>(re, im, xr, xi);
    radix4<128, 16, true>(xr, xi, xr, xi, kSites64A);
    radix4<128, 64, true>(xr, xi, xr, xi, kSites64B);
    radix2<128, 128>(xr, xi, out_re, out_im, kSites128R2);
}

}  // namespace compact

using Fft1d = void (*)(const int32_t*, const int32_t*, int32_t*, int32_t*);

// Times one 1-D transform after checking that both forms agree on many inputs.
void run_fft1d(benchmark::State& state, int n, Fft1d fft, Fft1d other) {
    std::mt19937 rng(static_cast<uint32_t>(n));
    std::vector<int32_t> re(n), im(n), out_re(n), out_im(n), ref_re(n), ref_im(n);
    for (int trial = 0; trial < 200; ++trial) {
        for (int i = 0; i < n; ++i) {
            re[i] = static_cast<int32_t>(rng() % (1 << 20)) - (1 << 19);
            im[i] = static_cast<int32_t>(rng() % (1 << 20)) - (1 << 19);
        }
        fft(re.data(), im.data(), out_re.data(), out_im.data());
        other(re.data(), im.data(), ref_re.data(), ref_im.data());
        if (out_re != ref_re || out_im != ref_im) {
            state.SkipWithError("the two FFT forms disagree");
            return;
        }
    }
    for (auto _ : state) {
        fft(re.data(), im.data(), out_re.data(), out_im.data());
        benchmark::DoNotOptimize(out_re.data());
        benchmark::DoNotOptimize(out_im.data());
        benchmark::ClobberMemory();
    }
}

void BM_Fft1dStraightLine(benchmark::State& state) {
    const Fft1d generated[] = {zr_fftn16, zr_fftn32, zr_fftn64, zr_fftn128};
    const Fft1d loops[] = {compact::fft16, compact::fft32, compact::fft64, compact::fft128};
    const int i = static_cast<int>(state.range(0));
    run_fft1d(state, 16 << i, generated[i], loops[i]);
}
BENCHMARK(BM_Fft1dStraightLine)->DenseRange(0, 3)->ArgName("log2N-4");

void BM_Fft1dCompactLoops(benchmark::State& state) {
    const Fft1d generated[] = {zr_fftn16, zr_fftn32, zr_fftn64, zr_fftn128};
    const Fft1d loops[] = {compact::fft16, compact::fft32, compact::fft64, compact::fft128};
    const int i = static_cast<int>(state.range(0));
    run_fft1d(state, 16 << i, loops[i], generated[i]);
}
BENCHMARK(BM_Fft1dCompactLoops)->DenseRange(0, 3)->ArgName("log2N-4");

}  // namespace
