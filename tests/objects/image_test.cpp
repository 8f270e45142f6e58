// The image object: creation, owned, borrowed and lazily decoded pixels,
// crops and views, memory references and the raw-image record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_test_support.h"
#include "objects/zr_image.h"
#include "objects/zr_template.h"
#include "objects/zr_zrimage.h"

namespace {

using image_test::counting_source;
using image_test::kCountingDecoder;
using image_test::pixels_of;
using image_test::random_pixels;

struct callback_log {
    int calls = 0;
    void* last_context = nullptr;
};
callback_log g_log;
void log_release(void* context) {
    ++g_log.calls;
    g_log.last_context = context;
}
void other_release(void*) {}

TEST(Image, CreationDefaults) {
    zr_image* image = zr_image_create(3, 4, 500, 508, nullptr, 5);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(pixels_of(image), std::vector<uint8_t>(12, 255));
    EXPECT_EQ(zr_image_get_liveness_score(image), 0xFFFF);
    EXPECT_EQ(zr_image_get_class_id(image), 0);
    EXPECT_EQ(zr_image_get_mask(image), nullptr);
    EXPECT_EQ(zr_image_get_quality_values(image), nullptr);
    EXPECT_EQ(zr_image_get_resolution(image), 0);  // the two differ
    EXPECT_EQ(zr_image_get_impression_type(image), 5u);
    EXPECT_EQ(zr_image_get_impression_type(nullptr), 29u);
    EXPECT_EQ(zr_image_get_nbr_of_pixels(image), 12u);
    EXPECT_EQ(zr_image_get_mr_const(image), 1u);
    EXPECT_EQ(zr_image_get_mr_size(image), 12u);
    EXPECT_EQ(image->pixels_borrowed, 0);
    zr_image_delete(image);
}

TEST(Image, BorrowedPixelsAndTheirReleaseCallback) {
    std::vector<uint8_t> buffer = random_pixels(40, 1);
    zr_image* mr = zr_image_create_mr(4, 10, 500, 500, buffer.data(), 0);
    ASSERT_NE(mr, nullptr);
    EXPECT_EQ(zr_image_get_pixels(mr), buffer.data());
    EXPECT_EQ(zr_image_get_mr_const(mr), 0u);
    zr_image_delete(mr);  // the buffer stays the caller's
    EXPECT_EQ(buffer[0], random_pixels(40, 1)[0]);

    g_log = {};
    EXPECT_EQ(zr_image_create_mre(4, 10, 500, 500, buffer.data(), 0, 39, 0, log_release, &g_log),
              nullptr);  // buffer smaller than the image
    zr_image* mre = zr_image_create_mre(4, 10, 500, 500, buffer.data(), 0, 0, 1, log_release,
                                        buffer.data());
    ASSERT_NE(mre, nullptr);
    EXPECT_EQ(zr_image_get_mr_const(mre), 1u);
    EXPECT_EQ(zr_image_get_mr_size(mre), 40u);
    zr_image* larger = zr_image_create_mre(4, 5, 500, 500, buffer.data(), 0, 40, 0, nullptr,
                                           nullptr);
    EXPECT_EQ(zr_image_get_mr_size(larger), 40u);
    zr_image_delete(larger);
    EXPECT_EQ(g_log.calls, 0);
    zr_image_delete(mre);
    EXPECT_EQ(g_log.calls, 1);
    EXPECT_EQ(g_log.last_context, buffer.data());
}

TEST(Image, DecodedOnFirstUseOnly) {
    counting_source source;
    source.rows = 6;
    source.cols = 5;
    source.pixels = random_pixels(30, 2);
    zr_image* image = zr_image_create_render(&kCountingDecoder, &source, 0, 0, 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(source.opens, 1);
    EXPECT_EQ(zr_image_get_rows(image), 6);
    EXPECT_EQ(zr_image_get_impression_type(image), 7u);
    EXPECT_EQ(source.reads, 0);
    EXPECT_EQ(pixels_of(image), source.pixels);
    EXPECT_EQ(pixels_of(image), source.pixels);
    EXPECT_EQ(source.reads, 1);
    EXPECT_EQ(source.releases, 1);  // the decoder is released once rendered
    zr_image_delete(image);
    EXPECT_EQ(source.releases, 1);

    source.fail_open = true;
    EXPECT_EQ(zr_image_create_render(&kCountingDecoder, &source, 0, 0, 0), nullptr);
    EXPECT_EQ(zr_image_create_render(nullptr, &source, 0, 0, 0), nullptr);
}

TEST(Image, RenderingOutOfMemoryKeepsTheDecoder) {
    counting_source source;
    source.rows = 3;
    source.cols = 3;
    source.pixels = random_pixels(9, 3);
    zr_image* image = zr_image_create_render(&kCountingDecoder, &source, 0, 0, 0);
    zr_alloc_fail_after(0);
    EXPECT_EQ(zr_image_get_pixels(image), nullptr);
    EXPECT_EQ(ZR_NO_MEMORY, zr_image_render(image));
    zr_alloc_fail_after(-1);
    EXPECT_EQ(source.releases, 0);
    EXPECT_EQ(pixels_of(image), source.pixels);  // a later attempt still renders
    EXPECT_EQ(source.releases, 1);
    zr_image_delete(image);
}

TEST(Image, CopyTakesMaskQualityLivenessAndClass) {
    const auto px = random_pixels(12, 4);
    zr_image_mask* mask = zr_image_mask_create(3, 4);
    mask->pixels[5] = 0;
    zr_image* image = zr_image_create_mask(3, 4, 500, 500, px.data(), 1, mask);
    EXPECT_EQ(mask->ref_count, 2u);
    zr_quality* quality = zr_quality_create(60, 10, 50, 3);
    zr_image_set_quality_values(image, quality);
    zr_image_set_liveness_score(image, 321);
    EXPECT_EQ(ZR_OK, zr_image_set_class_id(image, 9));
    zr_image* copy = zr_image_copy(image);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(pixels_of(copy), px);
    EXPECT_NE(zr_image_get_mask(copy), mask);
    EXPECT_EQ(zr_image_mask_is_copy(zr_image_get_mask(copy), mask), 1u);
    EXPECT_NE(zr_image_get_quality_values(copy), quality);
    EXPECT_EQ(zr_image_get_quality(copy), 60);
    EXPECT_EQ(zr_image_get_fingerprint_area(copy), 10);
    EXPECT_EQ(zr_image_get_fingerprint_area_percentage(copy), 50);
    EXPECT_EQ(zr_image_get_fingerprint_condition(copy), 3);
    EXPECT_EQ(zr_image_get_liveness_score(copy), 321);
    EXPECT_EQ(zr_image_get_class_id(copy), 9);
    zr_image_delete(copy);
    zr_image_delete(image);
    EXPECT_EQ(quality->ref_count, 1u);
    EXPECT_EQ(mask->ref_count, 1u);
    zr_quality_delete(quality);
    zr_image_mask_delete(mask);
}

TEST(Image, AccessorsOfMaskAndQuality) {
    zr_image* image = zr_image_create(2, 3, 500, 500, nullptr, 0);
    zr_image_mask* created = zr_image_get_mask_create_if_na(image);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->rows, 2);
    EXPECT_EQ(created->cols, 3);
    EXPECT_EQ(zr_image_get_mask_create_if_na(image), created);
    zr_image_mask* other = zr_image_mask_create(2, 3);
    zr_image_set_mask(image, other);
    EXPECT_EQ(other->ref_count, 2u);
    zr_image_set_mask(image, nullptr);
    EXPECT_EQ(other->ref_count, 1u);
    zr_image_mask_delete(other);
    EXPECT_EQ(zr_image_get_quality(image), 0);
    zr_image_set_mr_const(image, 0);
    EXPECT_EQ(zr_image_get_mr_const(image), 0u);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_image_set_class_id(nullptr, 1));
    zr_image_set_liveness_score(nullptr, 1);
    zr_image_delete(image);
}

