// The embedded extractor: the extractor descriptors whose extract operation
// builds a template from an image with bal_extract_template_mask at the
// working resolution, and the image geometry it prefers.
//
// Geometry (all roundings add half the divisor, then divide, in 64 bits):
//   R = round(D rows / r), C = round(D cols / r)
//   the smaller of R and C (both when equal) rounded up to a multiple of the
//   block size, the other recomputed to keep the aspect ratio
//   (C = round(cols R / rows) or R = round(rows C / cols)),
//   r_v = round(r R / rows), r_h = round(r C / cols).
// D is "zr.extractor.dpi" (default 500), halved on the 250-dpi path
// (block 6, tolerance 4; else block 12, tolerance 8).
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "match/chain/zr_algorithm_chain.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

inline constexpr int32_t ZR_EXTRACTOR_DEFAULT_DPI = 500;

// Working geometry of an image for the extractor.
struct zr_extract_geometry {
    int64_t rows;            // R
    int64_t cols;            // C
    int64_t vertical_dpi;    // r_v
    int64_t horizontal_dpi;  // r_h
};

// The geometry for an image of rows x cols at resolution vertical_dpi
// (rows) and horizontal_dpi (columns) with working resolution dpi and block
// size block. False (outputs untouched) when rows, cols, a resolution or the
// block size is 0 or the working resolution is not positive.
bool zr_extract_geometry_compute(int64_t dpi, int64_t block, uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                                 uint16_t horizontal_dpi, zr_extract_geometry* out);

// Common body of the embedded extract operations (session, image, finger or
// none, template type, out template, extraction flags, callbacks).
// *out_template is none on every failure and when the builder gives no
// buffer. ZR_BAD_ARGUMENT for a missing image or output, or an image with 0
// rows, columns or vertical resolution; ZR_UNHANDLED_INPUT for a template
// type the table lacks; ZR_NO_MEMORY when the rescale or the template fails;
// the valid-pixel map's failure; else the builder's result converted.
[[nodiscard]] zr_status embedded_extract_template_ext(zr_session* session, zr_image* image, zr_finger* finger,
                                                      uint32_t template_type, zr_template** out_template,
                                                      uint32_t extraction_flags, bal_feature_callback ridge_callback,
                                                      bal_feature_callback second_callback);

[[nodiscard]] zr_status embedded_extract_template(zr_session* session, zr_image* image, zr_finger* finger,
                                                  uint32_t template_type, zr_template** out_template);
[[nodiscard]] zr_status embedded_extract_template_speed(zr_session* session, zr_image* image, zr_finger* finger,
                                                        uint32_t template_type, zr_template** out_template);
[[nodiscard]] zr_status embedded_extract_template_speedmem(zr_session* session, zr_image* image,
                                                           zr_finger* finger, uint32_t template_type,
                                                           zr_template** out_template);
[[nodiscard]] zr_status embedded_av_extract_template(zr_session* session, zr_image* image, zr_finger* finger,
                                                     uint32_t template_type, zr_template** out_template);
[[nodiscard]] zr_status embedded_av_extract_template_speed(zr_session* session, zr_image* image,
                                                           zr_finger* finger, uint32_t template_type,
                                                           zr_template** out_template);
[[nodiscard]] zr_status embedded_av_extract_template_speedmem(zr_session* session, zr_image* image,
                                                              zr_finger* finger, uint32_t template_type,
                                                              zr_template** out_template);

// Preferred geometry: the outs are the inputs when both resolutions lie
// within 8 dpi (4 on the 250-dpi path) of the working resolution, when both
// computed resolutions lie that close to the inputs, or when rows, columns or
// a resolution is 0; else (r_v, r_h, R, C), each kept to 16 bits.
void embedded_pref_idim(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                        uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                        uint16_t* out_cols);
void embedded_pref_idim_speed(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                              uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                              uint16_t* out_rows, uint16_t* out_cols);
void embedded_pref_idim_speedmem(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                 uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                 uint16_t* out_horizontal_dpi, uint16_t* out_rows, uint16_t* out_cols);

extern const zr_extractor_descriptor embedded_extractor;
extern const zr_extractor_descriptor embedded_speed_extractor;
extern const zr_extractor_descriptor embedded_speedmem_extractor;
