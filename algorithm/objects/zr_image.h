// 8-bit grey fingerprint image object: geometry, resolutions, optional mask
// and quality record, liveness score and class id, and pixels that are owned,
// borrowed from the caller (with an optional release callback) or decoded on
// first use. Operations that change pixels return a new image; the source is
// never changed.
//
// Unless said otherwise a missing image makes an accessor give 0 and an
// operation give none; every constructor and operation returns a new image
// with one reference (owned pixels, the source's resolutions and impression
// type, liveness 0xFFFF, class id 0, no quality), or none when memory runs out
// or an argument is refused. Everything built up to a failure is freed.
#pragma once

#include <cstdint>

#include "objects/zr_image_mask.h"
#include "objects/zr_quality.h"
#include "objects/zr_result.h"

struct zr_alignment;

// Decoder of a lazily rendered image.
struct zr_image_decoder {
    // Opens the source; fills the handle, size, resolutions and impression
    // type; 0 on success.
    uint32_t (*open)(void* source, uint32_t argument1, uint32_t argument2, uint64_t argument3,
                     void** out_handle, uint16_t* out_rows, uint16_t* out_cols,
                     uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                     uint32_t* out_impression_type);
    void (*release)(void* handle);
    // Writes the window of row_count x col_count pixels at (first_row,
    // first_col) into dst, rows dst_stride bytes apart.
    void (*read)(void* handle, uint32_t first_row, uint32_t first_col, uint32_t row_count,
                 uint32_t col_count, uint32_t dst_stride, uint8_t* dst);
};

// Memory-reference states.
enum zr_image_mr_state : uint32_t {
    ZR_IMAGE_MR_NONE = 0,
    ZR_IMAGE_MR_SOFT = 1,
    ZR_IMAGE_MR_WEAK = 2,
};

struct zr_image {
    uint32_t ref_count;
    uint8_t* pixels;  // row-major rows x cols bytes, or none (not rendered, or released)
    uint16_t rows;
    uint16_t cols;
    uint16_t vertical_resolution;    // dpi, rows direction
    uint16_t horizontal_resolution;  // dpi, columns direction
    zr_image_mask* mask;             // held reference or none
    uint32_t impression_type;
    const zr_image_decoder* decoder;  // none once rendered
    void* decoder_handle;
    zr_quality* quality;              // held reference or none
    uint16_t liveness_score;          // 0xFFFF: no score
    uint16_t class_id;
    uint8_t pixels_borrowed;          // 1 when the pixel buffer belongs to the caller
    uint32_t pixel_buffer_size;
    uint32_t not_const;  // 1 when the pixel memory may be shared (views) or released early
    uint32_t mr_state;   // zr_image_mr_state
    void (*release)(void* context);   // called with release_context when destroyed
    void* release_context;
    void (*destroy)(zr_image*);       // delete_image
};

// Impression type reported for a missing image.
constexpr uint32_t ZR_IMAGE_NO_IMPRESSION_TYPE = 29;
constexpr uint16_t ZR_IMAGE_NO_LIVENESS_SCORE = 0xFFFF;

// ---------------------------------------------------------------------------
// Creation

// Owned copy of rows x cols pixels (every pixel 255 when pixels is none).
zr_image* zr_image_create(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                          uint16_t horizontal_dpi, const uint8_t* pixels,
                          uint32_t impression_type);
// Borrows the caller's buffer (not copied, not freed): borrowed, not-const.
zr_image* zr_image_create_mr(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                             uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type);
// Borrows the caller's buffer of buffer_size bytes (0: rows x cols); release
// is called with context when the image is destroyed. None when rows x cols
// exceeds the buffer or the pixels are missing. not-const = !const_flag.
zr_image* zr_image_create_mre(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                              uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type,
                              uint32_t buffer_size, uint32_t const_flag,
                              void (*release)(void* context), void* context);
// Pixels decoded on first use; the decoder's open gives the geometry. None
// for a missing decoder or a failed open.
zr_image* zr_image_create_render(const zr_image_decoder* decoder, void* source,
                                 uint32_t argument1, uint32_t argument2, uint64_t argument3);
// zr_image_create holding a reference to the mask.
zr_image* zr_image_create_mask(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                               uint16_t horizontal_dpi, const uint8_t* pixels,
                               uint32_t impression_type, zr_image_mask* mask);