// Brute-force reference of a crop: source pixel where the window covers the
// source, 255 elsewhere.
std::vector<uint8_t> reference_crop(const std::vector<uint8_t>& src, int rows, int cols,
                                    int out_rows, int out_cols, int row_offset, int col_offset,
                                    uint8_t fill = 255) {
    std::vector<uint8_t> out(size_t(out_rows) * out_cols, fill);
    for (int r = 0; r < out_rows; ++r)
        for (int c = 0; c < out_cols; ++c) {
            const int sr = r + row_offset, sc = c + col_offset;
            if (sr >= 0 && sr < rows && sc >= 0 && sc < cols)
                out[size_t(r) * out_cols + c] = src[size_t(sr) * cols + sc];
        }
    return out;
}

struct crop_case {
    uint16_t rows, cols;
    int32_t row_offset, col_offset;
};
const crop_case kCrops[] = {
    {10, 12, 0, 0},   {5, 7, 2, 3},    {10, 12, -3, 0},  {10, 12, 0, -4},  {4, 4, 8, 10},
    {20, 20, -5, -4}, {3, 3, 40, 40},  {3, 3, -40, 0},   {6, 12, 4, 0},    {12, 12, -1, 0},
    {0, 5, 0, 0},     {1, 1, 9, 11},
};

