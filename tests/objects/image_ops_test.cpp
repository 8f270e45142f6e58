// Image operations against the image library (flip, rotation, scaling,
// inversion, enhancement) and against brute-force per-pixel references
// (blend, draw, concatenation, sub-images, crop around the finger).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fp_test_data.h"
#include "image_test_support.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_gabor.h"
#include "imaging/bal_quality.h"
#include "imaging/bal_rotate.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_window_segment.h"
#include "objects/zr_alignment.h"
#include "objects/zr_image.h"

namespace {

using image_test::mask_of;
using image_test::pixels_of;
using image_test::random_pixels;
using bytes = std::vector<uint8_t>;

// An image with random pixels, a random mask, a quality record and a
// liveness score.
zr_image* decorated_image(uint16_t rows, uint16_t cols, uint32_t seed) {
    const bytes px = random_pixels(size_t(rows) * cols, seed);
    const bytes mb = random_pixels(size_t(rows) * cols, seed + 1);
    zr_image_mask* mask = zr_image_mask_create(rows, cols);
    std::memcpy(mask->pixels, mb.data(), mb.size());
    zr_image* image = zr_image_create_mask(rows, cols, 500, 250, px.data(), 3, mask);
    zr_image_mask_delete(mask);
    zr_quality* quality = zr_quality_create(55, 20, 70, 4);
    zr_image_set_quality_values(image, quality);
    zr_quality_delete(quality);
    zr_image_set_liveness_score(image, 4321);
    return image;
}

void expect_quality_and_liveness_copied(const zr_image* source, const zr_image* result) {
    ASSERT_NE(zr_image_get_quality_values(result), nullptr);
    EXPECT_NE(zr_image_get_quality_values(result), zr_image_get_quality_values(source));
    EXPECT_EQ(zr_image_get_quality(result), zr_image_get_quality(source));
    EXPECT_EQ(zr_image_get_liveness_score(result), zr_image_get_liveness_score(source));
}

TEST(ImageOps, FlipFollowsTheImageLibrary) {
    zr_image* image = decorated_image(7, 5, 1);
    const bytes px = pixels_of(image), mb = mask_of(image);
    for (uint32_t mode = 0; mode <= 6; ++mode) {
        zr_image* flipped = zr_image_flip(image, mode);
        ASSERT_NE(flipped, nullptr);
        const bool swapped = mode == 4 || mode == 5;
        EXPECT_EQ(zr_image_get_rows(flipped), swapped ? 5 : 7);
        EXPECT_EQ(zr_image_get_vertical_resolution(flipped), swapped ? 250 : 500);
        EXPECT_EQ(zr_image_get_horizontal_resolution(flipped), swapped ? 500 : 250);
        bytes expected(px.size()), expected_mask(px.size());
        bal_image_flip(px.data(), 7, 5, mode, expected.data());
        bal_image_flip(mb.data(), 7, 5, mode, expected_mask.data());
        EXPECT_EQ(pixels_of(flipped), expected) << mode;
        EXPECT_EQ(mask_of(flipped), expected_mask) << mode;
        expect_quality_and_liveness_copied(image, flipped);
        zr_image_delete(flipped);

        zr_image* created = zr_image_create_flip(7, 5, 500, 250, px.data(), 3, mode);
        EXPECT_EQ(pixels_of(created), expected);
        EXPECT_EQ(zr_image_get_cols(created), swapped ? 7 : 5);
        zr_image_delete(created);
    }
    zr_image_delete(image);
}

TEST(ImageOps, RotateFollowsTheImageLibraryAndExchangesTheOffsets) {
    zr_image* image = decorated_image(20, 13, 3);
    const bytes px = pixels_of(image), mb = mask_of(image);
    for (const uint8_t angle : {0, 10, 64, 100, 128, 200}) {
        uint32_t first = 0xDEAD, second = 0xBEEF;
        zr_image* rotated = zr_image_rotate(image, angle, &first, &second);
        ASSERT_NE(rotated, nullptr);
        uint8_t* expected = nullptr;
        uint32_t rows = 0, cols = 0;
        int32_t row_offset = 0, col_offset = 0;
        bal_image_rotate(px.data(), 20, 13, angle, &expected, &rows, &cols, &row_offset,
                         &col_offset);
        EXPECT_EQ(zr_image_get_rows(rotated), rows);
        EXPECT_EQ(zr_image_get_cols(rotated), cols);
        EXPECT_EQ(pixels_of(rotated), bytes(expected, expected + size_t(rows) * cols));
        EXPECT_EQ(first, uint32_t(col_offset));
        EXPECT_EQ(second, uint32_t(row_offset));
        std::free(expected);
        uint8_t* mask_expected = nullptr;
        ASSERT_EQ(BAL_OK, bal_image_rotate_nearest_neighbour_uint8(mb.data(), 20, 13, angle, 0,
                                                                   &mask_expected, &rows, &cols,
                                                                   &row_offset, &col_offset));
        EXPECT_EQ(mask_of(rotated), bytes(mask_expected, mask_expected + size_t(rows) * cols));
        std::free(mask_expected);
        expect_quality_and_liveness_copied(image, rotated);
        zr_image_delete(rotated);
    }
    zr_image_delete(image);
}

TEST(ImageOps, ScalingFollowsTheImageLibrary) {
    zr_image* image = decorated_image(40, 30, 5);
    const bytes px = pixels_of(image), mb = mask_of(image);
    const struct {
        zr_image* got;
        uint32_t rows, cols;
        uint16_t vertical, horizontal;
    } cases[] = {
        {zr_image_scale_res(image, 1000, 250), 80, 30, 1000, 250},
        {zr_image_scale_res(image, 333, 100), 26, 12, 333, 100},
        {zr_image_scale_size(image, 20, 45), 20, 45, 250, 375},
        {zr_image_scale_size_res(image, 17, 9, 77, 88), 17, 9, 77, 88},
    };
    for (const auto& c : cases) {
        ASSERT_NE(c.got, nullptr);
        EXPECT_EQ(zr_image_get_rows(c.got), c.rows);
        EXPECT_EQ(zr_image_get_cols(c.got), c.cols);
        EXPECT_EQ(zr_image_get_vertical_resolution(c.got), c.vertical);
        EXPECT_EQ(zr_image_get_horizontal_resolution(c.got), c.horizontal);
        bytes expected(size_t(c.rows) * c.cols), expected_mask(expected.size());
        bal_scale_bilinear(px.data(), 40, 30, expected.data(), c.rows, c.cols);
        bal_scale_nearest_neighbour_uint8(mb.data(), 40, 30, expected_mask.data(), c.rows,
                                          c.cols);
        EXPECT_EQ(pixels_of(c.got), expected);
        EXPECT_EQ(mask_of(c.got), expected_mask);
        expect_quality_and_liveness_copied(image, c.got);
        zr_image_delete(c.got);
    }
    // Divisions by a zero resolution or an empty size give none.
    zr_image* no_resolution = zr_image_create(10, 10, 0, 500, nullptr, 0);
    EXPECT_EQ(zr_image_scale_res(no_resolution, 500, 500), nullptr);
    zr_image* empty = zr_image_create(0, 10, 500, 500, nullptr, 0);
    EXPECT_EQ(zr_image_scale_size(empty, 10, 10), nullptr);
    zr_image* one_dpi = zr_image_create(10, 10, 1, 1, nullptr, 0);
    EXPECT_EQ(zr_image_scale_res(one_dpi, 7000, 1), nullptr);  // 70000 rows
    zr_image_delete(one_dpi);
    zr_image_delete(no_resolution);
    zr_image_delete(empty);
    zr_image_delete(image);
}

TEST(ImageOps, PointOperationsKeepTheMaskAndQuality) {
    zr_image* image = decorated_image(12, 9, 7);
    const bytes px = pixels_of(image);
    zr_image* inverted = zr_image_invert(image);
    bytes expected(px.size());
    for (size_t i = 0; i < px.size(); ++i) expected[i] = uint8_t(255 - px[i]);
    EXPECT_EQ(pixels_of(inverted), expected);
    EXPECT_EQ(mask_of(inverted), mask_of(image));
    expect_quality_and_liveness_copied(image, inverted);
    zr_image_delete(inverted);

    zr_image* white = zr_image_set_part_to_white(image, 40);
    ASSERT_EQ(BAL_OK, bal_image_set_part_to_white(px.data(), 12, 9, 40, expected.data()));
    EXPECT_EQ(pixels_of(white), expected);
    EXPECT_EQ(mask_of(white), mask_of(image));
    expect_quality_and_liveness_copied(image, white);
    zr_image_delete(white);
    EXPECT_EQ(zr_image_set_part_to_white(image, 101), nullptr);  // refused by the library
    zr_image_delete(image);
}

uint8_t reference_blend(uint8_t base, uint8_t overlay) {
    if (overlay == 255) return base;
    if (base == 255) return overlay;
    return uint8_t(base / 2 + overlay / 2);
}

// Pixels of a with b placed at the offsets, combined by pixel_op where they
// overlap.
template <class Op>
bytes reference_place(const bytes& a, int rows, int cols, const bytes& b, int b_rows, int b_cols,
                      int col_offset, int row_offset, Op pixel_op) {
    bytes out = a;
    for (int r = 0; r < b_rows; ++r)
        for (int c = 0; c < b_cols; ++c) {
            const int tr = r + row_offset, tc = c + col_offset;
            if (tr < 0 || tr >= rows || tc < 0 || tc >= cols) continue;
            uint8_t& d = out[size_t(tr) * cols + tc];
            d = pixel_op(d, b[size_t(r) * b_cols + c]);
        }
    return out;
}

bytes with_some_white(bytes px, uint32_t seed) {
    std::mt19937 rng(seed);
    for (auto& p : px)
        if (rng() % 4 == 0) p = 255;
    return px;
}

const int kOffsets[][2] = {{0, 0}, {3, 2}, {-4, -3}, {10, 1}, {-20, 0}, {5, 30}, {-2, 7}};

TEST(ImageOps, BlendAgainstThePerPixelReference) {
    const bytes base_px = with_some_white(random_pixels(15 * 11, 9), 1);
    const bytes over_px = with_some_white(random_pixels(8 * 6, 10), 2);
    zr_image_mask* mask = zr_image_mask_create(15, 11);
    zr_image* base = zr_image_create_mask(15, 11, 500, 500, base_px.data(), 0, mask);
    zr_image* overlay = zr_image_create(8, 6, 500, 500, over_px.data(), 0);
    for (const auto& o : kOffsets) {
        zr_image* blended = zr_image_blend(base, overlay, o[0], o[1]);
        ASSERT_NE(blended, nullptr);
        EXPECT_EQ(pixels_of(blended),
                  reference_place(base_px, 15, 11, over_px, 8, 6, o[0], o[1], reference_blend))
            << o[0] << "," << o[1];
        EXPECT_EQ(zr_image_get_mask(blended), mask);  // shared
        zr_image_delete(blended);
    }
    zr_image* copy = zr_image_blend(base, nullptr, 0, 0);
    EXPECT_EQ(pixels_of(copy), base_px);
    zr_image_delete(copy);
    EXPECT_EQ(mask->ref_count, 2u);
    zr_image_delete(overlay);
    zr_image_delete(base);
    zr_image_mask_delete(mask);
}

TEST(ImageOps, DrawAgainstThePerPixelReference) {
    const bytes dst_px = random_pixels(15 * 11, 11);
    const bytes src_px = with_some_white(random_pixels(8 * 6, 12), 3);
    const bytes dst_mask = random_pixels(15 * 11, 13), src_mask = random_pixels(8 * 6, 14);
    zr_image_mask* dm = zr_image_mask_create(15, 11);
    zr_image_mask* sm = zr_image_mask_create(8, 6);
    std::memcpy(dm->pixels, dst_mask.data(), dst_mask.size());
    std::memcpy(sm->pixels, src_mask.data(), src_mask.size());
    zr_image* dst = zr_image_create_mask(15, 11, 500, 500, dst_px.data(), 0, dm);
    zr_image* src = zr_image_create_mask(8, 6, 500, 500, src_px.data(), 0, sm);
    zr_image* src_unmasked = zr_image_create(8, 6, 500, 500, src_px.data(), 0);
    const auto transparent_255 = [](uint8_t d, uint8_t s) { return s == 255 ? d : s; };
    const auto opaque = [](uint8_t, uint8_t s) { return s; };
    const auto lowered = [](uint8_t, uint8_t s) { return s == 255 ? uint8_t(254) : s; };
    for (const auto& o : kOffsets) {
        zr_image* drawn = zr_image_draw(dst, src, o[0], o[1]);
        ASSERT_NE(drawn, nullptr);
        EXPECT_EQ(pixels_of(drawn),
                  reference_place(dst_px, 15, 11, src_px, 8, 6, o[0], o[1], transparent_255));
        EXPECT_EQ(mask_of(drawn),
                  reference_place(dst_mask, 15, 11, src_mask, 8, 6, o[0], o[1], opaque));
        zr_image_delete(drawn);

        zr_image* opaque_drawn = zr_image_draw_ignore_255_mask(dst, src, o[0], o[1]);
        EXPECT_EQ(pixels_of(opaque_drawn),
                  reference_place(dst_px, 15, 11, src_px, 8, 6, o[0], o[1], lowered));
        zr_image_delete(opaque_drawn);

        zr_image* kept_mask = zr_image_draw(dst, src_unmasked, o[0], o[1]);
        EXPECT_EQ(zr_image_get_mask(kept_mask), dm);  // no source mask: the destination's
        zr_image_delete(kept_mask);
    }
    EXPECT_EQ(zr_image_draw(dst, nullptr, 0, 0), nullptr);
    zr_image_delete(src_unmasked);
    zr_image_delete(src);
    zr_image_delete(dst);
    EXPECT_EQ(dm->ref_count, 1u);
    zr_image_mask_delete(dm);
    zr_image_mask_delete(sm);
}

// Concatenation: each image centred (by crop) in its band, 255 lowered to 254
// inside the bands, 255 in the gap and the rest.
bytes reference_concatenate(const bytes& a, int ar, int ac, const bytes& b, int br, int bc,
                            int gap, bool stacked, int* out_rows, int* out_cols) {
    const int rows = stacked ? ar + gap + br : std::max(ar, br);
    const int cols = stacked ? std::max(ac, bc) : ac + gap + bc;
    bytes out(size_t(rows) * cols, 255);
    const auto place = [&](const bytes& img, int ir, int ic, int band_rows, int band_cols,
                           int top, int left) {
        const int row_offset = (ir - band_rows) / 2, col_offset = (ic - band_cols) / 2;
        for (int r = 0; r < band_rows; ++r)
            for (int c = 0; c < band_cols; ++c) {
                const int sr = r + row_offset, sc = c + col_offset;
                uint8_t v = 255;
                if (sr >= 0 && sr < ir && sc >= 0 && sc < ic) v = img[size_t(sr) * ic + sc];
                out[size_t(top + r) * cols + left + c] = v == 255 ? 254 : v;
            }
    };
    if (stacked) {
        place(a, ar, ac, ar, cols, 0, 0);
        place(b, br, bc, br, cols, ar + gap, 0);
    } else {
        place(a, ar, ac, rows, ac, 0, 0);
        place(b, br, bc, rows, bc, 0, ac + gap);
    }
    *out_rows = rows;
    *out_cols = cols;
    return out;
}

TEST(ImageOps, ConcatenateAgainstThePerPixelReference) {
    const struct {
        int ar, ac, br, bc, gap;
        bool stacked;
    } cases[] = {{6, 5, 4, 9, 2, true}, {6, 5, 4, 9, 3, false}, {7, 8, 7, 8, 0, true},
                 {3, 9, 8, 2, 10, false}, {5, 4, 5, 7, 1, true}};
    for (const auto& c : cases) {
        const bytes a = with_some_white(random_pixels(size_t(c.ar) * c.ac, 15), 4);
        const bytes b = with_some_white(random_pixels(size_t(c.br) * c.bc, 16), 5);
        zr_image* ia = zr_image_create(uint16_t(c.ar), uint16_t(c.ac), 508, 500, a.data(), 9);
        zr_image* ib = zr_image_create(uint16_t(c.br), uint16_t(c.bc), 250, 250, b.data(), 1);
        zr_image* joined = zr_image_concatenate(ia, ib, uint8_t(c.gap), c.stacked ? 1 : 0);
        ASSERT_NE(joined, nullptr);
        int rows = 0, cols = 0;
        const bytes expected =
            reference_concatenate(a, c.ar, c.ac, b, c.br, c.bc, c.gap, c.stacked, &rows, &cols);
        EXPECT_EQ(zr_image_get_rows(joined), rows);
        EXPECT_EQ(zr_image_get_cols(joined), cols);
        EXPECT_EQ(pixels_of(joined), expected);
        EXPECT_EQ(mask_of(joined), bytes(size_t(rows) * cols, 128));
        EXPECT_EQ(zr_image_get_vertical_resolution(joined), 508);
        EXPECT_EQ(zr_image_get_impression_type(joined), 9u);
        zr_image_delete(joined);
        zr_image_delete(ia);
        zr_image_delete(ib);
    }
}

TEST(ImageOps, FrameAndAlignmentPicture) {
    const bytes px = random_pixels(6 * 4, 17);
    zr_image* image = zr_image_create(6, 4, 500, 500, px.data(), 0);
    zr_image* framed = zr_image_draw_frame(image);
    ASSERT_NE(framed, nullptr);
    const bytes f = pixels_of(framed);
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 6; ++c) {
            const bool ring = r == 0 || r == 7 || c == 0 || c == 5 || r == 1 || r == 6 ||
                              c == 1 || c == 4;
            if (ring) {
                EXPECT_EQ(f[size_t(r) * 6 + c], 0) << r << "," << c;
            } else {
                EXPECT_EQ(f[size_t(r) * 6 + c], px[size_t(r - 1) * 4 + c - 1]);
            }
        }
    zr_image_delete(framed);

