// Status codes of the object and algorithm layers, the translation of the
// image library's codes into them, and the persistent-memory writer.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Object-layer status codes (u32, 0 is success).
enum zr_status : uint32_t {
    ZR_OK = 0,
    ZR_UNHANDLED_INPUT = 1,     // input of a kind the operation does not handle
    ZR_BAD_ARGUMENT = 2,        // missing object or out-parameter, value out of range
    ZR_WRONG_TYPE = 3,          // wrong type or state
    ZR_BAD_FORMAT = 4,          // record version or size not one of those defined
    ZR_BAD_DATA = 5,            // bad size or data
    ZR_NOT_FOUND = 6,           // not found
    ZR_IMAGE_LIB_CODE_2 = 7,    // passed on from the image library (its code 2)
    ZR_IMAGE_LIB_CODE_16 = 8,   // passed on from the image library (its code 16)
    ZR_NO_MEMORY = 9,           // out of memory
    ZR_IMAGE_LIB_CODE_6 = 13,   // passed on from the image library (its code 6)
    ZR_NOT_ALLOWED = 14,        // operation not allowed on this object
    ZR_FAILURE = 17,            // general failure
    ZR_NO_MODEL_OPERATION = 18, // a verification model lacks its compute operation
    ZR_ENROLL_COMPLETE = 19,    // enrolment complete
    ZR_PART_MISSING = 21,       // a part that the operation needs is missing
    // Match-on-card.
    ZR_MOC_BAD_LEVEL = 14,            // FAR level outside 1..12, or no place for the decision
    ZR_MOC_WORK_AREA_TOO_SMALL = 25,  // the caller's work area is too small
    ZR_MOC_STORE_TOO_SMALL = 26,      // the reference store is too small
    ZR_MOC_WRITE_FAILED = 27,         // the store writer refused a write
    ZR_MOC_BAD_STORE = 28,            // the reference store is inconsistent
};

// Object-layer code for an image-library code; codes above 34 give
// ZR_FAILURE. The one conversion between the two families: an object-layer
// code passed in does not compile.
[[nodiscard]] zr_status zr_rc_convert_from_zri(uint32_t code);
[[nodiscard]] inline zr_status zr_rc_convert_from_zri(bal_status code) {
    return zr_rc_convert_from_zri(static_cast<uint32_t>(code));
}
zr_status zr_rc_convert_from_zri(zr_status code) = delete;

// Size of the caller's persistent-memory buffer.
constexpr uint32_t ZR_PERSISTENT_MEM_SIZE = 2370;

// Copies length bytes from source into the persistent-memory buffer at offset;
// 1 (nothing copied) when offset + length exceeds the buffer or a buffer is
// missing, else 0.
uint32_t write_persistent_mem(uint8_t* buffer, uint16_t offset, const uint8_t* source,
                              uint16_t length);