TEST(Image, CropMatchesTheBruteForceReferenceForPixelsAndMask) {
    const auto px = random_pixels(120, 5);
    const auto mask_bytes = random_pixels(120, 6);
    zr_image_mask* mask = zr_image_mask_create(10, 12);
    std::memcpy(mask->pixels, mask_bytes.data(), 120);
    zr_image* image = zr_image_create_mask(10, 12, 500, 500, px.data(), 0, mask);
    for (const auto& c : kCrops) {
        zr_image* crop = zr_image_crop(image, c.rows, c.cols, c.row_offset, c.col_offset);
        ASSERT_NE(crop, nullptr);
        EXPECT_EQ(pixels_of(crop),
                  reference_crop(px, 10, 12, c.rows, c.cols, c.row_offset, c.col_offset))
            << c.rows << "x" << c.cols << " at " << c.row_offset << "," << c.col_offset;
        EXPECT_EQ(image_test::mask_of(crop),
                  reference_crop(mask_bytes, 10, 12, c.rows, c.cols, c.row_offset, c.col_offset,
                                 128));
        EXPECT_EQ(zr_image_get_vertical_resolution(crop), 500);
        zr_image_delete(crop);
    }
    EXPECT_EQ(zr_image_crop(nullptr, 1, 1, 0, 0), nullptr);
    zr_image_delete(image);
    zr_image_mask_delete(mask);
}

TEST(Image, CropOfTheWholeImageIsTheImageItself) {
    zr_image* image = zr_image_create(10, 12, 500, 500, nullptr, 0);
    zr_image* same = zr_image_crop(image, 10, 12, 0, 0);
    EXPECT_EQ(same, image);
    EXPECT_EQ(zr_image_get_num_refs(image), 2u);
    zr_image_delete(same);
    zr_image* centred = zr_image_crop_centered(image, 10, 12);
    EXPECT_EQ(centred, image);
    zr_image_delete(centred);
    zr_image_delete(image);
}

