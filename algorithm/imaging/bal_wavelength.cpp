#include "imaging/bal_wavelength.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <immintrin.h>

#include "imaging/bal_blur.h"
#include "imaging/bal_fft_lanes.h"
#include "imaging/bal_status.h"
#include "math/zr_fft.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

// Window profiles: w32[i] = round(248 i / 15), w16[i] = round(239 i / 7),
// mirrored about the centre.
constexpr int32_t kWindow32[32] = {0,   17,  33,  50,  66,  83,  99,  116, 132, 149, 165,
                                   182, 198, 215, 231, 248, 248, 231, 215, 198, 182, 165,
                                   149, 132, 116, 99,  83,  66,  50,  33,  17,  0};
constexpr int32_t kWindow16[16] = {0, 34, 68, 102, 137, 171, 205, 239,
                                   239, 205, 171, 137, 102, 68, 34, 0};

// Values over a rectangular range of frequencies u in [u_lo, u_hi],
// v in [v_lo, v_hi] (a power spectrum or a peak response); reads outside the
// range give 0.
template <typename T, int U_LO, int U_HI, int V_LO, int V_HI>
struct FrequencyGrid {
    static constexpr int kCols = V_HI - V_LO + 1;
    T value[(U_HI - U_LO + 1) * kCols];
    void clear() { std::fill(std::begin(value), std::end(value), T{0}); }
    T& at(int u, int v) { return value[(u - U_LO) * kCols + (v - V_LO)]; }
    T get(int u, int v) const {
        if (u < U_LO || u > U_HI || v < V_LO || v > V_HI) return 0;
        return value[(u - U_LO) * kCols + (v - V_LO)];
    }
    // For reads known to lie inside the range.
    T inside(int u, int v) const { return value[(u - U_LO) * kCols + (v - V_LO)]; }
};

uint32_t power(int32_t re, int32_t im) {
    return static_cast<uint32_t>((int64_t{re} * re + int64_t{im} * im) >> 10);
}

// The five largest accepted peak responses, descending; equal values queue
// below the ones already listed.
struct PeakList {
    static constexpr int kPlaces = 5;
    int32_t value[kPlaces] = {};
    int u[kPlaces] = {};
    int v[kPlaces] = {};
    int used = 0;

    int32_t fifth() const { return used == kPlaces ? value[kPlaces - 1] : 0; }
    void insert(int32_t q, int pu, int pv) {
        int at = 0;
        while (at < used && value[at] >= q) ++at;
        if (at >= kPlaces) return;
        const int last = std::min(used, kPlaces - 1);
        for (int i = last; i > at; --i) {
            value[i] = value[i - 1];
            u[i] = u[i - 1];
            v[i] = v[i - 1];
        }
        value[at] = q;
        u[at] = pu;
        v[at] = pv;
        used = std::min(used + 1, kPlaces);
    }
};

// Sub-bin position of the peak at (u, v) from the power of its 3 x 3
// neighbourhood, in Q(shift) bins; S is the neighbourhood's total power.
struct RefinedPeak {
    int32_t fu, fv;
    uint32_t neighbourhood;
};

template <typename Power>
RefinedPeak refine_peak(const Power& p, int u, int v, int shift) {
    uint32_t s = 0;
    for (int du = -1; du <= 1; ++du)
        for (int dv = -1; dv <= 1; ++dv) s += p(u + du, v + dv);
    int32_t mv = 0, mu = 0;
    for (int d = -1; d <= 1; ++d) {
        mv += static_cast<int32_t>(p(u + d, v + 1)) - static_cast<int32_t>(p(u + d, v - 1));
        mu += static_cast<int32_t>(p(u + 1, v + d)) - static_cast<int32_t>(p(u - 1, v + d));
    }
    const int32_t k = 30 - static_cast<int32_t>(zr_log2_32(s));
    if (k >= 0) {
        mu = static_cast<int32_t>(static_cast<uint32_t>(mu) << k);
        mv = static_cast<int32_t>(static_cast<uint32_t>(mv) << k);
    }
    const int32_t divisor =
        static_cast<int32_t>(k >= shift ? s << (k - shift) : s >> (shift - k));
    RefinedPeak peak{};
    peak.fu = (u << shift) + mu / divisor;
    peak.fv = (v << shift) + mv / divisor;
    peak.neighbourhood = s;
    return peak;
}

// The entry of the peak list a measurement takes: the first, from the
// largest, whose refined position lies beyond min_r2 (squared, in Q(shift)
// bins) from the centre; place -1 when no entry lies that far out.
struct TakenPeak {
    int place = -1;
    RefinedPeak peak{};
    int32_t r2 = 0;
};

template <typename Power>
TakenPeak take_peak(const PeakList& peaks, const Power& p, int shift, int32_t min_r2) {
    for (int i = 0; i < peaks.used; ++i) {
        const RefinedPeak peak = refine_peak(p, peaks.u[i], peaks.v[i], shift);
        const int32_t r2 = peak.fu * peak.fu + peak.fv * peak.fv;
        if (r2 > min_r2) return {i, peak, r2};
    }
    return {};
}

// Peak dominance of the listed entry at place: ((A - B) * 255) / A with A its
// response >> 8 and B that of the next entry (0 when there is none); A = 0
// leaves the byte as it is.
void write_peak_dominance(const PeakList& peaks, int place, uint8_t& quality) {
    const uint32_t a = static_cast<uint32_t>(peaks.value[place]) >> 8;
    const uint32_t b =
        place + 1 < peaks.used ? static_cast<uint32_t>(peaks.value[place + 1]) >> 8 : 0;
    if (a != 0) quality = static_cast<uint8_t>(((a - b) * 255) / a);
}

