// Small builders shared by the minutiae-record tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/bal_template_container.h"

namespace iso_test {

using bytes = std::vector<uint8_t>;

// A structure at 197 px/cm with `count` distinct minutiae inside 300 x 400.
inline minutiastruct sample_minutiae(uint32_t count, uint32_t seed = 1) {
    minutiastruct s{};
    s.rows = 400;
    s.cols = 300;
    s.resolution = ZR_EXTRACT_RESOLUTION_PPCM;
    s.device_id = ZR_EXTRACT_DEVICE_ID;
    s.finger_position = 3;
    s.impression_type = 0x21;
    s.quality = 77;
    for (uint32_t i = 0; i < count; ++i) {
        minutia& m = s.minutiae[i];
        m.col = int16_t((i * 37 + seed * 11) % 300);
        m.row = int16_t((i * 53 + seed * 7) % 400);
        m.angle = uint8_t(i * 29 + seed);
        m.type = (i % 3 == 0) ? ZR_MINUTIA_BIFURCATION : ZR_MINUTIA_ENDING;
        m.quality = uint8_t((i * 13) % 101);
        m.ridge_period = uint8_t(i % 16);
    }
    s.count = uint8_t(count);
    return s;
}

// Takes ownership of a malloc'ed buffer of `size` bytes.
inline bytes take(uint8_t* data, uint32_t size) {
    bytes out(data, data + size);
    std::free(data);
    return out;
}

inline uint32_t be32(const bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
inline uint16_t be16(const bytes& b, size_t at) { return uint16_t(b[at] << 8 | b[at + 1]); }
inline void put_be16(bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
inline void put_be32(bytes& b, size_t at, uint32_t v) {
    put_be16(b, at, uint16_t(v >> 16));
    put_be16(b, at + 2, uint16_t(v));
}

}  // namespace iso_test
