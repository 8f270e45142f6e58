// Internal stage table of the liveness scoring pipeline (not exported): the
// two image stages between the size checks and the network run. The
// pipeline calls them through this table so that tests can install their own.
//
// A stage reports failure only through the calling thread's liveness error
// word (nex_error); the pipeline checks the word after each stage. A missing
// stage is skipped: the mask then stays the grey work copy and the features
// stay 0.
#pragma once

#include <cstdint>

struct zr_pad_stages {
    // Turns the work copy (rows x cols grey bytes) into the liveness mask in
    // place. The three block maps hold at least block_rows x block_cols
    // bytes each (block grid of 16 x 16 pixels); their content on entry does
    // not matter. dpi is the processing resolution.
    void (*maskgen)(uint8_t* work, int32_t rows, int32_t cols, uint8_t* orientation_map,
                    uint8_t* region_period_map, uint8_t* coherence_map, int32_t block_rows,
                    int32_t block_cols, int32_t dpi);
    // Writes the 190 features of the grey image under the mask into the
    // record (zeroed by the stage itself); may clear mask bits as it walks.
    void (*features_extract)(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols,
                             int32_t* record);
};

// The library's own stages.
extern const zr_pad_stages zr_pad_default_stages;

// The stages the pipeline runs now.
[[nodiscard]] const zr_pad_stages* zr_pad_get_stages();
// Test seam: installs stages (none: the library's own) for every later
// scoring call and returns the previous table. Not synchronised with
// scoring calls running at the same time.
const zr_pad_stages* zr_pad_set_stages(const zr_pad_stages* stages);