// Doubled angle of the frequency vector (fu vertical, fv horizontal).
int8_t doubled_angle(int32_t fu, int32_t fv, int32_t r2) {
    int32_t c = fv * fv - fu * fu;
    int32_t sn = 2 * fu * fv;
    const int32_t k = 30 - static_cast<int32_t>(zr_log2_32(static_cast<uint32_t>(r2)));
    if (k >= 0) {
        c = static_cast<int32_t>(static_cast<uint32_t>(c) << k);
        sn = static_cast<int32_t>(static_cast<uint32_t>(sn) << k);
    }
    const int32_t d = k >= 15 ? r2 << (k - 15) : r2 >> (15 - k);
    if (d == 0) return 0;
    return static_cast<int8_t>(zr_atan2_(sn / d, c / d));
}

// Window statistics of one block: counts, mean and variance.
struct WindowStats {
    uint32_t inside = 0, foreground = 0, sum = 0, sum_sq = 0;
    uint32_t mean = 0, variance = 0;
};

// The part of a size x size window at (top, left) that lies inside the image.
struct ClippedWindow {
    int32_t y0, y1, x0, x1;  // image rows y0..y1-1, columns x0..x1-1
    bool empty() const { return y0 >= y1 || x0 >= x1; }
};

ClippedWindow clip_window(int32_t rows, int32_t cols, int32_t top, int32_t left, int32_t size) {
    return {std::max(top, 0), std::min(top + size, rows), std::max(left, 0),
            std::min(left + size, cols)};
}

// Summed-area tables of the foreground pixels (count, sum and sum of
// squares), (rows + 1) x (cols + 1) entries each: a window's sums in four
// reads. Entries wrap modulo 2^32; a window's sums are below 2^32, so their
// differences are exact.
struct WindowSums {
    struct Entry {
        uint32_t count, sum, sum_sq;
    };
    Entry* table = nullptr;
    int32_t rows = 0, cols = 0;

    WindowSums() = default;
    WindowSums(const WindowSums&) = delete;
    WindowSums& operator=(const WindowSums&) = delete;
    ~WindowSums() { std::free(table); }

    [[nodiscard]] bool build(const uint8_t* src, const uint8_t* mask, int32_t image_rows,
                             int32_t image_cols) {
        rows = std::max(image_rows, 0);
        cols = std::max(image_cols, 0);
        const size_t stride = size_t(cols) + 1;
        table = static_cast<Entry*>(std::calloc((size_t(rows) + 1) * stride, sizeof(Entry)));
        if (table == nullptr) return false;
        for (int32_t y = 0; y < rows; ++y) {
            const uint8_t* row = src + size_t(y) * size_t(cols);
            const uint8_t* mask_row = mask ? mask + size_t(y) * size_t(cols) : nullptr;
            const Entry* above = table + size_t(y) * stride;
            Entry* out = table + (size_t(y) + 1) * stride;
            Entry run{0, 0, 0};
            for (int32_t x = 0; x < cols; ++x) {
                if (!mask_row || mask_row[x] >= 128) {
                    const uint32_t v = row[x];
                    run.count += 1;
                    run.sum += v;
                    run.sum_sq += v * v;
                }
                out[x + 1] = {above[x + 1].count + run.count, above[x + 1].sum + run.sum,
                              above[x + 1].sum_sq + run.sum_sq};
            }
        }
        return true;
    }

    // Sums over image rows y0..y1-1, columns x0..x1-1.
    Entry box(int32_t y0, int32_t y1, int32_t x0, int32_t x1) const {
        const size_t stride = size_t(cols) + 1;
        const Entry& a = table[size_t(y0) * stride + size_t(x0)];
        const Entry& b = table[size_t(y0) * stride + size_t(x1)];
        const Entry& c = table[size_t(y1) * stride + size_t(x0)];
        const Entry& d = table[size_t(y1) * stride + size_t(x1)];
        return {d.count - b.count - c.count + a.count, d.sum - b.sum - c.sum + a.sum,
                d.sum_sq - b.sum_sq - c.sum_sq + a.sum_sq};
    }
};

// Counts, mean and variance of the window at (top, left) clipped to the image.
WindowStats window_stats(const WindowSums& sums, int32_t top, int32_t left, int32_t size) {
    WindowStats st;
    const ClippedWindow w = clip_window(sums.rows, sums.cols, top, left, size);
    if (w.empty()) return st;
    const WindowSums::Entry e = sums.box(w.y0, w.y1, w.x0, w.x1);
    st.inside = uint32_t(w.y1 - w.y0) * uint32_t(w.x1 - w.x0);
    st.foreground = e.count;
    st.sum = e.sum;
    st.sum_sq = e.sum_sq;
    if (e.count != 0) {
        const uint32_t n = e.count;
        st.mean = (n / 2 + e.sum) / n;
        st.variance = ((16 * e.sum_sq - e.sum * (16 * e.sum / n)) / n) >> 4;
    }
    return st;
}

struct BlockOutputs {
    uint8_t* quality;
    uint8_t* frequency;
    int8_t* angle;
};

void reject_block(uint16_t* raw, uint8_t* frequency, size_t index) {
    raw[index] = 0;
    if (frequency) frequency[index] = 0;
}

// The block grid over the image; a given pixel mask marks foreground with
// values >= 128.
struct BlockGrid {
    const uint8_t* src;
    const uint8_t* mask;
    int32_t rows, cols;
    uint32_t block;
    int32_t block_rows;
    uint32_t block_cols;
};

