// Ghost removal: a histogram test on the darker blocks for a second, fainter
// print, and a filter that pushes the fainter grey levels towards white.
#include "imaging/bal_ghost.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_statistics.h"

namespace {

constexpr uint32_t kBins = 64;
constexpr uint32_t kMaxPeaks = 8;

enum Extremum : uint8_t { kNone = 0, kPeak = 1, kValley = 2 };

using Histogram = std::array<uint32_t, kBins>;

uint8_t largest_pixel(const uint8_t* src, size_t n) {
    // Chunks of 256 pixels reduce without branches; a 255 ends the scan.
    uint8_t m = 0;
    for (size_t start = 0; start < n && m != 255; start += 256) {
        const size_t end = std::min(n, start + 256);
        for (size_t i = start; i < end; ++i) m = std::max(m, src[i]);
    }
    return m;
}

// Histogram (bins of 4 grey levels) of the blocks whose mean is below the
// bright limit, normalised to a total of about 1024. false when the block
// means cannot be had.
bool dark_block_histogram(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t block, Histogram& h) {
    h.fill(0);
    const uint32_t nr = rows / block, nc = cols / block;
    const size_t nblocks = size_t{nr} * nc;
    auto* means = static_cast<uint8_t*>(std::malloc(nblocks ? nblocks : 1));
    if (!means) return false;
    if (nblocks) bal_mean_blockwise_uint8(src, rows, cols, block, nr, nc, means);

    const uint8_t top = largest_pixel(src, size_t{rows} * cols);
    Histogram part[4] = {};
    const uint32_t limit = top > 8 ? top - 8u : 0u;
    uint32_t n = 0;
    for (uint32_t br = 0; br < nr; ++br)
        for (uint32_t bc = 0; bc < nc; ++bc) {
            if (means[size_t{br} * nc + bc] >= limit) continue;
            for (uint32_t y = br * block; y < br * block + block; ++y) {
                const uint8_t* row = src + size_t{y} * cols + size_t{bc} * block;
                uint32_t x = 0;
                // Four interleaved counter sets keep neighbouring pixels of
                // equal grey from waiting on each other's increment.
                for (; x + 3 < block; x += 4) {
                    ++part[0][row[x] >> 2];
                    ++part[1][row[x + 1] >> 2];
                    ++part[2][row[x + 2] >> 2];
                    ++part[3][row[x + 3] >> 2];
                }
                for (; x < block; ++x) ++part[0][row[x] >> 2];
            }
            n += block * block;
        }
    std::free(means);
    for (uint32_t i = 0; i < kBins; ++i) h[i] = part[0][i] + part[1][i] + part[2][i] + part[3][i];
    if (n != 0)
        for (uint32_t& bin : h) bin = (bin << 10) / n;
    return true;
}

Histogram smooth(const Histogram& h) {
    Histogram s{};
    s[0] = (h[0] + h[1]) >> 1;
    for (uint32_t i = 1; i + 1 < kBins; ++i) s[i] = (h[i - 1] + h[i] + h[i + 1]) / 3;
    s[kBins - 1] = (h[kBins - 2] + h[kBins - 1]) >> 1;
    return s;
}

// Peaks and valleys of the smoothed histogram from the signs of its slopes.
std::array<uint8_t, kBins> find_extrema(const Histogram& s) {
    enum State { kUndecided, kRising, kFalling } state = kUndecided;
    std::array<uint8_t, kBins> e{};
    for (uint32_t i = 0; i + 1 < kBins; ++i) {
        const int16_t d = static_cast<int16_t>(s[i + 1] - s[i]);
        if (d >= 1 && state != kRising) {
            e[i] = kValley;
            state = kRising;
        } else if (d < 0 && state != kFalling) {
            e[i] = kPeak;
            state = kFalling;
        }
    }
    return e;
}

// Drops the middle one of three successive extrema that lie within 7 of each
// other, with the less marked of its two neighbours.
void merge_flat_extrema(const Histogram& s, std::array<uint8_t, kBins>& e) {
    auto level = [&s](int32_t i) { return static_cast<int32_t>(static_cast<int16_t>(s[i])); };
    int32_t a = -1, b = -1;
    for (int32_t c = 0; c < static_cast<int32_t>(kBins); ++c) {
        if (e[c] == kNone) continue;
        if (a < 0 || b < 0 || std::abs(level(a) - level(b)) > 7 || std::abs(level(b) - level(c)) > 7) {
            a = b;
            b = c;
            continue;
        }
        const bool keep_c = e[b] == kPeak ? level(c) <= level(a)   // the lower valley
                                          : level(a) <= level(c);  // the higher peak
        e[b] = kNone;
        if (keep_c) {
            e[a] = kNone;
            b = c;
        } else {
            e[c] = kNone;
            b = a;
        }
        a = -1;
    }
}

struct Peaks {
    std::array<uint32_t, kMaxPeaks> p{};  // peak bins
    std::array<uint32_t, kMaxPeaks> v{};  // valley after each peak
    uint32_t count = 0;

