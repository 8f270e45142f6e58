#include "imaging/bal_fft_lanes.h"

#include <algorithm>

#include "math/zr_fft.h"

namespace {

#include "imaging/bal_fft_lanes_kernel.inc"

constexpr int kN = 32;
constexpr int kLanes = int(BAL_FFT_LANES);

// Eight int32 lanes (the buffers are 32-byte aligned).
typedef int32_t lanes8 __attribute__((vector_size(32), may_alias));
static_assert(sizeof(lanes8) == kLanes * sizeof(int32_t));

// forward_rows of zr_fftn2d32 (rows 2i and 2i + 1 as one complex row, split
// into the two half spectra), keeping the first `columns` columns.
template <typename V>
[[gnu::always_inline]] inline void rows_pass(const V* block, int columns, V* re, V* im) {
    V zr[kN], zi[kN];
    for (int i = 0; i < kN / 2; ++i) {
        fft32_lanes<V>(block + 2 * i * kN, block + (2 * i + 1) * kN, zr, zi);
        V* a_re = re + 2 * i * columns;
        V* a_im = im + 2 * i * columns;
        V* b_re = a_re + columns;
        V* b_im = a_im + columns;
        for (int k = 0; k < columns; ++k) {
            if (k == 0 || k == kN / 2) {
                a_re[k] = zr[k];
                a_im[k] = V{};
                b_re[k] = zi[k];
                b_im[k] = V{};
                continue;
            }
            // Signed sums are divided (truncating), not shifted.
            a_re[k] = (zr[k] + zr[kN - k]) / 2;
            a_im[k] = (zi[k] - zi[kN - k]) / 2;
            b_re[k] = (zi[k] + zi[kN - k]) / 2;
            b_im[k] = (zr[kN - k] - zr[k]) / 2;
        }
    }
}

template <typename V>
[[gnu::always_inline]] inline void columns_pass(int columns, V* re, V* im) {
    V in_re[kN], in_im[kN], out_re[kN], out_im[kN];
    for (int v = 0; v < columns; ++v) {
        for (int u = 0; u < kN; ++u) {
            in_re[u] = re[u * columns + v];
            in_im[u] = im[u * columns + v];
        }
        fft32_lanes<V>(in_re, in_im, out_re, out_im);
        for (int u = 0; u < kN; ++u) {
            re[u * columns + v] = out_re[u];
            im[u * columns + v] = out_im[u];
        }
    }
}

template <typename V>
[[gnu::always_inline]] inline void transform(const int32_t* in, int columns, int32_t* re, int32_t* im) {
    V* vre = reinterpret_cast<V*>(re);
    V* vim = reinterpret_cast<V*>(im);
    rows_pass<V>(reinterpret_cast<const V*>(in), columns, vre, vim);
    columns_pass<V>(columns, vre, vim);
}

// inverse_columns and inverse_rows of zr_fftni2d32 (the forward transform on
// index-reversed input), the row pass only over the pairs asked for.
template <typename V>
[[gnu::always_inline]] inline void inverse(const int32_t* re_in, const int32_t* im_in, int first_pair,
                                           int last_pair, int32_t* block_out, int32_t* work_out) {
    constexpr int H = int(BAL_FFT32_HALF_COLUMNS);
    const V* re = reinterpret_cast<const V*>(re_in);
    const V* im = reinterpret_cast<const V*>(im_in);
    V* block = reinterpret_cast<V*>(block_out);
    V* work = reinterpret_cast<V*>(work_out);
    V in_re[kN], in_im[kN], out_re[kN], out_im[kN];
    for (int v = 0; v < H; ++v) {
        for (int n = 0; n < kN; ++n) {
            const int u = (kN - n) & (kN - 1);
            in_re[n] = re[u * H + v];
            in_im[n] = im[u * H + v];
        }
        fft32_lanes<V>(in_re, in_im, out_re, out_im);
        for (int u = 0; u < kN; ++u) {
            block[u * kN + v] = out_re[u];
            work[u * H + v] = out_im[u];
        }
    }
    for (int i = first_pair; i < last_pair; ++i) {
        V* a_re = block + 2 * i * kN;
        V* b_re = a_re + kN;
        const V* a_im = work + 2 * i * H;
        const V* b_im = a_im + H;
        for (int v = 0; v <= kN / 2; ++v) {
            const int n = (kN - v) & (kN - 1);
            in_re[n] = a_re[v] - b_im[v];
            in_im[n] = a_im[v] + b_re[v];
        }
        for (int v = 1; v < kN / 2; ++v) {
            in_re[v] = a_re[v] + b_im[v];
            in_im[v] = b_re[v] - a_im[v];
        }
        fft32_lanes<V>(in_re, in_im, a_re, b_re);
    }
}

void inverse_portable(const int32_t* re, const int32_t* im, int first, int last, int32_t* block,
                      int32_t* work) {
    inverse<lanes8>(re, im, first, last, block, work);
}

__attribute__((target("avx2"))) void inverse_avx2(const int32_t* re, const int32_t* im, int first, int last,
                                                   int32_t* block, int32_t* work) {
    inverse<lanes8>(re, im, first, last, block, work);
}

void inverse_scalar(const int32_t* re, const int32_t* im, int first, int last, int32_t* block,
                    int32_t* work) {
    constexpr int H = int(BAL_FFT32_HALF_COLUMNS);
    int32_t spec_re[kN * H], spec_im[kN * H], out[kN * kN], scratch[kN * H];
    for (int lane = 0; lane < kLanes; ++lane) {
        for (int i = 0; i < kN * H; ++i) {
            spec_re[i] = re[i * kLanes + lane];
            spec_im[i] = im[i * kLanes + lane];
        }
        zr_fftni2d32(spec_re, spec_im, out, scratch);
        for (int y = 2 * first; y < 2 * last; ++y)
            for (int x = 0; x < kN; ++x) block[(y * kN + x) * kLanes + lane] = out[y * kN + x];
        for (int i = 0; i < kN * H; ++i) work[i * kLanes + lane] = scratch[i];
    }
}

void transform_portable(const int32_t* in, int columns, int32_t* re, int32_t* im) {
    transform<lanes8>(in, columns, re, im);
}

__attribute__((target("avx2"))) void transform_avx2(const int32_t* in, int columns, int32_t* re,
                                                     int32_t* im) {
    transform<lanes8>(in, columns, re, im);
}

void transform_scalar(const int32_t* in, int columns, int32_t* re, int32_t* im) {
    constexpr int H = int(BAL_FFT32_HALF_COLUMNS);
    int32_t block[kN * kN], spec_re[kN * H], spec_im[kN * H];
    for (int lane = 0; lane < kLanes; ++lane) {
        for (int i = 0; i < kN * kN; ++i) block[i] = in[i * kLanes + lane];
        zr_fftn2d32(block, spec_re, spec_im);
        for (int u = 0; u < kN; ++u)
            for (int v = 0; v < columns; ++v) {
                re[(u * columns + v) * kLanes + lane] = spec_re[u * H + v];
                im[(u * columns + v) * kLanes + lane] = spec_im[u * H + v];
            }
    }
}

}  // namespace

