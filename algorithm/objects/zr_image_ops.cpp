// Image operations that build a new image from one or two sources: crops and
// views, flips and rotations, scaling, enhancement, blending and drawing,
// concatenation, the alignment picture and sub-images.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_draw.h"
#include "imaging/bal_gabor.h"
#include "imaging/bal_histogram.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_point_ops.h"
#include "imaging/bal_quality.h"
#include "imaging/bal_rotate.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_window_segment.h"
#include "objects/zr_alignment.h"
#include "objects/zr_alloc.h"
#include "objects/zr_image.h"
#include "objects/zr_image_internal.h"

namespace {

constexpr uint8_t kBlankPixel = 255;
constexpr uint8_t kOpaqueWhite = 254;          // 255 lowered so that it is drawn
constexpr int16_t kTransparentPixel = 255;
constexpr uint32_t kMinFingerCropSide = 8;    // below it the variance segmentation has no window
constexpr uint32_t kEnhanceBlock = 8;
constexpr uint8_t kEnhanceMean = 150;
constexpr uint32_t kEnhanceSpread = 120;
constexpr uint32_t kEnhancePasses = 8;
constexpr uint32_t kEnhanceStretchPercent = 33;
constexpr uint8_t kEnhanceMaxPixel = 254;
constexpr uint8_t kFrameValue = 0;
constexpr uint8_t kAlignmentGap = 2;
constexpr uint8_t kFramedImagesGap = 10;
constexpr int32_t kLabelColumn = 5;
constexpr int32_t kLabelRows[3] = {5, 15, 25};
constexpr uint32_t kLabelColour = 255;

struct window {
    int64_t row;
    int64_t col;
    int64_t rows;
    int64_t cols;
};

bool fits_u16(uint32_t v) { return v <= UINT16_MAX; }

// The pixels of a source, rendering when needed; false when a non-empty image
// has none (released, or out of memory while rendering).
bool source_pixels(zr_image* image, uint8_t** out) {
    *out = zr_image_get_pixels(image);
    return *out != nullptr || zr_image_get_nbr_of_pixels(image) == 0;
}

// New image of the source's resolutions and impression type with an owned
// buffer of rows x cols bytes (filled with 255).
zr_image* blank_like(const zr_image* source, uint32_t rows, uint32_t cols,
                     uint16_t vertical_dpi, uint16_t horizontal_dpi) {
    if (!fits_u16(rows) || !fits_u16(cols)) return nullptr;
    return zr_image_create(uint16_t(rows), uint16_t(cols), vertical_dpi, horizontal_dpi, nullptr,
                           source->impression_type);
}

zr_image* blank_like(const zr_image* source, uint32_t rows, uint32_t cols) {
    return blank_like(source, rows, cols, source->vertical_resolution,
                      source->horizontal_resolution);
}

// Gives the result the source's quality and liveness; deletes the result and
// gives none when that runs out of memory.
zr_image* with_quality_and_liveness(const zr_image* source, zr_image* result) {
    if (result != nullptr && !image_copy_quality_and_liveness(source, result)) {
        zr_image_delete(result);
        return nullptr;
    }
    return result;
}

// Gives the result a copy of the source's mask; false when the source has a
// mask and the copy runs out of memory.
bool with_mask_copy(const zr_image* source, zr_image* result) {
    if (source->mask == nullptr) return true;
    result->mask = zr_image_mask_copy(source->mask);
    return result->mask != nullptr;
}

void release_source_image(void* context) { zr_image_delete(static_cast<zr_image*>(context)); }

bool crop_is_view(const zr_image* source, uint16_t rows, uint16_t cols, int32_t row_offset,
                  int32_t col_offset) {
    return source->not_const && source->pixels != nullptr && cols == source->cols &&
           col_offset == 0 && row_offset >= 0 && int64_t{row_offset} + rows <= source->rows;
}

zr_image* crop_view(zr_image* source, uint16_t rows, uint16_t cols, int32_t row_offset) {
    zr_image* view = image_create_hlp(
        rows, cols, source->vertical_resolution, source->horizontal_resolution,
        source->pixels + size_t(row_offset) * source->cols, source->impression_type, 1,
        release_source_image, source, 0);
    if (view != nullptr) zr_image_retain(source);
    return view;
}

// The part of the window inside the source, read through the decoder.
void read_window(const zr_image* source, const window& w, uint8_t* dst) {
    const int64_t first_row = std::max<int64_t>(w.row, 0);
    const int64_t first_col = std::max<int64_t>(w.col, 0);
    const int64_t end_row = std::min<int64_t>(w.row + w.rows, source->rows);
    const int64_t end_col = std::min<int64_t>(w.col + w.cols, source->cols);
    if (end_row <= first_row || end_col <= first_col) return;
    source->decoder->read(source->decoder_handle, uint32_t(first_row), uint32_t(first_col),
                          uint32_t(end_row - first_row), uint32_t(end_col - first_col),
                          uint32_t(w.cols),
                          dst + (first_row - w.row) * w.cols + (first_col - w.col));
}

zr_image* crop_copy(zr_image* source, uint16_t rows, uint16_t cols, int32_t row_offset,
                    int32_t col_offset) {
    zr_image* crop = blank_like(source, rows, cols);
    if (crop == nullptr || crop->pixels == nullptr) return crop;
    if (source->pixels != nullptr)
        bal_crop_image(source->pixels, source->rows, source->cols, rows, cols, row_offset,
                       col_offset, crop->pixels);
    else if (source->decoder != nullptr)
        read_window(source, {row_offset, col_offset, rows, cols}, crop->pixels);
    return crop;
}

// Bilinear scaling of the pixels and nearest-neighbour scaling of the mask.
zr_image* scale_to(zr_image* image, uint32_t rows, uint32_t cols, uint16_t vertical_dpi,
                   uint16_t horizontal_dpi) {
    uint8_t* pixels = nullptr;
    if (!source_pixels(image, &pixels)) return nullptr;
    zr_image* scaled = blank_like(image, rows, cols, vertical_dpi, horizontal_dpi);
    if (scaled == nullptr) return nullptr;
    if (pixels != nullptr && scaled->pixels != nullptr)
        bal_scale_bilinear(pixels, image->rows, image->cols, scaled->pixels, rows, cols);
    if (image->mask != nullptr)
        scaled->mask = zr_image_mask_scale(image->mask, uint16_t(rows), uint16_t(cols));
    return with_quality_and_liveness(image, scaled);
}

// An 8 x 8 block mask of the image (1 foreground), every block foreground
// when the segmentation fails.
void segment_blocks(const uint8_t* pixels, uint32_t rows, uint32_t cols, uint32_t block_rows,
                    uint32_t block_cols, uint8_t* block_mask) {
    if (bal_segment_image(pixels, rows, cols, block_rows, block_cols, kEnhanceBlock,
                          block_mask) != 0)
        std::memset(block_mask, 1, size_t(block_rows) * block_cols);
}

// Normalisation and eight blur-and-stretch passes in place; false on failure.
bool enhance_advanced_pixels(uint8_t* pixels, uint32_t rows, uint32_t cols) {
    const uint32_t block_rows = rows / kEnhanceBlock, block_cols = cols / kEnhanceBlock;
    const size_t blocks = size_t(block_rows) * block_cols;
    auto* block_mask = static_cast<uint8_t*>(zr_malloc(std::max<size_t>(blocks, 1)));
    auto* blurred = static_cast<uint8_t*>(zr_malloc(size_t(rows) * cols));
    bool ok = block_mask != nullptr && blurred != nullptr;
    if (ok) {
        segment_blocks(pixels, rows, cols, block_rows, block_cols, block_mask);
        ok = bal_normalize_locally(pixels, rows, cols, block_mask, kEnhanceBlock, block_rows,
                                   block_cols, kEnhanceMean, kEnhanceSpread, pixels) == 0;
    }
    for (uint32_t pass = 0; ok && pass < kEnhancePasses; ++pass) {
        ok = bal_blur_uint8(pixels, rows, cols, blurred) == 0;
        if (ok)
            bal_stretch_segmented(blurred, rows, int32_t(cols), kEnhanceStretchPercent,
                                  block_mask, uint16_t(block_rows), uint16_t(block_cols),
                                  uint16_t(kEnhanceBlock), pixels);
    }
    std::free(block_mask);
    std::free(blurred);
    if (!ok) return false;
    const size_t size = size_t(rows) * cols;
    for (size_t i = 0; i < size; ++i) pixels[i] = std::min(pixels[i], kEnhanceMaxPixel);
    return true;
}

// Narrows the result's mask by the preprocessor's segmentation (0
// background); false when out of memory or the mask does not fit.
bool apply_segmentation(zr_image* result, const uint8_t* segmentation) {
    if (result->mask == nullptr) {
        result->mask = zr_image_mask_create(result->rows, result->cols);
        if (result->mask == nullptr) return false;
        return zr_image_mask_set_fingerprint(result->mask, segmentation) == ZR_OK;
    }
    return zr_image_intersect_segmentation(result, segmentation) == ZR_OK;
}

uint8_t blend_pixel(uint8_t base, uint8_t overlay) {
    if (overlay == 255) return base;
    if (base == 255) return overlay;
    return uint8_t(base / 2 + overlay / 2);
}

// Owned copy of the pixels of an image with its resolutions and impression
// type, nothing else.
zr_image* plain_copy(zr_image* image) {
    uint8_t* pixels = nullptr;
    if (!source_pixels(image, &pixels)) return nullptr;
    return zr_image_create(image->rows, image->cols, image->vertical_resolution,
                           image->horizontal_resolution, pixels, image->impression_type);
}

void delete_all(zr_image** images, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        zr_image_delete(images[i]);
        images[i] = nullptr;
    }
}

