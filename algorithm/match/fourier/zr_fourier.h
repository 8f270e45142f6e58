// Fourier matcher: compares two fingers by their block fields (one ridge
// orientation and one ridge frequency byte a block, optionally a 3 x 3 fine
// grid a block), without minutiae.
//
// Matcher record (all sizes u16, at most 65535 bytes):
//   0x5B 0xDA, version 2, block size (pixels), BE16 resolution (dpi),
//   block columns, block rows, two check bytes (both 0: no check, otherwise
//   the exclusive-or of all bytes of the record is 0), then rows x cols cells
//   {u8 orientation, u8 frequency} row-major, then optionally the fine grid
//   (3 rows x 3 columns of cells a block, 18 bytes a block, laid out as one
//   3-rows x 3-cols grid), a 4-byte direction hint {direction, tolerance,
//   value, tolerance} and a quality byte. The optional sections are told
//   apart by the length left after the cells.
// Units: orientation bytes are 256 steps a half turn; rotation angles 512
// steps a full turn (one angle step turns an orientation byte by one); a
// frequency byte of 0 marks a cell without ridge data, which no comparison
// counts.
#pragma once

#include <cstdint>

#include "match/chain/zr_verifier_descriptor.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

// Largest canvas width (a canvas row of 2 x (columns + 8) bytes is indexed
// by a byte) and depth (row counts are bytes).
constexpr uint32_t ZR_SPECTRAL_MAX_CANVAS_COLUMNS = 119;
constexpr uint32_t ZR_SPECTRAL_MAX_CANVAS_ROWS = 255;

// Flags of zr_spectral_match.
constexpr uint32_t ZR_SPECTRAL_USE_ALIGNMENT = 1;      // score at the given pose, no search
constexpr uint32_t ZR_SPECTRAL_SQUARE_CANVAS = 2;      // probe canvas max(rows, cols) square
constexpr uint32_t ZR_SPECTRAL_MODE_360 = 4;           // 24 trial rotations, 360-mode thresholds
constexpr uint32_t ZR_SPECTRAL_FEATURES = 8;           // sixteen overlap statistics wanted
constexpr uint32_t ZR_SPECTRAL_RAW_SCORE = 16;         // no quality normalisation of the score
constexpr uint32_t ZR_SPECTRAL_WIDE_FINE_WINDOW = 32;  // fine refinement window 2 cells
constexpr uint32_t ZR_SPECTRAL_NO_PROGRESSIVE = 64;    // always correlate every cell
constexpr uint32_t ZR_SPECTRAL_LOW_LATENCY = 256;      // stricter rotation pruning

// Feature array of zr_spectral_match: entry 0 the score, entry 1 must be 18
// and entry 2 must be 0 for the features to be computed (entry 2 becomes 1
// while the match runs and 17 when entries 3..18 are written).
constexpr uint16_t ZR_SPECTRAL_FEATURE_ARRAY_LENGTH = 19;
constexpr uint16_t ZR_SPECTRAL_FEATURE_REQUEST = 18;
constexpr uint16_t ZR_SPECTRAL_FEATURE_SCORE_COUNT = 17;  // score and sixteen features

// Pose in and out of zr_spectral_match: rotation 256 a full turn; dx and dy
// in pixels (in: at the reference record's resolution; out: at 500 dpi).
struct zr_spectral_alignment {
    int32_t rotation;
    int32_t dx;
    int32_t dy;
};

struct zr_spectral_quick_scores {
    uint16_t orientation_agreement;
    uint16_t frequency_agreement;
};

// Matcher record from a Fourier part (plain form: block size, y offset,
// rows, x offset, cols, then 2 or 3 bytes a block; record form: 0x00, 0x00,
// BE16 L, the plain form of L bytes, then optionally a fine-grid record
// {type, BE16 M, ...}: type 1 raw cells (M = 18n), type 2 two packed step
// streams {BE16 P, P bytes, BE16 Q, Q bytes} with M = P + Q + 4).
// Each output is optional; without out_record only the header outs are given.
// The record is zero-filled from zr_calloc and owned by the caller (free()).
// The y and x offsets are the signed header bytes, sign-extended.
// A packed stream shorter than 8n steps leaves the missing steps 0.
// ZR_UNHANDLED_INPUT (1) for a short part, a block-field length that is
// neither 5 + 2n nor 5 + 3n, or a record that would pass 65535 bytes;
// ZR_BAD_FORMAT (4) for a record form whose second byte is not 0; ZR_BAD_DATA
// (5) for a first record longer than the data; ZR_NOT_FOUND (6) for a
// fine-grid record longer than the data or whose stream lengths do not add
// up to M; ZR_NO_MEMORY (9). *out_record is none on failure.
[[nodiscard]] zr_status zr_fusion_spectral_to_matcher(
    const uint8_t* part, int32_t length, uint8_t** out_record, uint16_t* out_record_length,
    uint32_t* out_y_offset, uint32_t* out_x_offset, uint16_t* out_rows, uint16_t* out_cols,
    int32_t skip_fine_grid, const uint8_t* quality, const uint8_t* direction_hint);

// Result of unpack5v.
constexpr uint32_t ZR_UNPACK5V_SHORT = 0xFFFFFFFF;  // fewer steps than wanted
constexpr uint32_t ZR_UNPACK5V_LEFT_OVER = 1;       // whole bytes of input left over

