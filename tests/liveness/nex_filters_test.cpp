#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "liveness/nex_filters.h"
#include "liveness/nex_math.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<uint8_t> repeated(std::initializer_list<std::pair<uint8_t, int>> runs) {
    std::vector<uint8_t> v;
    for (const auto& [value, count] : runs) v.insert(v.end(), static_cast<size_t>(count), value);
    return v;
}

TEST(NexFilters, OtsuThreshold) {
    struct Case {
        const char* what;
        std::vector<uint8_t> values;
        uint8_t want;
    };
    const Case cases[] = {
        {"all equal", repeated({{77, 256}}), 0},
        {"100 and 200: ties move up", repeated({{100, 128}, {200, 128}}), 199},
        {"100 and 255", repeated({{100, 128}, {255, 128}}), 254},
        // Level 255 counts in the upper weight but not in the total: the
        // upper class {120, 255} then has a low mean, and 119 wins (with 255
        // in the total the split below 255 would).
        {"255 left out of the total", repeated({{60, 100}, {120, 20}, {255, 5}}), 119},
        {"single sample", repeated({{9, 1}}), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.want, otsu_thresh(c.values.data(), static_cast<int32_t>(c.values.size()))) << c.what;
}

TEST(NexFilters, GaussianKernelsAreCentredOnLinePlusSeven) {
    for (uint32_t q = 0; q < 9; ++q) {
        const uint32_t kernel = std::min(q, 7u);
        // A constant line of 128 gives the flat value everywhere.
        std::vector<uint32_t> flat(NEX_GAUSS_LINE, 128), out(NEX_GAUSS_OUT);
        gaussian_filter_1d(flat.data(), q, out.data());
        for (uint32_t v : out) EXPECT_EQ(nex_gauss_flat_128(kernel), v);
        // An impulse at line[16] reaches outputs i with |i + 7 - 16| <= h, symmetric
        // about i = 9, largest there.
        std::vector<uint32_t> impulse(NEX_GAUSS_LINE, 0);
        impulse[16] = 1;
        gaussian_filter_1d(impulse.data(), q, out.data());
        const uint32_t sum = std::accumulate(out.begin(), out.end(), 0u);
        EXPECT_EQ(nex_gauss_flat_128(kernel) / 128, sum) << q;
        EXPECT_EQ(*std::max_element(out.begin(), out.end()), out[9]) << q;
        for (int d = 1; d <= 9; ++d) EXPECT_EQ(out[9 - d], out[9 + d]) << q << " at " << d;
        const int reach = kernel < 5 ? static_cast<int>(kernel) + 1 : 7;  // h
        EXPECT_NE(0u, out[9 - reach]) << q;
        if (9 - reach - 1 >= 0) {
            EXPECT_EQ(0u, out[9 - reach - 1]) << q;
        }
    }
    std::vector<uint32_t> impulse(NEX_GAUSS_LINE, 0), out(NEX_GAUSS_OUT);
    impulse[16] = 1;
    gaussian_filter_1d(impulse.data(), 0, out.data());
    EXPECT_EQ((std::vector<uint32_t>{1, 8, 1}), std::vector<uint32_t>(out.begin() + 8, out.begin() + 11));
}

TEST(NexFilters, KernelIndexOfPeriodCode) {
    for (int p = 0; p < 256; ++p) {
        const uint32_t want = p < 48 ? 0 : static_cast<uint32_t>((p / 16 - 1) / 2);
        EXPECT_EQ(want, nex_gauss_kernel_index(static_cast<uint8_t>(p))) << p;
    }
    EXPECT_EQ(7u, nex_gauss_kernel_index(240));
    EXPECT_EQ(7u, nex_gauss_kernel_index(255));
    EXPECT_EQ(1280u, nex_gauss_flat_128(0));
    EXPECT_EQ(6016u, nex_gauss_flat_128(7));
    EXPECT_EQ(6016u, nex_gauss_flat_128(100));
}

// Row pass, then column pass, each from a copy of the values before it.
std::vector<uint8_t> smooth_reference(std::vector<uint8_t> img, int rows, int cols) {
    auto pass = [&](int lines, int len, auto at) {
        const std::vector<uint8_t> before = img;
        for (int l = 0; l < lines; ++l)
            for (int i = 0; i < len; ++i) {
                const int prev = before[at(l, std::max(i - 1, 0))];
                const int cur = before[at(l, i)];
                const int next = before[at(l, std::min(i + 1, len - 1))];
                img[at(l, i)] = static_cast<uint8_t>((prev + 2 * cur + next) >> 2);
            }
    };
    pass(rows, cols, [cols](int r, int c) { return r * cols + c; });
    pass(cols, rows, [cols](int c, int r) { return r * cols + c; });
    return img;
}

TEST(NexFilters, Smoothing3x3) {
    std::vector<uint8_t> tiny = {0, 0, 0, 0, 255, 0, 0, 0, 0};
    gaussian_filter_3x3(tiny.data(), 3, 3);
    // Rows: centre row 63 127 63; columns: 15 31 15 and 31 63 31.
    EXPECT_EQ((std::vector<uint8_t>{15, 31, 15, 31, 63, 31, 15, 31, 15}), tiny);
    std::mt19937 rng(11);
    for (auto [rows, cols] : {std::pair{3, 3}, std::pair{16, 16}, std::pair{7, 29}}) {
        std::vector<uint8_t> img(static_cast<size_t>(rows * cols));
        for (auto& v : img) v = static_cast<uint8_t>(rng());
        const std::vector<uint8_t> want = smooth_reference(img, rows, cols);
        gaussian_filter_3x3(img.data(), rows, cols);
        EXPECT_EQ(want, img) << rows << " x " << cols;
    }
    std::vector<uint8_t> narrow = {1, 200, 3, 40, 5, 60};
    const auto before = narrow;
    gaussian_filter_3x3(narrow.data(), 2, 3);
    gaussian_filter_3x3(narrow.data(), 3, 2);
    EXPECT_EQ(before, narrow);
}

// Grey grating 128 + 100 cos(2 pi d / 8) with d the distance across the
// lines: bright lines at d = 0 mod 8, dark ones at d = 4 mod 8.
struct Grating {
    int rows, cols;
    bool vertical_lines;  // lines along the rows (d = column), else along the columns (d = row)
    std::vector<uint8_t> pixels;
};

Grating make_grating(int rows, int cols, bool vertical_lines) {
    Grating g{rows, cols, vertical_lines, std::vector<uint8_t>(static_cast<size_t>(rows * cols))};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const int d = vertical_lines ? x : y;
            g.pixels[static_cast<size_t>(y * cols + x)] =
                static_cast<uint8_t>(std::lround(128 + 100 * std::cos(2 * kPi * d / 8)));
        }
    return g;
}