// Owned pixels flipped from the given ones by the image library (255 when
// none); modes 4 and 5 exchange rows with columns and the two resolutions.
zr_image* zr_image_create_flip(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                               uint16_t horizontal_dpi, const uint8_t* pixels,
                               uint32_t impression_type, uint32_t mode);
// Owned copy of the pixels (255 when the source has none) with copies of the
// mask and the quality, the liveness score and the class id.
zr_image* zr_image_copy(zr_image* image);
zr_image* zr_image_retain(zr_image* image);
void zr_image_delete(zr_image* image);
uint32_t zr_image_get_num_refs(const zr_image* image);

// ---------------------------------------------------------------------------
// Accessors

uint16_t zr_image_get_rows(const zr_image* image);
uint16_t zr_image_get_cols(const zr_image* image);
uint16_t zr_image_get_vertical_resolution(const zr_image* image);
uint16_t zr_image_get_horizontal_resolution(const zr_image* image);
// The common resolution when both are equal, else 0.
uint16_t zr_image_get_resolution(const zr_image* image);
// 29 for a missing image.
uint32_t zr_image_get_impression_type(const zr_image* image);
uint32_t zr_image_get_nbr_of_pixels(const zr_image* image);
uint16_t zr_image_get_liveness_score(const zr_image* image);
void zr_image_set_liveness_score(zr_image* image, uint16_t score);
uint16_t zr_image_get_class_id(const zr_image* image);
// 2 for a missing image, else 0.
[[nodiscard]] zr_status zr_image_set_class_id(zr_image* image, uint16_t class_id);
// The mask (no reference added), or none.
zr_image_mask* zr_image_get_mask(const zr_image* image);
// The mask, first creating and keeping a 128-filled one of the image's size
// when there is none; none when that runs out of memory.
zr_image_mask* zr_image_get_mask_create_if_na(zr_image* image);
// Deletes the old mask, holds the new one (or none).
void zr_image_set_mask(zr_image* image, zr_image_mask* mask);
// The quality record's image quality; 0 without one.
uint8_t zr_image_get_quality(const zr_image* image);
// The quality record (no reference added), or none.
zr_quality* zr_image_get_quality_values(const zr_image* image);
// Deletes the old record, holds the new one (or none).
void zr_image_set_quality_values(zr_image* image, zr_quality* quality);
uint16_t zr_image_get_fingerprint_area(const zr_image* image);
uint8_t zr_image_get_fingerprint_area_percentage(const zr_image* image);
uint8_t zr_image_get_fingerprint_condition(const zr_image* image);
uint32_t zr_image_get_mr_const(const zr_image* image);
void zr_image_set_mr_const(zr_image* image, uint32_t const_flag);
// The buffer size, or rows x cols when it is 0.
uint32_t zr_image_get_mr_size(const zr_image* image);
uint32_t zr_image_is_mr_weak(const zr_image* image);

// The pixel buffer, none for a missing image. An image with a decoder and no
// pixels is rendered first (the decoder released and forgotten); when that
// allocation fails the result is none and the decoder is kept.
uint8_t* zr_image_get_pixels(zr_image* image);
// Renders the pixels as zr_image_get_pixels does: 0 when the image has them
// (or is empty), 9 when rendering runs out of memory, 3 when the image has
// neither pixels nor decoder, 2 for a missing image.
[[nodiscard]] zr_status zr_image_render(zr_image* image);

// ---------------------------------------------------------------------------
// Memory references: let extraction release a large caller buffer early.

// State 0 becomes 1; returns the previous state (0 for a missing image).
uint32_t zr_image_mr_soft(zr_image* image);
// State becomes 2.
void zr_image_mr_weak(zr_image* image);
// State 1 becomes 2.
void zr_image_mr_weakify(zr_image* image);
// Acts only on an image with exactly one reference in state 2, else 0. The
// mask is deleted first. Without a function: a decoder is released, owned
// pixels freed, or borrowed pixels handed to their release callback; pixels
// become none and the result is 1 (0 for borrowed pixels without callback or
// no pixels). With a function the caller takes the buffer over (pixels none,
// result 1) when it is the image's own release callback with the pixels as
// its context (borrowed), or free() (owned); else 0.
uint32_t zr_image_mr_release(zr_image* image, void (*release)(void*));

// ---------------------------------------------------------------------------
// Image operations