// One block: its place in the block fields, its top-left pixel (row, col)
// and the top-left pixel of its window (top, left).
struct BlockWindow {
    size_t index;
    int32_t row, col;
    int32_t top, left;
};

// The frame both paths share: takes the path's scratch and the raw field,
// visits the blocks in raster order with the statistics of their
// window_size x window_size windows, then completes the raw field into the
// wavelength output. measure(scratch, window, stats, raw) measures one block
// or rejects it (or queues it); flush(scratch, raw) then finishes what is
// queued. Returns 9 (everything released) when scratch is missing, otherwise
// the status of postprocess_frequency_field.
template <typename Scratch, typename MeasureBlock, typename Flush>
[[nodiscard]] bal_status measure_wavelength_field(const BlockGrid& grid, int32_t window_size,
                                                  uint8_t* wavelength, MeasureBlock&& measure,
                                                  Flush&& flush) {
    const auto block_rows = static_cast<uint32_t>(std::max(grid.block_rows, 0));
    const size_t blocks = size_t{block_rows} * grid.block_cols;
    constexpr size_t kAlign = alignof(Scratch);
    auto* scratch = static_cast<Scratch*>(
        std::aligned_alloc(kAlign, (sizeof(Scratch) + kAlign - 1) / kAlign * kAlign));
    auto* raw = static_cast<uint16_t*>(std::malloc(std::max<size_t>(blocks, 1) * sizeof(uint16_t)));
    if (!scratch || !raw) {
        std::free(scratch);
        std::free(raw);
        return BAL_NO_MEMORY;
    }
    std::memset(static_cast<void*>(scratch), 0, sizeof(Scratch));
    WindowSums sums;
    if (!sums.build(grid.src, grid.mask, grid.rows, grid.cols)) {
        std::free(scratch);
        std::free(raw);
        return BAL_NO_MEMORY;
    }
    const auto block = static_cast<int32_t>(grid.block);
    const int32_t h = (window_size - block) / 2;
    for (int32_t r = 0; r < grid.block_rows; ++r) {
        for (uint32_t c = 0; c < grid.block_cols; ++c) {
            BlockWindow w{};
            w.index = size_t(r) * grid.block_cols + c;
            w.row = r * block;
            w.col = static_cast<int32_t>(c * grid.block);
            w.top = w.row - h;
            w.left = w.col - h;
            const WindowStats st = window_stats(sums, w.top, w.left, window_size);
            measure(*scratch, w, st, raw);
        }
    }
    flush(*scratch, raw);
    const bal_status status =
        postprocess_frequency_field(raw, block_rows, grid.block_cols, wavelength);
    std::free(scratch);
    std::free(raw);
    return status;
}

// ---- 32-point path ----

using Spectrum32 = FrequencyGrid<uint32_t, -8, 9, -8, 3>;
using Response32 = FrequencyGrid<int32_t, -7, 7, -7, 2>;

// kWindow32[i] * kWindow32[x], the window's weight at row i, column x.
constexpr auto kWindowWeights32 = [] {
    struct table {
        int32_t w[32][32];
    } t{};
    for (int i = 0; i < 32; ++i)
        for (int x = 0; x < 32; ++x) t.w[i][x] = kWindow32[i] * kWindow32[x];
    return t;
}();

constexpr int kHalf32 = int(BAL_FFT32_HALF_COLUMNS);

// The reference path's scratch: one block at a time and its whole half
// spectrum.
struct Scratch32 {
    int32_t block[32 * 32];
    int32_t re[32 * kHalf32];
    int32_t im[32 * kHalf32];
    Spectrum32 power;
    Response32 response;
};

// Window pixels outside the image are 0; the others are weighted.
void window32(Scratch32& s, const uint8_t* src, int32_t rows, int32_t cols, int32_t top, int32_t left,
              int32_t mean) {
    for (int32_t i = 0; i < 32; ++i)
        for (int32_t x = 0; x < 32; ++x) {
            const int32_t y = top + i, c = left + x;
            s.block[i * 32 + x] = y >= 0 && y < rows && c >= 0 && c < cols
                                      ? (kWindowWeights32.w[i][x] * (int32_t{src[size_t(y) * size_t(cols) + size_t(c)]} - mean)) / 16
                                      : 0;
        }
}

// The power grid of the block from its half spectrum.
void power32(Scratch32& s) {
    for (int u = -8; u <= 9; ++u)
        for (int v = -8; v <= 3; ++v) {
            // Negative horizontal frequencies from the conjugate symmetry.
            const int su = v >= 0 ? u : -u, sv = v >= 0 ? v : -v;
            const int row = (su + 32) % 32;
            s.power.at(u, v) = power(s.re[row * kHalf32 + sv], s.im[row * kHalf32 + sv]);
        }
}

// The places the peak search visits, in its order: u -6..6, and v -6..0 for
// u < 0, v -6..-1 for u >= 0 (the other half plane repeats them).
constexpr int kPeakPlaces32 = 84;
struct PeakPlace {
    int8_t u, v;
};
constexpr auto kPeakPlaceTable32 = [] {
    struct table {
        PeakPlace at[kPeakPlaces32];
    } t{};
    int i = 0;
    for (int u = -6; u <= 6; ++u)
        for (int v = -6; v <= (u < 0 ? 0 : -1); ++v) t.at[i++] = {int8_t(u), int8_t(v)};
    return t;
}();

// Whether the response at (u, v) is at least each of its eight neighbours'.
template <typename Response>
bool local_maximum(const Response& r, int u, int v, int32_t q) {
    for (int du = -1; du <= 1; ++du)
        for (int dv = -1; dv <= 1; ++dv)
            if ((du || dv) && r(u + du, v + dv) > q) return false;
    return true;
}

