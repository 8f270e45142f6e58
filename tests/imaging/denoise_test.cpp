// Denoising: the residual against the 3 x 3 second-difference mask, the
// subtraction loops, the morphological averages against the morphology
// operators, the block-artefact test and the streak filter (hand-traced).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "imaging/bal_denoise.h"
#include "imaging/bal_morphology.h"

namespace {

std::vector<uint8_t> random_image(uint32_t rows, uint32_t cols, uint32_t seed, int lo = 0, int hi = 255) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint8_t> img(size_t{rows} * cols);
    for (auto& v : img) v = uint8_t(d(rng));
    return img;
}

// The mask (1 -2 1 / -2 4 -2 / 1 -2 1) with the rows and columns that fall
// outside the image dropped, divided by 16 inside and 12 on an edge; the
// corners have their own three-pixel formula.
int8_t reference_residual(const std::vector<uint8_t>& p, int32_t rows, int32_t cols, int32_t y, int32_t x) {
    auto at = [&](int32_t r, int32_t c) { return int32_t(p[size_t(r) * cols + c]); };
    const bool top = y == 0, bottom = y == rows - 1, left = x == 0, right = x == cols - 1;
    if ((top || bottom) && (left || right)) {
        const int32_t xi = left ? 1 : cols - 2, yi = top ? 1 : rows - 2;
        return int8_t(-((at(y, xi) - 2 * at(y, x) + at(yi, x)) / 4));
    }
    static const int32_t w[3] = {1, -2, 1};
    int32_t sum = 0;
    for (int32_t dy = -1; dy <= 1; ++dy)
        for (int32_t dx = -1; dx <= 1; ++dx) {
            const int32_t r = y + dy, c = x + dx;
            if (r >= 0 && c >= 0 && r < rows && c < cols) sum += w[dy + 1] * w[dx + 1] * at(r, c);
        }
    return int8_t(sum / (top || bottom || left || right ? 12 : 16));
}

TEST(ImageNoise, ResidualMatchesTheMaskOnRandomImagesAndInPlace) {
    for (auto [rows, cols] : {std::pair{2, 2}, std::pair{2, 9}, std::pair{7, 2}, std::pair{13, 17}, std::pair{176, 96}}) {
        const auto img = random_image(uint32_t(rows), uint32_t(cols), uint32_t(rows * cols));
        std::vector<int8_t> noise(img.size());
        ASSERT_EQ(bal_image_noise(img.data(), rows, uint32_t(cols), noise.data()), BAL_OK);
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                ASSERT_EQ(noise[size_t(y) * cols + x], reference_residual(img, rows, cols, y, x))
                    << rows << " x " << cols << " at " << y << "," << x;
        std::vector<uint8_t> in_place = img;
        ASSERT_EQ(bal_image_noise(in_place.data(), rows, uint32_t(cols), reinterpret_cast<int8_t*>(in_place.data())),
                  BAL_OK);
        EXPECT_EQ(0, std::memcmp(in_place.data(), noise.data(), noise.size()));
    }
}

TEST(ImageNoise, StatedValuesAndLevels) {
    std::vector<uint8_t> img(9 * 9, 100);
    img[4 * 9 + 4] = 164;
    std::vector<int8_t> noise(img.size());
    ASSERT_EQ(bal_image_noise(img.data(), 9, 9, noise.data()), BAL_OK);
    EXPECT_EQ(noise[4 * 9 + 4], 16);
    for (int n : {3 * 9 + 4, 5 * 9 + 4, 4 * 9 + 3, 4 * 9 + 5}) EXPECT_EQ(noise[size_t(n)], -8);
    EXPECT_EQ(noise[3 * 9 + 3], 4);
    EXPECT_EQ(bal_image_noise_value(noise.data(), 9, 9), (16 + 4 * 8 + 4 * 4) * 16 / 81);

    // Constant image: residual 0, level 0, denoising changes nothing.
    const std::vector<uint8_t> flat(20 * 30, 77);
    std::vector<int8_t> zero(flat.size(), 5);
    ASSERT_EQ(bal_image_noise(flat.data(), 20, 30, zero.data()), BAL_OK);
    EXPECT_EQ(zero, std::vector<int8_t>(flat.size(), 0));
    EXPECT_EQ(bal_image_noise_value(zero.data(), 20, 30), 0);
    std::vector<uint8_t> out(flat.size());
    EXPECT_EQ(bal_image_denoise(flat.data(), 20, 30, out.data()), BAL_OK);
    EXPECT_EQ(out, flat);

    // Levels: |-128| counts 128, saturation at 255, empty images 0.
    const int8_t big[2] = {-128, 127};
    EXPECT_EQ(bal_image_noise_value(big, 1, 2), 255);
    const int8_t small[4] = {-1, 1, 0, 2};
    EXPECT_EQ(bal_image_noise_value(small, 2, 2), 4 * 16 / 4);
    EXPECT_EQ(bal_image_noise_value(small, 0, 2), 0);
}

