// Compact cards of the real captures for the linked-cluster tests and
// benchmarks, built by the match-on-card template recipe (at most 64
// minutiae, best quality first, with the proprietary part).
#pragma once

#include <cstdint>

#include "extract/bal_extract_template.h"
#include "fp_test_data.h"
#include "lc_test_cards.h"
#include "match/linked_cluster/lc_matcher.h"

namespace lc_test {

// The card of one capture; empty when template building fails.
inline bytes capture_card(const fp_test::GreyImage& image) {
    uint8_t* card = nullptr;
    uint32_t length = 0;
    if (BAL_EXTRACT_TEMPLATE_MOC(image.pixels.data(), uint16_t(image.rows), uint16_t(image.cols), &card,
                                 &length) != BAL_OK) {
        return {};
    }
    bytes out(card, card + length);
    (void)bal_free_template(card);
    return out;
}

// Minutiae the matcher takes from a card (0 for a card it refuses).
inline uint32_t card_minutia_count(const bytes& card) {
    uint8_t scratch[LC_PRUNE_SCRATCH_SIZE];
    lc_minutia minutiae[LC_MAX_MINUTIAE];
    uint8_t count = 0, proprietary = 0;
    if (lc_prune(card.data(), uint32_t(card.size()), LC_MAX_MINUTIAE, scratch, minutiae, &count, &proprietary) != ZR_OK) {
        return 0;
    }
    return count;
}

}  // namespace lc_test
