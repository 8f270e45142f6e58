// The sample check: what a biometric information record must hold before the
// engine copies its standard data block.
#pragma once

#include <cstddef>

#include "wbio_engine_types.h"

// S_OK when `sample` (of `sample_size` bytes) has a block table, a header of
// at least 48 bytes and a 16896-byte standard data block, all inside the
// sample, and the header names the sensor's standard format; else E_INVALIDARG.
HRESULT validate_sample_record(const WINBIO_BIR* sample, size_t sample_size);