    zr_image* other = zr_image_create(10, 7, 500, 500, nullptr, 0);
    zr_alignment* alignment = zr_alignment_create(3, -2, 10);
    zr_image* picture = zr_image_show_alignment(image, other, alignment);
    ASSERT_NE(picture, nullptr);
    // The framed images stacked (8 + 10 + 12 rows, 9 columns), a gap of 2,
    // then the blend of the size of image1.
    EXPECT_EQ(zr_image_get_rows(picture), 30);
    EXPECT_EQ(zr_image_get_cols(picture), 9 + 2 + 4);
    EXPECT_EQ(zr_image_show_alignment(image, other, nullptr), nullptr);
    zr_image_delete(picture);
    zr_alignment_delete(alignment);
    zr_image_delete(other);
    zr_image_delete(image);
}

TEST(ImageOps, SplitIntoOverlappingTiles) {
    const bytes px = random_pixels(30 * 20, 19);
    zr_image* image = zr_image_create(30, 20, 500, 500, px.data(), 0);
    zr_image_get_mask_create_if_na(image)->pixels[0] = 0;
    const struct {
        zr_image_split_spec spec;
        int base_rows, base_cols;
    } cases[] = {
        {{2, 2, 16, 12, 0}, 30, 20},  // overlaps 2 and 4
        {{3, 1, 10, 8, 1}, 30, 8},    // exact fit, centred tile first
        {{1, 3, 12, 5, 0}, 12, 15},   // covered area smaller than the image
        {{4, 3, 9, 9, 0}, 30, 20},
    };
    for (const auto& c : cases) {
        const auto& s = c.spec;
        const uint32_t n = zr_image_split_get_nbr_of_sub_images(&s);
        EXPECT_EQ(n, uint32_t(s.grid_rows) * s.grid_cols + (s.centre ? 1 : 0));
        std::vector<zr_image*> tiles(n, nullptr);
        ASSERT_EQ(ZR_OK, zr_image_split(image, &s, tiles.data()));
        const int base_row = (30 - c.base_rows) / 2, base_col = (20 - c.base_cols) / 2;
        size_t k = 0;
        if (s.centre) {
            zr_image* centred = zr_image_crop_centered(image, s.tile_rows, s.tile_cols);
            EXPECT_EQ(pixels_of(tiles[k++]), pixels_of(centred));
            zr_image_delete(centred);
        }
        const int row_overlap =
            s.grid_rows > 1 ? (s.tile_rows * s.grid_rows - c.base_rows) / (s.grid_rows - 1) : 0;
        const int col_overlap =
            s.grid_cols > 1 ? (s.tile_cols * s.grid_cols - c.base_cols) / (s.grid_cols - 1) : 0;
        for (int i = 0; i < s.grid_rows; ++i)
            for (int j = 0; j < s.grid_cols; ++j, ++k) {
                const int r = std::min(i * (s.tile_rows - row_overlap), c.base_rows - s.tile_rows);
                const int cc = std::min(j * (s.tile_cols - col_overlap), c.base_cols - s.tile_cols);
                bytes expected(size_t(s.tile_rows) * s.tile_cols);
                bal_crop_image(px.data(), 30, 20, s.tile_rows, s.tile_cols, base_row + r,
                               base_col + cc, expected.data());
                EXPECT_EQ(pixels_of(tiles[k]), expected) << i << "," << j;
                EXPECT_EQ(zr_image_get_mask(tiles[k])->rows, s.tile_rows);
            }
        for (zr_image* t : tiles) zr_image_delete(t);
        EXPECT_EQ(zr_image_get_num_refs(image), 1u);
    }

    zr_image* one = nullptr;
    const zr_image_split_spec whole{1, 1, 30, 20, 0};
    ASSERT_EQ(ZR_OK, zr_image_split(image, &whole, &one));
    EXPECT_EQ(one, image);
    zr_image_delete(one);

    zr_image* slots[8];
    for (const zr_image_split_spec& bad :
         {zr_image_split_spec{0, 1, 5, 5, 0}, zr_image_split_spec{1, 0, 5, 5, 0},
          zr_image_split_spec{1, 1, 0, 5, 0}, zr_image_split_spec{1, 1, 5, 0, 0},
          zr_image_split_spec{1, 1, 31, 5, 0}, zr_image_split_spec{1, 1, 5, 21, 0}})
        EXPECT_EQ(ZR_BAD_ARGUMENT, zr_image_split(image, &bad, slots));
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_image_split(image, nullptr, slots));
    EXPECT_EQ(zr_image_split_get_nbr_of_sub_images(nullptr), 0u);

    const zr_image_split_spec grid{2, 2, 16, 12, 1};
    for (int32_t k = 0; k < 12; ++k) {
        for (auto& slot : slots) slot = reinterpret_cast<zr_image*>(1);
        zr_alloc_fail_after(k);
        const zr_status status = zr_image_split(image, &grid, slots);
        zr_alloc_fail_after(-1);
        if (status == ZR_OK) {
            for (int i = 0; i < 5; ++i) zr_image_delete(slots[i]);
            break;
        }
        EXPECT_EQ(ZR_NO_MEMORY, status);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(slots[i], nullptr) << k;
    }
    EXPECT_EQ(zr_image_get_num_refs(image), 1u);
    zr_image_delete(image);
}

