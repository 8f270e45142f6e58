// Minutiae extraction: one 8-bit grey image into the filled extraction
// container (minutiae, cores and deltas, quality, area and centre, and the
// optional fields the container asks for).
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/bal_template_container.h"
#include "imaging/bal_status.h"

// Extracts the minutiae of a rows x cols image (500 dpi, or 250 dpi with
// BAL_EXTRACT_250DPI) into the container. Before the call the container
// holds the flags, the maximum minutiae, the order byte, finger position,
// impression type, device identifier and the enable bits of the optional
// features; on success the minutiae structure holds the minutiae in input
// coordinates sorted by the order byte.
//
// valid_mask (rows x cols, may be null): minutiae are kept only where it is
// 128 or more. With BAL_EXTRACT_FEATURE_CALLBACKS the two callbacks (either
// may be null) run after detection; a failing first callback ends the
// extraction with its status, and the second callback's status becomes the
// result.
//
// With BAL_EXTRACT_TAKE_PIXELS the pixel buffer (from malloc) belongs to the
// extraction, which frees it exactly once however it ends; otherwise it is
// only read (never written).
//
// Returns BAL_OK; BAL_BAD_ARGUMENT for a null container or image, or a side
// of 0 or above 32767 (16383 at 250 dpi: coordinates are 16-bit);
// BAL_UNSUPPORTED for BAL_EXTRACT_HALF_FREQUENCY together with
// BAL_EXTRACT_250DPI; BAL_NO_MEMORY (also for a failed segmentation); or the
// status of a failing image-library step. On failure the minutiae list is not
// valid and the container's optional arrays are left for
// zr_template_container_free.
[[nodiscard]] bal_status bal_extract(uint8_t* pixels, const uint8_t* valid_mask, uint32_t rows,
                                     uint32_t cols, zr_template_container* container,
                                     bal_feature_callback callback1,
                                     bal_feature_callback callback2);

// Test seam: when an observer is set, extraction hands it each intermediate
// result as it is made (a stage name such as "normalised", "orientation",
// "enhanced" or "ridge_thinned", and the bytes). Null by default, when the
// only cost is one test per stage. Process-wide and not synchronised: set it
// only while no other extraction runs.
using bal_extract_observer_fn = void (*)(void* context, const char* stage, const uint8_t* data,
                                         size_t bytes);
void bal_extract_set_observer(bal_extract_observer_fn observer, void* context);
