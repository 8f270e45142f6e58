// Compact cards from the real captures, for the linked-cluster tests and
// benchmarks: extraction as the match-on-card recipe runs it (at most 64
// minutiae, quality descending), then the minutiae written as a card with
// per-minutia proprietary bytes.
// TEST-ONLY STAND-IN for the compact-card writer, which is built elsewhere:
// the pixel to 0.1 mm conversion and the byte layout follow that format, with
// no window shift (176 x 96 images never need one). Replace with the writer
// once it lands.
#pragma once

#include <cstdint>
#include <vector>

#include "extract/bal_extract.h"
#include "fp_test_data.h"
#include "lc_test_cards.h"

namespace lc_test {

constexpr uint8_t kCaptureMaxMinutiae = 64;
constexpr uint8_t kCaptureOrder = 0x15;  // quality, descending

// The card of one 176 x 96 capture; empty when extraction fails.
inline bytes capture_card(const fp_test::GreyImage& image) {
    zr_template_container* c = zr_template_container_alloc();
    if (c == nullptr) return {};
    c->minutiae.max_minutiae = kCaptureMaxMinutiae;
    c->minutiae.order = kCaptureOrder;
    std::vector<uint8_t> pixels = image.pixels;
    const bal_status status = bal_extract(pixels.data(), nullptr, image.rows, image.cols, c, nullptr, nullptr);
    bytes minutiae, proprietary = {0x98, 0xEC, 0x15, 0xE1};
    const uint32_t count = status == BAL_OK ? c->minutiae.count : 0;
    for (uint32_t i = 0; i < count; ++i) {
        const minutia& m = c->minutiae.minutiae[i];
        const uint32_t angle = (uint32_t(m.angle) + 2) >> 2;
        minutiae.push_back(uint8_t((int32_t(m.col) * 800 / 197 + 4) / 8));
        minutiae.push_back(uint8_t((int32_t(m.row) * 800 / 197 + 4) / 8));
        minutiae.push_back(uint8_t((m.type == 2 ? 0x80 : 0x40) | (angle < 64 ? angle : 0)));
        const uint32_t quality = uint32_t(m.quality) * 16 / 100;
        proprietary.push_back(uint8_t((quality > 15 ? 15 : quality) << 4 | (m.ridge_period & 0x0F)));
    }
    zr_template_container_free(c);
    if (status != BAL_OK) return {};
    return element({0x7F, 0x2E}, concat(element({0xA1}, element({0x90}, minutiae)), element({0x82}, proprietary)));
}

}  // namespace lc_test
