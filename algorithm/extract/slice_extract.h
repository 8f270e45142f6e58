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
                                                      uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                                                      uint16_t* out_rows, uint16_t* out_cols);
[[nodiscard]] zr_status slice_extract_pref_idim_speedmem(zr_session* session, uint16_t vertical_dpi,
                                                         uint16_t horizontal_dpi, uint16_t rows, uint16_t cols,
                                                         uint16_t* out_vertical_dpi,
                                                         uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                                                         uint16_t* out_cols);