// Start of tile i along one side: steps of tile - overlap, the overlap
// spreading the tiles evenly over the covered length.
int32_t tile_start(uint32_t index, uint32_t count, uint32_t tile, uint32_t covered) {
    const uint32_t overlap = count > 1 ? (tile * count - covered) / (count - 1) : 0;
    return int32_t(std::min(index * (tile - overlap), covered - tile));
}

}  // namespace

// ---------------------------------------------------------------------------
// Crops

zr_image* zr_image_crop(zr_image* image, uint16_t rows, uint16_t cols, int32_t row_offset,
                        int32_t col_offset) {
    if (image == nullptr) return nullptr;
    if (rows == image->rows && cols == image->cols && row_offset == 0 && col_offset == 0)
        return zr_image_retain(image);
    zr_image* crop = crop_is_view(image, rows, cols, row_offset, col_offset)
                         ? crop_view(image, rows, cols, row_offset)
                         : crop_copy(image, rows, cols, row_offset, col_offset);
    if (crop != nullptr && image->mask != nullptr)
        crop->mask = zr_image_mask_crop(image->mask, rows, cols, row_offset, col_offset);
    return crop;
}

zr_image* zr_image_crop_centered(zr_image* image, uint16_t rows, uint16_t cols) {
    if (image == nullptr) return nullptr;
    return zr_image_crop(image, rows, cols, (int32_t(image->rows) - rows) / 2,
                         (int32_t(image->cols) - cols) / 2);
}

