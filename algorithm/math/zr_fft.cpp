// 2-D transforms built on the 1-D transform of the same size (the 1-D
// transforms are generated into zr_fft_kernels.cpp).
#include "math/zr_fft.h"

#include <initializer_list>

namespace {

using Fft1d = void (*)(const int32_t*, const int32_t*, int32_t*, int32_t*);

// Rows 2i and 2i + 1 are transformed together as the real and imaginary parts
// of one complex row, then split into the two real rows' half spectra.
template <int N, Fft1d fft>
void forward_rows(const int32_t* block, int32_t* spec_re, int32_t* spec_im) {
    constexpr int H = N / 2 + 1;
    int32_t zr[N];
    int32_t zi[N];
    for (int i = 0; i < N / 2; ++i) {
        fft(block + 2 * i * N, block + (2 * i + 1) * N, zr, zi);
        int32_t* a_re = spec_re + 2 * i * H;
        int32_t* a_im = spec_im + 2 * i * H;
        int32_t* b_re = a_re + H;
        int32_t* b_im = a_im + H;
        for (int k : {0, N / 2}) {
            a_re[k] = zr[k];
            a_im[k] = 0;
            b_re[k] = zi[k];
            b_im[k] = 0;
        }
        // Signed sums are divided (truncating), not shifted.
        for (int k = 1; k < N / 2; ++k) {
            a_re[k] = (zr[k] + zr[N - k]) / 2;
            a_im[k] = (zi[k] - zi[N - k]) / 2;
            b_re[k] = (zi[k] + zi[N - k]) / 2;
            b_im[k] = (zr[N - k] - zr[k]) / 2;
        }
    }
}

template <int N, Fft1d fft>
void forward_columns(int32_t* spec_re, int32_t* spec_im) {
    constexpr int H = N / 2 + 1;
    int32_t in_re[N], in_im[N], out_re[N], out_im[N];
    for (int v = 0; v < H; ++v) {
        for (int u = 0; u < N; ++u) {
            in_re[u] = spec_re[u * H + v];
            in_im[u] = spec_im[u * H + v];
        }
        fft(in_re, in_im, out_re, out_im);
        for (int u = 0; u < N; ++u) {
            spec_re[u * H + v] = out_re[u];
            spec_im[u * H + v] = out_im[u];
        }
    }
}

template <int N, Fft1d fft>
void forward_2d(const int32_t* block, int32_t* spec_re, int32_t* spec_im) {
    forward_rows<N, fft>(block, spec_re, spec_im);
    forward_columns<N, fft>(spec_re, spec_im);
}

// The inverse uses the forward transform on index-reversed input:
// sum_k X[(N - k) mod N] e^(-2 pi i k n / N) = sum_k X[k] e^(+2 pi i k n / N).
template <int N, Fft1d fft>
void inverse_columns(const int32_t* spec_re, const int32_t* spec_im, int32_t* block, int32_t* work) {
    constexpr int H = N / 2 + 1;
    int32_t in_re[N], in_im[N], out_re[N], out_im[N];
    for (int v = 0; v < H; ++v) {
        for (int n = 0; n < N; ++n) {
            const int u = (N - n) & (N - 1);
            in_re[n] = spec_re[u * H + v];
            in_im[n] = spec_im[u * H + v];
        }
        fft(in_re, in_im, out_re, out_im);
        for (int u = 0; u < N; ++u) {
            block[u * N + v] = out_re[u];
            work[u * H + v] = out_im[u];
        }
    }
}

// Rows 2i and 2i + 1 (real results) are rebuilt together: z = Fa + j Fb, with
// the upper half of z from the conjugate symmetry of the two real rows.
template <int N, Fft1d fft>
void inverse_rows(int32_t* block, const int32_t* work) {
    constexpr int H = N / 2 + 1;
    int32_t in_re[N], in_im[N];
    for (int i = 0; i < N / 2; ++i) {
        int32_t* a_re = block + 2 * i * N;
        int32_t* b_re = a_re + N;
        const int32_t* a_im = work + 2 * i * H;
        const int32_t* b_im = a_im + H;
        // z[m] goes to position (N - m) mod N of the index-reversed input.
        for (int v = 0; v <= N / 2; ++v) {
            const int n = (N - v) & (N - 1);
            in_re[n] = a_re[v] - b_im[v];
            in_im[n] = a_im[v] + b_re[v];
        }
        for (int v = 1; v < N / 2; ++v) {
            in_re[v] = a_re[v] + b_im[v];  // z[N - v] lands at position v
            in_im[v] = b_re[v] - a_im[v];
        }
        fft(in_re, in_im, a_re, b_re);
    }
}

template <int N, Fft1d fft>
void inverse_2d(const int32_t* spec_re, const int32_t* spec_im, int32_t* block, int32_t* work) {
    inverse_columns<N, fft>(spec_re, spec_im, block, work);
    inverse_rows<N, fft>(block, work);
}

}  // namespace

void zr_fftn2d16(const int32_t* b, int32_t* re, int32_t* im) { forward_2d<16, zr_fftn16>(b, re, im); }
void zr_fftn2d32(const int32_t* b, int32_t* re, int32_t* im) { forward_2d<32, zr_fftn32>(b, re, im); }
void zr_fftn2d64(const int32_t* b, int32_t* re, int32_t* im) { forward_2d<64, zr_fftn64>(b, re, im); }
void zr_fftn2d128(const int32_t* b, int32_t* re, int32_t* im) { forward_2d<128, zr_fftn128>(b, re, im); }

void zr_fftni2d16(const int32_t* re, const int32_t* im, int32_t* b, int32_t* w) { inverse_2d<16, zr_fftn16>(re, im, b, w); }
void zr_fftni2d32(const int32_t* re, const int32_t* im, int32_t* b, int32_t* w) { inverse_2d<32, zr_fftn32>(re, im, b, w); }
void zr_fftni2d64(const int32_t* re, const int32_t* im, int32_t* b, int32_t* w) { inverse_2d<64, zr_fftn64>(re, im, b, w); }
void zr_fftni2d128(const int32_t* re, const int32_t* im, int32_t* b, int32_t* w) { inverse_2d<128, zr_fftn128>(re, im, b, w); }
