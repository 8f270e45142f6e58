// The extraction container: the fixed 3,232-byte record that minutiae
// extraction fills and that every template writer reads, with the minutiae
// structure inside it, the feature-callback interface of the extraction and
// the minutiae sort.
//
// The raw template format 8 is this record byte for byte, so the offsets of
// every field are fixed (checked below). Pointer fields make such a record
// meaningful only inside the process that filled it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/bal_status.h"
#include "imaging/zr_zonal_quality_field.h"

// ---------------------------------------------------------------------------
// Minutiae structure

constexpr uint32_t ZR_MAX_MINUTIAE = 255;

// Minutia types.
constexpr uint8_t ZR_MINUTIA_ENDING = 1;
constexpr uint8_t ZR_MINUTIA_BIFURCATION = 2;

// Resolution (pixels per centimetre) and device identifier written by extraction.
constexpr uint16_t ZR_EXTRACT_RESOLUTION_PPCM = 197;
constexpr uint32_t ZR_EXTRACT_DEVICE_ID = 0x000B0120;

// One minutia: position in pixels of a 500 dpi image (origin top left),
// angle in 256 steps a full turn, type 1 ending or 2 bifurcation, quality
// 0..100, ridge period in pixels minus 5.
struct minutia {
    int16_t row;
    int16_t col;
    uint8_t angle;
    uint8_t type;
    uint8_t quality;
    uint8_t ridge_period;
};
static_assert(sizeof(minutia) == 8);

// The minutiae list with the header of the image it came from.
struct minutiastruct {
    uint8_t reserved0[4];
    uint8_t max_minutiae;  // upper bound on the count kept by extraction
    uint8_t order;         // sort order code, see bal_sort_minutiae
    uint8_t reserved1[2];
    minutia minutiae[ZR_MAX_MINUTIAE];
    uint8_t count;
    uint8_t reserved2;
    uint16_t rows;
    uint16_t cols;
    uint16_t resolution;  // pixels per centimetre
    uint32_t device_id;
    uint8_t finger_position;  // ISO/IEC 19794-2 code 0..10
    uint8_t impression_type;  // low nibble significant
    uint8_t quality;          // 1..100
    uint8_t reserved3;
};
static_assert(sizeof(minutiastruct) == 2064);
static_assert(offsetof(minutiastruct, max_minutiae) == 4);
static_assert(offsetof(minutiastruct, order) == 5);
static_assert(offsetof(minutiastruct, minutiae) == 8);
static_assert(offsetof(minutiastruct, count) == 2048);
static_assert(offsetof(minutiastruct, rows) == 2050);
static_assert(offsetof(minutiastruct, cols) == 2052);
static_assert(offsetof(minutiastruct, resolution) == 2054);
static_assert(offsetof(minutiastruct, device_id) == 2056);
static_assert(offsetof(minutiastruct, finger_position) == 2060);
static_assert(offsetof(minutiastruct, impression_type) == 2061);
static_assert(offsetof(minutiastruct, quality) == 2062);

// ---------------------------------------------------------------------------
// Reference points (cores and deltas)

constexpr uint32_t ZR_MAX_REFERENCE_POINTS = 4;

// Enable bit of a reference-point block, the zonal quality field and the
// block fields: the caller asks for this feature.
constexpr uint32_t ZR_FEATURE_ENABLE = 0x1;
// Block fields only: also produce the fine (3 x 3 sub-block) field.
constexpr uint32_t ZR_FIELD_FINE = 0x2;
// Binarized-image flags: keep the binarized ridge image.
constexpr uint32_t ZR_BINARIZED_KEEP = 0x1;

// A core uses angles[0]; a delta a, a + 85, a - 86 (mod 256).
struct zr_reference_point {
    uint16_t row;
    uint16_t col;
    uint8_t angles[3];
    uint8_t reserved;
    uint32_t valid;  // 1 for a stored point
};
static_assert(sizeof(zr_reference_point) == 12);

struct zr_reference_points {
    uint32_t enable;  // ZR_FEATURE_ENABLE
    zr_reference_point points[ZR_MAX_REFERENCE_POINTS];
    uint8_t count;  // 0..4
    uint8_t reserved[3];
};
static_assert(sizeof(zr_reference_points) == 56);
static_assert(offsetof(zr_reference_points, points) == 4);
static_assert(offsetof(zr_reference_points, count) == 52);

