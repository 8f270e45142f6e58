// Geometry and similarity score of a grown pair list.
#include <cstdlib>
#include <cstring>

#include "match/linked_cluster/lc_math.h"
#include "match/linked_cluster/lc_matcher.h"

namespace {

constexpr uint8_t kReliableQuality = 96;  // quality bytes below this are discounted
constexpr uint32_t kLargeD2 = 65536;      // roots of larger squares are taken of d^2 / 4
constexpr uint32_t kNoSpreadFactor = 400;
constexpr uint32_t kDistortionCeiling = 65535;
constexpr uint32_t kMinDistortion = 3;
constexpr uint32_t kMaxDistortion = 64;
constexpr uint32_t kScoreCeiling = 65535;

struct angle_sums {
    int32_t cos_sum;
    int32_t sin_sum;
};

// Distance of two minutiae; the root of a square beyond 16 bits is taken of a quarter.
uint32_t distance_between(const lc_minutia& a, const lc_minutia& b) {
    const int32_t dx = int32_t(a.x) - b.x;
    const int32_t dy = int32_t(a.y) - b.y;
    const uint32_t d2 = uint32_t(dx * dx + dy * dy);
    if (d2 >= kLargeD2) return 2 * lc_sqrt16_(uint16_t(d2 / 4));
    return lc_sqrt16_(uint16_t(d2));
}

uint8_t direction_between(const lc_minutia& a, const lc_minutia& b) {
    return lc_atan2f_(int32_t(a.x) - b.x, int32_t(a.y) - b.y);
}

// Root of a mean square error; a mean beyond 16 bits (lengths differing by
// more than 255) is held at 65535 rather than wrapped to a small value.
uint32_t root_saturated(uint32_t mean_square) {
    return lc_sqrt16_(uint16_t(mean_square > 65535 ? 65535 : mean_square));
}

// Rotation of the pairs: the angle of the summed sine and cosine of
// (reference angle - probe angle), the sums scaled to at most 255.
uint8_t pair_rotation(const lc_minutia* probe, const lc_minutia* reference, const lc_scoring_phase& pairs) {
    int32_t c = 0;
    int32_t s = 0;
    for (uint32_t t = 0; t < pairs.pair_count; ++t) {
        const uint8_t d = uint8_t(reference[pairs.pair_reference[t]].angle - probe[pairs.pair_probe[t]].angle);
        c += lc_cos_(d);
        s += lc_sin_(d);
    }
    lc_scale_to_byte_range(&c, &s);
    return lc_atan2f_(s, c);
}

// Distortion D of the pairing, 3..64.
uint32_t distortion(const lc_minutia* probe, const lc_minutia* reference, const lc_scoring_phase& pairs,
                    uint8_t rotation) {
    const uint32_t m = pairs.pair_count;
    uint32_t spread_sum = 0;
    for (uint32_t t = 0; t < m; ++t) {
        const uint32_t e = lc_angle_difference(uint8_t(probe[pairs.pair_probe[t]].angle + rotation),
                                               reference[pairs.pair_reference[t]].angle);
        spread_sum += e * e;
    }
    const uint32_t spread = lc_sqrt16_(uint16_t(spread_sum / m)) + 1;

    uint32_t length_errors = 0;
    uint32_t direction_errors = 0;
    uint32_t pairs_of_pairs = 0;
    for (uint32_t a = 0; a < m; ++a) {
        const lc_minutia& pa = probe[pairs.pair_probe[a]];
        const lc_minutia& ra = reference[pairs.pair_reference[a]];
        for (uint32_t b = a + 1; b < m; ++b) {
            const lc_minutia& pb = probe[pairs.pair_probe[b]];
            const lc_minutia& rb = reference[pairs.pair_reference[b]];
            const int32_t e1 = int32_t(distance_between(pa, pb)) - int32_t(distance_between(ra, rb));
            const uint32_t e2 = lc_angle_difference(uint8_t(direction_between(pa, pb) + rotation),
                                                    direction_between(ra, rb));
            length_errors += uint32_t(e1 * e1);
            direction_errors += e2 * e2;
            ++pairs_of_pairs;
        }
    }
    uint32_t v = kNoSpreadFactor * spread;
    if (pairs_of_pairs > 0) {
        v = (root_saturated(direction_errors / pairs_of_pairs) + 1) *
            (root_saturated(length_errors / pairs_of_pairs) + 1) * spread;
    }
    // Saturated: a wrapped value would pass a gross distortion as a small one.
    if (v > kDistortionCeiling) v = kDistortionCeiling;
    uint32_t d = lc_sqrt16_(uint16_t(v));
    if (d < kMinDistortion) d = kMinDistortion;
    if (d > kMaxDistortion) d = kMaxDistortion;
    return d;
}

uint32_t absolute_difference(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

void fill_statistics(uint16_t* statistics, uint32_t links, uint32_t m, const lc_side_geometry& probe,
                     const lc_side_geometry& reference, uint32_t probe_count, uint32_t reference_count) {
    const uint32_t d_discounted = absolute_difference(probe.discounted, reference.discounted);
    const uint32_t d_inside = absolute_difference(probe.inside, reference.inside);
    const uint32_t d_count = absolute_difference(probe_count, reference_count);
    const uint32_t all = probe_count + reference_count + 1;
    statistics[LC_STAT_STATE] = LC_STATISTICS_FILLED;
    statistics[LC_STAT_LINKS_ROOT] = uint16_t(lc_sqrt_32(256 * links));
    statistics[LC_STAT_PAIRS] = uint16_t(m);
    statistics[LC_STAT_COUNT_SPREAD] = uint16_t(lc_sqrt_32(d_discounted * d_inside * d_count));
    statistics[LC_STAT_COUNT_BY_DISCOUNTED] =
        uint16_t(lc_sqrt_32(65536 * d_count / (uint32_t(probe.discounted) + reference.discounted + 1)));
    statistics[LC_STAT_COUNT_BY_INSIDE] =
        uint16_t(lc_sqrt_32(65536 * d_count / (uint32_t(probe.inside) + reference.inside + 1)));
    statistics[LC_STAT_COUNT_BY_COUNT] = uint16_t(lc_sqrt_32(65536 * d_count / all));
    statistics[LC_STAT_DISCOUNTED_BY_COUNT] = uint16_t(lc_sqrt_32(65536 * d_discounted / all));
    statistics[LC_STAT_INSIDE_BY_COUNT] = uint16_t(lc_sqrt_32(65536 * d_inside / all));
}

}  // namespace

lc_side_geometry lc_compute_geometrics(const lc_minutia* minutiae, uint32_t count, const uint8_t* paired,
                                       uint32_t m, uint8_t* scratch) {
    uint8_t* is_paired = scratch;
    lc_minutia* collected = reinterpret_cast<lc_minutia*>(scratch + LC_MAX_MINUTIAE);
    uint8_t* pair_values = scratch + LC_MAX_MINUTIAE * (1 + sizeof(lc_minutia));
    std::memset(is_paired, 0, LC_MAX_MINUTIAE);

    lc_side_geometry g{};
    uint8_t x0 = 255, x1 = 0, y0 = 255, y1 = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (minutiae[i].x < x0) x0 = minutiae[i].x;
        if (minutiae[i].x > x1) x1 = minutiae[i].x;
        if (minutiae[i].y < y0) y0 = minutiae[i].y;
        if (minutiae[i].y > y1) y1 = minutiae[i].y;
    }
    g.width = count != 0 ? uint8_t(x1 - x0) : 0;
    g.height = count != 0 ? uint8_t(y1 - y0) : 0;