zr_image* zr_image_crop_centered_on_finger(zr_image* image, uint16_t rows, uint16_t cols) {
    if (image == nullptr || image->rows < kMinFingerCropSide || image->cols < kMinFingerCropSide)
        return nullptr;
    uint8_t* pixels = zr_image_get_pixels(image);
    if (pixels == nullptr) return nullptr;
    auto* segmentation = static_cast<uint8_t*>(zr_malloc(size_t(image->rows) * image->cols));
    if (segmentation == nullptr) return nullptr;
    uint32_t centre_row = 0, centre_col = 0;
    const bool segmented =
        bal_segment_image_variance(pixels, image->rows, image->cols, segmentation) == 0;
    if (segmented)
        bal_segmentation_center(segmentation, image->rows, image->cols, 1, image->rows,
                                image->cols, &centre_row, &centre_col);
    std::free(segmentation);
    if (!segmented) return nullptr;
    auto offset = [](uint32_t centre, uint16_t size, uint16_t source_size) {
        int32_t offset = int32_t(centre) - size / 2;
        if (offset < 0)
            offset = 0;
        else if (centre + size / 2 >= source_size)
            offset = int32_t(source_size) - size;
        return offset;
    };
    return zr_image_crop(image, rows, cols, offset(centre_row, rows, image->rows),
                         offset(centre_col, cols, image->cols));
}

// ---------------------------------------------------------------------------
// Flips, rotations, point operations