// ---------------------------------------------------------------------------
// Block fields (orientation and frequency)

// One byte a block, row-major; blocks outside the segmentation mask hold 0.
// The orientation field holds the doubled ridge angle (256 steps a half
// turn). The fine field has 3 x 3 cells of block_size / 3 for every block.
struct zr_block_field {
    uint32_t flags;  // ZR_FEATURE_ENABLE, ZR_FIELD_FINE
    uint32_t reserved0;
    uint8_t* values;      // block_rows x block_cols bytes, owned by the container
    uint8_t block_rows;   // blocks down
    uint8_t block_cols;   // blocks across
    uint8_t block_size;   // pixels
    uint8_t reserved1;
    uint16_t col_offset;  // position of the processed region in the input image
    int16_t row_offset;
    uint8_t* fine;  // (3 x block_rows) x (3 x block_cols) bytes, owned by the container
};
static_assert(sizeof(zr_block_field) == 32);
static_assert(offsetof(zr_block_field, values) == 8);
static_assert(offsetof(zr_block_field, block_rows) == 16);
static_assert(offsetof(zr_block_field, block_cols) == 17);
static_assert(offsetof(zr_block_field, block_size) == 18);
static_assert(offsetof(zr_block_field, col_offset) == 20);
static_assert(offsetof(zr_block_field, row_offset) == 22);
static_assert(offsetof(zr_block_field, fine) == 24);

// ---------------------------------------------------------------------------
// Alignment summary and feature blocks (written by the feature callbacks)

// Mean curvature direction, direction spread, mean magnitude, magnitude spread.
struct zr_alignment_summary {
    uint8_t direction;
    uint8_t direction_spread;
    uint8_t magnitude;
    int8_t magnitude_spread;
};
static_assert(sizeof(zr_alignment_summary) == 4);

// The summary when nothing could be measured: {0, 128, 0, -1}.
constexpr zr_alignment_summary ZR_ALIGNMENT_SUMMARY_EMPTY = {0, 128, 0, -1};

constexpr uint32_t ZR_FEATURE_BLOCK_SLOTS = 57;

// A feature block: length bytes at data; an empty slot has length 0. The
// bytes belong to the template builder that wraps the container, not to it.
struct zr_feature_block {
    uint32_t length;
    uint32_t reserved;
    uint8_t* data;
};
static_assert(sizeof(zr_feature_block) == 16);

// ---------------------------------------------------------------------------
// The container

// Extraction flags (low 16 bits of the template flags, container offset 0).
constexpr uint32_t BAL_EXTRACT_HALF_FREQUENCY = 0x0800;  // ridge frequency on a half-size copy
constexpr uint32_t BAL_EXTRACT_250DPI = 0x1000;          // the image is at 250 dpi
constexpr uint32_t BAL_EXTRACT_TAKE_PIXELS = 0x2000;     // extraction releases the pixels
constexpr uint32_t BAL_EXTRACT_FEATURE_CALLBACKS = 0x4000;  // run the feature callbacks