    void remove(uint32_t m) {
        for (uint32_t k = m; k + 1 < count; ++k) {
            p[k] = p[k + 1];
            v[k] = v[k + 1];
        }
        --count;
    }
};

Peaks list_peaks(const std::array<uint8_t, kBins>& e) {
    Peaks pk;
    uint32_t v = 0;
    for (uint32_t i = 0; i < kBins; ++i) {
        if (e[i] == kValley) {
            v = i;
        } else if (e[i] == kPeak) {
            if (pk.count == kMaxPeaks) break;
            pk.p[pk.count] = i;
            if (pk.count > 0) pk.v[pk.count - 1] = v;
            ++pk.count;
            v = i;
        }
    }
    return pk;
}

// Area of peak k above the higher of its two bounding valleys.
uint32_t peak_area(const Histogram& s, const Peaks& pk, uint32_t k) {
    const uint32_t left = k == 0 ? 0 : pk.v[k - 1];
    const uint32_t right = pk.v[k];
    const uint32_t level = pk.p[k] == 0 ? s[right] : (s[left] > s[right] ? s[left] : s[right]);
    uint32_t area = 0;
    for (uint32_t j = left; j <= right; ++j)
        if (s[j] > level) area += s[j] - level;
    return area;
}

// Removes the smallest of the first three peaks until three are left.
void reduce_to_three_peaks(const Histogram& s, Peaks& pk) {
    while (pk.count > 3) {
        std::array<uint32_t, kMaxPeaks> area{};
        for (uint32_t k = 0; k + 1 < pk.count; ++k) area[k] = peak_area(s, pk, k);
        uint32_t m;
        if (area[0] <= area[1])
            m = area[0] < area[2] ? 0 : 2;
        else
            m = area[1] < area[2] ? 1 : 2;
        if (m == 1) pk.v[0] = s[pk.v[0]] < s[pk.v[1]] ? pk.v[0] : pk.v[1];
        if (m == 2) pk.v[1] = s[pk.v[1]] < s[pk.v[2]] ? pk.v[1] : pk.v[2];
        pk.remove(m);
    }
}

// The in-place filter. Rows are handled with their entry values: a copy of
// the current row and the above-threshold flags of the rows above, at and
// below it (the row below is not written yet when its flags are taken).
bool filter_ghost(uint8_t* img, uint32_t rows, uint32_t cols, uint8_t threshold) {
    if (rows == 0 || cols == 0) return true;
    auto* buffers = static_cast<uint8_t*>(std::malloc(size_t{cols} * 4));
    if (!buffers) return false;
    uint8_t* entry = buffers;
    uint8_t* above = buffers + cols;
    uint8_t* here = buffers + 2 * size_t{cols};
    uint8_t* below = buffers + 3 * size_t{cols};
    const size_t stride = cols;
    auto take_flags = [cols, threshold](const uint8_t* row, uint8_t* flags) {
        for (uint32_t x = 0; x < cols; ++x) flags[x] = row[x] > threshold;
    };

    if (rows > 2 && cols > 2) {
        take_flags(img, above);
        take_flags(img + stride, here);
        for (uint32_t y = 1; y + 1 < rows; ++y) {
            uint8_t* row = img + y * stride;
            std::memcpy(entry, row, cols);
            take_flags(row + stride, below);
            for (uint32_t x = 1; x + 1 < cols; ++x) {
                const uint32_t v = entry[x];
                const uint32_t k = above[x - 1] + above[x] + above[x + 1] + here[x - 1] + here[x + 1] + below[x - 1] +
                                   below[x] + below[x + 1];
                const uint32_t pushed = v + ((k * (255 - v)) >> 3);
                row[x] = static_cast<uint8_t>(here[x] ? pushed : v);
            }
            uint8_t* t = above;
            above = here;
            here = below;
            below = t;
        }
    }
    std::free(buffers);

    auto whiten = [threshold](uint8_t& p) {
        if (p > threshold) p = 255;
    };
    for (uint32_t x = 0; x < cols; ++x) {
        whiten(img[x]);
        whiten(img[(rows - 1) * stride + x]);
    }
    for (uint32_t y = 1; y + 1 < rows; ++y) {
        whiten(img[y * stride]);
        whiten(img[y * stride + cols - 1]);
    }
    return true;
}

}  // namespace

void bal_filter_ghost(uint8_t* img, uint32_t rows, uint32_t cols, uint8_t threshold) {
    filter_ghost(img, rows, cols, threshold);
}

uint32_t bal_ghost_remove_bs(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, uint32_t block) {
    if (dst != src) std::memcpy(dst, src, size_t{rows} * cols);
    if (block == 0) return 0;

    Histogram h;
    if (!dark_block_histogram(src, rows, cols, block, h)) return 0;
    const Histogram s = smooth(h);
    std::array<uint8_t, kBins> extrema = find_extrema(s);
    merge_flat_extrema(s, extrema);
    Peaks pk = list_peaks(extrema);
    if (pk.count <= 2) return 0;
    reduce_to_three_peaks(s, pk);

    // A second print: a mode well above the ridge mode holding a fair share
    // of the pixels up to the valley after it.
    uint32_t s1 = 0, s2 = 0;
    for (uint32_t j = 0; j <= pk.v[0]; ++j) s1 += s[j];
    for (uint32_t j = pk.v[0] + 1; j <= pk.v[1] && j < kBins; ++j) s2 += s[j];
    if (s1 + s2 == 0) return 0;  // cannot happen: s1 holds the first peak
    const uint32_t share = s1 * 100 / (s1 + s2);
    uint32_t spread = pk.p[0] * s[pk.v[0]];
    if (spread == 0) spread = 1;
    if (!((pk.p[1] - pk.p[0]) * share / spread > 5 && pk.p[1] > 22 && share > 20)) return 0;

    uint32_t threshold = 0;
    if (pk.v[0] != 0) {
        uint32_t v = pk.v[0];
        uint32_t a = s[v];
        while (a <= s1 / 20 && v > 1) {
            --v;
            a += s[v];
        }
        threshold = (v * 255) >> 6;
    }
    return filter_ghost(dst, rows, cols, static_cast<uint8_t>(threshold)) ? 1 : 0;
}

uint32_t bal_ghost_remove(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst) {
    return bal_ghost_remove_bs(src, rows, cols, dst, 12);
}