zr_image* zr_image_flip(zr_image* image, uint32_t mode) {
    if (image == nullptr) return nullptr;
    uint8_t* pixels = nullptr;
    if (!source_pixels(image, &pixels)) return nullptr;
    zr_image* flipped = zr_image_create_flip(image->rows, image->cols, image->vertical_resolution,
                                             image->horizontal_resolution, pixels,
                                             image->impression_type, mode);
    if (flipped == nullptr) return nullptr;
    flipped->mask = zr_image_mask_flip(image->mask, mode);
    return with_quality_and_liveness(image, flipped);
}

zr_image* zr_image_rotate(zr_image* image, uint8_t angle, uint32_t* out_first,
                          uint32_t* out_second) {
    if (image == nullptr) return nullptr;
    uint8_t* pixels = zr_image_get_pixels(image);
    if (pixels == nullptr) return nullptr;
    uint8_t* rotated_pixels = nullptr;
    uint32_t rows = 0, cols = 0;
    int32_t row_offset = 0, col_offset = 0;
    bal_image_rotate(pixels, image->rows, image->cols, angle, &rotated_pixels, &rows, &cols,
                     &row_offset, &col_offset);
    if (rotated_pixels == nullptr) return nullptr;
    if (!fits_u16(rows) || !fits_u16(cols)) {
        std::free(rotated_pixels);
        return nullptr;
    }
    zr_image* rotated =
        image_adopt_pixels(uint16_t(rows), uint16_t(cols), image->vertical_resolution,
                           image->horizontal_resolution, rotated_pixels, image->impression_type);
    if (rotated == nullptr) return nullptr;
    if (out_first) *out_first = uint32_t(col_offset);
    if (out_second) *out_second = uint32_t(row_offset);
    rotated->mask = zr_image_mask_rotate(image->mask, angle);
    return with_quality_and_liveness(image, rotated);
}

zr_image* zr_image_invert(zr_image* image) {
    if (image == nullptr) return nullptr;
    uint8_t* pixels = nullptr;
    if (!source_pixels(image, &pixels)) return nullptr;
    zr_image* inverted = blank_like(image, image->rows, image->cols);
    if (inverted == nullptr) return nullptr;
    if (pixels != nullptr) bal_image_invert(pixels, image->rows, image->cols, inverted->pixels);
    with_mask_copy(image, inverted);
    return with_quality_and_liveness(image, inverted);
}

zr_image* zr_image_set_part_to_white(zr_image* image, uint8_t part) {
    if (image == nullptr) return nullptr;
    uint8_t* pixels = nullptr;
    if (!source_pixels(image, &pixels)) return nullptr;
    zr_image* whitened = blank_like(image, image->rows, image->cols);
    if (whitened == nullptr) return nullptr;
    if (pixels != nullptr && bal_image_set_part_to_white(pixels, image->rows, image->cols, part,
                                                         whitened->pixels) != 0) {
        zr_image_delete(whitened);
        return nullptr;
    }
    if (!with_mask_copy(image, whitened)) {
        zr_image_delete(whitened);
        return nullptr;
    }
    return with_quality_and_liveness(image, whitened);
}

// ---------------------------------------------------------------------------
// Scaling

zr_image* zr_image_scale_res(zr_image* image, uint16_t vertical_dpi, uint16_t horizontal_dpi) {
    if (image == nullptr || image->vertical_resolution == 0 || image->horizontal_resolution == 0)
        return nullptr;
    const uint32_t rows = uint32_t(image->rows) * vertical_dpi / image->vertical_resolution;
    const uint32_t cols = uint32_t(image->cols) * horizontal_dpi / image->horizontal_resolution;
    return scale_to(image, rows, cols, vertical_dpi, horizontal_dpi);
}

zr_image* zr_image_scale_size(zr_image* image, uint16_t rows, uint16_t cols) {
    if (image == nullptr || image->rows == 0 || image->cols == 0) return nullptr;
    const uint32_t vertical = uint32_t(image->vertical_resolution) * rows / image->rows;
    const uint32_t horizontal = uint32_t(image->horizontal_resolution) * cols / image->cols;
    if (!fits_u16(vertical) || !fits_u16(horizontal)) return nullptr;
    return scale_to(image, rows, cols, uint16_t(vertical), uint16_t(horizontal));
}