// Decodes the fine-grid step code (00 0, 01 +1, 11 -1, 100 -2, 101 +2, most
// significant bit first) into at most `wanted` signed steps; stops at the
// wanted count, when fewer than two bits remain or at a three-bit code cut
// off by the end. *out_decoded receives the count. Returns ZR_UNPACK5V_SHORT,
// ZR_UNPACK5V_LEFT_OVER or 0.
uint32_t unpack5v(const uint8_t* stream, int32_t length, int32_t wanted, int8_t* out_steps,
                  uint32_t* out_decoded);

// Matcher record of an EHM-class template: the Fourier part (type 66) with
// the fine grid skipped and no direction hint, and the quality byte of its
// image-dimension part (0 when absent). `release` is what the caller frees.
struct zr_spectral_input {
    uint8_t* record;
    uint32_t length;
    uint32_t allocated_length;
    void* release;
};
[[nodiscard]] zr_status convert_to_spectral_matcher_format(const zr_template* tmpl,
                                                           zr_spectral_input* out);

// Splits a matcher record. out_fine_grid and out_direction_hint may be none;
// each becomes none when its section is absent. ZR_UNHANDLED_INPUT (1) for a
// record of 9 bytes or less, wrong magic or version, failed check, zero block
// size or resolution, cells past the end or a remainder that fits no section.
[[nodiscard]] zr_status zr_spectral_unpack_template(
    const uint8_t* record, uint16_t length, uint8_t* out_cols, uint8_t* out_rows,
    uint8_t* out_block_size, uint16_t* out_resolution, const uint8_t** out_cells,
    const uint8_t** out_fine_grid, uint8_t* out_quality, const uint8_t** out_direction_hint);

// Image size at 500 dpi implied by a record, rounded to nearest; both outs
// 192 by default. ZR_BAD_FORMAT (4) for 9 bytes or less, ZR_IMAGE_LIB_CODE_6
// (13) for wrong magic or version; a resolution of 0 gives ZR_OK with 192.
[[nodiscard]] zr_status zr_spectral_to_idim(const uint8_t* record, uint16_t length,
                                            uint16_t* out_width, uint16_t* out_height);

// Bytes of work memory zr_spectral_match needs for the pair: the probe canvas
// H x (2W + 16) and the reference canvas rows x (2 cols + 16), at least 48
// (counted in fine cells when the probe has a fine grid). 1 when a scaled
// canvas side is 0; 0 for an invalid record, a grid or canvas wider than 119
// or deeper than 255 cells, or a requirement above 65535.
uint32_t zr_spectral_match_required_mem(const uint8_t* probe, uint32_t probe_length,
                                        const uint8_t* reference, uint32_t reference_length,
                                        uint8_t flags);

// Histogram comparison of the valid cells: the best cyclic overlap of the two
// 12-bin orientation histograms and the plain overlap of the 12-bin frequency
// histograms. out may be none. ZR_UNHANDLED_INPUT for an invalid probe; the
// reference's unpack code; a probe without blocks gives ZR_OK with zeros.
[[nodiscard]] zr_status zr_spectral_quick_match(const uint8_t* probe, uint32_t probe_length,
                                                const uint8_t* reference,
                                                uint16_t reference_length,
                                                zr_spectral_quick_scores* out);

// Finds the rotation and translation that best superimpose the probe's block
// field on the reference's, scores the agreement over the overlap (u16,
// normalised by the records' qualities unless ZR_SPECTRAL_RAW_SCORE) and
// optionally gives the decision at the FAR level (1 accept, 2 reject, 0 at
// level 0), the sixteen features (into out_score as the feature array) and
// the pose. All work happens in the caller's buffer; nothing is allocated.
// ZR_UNHANDLED_INPUT for an invalid record, a level above 12, a grid or
// canvas beyond 119 x 255 cells or a work buffer below
// zr_spectral_match_required_mem. Empty grids and pairs that cannot reach the
// required overlap are no failure (ZR_OK, score 0).
[[nodiscard]] zr_status zr_spectral_match(uint8_t* work, uint16_t work_size, const uint8_t* probe,
                                          uint32_t probe_length, const uint8_t* reference,
                                          uint32_t reference_length, uint32_t far_level,
                                          uint16_t* out_score, uint32_t* out_decision,
                                          zr_spectral_alignment* alignment, uint32_t flags);

// Decision at FAR level 1..12: 1 when the level's threshold (360-mode table
// with flag 4) is below the score, else 2. ZR_UNHANDLED_INPUT without output or
// for another level.
[[nodiscard]] zr_status zr_spectral_decision(uint16_t score, int32_t far_level,
                                             uint32_t* out_decision, uint32_t flags);

// Verifier operations (descriptor slots 1, 2 and 3).
[[nodiscard]] zr_status zr_spectral_extract_feature_scores(zr_session* session,
                                                           zr_template* probe,
                                                           zr_template* reference,
                                                           uint16_t** out_scores,
                                                           uint16_t* out_count,
                                                           zr_alignment** inout_alignment);
[[nodiscard]] zr_status zr_spectral_verify_feature_scores(zr_session* session,
                                                          zr_template* enrolled,
                                                          zr_template* probe,
                                                          const uint16_t* scores, uint16_t count,
                                                          const zr_vermodel* model,
                                                          uint16_t* out_score);

extern const zr_verifier_descriptor spectral_verifier;