// The five largest local maxima of the responses r(u, v) (u -7..7, v -7..2;
// 0 where the power is at or below the threshold) over the places the
// search visits.
template <typename Response>
PeakList find_peaks32(const Response& r) {
    PeakList peaks;
    for (const PeakPlace& at : kPeakPlaceTable32.at) {
        const int32_t q = r(at.u, at.v);
        // Most responses are 0 and cannot enter the list: test that first.
        if (q <= peaks.fifth()) continue;
        if (local_maximum(r, at.u, at.v, q)) peaks.insert(q, at.u, at.v);
    }
    return peaks;
}

// The peak analysis every 32-point path shares: from the block's power p(u, v)
// (u -8..8, v -8..3), its listed peaks and its energy, the block's
// wavelength, frequency, doubled angle and peak dominance.
template <typename Power>
void take_block32(const Power& p, const PeakList& peaks, uint64_t energy, uint32_t max_wl, uint32_t min_wl,
                  uint16_t* raw, size_t index, const BlockOutputs& out) {
    if (out.quality) out.quality[index] = 0;

    uint32_t lambda = 0;
    int8_t theta = 0;
    const TakenPeak taken = take_peak(peaks, p, 12, 47586034);
    if (taken.place >= 0) {
        // A neighbourhood with less than an eighth of the energy gives no
        // ridge frequency, but the taken peak still rates the block.
        if ((energy >> 3) <= taken.peak.neighbourhood) {
            lambda = (1u << 25) / zr_sqrt_32(static_cast<uint32_t>(taken.r2));
            theta = doubled_angle(taken.peak.fu, taken.peak.fv, taken.r2);
        }
        if (out.quality) write_peak_dominance(peaks, taken.place, out.quality[index]);
    }

    // A wavelength of 0 (no ridge frequency) is never valid.
    if (lambda == 0 || lambda > max_wl * 256 || lambda < min_wl * 256) {
        raw[index] = 0;
        if (out.frequency) {
            out.frequency[index] = 0;
            if (out.quality) out.quality[index] = 0;
        }
    } else {
        raw[index] = static_cast<uint16_t>(lambda);
        if (out.frequency)
            out.frequency[index] = static_cast<uint8_t>(std::min(((lambda >> 1) + 262144) / lambda, 255u));
    }
    if (out.angle) out.angle[index] = theta;
}

// The reference: one block at a time, its whole power grid, energy and
// responses computed directly.
void process_block32(Scratch32& s, uint32_t max_wl, uint32_t min_wl, uint16_t* raw,
                     size_t index, const BlockOutputs& out) {
    // Every read below lies inside both grids: powers at u -8..8, v -8..3
    // (responses at u -6..6, v -6..1 and their +-2 neighbours, peaks at
    // u -6..6, v -6..0 and their +-1 neighbours), responses at u -7..7,
    // v -7..1.
    const auto p = [&s](int u, int v) { return s.power.inside(u, v); };

    uint64_t energy = 0;
    for (int u = -8; u <= 8; ++u)
        for (int v = -8; v <= -1; ++v) energy += p(u, v);
    for (int u = -8; u <= -1; ++u) energy += p(u, 0);
    const uint64_t threshold = energy >> 7;

    s.response.clear();
    for (int u = -6; u <= 6; ++u)
        for (int v = -6; v <= 1; ++v) {
            if (p(u, v) <= threshold) continue;
            const uint32_t direct = p(u - 1, v) + p(u + 1, v) + p(u, v - 1) + p(u, v + 1);
            const uint32_t diagonal =
                p(u - 1, v - 1) + p(u - 1, v + 1) + p(u + 1, v - 1) + p(u + 1, v + 1);
            const uint32_t distant = p(u - 2, v) + p(u + 2, v) + p(u, v - 2) + p(u, v + 2);
            s.response.at(u, v) =
                static_cast<int32_t>(16 * p(u, v) - 2 * direct - diagonal - distant);
        }
    const auto r = [&s](int u, int v) { return s.response.inside(u, v); };
    take_block32(p, find_peaks32(r), energy, max_wl, min_wl, raw, index, out);
}

// ---- 32-point path, eight blocks at a time ----

// The spectra are measured eight blocks at a time, one block a lane of the
// lane transform; only the half-spectrum columns 0..8 that the power grid
// reads are transformed. The windows are filled, and the powers, energies and
// peak responses computed, for the eight blocks together in the lanes; only
// the peak search and what follows it run block by block (take_block32).
// The lanes hold 32-bit values: a windowed pixel reaches 61504 * 255 / 16 =
// 980220 in magnitude, beyond 16 bits, and the transform keeps that range.
constexpr int kLanes32 = int(BAL_FFT_LANES);
constexpr int kColumns32 = 9;
// The lanes' power grid covers u -8..8, v -8..3; their responses u -7..7,
// v -7..2, as the reference's grids (whose row u = 9 is never read).
constexpr int kPowerRows = 17, kPowerCols = 12;
constexpr int kResponseRows = 15, kResponseCols = 10;

constexpr size_t kNoCoarseBlock = SIZE_MAX;

// A block waiting for its lane; when coarse and fine fields are measured
// together, the coarse block whose window it is too (or kNoCoarseBlock).
struct QueuedBlock {
    BlockWindow window;
    int32_t mean;
    size_t coarse_index = kNoCoarseBlock;
};