// The rows x cols window whose top-left corner is at the offsets; parts
// outside the source are 255; the mask cropped the same way. Same size and
// offsets 0: the source itself with one more reference. A full-width window
// at column 0 inside the rows of a not-const source with pixels is a view
// sharing the source's rows and holding a reference to it. An unrendered
// source is read through its decoder for the part of the window inside it.
zr_image* zr_image_crop(zr_image* image, uint16_t rows, uint16_t cols, int32_t row_offset,
                        int32_t col_offset);
// zr_image_crop at ((source rows - rows) / 2, (source cols - cols) / 2),
// truncating toward zero.
zr_image* zr_image_crop_centered(zr_image* image, uint16_t rows, uint16_t cols);
// zr_image_crop around the centre of the variance segmentation, the window
// kept inside the source where it fits. None below 8 x 8 pixels or when the
// segmentation fails.
zr_image* zr_image_crop_centered_on_finger(zr_image* image, uint16_t rows, uint16_t cols);
// Image library flip; the mask flipped; modes 4 and 5 exchange rows with
// columns and the resolutions; quality and liveness copied.
zr_image* zr_image_flip(zr_image* image, uint32_t mode);
// Image library rotation by an 8-bit angle (size from it); the position of
// the source's pixel (0, 0) in the result goes to the outputs, column to the
// first and row to the second (each optional); the mask rotated; quality and
// liveness copied.
zr_image* zr_image_rotate(zr_image* image, uint8_t angle, uint32_t* out_first,
                          uint32_t* out_second);
// 255 - p; mask, quality and liveness copied.
zr_image* zr_image_invert(zr_image* image);
// Image library's part to white; mask (none when its copy fails), quality and
// liveness copied.
zr_image* zr_image_set_part_to_white(zr_image* image, uint8_t part);
// Bilinear scaling to rows x new vertical / old vertical by cols x new
// horizontal / old horizontal (truncating); mask by nearest neighbour; quality
// and liveness copied. None for a resolution of 0 or a size beyond 16 bits.
zr_image* zr_image_scale_res(zr_image* image, uint16_t vertical_dpi, uint16_t horizontal_dpi);
// Bilinear scaling to rows x cols, the resolutions scaled alike (truncating).
// None for an empty source.
zr_image* zr_image_scale_size(zr_image* image, uint16_t rows, uint16_t cols);
// Bilinear scaling to rows x cols with the given resolutions.
zr_image* zr_image_scale_size_res(zr_image* image, uint16_t rows, uint16_t cols,
                                  uint16_t vertical_dpi, uint16_t horizontal_dpi);
// Image library enhancement; mask copied.
zr_image* zr_image_enhance_quality(zr_image* image);
// All 254 when no finger is present; else local normalisation over 8 x 8
// blocks (mean 150, spread 120) and eight passes of a blur and a segmented
// stretch, capped at 254; mask copied.
zr_image* zr_image_enhance_quality_advanced(zr_image* image);

// Caller-supplied preprocessor. process returns 0 on success; it may hand
// back a segmentation (rows x cols bytes from malloc, 0 background) and set
// the flag to 1 to clear the quality.
struct zr_image_preprocessor {
    uint32_t (*process)(void* context, const uint8_t* pixels, const uint8_t* valid_pixels,
                        uint16_t rows, uint16_t cols, uint16_t vertical_dpi, uint8_t* dst,
                        uint8_t** out_segmentation, uint32_t* out_flag);
};
// The preprocessor's output with the source's size, resolutions, impression
// type, liveness, a copy of its quality (all zeros when the flag is 1) and of
// its mask, narrowed by the returned segmentation. None when the
// preprocessor fails or the mask copy does.
zr_image* zr_image_enhance_by_preprocessor(zr_image* image, void* context,
                                           const zr_image_preprocessor* preprocessor);

// Copy of the base with the overlay's pixel (r, c) placed at (r + row_offset,
// c + col_offset): overlay 255 leaves the base; base 255 takes the overlay;
// otherwise base / 2 + overlay / 2. The base's mask is shared.
zr_image* zr_image_blend(zr_image* base, zr_image* overlay, int32_t col_offset,
                         int32_t row_offset);
// Copy of the destination with the source drawn at the offsets, its 255
// pixels transparent; mask drawn alike (the destination's when that fails).
zr_image* zr_image_draw(zr_image* destination, zr_image* source, int32_t col_offset,
                        int32_t row_offset);
// zr_image_draw of a copy of the source whose 255 pixels are lowered to 254.
zr_image* zr_image_draw_ignore_255_mask(zr_image* destination, zr_image* source,
                                        int32_t col_offset, int32_t row_offset);