TEST(ImageDenoise, SubtractsTheResidualWithClamping) {
    const uint32_t rows = 31, cols = 23;
    const auto img = random_image(rows, cols, 9);
    std::vector<int8_t> noise(img.size());
    ASSERT_EQ(bal_image_noise(img.data(), int32_t(rows), cols, noise.data()), BAL_OK);
    std::vector<uint8_t> out(img.size());
    ASSERT_EQ(bal_image_denoise(img.data(), rows, cols, out.data()), BAL_OK);
    for (size_t i = 0; i < img.size(); ++i) ASSERT_EQ(out[i], std::clamp(img[i] - noise[i], 0, 255));
    std::vector<uint8_t> in_place = img;
    ASSERT_EQ(bal_image_denoise(in_place.data(), rows, cols, in_place.data()), BAL_OK);
    EXPECT_EQ(in_place, out);
}

TEST(ImageDenoise, AdaptiveStopsAtTheTargetOrAfterFiveRounds) {
    const uint32_t rows = 40, cols = 30;
    const auto img = random_image(rows, cols, 21, 60, 190);
    std::vector<int8_t> noise(img.size());
    EXPECT_EQ(BAL_OK, bal_image_noise(img.data(), int32_t(rows), cols, noise.data()));
    const uint8_t level = bal_image_noise_value(noise.data(), rows, cols);
    ASSERT_LT(level, 255);

    std::vector<uint8_t> out(img.size());
    ASSERT_EQ(bal_image_adaptive_denoise(img.data(), rows, cols, out.data(), uint8_t(level + 1)), BAL_OK);
    EXPECT_EQ(out, img);

    // Target 0: five subtractions.
    std::vector<uint8_t> want = img;
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(BAL_OK, bal_image_noise(want.data(), int32_t(rows), cols, noise.data()));
        for (size_t i = 0; i < want.size(); ++i) want[i] = uint8_t(std::clamp(want[i] - noise[i], 0, 255));
    }
    std::vector<uint8_t> in_place = img;
    ASSERT_EQ(bal_image_adaptive_denoise(in_place.data(), rows, cols, in_place.data(), 0), BAL_OK);
    EXPECT_EQ(in_place, want);
    // Empty image: nothing to do.
    EXPECT_EQ(bal_image_adaptive_denoise(img.data(), 0, cols, out.data(), 3), BAL_OK);
}

TEST(ImageDenoise, MorphologicalAveragesOfOpeningsAndClosings) {
    const uint32_t rows = 25, cols = 19;
    const auto img = random_image(rows, cols, 33);
    std::vector<uint8_t> a(img.size()), b(img.size()), oc(img.size()), co(img.size());
    EXPECT_EQ(BAL_OK, bal_open_uint8(img.data(), rows, cols, a.data()));
    EXPECT_EQ(BAL_OK, bal_close_uint8(img.data(), rows, cols, b.data()));
    EXPECT_EQ(BAL_OK, bal_close_uint8(a.data(), rows, cols, oc.data()));
    EXPECT_EQ(BAL_OK, bal_open_uint8(b.data(), rows, cols, co.data()));
    std::vector<uint8_t> full(img.size()), light = img;
    ASSERT_EQ(bal_image_morphological_denoise(img.data(), int32_t(rows), int32_t(cols), full.data()), BAL_OK);
    ASSERT_EQ(bal_image_morphological_denoise_light(light.data(), int32_t(rows), int32_t(cols), light.data()), BAL_OK);
    for (size_t i = 0; i < img.size(); ++i) {
        ASSERT_EQ(full[i], (oc[i] + co[i]) >> 1);
        ASSERT_EQ(light[i], (a[i] + b[i]) >> 1);
    }
    EXPECT_EQ(bal_image_morphological_denoise(img.data(), 0, 5, full.data()), BAL_OK);
}