struct alignas(BAL_FFT_ALIGNMENT) Lanes32 {
    int32_t block[32 * 32 * kLanes32];  // by lane
    int32_t re[32 * kColumns32 * kLanes32];
    int32_t im[32 * kColumns32 * kLanes32];
    uint32_t power[kPowerRows * kPowerCols * kLanes32];
    int32_t response[kResponseRows * kResponseCols * kLanes32];
    uint64_t energy[kLanes32];
    // Bit i of a lane's word i / 64: the response at search place i is
    // positive and a local maximum.
    uint64_t candidates[kLanes32][2];
    QueuedBlock queued[kLanes32];
    int queued_count;
};

constexpr size_t power_at(int u, int v) { return size_t((u + 8) * kPowerCols + (v + 8)) * kLanes32; }
constexpr size_t response_at(int u, int v) {
    return size_t((u + 7) * kResponseCols + (v + 7)) * kLanes32;
}

// The kernels pass 32-byte vectors only between functions inlined into one
// another, never across a call, so the note on their calling convention
// without AVX does not apply (the compiler gives it at the end of the file).
#pragma GCC diagnostic ignored "-Wpsabi"
namespace portable {
#define FP_WAVELENGTH_LANES_AVX2 0
#include "imaging/bal_wavelength_lanes.inc"
#undef FP_WAVELENGTH_LANES_AVX2
}  // namespace portable

// clang takes the target through an attribute on each function instead.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
#define FP_WAVELENGTH_LANES_AVX2 1
#include "imaging/bal_wavelength_lanes.inc"
#undef FP_WAVELENGTH_LANES_AVX2
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The five largest local maxima of a lane's responses: find_peaks32 over the
// places its candidate bits mark. The places left out have a response that
// is not positive, which never enters the list, or are not local maxima.
template <typename Response>
PeakList peaks_of_candidates(const uint64_t (&candidates)[2], const Response& r) {
    PeakList peaks;
    for (int word = 0; word < 2; ++word)
        for (uint64_t bits = candidates[word]; bits != 0; bits &= bits - 1) {
            const PeakPlace at = kPeakPlaceTable32.at[word * 64 + __builtin_ctzll(bits)];
            const int32_t q = r(at.u, at.v);
            if (q > peaks.fifth()) peaks.insert(q, at.u, at.v);
        }
    return peaks;
}

// Transforms and measures the queued blocks; take(queued, p, peaks, energy)
// then finishes each from its lane's powers p(u, v) and peak list.
template <typename Take>
void flush_lanes(Lanes32& s, const uint8_t* src, int32_t rows, int32_t cols, bool avx2, Take&& take) {
    if (s.queued_count == 0) return;
    const bal_simd_path path = avx2 ? bal_simd_path::avx2 : bal_simd_path::portable;
    if (avx2)
        avx2::before_transform(s, src, rows, cols);
    else
        portable::before_transform(s, src, rows, cols);
    bal_fft2d32_lanes(s.block, kColumns32, s.re, s.im, path);
    if (avx2)
        avx2::after_transform(s);
    else
        portable::after_transform(s);
    for (int lane = 0; lane < s.queued_count; ++lane) {
        const auto p = [&s, lane](int u, int v) { return s.power[power_at(u, v) + size_t(lane)]; };
        const auto r = [&s, lane](int u, int v) { return s.response[response_at(u, v) + size_t(lane)]; };
        take(s.queued[lane], p, peaks_of_candidates(s.candidates[lane], r), s.energy[lane]);
    }
    s.queued_count = 0;
}

// A block is measured when at least half of its window's pixels inside the
// image are foreground and their variance is at least 16.
bool measured32(const WindowStats& st) {
    return st.foreground != 0 && st.inside != 0 && (st.foreground * 256) / st.inside >= 128 && st.variance >= 16;
}

// Where the coarse and the fine grid share windows: coarse block (r, c) has
// the window of fine cell (d r + offset, d c + offset) when the fine grid is
// d times finer with blocks of block / d pixels, and the windows' margins
// differ by offset fine blocks; offset is -1 when they do not line up.
int32_t shared_window_offset(uint32_t block, uint32_t divisions) {
    if (divisions == 0 || block % divisions != 0 || block > 32) return -1;
    const auto coarse = static_cast<int32_t>(block), fine = coarse / static_cast<int32_t>(divisions);
    const int32_t margins = (32 - fine) / 2 - (32 - coarse) / 2;
    if (fine == 0 || margins % fine != 0 || margins / fine >= static_cast<int32_t>(divisions)) return -1;
    return margins / fine;
}

// ---- 16-point path ----

constexpr int kSpectrumStride16 = 22;
constexpr size_t kSpectrumValues16 = 17 * kSpectrumStride16;

using Spectrum16 = FrequencyGrid<uint32_t, -8, 8, -2, 8>;
using Response16 = FrequencyGrid<int32_t, -7, 7, -1, 7>;

struct Scratch16 {
    uint32_t transform[2 * kSpectrumValues16];  // fftn2d8rw_spectrum16's re and im
    Spectrum16 power;
    Response16 response;
};

void spectrum16(Scratch16& s, const uint8_t* src, int32_t rows, int32_t cols, uint32_t block,
                const BlockWindow& w, uint32_t mean) {
    fftn2d8rw_spectrum16(src, static_cast<uint16_t>(rows), static_cast<uint16_t>(cols),
                         static_cast<uint8_t>(block), static_cast<int16_t>(w.row),
                         static_cast<int16_t>(w.col), static_cast<uint8_t>(mean), s.transform,
                         s.transform + kSpectrumValues16);
    for (int u = -8; u <= 8; ++u) {
        const int row = u == 8 ? -8 : u;  // row +8 repeats row -8
        for (int v = 0; v <= 8; ++v)
            s.power.at(u, v) = s.transform[(row + 8) * kSpectrumStride16 + v];
    }
    for (int u = -8; u <= 8; ++u)
        for (int v = -2; v <= -1; ++v) s.power.at(u, v) = s.power.get(-u, -v);
}