TEST(NexFilters, DirectionalFilterTurnsGratingsIntoLines) {
    // Orientation codes: ridges along the row axis are 64, along the column
    // axis 128. Period 8 pixels: code 128.
    for (bool vertical : {true, false}) {
        Grating g = make_grating(48, 64, vertical);
        const int block_rows = 3, block_cols = 4;
        std::vector<uint8_t> orientation(block_rows * block_cols, vertical ? 64 : 128);
        std::vector<uint8_t> period(block_rows * block_cols, 128);
        directional_filter(g.pixels.data(), g.rows, g.cols, orientation.data(), period.data(), block_rows,
                           block_cols);
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.cols; ++x) {
                const uint8_t v = g.pixels[static_cast<size_t>(y * g.cols + x)];
                ASSERT_TRUE(v == 0 || v == 255) << y << ", " << x;
                const int d = (vertical ? x : y) % 8;
                if (d == 0) {
                    EXPECT_EQ(255, v) << "bright line at " << y << ", " << x << (vertical ? " vertical" : " horizontal");
                } else if (d == 4) {
                    EXPECT_EQ(0, v) << "dark line at " << y << ", " << x << (vertical ? " vertical" : " horizontal");
                }
            }
    }
}

TEST(NexFilters, DirectionalFilterLeavesUnorientedAndFlatBlocks) {
    // Left block column: a grating without orientation; columns 16..47 flat
    // grey, the rightmost blocks oriented (their whole window is flat: zero
    // derivative, zero spread).
    Grating g = make_grating(32, 48, true);
    for (int y = 0; y < 32; ++y)
        for (int x = 16; x < 48; ++x) g.pixels[static_cast<size_t>(y * 48 + x)] = 128;
    const std::vector<uint8_t> before = g.pixels;
    const uint8_t orientation[6] = {0, 0, 64, 0, 0, 64};
    const uint8_t period[6] = {128, 128, 128, 128, 128, 128};
    directional_filter(g.pixels.data(), 32, 48, orientation, period, 2, 3);
    EXPECT_EQ(before, g.pixels);
}