TEST(BlockNoise, DetectsSteppedBlocksAcrossColumnsAndRows) {
    const int32_t rows = 16, cols = 32;
    std::vector<uint8_t> stepped(size_t(rows) * cols), banded(size_t(rows) * cols), flat(size_t(rows) * cols, 50);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            stepped[size_t(y) * cols + x] = uint8_t((x / 8) % 2 ? 110 : 100);
            banded[size_t(y) * cols + x] = uint8_t((y / 8) % 2 ? 110 : 100);
        }
    uint8_t flag = 9;
    EXPECT_EQ(bal_image_block_noise_detector(stepped.data(), rows, cols, 8, 1, &flag), BAL_OK);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(bal_image_block_noise_detector(flat.data(), rows, cols, 8, 1, &flag), BAL_OK);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(bal_image_block_noise_detector(banded.data(), rows, cols, 8, 1, &flag), BAL_OK);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(bal_image_block_noise_detector_vertically(banded.data(), rows, cols, 8, 1, &flag), BAL_OK);
    EXPECT_EQ(flag, 1);
    // Boundaries count from the bottom row: with 20 rows, bands from the top
    // do not fall on them.
    std::vector<uint8_t> tall(20 * size_t(cols));
    for (int32_t y = 0; y < 20; ++y)
        for (int32_t x = 0; x < cols; ++x) tall[size_t(y) * cols + x] = uint8_t((y / 8) % 2 ? 110 : 100);
    EXPECT_EQ(bal_image_block_noise_detector_vertically(tall.data(), 20, cols, 8, 1, &flag), BAL_OK);
    EXPECT_EQ(flag, 0);

    struct Bad {
        int32_t rows, cols, block, mode;
    };
    for (const Bad& b : {Bad{rows, cols, 8, 0}, Bad{rows, cols, 1, 1}, Bad{rows, 7, 8, 1}, Bad{0, cols, 8, 1}}) {
        flag = 9;
        EXPECT_EQ(bal_image_block_noise_detector(stepped.data(), b.rows, b.cols, b.block, b.mode, &flag), BAL_BAD_ARGUMENT);
        EXPECT_EQ(flag, 0);
    }
    for (const Bad& b : {Bad{rows, cols, 8, 2}, Bad{7, cols, 8, 1}, Bad{rows, 0, 8, 1}}) {
        flag = 9;
        EXPECT_EQ(bal_image_block_noise_detector_vertically(stepped.data(), b.rows, b.cols, b.block, b.mode, &flag),
                  BAL_BAD_ARGUMENT);
        EXPECT_EQ(flag, 0);
    }
    EXPECT_EQ(bal_image_block_noise_detector(nullptr, rows, cols, 8, 1, &flag), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_block_noise_detector_vertically(nullptr, rows, cols, 8, 1, &flag), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_block_noise_detector(stepped.data(), rows, cols, 8, 1, nullptr), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_block_noise_detector_vertically(stepped.data(), rows, cols, 8, 1, nullptr), BAL_BAD_ARGUMENT);
}

std::vector<uint8_t> transpose(const std::vector<uint8_t>& img, uint32_t rows, uint32_t cols) {
    std::vector<uint8_t> t(img.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) t[size_t{x} * rows + y] = img[size_t{y} * cols + x];
    return t;
}