void process_block16(const Spectrum16& spectrum, Response16& response, uint32_t max_wl,
                     uint32_t min_wl, uint16_t* raw, size_t index, uint8_t* frequency,
                     int8_t* angle) {
    const auto p = [&spectrum](int u, int v) { return spectrum.get(u, v); };
    uint64_t energy = 0;
    for (int u = -8; u <= 8; ++u)
        for (int v = 1; v <= 8; ++v) energy += p(u, v);
    for (int u = -8; u <= -1; ++u) energy += p(u, 0);
    const uint64_t threshold = energy >> 7;

    response.clear();
    for (int u = -6; u <= 6; ++u)
        for (int v = 0; v <= 6; ++v) {
            if (p(u, v) <= threshold) continue;
            const uint32_t direct = p(u - 1, v) + p(u + 1, v) + p(u, v - 1) + p(u, v + 1);
            response.at(u, v) = static_cast<int32_t>(4 * p(u, v) - direct);
        }

    PeakList peaks;
    for (int u = -6; u <= 6; ++u) {
        for (int v = u >= 1 ? 0 : 1; v <= 6; ++v) {
            const int32_t q = response.get(u, v);
            const bool is_max = q >= response.get(u - 1, v) && q >= response.get(u + 1, v) &&
                                q >= response.get(u, v - 1) && q >= response.get(u, v + 1);
            if (is_max && q > peaks.fifth()) peaks.insert(q, u, v);
        }
    }

    uint32_t f = 0;
    int8_t theta = 0;
    const TakenPeak taken = take_peak(peaks, p, 11, 11896508);
    if (taken.place >= 0 && (energy >> 3) <= taken.peak.neighbourhood) {
        f = std::min(((zr_sqrt_32(static_cast<uint32_t>(taken.r2)) * 250) / 500 + 16) >> 5, 255u);
        if (f != 0) theta = doubled_angle(taken.peak.fu, taken.peak.fv, taken.r2);
    }

    const uint32_t lambda = f != 0 ? ((f >> 1) + 262144) / f : 0;
    raw[index] = lambda == 0 || lambda > max_wl * 256 || lambda < min_wl * 256
                     ? 0
                     : static_cast<uint16_t>(lambda);
    if (frequency) frequency[index] = static_cast<uint8_t>(f);
    if (angle) angle[index] = theta;
}

}  // namespace

void fftn2d8rw_spectrum16(const uint8_t* src, uint16_t rows, uint16_t cols, uint8_t block,
                          int16_t block_row, int16_t block_col, uint8_t mean, uint32_t* re,
                          uint32_t* /*im*/) {
    const int32_t h = (16 - int32_t{block}) / 2;
    const int32_t top = block_row - h, left = block_col - h;
    int32_t windowed[16][16];
    for (int32_t i = 0; i < 16; ++i) {
        const int32_t y = top + i;
        for (int32_t j = 0; j < 16; ++j) {
            const int32_t x = left + j;
            windowed[i][j] = y >= 0 && y < rows && x >= 0 && x < cols
                                 ? ((int32_t{src[size_t(y) * cols + size_t(x)]} - mean) *
                                    kWindow16[i] * kWindow16[j]) / 16
                                 : 0;
        }
    }
    // Row pass: two real rows per complex transform, separated afterwards.
    int32_t spec_re[16][9], spec_im[16][9];
    int32_t zr[16], zi[16];
    for (int32_t m = 0; m < 8; ++m) {
        zr_fftn16(windowed[2 * m], windowed[2 * m + 1], zr, zi);
        for (int k = 1; k <= 7; ++k) {
            spec_re[2 * m][k] = (zr[k] + zr[16 - k]) / 2;
            spec_im[2 * m][k] = (zi[k] - zi[16 - k]) / 2;
            spec_re[2 * m + 1][k] = (zi[k] + zi[16 - k]) / 2;
            spec_im[2 * m + 1][k] = (zr[16 - k] - zr[k]) / 2;
        }
        for (int k : {0, 8}) {
            spec_re[2 * m][k] = zr[k];
            spec_im[2 * m][k] = 0;
            spec_re[2 * m + 1][k] = zi[k];
            spec_im[2 * m + 1][k] = 0;
        }
    }
    // Column pass.
    int32_t col_re[16], col_im[16];
    for (int v = 0; v <= 8; ++v) {
        for (int r = 0; r < 16; ++r) {
            col_re[r] = spec_re[r][v];
            col_im[r] = spec_im[r][v];
        }
        zr_fftn16(col_re, col_im, zr, zi);
        for (int k = 0; k < 16; ++k) {
            const int u = k <= 7 ? k : k - 16;
            re[(u + 8) * kSpectrumStride16 + v] = power(zr[k], zi[k]);
        }
    }
}