zr_image* zr_image_scale_size_res(zr_image* image, uint16_t rows, uint16_t cols,
                                  uint16_t vertical_dpi, uint16_t horizontal_dpi) {
    if (image == nullptr) return nullptr;
    return scale_to(image, rows, cols, vertical_dpi, horizontal_dpi);
}

// ---------------------------------------------------------------------------
// Enhancement

zr_image* zr_image_enhance_quality(zr_image* image) {
    if (image == nullptr) return nullptr;
    uint8_t* pixels = zr_image_get_pixels(image);
    if (pixels == nullptr) return nullptr;
    zr_image* enhanced = blank_like(image, image->rows, image->cols);
    if (enhanced == nullptr) return nullptr;
    if (bal_enhance_quality(pixels, image->rows, image->cols, image->rows, image->cols,
                            enhanced->pixels) != 0) {
        zr_image_delete(enhanced);
        return nullptr;
    }
    with_mask_copy(image, enhanced);
    return enhanced;
}

zr_image* zr_image_enhance_quality_advanced(zr_image* image) {
    if (image == nullptr) return nullptr;
    uint8_t* pixels = zr_image_get_pixels(image);
    if (pixels == nullptr) return nullptr;
    zr_image* enhanced = zr_image_create(image->rows, image->cols, image->vertical_resolution,
                                         image->horizontal_resolution, pixels,
                                         image->impression_type);
    if (enhanced == nullptr) return nullptr;
    if (!bal_finger_is_present(pixels, image->rows, image->cols)) {
        std::memset(enhanced->pixels, kEnhanceMaxPixel, zr_image_get_nbr_of_pixels(image));
    } else if (!enhance_advanced_pixels(enhanced->pixels, image->rows, image->cols)) {
        zr_image_delete(enhanced);
        return nullptr;
    }
    with_mask_copy(image, enhanced);
    return enhanced;
}

zr_image* zr_image_enhance_by_preprocessor(zr_image* image, void* context,
                                           const zr_image_preprocessor* preprocessor) {
    if (image == nullptr || preprocessor == nullptr || preprocessor->process == nullptr)
        return nullptr;
    uint8_t* pixels = zr_image_get_pixels(image);
    if (pixels == nullptr) return nullptr;
    uint8_t* valid = nullptr;
    if (image->mask != nullptr && zr_image_get_valid_pixels(image, &valid) != ZR_OK)
        return nullptr;
    zr_image* result = blank_like(image, image->rows, image->cols);
    uint8_t* segmentation = nullptr;
    uint32_t clear_quality = 0;
    bool ok = result != nullptr &&
              preprocessor->process(context, pixels, valid, image->rows, image->cols,
                                    image->vertical_resolution, result->pixels, &segmentation,
                                    &clear_quality) == 0;
    if (ok) ok = with_mask_copy(image, result) && image_copy_quality_and_liveness(image, result);
    if (ok && clear_quality == 1) {
        zr_quality* cleared = zr_quality_create(0, 0, 0, 0);
        ok = cleared != nullptr;
        if (ok) {
            cleared->reserved = 0;
            zr_image_set_quality_values(result, cleared);
            zr_quality_delete(cleared);
        }
    }
    if (ok && segmentation != nullptr) ok = apply_segmentation(result, segmentation);
    std::free(segmentation);
    std::free(valid);
    if (!ok) {
        zr_image_delete(result);
        return nullptr;
    }
    return result;
}

// ---------------------------------------------------------------------------
// Blending, drawing, concatenation

zr_image* zr_image_blend(zr_image* base, zr_image* overlay, int32_t col_offset,
                         int32_t row_offset) {
    if (base == nullptr) return nullptr;
    zr_image* blended = plain_copy(base);
    if (blended == nullptr) return nullptr;
    blended->mask = zr_image_mask_retain(base->mask);
    uint8_t* over = nullptr;
    if (overlay == nullptr || !source_pixels(overlay, &over) || over == nullptr) return blended;
    const int64_t first_row = std::max<int64_t>(0, -int64_t{row_offset});
    const int64_t first_col = std::max<int64_t>(0, -int64_t{col_offset});
    const int64_t end_row = std::min<int64_t>(overlay->rows, int64_t{base->rows} - row_offset);
    const int64_t end_col = std::min<int64_t>(overlay->cols, int64_t{base->cols} - col_offset);
    for (int64_t r = first_row; r < end_row; ++r) {
        const uint8_t* src = over + r * overlay->cols;
        uint8_t* dst = blended->pixels + (r + row_offset) * base->cols + col_offset;
        for (int64_t c = first_col; c < end_col; ++c) dst[c] = blend_pixel(dst[c], src[c]);
    }
    return blended;
}

