#include "objects/zr_result.h"

#include <cstring>

namespace {

constexpr uint32_t kZriToZr[35] = {
    0,  4,  7,  17, 3,  3,  13, 17, 17, 9,  17, 17, 5,  1,  2,  14, 8,  17,
    17, 17, 17, 17, 17, 17, 17, 4,  4,  17, 17, 17, 17, 17, 17, 17, 21,
};

}  // namespace

zr_status zr_rc_convert_from_zri(uint32_t code) {
    if (code >= sizeof(kZriToZr) / sizeof(kZriToZr[0])) return ZR_FAILURE;
    return static_cast<zr_status>(kZriToZr[code]);
}

uint32_t write_persistent_mem(uint8_t* buffer, uint16_t offset, const uint8_t* source,
                              uint16_t length) {
    if (uint32_t(offset) + length > ZR_PERSISTENT_MEM_SIZE) return 1;
    if (length == 0) return 0;
    if (buffer == nullptr || source == nullptr) return 1;
    std::memcpy(buffer + offset, source, length);
    return 0;
}