    uint8_t bx0 = 255, bx1 = 0, by0 = 255, by1 = 0;
    for (uint32_t t = 0; t < m; ++t) {
        const lc_minutia& p = minutiae[paired[t]];
        is_paired[paired[t]] = 1;
        if (p.x < bx0) bx0 = p.x;
        if (p.x > bx1) bx1 = p.x;
        if (p.y < by0) by0 = p.y;
        if (p.y > by1) by1 = p.y;
    }

    uint32_t collected_count = 0;
    uint32_t inside = 0;
    uint32_t discounted = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const lc_minutia& p = minutiae[i];
        if (p.x >= bx0 && p.x <= bx1 && p.y >= by0 && p.y <= by1) {
            ++inside;
            if (is_paired[i] == 0) collected[collected_count++] = p;
        } else if (p.quality < kReliableQuality) {
            ++discounted;
        }
    }
    // Unpaired minutiae inside that are crowded or of low quality do not count as inside.
    lc_find_minutiae_pairs(collected, collected_count, pair_values);
    for (uint32_t t = 0; t < collected_count; ++t) {
        if (pair_values[t] != LC_NONE || collected[t].quality < kReliableQuality) {
            --inside;
            ++discounted;
        }
    }
    g.inside = uint8_t(inside);
    g.discounted = uint8_t(discounted);
    return g;
}

uint16_t lc_score_pairs(lc_work_area* work, uint16_t* statistics) {
    lc_scoring_phase& scoring = work->phase.scoring;
    const lc_minutia* probe = work->probe;
    const lc_minutia* reference = lc_store_minutiae(work->store);
    const uint32_t probe_count = work->probe_count;
    const uint32_t reference_count = work->store[0];
    const uint32_t m = scoring.pair_count;
    // The satellite list is no longer needed: it serves as scratch.
    uint8_t* scratch = reinterpret_cast<uint8_t*>(work->phase.cluster.satellites);

    const lc_side_geometry gp = lc_compute_geometrics(probe, probe_count, scoring.pair_probe, m, scratch);
    const lc_side_geometry gr = lc_compute_geometrics(reference, reference_count, scoring.pair_reference, m, scratch);
    scoring.probe_width = gp.width;
    scoring.probe_height = gp.height;
    scoring.probe_inside = gp.inside;
    scoring.reference_width = gr.width;
    scoring.reference_height = gr.height;
    scoring.reference_inside = gr.inside;

    const uint8_t rotation = pair_rotation(probe, reference, scoring);
    const uint32_t d = distortion(probe, reference, scoring, rotation);
    scoring.distortion = uint16_t(d);
    const uint32_t area = (uint32_t(gr.width) * gr.height + uint32_t(gp.width) * gp.height) / 2;
    const uint32_t g = lc_sqrt16_(uint16_t(256 * lc_sqrt16_(uint16_t(area))));
    const uint32_t reliable = (reference_count - gr.discounted) + (probe_count - gp.discounted);
    const uint32_t inside = uint32_t(gp.inside) + gr.inside;
    if (reliable == 0 || inside == 0) return 0;

    const uint32_t numerator = 64u * scoring.links * m * g;
    const uint32_t denominator = (reliable * inside * lc_sqrt16_(uint16_t(256 * d))) / 4;
    uint32_t score = numerator / denominator;
    if (score > kScoreCeiling) score = kScoreCeiling;
    if (statistics != nullptr) fill_statistics(statistics, scoring.links, m, gp, gr, probe_count, reference_count);
    return uint16_t(score);
}