zr_image* zr_image_draw(zr_image* destination, zr_image* source, int32_t col_offset,
                        int32_t row_offset) {
    if (destination == nullptr || source == nullptr) return nullptr;
    uint8_t* src = nullptr;
    if (!source_pixels(source, &src)) return nullptr;
    zr_image* drawn = plain_copy(destination);
    if (drawn == nullptr) return nullptr;
    if (src != nullptr && drawn->pixels != nullptr)
        bal_image_draw_image(drawn->pixels, drawn->rows, drawn->cols, src, source->rows,
                             source->cols, col_offset, row_offset, kTransparentPixel);
    drawn->mask = zr_image_mask_draw(destination->mask, source->mask, col_offset, row_offset);
    if (drawn->mask == nullptr) drawn->mask = zr_image_mask_retain(destination->mask);
    return drawn;
}

zr_image* zr_image_draw_ignore_255_mask(zr_image* destination, zr_image* source,
                                        int32_t col_offset, int32_t row_offset) {
    if (destination == nullptr || source == nullptr) return nullptr;
    zr_image* opaque = zr_image_copy(source);
    if (opaque == nullptr) return nullptr;
    const uint32_t size = zr_image_get_nbr_of_pixels(opaque);
    for (uint32_t i = 0; i < size; ++i)
        if (opaque->pixels[i] == kBlankPixel) opaque->pixels[i] = kOpaqueWhite;
    zr_image* drawn = zr_image_draw(destination, opaque, col_offset, row_offset);
    zr_image_delete(opaque);
    return drawn;
}

zr_image* zr_image_concatenate(zr_image* first, zr_image* second, uint8_t gap, uint8_t stacked) {
    if (first == nullptr || second == nullptr) return nullptr;
    uint32_t rows = 0, cols = 0;
    uint16_t first_rows = first->rows, first_cols = first->cols;
    uint16_t second_rows = second->rows, second_cols = second->cols;
    if (stacked) {
        first_cols = second_cols = std::max(first->cols, second->cols);
        rows = uint32_t(first->rows) + gap + second->rows;
        cols = first_cols;
    } else {
        first_rows = second_rows = std::max(first->rows, second->rows);
        rows = first_rows;
        cols = uint32_t(first->cols) + gap + second->cols;
    }
    zr_image* canvas = blank_like(first, rows, cols);
    if (canvas == nullptr) return nullptr;
    canvas->mask = zr_image_mask_create(canvas->rows, canvas->cols);
    zr_image* a = zr_image_crop_centered(first, first_rows, first_cols);
    zr_image* b = zr_image_crop_centered(second, second_rows, second_cols);
    zr_image* with_first = nullptr;
    zr_image* result = nullptr;
    if (canvas->mask != nullptr && a != nullptr && b != nullptr) {
        with_first = zr_image_draw_ignore_255_mask(canvas, a, 0, 0);
        const int32_t second_col = stacked ? 0 : int32_t(first->cols) + gap;
        const int32_t second_row = stacked ? int32_t(first->rows) + gap : 0;
        if (with_first != nullptr)
            result = zr_image_draw_ignore_255_mask(with_first, b, second_col, second_row);
    }
    zr_image_delete(with_first);
    zr_image_delete(a);
    zr_image_delete(b);
    zr_image_delete(canvas);
    return result;
}

zr_image* zr_image_draw_frame(zr_image* image) {
    if (image == nullptr) return nullptr;
    const uint32_t rows = uint32_t(image->rows) + 2, cols = uint32_t(image->cols) + 2;
    if (!fits_u16(rows) || !fits_u16(cols)) return nullptr;
    zr_image* framed = zr_image_crop_centered(image, uint16_t(rows), uint16_t(cols));
    if (framed == nullptr) return nullptr;
    bal_image_draw_rectangle(framed->pixels, int32_t(rows), int32_t(cols), 0, 0, cols, rows,
                             kFrameValue);
    bal_image_draw_rectangle(framed->pixels, int32_t(rows), int32_t(cols), 1, 1, image->cols,
                             image->rows, kFrameValue);
    return framed;
}

