// Card reading and pruning of the linked-cluster matcher.
#include <cstring>

#include "extract/bal_dummy_template.h"
#include "match/linked_cluster/lc_math.h"
#include "match/linked_cluster/lc_matcher.h"
#include "objects/tlv_codec.h"

namespace {

constexpr uint16_t kTagCard = 0x7F2E;
constexpr uint16_t kTagCardBody = 0xA1;
constexpr uint16_t kTagFusionBody = 0xA2;
constexpr uint16_t kTagMinutiae2011 = 0x81;
constexpr uint16_t kTagMinutiae2005 = 0x90;
constexpr uint16_t kTagProprietary = 0x82;
constexpr uint8_t kProprietaryMagic[4] = {0x98, 0xEC, 0x15, 0xE1};
constexpr uint32_t kProprietaryHeader = 4;
constexpr uint32_t kCardMinutiaSize = 3;
constexpr uint8_t kCardAngleMask = 0x3F;

// Pruning window: half width around the x centre, y range below its top.
constexpr int32_t kWindowHalfWidth = 75;
constexpr int32_t kWindowLowestCentre = 74;    // centres up to this use 0 as lower bound
constexpr int32_t kWindowHighestCentre = 180;  // centres above this use 255 as upper bound
constexpr int32_t kWindowHeight = 180;

// Pair finding: neighbourhood and the two partner kinds.
constexpr int32_t kPairReach = 20;
constexpr uint32_t kPairMaxD2 = 400;
constexpr uint32_t kOppositeMinDifference = 115;  // directions differ by more than 114
constexpr int32_t kFacingMaxError2 = 25;
constexpr uint32_t kTwinMaxDifference = 13;
constexpr uint32_t kTwinMaxD2 = 63;
constexpr uint8_t kTwinPenalty = 20;

bool find_path(const uint8_t* card, uint32_t length, const uint16_t* path, uint32_t depth, tlv_element* out) {
    return tlv_find_nested_tag(card, length, path, depth, out) == 1;
}

// The minutiae part, looked up in the order the matcher prefers.
bool find_minutiae_part(const uint8_t* card, uint32_t length, tlv_element* out) {
    static constexpr uint16_t kPaths[4][3] = {{kTagCard, kTagMinutiae2011, 0},
                                              {kTagCard, kTagCardBody, kTagMinutiae2011},
                                              {kTagCard, kTagMinutiae2005, 0},
                                              {kTagCard, kTagCardBody, kTagMinutiae2005}};
    static constexpr uint32_t kDepths[4] = {2, 3, 2, 3};
    for (uint32_t p = 0; p < 4; ++p) {
        if (find_path(card, length, kPaths[p], kDepths[p], out)) return true;
    }
    return false;
}

bool find_proprietary_part(const uint8_t* card, uint32_t length, tlv_element* out) {
    static constexpr uint16_t kDirect[2] = {kTagCard, kTagProprietary};
    static constexpr uint16_t kFused[3] = {kTagCard, kTagFusionBody, kTagProprietary};
    return find_path(card, length, kDirect, 2, out) || find_path(card, length, kFused, 3, out);
}

void sort_bytes_ascending(uint8_t* values, uint32_t count) {
    for (uint32_t i = 1; i < count; ++i) {
        const uint8_t v = values[i];
        uint32_t j = i;
        for (; j > 0 && values[j - 1] > v; --j) values[j] = values[j - 1];
        values[j] = v;
    }
}

// Removes, for each minutia in order, the first later one at the same place.
uint32_t remove_duplicates(lc_minutia* minutiae, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t j = i + 1; j < count; ++j) {
            if (minutiae[j].x == minutiae[i].x && minutiae[j].y == minutiae[i].y) {
                std::memmove(&minutiae[j], &minutiae[j + 1], (count - j - 1) * sizeof(lc_minutia));
                --count;
                break;
            }
        }
    }
    return count;
}

struct window_bounds {
    int32_t x_low;
    int32_t x_high;
    int32_t y_top;  // INT32_MAX when there is no y limit
};

