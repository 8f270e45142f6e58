// Extractor descriptors over the slice extractor: the image is cut into
// strips that are extracted one by one and stitched, for swipe sensors and
// tall images. The plain, speed and speedmem forms differ only in the flags
// the slice extractor passes to template building.
#pragma once

#include "match/chain/zr_algorithm_chain.h"

extern const zr_extractor_descriptor slice_extractor;
extern const zr_extractor_descriptor slice_speed_extractor;
extern const zr_extractor_descriptor slice_speedmem_extractor;