zr_image* zr_image_show_alignment(zr_image* image1, zr_image* image2,
                                  const zr_alignment* alignment) {
    if (image1 == nullptr || image2 == nullptr || alignment == nullptr) return nullptr;
    zr_alignment* inverse = zr_alignment_inverse(alignment);
    zr_image* turned = zr_image_rotate(image2, uint8_t(zr_alignment_get_rotation(inverse)),
                                       nullptr, nullptr);
    zr_image* blended = turned != nullptr ? zr_image_blend(image1, turned,
                                                           zr_alignment_get_dx(inverse),
                                                           zr_alignment_get_dy(inverse))
                                          : nullptr;
    zr_image* framed1 = zr_image_draw_frame(image1);
    zr_image* framed2 = zr_image_draw_frame(image2);
    zr_image* sources = zr_image_concatenate(framed1, framed2, kFramedImagesGap, 1);
    zr_image* picture = zr_image_concatenate(sources, blended, kAlignmentGap, 0);
    if (picture != nullptr) {
        const int32_t labels[3] = {int32_t(zr_alignment_get_rotation(alignment) & 0xFF),
                                   zr_alignment_get_dx(alignment),
                                   zr_alignment_get_dy(alignment)};
        for (int i = 0; i < 3; ++i)
            bal_image_draw_number(picture->pixels, picture->rows, picture->cols, labels[i], 1,
                                  kLabelColumn, kLabelRows[i], kLabelColour);
    }
    zr_image_delete(sources);
    zr_image_delete(framed2);
    zr_image_delete(framed1);
    zr_image_delete(blended);
    zr_image_delete(turned);
    zr_alignment_delete(inverse);
    return picture;
}

// ---------------------------------------------------------------------------
// Sub-images

uint32_t zr_image_split_get_nbr_of_sub_images(const zr_image_split_spec* spec) {
    if (spec == nullptr) return 0;
    return uint32_t(spec->grid_rows) * spec->grid_cols + (spec->centre ? 1 : 0);
}

zr_status zr_image_split(zr_image* image, const zr_image_split_spec* spec, zr_image** out) {
    if (image == nullptr || spec == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    if (spec->grid_rows == 0 || spec->grid_cols == 0 || spec->tile_rows == 0 ||
        spec->tile_cols == 0 || spec->tile_rows > image->rows || spec->tile_cols > image->cols)
        return ZR_BAD_ARGUMENT;
    const uint32_t count = zr_image_split_get_nbr_of_sub_images(spec);
    for (uint32_t i = 0; i < count; ++i) out[i] = nullptr;
    uint32_t made = 0;
    if (spec->centre) {
        out[made] = zr_image_crop_centered(image, spec->tile_rows, spec->tile_cols);
        if (out[made++] == nullptr) {
            delete_all(out, made);
            return ZR_NO_MEMORY;
        }
    }
    const uint32_t covered_rows =
        std::min<uint32_t>(uint32_t(spec->tile_rows) * spec->grid_rows, image->rows);
    const uint32_t covered_cols =
        std::min<uint32_t>(uint32_t(spec->tile_cols) * spec->grid_cols, image->cols);
    zr_image* base = zr_image_crop_centered(image, uint16_t(covered_rows), uint16_t(covered_cols));
    if (base == nullptr) {
        delete_all(out, made);
        return ZR_NO_MEMORY;
    }
    for (uint32_t i = 0; i < spec->grid_rows; ++i) {
        const int32_t row = tile_start(i, spec->grid_rows, spec->tile_rows, covered_rows);
        for (uint32_t j = 0; j < spec->grid_cols; ++j) {
            const int32_t col = tile_start(j, spec->grid_cols, spec->tile_cols, covered_cols);
            out[made] = zr_image_crop(base, spec->tile_rows, spec->tile_cols, row, col);
            if (out[made++] == nullptr) {
                zr_image_delete(base);
                delete_all(out, made);
                return ZR_NO_MEMORY;
            }
        }
    }
    zr_image_delete(base);
    return ZR_OK;
}