// The crop's centre is the centroid of the per-pixel variance segmentation
// (block size 1), computed here by brute force.
TEST(ImageOps, CropCenteredOnFingerFollowsThePixelSegmentation) {
    bytes px(64 * 80, 200);
    std::mt19937 rng(21);
    for (int r = 40; r < 60; ++r)
        for (int c = 8; c < 30; ++c) px[size_t(r) * 80 + c] = uint8_t(rng());
    zr_image* image = zr_image_create(64, 80, 500, 500, px.data(), 0);
    bytes segmentation(px.size());
    ASSERT_EQ(BAL_OK, bal_segment_image_variance(px.data(), 64, 80, segmentation.data()));
    uint64_t n = 0, sum_r = 0, sum_c = 0;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 80; ++c)
            if (segmentation[size_t(r) * 80 + c]) {
                ++n;
                sum_r += r;
                sum_c += c;
            }
    ASSERT_GT(n, 0u);
    const int centre_row = int(sum_r / n), centre_col = int(sum_c / n);
    EXPECT_GT(centre_row, 35);  // the texture, not the image centre
    EXPECT_LT(centre_col, 32);
    const struct {
        uint16_t rows, cols;
    } sizes[] = {{16, 16}, {40, 10}, {64, 80}, {10, 70}};
    for (const auto& s : sizes) {
        int row_offset = centre_row - s.rows / 2, col_offset = centre_col - s.cols / 2;
        if (row_offset < 0) row_offset = 0;
        else if (centre_row + s.rows / 2 >= 64) row_offset = 64 - s.rows;
        if (col_offset < 0) col_offset = 0;
        else if (centre_col + s.cols / 2 >= 80) col_offset = 80 - s.cols;
        zr_image* crop = zr_image_crop_centered_on_finger(image, s.rows, s.cols);
        ASSERT_NE(crop, nullptr);
        bytes expected(size_t(s.rows) * s.cols);
        bal_crop_image(px.data(), 64, 80, s.rows, s.cols, row_offset, col_offset, expected.data());
        EXPECT_EQ(pixels_of(crop), expected) << s.rows << "x" << s.cols;
        zr_image_delete(crop);
    }
    zr_image_delete(image);
    for (const auto& small : {std::pair{7, 20}, std::pair{20, 7}}) {
        zr_image* tiny = zr_image_create(uint16_t(small.first), uint16_t(small.second), 500, 500,
                                         nullptr, 0);
        EXPECT_EQ(zr_image_crop_centered_on_finger(tiny, 4, 4), nullptr);
        zr_image_delete(tiny);
    }
}