window_bounds pruning_window(const lc_minutia* minutiae, uint32_t count, uint8_t* sort_buffer) {
    window_bounds w{};
    for (uint32_t i = 0; i < count; ++i) sort_buffer[i] = minutiae[i].x;
    sort_bytes_ascending(sort_buffer, count);
    const uint32_t q = count / 16;
    const int32_t centre = (int32_t(sort_buffer[q]) + sort_buffer[count - 1 - q]) / 2;
    w.x_low = centre <= kWindowLowestCentre ? 0 : centre - kWindowHalfWidth;
    w.x_high = centre > kWindowHighestCentre ? 255 : centre + kWindowHalfWidth;

    // The y values that lie within the same bounds give the top limit.
    uint32_t collected = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t y = minutiae[i].y;
        if (y >= w.x_low && y <= w.x_high) sort_buffer[collected++] = uint8_t(y);
    }
    sort_bytes_ascending(sort_buffer, collected);
    const uint32_t position = count / 32;
    if (collected == 0) {
        w.y_top = INT32_MAX;
    } else {
        // Too few collected: the last collected value stands in.
        const uint32_t at = position < collected ? position : collected - 1;
        w.y_top = int32_t(sort_buffer[at]) + kWindowHeight;
    }
    return w;
}

uint32_t keep_window(lc_minutia* minutiae, uint32_t count, const window_bounds& w) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const lc_minutia m = minutiae[i];
        if (m.x >= w.x_low && m.x <= w.x_high && m.y <= w.y_top) minutiae[kept++] = m;
    }
    return kept;
}

// Minutiae without a partner first (original order), then those with one by
// descending pair value (stable), so the closest partners come last.
void order_by_partner(lc_minutia* minutiae, uint8_t* pair_values, uint32_t count) {
    uint32_t next = 0;
    while (next < count && pair_values[next] == LC_NONE) ++next;
    for (uint32_t t = next; t < count; ++t) {
        if (pair_values[t] != LC_NONE) continue;
        const lc_minutia m = minutiae[t];
        minutiae[t] = minutiae[next];
        minutiae[next] = m;
        pair_values[t] = pair_values[next];
        pair_values[next] = LC_NONE;
        ++next;
    }
    for (uint32_t i = next + 1; i < count; ++i) {
        const lc_minutia m = minutiae[i];
        const uint8_t v = pair_values[i];
        uint32_t j = i;
        for (; j > next && pair_values[j - 1] < v; --j) {
            minutiae[j] = minutiae[j - 1];
            pair_values[j] = pair_values[j - 1];
        }
        minutiae[j] = m;
        pair_values[j] = v;
    }
}

void lower_to(uint8_t* value, uint8_t candidate) {
    if (candidate < *value) *value = candidate;
}

}  // namespace

zr_status lc_prune(const uint8_t* card, uint32_t card_length, uint32_t maximum, uint8_t* scratch,
                   lc_minutia* out_minutiae, uint8_t* out_count, uint8_t* out_proprietary) {
    if (scratch == nullptr || out_minutiae == nullptr || out_count == nullptr || out_proprietary == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    tlv_element part{};
    if (card == nullptr || !find_minutiae_part(card, card_length, &part)) return ZR_BAD_FORMAT;
    const uint32_t card_count = part.length / kCardMinutiaSize;

    const uint8_t* qualities = nullptr;
    tlv_element proprietary{};
    if (find_proprietary_part(card, card_length, &proprietary) && proprietary.length > 3 &&
        std::memcmp(proprietary.value, kProprietaryMagic, sizeof kProprietaryMagic) == 0) {
        if (proprietary.length != card_count + kProprietaryHeader) return ZR_BAD_FORMAT;
        qualities = proprietary.value + kProprietaryHeader;
    }

    lc_minutia* minutiae = reinterpret_cast<lc_minutia*>(scratch);
    uint8_t* sort_buffer = scratch + LC_MAX_CARD_MINUTIAE * sizeof(lc_minutia);
    uint8_t* pair_values = sort_buffer + LC_MAX_CARD_MINUTIAE;
    uint32_t count = card_count < LC_MAX_CARD_MINUTIAE ? card_count : LC_MAX_CARD_MINUTIAE;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* c = part.value + kCardMinutiaSize * i;
        minutiae[i] = {c[0], c[1], uint8_t((c[2] & kCardAngleMask) * 4),
                       qualities != nullptr ? qualities[i] : LC_QUALITY_NONE};
    }

    if (maximum > LC_MAX_MINUTIAE) maximum = LC_MAX_MINUTIAE;
    if (count > maximum) count = remove_duplicates(minutiae, count);
    if (count > maximum) {
        count = keep_window(minutiae, count, pruning_window(minutiae, count, sort_buffer));
        lc_find_minutiae_pairs(minutiae, count, pair_values);
        order_by_partner(minutiae, pair_values, count);
    }
    if (count > maximum) count = maximum;
    std::memcpy(out_minutiae, minutiae, count * sizeof(lc_minutia));
    *out_count = uint8_t(count);
    *out_proprietary = qualities != nullptr ? 1 : 0;
    return ZR_OK;
}