bal_status bal_ridge_wavelengths_fft(const uint8_t* src, const uint8_t* pixel_mask, int32_t rows,
                                     int32_t cols, uint32_t block, uint32_t max_wavelength,
                                     uint32_t min_wavelength, const uint8_t*, int32_t block_rows,
                                     uint32_t block_cols, uint8_t* quality, uint8_t* wavelength,
                                     uint8_t* frequency, int8_t* angle, bal_simd_path path) {
    const BlockGrid grid{src, pixel_mask, rows, cols, block, block_rows, block_cols};
    const BlockOutputs out{quality, frequency, angle};
    if (path == bal_simd_path::scalar) {
        return measure_wavelength_field<Scratch32>(
            grid, 32, wavelength,
            [&](Scratch32& s, const BlockWindow& w, const WindowStats& st, uint16_t* raw) {
                if (!measured32(st)) {
                    reject_block(raw, frequency, w.index);
                    return;
                }
                window32(s, src, rows, cols, w.top, w.left, static_cast<int32_t>(st.mean));
                zr_fftn2d32(s.block, s.re, s.im);
                power32(s);
                process_block32(s, max_wavelength, min_wavelength, raw, w.index, out);
            },
            [](Scratch32&, uint16_t*) {});
    }
    const bool avx2 = path != bal_simd_path::portable && bal_simd_has_avx2();
    const auto flush = [&](Lanes32& s, uint16_t* raw) {
        flush_lanes(s, src, rows, cols, avx2, [&](const QueuedBlock& q, const auto& p, const PeakList& peaks, uint64_t energy) {
            take_block32(p, peaks, energy, max_wavelength, min_wavelength, raw, q.window.index, out);
        });
    };
    return measure_wavelength_field<Lanes32>(
        grid, 32, wavelength,
        [&](Lanes32& s, const BlockWindow& w, const WindowStats& st, uint16_t* raw) {
            if (!measured32(st)) {
                reject_block(raw, frequency, w.index);
                return;
            }
            s.queued[s.queued_count++] = {w, static_cast<int32_t>(st.mean), kNoCoarseBlock};
            if (s.queued_count == kLanes32) flush(s, raw);
        },
        flush);
}

bal_status bal_ridge_wavelengths_fft_coarse_fine(const uint8_t* src, const uint8_t* pixel_mask, int32_t rows,
                                                 int32_t cols, uint32_t block, uint32_t divisions,
                                                 uint32_t max_wavelength, uint32_t min_wavelength, int32_t block_rows,
                                                 uint32_t block_cols, uint8_t* quality, uint8_t* wavelength,
                                                 uint8_t* frequency, int8_t* angle, uint8_t* fine_frequency,
                                                 int8_t* fine_angle, bal_simd_path path) {
    if (divisions == 0) return BAL_BAD_ARGUMENT;
    const auto fine_rows = static_cast<int32_t>(divisions) * std::max(block_rows, 0);
    const uint32_t fine_cols = divisions * block_cols;
    const int32_t offset = shared_window_offset(block, divisions);
    if (path == bal_simd_path::scalar || offset < 0) {
        const bal_status st =
            bal_ridge_wavelengths_fft(src, pixel_mask, rows, cols, block, max_wavelength, min_wavelength, nullptr,
                                      block_rows, block_cols, quality, wavelength, frequency, angle, path);
        if (st != BAL_OK) return st;
        return bal_ridge_wavelengths_fft(src, pixel_mask, rows, cols, block / divisions, max_wavelength,
                                         min_wavelength, nullptr, fine_rows, fine_cols, nullptr, nullptr,
                                         fine_frequency, fine_angle, path);
    }

    const size_t coarse_blocks = size_t(std::max(block_rows, 0)) * block_cols;
    const size_t fine_blocks = size_t(fine_rows) * fine_cols;
    constexpr size_t kAlign = alignof(Lanes32);
    auto* lanes = static_cast<Lanes32*>(std::aligned_alloc(kAlign, (sizeof(Lanes32) + kAlign - 1) / kAlign * kAlign));
    auto* coarse_raw = static_cast<uint16_t*>(std::malloc(std::max<size_t>(coarse_blocks, 1) * sizeof(uint16_t)));
    auto* fine_raw = static_cast<uint16_t*>(std::malloc(std::max<size_t>(fine_blocks, 1) * sizeof(uint16_t)));
    WindowSums sums;
    const auto release = [&] {
        std::free(lanes);
        std::free(coarse_raw);
        std::free(fine_raw);
    };
    if (!lanes || !coarse_raw || !fine_raw || !sums.build(src, pixel_mask, rows, cols)) {
        release();
        return BAL_NO_MEMORY;
    }
    std::memset(static_cast<void*>(lanes), 0, sizeof(Lanes32));

    const BlockOutputs coarse_out{quality, frequency, angle}, fine_out{nullptr, fine_frequency, fine_angle};
    const bool avx2 = path != bal_simd_path::portable && bal_simd_has_avx2();
    const auto take = [&](const QueuedBlock& q, const auto& p, const PeakList& peaks, uint64_t energy) {
        take_block32(p, peaks, energy, max_wavelength, min_wavelength, fine_raw, q.window.index, fine_out);
        if (q.coarse_index != kNoCoarseBlock)
            take_block32(p, peaks, energy, max_wavelength, min_wavelength, coarse_raw, q.coarse_index, coarse_out);
    };
    const auto fine_block = static_cast<int32_t>(block / divisions);
    const auto d = static_cast<int32_t>(divisions);
    const int32_t h = (32 - fine_block) / 2;
    for (int32_t fr = 0; fr < fine_rows; ++fr) {
        for (uint32_t fc = 0; fc < fine_cols; ++fc) {
            BlockWindow w{};
            w.index = size_t(fr) * fine_cols + fc;
            w.row = fr * fine_block;
            w.col = static_cast<int32_t>(fc) * fine_block;
            w.top = w.row - h;
            w.left = w.col - h;
            size_t coarse_index = kNoCoarseBlock;
            const int32_t cr = fr - offset, cc = static_cast<int32_t>(fc) - offset;
            if (cr >= 0 && cc >= 0 && cr % d == 0 && cc % d == 0)
                coarse_index = size_t(cr / d) * block_cols + size_t(cc / d);
            const WindowStats st = window_stats(sums, w.top, w.left, 32);
            if (!measured32(st)) {
                reject_block(fine_raw, fine_frequency, w.index);
                if (coarse_index != kNoCoarseBlock) reject_block(coarse_raw, frequency, coarse_index);
                continue;
            }
            lanes->queued[lanes->queued_count++] = {w, static_cast<int32_t>(st.mean), coarse_index};
            if (lanes->queued_count == kLanes32) flush_lanes(*lanes, src, rows, cols, avx2, take);
        }
    }
    flush_lanes(*lanes, src, rows, cols, avx2, take);

    bal_status status = postprocess_frequency_field(coarse_raw, uint32_t(std::max(block_rows, 0)), block_cols, wavelength);
    if (status == BAL_OK) status = postprocess_frequency_field(fine_raw, uint32_t(fine_rows), fine_cols, nullptr);
    release();
    return status;
}

