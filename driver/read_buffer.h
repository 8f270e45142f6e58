// The capture's read buffer. Its allocation is a function of its own, in its
// own object, so that a test build can link a replacement that fails on
// demand while the driver module keeps only this one.
#pragma once

#include "winbio_types.h"

namespace fpusbdrv {

// A zero-filled buffer of one frame (kImageBytes), freed with delete[]; null
// when memory is short.
BYTE* allocate_read_buffer();

}  // namespace fpusbdrv