void lc_find_minutiae_pairs(const lc_minutia* minutiae, uint32_t count, uint8_t* out_pair_values) {
    std::memset(out_pair_values, LC_NONE, count);
    for (uint32_t a = 0; a < count; ++a) {
        const lc_minutia& ma = minutiae[a];
        for (uint32_t b = a + 1; b < count; ++b) {
            const lc_minutia& mb = minutiae[b];
            const int32_t dx = int32_t(ma.x) - mb.x;
            const int32_t dy = int32_t(ma.y) - mb.y;
            if (dx > kPairReach || dx < -kPairReach || dy > kPairReach || dy < -kPairReach) continue;
            const uint32_t d2 = uint32_t(dx * dx + dy * dy);
            if (d2 >= kPairMaxD2) continue;
            const uint32_t difference = lc_angle_difference(ma.angle, mb.angle);
            if (difference >= kOppositeMinDifference) {
                // Nearly opposite: partners when they face each other along the line joining them.
                const uint8_t mean = lc_angle_average(ma.angle, uint8_t(mb.angle - 128));
                const int32_t d = int32_t(lc_sqrt16_(uint16_t(d2)));
                const int32_t ex = dx + ((lc_cos_(mean) * d) >> 14);
                const int32_t ey = int32_t(ma.y) - ((d * lc_sin_(mean)) >> 14) - mb.y;
                if (ex * ex + ey * ey < kFacingMaxError2) {
                    lower_to(&out_pair_values[a], uint8_t(d));
                    lower_to(&out_pair_values[b], uint8_t(d));
                }
            } else if (difference <= kTwinMaxDifference && d2 <= kTwinMaxD2) {
                const uint8_t value = uint8_t(lc_sqrt16_(uint16_t(d2)) + kTwinPenalty);
                lower_to(&out_pair_values[a], value);
                lower_to(&out_pair_values[b], value);
            }
        }
    }
}

int32_t lc_origin_is_dummy(const uint8_t* card, uint32_t length) {
    if (card == nullptr) return 0;
    static constexpr uint16_t kBody[3] = {kTagCard, kTagCardBody, kTagMinutiae2005};
    static constexpr uint16_t kDirect[2] = {kTagCard, kTagMinutiae2011};
    tlv_element part{};
    if (!find_path(card, length, kBody, 3, &part) && !find_path(card, length, kDirect, 2, &part)) return 0;
    return part.length == BAL_DUMMY_MINUTIAE_SIZE &&
                   std::memcmp(part.value, BAL_DUMMY_MINUTIAE, BAL_DUMMY_MINUTIAE_SIZE) == 0
               ? 1
               : 0;
}

uint32_t lc_bset_index(const uint8_t* bitmap, uint32_t k) {
    for (uint32_t j = 0; j < LC_RECORD_BITMAP_SIZE * 8; ++j) {
        if ((bitmap[j / 8] >> (j % 8)) & 1u) {
            if (k == 0) return j;
            --k;
        }
    }
    return LC_RECORD_BITMAP_SIZE * 8;
}

int32_t lc_store_is_consistent(const uint8_t* store) {
    const uint32_t count = store[0];
    if (count > LC_MAX_MINUTIAE) return 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* record = lc_store_record(store, i);
        const uint8_t* bitmap = record + LC_RECORD_BITMAP_OFFSET;
        uint32_t bits = 0;
        for (uint32_t j = 0; j < LC_RECORD_BITMAP_SIZE * 8; ++j) {
            if (((bitmap[j / 8] >> (j % 8)) & 1u) == 0) continue;
            if (j >= count) return 0;  // names a minutia that is not stored
            ++bits;
        }
        if (record[0] > LC_MAX_NEIGHBOURS || record[0] != bits) return 0;
    }
    return 1;
}
