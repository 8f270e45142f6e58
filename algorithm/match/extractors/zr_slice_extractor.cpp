#include "match/extractors/zr_slice_extractor.h"

#include "extract/slice_extract.h"

namespace {

// The slice extractor's geometry queries always succeed; the descriptor's
// slot has no result, so the status is dropped here.
void slice_pref_idim(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                     uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                     uint16_t* out_cols) {
    (void)slice_extract_pref_idim(session, vertical_dpi, horizontal_dpi, rows, cols, out_vertical_dpi,
                                  out_horizontal_dpi, out_rows, out_cols);
}

void slice_pref_idim_speed(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                           uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                           uint16_t* out_rows, uint16_t* out_cols) {
    (void)slice_extract_pref_idim_speed(session, vertical_dpi, horizontal_dpi, rows, cols, out_vertical_dpi,
                                        out_horizontal_dpi, out_rows, out_cols);
}

void slice_pref_idim_speedmem(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                              uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                              uint16_t* out_rows, uint16_t* out_cols) {
    (void)slice_extract_pref_idim_speedmem(session, vertical_dpi, horizontal_dpi, rows, cols, out_vertical_dpi,
                                           out_horizontal_dpi, out_rows, out_cols);
}

}  // namespace

const zr_extractor_descriptor slice_extractor = {slice_extract_template, slice_pref_idim};
const zr_extractor_descriptor slice_speed_extractor = {slice_extract_template_speed, slice_pref_idim_speed};
const zr_extractor_descriptor slice_speedmem_extractor = {slice_extract_template_speedmem,
                                                          slice_pref_idim_speedmem};