// The two images one above the other (stacked non-zero, each cropped centred
// to the wider width, gap rows between) or side by side (each cropped
// centred to the taller height, gap columns between), on 255 with a new mask.
zr_image* zr_image_concatenate(zr_image* first, zr_image* second, uint8_t gap, uint8_t stacked);
// The image cropped centred to rows + 2 x cols + 2 with two outlines of 0.
zr_image* zr_image_draw_frame(zr_image* image);
// Diagnostic picture of an alignment: the two framed images stacked, beside
// image2 turned by the inverse alignment and blended over image1, with the
// rotation, dx and dy written in the corner.
zr_image* zr_image_show_alignment(zr_image* image1, zr_image* image2,
                                  const zr_alignment* alignment);

// ---------------------------------------------------------------------------
// Sub-images

struct zr_image_split_spec {
    uint8_t grid_rows;
    uint8_t grid_cols;
    uint16_t tile_rows;
    uint16_t tile_cols;
    uint32_t centre;  // non-zero: a centred tile comes first
};

// grid rows x grid cols, plus 1 with the centre flag; 0 for none.
uint32_t zr_image_split_get_nbr_of_sub_images(const zr_image_split_spec* spec);
// Fills out (zr_image_split_get_nbr_of_sub_images slots) with the tiles in
// row-major order, overlapping evenly over the centred covered area. 2 for a
// missing argument, a count or size of 0 or a tile larger than the image; 9
// when out of memory (every slot none); else 0.
[[nodiscard]] zr_status zr_image_split(zr_image* image, const zr_image_split_spec* spec,
                                       zr_image** out);

// ---------------------------------------------------------------------------
// Sensor size, quality, coverage, segmentation

// Sensor-size code of the image's area at 500 dpi (nearest of the table, the
// lower index on a tie); 0 for a zero resolution or a missing image.
uint32_t zr_image_size_to_sensor_size(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                                      uint16_t horizontal_dpi);
uint32_t zr_image_get_sensor_size(const zr_image* image);

// Measures the image (rescaled near 500 [250] dpi first when needed) and
// stores a new quality record in the image; *out_quality receives a
// reference of its own. 2 for a missing image or output, 1 for resolutions
// that differ or are 0, 9 when out of memory, an image-library code
// converted; else 0. The context is not read.
[[nodiscard]] zr_status zr_compute_quality_500(void* context, zr_image* image,
                                               zr_quality** out_quality);
[[nodiscard]] zr_status zr_compute_quality_250(void* context, zr_image* image,
                                               zr_quality** out_quality);
// The image library's measures at the image's resolution; its code converted
// (2 for a missing argument).
[[nodiscard]] zr_status zr_quality_compute_dynamic_range(zr_image* image, uint8_t* out_range);
[[nodiscard]] zr_status zr_quality_compute_sharpness(zr_image* image, uint8_t* out_sharpness);
[[nodiscard]] zr_status zr_quality_compute_signal_to_noise_ratio(zr_image* image,
                                                                 uint8_t* out_ratio,
                                                                 uint8_t* out_signal,
                                                                 uint8_t* out_noise);

// Percentages of the mask; 0 without a mask or for an empty one.
uint32_t zr_image_background_coverage(const zr_image* image);
uint32_t zr_image_static_pattern_coverage(const zr_image* image);
uint32_t zr_image_valid_coverage(const zr_image* image);

// Marks each pixel fingerprint where the byte is non-zero and background
// where it is 0, creating the mask when absent. 2 for a missing argument, 5
// when the mask's size differs from the image's, 9 when out of memory; else 0.
[[nodiscard]] zr_status zr_image_set_segmentation(zr_image* image, const uint8_t* segmentation);
// Without a mask as zr_image_set_segmentation; with one, pixels whose byte
// is 0 become background and the others are unchanged.
[[nodiscard]] zr_status zr_image_intersect_segmentation(zr_image* image,
                                                        const uint8_t* segmentation);
// A new rows x cols buffer (freed by the caller with free()): 255 for valid
// pixels, 0 for the others, all 255 without a mask. 2 for a missing
// argument, 5 when the mask's size differs from the image's, 9 when out of
// memory.
[[nodiscard]] zr_status zr_image_get_valid_pixels(const zr_image* image, uint8_t** out_buffer);

void delete_image(zr_image* image);