// Set pixels of the plane as a 0/1 picture, for readable failures.
std::vector<uint8_t> plane_of(const std::vector<uint8_t>& img, uint8_t plane) {
    std::vector<uint8_t> p(img.size());
    for (size_t i = 0; i < img.size(); ++i) p[i] = (img[i] & plane) != 0;
    return p;
}

int count_components(const std::vector<uint8_t>& set, int rows, int cols) {
    std::vector<int> label(set.size(), 0);
    int count = 0;
    for (int start = 0; start < rows * cols; ++start) {
        if (!set[start] || label[start]) continue;
        ++count;
        std::vector<int> stack{start};
        label[start] = count;
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const int y = at / cols + dy, x = at % cols + dx;
                    if (y < 0 || y >= rows || x < 0 || x >= cols) continue;
                    const int n = y * cols + x;
                    if (set[n] && !label[n]) {
                        label[n] = count;
                        stack.push_back(n);
                    }
                }
        }
    }
    return count;
}

bool has_2x2_square(const std::vector<uint8_t>& set, int rows, int cols) {
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < cols; ++x)
            if (set[y * cols + x] && set[y * cols + x + 1] && set[(y + 1) * cols + x] && set[(y + 1) * cols + x + 1])
                return true;
    return false;
}

TEST(NexFilters, ThinningKeepsIsolatedPixelsLineEndsAndBorders) {
    const int rows = 9, cols = 12;
    std::vector<uint8_t> img(rows * cols, 0);
    img[2 * cols + 2] = 3;                                    // isolated
    for (int x = 5; x <= 9; ++x) img[6 * cols + x] = 3;       // one-pixel line
    for (int x = 0; x < cols; ++x) img[x] = 3;                // top border row
    const auto before = img;
    thinning(img.data(), rows, cols, 2);
    EXPECT_EQ(before, img);

    // A full plane: the outermost rows and columns are never removed.
    std::vector<uint8_t> full(rows * cols, 5);
    thinning(full.data(), rows, cols, 4);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            if (y == 0 || x == 0 || y == rows - 1 || x == cols - 1) {
                EXPECT_EQ(5, full[y * cols + x]);
            }
    for (uint8_t v : full) EXPECT_TRUE(v == 5 || v == 1);  // removed pixels lose only the plane bit
}

TEST(NexFilters, ThinningOfBarsAndBlobs) {
    const int rows = 40, cols = 60;
    // Bars 1..9 wide: no 2 x 2 square stays, each bar stays one component.
    for (int width = 1; width <= 9; ++width) {
        std::vector<uint8_t> img(rows * cols, 1);
        for (int y = 10; y < 10 + width; ++y)
            for (int x = 5; x < 50; ++x) img[y * cols + x] = 3;
        for (int y = 20; y < 36; ++y)
            for (int x = 30; x < 30 + width; ++x) img[y * cols + x] = 3;
        thinning(img.data(), rows, cols, 2);
        const auto set = plane_of(img, 2);
        EXPECT_FALSE(has_2x2_square(set, rows, cols)) << "width " << width;
        EXPECT_EQ(2, count_components(set, rows, cols)) << "width " << width;
    }
    // Random blobs away from the border: a subset, the same 8-connected
    // components, and thinning again changes nothing.
    std::mt19937 rng(7);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint8_t> img(rows * cols, 1);
        for (int blob = 0; blob < 6; ++blob) {
            const int cy = 4 + static_cast<int>(rng() % 32), cx = 4 + static_cast<int>(rng() % 52);
            const int r = 1 + static_cast<int>(rng() % 4);
            for (int y = cy - r; y <= cy + r; ++y)
                for (int x = cx - r; x <= cx + r; ++x)
                    if ((y - cy) * (y - cy) + (x - cx) * (x - cx) <= r * r + static_cast<int>(rng() % 3))
                        img[y * cols + x] = 5;
        }
        const auto before = plane_of(img, 4);
        thinning(img.data(), rows, cols, 4);
        const auto after = plane_of(img, 4);
        for (size_t i = 0; i < after.size(); ++i) ASSERT_LE(after[i], before[i]) << "trial " << trial;
        EXPECT_EQ(count_components(before, rows, cols), count_components(after, rows, cols)) << "trial " << trial;
        const auto once = img;
        thinning(img.data(), rows, cols, 4);
        EXPECT_EQ(once, img) << "trial " << trial;
    }
}