struct zr_template_container {
    uint32_t flags;
    uint32_t reserved0;
    minutiastruct minutiae;
    zr_reference_points cores;
    zr_reference_points deltas;
    zr_zonal_quality_field zonal_quality;
    zr_block_field orientation;
    zr_block_field frequency;
    uint32_t binarized_flags;  // ZR_BINARIZED_KEEP
    uint32_t reserved1;
    uint8_t* binarized;  // binarized_rows x binarized_cols bytes, owned by the container
    uint16_t binarized_rows;
    uint16_t binarized_cols;
    uint32_t reserved2;
    uint32_t centre_row;  // centre of the fingerprint in input pixels (500 dpi)
    uint32_t centre_col;
    uint8_t quality;  // 1..100, as minutiae.quality
    uint8_t reserved3[3];
    uint32_t area;  // fingerprint area in input pixels (x 4 at 250 dpi)
    zr_alignment_summary alignment;
    uint32_t reserved4;
    zr_feature_block feature_blocks[ZR_FEATURE_BLOCK_SLOTS];
};
static_assert(sizeof(zr_template_container) == 3232);
static_assert(offsetof(zr_template_container, flags) == 0);
static_assert(offsetof(zr_template_container, minutiae) == 8);
static_assert(offsetof(zr_template_container, cores) == 2072);
static_assert(offsetof(zr_template_container, deltas) == 2128);
static_assert(offsetof(zr_template_container, zonal_quality) == 2184);
static_assert(offsetof(zr_template_container, orientation) == 2208);
static_assert(offsetof(zr_template_container, frequency) == 2240);
static_assert(offsetof(zr_template_container, binarized_flags) == 2272);
static_assert(offsetof(zr_template_container, binarized) == 2280);
static_assert(offsetof(zr_template_container, binarized_rows) == 2288);
static_assert(offsetof(zr_template_container, binarized_cols) == 2290);
static_assert(offsetof(zr_template_container, centre_row) == 2296);
static_assert(offsetof(zr_template_container, centre_col) == 2300);
static_assert(offsetof(zr_template_container, quality) == 2304);
static_assert(offsetof(zr_template_container, area) == 2308);
static_assert(offsetof(zr_template_container, alignment) == 2312);
static_assert(offsetof(zr_template_container, feature_blocks) == 2320);

// A zero-filled container, or null when memory is short.
[[nodiscard]] zr_template_container* zr_template_container_alloc();

// Releases the zonal quality cells, the orientation values and fine field,
// the frequency values and fine field and the binarized image (clearing each
// pointer), then the container. The feature blocks are not released.
// Null is accepted.
void zr_template_container_free(zr_template_container* container);

// ---------------------------------------------------------------------------
// Feature callbacks

// What extraction tells a feature callback about the processed image.
// Positions and sizes are in processed-image pixels.
struct bal_extraction_image {
    const uint8_t* pixels;  // the processed (normalised) image, rows x cols
    uint32_t rows;
    uint32_t cols;
    uint32_t resolution;  // 197 pixels per centimetre
    uint32_t centre_row;
    uint32_t centre_col;
    uint16_t input_rows;  // size of the caller's image
    uint16_t input_cols;
    uint8_t quality;  // 1..100
    uint32_t area;    // fingerprint area in pixels
};

// Slot bases and margins of the two callbacks.
constexpr uint32_t BAL_CALLBACK1_SLOT_BASE = 0;
constexpr uint32_t BAL_CALLBACK2_SLOT_BASE = 28;
constexpr uint32_t BAL_CALLBACK1_MARGIN = 0;
constexpr uint32_t BAL_CALLBACK2_MARGIN = 4;

// A feature callback: the skeleton (rows x cols bytes, skeleton pixels 0,
// modified in place) is the ridge skeleton for callback 1 and the valley
// skeleton for callback 2; block_mask holds one byte a block (non-zero on the
// finger); margin is in pixels at 500 dpi; quality_image one byte a pixel.
// Writes into the container's alignment summary and the feature blocks from
// slot_base on. BAL_OK or BAL_NO_MEMORY.
using bal_feature_callback = bal_status (*)(const bal_extraction_image* image, uint8_t* skeleton,
                                            const uint8_t* block_mask, uint32_t block_size,
                                            uint32_t margin, const uint8_t* quality_image,
                                            zr_template_container* container,
                                            uint32_t slot_base);

// ---------------------------------------------------------------------------
// Minutiae order

// Order codes: low nibble the key, high nibble 1 for descending.
enum bal_minutiae_order : uint8_t {
    BAL_ORDER_NONE = 0x00,
    BAL_ORDER_COLUMN = 0x01,    // column, ties by row
    BAL_ORDER_ROW = 0x02,       // row, ties by column
    BAL_ORDER_ANGLE = 0x03,
    BAL_ORDER_DISTANCE = 0x04,  // squared distance from the centre
    BAL_ORDER_QUALITY = 0x05,
    BAL_ORDER_DESCENDING = 0x10,
};

// Stable in-place sort of the first count minutiae by the order code with the
// given centre (for the distance keys). Codes other than 1..5 and 17..21, and
// fewer than 2 minutiae, leave the list unchanged.
void bal_sort_minutiae(minutiastruct* minutiae, uint8_t order, uint32_t centre_row,
                       uint32_t centre_col);