bool bal_simd_has_avx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

void bal_fft2d32_lanes(const int32_t* in, uint32_t columns, int32_t* re, int32_t* im,
                       bal_simd_path path) {
    const int c = int(std::clamp<uint32_t>(columns, 1, BAL_FFT32_HALF_COLUMNS));
    switch (path) {
        case bal_simd_path::scalar: transform_scalar(in, c, re, im); return;
        case bal_simd_path::portable: transform_portable(in, c, re, im); return;
        case bal_simd_path::avx2:
        case bal_simd_path::automatic:
            if (bal_simd_has_avx2()) transform_avx2(in, c, re, im);
            else transform_portable(in, c, re, im);
            return;
    }
}

void bal_ifft2d32_lanes(const int32_t* re, const int32_t* im, uint32_t first_pair, uint32_t pairs,
                        int32_t* block, int32_t* work, bal_simd_path path) {
    const int first = int(std::min<uint32_t>(first_pair, kN / 2));
    const int last = int(std::min<uint32_t>(first_pair + std::min<uint32_t>(pairs, kN / 2), kN / 2));
    switch (path) {
        case bal_simd_path::scalar: inverse_scalar(re, im, first, last, block, work); return;
        case bal_simd_path::portable: inverse_portable(re, im, first, last, block, work); return;
        case bal_simd_path::avx2:
        case bal_simd_path::automatic:
            if (bal_simd_has_avx2()) inverse_avx2(re, im, first, last, block, work);
            else inverse_portable(re, im, first, last, block, work);
            return;
    }
}