TEST(ImageOps, EnhancementOfARealCapture) {
    FP_REQUIRE_CAPTURES();
    const bytes& px = fp_test::sensor_image();
    ASSERT_EQ(px.size(), 176u * 96);
    zr_image_mask* mask = zr_image_mask_create(176, 96);
    zr_image* image = zr_image_create_mask(176, 96, 500, 500, px.data(), 0, mask);
    zr_image_mask_delete(mask);

    zr_image* plain = zr_image_enhance_quality(image);
    ASSERT_NE(plain, nullptr);
    bytes expected(px.size());
    ASSERT_EQ(BAL_OK, bal_enhance_quality(px.data(), 176, 96, 176, 96, expected.data()));
    EXPECT_EQ(pixels_of(plain), expected);
    EXPECT_EQ(mask_of(plain), mask_of(image));
    zr_image_delete(plain);

    zr_image* advanced = zr_image_enhance_quality_advanced(image);
    ASSERT_NE(advanced, nullptr);
    const bytes out = pixels_of(advanced);
    EXPECT_LE(*std::max_element(out.begin(), out.end()), 254);
    EXPECT_NE(out, px);
    EXPECT_EQ(mask_of(advanced), mask_of(image));
    zr_image_delete(advanced);
    zr_image_delete(image);

    zr_image* flat = zr_image_create(176, 96, 500, 500, bytes(176 * 96, 128).data(), 0);
    zr_image* no_finger = zr_image_enhance_quality_advanced(flat);
    EXPECT_EQ(pixels_of(no_finger), bytes(176 * 96, 254));
    zr_image_delete(no_finger);
    zr_image_delete(flat);
}

