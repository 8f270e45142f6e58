// Internal entry of the Fourier search with a trace of what it did, for the
// tests; zr_spectral_match is this with no trace.
#pragma once

#include <cstdint>

#include "match/fourier/zr_fourier.h"

struct spectral_search_trace {
    uint32_t correlations;                // xcorr_features calls
    bool stopped_in_rotation_refinement;  // the threshold ended the first refinement
    bool used_fine_grids;
    int32_t best_angle;  // final pose: angle (512 a turn), cells, 1/32 cell
    int32_t best_dx;
    int32_t best_dy;
    int32_t best_sub_x;
    int32_t best_sub_y;
    uint32_t best_score;  // raw best score
};

// As zr_spectral_match; trace may be none.
[[nodiscard]] zr_status spectral_match_traced(uint8_t* work, uint16_t work_size,
                                              const uint8_t* probe, uint32_t probe_length,
                                              const uint8_t* reference, uint32_t reference_length,
                                              uint32_t far_level, uint16_t* out_score,
                                              uint32_t* out_decision,
                                              zr_spectral_alignment* alignment, uint32_t flags,
                                              spectral_search_trace* trace);

// Block factor of the fine-grid stage from the reference's block size.
uint32_t spectral_fine_block_factor(uint32_t block_size, uint32_t probe_resolution);