bal_status bal_ridge_wavelengths_fft16(const uint8_t* src, int32_t rows, int32_t cols,
                                       uint32_t block, uint32_t max_wavelength,
                                       uint32_t min_wavelength, const uint8_t*, int32_t block_rows,
                                       uint32_t block_cols, const uint8_t*, uint8_t* wavelength,
                                       uint8_t* frequency, int8_t* angle) {
    const BlockGrid grid{src, nullptr, rows, cols, block, block_rows, block_cols};
    return measure_wavelength_field<Scratch16>(
        grid, 16, wavelength,
        [&](Scratch16& s, const BlockWindow& w, const WindowStats& st, uint16_t* raw) {
            if (st.inside == 0 || static_cast<uint16_t>(st.variance) <= 15) {
                reject_block(raw, frequency, w.index);
                return;
            }
            spectrum16(s, src, rows, cols, block, w, st.mean);
            process_block16(s.power, s.response, max_wavelength, min_wavelength, raw, w.index,
                            frequency, angle);
        },
        [](Scratch16&, uint16_t*) {});
}

bal_status filter_wavelengths(uint16_t* raw, uint32_t block_rows, uint32_t block_cols) {
    const size_t n = size_t{block_rows} * block_cols;
    auto* copy = static_cast<uint16_t*>(std::malloc(std::max<size_t>(n, 1) * sizeof(uint16_t)));
    if (!copy) return BAL_NO_MEMORY;
    std::memcpy(copy, raw, n * sizeof(uint16_t));
    for (uint32_t r = 0; r < block_rows; ++r) {
        for (uint32_t c = 0; c < block_cols; ++c) {
            const size_t i = size_t(r) * block_cols + c;
            if (copy[i] == 0) continue;
            uint32_t values[5];
            uint32_t count = 0;
            values[count++] = copy[i];
            if (r > 0 && copy[i - block_cols]) values[count++] = copy[i - block_cols];
            if (c > 0 && copy[i - 1]) values[count++] = copy[i - 1];
            if (c + 1 < block_cols && copy[i + 1]) values[count++] = copy[i + 1];
            if (r + 1 < block_rows && copy[i + block_cols]) values[count++] = copy[i + block_cols];
            if (count == 1) {
                raw[i] = 0;
            } else if (count == 2) {
                raw[i] = static_cast<uint16_t>((values[0] + values[1]) >> 1);
            } else {
                uint32_t sum = 0, lo = UINT32_MAX, hi = 0;
                for (uint32_t k = 0; k < count; ++k) {
                    sum += values[k];
                    lo = std::min(lo, values[k]);
                    hi = std::max(hi, values[k]);
                }
                raw[i] = static_cast<uint16_t>((sum - lo - hi) / (count - 2));
            }
        }
    }
    std::free(copy);
    return BAL_OK;
}

bal_status postprocess_frequency_field(uint16_t* raw, uint32_t block_rows, uint32_t block_cols,
                                       uint8_t* wavelength) {
    bal_status status = filter_wavelengths(raw, block_rows, block_cols);
    if (status != BAL_OK || !wavelength) return status;
    status = filter_wavelengths(raw, block_rows, block_cols);
    if (status != BAL_OK) return status;

    const size_t n = size_t{block_rows} * block_cols;
    if (n == 0) return BAL_OK;
    auto* previous = static_cast<uint16_t*>(std::malloc(n * sizeof(uint16_t)));
    if (!previous) return BAL_NO_MEMORY;
    if (std::all_of(raw, raw + n, [](uint16_t v) { return v == 0; })) raw[0] = 2560;

    // Grow the measured area one ring per pass until no gap is left.
    for (bool filled = true; filled;) {
        filled = false;
        std::memcpy(previous, raw, n * sizeof(uint16_t));
        for (uint32_t r = 0; r < block_rows; ++r) {
            for (uint32_t c = 0; c < block_cols; ++c) {
                const size_t i = size_t(r) * block_cols + c;
                if (previous[i] != 0) continue;
                uint32_t sum = 0, count = 0;
                for (uint32_t y = r ? r - 1 : 0; y <= std::min(r + 1, block_rows - 1); ++y)
                    for (uint32_t x = c ? c - 1 : 0; x <= std::min(c + 1, block_cols - 1); ++x)
                        if (const uint16_t v = previous[size_t(y) * block_cols + x]; v != 0) {
                            sum += v;
                            ++count;
                        }
                if (count != 0) {
                    raw[i] = static_cast<uint16_t>(sum / count);
                    filled = true;
                }
            }
        }
    }
    std::free(previous);

    status = bal_blur_weighted_uint16(raw, block_rows, block_cols, raw);
    if (status != BAL_OK) return status;
    for (size_t i = 0; i < n; ++i) wavelength[i] = static_cast<uint8_t>((raw[i] + 128) >> 8);
    return BAL_OK;
}