struct preprocessor_state {
    uint32_t result = 0;
    uint32_t flag = 0;
    bool segment = false;
    const uint8_t* seen_valid = nullptr;
    bytes valid_copy;
};

uint32_t invert_preprocessor(void* context, const uint8_t* pixels, const uint8_t* valid,
                             uint16_t rows, uint16_t cols, uint16_t, uint8_t* dst,
                             uint8_t** out_segmentation, uint32_t* out_flag) {
    auto* state = static_cast<preprocessor_state*>(context);
    const size_t n = size_t(rows) * cols;
    state->seen_valid = valid;
    if (valid) state->valid_copy.assign(valid, valid + n);
    for (size_t i = 0; i < n; ++i) dst[i] = uint8_t(255 - pixels[i]);
    if (state->segment) {
        *out_segmentation = static_cast<uint8_t*>(std::malloc(n));
        for (size_t i = 0; i < n; ++i) (*out_segmentation)[i] = i % 3 == 0 ? 0 : 1;
    }
    *out_flag = state->flag;
    return state->result;
}

TEST(ImageOps, EnhancementByAPreprocessor) {
    const zr_image_preprocessor preprocessor{invert_preprocessor};
    zr_image* image = decorated_image(6, 5, 23);
    const bytes px = pixels_of(image), mb = mask_of(image);

    preprocessor_state plain;
    zr_image* out = zr_image_enhance_by_preprocessor(image, &plain, &preprocessor);
    ASSERT_NE(out, nullptr);
    ASSERT_NE(plain.seen_valid, nullptr);
    for (size_t i = 0; i < mb.size(); ++i) {
        EXPECT_EQ(pixels_of(out)[i], 255 - px[i]);
        EXPECT_EQ(plain.valid_copy[i], (mb[i] & 0xC0) == 0x80 ? 255 : 0);
    }
    EXPECT_EQ(mask_of(out), mb);
    EXPECT_EQ(zr_image_get_quality(out), 55);
    EXPECT_EQ(zr_image_get_liveness_score(out), 4321);
    zr_image_delete(out);

    preprocessor_state segmenting;
    segmenting.segment = true;
    segmenting.flag = 1;
    out = zr_image_enhance_by_preprocessor(image, &segmenting, &preprocessor);
    ASSERT_NE(out, nullptr);
    for (size_t i = 0; i < mb.size(); ++i)
        EXPECT_EQ(mask_of(out)[i], i % 3 == 0 ? (mb[i] & 0x7F) : mb[i]) << i;
    EXPECT_EQ(zr_image_get_quality(out), 0);
    EXPECT_NE(zr_image_get_quality_values(out), nullptr);
    zr_image_delete(out);

    zr_image* unmasked = zr_image_create(6, 5, 500, 500, px.data(), 0);
    segmenting.seen_valid = reinterpret_cast<const uint8_t*>(1);
    out = zr_image_enhance_by_preprocessor(unmasked, &segmenting, &preprocessor);
    EXPECT_EQ(segmenting.seen_valid, nullptr);
    for (size_t i = 0; i < mb.size(); ++i) EXPECT_EQ(mask_of(out)[i], i % 3 == 0 ? 0 : 128);
    zr_image_delete(out);
    zr_image_delete(unmasked);

    preprocessor_state failing;
    failing.result = 5;
    EXPECT_EQ(zr_image_enhance_by_preprocessor(image, &failing, &preprocessor), nullptr);
    zr_image_delete(image);
}

}  // namespace