TEST(Image, FullWidthCropOfANotConstImageIsAViewThatKeepsItsSourceAlive) {
    std::vector<uint8_t> buffer = random_pixels(120, 7);
    zr_image* source = zr_image_create_mr(10, 12, 500, 500, buffer.data(), 0);
    zr_image* view = zr_image_crop(source, 4, 12, 3, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(zr_image_get_pixels(view), buffer.data() + 36);
    EXPECT_EQ(zr_image_get_num_refs(source), 2u);
    buffer[40] = uint8_t(buffer[40] + 1);  // shows through the view
    EXPECT_EQ(zr_image_get_pixels(view)[4], buffer[40]);
    zr_image_delete(source);  // the view still holds it
    EXPECT_EQ(zr_image_get_pixels(view)[0], buffer[36]);
    zr_image* view_of_view = zr_image_crop(view, 2, 12, 1, 0);
    EXPECT_EQ(zr_image_get_pixels(view_of_view), buffer.data() + 48);
    zr_image_delete(view);
    zr_image_delete(view_of_view);  // releases the view, which releases the source

    // No view: a const source, a narrower window, a window leaving the rows.
    zr_image* owned = zr_image_create(10, 12, 500, 500, buffer.data(), 0);
    zr_image* copy = zr_image_crop(owned, 4, 12, 3, 0);
    EXPECT_NE(zr_image_get_pixels(copy), zr_image_get_pixels(owned) + 36);
    EXPECT_EQ(zr_image_get_num_refs(owned), 1u);
    zr_image_delete(copy);
    zr_image_delete(owned);
    zr_image* borrowed = zr_image_create_mr(10, 12, 500, 500, buffer.data(), 0);
    for (const crop_case& c : {crop_case{4, 11, 3, 0}, crop_case{4, 12, 7, 0},
                               crop_case{4, 12, -1, 0}, crop_case{4, 12, 3, 1}}) {
        zr_image* crop = zr_image_crop(borrowed, c.rows, c.cols, c.row_offset, c.col_offset);
        EXPECT_EQ(crop->pixels_borrowed, 0);
        EXPECT_EQ(zr_image_get_num_refs(borrowed), 1u);
        zr_image_delete(crop);
    }
    zr_image_delete(borrowed);
}

TEST(Image, CropOfAnUnrenderedImageReadsOnlyTheWindowInsideIt) {
    counting_source source;
    source.rows = 10;
    source.cols = 12;
    source.pixels = random_pixels(120, 8);
    zr_image* image = zr_image_create_render(&kCountingDecoder, &source, 0, 0, 0);
    for (const auto& c : kCrops) {
        if (c.rows == 10 && c.cols == 12 && c.row_offset == 0 && c.col_offset == 0) continue;
        const uint64_t before = source.pixels_read;
        zr_image* crop = zr_image_crop(image, c.rows, c.cols, c.row_offset, c.col_offset);
        ASSERT_NE(crop, nullptr);
        EXPECT_EQ(pixels_of(crop), reference_crop(source.pixels, 10, 12, c.rows, c.cols,
                                                  c.row_offset, c.col_offset));
        EXPECT_LE(source.pixels_read - before, uint64_t(c.rows) * c.cols);
        zr_image_delete(crop);
    }
    EXPECT_EQ(image->pixels, nullptr);  // never rendered
    EXPECT_EQ(source.releases, 0);
    zr_image_delete(image);
    EXPECT_EQ(source.releases, 1);
}

TEST(Image, MemoryReferenceStates) {
    zr_image* image = zr_image_create(2, 2, 500, 500, nullptr, 0);
    EXPECT_EQ(zr_image_mr_soft(image), 0u);
    EXPECT_EQ(zr_image_mr_soft(image), 1u);
    EXPECT_EQ(zr_image_is_mr_weak(image), 0u);
    zr_image_mr_weakify(image);
    EXPECT_EQ(zr_image_is_mr_weak(image), 1u);
    zr_image_delete(image);
    image = zr_image_create(2, 2, 500, 500, nullptr, 0);
    zr_image_mr_weakify(image);  // only from soft
    EXPECT_EQ(zr_image_is_mr_weak(image), 0u);
    zr_image_mr_weak(image);
    EXPECT_EQ(zr_image_is_mr_weak(image), 1u);
    EXPECT_EQ(zr_image_mr_soft(image), 2u);
    EXPECT_EQ(zr_image_is_mr_weak(image), 1u);
    zr_image_delete(image);
}

enum class pixels_kind { owned, borrowed, borrowed_with_callback, decoder, view };

struct release_case {
    const char* name;
    pixels_kind kind;
    uint32_t refs;
    bool weak;
    void (*function)(void*);
    bool context_is_pixels;
    uint32_t result;
    bool pixels_left;
    int callbacks_during_release;
};

void (*const kFree)(void*) = std::free;

TEST(Image, MemoryReferenceReleaseTable) {
    const release_case cases[] = {
        {"two references", pixels_kind::owned, 2, true, nullptr, false, 0, true, 0},
        {"not weak", pixels_kind::owned, 1, false, nullptr, false, 0, true, 0},
        {"owned", pixels_kind::owned, 1, true, nullptr, false, 1, false, 0},
        {"borrowed without callback", pixels_kind::borrowed, 1, true, nullptr, false, 0, true, 0},
        {"borrowed with callback", pixels_kind::borrowed_with_callback, 1, true, nullptr, true, 1,
         false, 1},
        {"decoder", pixels_kind::decoder, 1, true, nullptr, false, 1, false, 0},
        {"owned taken with free", pixels_kind::owned, 1, true, kFree, false, 1, false, 0},
        {"owned taken with another function", pixels_kind::owned, 1, true, other_release, false, 0,
         true, 0},
        {"borrowed taken with its callback", pixels_kind::borrowed_with_callback, 1, true,
         log_release, true, 1, false, 0},
        {"borrowed taken, context not the pixels", pixels_kind::borrowed_with_callback, 1, true,
         log_release, false, 0, true, 0},
        {"borrowed taken with free", pixels_kind::borrowed_with_callback, 1, true, kFree, true, 0,
         true, 0},
        {"decoder taken", pixels_kind::decoder, 1, true, kFree, false, 0, false, 0},
        {"view", pixels_kind::view, 1, true, nullptr, false, 1, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        g_log = {};
        std::vector<uint8_t> buffer = random_pixels(16, 9);
        counting_source source;
        source.rows = 4;
        source.cols = 4;
        source.pixels = buffer;
        zr_image* parent = nullptr;
        zr_image* image = nullptr;
        switch (c.kind) {
            case pixels_kind::owned:
                image = zr_image_create(4, 4, 500, 500, buffer.data(), 0);
                break;
            case pixels_kind::borrowed:
                image = zr_image_create_mr(4, 4, 500, 500, buffer.data(), 0);
                break;
            case pixels_kind::borrowed_with_callback:
                image = zr_image_create_mre(4, 4, 500, 500, buffer.data(), 0, 0, 0, log_release,
                                            c.context_is_pixels ? static_cast<void*>(buffer.data())
                                                                    : static_cast<void*>(&source));
                break;
            case pixels_kind::decoder:
                image = zr_image_create_render(&kCountingDecoder, &source, 0, 0, 0);
                break;
            case pixels_kind::view:
                parent = zr_image_create_mr(8, 4, 500, 500, buffer.data(), 0);
                image = zr_image_crop(parent, 2, 4, 1, 0);
                zr_image_delete(parent);  // only the view holds it now
                break;
        }
        ASSERT_NE(image, nullptr);
        zr_image_get_mask_create_if_na(image);
        uint8_t* pixels_before = image->pixels;
        if (c.refs == 2) zr_image_retain(image);
        if (c.weak) zr_image_mr_weak(image);
        EXPECT_EQ(zr_image_mr_release(image, c.function), c.result);
        EXPECT_EQ(image->pixels != nullptr, c.pixels_left);
        EXPECT_EQ(g_log.calls, c.callbacks_during_release);
        if (c.refs == 1 && c.weak) {
            EXPECT_EQ(zr_image_get_mask(image), nullptr);
        }
        if (c.kind == pixels_kind::decoder && c.function == nullptr) {
            EXPECT_EQ(source.releases, 1);
        }
        if (c.result == 1 && c.function == kFree) std::free(pixels_before);  // taken over
        if (c.refs == 2) zr_image_delete(image);
        zr_image_delete(image);
        if (c.kind == pixels_kind::borrowed_with_callback) {
            // Exactly once: at the release, at the destruction, or never when
            // the caller took the buffer over with the callback.
            const int expected = c.result == 1 ? c.callbacks_during_release : 1;
            EXPECT_EQ(g_log.calls, expected);
        }
    }
    EXPECT_EQ(zr_image_mr_release(nullptr, nullptr), 0u);
}

TEST(Image, RawImageRecordRoundTrip) {
    const auto px = random_pixels(6 * 7, 10);
    zr_image* image = zr_image_create(6, 7, 508, 500, px.data(), 0x11D);
    zr_template* tmpl = nullptr;
    ASSERT_EQ(ZR_OK, zr_image_encode(image, &tmpl));
    EXPECT_EQ(zr_template_get_type(tmpl), uint32_t(ZR_TEMPLATE_RAW_IMAGE));
    zr_image* decoded = nullptr;
    ASSERT_EQ(ZR_OK, zr_image_decode(tmpl, &decoded));
    EXPECT_EQ(pixels_of(decoded), px);
    EXPECT_EQ(zr_image_get_vertical_resolution(decoded), 508);
    EXPECT_EQ(zr_image_get_horizontal_resolution(decoded), 500);
    EXPECT_EQ(zr_image_get_impression_type(decoded), 0x1Du);  // low 8 bits
    zr_image_delete(decoded);

    zr_template_set_type(tmpl, 'C');
    decoded = image;
    EXPECT_EQ(ZR_UNHANDLED_INPUT, zr_image_decode(tmpl, &decoded));
    EXPECT_EQ(decoded, nullptr);
    zr_template_delete(tmpl);
    zr_template* broken = zr_template_create(ZR_TEMPLATE_RAW_IMAGE,
                                             reinterpret_cast<const uint8_t*>("ZRIT"), 4);
    EXPECT_EQ(ZR_WRONG_TYPE, zr_image_decode(broken, &decoded));
    zr_template_delete(broken);

    zr_template* none = nullptr;
    EXPECT_EQ(ZR_WRONG_TYPE, zr_image_encode(nullptr, &none));
    zr_image* empty = zr_image_create(0, 5, 500, 500, nullptr, 0);
    EXPECT_EQ(ZR_WRONG_TYPE, zr_image_encode(empty, &none));
    zr_image_delete(empty);
    zr_image_mr_weak(image);
    ASSERT_EQ(zr_image_mr_release(image, nullptr), 1u);
    EXPECT_EQ(ZR_WRONG_TYPE, zr_image_encode(image, &none));
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_image_encode(image, nullptr));
    zr_image_delete(image);
}

TEST(Image, ConstructorsFreeEverythingWhenMemoryRunsOut) {
    const auto px = random_pixels(64, 11);
    zr_image_mask* mask = zr_image_mask_create(8, 8);
    zr_image* source = zr_image_create_mask(8, 8, 500, 500, px.data(), 0, mask);
    zr_quality* quality = zr_quality_create(1, 2, 3, 4);
    zr_image_set_quality_values(source, quality);
    zr_quality_delete(quality);
    zr_image_mask_delete(mask);
    std::vector<uint8_t> buffer = px;
    zr_image* borrowed = zr_image_create_mr(8, 8, 500, 500, buffer.data(), 0);

    using make = std::function<zr_image*()>;
    const struct {
        const char* name;
        make op;
        int min_failures;
    } cases[] = {
        {"create", [&] { return zr_image_create(8, 8, 500, 500, px.data(), 0); }, 2},
        {"create_mre", [&] { return zr_image_create_mr(8, 8, 500, 500, buffer.data(), 0); }, 1},
        {"copy", [&] { return zr_image_copy(source); }, 3},  // a failed mask copy leaves no mask
        {"crop copy", [&] { return zr_image_crop(source, 4, 4, 2, 2); }, 2},
        {"crop view", [&] { return zr_image_crop(borrowed, 4, 8, 2, 0); }, 1},
        {"flip", [&] { return zr_image_flip(source, 4); }, 4},
        {"invert", [&] { return zr_image_invert(source); }, 3},
        {"scale", [&] { return zr_image_scale_res(source, 250, 250); }, 3},
        {"blend", [&] { return zr_image_blend(source, source, 1, 1); }, 2},
        {"draw", [&] { return zr_image_draw(source, source, 1, 1); }, 2},
        {"concatenate", [&] { return zr_image_concatenate(source, source, 2, 1); }, 4},
    };
    for (const auto& c : cases) {
        EXPECT_GE(image_test::expect_clean_failures<zr_image>(c.op, zr_image_delete),
                  c.min_failures)
            << c.name;
    }
    EXPECT_EQ(zr_image_get_num_refs(source), 1u);
    EXPECT_EQ(zr_image_get_num_refs(borrowed), 1u);
    zr_image_delete(borrowed);
    zr_image_delete(source);
}

}  // namespace