TEST(StreakFilter, BrightRowIsPulledBackPassByPass) {
    // Rows 100, 120, 100 of 4 pixels, each row one segment. Traced by hand:
    // means -20, 20, -20 (total 60) give 115, 105, 115; then 10, -10, 10 give
    // 108, 112, 108; -4, 4, -4 give 111, 109, 111; 2, -2, 2 give 110 all
    // over; the next pass measures 0 and the one after stops.
    std::vector<uint8_t> img(12, 100);
    for (int x = 4; x < 8; ++x) img[size_t(x)] = 120;
    ASSERT_EQ(bal_image_denoise_rows(img.data(), 3, 4), BAL_OK);
    EXPECT_EQ(img, std::vector<uint8_t>(12, 110));

    // The same along columns, and through the general entries.
    std::vector<uint8_t> cols_img = transpose(std::vector<uint8_t>{100, 100, 100, 100, 120, 120, 120, 120, 100, 100,
                                                                   100, 100},
                                              3, 4);
    ASSERT_EQ(bal_image_denoise_columns(cols_img.data(), 4, 3), BAL_OK);
    EXPECT_EQ(cols_img, std::vector<uint8_t>(12, 110));
}

// Quarter turn clockwise: column c of img, read from the bottom up, becomes
// row c; and back.
std::vector<uint8_t> turn_clockwise(const std::vector<uint8_t>& img, uint32_t rows, uint32_t cols) {
    std::vector<uint8_t> t(img.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) t[size_t{x} * rows + (rows - 1 - y)] = img[size_t{y} * cols + x];
    return t;
}
std::vector<uint8_t> turn_back(const std::vector<uint8_t>& t, uint32_t rows, uint32_t cols) {
    std::vector<uint8_t> img(t.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) img[size_t{y} * cols + x] = t[size_t{x} * rows + (rows - 1 - y)];
    return img;
}

TEST(StreakFilter, ColumnsAreRowsOfTheTurnedImage) {
    const uint32_t rows = 30, cols = 20;
    auto img = random_image(rows, cols, 8, 90, 110);
    for (uint32_t y = 0; y < rows; ++y) img[size_t{y} * cols + 7] = uint8_t(img[size_t{y} * cols + 7] + 40);
    for (int32_t seg : {1, 3, 7, 30}) {
        std::vector<uint8_t> by_columns(img.size());
        ASSERT_EQ(bal_image_denoise_impulse_noise_vertically(img.data(), int32_t(rows), cols, seg, by_columns.data()),
                  BAL_OK);
        std::vector<uint8_t> t = turn_clockwise(img, rows, cols), by_rows(t.size());
        ASSERT_EQ(bal_image_denoise_impulse_noise(t.data(), cols, int32_t(rows), seg, by_rows.data()), BAL_OK);
        EXPECT_EQ(by_columns, turn_back(by_rows, rows, cols)) << seg;
    }
    // The bright column is pulled towards its neighbours.
    std::vector<uint8_t> out = img;
    ASSERT_EQ(bal_image_denoise_columns(out.data(), int32_t(rows), cols), BAL_OK);
    int before = 0, after = 0;
    for (uint32_t y = 0; y < rows; ++y) {
        before += img[size_t{y} * cols + 7] - img[size_t{y} * cols + 6];
        after += out[size_t{y} * cols + 7] - out[size_t{y} * cols + 6];
    }
    EXPECT_LT(std::abs(after), before / 4);
}

TEST(StreakFilter, LoneSegmentsAndBadArguments) {
    // One row that is one segment (or one column): nothing to compare with,
    // the image stays as it is.
    auto row = random_image(1, 17, 2);
    const auto row_before = row;
    EXPECT_EQ(bal_image_denoise_rows(row.data(), 1, 17), BAL_OK);
    EXPECT_EQ(row, row_before);
    EXPECT_EQ(bal_image_denoise_columns(row.data(), 17, 1), BAL_OK);
    EXPECT_EQ(row, row_before);
    std::vector<uint8_t> out(row.size());
    EXPECT_EQ(bal_image_denoise_impulse_noise(row.data(), 1, 17, 17, out.data()), BAL_OK);
    EXPECT_EQ(out, row_before);

    EXPECT_EQ(bal_image_denoise_rows(row.data(), 1, 0), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_denoise_columns(row.data(), 0, 17), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_denoise_impulse_noise(row.data(), 1, 17, 0, out.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_denoise_impulse_noise(row.data(), 1, 17, 18, out.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_denoise_impulse_noise_vertically(row.data(), 1, 17, 2, out.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(bal_image_denoise_impulse_noise_vertically(row.data(), 1, 17, 0, out.data()), BAL_BAD_ARGUMENT);
    EXPECT_EQ(row, row_before);
}

}  // namespace
