// The slice extractor: a tall image cut into overlapping horizontal strips,
// each extracted on its own, their minutiae and block fields stitched into
// one template; and the image geometry it prefers.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

struct zr_session;
struct zr_image;
struct zr_finger;
struct zr_template;

// Extracts a template of the given type from a tall image strip by strip.
//
// The image (equal vertical and horizontal resolution r) is brought to the
// working resolution d (r, r / 2 or 2r when within 8 dpi of 500, else 500;
// with BAL_EXTRACT_250DPI the same around 250 within 4 dpi) and cut into
// overlapping strips of the table row that the session's slice rows choose.
// Each strip goes through template building into the raw container with the
// session's minutiae order and maximum (per strip) and the extraction flags
// (plus both block fields for types 67 and 73). Minutiae in the overlap of
// two strips that lie within 5 pixels and 32 angle steps of one another are
// averaged (halved sums; the angle on the circle); the merged list holds at
// most 255. The block fields are stitched from block row 2 of every strip
// after the first. The finger quality is the rounded mean of the non-zero
// strip qualities (0 when there is none).
//
// Template types: 1 and 4 (ISO/IEC 19794-2 2011 and 2005, created as 1), 3
// and 6 (ANSI 378 version 3 and 2, created as 3), 2 and 5 (compact card 2011
// and 2005 with proprietary data, at most 128 minutiae, created as 2), 67
// (fusion EHM on a 2011 card) and 73 (EHM on a 2005 card), both created as 67.
//
// Returns ZR_OK with the new template in *out_template; ZR_BAD_ARGUMENT for
// a missing image or output, or an image too small (below 24 working rows at
// 500 dpi) or too large (coordinates past 16 bits); ZR_UNHANDLED_INPUT for a
// resolution of 0 or unequal resolutions; ZR_NO_MEMORY; template building's
// code mapped by zr_rc_convert_from_zri; ZR_FAILURE when the strips' block
// fields disagree or do not fit; 13 for another template type; or a format
// writer's code. On failure *out_template is null and nothing is left
// allocated.
[[nodiscard]] zr_status slice_extract_template_ext(zr_session* session, zr_image* image, zr_finger* finger,
                                                   uint32_t template_type, zr_template** out_template,
                                                   uint16_t flags);
// slice_extract_template_ext with the flags 0, BAL_EXTRACT_HALF_FREQUENCY and
// BAL_EXTRACT_250DPI.
[[nodiscard]] zr_status slice_extract_template(zr_session* session, zr_image* image, zr_finger* finger,
                                               uint32_t template_type, zr_template** out_template);
[[nodiscard]] zr_status slice_extract_template_speed(zr_session* session, zr_image* image, zr_finger* finger,
                                                     uint32_t template_type, zr_template** out_template);
[[nodiscard]] zr_status slice_extract_template_speedmem(zr_session* session, zr_image* image,
                                                        zr_finger* finger, uint32_t template_type,
                                                        zr_template** out_template);

// The geometry the slice extractors work at for an image of rows x cols at
// the vertical and horizontal resolutions: d = r when within the tolerance of
// the target; else r / 2, else 2r, when that is; else the target. Outputs
// d, d, rows x d / r and cols x d / horizontal (truncating, limited to
// 65535). A resolution of 0 outputs the input geometry unchanged. Targets:
// 500 dpi (tolerance 8) for the plain and speed forms, 250 dpi (tolerance 4)
// for the speedmem form. The session is not read. Always ZR_OK.
[[nodiscard]] zr_status slice_extract_pref_idim(zr_session* session, uint16_t vertical_dpi,
                                                uint16_t horizontal_dpi, uint16_t rows, uint16_t cols,
                                                uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                                                uint16_t* out_rows, uint16_t* out_cols);
[[nodiscard]] zr_status slice_extract_pref_idim_speed(zr_session* session, uint16_t vertical_dpi,
                                                      uint16_t horizontal_dpi, uint16_t rows, uint16_t cols,
                                                      uint16_t* out_vertical_dpi,
                                                      uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                                                      uint16_t* out_cols);
[[nodiscard]] zr_status slice_extract_pref_idim_speedmem(zr_session* session, uint16_t vertical_dpi,
                                                         uint16_t horizontal_dpi, uint16_t rows,
                                                         uint16_t cols, uint16_t* out_vertical_dpi,
                                                         uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                                                         uint16_t* out_cols);
