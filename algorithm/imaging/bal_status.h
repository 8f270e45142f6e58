// Status codes of the image library and of extraction.
#pragma once

#include <cstdint>

// Status codes of the image library and of extraction (u32, 0 is success).
// The object layer has its own codes (zr_status, objects/zr_result.h) whose
// numbers mean other things; zr_rc_convert_from_zri translates.
enum bal_status : uint32_t {
    BAL_OK = 0,
    BAL_FFT_WORK_TOO_SMALL = 1,  // the caller's FFT work area is too small
    BAL_BAD_FORMAT = 4,          // template building: a format writer refused a record
    BAL_BAD_DATA = 5,            // template building: a format writer refused the data
    BAL_DUMMY_IMAGE = 5,         // template building: the image was the dummy test image
    BAL_NO_MEMORY = 9,           // a scratch buffer could not be allocated
    BAL_UNSUPPORTED = 13,        // unsupported size or conflicting flags
    BAL_BAD_ARGUMENT = 14,       // bad sizes, null or missing output
    BAL_BUFFER_FULL = 17,        // the memory write buffer is full
    BAL_TOO_FEW_MINUTIAE = 24,   // fewer minutiae than the caller's minimum
};