TEST(NexFilters, UnionFind) {
    uint8_t parent[8], rank[8] = {};
    std::iota(parent, parent + 8, uint8_t{0});
    EXPECT_EQ(3, find_set(3, parent));
    EXPECT_EQ(3, parent[3]);
    Union(1, 2, parent, rank);  // equal ranks: 1 under 2, rank 2 raised
    EXPECT_EQ(2, parent[1]);
    EXPECT_EQ(1, rank[2]);
    Union(3, 1, parent, rank);  // 3 (rank 0) under 2 (rank 1)
    EXPECT_EQ(2, parent[3]);
    Union(2, 4, parent, rank);  // 4 (rank 0) under 2
    EXPECT_EQ(2, parent[4]);
    Union(2, 2, parent, rank);  // same root: only the rank rises
    EXPECT_EQ(2, parent[2]);
    EXPECT_EQ(2, rank[2]);
    // A chain 5 -> 6 -> 7 is compressed by find_set.
    parent[5] = 6;
    parent[6] = 7;
    EXPECT_EQ(7, find_set(5, parent));
    EXPECT_EQ(7, parent[5]);
}

TEST(NexFilters, OperationsWithoutCaller) {
    // Crossing number of the centre of 3 x 3 patterns.
    struct Cross {
        std::vector<uint8_t> img;
        int32_t want;
    };
    const Cross crosses[] = {
        {{0, 0, 0, 0, 1, 0, 0, 0, 0}, 0},
        {{0, 1, 0, 0, 1, 0, 0, 0, 0}, 1},
        {{0, 1, 0, 0, 1, 0, 0, 1, 0}, 2},
        {{1, 0, 1, 0, 1, 0, 0, 1, 0}, 3},
        {{2, 2, 2, 2, 1, 2, 2, 2, 2}, 0},
    };
    for (const Cross& c : crosses) EXPECT_EQ(c.want, crossing_number(c.img.data(), 3, 1, 1, 1));
    EXPECT_EQ(0, crossing_number(crosses[1].img.data(), 3, 1, 1, 2));  // masked out

    EXPECT_EQ(0, direction(3, 4, 3, 4));
    EXPECT_EQ(0, direction(0, 0, 0, 5));    // +y
    EXPECT_EQ(64, direction(0, 0, 5, 0));   // +x
    EXPECT_EQ(128, direction(0, 0, 0, -5));
    EXPECT_EQ(256, direction(0, 0, -1, 1000000));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(nex_arctan(i * 7 - 100, 60 - i * 3), direction(2, 5, 2 + 60 - i * 3, 5 + i * 7 - 100));

    EXPECT_EQ(5u, euclidean_distance(0, 0, 3, 4));
    EXPECT_EQ(1u, euclidean_distance(0, 0, 1, 1));   // 1.414
    EXPECT_EQ(2u, euclidean_distance(1, 2, 0, 0));   // 2.236
    EXPECT_EQ(3u, euclidean_distance(0, 0, 2, 2));   // 2.83
    std::mt19937 rng(3);
    std::uniform_int_distribution<int32_t> coord(-(1 << 29), 1 << 29);
    for (int i = 0; i < 1000; ++i) {
        const int32_t a = coord(rng), b = coord(rng), c = coord(rng), d = coord(rng);
        const long double exact = std::sqrt(static_cast<long double>(a - c) * (a - c) + static_cast<long double>(b - d) * (b - d));
        EXPECT_EQ(static_cast<uint32_t>(std::llround(exact)), euclidean_distance(a, b, c, d));
    }

    std::vector<uint8_t> img = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    flipud(img.data(), 3, 3);
    EXPECT_EQ((std::vector<uint8_t>{7, 8, 9, 4, 5, 6, 1, 2, 3}), img);
    std::vector<uint8_t> one_row = {1, 2, 3};
    flipud(one_row.data(), 1, 3);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), one_row);
    std::vector<uint8_t> four = {1, 2, 3, 4};
    flipud(four.data(), 4, 1);
    EXPECT_EQ((std::vector<uint8_t>{4, 3, 2, 1}), four);
}

}  // namespace
